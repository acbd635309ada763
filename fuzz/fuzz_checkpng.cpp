// The PNG format check: kroCheckPNG answers 0 or -1, never calls the error
// hook, keeps its reason inside the room it is given, and a file it finds
// sound is one the engine's chunk walk reads with the same header. Each input
// is checked twice, as it is and with every complete chunk's CRC put right
// (by a CRC computed here, not the engine's), so that the fuzzer reaches the
// rules behind the CRC; the second check must never blame a CRC.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

const size_t kSignatureBytes = 8, kChunkFrameBytes = 12; // length, type, CRC
const size_t kHeaderData = 16;                           // IHDR's data, after signature and head

void hookCalled(void) {
  abort();
}

uint32_t big32(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
}

// CRC-32 (reflected polynomial 0xEDB88320), bit by bit.
uint32_t crc32Of(const uint8_t *bytes, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; i++) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; bit++)
      crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

// The input with the CRC of every chunk that fits in it recomputed.
std::vector<uint8_t> withTrueCRCs(const uint8_t *data, size_t size) {
  std::vector<uint8_t> out(data, data + size);
  for (size_t at = kSignatureBytes; at < size && size - at >= kChunkFrameBytes;) {
    uint32_t length = big32(&out[at]);
    if (length > size - at - kChunkFrameBytes)
      break;
    uint32_t crc = crc32Of(&out[at + 4], 4 + (size_t)length);
    uint8_t *stored = &out[at + 8 + length];
    stored[0] = (uint8_t)(crc >> 24), stored[1] = (uint8_t)(crc >> 16);
    stored[2] = (uint8_t)(crc >> 8), stored[3] = (uint8_t)crc;
    at += kChunkFrameBytes + length;
  }
  return out;
}

// Checks one file; returns the reason ("" when sound) after the invariants.
const char *check(const uint8_t *data, size_t size, size_t small_room) {
  static char why[256];
  const char *path = kroFuzzWriteFile(data, size);
  memset(why, '#', sizeof why);
  int result = kroCheckPNG(path, why, (int)sizeof why);
  if ((result != 0 && result != -1) || !memchr(why, '\0', sizeof why) ||
      (result == 0) != (why[0] == '\0'))
    abort();
  // The same reason cut to a small room, terminated, nothing written past it.
  char small[17];
  memset(small, '#', sizeof small);
  if (kroCheckPNG(path, small, (int)small_room) != result || !memchr(small, '\0', small_room) ||
      strncmp(small, why, small_room - 1) != 0 || small[small_room] != '#')
    abort();
  if (result == 0) {
    kroPNGInfo info;
    if (size < kHeaderData + 13 || kroLoadPNGInfo(path, &info) != 0)
      abort();
    const uint8_t *h = data + kHeaderData;
    if ((uint32_t)info.width != big32(h) || (uint32_t)info.height != big32(h + 4) ||
        info.bit_depth != h[8] || info.color_type != h[9] || info.interlace != h[12] ||
        info.data_chunks == 0)
      abort();
  }
  return why;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroSetErrorFunc(hookCalled);
  size_t small_room = 1 + (size ? data[size - 1] % 16 : 0);
  check(data, size, small_room);
  std::vector<uint8_t> repaired = withTrueCRCs(data, size);
  if (strstr(check(repaired.data(), repaired.size(), small_room), ": CRC 0x"))
    abort();
  kroSetErrorFunc(nullptr);
  return 0;
}
