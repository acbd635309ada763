/*
 * zkcapture: renders the intro off-screen at its real size (1200 x 600) with
 * the real scene code and writes PNG files: single frames at chosen seconds,
 * a frame sequence at a fixed rate, or a labelled contact sheet of one frame
 * per second. The scene keeps its state between calls and releases itself at
 * 14 s, so all requested times are rendered in increasing order, and every
 * time lies in 0 <= t < 14 s: the frames the intro shows.
 * Depends on: SDL 1.2 (GL context), GL (EXT framebuffer objects), libpng,
 * the intro scene.
 */
#include "ZKintro.h"

#include <SDL/SDL.h>
#include <errno.h>
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int kWidth = 1200, kHeight = 600; // pixels, the intro's own mode
const float kAspect = 2.0f;             // what the shell passes
const double kRunningSeconds = 14.0;    // the intro's length; from here on nothing is drawn
const int kMaxFps = 240;                // frames per second, upper limit
const int kSheetFrames = 14;            // one per second, 0 to 13
const int kSheetColumns = 4;
const int kThumbScale = 4; // 1200 x 600 -> 300 x 150
const int kThumbWidth = kWidth / kThumbScale, kThumbHeight = kHeight / kThumbScale;
const int kGap = 6;          // pixels between and around thumbnails
const int kLabelHeight = 22; // pixels above each thumbnail
const int kGlyphScale = 2;   // label font: 5 x 7 cells, doubled

// An RGB picture, row 0 at the top.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  unsigned char *at(int x, int y) { return &rgb[((size_t)y * width + x) * 3]; }
};

// One frame to render: at `seconds`, written to `path`, or (path empty) put on
// the contact sheet in slot `sheet_slot`.
struct Job {
  double seconds;
  std::string path;
  int sheet_slot;
};

const int kPngWhyChars = 160; // longest libpng message kept

// libpng's failures end here instead of in its own printing: the message is
// kept for the one line the caller prints, then libpng unwinds.
void pngError(png_structp png, png_const_charp message) {
  snprintf((char *)png_get_error_ptr(png), kPngWhyChars, "%s", message);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// The picture into an open stream; false with libpng's reason in `why`.
bool encodePng(FILE *file, Image &image, int compression, char *why) {
  snprintf(why, kPngWhyChars, "out of memory");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, pngError, pngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, compression);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < image.height; y++)
    png_write_row(png, image.at(0, y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Replaces path whole with the picture: after a failure it is as it was.
bool writePng(const std::string &path, Image &image, int compression) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path.c_str()) != 0) {
    fprintf(stderr, "zkcapture: cannot write %s: %s\n", path.c_str(), strerror(out.error));
    return false;
  }
  char why[kPngWhyChars];
  if (!encodePng(out.file, image, compression, why)) {
    kroAbortOutFile(&out); // a failed write stops libpng: abort gives its reason
    if (out.error)
      fprintf(stderr, "zkcapture: cannot write %s: %s\n", path.c_str(), strerror(out.error));
    else
      fprintf(stderr, "zkcapture: cannot encode %s: %s\n", path.c_str(), why);
    return false;
  }
  if (kroCommitOutFile(&out) != 0) {
    fprintf(stderr, "zkcapture: cannot write %s: %s\n", path.c_str(), strerror(out.error));
    return false;
  }
  return true;
}

// A GL context from a small window, and a 1200 x 600 framebuffer object with a
// depth buffer to draw the intro into, whatever the window or the screen.
bool openOffscreen() {
  // SDL 1.2 would otherwise fall back to drivers without OpenGL (one of them
  // draws on the text terminal); a user's choice in the environment stays.
  setenv("SDL_VIDEODRIVER", "x11", 0);
  if (SDL_Init(SDL_INIT_VIDEO) != 0 || !SDL_SetVideoMode(64, 64, 32, SDL_OPENGL)) {
    fprintf(stderr, "zkcapture: no OpenGL context: %s\n", SDL_GetError());
    return false;
  }
  SDL_WM_SetCaption("zkcapture", nullptr);
  GLuint framebuffer, colour, depth;
  glGenFramebuffersEXT(1, &framebuffer);
  glGenRenderbuffersEXT(1, &colour);
  glGenRenderbuffersEXT(1, &depth);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, colour);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGBA8, kWidth, kHeight);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                               colour);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depth);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, kWidth, kHeight);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                               depth);
  if (glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
    fprintf(stderr, "zkcapture: the off-screen framebuffer is not complete\n");
    return false;
  }
  glViewport(0, 0, kWidth, kHeight);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  return true;
}

