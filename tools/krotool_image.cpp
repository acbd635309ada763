// krotool image and font subcommands: image-info, bmp-resize, font-build and font-info, thin front
// ends to the engine's readers and writers. Engine failures print their own message on standard
// output; the tool adds one line on standard error and exits with status 1. Usage errors exit
// with 2.
#include "krotool.h"

#include "kro.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

static bool krotoolWantsHelp(int argc, char **argv) {
  for (int i = 0; i < argc; i++)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h"))
      return true;
  return false;
}

static int krotoolUsage(const char *command, const char *usage, const char *error) {
  fprintf(stderr, "krotool %s: %s\nusage: krotool %s %s\n", command, error, command, usage);
  return 2;
}

// A whole decimal number in [low, high], or false.
static bool krotoolNumber(const char *text, long low, long high, long *value) {
  char *end;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (errno || end == text || *end || n < low || n > high)
    return false;
  *value = n;
  return true;
}

// ---- image-info -------------------------------------------------------------

int krotoolImageInfo(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool image-info FILE\n\n"
           "Reads a picture as the engine does (kroDecodePicture) and tells its format, its\n"
           "size and what it became: the engine's bitmap of 8-bit red, green, blue and\n"
           "alpha, bottom row first, with how many pixels are not opaque. The engine\n"
           "reads PNG of every colour type and bit depth (palettes, transparency,\n"
           "interlacing; 16-bit samples keep their high byte) and BMP with 1, 4 and 8-bit\n"
           "palettes, RLE4 and RLE8, 16-bit, 24-bit and 32-bit pixels (bit fields,\n"
           "alpha), top-down rows and the older 12-byte header. A file it refuses gets\n"
           "the reason and status 1.\n");
    return 0;
  }
  if (argc != 1)
    return krotoolUsage("image-info", "FILE", "expected one file");
  const char *path = argv[0];
  if (const char *problem = krotoolUnreadableFile(path)) {
    fprintf(stderr, "krotool image-info: %s: %s\n", path, problem);
    return 1;
  }
  int32_t size[2];
  kroPictureInfo info;
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels = kroDecodePictureInfo(path, size, &info, why, sizeof why);
  if (!pixels) {
    fprintf(stderr, "krotool image-info: %s: %s%s%s\n", path, why,
            info.format[0] ? "; the file is a " : "", info.format);
    return 1;
  }
  size_t count = (size_t)size[0] * size[1], clear = 0, partly = 0;
  for (size_t i = 0; i < count; i++) {
    uint8_t alpha = pixels[i * 4 + 3];
    clear += alpha == 0;
    partly += alpha != 0 && alpha != 255;
  }
  free(pixels);
  printf("file: %s\nformat: %s\nsize: %d x %d\n", path, info.format, size[0], size[1]);
  printf("became: RGBA, 8 bits a channel, bottom row first, %zu bytes%s\n", count * 4,
         info.reduced_16_bit ? "; 16-bit samples reduced to their high byte" : "");
  if (clear + partly)
    printf("alpha: %zu pixel%s transparent, %zu partly transparent, %zu opaque\n", clear,
           clear == 1 ? "" : "s", partly, count - clear - partly);
  else
    printf("alpha: every pixel opaque\n");
  return 0;
}

// ---- bmp-resize -------------------------------------------------------------

static const char krotoolBmpResizeUsage[] = "IN OUT.bmp WIDTH HEIGHT";

