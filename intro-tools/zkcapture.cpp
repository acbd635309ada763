/*
 * zkcapture: renders the intro off-screen at its real size (1200 x 600) with
 * the real scene code and writes PNG files: single frames at chosen seconds,
 * a frame sequence at a fixed rate, or a labelled contact sheet of one frame
 * per second; or an H.264 video of the whole intro, its frames piped raw into
 * ffmpeg, with the soundtrack as AAC; or the soundtrack alone as a WAV file. The scene keeps its
 * state between calls and releases itself at 14 s, so all requested times are rendered in
 * increasing order, and every time lies in 0 <= t < 14 s: the frames the intro shows. Depends on:
 * SDL 1.2 (GL context), GL (EXT framebuffer objects), pngout (libpng), the intro scene and its
 * song, the engine's synthesizer; ffmpeg (a program on the PATH) for the video.
 */
#include "ZKintro.h"
#include "ZKsong.h"
#include "pngout.h"

#include <SDL/SDL.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
const int kVideoFps = 60;    // frames per second of --video without --fps
const int kVideoCrf = 18;    // x264's constant rate factor: 0 lossless .. 51 worst
const int kMaxCrf = 51;
const char kVideoName[] = "/zkintro.mp4";
const char kWavName[] = "/zkintro.wav";
const char kAudioBitRate[] = "192k"; // the video's AAC soundtrack

// An RGB picture, row 0 at the top.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  unsigned char *at(int x, int y) { return &rgb[((size_t)y * width + x) * 3]; }
};

// One frame to render: at `seconds`, written to `path`, or (path empty) put on
// the contact sheet in slot `sheet_slot` (>= 0) or sent to the video (-2).
struct Job {
  double seconds;
  std::string path;
  int sheet_slot;
};
const int kVideoSlot = -2;

