// The picture decoder on PNG input: never a report or a hook, a reason on
// every refusal, and an accepted file gives exactly its IHDR size in pixels,
// all of them readable (ASan). Each input is decoded three ways: as it is;
// with every complete chunk's CRC put right; and with its image data chunks'
// payloads taken as the rows themselves, deflated here into one sound zlib
// stream, so that the fuzzer reaches the filters, depths, palettes and
// interlacing behind the checksums.
#include "kro.h"
#include "support.h"

#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <string>

namespace {

const size_t kSignatureBytes = 8, kChunkFrameBytes = 12; // length, type, CRC

void hookCalled(void) {
  abort();
}

uint32_t big32(const uint8_t *b) {
  return (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
}

std::string big32Bytes(uint32_t value) {
  return std::string{(char)(value >> 24), (char)(value >> 16), (char)(value >> 8), (char)value};
}

std::string chunk(const std::string &type, const std::string &data) {
  std::string body = type + data;
  return big32Bytes((uint32_t)data.size()) + body +
         big32Bytes((uint32_t)crc32(0, (const Bytef *)body.data(), (uInt)body.size()));
}

void decode(const std::string &file) {
  int32_t size[2] = {-1, -1};
  char why[KRO_PICTURE_REASON_CHARS];
  uint8_t *pixels = kroDecodePictureMemory((const uint8_t *)file.data(), file.size(), size, nullptr,
                                           why, sizeof why);
  if (!pixels) {
    if (!why[0] || size[0] || size[1])
      abort();
    return;
  }
  if (why[0] || file.size() < kSignatureBytes + 16 + 8 || size[0] <= 0 || size[1] <= 0 ||
      (uint32_t)size[0] != big32((const uint8_t *)file.data() + 16) ||
      (uint32_t)size[1] != big32((const uint8_t *)file.data() + 20))
    abort();
  size_t last = (size_t)size[0] * size[1] * 4 - 1;
  volatile uint8_t touch = pixels[0] ^ pixels[last];
  (void)touch;
  free(pixels);
}

// The chunks that fit in the input, CRCs put right; with `deflate_data`, the
// image data payloads gathered, deflated and put back as one chunk where the
// first one stood.
std::string rebuilt(const uint8_t *data, size_t size, bool deflate_data) {
  std::string out((const char *)data, size < kSignatureBytes ? size : kSignatureBytes), rows;
  size_t first_data = std::string::npos;
  size_t at = out.size();
  for (; at < size && size - at >= kChunkFrameBytes;) {
    uint32_t length = big32(data + at);
    if (length > size - at - kChunkFrameBytes)
      break;
    std::string type((const char *)data + at + 4, 4), payload((const char *)data + at + 8, length);
    if (deflate_data && type == "IDAT") {
      if (first_data == std::string::npos)
        first_data = out.size();
      rows += payload;
    } else {
      out += chunk(type, payload);
    }
    at += kChunkFrameBytes + length;
  }
  out.append((const char *)data + at, size - at);
  if (first_data != std::string::npos) {
    uLongf bytes = compressBound(rows.size());
    std::string stream(bytes, '\0');
    compress2((Bytef *)&stream[0], &bytes, (const Bytef *)rows.data(), rows.size(), 1);
    stream.resize(bytes);
    out.insert(first_data, chunk("IDAT", stream));
  }
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroSetErrorFunc(hookCalled);
  decode(std::string((const char *)data, size));
  decode(rebuilt(data, size, false));
  decode(rebuilt(data, size, true));
  kroSetErrorFunc(nullptr);
  return 0;
}
