// krotool png-info: checks a PNG file against the format's rules, chunk by
// chunk, and describes it. The whole file is walked as a stream: the 8-byte
// signature, every chunk's length, type and CRC, the order of the critical
// chunks and the header's fields. The first problem ends the check with a
// short reason that names the chunk. The engine's reader is not used: it
// walks only what it needs for the image data and passes over the rest.
// Depends on: the C library only (the CRC is computed here).
#include "krotool.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const uint32_t kPngMaxLength = 0x7FFFFFFF; // chunk lengths and image sizes, 2^31 - 1
const uint32_t kIhdrBytes = 13;
const uint32_t kPaletteMaxEntries = 256;
const size_t kReadBlock = 64 * 1024; // bytes read at a time for the CRC

// The chunk CRC: CRC-32 of the reflected polynomial 0xEDB88320, register
// started at and finished with all ones. pngCrcUpdate carries the register
// between calls without the final inversion.
uint32_t pngCrcTable[256];

void pngMakeCrcTable(void) {
  for (uint32_t n = 0; n < 256; n++) {
    uint32_t c = n;
    for (int k = 0; k < 8; k++)
      c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    pngCrcTable[n] = c;
  }
}

uint32_t pngCrcUpdate(uint32_t crc, const uint8_t *bytes, size_t count) {
  if (!pngCrcTable[1])
    pngMakeCrcTable();
  for (size_t i = 0; i < count; i++)
    crc = pngCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

// What the check found; filled as the chunks go by.
struct PngFacts {
  uint32_t width = 0, height = 0;
  uint8_t bit_depth = 0, colour_type = 0, compression = 0, filter = 0, interlace = 0;
  uint32_t palette_entries = 0;
  uint32_t chunks = 0, data_chunks = 0;
  uint64_t data_bytes = 0;
  bool seen_header = false, seen_palette = false, seen_end = false;
  bool data_ended = false; // another chunk came after the image data
};

// One problem, as "CHUNK: reason".
struct PngProblem {
  std::string text;
};

bool pngRefuse(PngProblem *problem, const char *format, ...) __attribute__((format(printf, 2, 3)));
bool pngRefuse(PngProblem *problem, const char *format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  problem->text = text;
  return false;
}

uint32_t pngBigEndian(const uint8_t *bytes) {
  return (uint32_t)bytes[0] << 24 | (uint32_t)bytes[1] << 16 | (uint32_t)bytes[2] << 8 | bytes[3];
}

bool pngIsLetter(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Bit depths each colour type allows, as a bit set over depths 1..16.
uint32_t pngAllowedDepths(uint8_t colour_type) {
  switch (colour_type) {
  case 0:
    return 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8 | 1u << 16;
  case 3:
    return 1u << 1 | 1u << 2 | 1u << 4 | 1u << 8;
  case 2:
  case 4:
  case 6:
    return 1u << 8 | 1u << 16;
  }
  return 0;
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

std::string pngAllowedList(uint8_t colour_type) {
  std::string list;
  for (int depth = 1; depth <= 16; depth++)
    if (pngAllowedDepths(colour_type) >> depth & 1)
      list += (list.empty() ? "" : ", ") + std::to_string(depth);
  return list;
}

bool pngCheckHeader(const uint8_t *data, PngFacts *facts, PngProblem *problem) {
  facts->width = pngBigEndian(data);
  facts->height = pngBigEndian(data + 4);
  facts->bit_depth = data[8];
  facts->colour_type = data[9];
  facts->compression = data[10];
  facts->filter = data[11];
  facts->interlace = data[12];
  if (facts->width == 0 || facts->width > kPngMaxLength)
    return pngRefuse(problem, "IHDR: width %u is outside 1 to 2^31-1", facts->width);
  if (facts->height == 0 || facts->height > kPngMaxLength)
    return pngRefuse(problem, "IHDR: height %u is outside 1 to 2^31-1", facts->height);
  if (!pngAllowedDepths(facts->colour_type))
    return pngRefuse(problem, "IHDR: colour type %u is not defined (0, 2, 3, 4 or 6)",
                     facts->colour_type);
  if (facts->bit_depth > 16 || !(pngAllowedDepths(facts->colour_type) >> facts->bit_depth & 1))
    return pngRefuse(problem, "IHDR: bit depth %u is not allowed for colour type %u (%s)",
                     facts->bit_depth, facts->colour_type,
                     pngAllowedList(facts->colour_type).c_str());
  if (facts->compression != 0)
    return pngRefuse(problem, "IHDR: compression method %u is not defined (0)", facts->compression);
  if (facts->filter != 0)
    return pngRefuse(problem, "IHDR: filter method %u is not defined (0)", facts->filter);
  if (facts->interlace > 1)
    return pngRefuse(problem, "IHDR: interlace method %u is not defined (0 or 1)",
                     facts->interlace);
  return true;
}

// The rules that a chunk's type and place decide, before its data is read.
bool pngCheckPlace(const char *type, uint32_t length, PngFacts *facts, PngProblem *problem) {
  bool header = !strcmp(type, "IHDR"), palette = !strcmp(type, "PLTE");
  bool data = !strcmp(type, "IDAT"), end = !strcmp(type, "IEND");
  if (facts->chunks == 1 && !header)
    return pngRefuse(problem, "%s: the first chunk must be IHDR", type);
  if (header && facts->seen_header)
    return pngRefuse(problem, "IHDR: a second header chunk");
  if (header && length != kIhdrBytes)
    return pngRefuse(problem, "IHDR: length %u, expected %u", length, kIhdrBytes);
  if (!header && !palette && !data && !end && !(type[0] & 0x20))
    return pngRefuse(problem, "%s: unknown critical chunk", type);
  if (type[2] & 0x20)
    return pngRefuse(problem, "%s: reserved bit set (third letter must be upper case)", type);
  if (palette) {
    if (facts->colour_type == 0 || facts->colour_type == 4)
      return pngRefuse(problem, "PLTE: not allowed for colour type %u", facts->colour_type);
    if (facts->seen_palette)
      return pngRefuse(problem, "PLTE: a second palette chunk");
    if (facts->data_chunks)
      return pngRefuse(problem, "PLTE: after the image data");
    if (length == 0 || length % 3 || length / 3 > kPaletteMaxEntries)
      return pngRefuse(problem, "PLTE: length %u is not 1 to 256 entries of 3 bytes", length);
    uint32_t entries = length / 3;
    if (facts->colour_type == 3 && entries > 1u << facts->bit_depth)
      return pngRefuse(problem, "PLTE: %u entries, more than bit depth %u allows", entries,
                       facts->bit_depth);
    facts->seen_palette = true;
    facts->palette_entries = entries;
  }
  if (data) {
    if (facts->colour_type == 3 && !facts->seen_palette)
      return pngRefuse(problem, "IDAT: colour type 3 needs a PLTE chunk before the image data");
    if (facts->data_ended)
      return pngRefuse(problem, "IDAT: image data chunks must follow one another");
    facts->data_chunks++;
    facts->data_bytes += length;
  } else if (facts->data_chunks) {
    facts->data_ended = true;
  }
  if (end) {
    if (length != 0)
      return pngRefuse(problem, "IEND: length %u, expected 0", length);
    if (!facts->data_chunks)
      return pngRefuse(problem, "IEND: no IDAT chunk before the end");
    facts->seen_end = true;
  }
  return true;
}

// Reads a chunk's data and CRC; checks the CRC; keeps the header's bytes.
bool pngReadChunkData(FILE *file, const uint8_t *type_bytes, const char *type, uint32_t length,
                      uint8_t *header, PngProblem *problem) {
  static uint8_t block[kReadBlock];
  uint32_t crc = pngCrcUpdate(0xFFFFFFFFu, type_bytes, 4);
  for (uint32_t done = 0; done < length;) {
    size_t want = length - done < kReadBlock ? length - done : kReadBlock;
    size_t got = fread(block, 1, want, file);
    if (!strcmp(type, "IHDR") && done == 0)
      memcpy(header, block, got < kIhdrBytes ? got : kIhdrBytes);
    crc = pngCrcUpdate(crc, block, got);
    done += (uint32_t)got;
    if (got < want)
      return pngRefuse(problem, "%s: cut short: %u of %u data bytes", type, done, length);
  }
  uint8_t stored[4];
  if (fread(stored, 1, 4, file) != 4)
    return pngRefuse(problem, "%s: cut short in its CRC", type);
  crc ^= 0xFFFFFFFFu;
  if (pngBigEndian(stored) != crc)
    return pngRefuse(problem, "%s: CRC 0x%08X does not match the data (0x%08X)", type,
                     pngBigEndian(stored), crc);
  return true;
}

bool pngCheckSignature(FILE *file, PngProblem *problem) {
  uint8_t signature[8];
  size_t got = fread(signature, 1, 8, file);
  for (size_t i = 0; i < got; i++)
    if (signature[i] != kPngSignature[i])
      return pngRefuse(problem, "signature: byte %zu is 0x%02X, expected 0x%02X", i + 1,
                       signature[i], kPngSignature[i]);
  if (got < 8)
    return pngRefuse(problem, "signature: the file ends after %zu of its 8 bytes", got);
  return true;
}

bool pngCheckStream(FILE *file, PngFacts *facts, PngProblem *problem) {
  if (!pngCheckSignature(file, problem))
    return false;
  char last[5] = "";
  while (!facts->seen_end) {
    uint8_t head[8];
    size_t got = fread(head, 1, 8, file);
    if (got == 0 && facts->chunks == 0)
      return pngRefuse(problem, "IHDR: missing: the file ends after the signature");
    if (got == 0)
      return pngRefuse(problem, "IEND: missing: the file ends after chunk %u (%s)", facts->chunks,
                       last);
    facts->chunks++;
    if (got < 8)
      return pngRefuse(problem, "chunk %u: cut short in its length and type", facts->chunks);
    uint32_t length = pngBigEndian(head);
    const uint8_t *type_bytes = head + 4;
    if (!pngIsLetter(type_bytes[0]) || !pngIsLetter(type_bytes[1]) || !pngIsLetter(type_bytes[2]) ||
        !pngIsLetter(type_bytes[3]))
      return pngRefuse(problem, "chunk %u: type 0x%02X%02X%02X%02X is not four letters",
                       facts->chunks, type_bytes[0], type_bytes[1], type_bytes[2], type_bytes[3]);
    char type[5];
    memcpy(type, type_bytes, 4);
    type[4] = '\0';
    memcpy(last, type, 5);
    if (length > kPngMaxLength)
      return pngRefuse(problem, "%s: length %u exceeds 2^31-1", type, length);
    uint8_t header[kIhdrBytes] = {};
    if (!pngCheckPlace(type, length, facts, problem) ||
        !pngReadChunkData(file, type_bytes, type, length, header, problem))
      return false;
    if (!strcmp(type, "IHDR")) {
      if (!pngCheckHeader(header, facts, problem))
        return false;
      facts->seen_header = true;
    }
  }
  long extra = 0;
  while (fgetc(file) != EOF)
    extra++;
  if (extra)
    return pngRefuse(problem, "IEND: %ld byte%s after the end chunk", extra, extra == 1 ? "" : "s");
  return true;
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
  FILE *file = fopen(path, "rb");
  if (!file) {
    fprintf(stderr, "krotool png-info: %s: %s\n", path, strerror(errno));
    return 1;
  }
  PngFacts facts;
  PngProblem problem;
  bool ok = pngCheckStream(file, &facts, &problem);
  if (ok && ferror(file))
    ok = pngRefuse(&problem, "read error: %s", strerror(errno));
  fclose(file);
  if (!ok) {
    fprintf(stderr, "krotool png-info: %s: %s\n", path, problem.text.c_str());
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
