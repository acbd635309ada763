// krotool png-info: checks a PNG file against the format's rules, chunk by
// chunk, through the engine's kroCheckPNG (the 8-byte signature, every
// chunk's CRC, the order of the critical chunks and the header's fields), and
// describes a sound file. The first problem ends the check with a short
// reason that names the chunk.
#include "krotool.h"

#include "kro.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

const uint32_t kIhdrBytes = 13;
const uint32_t kCrcBytes = 4;
const int kReasonChars = 256;

// What a sound file holds, as the description shows it.
struct PngFacts {
  uint32_t width = 0, height = 0;
  uint8_t bit_depth = 0, colour_type = 0, interlace = 0;
  uint32_t palette_entries = 0;
  uint32_t chunks = 0, data_chunks = 0;
  uint64_t data_bytes = 0;
  bool seen_header = false, seen_palette = false, seen_end = false;
};

uint32_t pngBigEndian(const uint8_t *bytes) {
  return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
}

const char *pngColourName(uint8_t colour_type) {
  switch (colour_type) {
  case 0:
    return "greyscale";
  case 2:
    return "RGB";
  case 3:
    return "palette";
  case 4:
    return "greyscale with alpha";
  case 6:
    return "RGBA";
  }
  return "undefined";
}

// One chunk of a file found sound: its head, the header's fields or the
// palette's size, then past its data and CRC. False when the file ends early.
bool pngDescribeChunk(FILE *file, PngFacts *facts) {
  uint8_t head[8], header[kIhdrBytes];
  if (fread(head, 1, sizeof head, file) != sizeof head)
    return false;
  uint32_t length = pngBigEndian(head), skip = length;
  const char *type = (const char *)head + 4;
  facts->chunks++;
  if (!memcmp(type, "IEND", 4)) {
    facts->seen_end = true;
  } else if (!memcmp(type, "IHDR", 4)) {
    if (length != kIhdrBytes || fread(header, 1, kIhdrBytes, file) != kIhdrBytes)
      return false;
    facts->width = pngBigEndian(header);
    facts->height = pngBigEndian(header + 4);
    facts->bit_depth = header[8];
    facts->colour_type = header[9];
    facts->interlace = header[12];
    facts->seen_header = true;
    skip = 0;
  } else if (!memcmp(type, "PLTE", 4)) {
    facts->seen_palette = true;
    facts->palette_entries = length / 3;
  } else if (!memcmp(type, "IDAT", 4)) {
    facts->data_chunks++;
    facts->data_bytes += length;
  }
  return fseek(file, (long)skip + kCrcBytes, SEEK_CUR) == 0;
}

// The description of a file kroCheckPNG found sound; false when it is no
// longer what was checked.
bool pngDescribe(const char *path, PngFacts *facts) {
  FILE *file = fopen(path, "rb");
  if (!file)
    return false;
  uint8_t signature[8];
  bool ok = fread(signature, 1, sizeof signature, file) == sizeof signature;
  while (ok && !facts->seen_end)
    ok = pngDescribeChunk(file, facts);
  fclose(file);
  return ok && facts->seen_header;
}

} // namespace

int krotoolPngInfo(int argc, char **argv) {
  for (int i = 0; i < argc; i++)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      printf("usage: krotool png-info FILE.png\n\n"
             "Checks FILE.png against the PNG rules: the 8-byte signature, every chunk's\n"
             "CRC, IHDR first and IEND last with nothing after it, a PLTE where a palette\n"
             "image needs one, the header's colour type, bit depth, compression, filter\n"
             "and interlace values, and at least one IDAT chunk. Shows the size, colour\n"
             "type, bit depth, interlace method and the image data chunks; on the first\n"
             "problem, prints the chunk and the reason instead and exits with 1.\n");
      return 0;
    }
  if (argc != 1 || (argv[0][0] == '-' && argv[0][1])) {
    fprintf(stderr, "krotool png-info: expected one file\nusage: krotool png-info FILE.png\n");
    return 2;
  }
  const char *path = argv[0];
  if (const char *problem = krotoolUnreadableFile(path)) {
    fprintf(stderr, "krotool png-info: %s: %s\n", path, problem);
    return 1;
  }
  char why[kReasonChars];
  if (kroCheckPNG(path, why, sizeof why) != 0) {
    fprintf(stderr, "krotool png-info: %s: %s\n", path, why);
    return 1;
  }
  PngFacts facts;
  if (!pngDescribe(path, &facts)) {
    fprintf(stderr, "krotool png-info: %s: the file changed while it was read\n", path);
    return 1;
  }
  printf("file: %s\n", path);
  printf("size: %u x %u\n", facts.width, facts.height);
  printf("colour type: %u (%s)\n", facts.colour_type, pngColourName(facts.colour_type));
  printf("bit depth: %u\n", facts.bit_depth);
  printf("interlace: %u (%s)\n", facts.interlace, facts.interlace ? "Adam7" : "none");
  if (facts.seen_palette)
    printf("palette entries: %u\n", facts.palette_entries);
  printf("chunks: %u\n", facts.chunks);
  printf("image data chunks: %u\n", facts.data_chunks);
  printf("image data bytes: %llu\n", (unsigned long long)facts.data_bytes);
  return fflush(stdout) == 0 ? 0 : 1;
}