int krotoolBmpResize(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool bmp-resize %s\n\n"
           "Reads a picture (any PNG or BMP the engine reads: see krotool image-info),\n"
           "resamples it to WIDTH x HEIGHT pixels with the engine's box filter and writes\n"
           "it as a 24-bit BMP, each row padded to a multiple of 4 bytes, as other programs\n"
           "read it; alpha is dropped. OUT is replaced whole: after a failure it is as it\n"
           "was.\n",
           krotoolBmpResizeUsage);
    return 0;
  }
  if (argc != 4)
    return krotoolUsage("bmp-resize", krotoolBmpResizeUsage, "expected four arguments");
  long width, height;
  if (!krotoolNumber(argv[2], 1, KRO_BMP_MAX_PIXELS, &width) ||
      !krotoolNumber(argv[3], 1, KRO_BMP_MAX_PIXELS, &height) ||
      width * height > KRO_BMP_MAX_PIXELS)
    return krotoolUsage("bmp-resize", krotoolBmpResizeUsage,
                        "WIDTH and HEIGHT must be positive whole numbers of sane size");

  const char *in_path = argv[0], *out_path = argv[1];
  struct stat in_info, out_info;
  bool out_exists = stat(out_path, &out_info) == 0;
  if (stat(in_path, &in_info) == 0 && out_exists && in_info.st_dev == out_info.st_dev &&
      in_info.st_ino == out_info.st_ino)
    return krotoolUsage("bmp-resize", krotoolBmpResizeUsage,
                        "IN and OUT are the same file: give OUT another name");

  int32_t size[2], new_size[2] = {(int32_t)width, (int32_t)height};
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels = kroDecodePicture(in_path, size, why, sizeof why);
  if (!pixels) {
    fprintf(stderr, "krotool bmp-resize: cannot read %s: %s\n", in_path, why);
    return 1;
  }
  uint8_t *resized = kroResizeBitmap(pixels, size, new_size);
  free(pixels);
  if (!resized) {
    fprintf(stderr, "krotool bmp-resize: cannot resample %s\n", in_path);
    return 1;
  }
  // The engine replaces OUT whole; a failed write leaves it as it was.
  int written = kroExportBMP(out_path, resized, new_size);
  int error = errno;
  free(resized);
  if (written != 0) {
    fprintf(stderr, "krotool bmp-resize: cannot write %s: %s\n", out_path, strerror(error));
    return 1;
  }
  fprintf(krotoolSummaryStream(out_path), "%s: %d x %d -> %s: %d x %d\n", in_path, size[0], size[1],
          out_path, new_size[0], new_size[1]);
  return 0;
}

// ---- font-build ----------------------------------------------------------------

static const char krotoolFontBuildUsage[] = "DIR WIDTH HEIGHT OUT.krof [THRESHOLD]";

// A picture in the glyph folder: its file name, and the character code it
// stands for or why it is skipped.
struct GlyphPicture {
  std::string name;
  int code = -1;
  std::string skipped; // the reason, empty when the picture is taken
};

// The code a file name stands for: "65.bmp" or "65.png" -> 65; -1 with a reason otherwise.
static int krotoolGlyphCode(const std::string &name, std::string *reason) {
  std::string stem = name.substr(0, name.size() - 4);
  if (name.compare(name.size() - 4, 4, ".bmp") != 0 &&
      name.compare(name.size() - 4, 4, ".png") != 0) {
    *reason = "the name must end in .bmp or .png, in lower case";
    return -1;
  }
  if (stem.empty() || stem.find_first_not_of("0123456789") != std::string::npos) {
    *reason = "not a character code (name it by the code, e.g. 65.bmp for A)";
    return -1;
  }
  if (stem.size() > 1 && stem[0] == '0') {
    *reason = "a leading zero (name it " + std::to_string(atoi(stem.c_str())) + ".bmp)";
    return -1;
  }
  if (stem.size() > 3 || atoi(stem.c_str()) > 255) {
    *reason = "outside 0..255";
    return -1;
  }
  return atoi(stem.c_str());
}

// Why a picture that the engine cannot take is skipped.
static std::string krotoolPictureProblem(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0)
    return strerror(errno);
  if (!S_ISREG(info.st_mode))
    return "not a file";
  int32_t size[2];
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels = kroDecodePicture(path.c_str(), size, why, sizeof why);
  free(pixels);
  return why;
}

// Every *.bmp and *.png of dir (any case), sorted by name, each taken or skipped. The engine
// reads CODE.bmp when there is one, so a CODE.png beside it is skipped.
static bool krotoolListGlyphs(const char *dir, std::vector<GlyphPicture> *pictures, int *entries) {
  DIR *folder = opendir(dir);
  if (!folder)
    return false;
  bool seen[KRO_KROF_MAX_GLYPHS] = {};
  *entries = 0;
  std::vector<std::string> names;
  while (struct dirent *entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    (*entries)++;
    if (name.size() > 4 && (strcasecmp(name.c_str() + name.size() - 4, ".bmp") == 0 ||
                            strcasecmp(name.c_str() + name.size() - 4, ".png") == 0))
      names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    GlyphPicture picture;
    picture.name = name;
    picture.code = krotoolGlyphCode(name, &picture.skipped);
    if (picture.code >= 0)
      picture.skipped = krotoolPictureProblem(std::string(dir) + "/" + name);
    if (picture.skipped.empty() && seen[picture.code])
      picture.skipped = "the code is already taken";
    if (picture.skipped.empty())
      seen[picture.code] = true;
    pictures->push_back(picture);
  }
  return true;
}