// Replaces path whole with the picture at zlib `level`: after a failure it is as it was.
bool writePng(const std::string &path, const Image &image, int level) {
  return pngoutWrite("zkcapture", path.c_str(), image.rgb.data(), image.width, image.height,
                     level) == 0;
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

// ---- the soundtrack: the intro's song, the very samples the intro plays ----

// The soundtrack as a 16-bit stereo WAV file at `path`, replaced whole; false after one line
// saying why.
bool writeSoundtrack(const std::string &path) {
  int64_t frames = 0;
  int16_t *samples = kroRenderSong(&zk_song, 0, &frames);
  bool written = samples && kroWriteWAV(path.c_str(), samples, frames) == 0;
  if (!written)
    fprintf(stderr, "zkcapture: cannot write %s: %s\n", path.c_str(),
            samples ? strerror(errno) : "the song cannot be rendered");
  free(samples);
  return written;
}

// ---- the video: raw frames piped into ffmpeg ----

// The video appears whole: ffmpeg writes the engine's new file beside `path`
// (by its name; the open stream stays empty), which takes the place of `path`
// only once the encoding has succeeded; otherwise it is removed and `path`
// stays as it was.
struct Replacement {
  std::string path;
  kroOutFile out;
};

// ffmpeg and the file it writes, for the signal handler: a signal ends ffmpeg
// and removes every unfinished file, so the old video stays.
volatile pid_t encoderPid = -1;
char encoderScratch[KRO_OUT_PATH_CHARS];    // ffmpeg's own file when the destination
                                            // is written in place or directly, or ""
char soundtrackScratch[KRO_OUT_PATH_CHARS]; // the soundtrack ffmpeg reads, in a folder
                                            // of its own, or ""

void stopOnSignal(int number) {
  int saved = errno;
  if (encoderPid > 0) {
    kill(encoderPid, SIGKILL);
    while (waitpid(encoderPid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (encoderScratch[0])
    unlink(encoderScratch);
  if (soundtrackScratch[0]) {
    unlink(soundtrackScratch);
    *strrchr(soundtrackScratch, '/') = '\0';
    rmdir(soundtrackScratch);
  }
  kroRemoveOutFilesNow();
  errno = saved;
  signal(number, SIG_DFL);
  raise(number); // the exit status says which signal ended the capture
}

// Installed after SDL_Init, whose own handlers would only post a quit event
// that nothing here reads.
void stopOnSignals() {
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action, before;
    memset(&action, 0, sizeof action);
    action.sa_handler = stopOnSignal;
    sigfillset(&action.sa_mask);
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      sigaction(number, &action, nullptr);
  }
}

bool beginReplacement(const std::string &path, Replacement *replacement) {
  replacement->path = path;
  if (kroBeginOutFile(&replacement->out, path.c_str()) == 0)
    return true;
  fprintf(stderr, "zkcapture: cannot write %s: %s\n", path.c_str(),
          strerror(replacement->out.error));
  return false;
}

bool endReplacement(Replacement &replacement, bool keep) {
  // ffmpeg's own file goes into a destination written in place or directly.
  if (keep && encoderScratch[0]) {
    FILE *scratch = fopen(encoderScratch, "rb");
    char buffer[65536];
    for (size_t got; scratch && (got = fread(buffer, 1, sizeof buffer, scratch)) > 0;)
      fwrite(buffer, 1, got, replacement.out.file);
    keep = scratch && !ferror(scratch);
    if (scratch)
      fclose(scratch);
    if (!keep)
      fprintf(stderr, "zkcapture: cannot read back %s: %s\n", encoderScratch, strerror(errno));
  }
  if (encoderScratch[0])
    unlink(encoderScratch);
  encoderScratch[0] = '\0';
  if (!keep) {
    kroAbortOutFile(&replacement.out);
    return false;
  }
  if (kroCommitOutFile(&replacement.out) == 0)
    return true;
  fprintf(stderr, "zkcapture: cannot write %s: %s\n", replacement.path.c_str(),
          strerror(replacement.out.error));
  return false;
}

// A running ffmpeg that reads kWidth x kHeight RGB frames, top row first, on
// its standard input and encodes them as H.264 (yuv420p) in an MP4 file, with
// the soundtrack from a WAV file in a private temporary folder as AAC.
struct VideoEncoder {
  std::string soundtrack_folder; // removed with its file when the video ends
  pid_t pid = -1;
  int input = -1;           // the write end of ffmpeg's standard input
  FILE *messages = nullptr; // ffmpeg's standard error, read back when it fails
  Replacement file;
  int sent = 0, total = 0; // frames
  int shown_percent = -1;  // of the progress line, -1 before the first
  bool broken = false;     // a frame could not be sent: ffmpeg has ended
};

// Removes the soundtrack's temporary folder, if made.
void removeSoundtrack(VideoEncoder *video) {
  if (video->soundtrack_folder.empty())
    return;
  soundtrackScratch[0] = '\0';
  unlink((video->soundtrack_folder + kWavName).c_str());
  rmdir(video->soundtrack_folder.c_str());
  video->soundtrack_folder.clear();
}

bool startVideo(const std::string &path, int fps, int crf, int total, VideoEncoder *video) {
  const char *tmp = getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/zkcapture.XXXXXX";
  if (!mkdtemp(&folder[0])) {
    fprintf(stderr, "zkcapture: cannot make a folder for the soundtrack: %s\n", strerror(errno));
    return false;
  }
  video->soundtrack_folder = folder;
  std::string soundtrack = folder + kWavName;
  snprintf(soundtrackScratch, sizeof soundtrackScratch, "%s", soundtrack.c_str());
  if (!writeSoundtrack(soundtrack) || !beginReplacement(path, &video->file)) {
    removeSoundtrack(video);
    return false;
  }
  // ffmpeg writes the new file by its name; where there is none (a link to a
  // device, a file with several names) it writes a file of its own that is
  // copied into the destination at the end. "file:" keeps any name a name.
  std::string written = video->file.out.temporary;
  if (written.empty()) {
    snprintf(encoderScratch, sizeof encoderScratch, "%s/zkcapture.XXXXXX",
             tmp && *tmp ? tmp : "/tmp");
    int fd = mkstemp(encoderScratch);
    if (fd < 0) {
      fprintf(stderr, "zkcapture: cannot make a file for ffmpeg: %s\n", strerror(errno));
      encoderScratch[0] = '\0';
      removeSoundtrack(video);
      return endReplacement(video->file, false);
    }
    close(fd);
    written = encoderScratch;
  }
  written = "file:" + written;
  soundtrack = "file:" + soundtrack;
  std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  std::string rate = std::to_string(fps), quality = std::to_string(crf);
  // Quiet; raw frames on standard input; H.264 in yuv420p; the MP4 file.
  // clang-format off
  const char *argv[] = {
      "ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error", "-y",
      "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size.c_str(), "-r", rate.c_str(), "-i", "-",
      "-i", soundtrack.c_str(), "-map", "0:v", "-map", "1:a",
      "-c:v", "libx264", "-crf", quality.c_str(), "-pix_fmt", "yuv420p",
      "-c:a", "aac", "-b:a", kAudioBitRate,
      "-movflags", "+faststart", "-f", "mp4", written.c_str(), nullptr};
  // clang-format on
  int pipe_ends[2];
  video->messages = tmpfile();
  if (!video->messages || pipe2(pipe_ends, O_CLOEXEC) != 0) {
    fprintf(stderr, "zkcapture: cannot start ffmpeg: %s\n", strerror(errno));
    if (video->messages)
      fclose(video->messages);
    removeSoundtrack(video);
    return endReplacement(video->file, false);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(video->messages), 2);
  // Signals held until the handler knows ffmpeg's number.
  sigset_t held, before;
  sigemptyset(&held);
  for (int number : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&held, number);
  sigprocmask(SIG_BLOCK, &held, &before);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &before);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  int error =
      posix_spawnp(&video->pid, "ffmpeg", &actions, &attributes, (char *const *)argv, environ);
  encoderPid = error ? -1 : video->pid;
  sigprocmask(SIG_SETMASK, &before, nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[0]);
  if (error) {
    close(pipe_ends[1]);
    fclose(video->messages);
    fprintf(stderr, "zkcapture: cannot run ffmpeg: %s (tools/setup-deps.sh video installs it)\n",
            strerror(error));
    removeSoundtrack(video);
    return endReplacement(video->file, false);
  }
  signal(SIGPIPE, SIG_IGN); // a write to an ended ffmpeg fails with EPIPE instead
  video->input = pipe_ends[1];
  video->total = total;
  return true;
}

// One frame into ffmpeg, and the progress line on standard error brought up
// to date (carriage return, at each whole percent).
void sendFrame(VideoEncoder *video, const Image &frame) {
  const unsigned char *bytes = frame.rgb.data();
  for (size_t left = frame.rgb.size(); left && !video->broken;) {
    ssize_t written = write(video->input, bytes, left);
    if (written < 0 && errno == EINTR)
      continue;
    video->broken = written <= 0;
    bytes += written > 0 ? written : 0;
    left -= written > 0 ? (size_t)written : 0;
  }
  if (video->broken)
    return;
  int percent = (int)(100L * ++video->sent / video->total);
  if (percent != video->shown_percent)
    fprintf(stderr, "\rzkcapture: encoding %s: frame %d of %d (%d%%)", video->file.path.c_str(),
            video->sent, video->total, percent);
  video->shown_percent = percent;
}

// The last line ffmpeg wrote to its standard error, or "".
std::string lastMessage(FILE *messages) {
  std::string line, last;
  rewind(messages);
  for (int c; (c = fgetc(messages)) != EOF;) {
    if (c != '\n')
      line += (char)c;
    else if (!line.empty())
      last = line, line.clear();
  }
  return line.empty() ? last : line;
}

// Ends ffmpeg's input and waits for it; the video takes its place only when
// every frame went in and ffmpeg succeeded.
bool finishVideo(VideoEncoder *video) {
  if (video->shown_percent >= 0)
    fputc('\n', stderr);
  close(video->input);
  int status = 0;
  while (waitpid(video->pid, &status, 0) < 0 && errno == EINTR) {
  }
  encoderPid = -1;
  bool encoded = !video->broken && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  removeSoundtrack(video);
  if (!encoded) {
    // Its own last word, else what is known: frames taken, or how it ended.
    std::string reason = lastMessage(video->messages);
    char known[64];
    if (video->broken)
      snprintf(known, sizeof known, "it ended after %d of %d frames", video->sent, video->total);
    else if (WIFEXITED(status))
      snprintf(known, sizeof known, "exit status %d", WEXITSTATUS(status));
    else
      snprintf(known, sizeof known, "ended by signal %d", WTERMSIG(status));
    fprintf(stderr, "zkcapture: ffmpeg failed on %s: %s\n", video->file.path.c_str(),
            reason.empty() ? known : reason.c_str());
  }
  fclose(video->messages);
  return endReplacement(video->file, encoded);
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

// A whole number from `low` to `high`.
bool parseWhole(const char *text, int low, int high, int *number) {
  char *end;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (end == text || *end || errno || value < low || value > high)
    return false;
  *number = (int)value;
  return true;
}

void usage(FILE *out) {
  fprintf(out,
          "usage: zkcapture [--at SECONDS,...] [--fps N] [--sheet] [--video [--crf N]]\n"
          "                 [--wav] [--out DIR]\n"
          "  --at    one PNG per listed time, each from 0 up to (not including) 14:\n"
          "          DIR/zkintro-at-SS.SSS.png\n"
          "  --fps   every frame before 14 s at N (1 to %d) per second, from t = 0:\n"
          "          DIR/frames/zkintro-NNNN.png; with --video, the video's rate instead\n"
          "  --sheet one frame per second, 0 to 13 s, labelled: DIR/zkintro-sheet.png\n"
          "  --video the whole intro as an H.264 video (yuv420p) at %d frames per second\n"
          "          (or --fps N), encoded by ffmpeg as the frames are drawn, with the\n"
          "          soundtrack as AAC (%s): DIR/zkintro.mp4\n"
          "  --crf   the video's quality, 0 (lossless) to %d (worst); default %d\n"
          "  --wav   the soundtrack, 14 s of 16-bit stereo at %d Hz: DIR/zkintro.wav\n"
          "  --out   where to write (default out)\n"
          "  --help  show this help\n"
          "Each picture and the video replace their file only once complete: a failed\n"
          "write, or a stop by SIGINT, SIGTERM or SIGHUP, leaves the file as it was.\n"
          "Pictures and the video need an X display with OpenGL (tools/with-display\n"
          "gives one), and --video the ffmpeg program (tools/setup-deps.sh video\n"
          "installs it).\n",
          kMaxFps, kVideoFps, kAudioBitRate, kMaxCrf, kVideoCrf, KRO_SYNTH_RATE);
}

// A usage error: what was wrong, then the usage, on standard error.
int refuse(const std::string &reason) {
  fprintf(stderr, "zkcapture: %s\n", reason.c_str());
  usage(stderr);
  return 2;
}

// What the command line asks for.
struct Options {
  std::vector<double> at; // seconds, as listed
  int fps = 0;            // 0: no frame sequence and no video
  int crf = -1;           // -1: not given
  bool sheet = false, video = false, wav = false;
  std::string out = "out";
};

const int kGoOn = -1; // parseOptions: nothing to exit for

// The command line into `o`, settled (--video's rate filled in); kGoOn, or the status to exit
// with: 0 after --help, that of refuse after a usage error.
int parseOptions(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--sheet") {
      o->sheet = true;
      continue;
    }
    if (arg == "--video") {
      o->video = true;
      continue;
    }
    if (arg == "--wav") {
      o->wav = true;
      continue;
    }
    if (arg != "--at" && arg != "--fps" && arg != "--crf" && arg != "--out")
      return refuse("unknown option '" + arg + "'");
    if (i + 1 == argc)
      return refuse(arg + " needs a value");
    const char *value = argv[++i];
    if (arg == "--at" && !parseTimes(value, &o->at))
      return refuse("--at '" + std::string(value) +
                    "': expected seconds from 0 up to (not including) 14, separated by commas");
    if (arg == "--fps" && !parseWhole(value, 1, kMaxFps, &o->fps))
      return refuse("--fps '" + std::string(value) + "': expected a whole number from 1 to " +
                    std::to_string(kMaxFps));
    if (arg == "--crf" && !parseWhole(value, 0, kMaxCrf, &o->crf))
      return refuse("--crf '" + std::string(value) + "': expected a whole number from 0 to " +
                    std::to_string(kMaxCrf));
    if (arg == "--out" && !*value)
      return refuse("--out needs a folder name");
    if (arg == "--out")
      o->out = value;
  }
  if (o->crf >= 0 && !o->video)
    return refuse("--crf is the video's quality: give --video as well");
  if (o->at.empty() && !o->fps && !o->sheet && !o->video && !o->wav)
    return refuse("nothing to capture: give --at, --fps, --sheet, --video or --wav");
  if (o->video && !o->fps)
    o->fps = kVideoFps;
  return kGoOn;
}

// Frames k / fps for every k with k / fps < 14 s.
int sequenceFrames(int fps) {
  return (int)(kRunningSeconds * fps);
}

// Every frame to render, in increasing time (equal times keep the order: --at, sequence, sheet).
std::vector<Job> planJobs(const Options &o) {
  std::vector<Job> jobs;
  char name[64];
  for (double t : o.at) {
    snprintf(name, sizeof name, "/zkintro-at-%06.3f.png", t);
    jobs.push_back({t, o.out + name, -1});
  }
  for (int k = 0; k < sequenceFrames(o.fps); k++) {
    snprintf(name, sizeof name, "/frames/zkintro-%04d.png", k);
    jobs.push_back({(double)k / o.fps, o.video ? "" : o.out + name, o.video ? kVideoSlot : -1});
  }
  if (o.sheet)
    for (int k = 0; k < kSheetFrames; k++)
      jobs.push_back({(double)k, "", k});
  std::stable_sort(jobs.begin(), jobs.end(),
                   [](const Job &a, const Job &b) { return a.seconds < b.seconds; });
  return jobs;
}

// The folders the pictures go to, and the video's encoder when one is asked for.
bool openOutputs(const Options &o, VideoEncoder *encoder) {
  return makeDirectories(o.out) && (!o.fps || o.video || makeDirectories(o.out + "/frames")) &&
         (!o.video || startVideo(o.out + kVideoName, o.fps, o.crf >= 0 ? o.crf : kVideoCrf,
                                 sequenceFrames(o.fps), encoder));
}

// The contact sheet's background, its thumbnails still to come.
Image emptySheet() {
  Image sheet;
  sheet.width = kGap + kSheetColumns * (kThumbWidth + kGap);
  int rows = (kSheetFrames + kSheetColumns - 1) / kSheetColumns;
  sheet.height = kGap + rows * (kLabelHeight + kThumbHeight + kGap);
  sheet.rgb.assign((size_t)sheet.width * sheet.height * 3, 40);
  return sheet;
}

// Every job drawn and put where it goes; false when a picture could not be written.
bool renderJobs(const std::vector<Job> &jobs, VideoEncoder *encoder, Image *sheet) {
  bool written = true;
  Image frame;
  for (const Job &job : jobs) {
    if (job.sheet_slot == kVideoSlot && encoder->broken)
      continue; // ffmpeg has ended; finishVideo reports why
    renderFrame(job.seconds, &frame);
    if (job.sheet_slot >= 0)
      putOnSheet(sheet, job.sheet_slot, job.seconds, frame);
    else if (job.sheet_slot == kVideoSlot)
      sendFrame(encoder, frame);
    else if (!writePng(job.path, frame, job.path.find("/frames/") != std::string::npos ? 3 : 6))
      written = false;
  }
  return written;
}

// One line for each kind of output made, after a run without failures.
void report(const Options &o) {
  if (!o.at.empty())
    printf("zkcapture: %zu frame(s) in %s/zkintro-at-*.png\n", o.at.size(), o.out.c_str());
  if (o.fps && !o.video)
    printf("zkcapture: %d frames in %s/frames/ (%d per second)\n", sequenceFrames(o.fps),
           o.out.c_str(), o.fps);
  if (o.video)
    printf("zkcapture: %d frames at %d per second in %s%s\n", sequenceFrames(o.fps), o.fps,
           o.out.c_str(), kVideoName);
  if (o.sheet)
    printf("zkcapture: contact sheet in %s/zkintro-sheet.png\n", o.out.c_str());
  if (o.wav)
    printf("zkcapture: soundtrack in %s%s\n", o.out.c_str(), kWavName);
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  int exit_status = parseOptions(argc, argv, &o);
  if (exit_status != kGoOn)
    return exit_status;
  std::vector<Job> jobs = planJobs(o);

  int status = 0;
  if (o.wav && (!makeDirectories(o.out) || !writeSoundtrack(o.out + kWavName)))
    status = 1;
  if (jobs.empty() && !o.video) { // the soundtrack alone needs no GL
    if (status == 0)
      report(o);
    return status;
  }
  if (!openOffscreen()) {
    SDL_Quit();
    return 1;
  }
  stopOnSignals();
  VideoEncoder encoder;
  if (!openOutputs(o, &encoder)) {
    SDL_Quit();
    return 1;
  }
  Image sheet = emptySheet();
  if (!renderJobs(jobs, &encoder, &sheet))
    status = 1;
  if (o.sheet && !writePng(o.out + "/zkintro-sheet.png", sheet, 9))
    status = 1;
  if (o.video && !finishVideo(&encoder))
    status = 1;
  zkIntro(kAspect, (float)kRunningSeconds); // releases the scene
  SDL_Quit();
  if (status == 0)
    report(o);
  return status;
}