// One frame as the shell draws it, read back top row first.
void renderFrame(double seconds, Image *image) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  zkIntro(kAspect, (float)seconds);
  glFinish();
  image->width = kWidth;
  image->height = kHeight;
  image->rgb.resize((size_t)kWidth * kHeight * 3);
  std::vector<unsigned char> rows((size_t)kWidth * kHeight * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  for (int y = 0; y < kHeight; y++)
    memcpy(image->at(0, y), &rows[(size_t)(kHeight - 1 - y) * kWidth * 3], (size_t)kWidth * 3);
}

// 5 x 7 cells for the label characters; bit 4 is the leftmost column.
struct LabelGlyph {
  char c;
  unsigned char rows[7];
};
const LabelGlyph kLabelFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}},
};

void drawLabel(Image *image, int x, int y, const char *text) {
  for (; *text; text++, x += 6 * kGlyphScale) {
    const LabelGlyph *glyph = nullptr;
    for (const LabelGlyph &g : kLabelFont)
      if (g.c == *text)
        glyph = &g;
    if (!glyph)
      continue; // a space
    for (int row = 0; row < 7 * kGlyphScale; row++)
      for (int column = 0; column < 5 * kGlyphScale; column++)
        if (glyph->rows[row / kGlyphScale] & (0x10 >> (column / kGlyphScale))) {
          unsigned char *p = image->at(x + column, y + row);
          p[0] = p[1] = p[2] = 235;
        }
  }
}

// Sheet slot `slot`: a label and the frame shrunk by averaging 4 x 4 blocks.
void putOnSheet(Image *sheet, int slot, double seconds, Image &frame) {
  int x0 = kGap + (slot % kSheetColumns) * (kThumbWidth + kGap);
  int y0 = kGap + (slot / kSheetColumns) * (kLabelHeight + kThumbHeight + kGap);
  char label[32];
  snprintf(label, sizeof label, "t = %d s", (int)lround(seconds));
  drawLabel(sheet, x0 + 2, y0 + (kLabelHeight - 7 * kGlyphScale) / 2, label);
  for (int y = 0; y < kThumbHeight; y++)
    for (int x = 0; x < kThumbWidth; x++)
      for (int c = 0; c < 3; c++) {
        int sum = 0;
        for (int dy = 0; dy < kThumbScale; dy++)
          for (int dx = 0; dx < kThumbScale; dx++)
            sum += frame.at(x * kThumbScale + dx, y * kThumbScale + dy)[c];
        sheet->at(x0 + x, y0 + kLabelHeight + y)[c] =
            (unsigned char)(sum / (kThumbScale * kThumbScale));
      }
}

bool makeDirectories(const std::string &path) {
  for (size_t end = 1; end <= path.size(); end++) {
    if (end != path.size() && path[end] != '/')
      continue;
    std::string part = path.substr(0, end);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      fprintf(stderr, "zkcapture: cannot make %s: %s\n", part.c_str(), strerror(errno));
      return false;
    }
  }
  return true;
}

// "0.5,6,11.5" -> seconds; false on anything that is not a list of numbers
// in 0 <= t < 14.
bool parseTimes(const char *text, std::vector<double> *times) {
  const char *p = text;
  for (;;) {
    char *end;
    errno = 0;
    double t = strtod(p, &end);
    if (end == p || errno || !(t >= 0.0 && t < kRunningSeconds))
      return false;
    times->push_back(t);
    if (*end == '\0')
      return true;
    if (*end != ',')
      return false;
    p = end + 1;
  }
}

bool parseFps(const char *text, int *fps) {
  char *end;
  long value = strtol(text, &end, 10);
  if (end == text || *end || value < 1 || value > kMaxFps)
    return false;
  *fps = (int)value;
  return true;
}