static int krotoolFontBuildFail(const char *what, const std::string &reason) {
  fprintf(stderr, "krotool font-build: %s: %s; no font written\n", what, reason.c_str());
  return 1;
}

// The name the font keeps: OUT's file name without its folders and without
// a ".krof" ending.
static std::string krotoolKeptName(const char *out_path) {
  const char *slash = strrchr(out_path, '/');
  std::string name = slash ? slash + 1 : out_path;
  if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".krof") == 0)
    name.resize(name.size() - 5);
  return name;
}

// Builds the font of the taken pictures into OUT, replaced whole; the glyph
// count, or 0 after one line on standard error.
static int krotoolWriteFont(const char *dir, const std::vector<GlyphPicture> &pictures,
                            const int32_t *size, const char *out_path, uint8_t threshold) {
  uint8_t chosen[KRO_KROF_MAX_GLYPHS] = {};
  for (const GlyphPicture &picture : pictures)
    if (picture.skipped.empty())
      chosen[picture.code] = 1;
  kroOutFile out;
  if (kroBeginOutFile(&out, out_path) != 0) {
    krotoolFontBuildFail(out_path, strerror(out.error));
    return 0;
  }
  int saved = krotoolEngineBegin();
  int glyphs =
      kroWriteKROFfd(dir, chosen, size, krotoolKeptName(out_path).c_str(), threshold, out.file);
  krotoolEngineEnd(saved);
  if (glyphs == 0) {
    kroAbortOutFile(&out);
    krotoolFontBuildFail(out_path, "the engine refused the build");
  } else if (kroCommitOutFile(&out) != 0) {
    krotoolFontBuildFail(out_path, strerror(out.error));
    glyphs = 0;
  }
  return glyphs;
}

int krotoolFontBuild(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool font-build %s\n\n"
           "Builds a KROF font from the glyph pictures in DIR, one picture per\n"
           "character (any PNG or BMP the engine reads) named by its code in decimal:\n"
           "65.bmp or 65.png for 'A', 48.png for '0', 32.bmp for the space (codes 0 to\n"
           "255; CODE.bmp is taken before CODE.png). Each picture, of any size, is scaled\n"
           "to WIDTH x HEIGHT (WIDTH x HEIGHT a multiple of 8). A pixel whose red, green\n"
           "and blue all exceed THRESHOLD (0 to 255, default 128) is a 0 bit, any other\n"
           "a 1 bit: draw the glyphs dark on white. Other pictures are skipped and\n"
           "listed with the reason. The font keeps OUT's file name without its folders\n"
           "and its .krof. OUT is replaced whole: after a failure it is as it was.\n"
           "\n"
           "Making the pictures with common tools, e.g. 'A' in a 16 x 16 cell:\n"
           "  convert -size 16x16 xc:white -font DejaVu-Sans -pointsize 14 -gravity center \\\n"
           "          -annotate 0 A -type TrueColor BMP3:glyphs/65.bmp     (ImageMagick)\n"
           "or save as PNG or BMP from an image editor.\n",
           krotoolFontBuildUsage);
    return 0;
  }
  if (argc != 4 && argc != 5)
    return krotoolUsage("font-build", krotoolFontBuildUsage, "expected four or five arguments");
  long width, height, threshold = 128;
  if (!krotoolNumber(argv[1], 1, 0xFFFF, &width) || !krotoolNumber(argv[2], 1, 0xFFFF, &height))
    return krotoolUsage("font-build", krotoolFontBuildUsage,
                        "WIDTH and HEIGHT must be whole numbers from 1 to 65535");
  if ((width * height) % 8 != 0 || width * height > KRO_KROF_MAX_GLYPH_PIXELS)
    return krotoolUsage("font-build", krotoolFontBuildUsage,
                        "WIDTH x HEIGHT must be a multiple of 8, at most 4096 x 4096");
  if (argc == 5 && !krotoolNumber(argv[4], 0, 255, &threshold))
    return krotoolUsage("font-build", krotoolFontBuildUsage,
                        "THRESHOLD must be a whole number from 0 to 255");
  const char *dir = argv[0], *out_path = argv[3];
  struct stat info;
  if (stat(dir, &info) != 0)
    return krotoolFontBuildFail(dir, strerror(errno));
  if (!S_ISDIR(info.st_mode))
    return krotoolFontBuildFail(dir, "not a folder (give the folder that holds the pictures)");
  if (stat(out_path, &info) == 0 && S_ISDIR(info.st_mode))
    return krotoolFontBuildFail(out_path, "a folder, not a font file name");

  std::vector<GlyphPicture> pictures;
  int entries = 0;
  if (!krotoolListGlyphs(dir, &pictures, &entries))
    return krotoolFontBuildFail(dir, strerror(errno));
  int taken = 0;
  for (const GlyphPicture &picture : pictures) {
    if (picture.skipped.empty())
      taken++;
    else
      fprintf(stderr, "krotool font-build: skipped %s: %s\n", picture.name.c_str(),
              picture.skipped.c_str());
  }
  if (entries == 0)
    return krotoolFontBuildFail(dir, "an empty folder");
  if (taken == 0)
    return krotoolFontBuildFail(dir, pictures.empty() ? "no .bmp or .png pictures in it"
                                                      : "none of its pictures can be used");

  kroSetBitMasks();
  int32_t size[2] = {(int32_t)width, (int32_t)height};
  int glyphs = krotoolWriteFont(dir, pictures, size, out_path, (uint8_t)threshold);
  if (glyphs == 0)
    return 1;
  fprintf(krotoolSummaryStream(out_path), "%s: %d glyph%s of %ld x %ld\n", out_path, glyphs,
          glyphs == 1 ? "" : "s", width, height);
  return 0;
}

// ---- font-info ---------------------------------------------------------------

// The name a font keeps after its records, unprintable bytes shown as '?'.
static std::string krotoolFontName(const char *path, const kroFontFile &font) {
  std::string name;
  FILE *file = fopen(path, "rb");
  long start = KRO_KROF_HEADER_BYTES + (long)font.glyph_count * font.record_bytes;
  if (!file)
    return name;
  if (fseek(file, start, SEEK_SET) == 0)
    for (int c; (c = fgetc(file)) != EOF && name.size() < KRO_KROF_MAX_NAME;)
      name += c >= ' ' && c <= '~' ? (char)c : '?';
  fclose(file);
  return name;
}

int krotoolFontInfo(int argc, char **argv) {
  if (krotoolWantsHelp(argc, argv)) {
    printf("usage: krotool font-info FILE.krof\n\n"
           "Shows a KROF font's glyph size, glyph count and codes, and the name it keeps,\n"
           "and draws every glyph as text, top row first: '#' for a 1 bit, '.' for a 0\n"
           "bit.\n");
    return 0;
  }
  if (argc != 1)
    return krotoolUsage("font-info", "FILE.krof", "expected one file");
  const char *path = argv[0];
  if (const char *problem = krotoolUnreadableFile(path)) {
    fprintf(stderr, "krotool font-info: %s: %s\n", path, problem);
    return 1;
  }
  kroSetBitMasks();
  kroFontFile font;
  int saved = krotoolEngineBegin();
  int read = kroReadKROF(path, &font);
  krotoolEngineEnd(saved);
  if (read != 0) {
    // The engine's message ends in "PATH: reason", or in PATH alone when the
    // file does not start with the format's four letters.
    const char *reason = strstr(krotoolEngineMessage, path);
    reason = reason ? reason + strlen(path) : "";
    fprintf(stderr, "krotool font-info: %s: %s\n", path,
            !strncmp(reason, ": ", 2) ? reason + 2
            : strstr(krotoolEngineMessage, "fonts")
                ? "not a KROF font (it does not start with KROF)"
                : "cannot be read");
    return 1;
  }
  std::string name = krotoolFontName(path, font);
  printf("file: %s\nname: %s\nglyph size: %d x %d\nglyphs: %d\ncodes:", path, name.c_str(),
         font.width, font.height, font.glyph_count);
  for (int32_t g = 0; g < font.glyph_count; g++)
    printf(" %d", font.records[(size_t)g * font.record_bytes]);
  printf("\n");
  for (int32_t g = 0; g < font.glyph_count; g++) {
    const uint8_t *record = font.records + (size_t)g * font.record_bytes;
    int code = record[0];
    printf("\nglyph %d, code %d", g, code);
    if (code >= 33 && code < 127)
      printf(" '%c'", code);
    printf(":\n");
    // Row 0 is the bottom of the picture: print from the top down.
    for (int32_t y = font.height - 1; y >= 0; y--) {
      for (int32_t x = 0; x < font.width; x++) {
        size_t p = (size_t)y * font.width + x;
        putchar(record[1 + p / 8] >> (7 - p % 8) & 1 ? '#' : '.');
      }
      putchar('\n');
    }
  }
  kroFreeKROF(&font);
  return 0;
}