void usage(FILE *out) {
  fprintf(out,
          "usage: zkcapture [--at SECONDS,...] [--fps N] [--sheet] [--out DIR]\n"
          "  --at    one PNG per listed time, each from 0 up to (not including) 14:\n"
          "          DIR/zkintro-at-SS.SSS.png\n"
          "  --fps   every frame before 14 s at N (1 to %d) per second, from t = 0:\n"
          "          DIR/frames/zkintro-NNNN.png\n"
          "  --sheet one frame per second, 0 to 13 s, labelled: DIR/zkintro-sheet.png\n"
          "  --out   where to write (default out)\n"
          "  --help  show this help\n"
          "Each picture replaces its file only once it is complete: a failed write\n"
          "leaves the file as it was.\n"
          "It needs an X display with OpenGL (tools/with-display gives one).\n",
          kMaxFps);
}

// A usage error: what was wrong, then the usage, on standard error.
int refuse(const std::string &reason) {
  fprintf(stderr, "zkcapture: %s\n", reason.c_str());
  usage(stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<double> at;
  int fps = 0;
  bool sheet = false;
  std::string out = "out";
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--sheet") {
      sheet = true;
      continue;
    }
    if (arg != "--at" && arg != "--fps" && arg != "--out")
      return refuse("unknown option '" + arg + "'");
    if (i + 1 == argc)
      return refuse(arg + " needs a value");
    const char *value = argv[++i];
    if (arg == "--at" && !parseTimes(value, &at))
      return refuse("--at '" + std::string(value) +
                    "': expected seconds from 0 up to (not including) 14, separated by commas");
    if (arg == "--fps" && !parseFps(value, &fps))
      return refuse("--fps '" + std::string(value) + "': expected a whole number from 1 to " +
                    std::to_string(kMaxFps));
    if (arg == "--out" && !*value)
      return refuse("--out needs a folder name");
    if (arg == "--out")
      out = value;
  }
  if (at.empty() && !fps && !sheet)
    return refuse("nothing to capture: give --at, --fps or --sheet");

  std::vector<Job> jobs;
  char name[64];
  for (double t : at) {
    snprintf(name, sizeof name, "/zkintro-at-%06.3f.png", t);
    jobs.push_back({t, out + name, -1});
  }
  // Frames k / fps for every k with k / fps < 14 s.
  const int sequence_frames = (int)(kRunningSeconds * fps);
  if (fps) {
    for (int k = 0; k < sequence_frames; k++) {
      snprintf(name, sizeof name, "/frames/zkintro-%04d.png", k);
      jobs.push_back({(double)k / fps, out + name, -1});
    }
  }
  if (sheet)
    for (int k = 0; k < kSheetFrames; k++)
      jobs.push_back({(double)k, "", k});
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const Job &a, const Job &b) { return a.seconds < b.seconds; });

  if (!openOffscreen()) {
    SDL_Quit();
    return 1;
  }
  if (!makeDirectories(out) || (fps && !makeDirectories(out + "/frames"))) {
    SDL_Quit();
    return 1;
  }

  Image sheet_image;
  sheet_image.width = kGap + kSheetColumns * (kThumbWidth + kGap);
  int sheet_rows = (kSheetFrames + kSheetColumns - 1) / kSheetColumns;
  sheet_image.height = kGap + sheet_rows * (kLabelHeight + kThumbHeight + kGap);
  sheet_image.rgb.assign((size_t)sheet_image.width * sheet_image.height * 3, 40);

  Image frame;
  int status = 0;
  for (const Job &job : jobs) {
    renderFrame(job.seconds, &frame);
    if (job.sheet_slot >= 0)
      putOnSheet(&sheet_image, job.sheet_slot, job.seconds, frame);
    else if (!writePng(job.path, frame, job.path.find("/frames/") != std::string::npos ? 3 : 6))
      status = 1;
  }
  if (sheet && !writePng(out + "/zkintro-sheet.png", sheet_image, 9))
    status = 1;
  zkIntro(kAspect, (float)kRunningSeconds); // releases the scene
  SDL_Quit();
  if (status == 0) {
    if (!at.empty())
      printf("zkcapture: %zu frame(s) in %s/zkintro-at-*.png\n", at.size(), out.c_str());
    if (fps)
      printf("zkcapture: %d frames in %s/frames/ (%d per second)\n", sequence_frames, out.c_str(),
             fps);
    if (sheet)
      printf("zkcapture: contact sheet in %s/zkintro-sheet.png\n", out.c_str());
  }
  return status;
}
