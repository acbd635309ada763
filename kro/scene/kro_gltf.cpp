/*
 * glTF 2.0 scene reader: a .gltf text (buffers in .bin files beside it or in
 * base64 data: URIs) or a .glb container into the engine's mesh rows (world
 * space, one kroMesh per primitive instance) and material records.
 *
 * The JSON is parsed by RapidJSON (Debian rapidjson-dev), header-only, so the
 * engine links no further library. Measured against nlohmann-json and
 * simdjson on a 1.8 MB glTF text: simdjson parsed fastest, RapidJSON second at
 * several times nlohmann's speed; RapidJSON is taken because it reports the
 * byte offset of a syntax error (the refusal's line comes from it), parses
 * without recursion (kParseIterativeFlag: no stack overflow on deep nesting)
 * and needs no runtime library. The glTF rules are the engine's own: every
 * index, offset, stride, count and length is checked against what it points
 * into before it is used or anything is allocated from it.
 *
 * Depends on: kro_error.cpp, kro_object.cpp (rows, kroComputeNormals),
 * kro_material.cpp (map files and textures), kro_picture.cpp.
 */
#include "kro.h"
#include "kro_internal.h"

#include <ctype.h>
#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

namespace {

using Value = rapidjson::Value;
constexpr unsigned KRO_GLTF_PARSE =
    rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag;

enum : uint32_t {
  KRO_GLB_MAGIC = 0x46546C67, /* "glTF" */
  KRO_GLB_JSON = 0x4E4F534A,  /* "JSON" */
  KRO_GLB_BIN = 0x004E4942,   /* "BIN\0" */
  KRO_GLTF_MAX_BYTES = 1u << 30,
  KRO_GLTF_MAX_TRIANGLES = 1u << 26 /* of one primitive; rows are ints */
};

enum { KRO_GLTF_WHY_CHARS = 300 };

/* A buffer's bytes: within the file (GLB's BIN chunk) or owned (a .bin file or a data: URI). */
typedef struct kroGLTFBuffer {
  const uint8_t *bytes;
  uint64_t size; /* the buffer's byteLength: the bytes hold at least that many */
  uint8_t *owned;
} kroGLTFBuffer;

/* One checked accessor: element i starts at base + i * stride. */
typedef struct kroGLTFSpan {
  const uint8_t *base;
  uint64_t stride, count;
  int component; /* componentType */
  int normalized;
} kroGLTFSpan;

struct kroGLTF {
  const char *path;
  uint8_t *file = nullptr;
  size_t file_size = 0;
  const char *json = nullptr; /* the JSON text within file */
  size_t json_size = 0;
  const uint8_t *bin = nullptr; /* GLB's BIN chunk, if any */
  uint64_t bin_size = 0;
  rapidjson::Document doc;
  kroGLTFBuffer *buffers = nullptr;
  size_t buffer_count = 0;
  const Value *blamed = nullptr; /* the JSON object a refusal is about */
  int indexed = 0;               /* meshes keep the file's vertices and indices */
  char why[KRO_GLTF_WHY_CHARS] = "";
  ~kroGLTF() {
    for (size_t i = 0; i < buffer_count; i++)
      free(buffers[i].owned);
    free(buffers);
    free(file);
  }
};

/* Writes the reason (the first one stands) and the object it is about; returns 0. */
__attribute__((format(printf, 3, 4))) int kroGLTFRefuse(kroGLTF *g, const Value *at,
                                                        const char *format, ...) {
  if (g->why[0])
    return 0;
  va_list args;
  va_start(args, format);
  vsnprintf(g->why, sizeof g->why, format, args);
  va_end(args);
  g->blamed = at;
  return 0;
}

/* ---- where a refused object stands: its line, found only after a refusal ---- */

/* Position of `target` among the document's objects in text order, or -1. Values nested
 * deeper than a glTF's own objects stop the walk (*seen becomes -1): the count would be lost. */
long kroGLTFObjectOrdinal(const Value &value, const Value *target, long *seen, int depth = 0) {
  if (*seen < 0 || depth > 64) {
    *seen = -1;
    return -1;
  }
  if (value.IsObject()) {
    long me = (*seen)++;
    if (&value == target)
      return me;
    for (auto &member : value.GetObject()) {
      long found = kroGLTFObjectOrdinal(member.value, target, seen, depth + 1);
      if (found >= 0)
        return found;
    }
  } else if (value.IsArray()) {
    for (auto &item : value.GetArray()) {
      long found = kroGLTFObjectOrdinal(item, target, seen, depth + 1);
      if (found >= 0)
        return found;
    }
  }
  return -1;
}

/* Reads the text again and stops at the wanted object's opening brace. */
struct kroObjectFinder : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, kroObjectFinder> {
  long wanted, seen = 0;
  const rapidjson::MemoryStream *stream;
  size_t offset = 0;
  bool StartObject() {
    if (seen++ < wanted)
      return true;
    offset = stream->Tell();
    return false;
  }
};

long kroGLTFLineAt(const char *text, size_t offset) {
  long line = 1;
  for (size_t i = 0; i < offset; i++)
    line += text[i] == '\n';
  return line;
}

/* The blamed object's line in the JSON text; 0 when not known. */
long kroGLTFBlamedLine(kroGLTF *g) {
  if (!g->blamed)
    return 0;
  long seen = 0, ordinal = kroGLTFObjectOrdinal(g->doc, g->blamed, &seen);
  if (ordinal < 0)
    return 0;
  rapidjson::MemoryStream stream(g->json, g->json_size);
  kroObjectFinder finder;
  finder.wanted = ordinal;
  finder.stream = &stream;
  rapidjson::Reader reader;
  reader.Parse<KRO_GLTF_PARSE>(stream, finder);
  return finder.offset ? kroGLTFLineAt(g->json, finder.offset) : 0;
}

/* ---- JSON values ---- */

const Value *kroGLTFMember(const Value &object, const char *name) {
  if (!object.IsObject())
    return nullptr;
  auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

/* The array `name` of the top level (an empty one when absent); 0 when not an array. */
int kroGLTFTopArray(kroGLTF *g, const char *name, const Value **array) {
  static const Value empty(rapidjson::kArrayType);
  const Value *found = kroGLTFMember(g->doc, name);
  *array = found ? found : &empty;
  if (!(*array)->IsArray())
    return kroGLTFRefuse(g, &g->doc, "\"%s\" is not an array", name);
  return 1;
}

/* An optional whole number in [0, most]: fallback when absent. */
int kroGLTFGetIndex(kroGLTF *g, const Value &object, const char *name, uint64_t most,
                    uint64_t fallback, uint64_t *out) {
  const Value *v = kroGLTFMember(object, name);
  *out = fallback;
  if (!v)
    return 1;
  if (!v->IsUint64() || v->GetUint64() > most)
    return kroGLTFRefuse(g, &object, "\"%s\" is not a whole number from 0 to %llu", name,
                         (unsigned long long)most);
  *out = v->GetUint64();
  return 1;
}

/* A required index into a list of `count` entries. */
int kroGLTFGetRequired(kroGLTF *g, const Value &object, const char *name, uint64_t count,
                       uint64_t *out) {
  if (!kroGLTFMember(object, name))
    return kroGLTFRefuse(g, &object, "\"%s\" is missing", name);
  if (count == 0)
    return kroGLTFRefuse(g, &object, "\"%s\" points into an empty list", name);
  return kroGLTFGetIndex(g, object, name, count - 1, 0, out);
}

/* `count` finite numbers of an optional array; fallback kept when absent. */
int kroGLTFGetFloats(kroGLTF *g, const Value &object, const char *name, int count, double *out) {
  const Value *v = kroGLTFMember(object, name);
  if (!v)
    return 1;
  if (!v->IsArray() || v->Size() != (unsigned)count)
    return kroGLTFRefuse(g, &object, "\"%s\" is not an array of %d numbers", name, count);
  for (int i = 0; i < count; i++) {
    const Value &x = (*v)[(unsigned)i];
    if (!x.IsNumber() || !isfinite(x.GetDouble()))
      return kroGLTFRefuse(g, &object, "\"%s\" is not an array of %d numbers", name, count);
    out[i] = x.GetDouble();
  }
  return 1;
}

const char *kroGLTFGetString(const Value &object, const char *name) {
  const Value *v = kroGLTFMember(object, name);
  return v && v->IsString() ? v->GetString() : nullptr;
}

/* ---- the file and its buffers ---- */

int kroGLTFReadFile(kroGLTF *g) {
  FILE *stream = fopen(g->path, "rb");
  long bytes = stream ? kroStreamBytes(stream) : -1;
  if (!stream || bytes < 0) {
    if (stream)
      fclose(stream);
    return kroGLTFRefuse(g, nullptr, "cannot be opened or is not a file");
  }
  if (bytes > (long)KRO_GLTF_MAX_BYTES) {
    fclose(stream);
    return kroGLTFRefuse(g, nullptr, "%ld bytes, more than %u", bytes,
                         (unsigned)KRO_GLTF_MAX_BYTES);
  }
  g->file = (uint8_t *)kroAllocate((size_t)bytes + 1);
  size_t got = g->file ? fread(g->file, 1, (size_t)bytes, stream) : 0;
  fclose(stream);
  if (!g->file)
    return kroGLTFRefuse(g, nullptr, "no memory for %ld bytes", bytes);
  if (got != (size_t)bytes)
    return kroGLTFRefuse(g, nullptr, "could not be read whole");
  g->file_size = got;
  g->file[got] = 0;
  return 1;
}

/* The GLB container: 12-byte header, a JSON chunk, an optional BIN chunk; every length must lie
 * within the file and the header's total must be the file's size. */
int kroGLTFReadContainer(kroGLTF *g) {
  const uint8_t *b = g->file;
  uint64_t size = g->file_size;
  if (size < 4 || kroLittle32(b) != KRO_GLB_MAGIC) {
    g->json = (const char *)b;
    g->json_size = g->file_size;
    return 1;
  }
  if (size < 20)
    return kroGLTFRefuse(g, nullptr, "GLB header cut off (%llu bytes)", (unsigned long long)size);
  if (kroLittle32(b + 4) != 2)
    return kroGLTFRefuse(g, nullptr, "GLB version %u, not 2", kroLittle32(b + 4));
  if (kroLittle32(b + 8) != size)
    return kroGLTFRefuse(g, nullptr, "GLB length %u, but the file has %llu bytes",
                         kroLittle32(b + 8), (unsigned long long)size);
  uint64_t json_size = kroLittle32(b + 12);
  if (kroLittle32(b + 16) != KRO_GLB_JSON)
    return kroGLTFRefuse(g, nullptr, "the first GLB chunk is not JSON");
  if (json_size > size - 20)
    return kroGLTFRefuse(g, nullptr, "GLB JSON chunk of %llu bytes runs past the file's end",
                         (unsigned long long)json_size);
  g->json = (const char *)b + 20;
  g->json_size = (size_t)json_size;
  uint64_t at = 20 + json_size;
  if (at < size) {
    if (size - at < 8)
      return kroGLTFRefuse(g, nullptr, "GLB chunk header cut off at byte %llu",
                           (unsigned long long)at);
    uint64_t bin_size = kroLittle32(b + at);
    if (bin_size > size - at - 8)
      return kroGLTFRefuse(g, nullptr,
                           "GLB chunk of %llu bytes at byte %llu runs past the file's end",
                           (unsigned long long)bin_size, (unsigned long long)at);
    if (kroLittle32(b + at + 4) == KRO_GLB_BIN) {
      g->bin = b + at + 8;
      g->bin_size = bin_size;
    }
  }
  return 1;
}

int kroGLTFParseJSON(kroGLTF *g) {
  g->doc.Parse<KRO_GLTF_PARSE>(g->json, g->json_size);
  if (g->doc.HasParseError()) {
    kroGLTFRefuse(g, nullptr, "JSON: %s at line %ld",
                  rapidjson::GetParseError_En(g->doc.GetParseError()),
                  kroGLTFLineAt(g->json, g->doc.GetErrorOffset()));
    return 0;
  }
  if (!g->doc.IsObject())
    return kroGLTFRefuse(g, nullptr, "the JSON text is not an object");
  const Value *asset = kroGLTFMember(g->doc, "asset");
  const char *version = asset ? kroGLTFGetString(*asset, "version") : nullptr;
  if (!version || strncmp(version, "2.", 2) != 0)
    return kroGLTFRefuse(g, asset ? asset : &g->doc, "not glTF 2.x (asset.version)");
  return 1;
}

int kroGLTFBase64Value(int c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

/* The bytes of a base64 data: URI into a new buffer (*size of them); null when not one. */
uint8_t *kroGLTFDecodeDataURI(const char *uri, size_t length, uint64_t *size, int *malformed) {
  const char *comma = (const char *)memchr(uri, ',', length);
  *malformed = !comma || comma - uri < 12 || strncmp(comma - 7, ";base64", 7) != 0;
  if (*malformed)
    return nullptr;
  const char *text = comma + 1;
  size_t chars = length - (size_t)(text - uri);
  while (chars > 0 && text[chars - 1] == '=')
    chars--;
  uint8_t *out = (uint8_t *)kroAllocate(chars * 3 / 4 + 1);
  if (!out)
    return nullptr;
  uint32_t bits = 0;
  int held = 0;
  size_t n = 0;
  for (size_t i = 0; i < chars; i++) {
    int v = kroGLTFBase64Value((unsigned char)text[i]);
    if (v < 0) {
      free(out);
      *malformed = 1;
      return nullptr;
    }
    bits = bits << 6 | (uint32_t)v;
    if ((held += 6) >= 8) {
      held -= 8;
      out[n++] = (uint8_t)(bits >> held);
    }
  }
  *size = n;
  return out;
}

/* A relative URI's path: %XX escapes decoded; 0 when it has a scheme or does not fit. */
int kroGLTFUriPath(const char *uri, char *out, size_t out_chars) {
  if (strstr(uri, "://") || uri[0] == '/')
    return 0;
  size_t n = 0;
  for (const char *p = uri; *p; p++) {
    int c = (unsigned char)*p;
    if (c == '%' && isxdigit((unsigned char)p[1]) && isxdigit((unsigned char)p[2])) {
      char hex[3] = {p[1], p[2], 0};
      char *end;
      c = (int)strtol(hex, &end, 16);
      if (*end || c == 0)
        return 0;
      p += 2;
    }
    if (n + 1 >= out_chars)
      return 0;
    out[n++] = (char)c;
  }
  out[n] = 0;
  return 1;
}

/* The path of a file beside the glTF file. */
int kroGLTFBesidePath(kroGLTF *g, const char *name, char *out, size_t out_chars) {
  const char *slash = strrchr(g->path, '/');
  int folder = slash ? (int)(slash - g->path + 1) : 0;
  return snprintf(out, out_chars, "%.*s%s", folder, g->path, name) < (int)out_chars;
}

int kroGLTFLoadBuffer(kroGLTF *g, const Value &buffer, kroGLTFBuffer *out) {
  uint64_t length;
  if (!kroGLTFGetIndex(g, buffer, "byteLength", UINT64_MAX, 0, &length))
    return 0;
  if (!kroGLTFMember(buffer, "byteLength"))
    return kroGLTFRefuse(g, &buffer, "buffer without \"byteLength\"");
  const Value *uri = kroGLTFMember(buffer, "uri");
  uint64_t have = 0;
  if (!uri) {
    if (out != g->buffers || !g->bin)
      return kroGLTFRefuse(g, &buffer, "buffer without \"uri\" outside a GLB's first buffer");
    out->bytes = g->bin;
    have = g->bin_size;
  } else if (!uri->IsString()) {
    return kroGLTFRefuse(g, &buffer, "\"uri\" is not a text");
  } else if (strncmp(uri->GetString(), "data:", 5) == 0) {
    int malformed;
    out->owned = kroGLTFDecodeDataURI(uri->GetString(), uri->GetStringLength(), &have, &malformed);
    if (!out->owned)
      return kroGLTFRefuse(g, &buffer, malformed ? "a data: URI that is not base64" : "no memory");
    out->bytes = out->owned;
  } else {
    char name[KRO_OUT_PATH_CHARS], found[KRO_OUT_PATH_CHARS];
    if (!kroGLTFUriPath(uri->GetString(), name, sizeof name) ||
        !kroGLTFBesidePath(g, name, found, sizeof found))
      return kroGLTFRefuse(g, &buffer, "the buffer \"%.200s\" is not a relative file name",
                           uri->GetString());
    size_t count = 0;
    if (kroReadPictureFile(found, (long)KRO_GLTF_MAX_BYTES, &out->owned, &count) !=
        KRO_PICTURE_READ_OK)
      return kroGLTFRefuse(g, &buffer, "the buffer file %.200s cannot be read", found);
    out->bytes = out->owned;
    have = count;
  }
  if (have < length)
    return kroGLTFRefuse(g, &buffer, "buffer of %llu bytes holds only %llu",
                         (unsigned long long)length, (unsigned long long)have);
  out->size = length;
  return 1;
}

int kroGLTFLoadBuffers(kroGLTF *g) {
  const Value *list;
  if (!kroGLTFTopArray(g, "buffers", &list))
    return 0;
  g->buffers = (kroGLTFBuffer *)kroAllocateZeroed((list->Size() + 1) * sizeof(kroGLTFBuffer));
  if (!g->buffers)
    return kroGLTFRefuse(g, nullptr, "no memory");
  for (unsigned i = 0; i < list->Size(); i++) {
    g->buffer_count = i + 1;
    if (!kroGLTFLoadBuffer(g, (*list)[i], &g->buffers[i]))
      return 0;
  }
  return 1;
}

/* ---- accessors ---- */

int kroGLTFComponentBytes(int type) {
  switch (type) {
  case 5120:
  case 5121:
    return 1; /* byte, unsigned byte */
  case 5122:
  case 5123:
    return 2; /* short, unsigned short */
  case 5125:
  case 5126:
    return 4; /* unsigned int, float */
  default:
    return 0;
  }
}

/* Accessor `index` checked whole against its buffer view and buffer: `type` ("VEC3") and a
 * component type among `allowed` (0-ended). `what` names the use in a refusal. */
int kroGLTFGetSpan(kroGLTF *g, uint64_t index, const char *type, const int *allowed,
                   const char *what, kroGLTFSpan *span) {
  const Value *accessors, *views;
  if (!kroGLTFTopArray(g, "accessors", &accessors) || !kroGLTFTopArray(g, "bufferViews", &views))
    return 0;
  if (index >= accessors->Size())
    return kroGLTFRefuse(g, nullptr, "%s accessor %llu of %u", what, (unsigned long long)index,
                         accessors->Size());
  const Value &a = (*accessors)[(unsigned)index];
  uint64_t component, count, offset, view_index, view_offset, view_length, stride, buffer;
  const char *kind = kroGLTFGetString(a, "type");
  if (!kroGLTFGetIndex(g, a, "componentType", 99999, 0, &component) ||
      !kroGLTFGetIndex(g, a, "count", UINT32_MAX, 0, &count) ||
      !kroGLTFGetIndex(g, a, "byteOffset", UINT32_MAX, 0, &offset))
    return 0;
  if (kroGLTFMember(a, "sparse"))
    return kroGLTFRefuse(g, &a, "sparse accessors are not read");
  if (!kind || strcmp(kind, type) != 0)
    return kroGLTFRefuse(g, &a, "%s accessor %llu is not %s", what, (unsigned long long)index,
                         type);
  int ok = 0;
  for (const int *t = allowed; *t; t++)
    ok |= (uint64_t)*t == component;
  if (!ok)
    return kroGLTFRefuse(g, &a, "%s accessor %llu: component type %llu not read", what,
                         (unsigned long long)index, (unsigned long long)component);
  if (!kroGLTFGetRequired(g, a, "bufferView", views->Size(), &view_index))
    return 0;
  const Value &v = (*views)[(unsigned)view_index];
  if (!kroGLTFGetRequired(g, v, "buffer", g->buffer_count, &buffer) ||
      !kroGLTFGetIndex(g, v, "byteOffset", UINT32_MAX, 0, &view_offset) ||
      !kroGLTFGetIndex(g, v, "byteLength", UINT32_MAX, 0, &view_length) ||
      !kroGLTFGetIndex(g, v, "byteStride", 252, 0, &stride))
    return 0;
  uint64_t components = type[0] == 'V' ? (uint64_t)(type[3] - '0') : 1;
  uint64_t element = components * (uint64_t)kroGLTFComponentBytes((int)component);
  if (stride == 0)
    stride = element;
  else if (stride < element)
    return kroGLTFRefuse(g, &v, "buffer view %llu: stride %llu is less than the %llu-byte element",
                         (unsigned long long)view_index, (unsigned long long)stride,
                         (unsigned long long)element);
  if (view_offset + view_length > g->buffers[buffer].size)
    return kroGLTFRefuse(g, &v, "buffer view %llu runs past its buffer's %llu bytes",
                         (unsigned long long)view_index,
                         (unsigned long long)g->buffers[buffer].size);
  if (count > 0 && offset + stride * (count - 1) + element > view_length)
    return kroGLTFRefuse(g, &a, "%s accessor %llu: %llu elements run past its buffer view", what,
                         (unsigned long long)index, (unsigned long long)count);
  const Value *normalized = kroGLTFMember(a, "normalized");
  span->base = g->buffers[buffer].bytes + view_offset + offset;
  span->stride = stride;
  span->count = count;
  span->component = (int)component;
  span->normalized = normalized && normalized->IsBool() && normalized->GetBool();
  return 1;
}

float kroGLTFReadFloat(const uint8_t *p) {
  uint32_t bits = kroLittle32(p);
  float f;
  memcpy(&f, &bits, sizeof f);
  return f;
}

/* Component k of element i as a number (integers as they stand, or normalized to 0..1). */
float kroGLTFComponent(const kroGLTFSpan *s, uint64_t i, int k) {
  const uint8_t *p = s->base + i * s->stride;
  switch (s->component) {
  case 5121:
    return s->normalized ? p[k] / 255.0f : p[k];
  case 5123:
    return s->normalized ? kroLittle16(p + 2 * k) / 65535.0f : kroLittle16(p + 2 * k);
  case 5125:
    return (float)kroLittle32(p + 4 * k);
  default:
    return kroGLTFReadFloat(p + 4 * k);
  }
}

/* ---- the node tree ---- */

typedef struct kroGLTFMatrix {
  double m[16]; /* column-major, as glTF writes it */
} kroGLTFMatrix;

kroGLTFMatrix kroGLTFMultiply(const kroGLTFMatrix &a, const kroGLTFMatrix &b) {
  kroGLTFMatrix r;
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++) {
      double sum = 0;
      for (int k = 0; k < 4; k++)
        sum += a.m[k * 4 + row] * b.m[c * 4 + k];
      r.m[c * 4 + row] = sum;
    }
  return r;
}

/* A node's own transform: its matrix, or translation * rotation * scale. */
int kroGLTFLocalMatrix(kroGLTF *g, const Value &node, kroGLTFMatrix *out) {
  double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
  double *m = out->m;
  for (int i = 0; i < 16; i++)
    m[i] = i % 5 == 0;
  if (kroGLTFMember(node, "matrix"))
    return kroGLTFGetFloats(g, node, "matrix", 16, m);
  if (!kroGLTFGetFloats(g, node, "translation", 3, t) ||
      !kroGLTFGetFloats(g, node, "rotation", 4, q) || !kroGLTFGetFloats(g, node, "scale", 3, s))
    return 0;
  double n = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (n == 0)
    return kroGLTFRefuse(g, &node, "\"rotation\" is the zero quaternion");
  double x = q[0] / n, y = q[1] / n, z = q[2] / n, w = q[3] / n;
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                       2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                       2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
  for (int c = 0; c < 3; c++)
    for (int row = 0; row < 3; row++)
      m[c * 4 + row] = r[c * 3 + row] * s[c];
  m[12] = t[0], m[13] = t[1], m[14] = t[2];
  return 1;
}

/* World transforms of the scene's nodes, in an order where a parent comes before its
 * children (order, *reached of them). A child listed twice, a node with two parents, and a
 * cycle are refused. */
int kroGLTFFlattenNodes(kroGLTF *g, const Value &nodes, kroGLTFMatrix *world, uint32_t *order,
                        uint32_t *reached) {
  uint32_t count = nodes.Size();
  int64_t *parent = (int64_t *)kroAllocate((count + 1) * sizeof(int64_t));
  if (!parent)
    return kroGLTFRefuse(g, nullptr, "no memory");
  for (uint32_t i = 0; i < count; i++)
    parent[i] = -1;
  int ok = 1;
  for (uint32_t i = 0; ok && i < count; i++) {
    const Value *children = kroGLTFMember(nodes[i], "children");
    if (children && !children->IsArray())
      ok = kroGLTFRefuse(g, &nodes[i], "\"children\" is not an array");
    for (unsigned k = 0; ok && children && k < children->Size(); k++) {
      const Value &c = (*children)[k];
      if (!c.IsUint() || c.GetUint() >= count)
        ok = kroGLTFRefuse(g, &nodes[i], "node %u: a child is not a node index", i);
      else if (c.GetUint() == i)
        ok = kroGLTFRefuse(g, &nodes[i], "node %u is its own child (a cycle)", i);
      else if (parent[c.GetUint()] >= 0)
        ok = kroGLTFRefuse(g, &nodes[i], "node %u has two parents (%lld and %u)", c.GetUint(),
                           (long long)parent[c.GetUint()], i);
      else
        parent[c.GetUint()] = i;
    }
  }
  /* A node whose parents never end in a root lies on a cycle: walk up from each node, marking
   * the walk (1) until a node known to end in a root (2) or a root. */
  uint8_t *state = ok ? (uint8_t *)kroAllocateZeroed(count + 1) : nullptr;
  if (ok && !state)
    ok = kroGLTFRefuse(g, nullptr, "no memory");
  for (uint32_t i = 0; ok && i < count; i++) {
    int64_t j = i;
    while (state[j] == 0 && parent[j] >= 0) {
      state[j] = 1;
      j = parent[j];
    }
    if (state[j] == 1)
      ok = kroGLTFRefuse(g, &nodes[(unsigned)j], "node %lld lies on a cycle", (long long)j);
    for (j = i; state[j] == 1; j = parent[j])
      state[j] = 2;
    state[j] = 2;
  }
  free(state);
  /* Roots: the scene's nodes (scene, else the first), else every node without a parent. */
  const Value *scenes;
  uint64_t scene = 0;
  uint32_t n = 0;
  ok = ok && kroGLTFTopArray(g, "scenes", &scenes) &&
       kroGLTFGetIndex(g, g->doc, "scene", scenes->Size() ? scenes->Size() - 1 : 0, 0, &scene);
  const Value *roots =
      ok && scenes->Size() ? kroGLTFMember((*scenes)[(unsigned)scene], "nodes") : nullptr;
  if (ok && roots && !roots->IsArray())
    ok = kroGLTFRefuse(g, &(*scenes)[(unsigned)scene], "\"nodes\" is not an array");
  if (ok && roots) {
    for (unsigned k = 0; ok && k < roots->Size(); k++) {
      const Value &r = (*roots)[k];
      if (!r.IsUint() || r.GetUint() >= count)
        ok = kroGLTFRefuse(g, &(*scenes)[(unsigned)scene], "scene node %u is not a node index", k);
      else if (parent[r.GetUint()] != -1)
        ok = kroGLTFRefuse(g, &(*scenes)[(unsigned)scene], "scene node %u is not a root",
                           r.GetUint());
      else {
        parent[r.GetUint()] = -2; /* placed */
        order[n++] = r.GetUint();
      }
    }
  } else if (ok && !scenes->Size()) {
    for (uint32_t i = 0; i < count; i++)
      if (parent[i] == -1) {
        parent[i] = -2;
        order[n++] = i;
      }
  }
  /* Breadth first: each node is reached once, through its one parent. Nodes of a cycle have
   * parents and are never reached from a root. */
  for (uint32_t at = 0; ok && at < n; at++) {
    uint32_t i = order[at];
    kroGLTFMatrix local;
    if (!kroGLTFLocalMatrix(g, nodes[i], &local)) {
      ok = 0;
      break;
    }
    world[i] = parent[i] >= 0 ? kroGLTFMultiply(world[parent[i]], local) : local;
    const Value *children = kroGLTFMember(nodes[i], "children");
    for (unsigned k = 0; children && k < children->Size(); k++)
      order[n++] = (*children)[k].GetUint();
  }
  free(parent);
  *reached = n;
  return ok;
}

/* glTF's base colour factor and vertex colours are linear light; the engine draws colours as
 * display values, as its pictures hold them (sRGB, as glTF's base colour pictures are): the factor
 * is encoded with the sRGB curve so a factor and a picture of one colour show alike. 0..1 in, 0..1
 * out. */
float kroGLTFDisplayColour(double linear) {
  double c = !(linear > 0) ? 0 : linear > 1 ? 1 : linear; /* NaN reads as 0 */
  return (float)(c <= 0.0031308 ? 12.92 * c : 1.055 * pow(c, 1 / 2.4) - 0.055);
}

/* ---- meshes ---- */

const int KRO_FLOATS[] = {5126, 0};
const int KRO_TEXCOORDS[] = {5126, 5121, 5123, 0};
const int KRO_INDICES[] = {5121, 5123, 5125, 0};

/* COLOR_0 (VEC3 or VEC4 of floats or of normalized unsigned bytes or shorts) as display values,
 * 3 floats a vertex (alpha has no place in the engine's vertices); null after a refusal. */
float *kroGLTFVertexColours(kroGLTF *g, const Value &primitive, uint64_t accessor,
                            uint64_t vertices) {
  const Value *accessors;
  kroGLTFSpan span;
  if (!kroGLTFTopArray(g, "accessors", &accessors))
    return nullptr;
  const char *type = accessor < accessors->Size()
                         ? kroGLTFGetString((*accessors)[(unsigned)accessor], "type")
                         : nullptr;
  if (!kroGLTFGetSpan(g, accessor, type && !strcmp(type, "VEC4") ? "VEC4" : "VEC3", KRO_TEXCOORDS,
                      "COLOR_0", &span))
    return nullptr;
  if (span.count != vertices) {
    kroGLTFRefuse(g, &primitive, "attributes of unequal counts");
    return nullptr;
  }
  if (span.component != 5126 && !span.normalized) {
    kroGLTFRefuse(g, &primitive, "COLOR_0 of integers that are not normalized");
    return nullptr;
  }
  float *colours = (float *)kroAllocate((size_t)vertices * 3 * sizeof(float) + 1);
  if (!colours) {
    kroGLTFRefuse(g, nullptr, "no memory");
    return nullptr;
  }
  for (uint64_t v = 0; v < vertices; v++)
    for (int k = 0; k < 3; k++)
      colours[3 * v + k] = kroGLTFDisplayColour(kroGLTFComponent(&span, v, k));
  return colours;
}

/* `count` packed little-endian 16-bit indices at `from` widened into out, eight at a time by
 * vector instructions where the processor has them; the largest of them. */
uint32_t kroGLTFWidenShorts(const uint8_t *from, uint64_t count, uint32_t *out) {
  uint64_t i = 0;
  uint32_t largest = 0;
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  /* The largest so far in each lane, its top bit flipped so that signed order is unsigned. */
  const __m128i zero = _mm_setzero_si128(), flip = _mm_set1_epi16((short)0x8000);
  __m128i top = flip;
  for (; i + 8 <= count; i += 8) {
    const __m128i eight = _mm_loadu_si128((const __m128i *)(from + 2 * i));
    top = _mm_max_epi16(top, _mm_xor_si128(eight, flip));
    _mm_storeu_si128((__m128i *)(out + i), _mm_unpacklo_epi16(eight, zero));
    _mm_storeu_si128((__m128i *)(out + i + 4), _mm_unpackhi_epi16(eight, zero));
  }
  uint16_t lanes[8];
  _mm_storeu_si128((__m128i *)lanes, _mm_xor_si128(top, flip));
  for (int k = 0; k < 8; k++)
    largest = lanes[k] > largest ? lanes[k] : largest;
#endif
  for (; i < count; i++) {
    out[i] = kroLittle16(from + 2 * i);
    largest = out[i] > largest ? out[i] : largest;
  }
  return largest;
}

/* The primitive's corners as vertex numbers, each checked against the `vertices` (in order when
 * there are no indices); a mirroring transform swaps each triangle's last two corners so the
 * winding stays counter-clockwise. */
int kroGLTFReadCorners(kroGLTF *g, const Value &primitive, const kroGLTFSpan *ix, uint64_t corners,
                       uint64_t vertices, int mirror, uint32_t *out) {
  uint32_t largest = 0;
  int found = 0; /* largest already found while reading */
  if (!ix)
    for (uint64_t i = 0; i < corners; i++)
      out[i] = (uint32_t)i;
  else if (ix->component == 5125 && ix->stride == 4 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    memcpy(out, ix->base, (size_t)corners * 4); /* packed, as exporters write them */
  else if (ix->component == 5125)
    for (uint64_t i = 0; i < corners; i++)
      out[i] = kroLittle32(ix->base + i * ix->stride);
  else if (ix->component == 5123 && ix->stride == 2)
    largest = kroGLTFWidenShorts(ix->base, corners, out), found = 1;
  else if (ix->component == 5123)
    for (uint64_t i = 0; i < corners; i++)
      out[i] = kroLittle16(ix->base + i * ix->stride);
  else
    for (uint64_t i = 0; i < corners; i++)
      out[i] = ix->base[i * ix->stride];
  /* Eight lanes at a time, a fixed count the compiler turns into vector instructions. */
  uint32_t lanes[8] = {0};
  uint64_t i = found ? corners : 0;
  for (; i + 8 <= corners; i += 8)
    for (int k = 0; k < 8; k++)
      lanes[k] = out[i + k] > lanes[k] ? out[i + k] : lanes[k];
  for (; i < corners; i++)
    largest = out[i] > largest ? out[i] : largest;
  for (int k = 0; k < 8; k++)
    largest = lanes[k] > largest ? lanes[k] : largest;
  /* Only when the largest index is past the vertices is each one looked at, for the first. */
  for (uint64_t i = 0; largest >= vertices && i < corners; i++)
    if (out[i] >= vertices)
      return kroGLTFRefuse(g, &primitive, "index %u (corner %llu) past the %llu vertices", out[i],
                           (unsigned long long)i, (unsigned long long)vertices);
  for (uint64_t i = 0; mirror && i < corners; i += 3) {
    uint32_t second = out[i + 1];
    out[i + 1] = out[i + 2];
    out[i + 2] = second;
  }
  return 1;
}

/* Element i's first n components as numbers; floats read straight. */
inline void kroGLTFElement(const kroGLTFSpan *s, uint64_t i, int n, double *out) {
  if (s->component == 5126)
    for (int k = 0; k < n; k++)
      out[k] = kroGLTFReadFloat(s->base + i * s->stride + 4 * k);
  else
    for (int k = 0; k < n; k++)
      out[k] = kroGLTFComponent(s, i, k);
}

/* kroGLTFWorldVertices for the common case, a node at rest in the world (identity matrix) with
 * float positions, normals and coordinates: positions copied as they stand, normals scaled to
 * unit length as there. */
void kroGLTFRestingVertices(const kroGLTFSpan *p, const kroGLTFSpan *nrm, const kroGLTFSpan *tc,
                            float *vertices) {
  for (uint64_t v = 0; v < p->count; v++) {
    float *out = vertices + KRO_VERTEX_FLOATS * v;
    const uint8_t *position = p->base + v * p->stride, *normal = nrm->base + v * nrm->stride,
                  *coordinate = tc->base + v * tc->stride;
    double length = 0, n[3];
    for (int a = 0; a < 3; a++) {
      out[a] = kroGLTFReadFloat(position + 4 * a);
      n[a] = kroGLTFReadFloat(normal + 4 * a);
      length += n[a] * n[a];
    }
    double scale = length > 0 ? 1 / sqrt(length) : 1;
    for (int a = 0; a < 3; a++)
      out[3 + a] = (float)(n[a] * scale);
    out[6] = kroGLTFReadFloat(coordinate);
    out[7] = 1.0f - kroGLTFReadFloat(coordinate + 4); /* glTF's v runs down */
  }
}

/* Each vertex in world space: KRO_VERTEX_FLOATS floats (position, unit normal, texture
 * coordinate (u, 1 - v)), normals and coordinates 0 where the file has none. `c` is the cofactor
 * matrix of the world transform (the inverse transpose times the determinant), by columns. */
void kroGLTFWorldVertices(const kroGLTFSpan *p, const kroGLTFSpan *nrm, const kroGLTFSpan *tc,
                          const double *m, const double *c, int mirror, float *vertices) {
  static const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  if (nrm && tc && p->component == 5126 && nrm->component == 5126 && tc->component == 5126 &&
      !memcmp(m, identity, sizeof identity))
    return kroGLTFRestingVertices(p, nrm, tc, vertices);
  for (uint64_t v = 0; v < p->count; v++) {
    float *out = vertices + KRO_VERTEX_FLOATS * v;
    double e[3];
    kroGLTFElement(p, v, 3, e);
    for (int a = 0; a < 3; a++)
      out[a] = (float)(m[a] * e[0] + m[4 + a] * e[1] + m[8 + a] * e[2] + m[12 + a]);
    out[3] = out[4] = out[5] = out[6] = out[7] = 0.0f;
    if (nrm) {
      kroGLTFElement(nrm, v, 3, e);
      double w[3], length = 0;
      for (int a = 0; a < 3; a++) {
        w[a] = (c[a] * e[0] + c[3 + a] * e[1] + c[6 + a] * e[2]) * (mirror ? -1 : 1);
        length += w[a] * w[a];
      }
      double scale = length > 0 ? 1 / sqrt(length) : 1;
      for (int a = 0; a < 3; a++)
        out[3 + a] = (float)(w[a] * scale);
    }
    if (tc) {
      kroGLTFElement(tc, v, 2, e);
      out[6] = (float)e[0];
      out[7] = 1.0f - (float)e[1]; /* glTF's v runs down */
    }
  }
}

/* The world vertices (and colours, if any) copied to each triangle's rows; face normals, and
 * vertex normals from them when the file has none. */
int kroGLTFFillRows(const float *vertices, const float *colours, const uint32_t *corner, int rows,
                    int has_normal, int has_tc, kroMesh *mesh) {
  mesh->triangles = rows; /* before the growth: a failed one still frees what was made */
  kroIncreaseObject(&mesh->op, 0, rows);
  kroIncreaseObject(&mesh->nc, 0, rows);
  kroIncreaseCoords(&mesh->realn, 0, rows);
  if (has_tc)
    kroIncreaseTexCoords(&mesh->tc, 0, rows);
  if (colours)
    kroIncreaseObject(&mesh->colors, 0, rows);
  if (rows && (!mesh->op || !mesh->nc || !mesh->realn || (has_tc && !mesh->tc) ||
               (colours && !mesh->colors)))
    return 0; /* reported by the growth */
  for (int r = 0; r < rows; r++) {
    for (int k = 0; k < 3; k++) {
      const float *from = vertices + KRO_VERTEX_FLOATS * corner[3 * r + k];
      if (colours)
        memcpy(&mesh->colors[r][k * 3], colours + 3 * corner[3 * r + k], 3 * sizeof(float));
      memcpy(&mesh->op[r][k * 3], from, 3 * sizeof(float));
      if (has_normal)
        memcpy(&mesh->nc[r][k * 3], from + 3, 3 * sizeof(float));
      if (has_tc)
        memcpy(&mesh->tc[r][k * 2], from + 6, 2 * sizeof(float));
    }
    if (has_normal)
      kroFaceNormals(&mesh->op[r], &mesh->realn[r], 1);
  }
  if (!has_normal)
    kroComputeNormals(mesh->op, mesh->nc, mesh->realn, (uint32_t)rows, 0);
  return 1;
}

/* One primitive's triangles into mesh, in world space (world): rows, or with g->indexed and
 * normals in the file its own vertices and indices. */
int kroGLTFReadPrimitive(kroGLTF *g, const Value &primitive, const kroGLTFMatrix &world,
                         uint64_t material_count, kroMesh *mesh) {
  uint64_t mode, position, normal, texcoord, indices, material, colour;
  const Value *attributes = kroGLTFMember(primitive, "attributes");
  if (!attributes || !attributes->IsObject())
    return kroGLTFRefuse(g, &primitive, "a primitive without \"attributes\"");
  if (!kroGLTFGetIndex(g, primitive, "mode", 6, 4, &mode) ||
      !kroGLTFGetIndex(g, primitive, "material", material_count ? material_count - 1 : 0,
                       material_count, &material))
    return 0;
  if (material == 0 && material_count == 0 && kroGLTFMember(primitive, "material"))
    return kroGLTFRefuse(g, &primitive, "\"material\" points into an empty list");
  if (mode != 4)
    return kroGLTFRefuse(g, &primitive, "primitive mode %llu: only triangles (4) are read",
                         (unsigned long long)mode);
  kroGLTFSpan p, nrm, tc, ix;
  int has_normal = kroGLTFMember(*attributes, "NORMAL") != nullptr;
  int has_tc = kroGLTFMember(*attributes, "TEXCOORD_0") != nullptr;
  int has_ix = kroGLTFMember(primitive, "indices") != nullptr;
  int has_colour = kroGLTFMember(*attributes, "COLOR_0") != nullptr;
  if (!kroGLTFGetRequired(g, *attributes, "POSITION", UINT32_MAX, &position) ||
      !kroGLTFGetIndex(g, *attributes, "NORMAL", UINT32_MAX, 0, &normal) ||
      !kroGLTFGetIndex(g, *attributes, "TEXCOORD_0", UINT32_MAX, 0, &texcoord) ||
      !kroGLTFGetIndex(g, primitive, "indices", UINT32_MAX, 0, &indices) ||
      !kroGLTFGetIndex(g, *attributes, "COLOR_0", UINT32_MAX, 0, &colour) ||
      !kroGLTFGetSpan(g, position, "VEC3", KRO_FLOATS, "POSITION", &p) ||
      (has_normal && !kroGLTFGetSpan(g, normal, "VEC3", KRO_FLOATS, "NORMAL", &nrm)) ||
      (has_tc && !kroGLTFGetSpan(g, texcoord, "VEC2", KRO_TEXCOORDS, "TEXCOORD_0", &tc)) ||
      (has_ix && !kroGLTFGetSpan(g, indices, "SCALAR", KRO_INDICES, "indices", &ix)))
    return 0;
  if ((has_normal && nrm.count != p.count) || (has_tc && tc.count != p.count))
    return kroGLTFRefuse(g, &primitive, "attributes of unequal counts");
  uint64_t corners = has_ix ? ix.count : p.count;
  if (corners % 3)
    return kroGLTFRefuse(g, &primitive, "%llu corners do not make whole triangles",
                         (unsigned long long)corners);
  if (corners / 3 > KRO_GLTF_MAX_TRIANGLES)
    return kroGLTFRefuse(g, &primitive, "more than %u triangles", (unsigned)KRO_GLTF_MAX_TRIANGLES);
  const double *m = world.m;
  /* Normals go through the cofactor matrix (c[3 * j + i] is row i, column j); a mirroring
   * transform (negative determinant) turns the winding, kept counter-clockwise. */
  double c[9] = {m[5] * m[10] - m[6] * m[9], m[6] * m[8] - m[4] * m[10], m[4] * m[9] - m[5] * m[8],
                 m[2] * m[9] - m[1] * m[10], m[0] * m[10] - m[2] * m[8], m[1] * m[8] - m[0] * m[9],
                 m[1] * m[6] - m[2] * m[5],  m[2] * m[4] - m[0] * m[6],  m[0] * m[5] - m[1] * m[4]};
  int mirror = m[0] * c[0] + m[4] * c[3] + m[8] * c[6] < 0;
  mesh->material_ref = (int)material;
  uint32_t *corner = (uint32_t *)kroAllocate((size_t)corners * sizeof(uint32_t));
  float *vertices = (float *)kroAllocate((size_t)p.count * KRO_VERTEX_FLOATS * sizeof(float));
  int ok = corner && vertices ? 1 : kroGLTFRefuse(g, nullptr, "no memory");
  ok = ok &&
       kroGLTFReadCorners(g, primitive, has_ix ? &ix : nullptr, corners, p.count, mirror, corner);
  float *colours = ok && has_colour ? kroGLTFVertexColours(g, primitive, colour, p.count) : nullptr;
  ok = ok && (!has_colour || colours);
  if (ok)
    kroGLTFWorldVertices(&p, has_normal ? &nrm : nullptr, has_tc ? &tc : nullptr, m, c, mirror,
                         vertices);
  if (ok && g->indexed && has_normal) {
    mesh->vertex = vertices, mesh->index = corner, mesh->color = colours;
    mesh->vertices = (int)p.count, mesh->triangles = (int)(corners / 3), mesh->has_tc = has_tc;
    return 1;
  }
  ok = ok &&
       kroGLTFFillRows(vertices, colours, corner, (int)(corners / 3), has_normal, has_tc, mesh);
  free(vertices);
  free(corner);
  free(colours);
  return ok;
}

int kroGLTFMaterialCount(kroGLTF *g, uint64_t *count) {
  const Value *materials;
  if (!kroGLTFTopArray(g, "materials", &materials))
    return 0;
  *count = materials->Size();
  return 1;
}

int kroGLTFLoadMeshes(kroGLTF *g, kroMesh **out, int *out_count) {
  const Value *nodes, *meshes;
  uint64_t materials;
  if (!kroGLTFTopArray(g, "nodes", &nodes) || !kroGLTFTopArray(g, "meshes", &meshes) ||
      !kroGLTFMaterialCount(g, &materials))
    return 0;
  uint32_t count = nodes->Size(), reached = 0;
  kroGLTFMatrix *world = (kroGLTFMatrix *)kroAllocate((count + 1) * sizeof(kroGLTFMatrix));
  uint32_t *order = (uint32_t *)kroAllocate((count + 1) * sizeof(uint32_t));
  int ok = world && order ? 1 : kroGLTFRefuse(g, nullptr, "no memory");
  ok = ok && kroGLTFFlattenNodes(g, *nodes, world, order, &reached);
  /* The rows: one per primitive of each reached node's mesh. */
  uint64_t rows = 0, mesh;
  for (uint32_t at = 0; ok && at < reached; at++) {
    const Value &node = (*nodes)[order[at]];
    if (!kroGLTFMember(node, "mesh"))
      continue;
    ok = kroGLTFGetRequired(g, node, "mesh", meshes->Size(), &mesh);
    const Value *primitives = ok ? kroGLTFMember((*meshes)[(unsigned)mesh], "primitives") : nullptr;
    if (ok && (!primitives || !primitives->IsArray()))
      ok = kroGLTFRefuse(g, &(*meshes)[(unsigned)mesh], "a mesh without \"primitives\"");
    rows += ok ? primitives->Size() : 0;
  }
  kroMesh *all = nullptr;
  if (ok && rows > (uint64_t)KRO_ASE_MAX_COUNT)
    ok = kroGLTFRefuse(g, nullptr, "%llu mesh instances", (unsigned long long)rows);
  if (ok && rows && !(all = (kroMesh *)kroAllocateZeroed(rows * sizeof(kroMesh))))
    ok = kroGLTFRefuse(g, nullptr, "no memory");
  int made = 0;
  for (uint32_t at = 0; ok && at < reached; at++) {
    const Value &node = (*nodes)[order[at]];
    if (!kroGLTFMember(node, "mesh"))
      continue;
    kroGLTFGetRequired(g, node, "mesh", meshes->Size(), &mesh);
    const Value &primitives = (*meshes)[(unsigned)mesh]["primitives"];
    const char *name = kroGLTFGetString(node, "name");
    for (unsigned k = 0; ok && k < primitives.Size(); k++) {
      kroMesh *row = &all[made++];
      snprintf(row->node_name, sizeof row->node_name, "%s", name ? name : "");
      ok = kroGLTFReadPrimitive(g, primitives[k], world[order[at]], materials, row);
    }
  }
  free(world);
  free(order);
  if (!ok) {
    kroFreeMeshArray(&all, made);
    return 0;
  }
  *out = all;
  *out_count = made;
  return 1;
}

/* ---- materials ---- */

/* KHR_texture_transform (offset, rotation, scale about texture coordinate (0, 0) of glTF's
 * downward v) as the map's transform about the picture's centre with v upward. Exact when the
 * two scales are equal or there is no rotation; otherwise the rotation is kept with each scale
 * on its own axis, and a warning says so. */
void kroGLTFReadTextureTransform(kroGLTF *g, const Value &info, kroMaterialMap *map, int index) {
  const Value *ext = kroGLTFMember(info, "extensions");
  const Value *t = ext ? kroGLTFMember(*ext, "KHR_texture_transform") : nullptr;
  double offset[2] = {0, 0}, scale[2] = {1, 1}, r = 0;
  if (!t || !kroGLTFGetFloats(g, *t, "offset", 2, offset) ||
      !kroGLTFGetFloats(g, *t, "scale", 2, scale))
    return;
  const Value *rotation = kroGLTFMember(*t, "rotation");
  if (rotation && rotation->IsNumber())
    r = rotation->GetDouble();
  /* The map scales after turning, glTF before: the same for equal scales and for whole half
   * turns, the same with the scales swapped for odd quarter turns; no other turn of unequal
   * scales can be written. */
  int quarter = fabs(cos(r)) < 1e-6;
  if (!quarter && fabs(sin(r)) > 1e-6 && scale[0] != scale[1])
    printf("Warning: %s, material %d: a texture transform turning unequal scales is drawn "
           "approximately\n",
           g->path, index);
  map->u_tiling = (float)scale[quarter];
  map->v_tiling = (float)scale[!quarter];
  map->angle = (float)r;
  map->u_offset = (float)(offset[0] - 0.5 + 0.5 * scale[0] * cos(r) + 0.5 * scale[1] * sin(r));
  map->v_offset = (float)(0.5 - offset[1] - 0.5 * scale[1] * cos(r) + 0.5 * scale[0] * sin(r));
}

/* The picture of texture `index`: a file name into the map, or its bytes when embedded. */
int kroGLTFFindImage(kroGLTF *g, uint64_t index, kroMaterialMap *map, const uint8_t **bytes,
                     uint64_t *size, uint8_t **owned) {
  const Value *textures, *images, *views;
  uint64_t source, view;
  if (!kroGLTFTopArray(g, "textures", &textures) || !kroGLTFTopArray(g, "images", &images) ||
      !kroGLTFTopArray(g, "bufferViews", &views))
    return 0;
  if (index >= textures->Size())
    return kroGLTFRefuse(g, nullptr, "texture %llu of %u", (unsigned long long)index,
                         textures->Size());
  if (!kroGLTFGetRequired(g, (*textures)[(unsigned)index], "source", images->Size(), &source))
    return 0;
  const Value &image = (*images)[(unsigned)source];
  const char *uri = kroGLTFGetString(image, "uri");
  if (uri && strncmp(uri, "data:", 5) == 0) {
    int malformed;
    *owned = kroGLTFDecodeDataURI(uri, strlen(uri), size, &malformed);
    *bytes = *owned;
    return *owned ? 1
                  : kroGLTFRefuse(g, &image,
                                  malformed ? "a data: URI that is not base64" : "no memory");
  }
  if (uri) {
    if (!kroGLTFUriPath(uri, map->bitmap, sizeof map->bitmap))
      return kroGLTFRefuse(g, &image, "the picture \"%.200s\" is not a relative file name", uri);
    return 1;
  }
  uint64_t buffer, offset, length;
  if (!kroGLTFGetRequired(g, image, "bufferView", views->Size(), &view))
    return 0;
  const Value &v = (*views)[(unsigned)view];
  if (!kroGLTFGetRequired(g, v, "buffer", g->buffer_count, &buffer) ||
      !kroGLTFGetIndex(g, v, "byteOffset", UINT32_MAX, 0, &offset) ||
      !kroGLTFGetIndex(g, v, "byteLength", UINT32_MAX, 0, &length))
    return 0;
  if (offset + length > g->buffers[buffer].size)
    return kroGLTFRefuse(g, &v, "buffer view %llu runs past its buffer's %llu bytes",
                         (unsigned long long)view, (unsigned long long)g->buffers[buffer].size);
  *bytes = g->buffers[buffer].bytes + offset;
  *size = length;
  return 1;
}

/* An embedded picture as the map's texture (a warning, not a refusal, when it cannot be). */
void kroGLTFMakeEmbeddedTexture(kroGLTF *g, int index, const uint8_t *bytes, uint64_t size,
                                kroMaterial *material) {
  char why[KRO_PICTURE_REASON_CHARS] = "";
  int32_t side[2];
  GLint largest = 0;
  uint8_t *pixels = kroDecodePictureMemory(bytes, (size_t)size, side, nullptr, why, sizeof why);
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  if (pixels && (side[0] > largest || side[1] > largest))
    snprintf(why, sizeof why, "%d x %d pixels, the driver takes at most %d a side", side[0],
             side[1], (int)largest);
  else if (pixels)
    material->texture[KRO_MAP_DIFFUSE] = kroCreateTexture(pixels, side);
  free(pixels);
  kroMaterialMap *map = &material->map[KRO_MAP_DIFFUSE];
  map->state = material->texture[KRO_MAP_DIFFUSE] ? KRO_MAP_LOADED : KRO_MAP_DAMAGED;
  if (map->state == KRO_MAP_DAMAGED)
    printf("Warning: %s, material %d: the embedded diffuse picture was refused: %s\n", g->path,
           index, why[0] ? why : "the texture could not be made");
}

int kroGLTFLoadMaterials(kroGLTF *g, kroMaterial **out, int *out_count, int textures) {
  const Value *list;
  if (!kroGLTFTopArray(g, "materials", &list))
    return 0;
  int count = (int)list->Size() + 1; /* and the default material, last */
  kroMaterial *all = (kroMaterial *)kroAllocateZeroed((size_t)count * sizeof(kroMaterial));
  if (!all)
    return kroGLTFRefuse(g, nullptr, "no memory");
  int ok = 1;
  for (int i = 0; ok && i < count; i++) {
    kroMaterial *material = &all[i];
    for (int k = 0; k < KRO_MATERIAL_MAPS; k++)
      material->map[k].u_tiling = material->map[k].v_tiling = 1;
    double color[4] = {1, 1, 1, 1};
    material->diffuse[0] = material->diffuse[1] = material->diffuse[2] = material->opacity = 1;
    material->one_sided = 1; /* glTF's default: back faces are not seen */
    if (i == count - 1)
      break;
    const Value &m = (*list)[(unsigned)i];
    const char *name = kroGLTFGetString(m, "name");
    snprintf(material->name, sizeof material->name, "%s", name ? name : "");
    const Value *sides = kroGLTFMember(m, "doubleSided");
    if (sides && !sides->IsBool()) {
      ok = kroGLTFRefuse(g, &m, "\"doubleSided\" is neither true nor false");
      break;
    }
    material->one_sided = !(sides && sides->GetBool());
    const Value *pbr = kroGLTFMember(m, "pbrMetallicRoughness");
    if (!pbr)
      continue;
    ok = kroGLTFGetFloats(g, *pbr, "baseColorFactor", 4, color);
    for (int k = 0; k < 3; k++)
      material->diffuse[k] = kroGLTFDisplayColour(color[k]);
    material->opacity = (float)color[3];
    const Value *info = kroGLTFMember(*pbr, "baseColorTexture");
    uint64_t texture, size = 0;
    const uint8_t *bytes = nullptr;
    uint8_t *owned = nullptr;
    if (!ok || !info)
      continue;
    ok = kroGLTFGetRequired(g, *info, "index", UINT32_MAX, &texture) &&
         kroGLTFFindImage(g, texture, &material->map[KRO_MAP_DIFFUSE], &bytes, &size, &owned);
    if (ok)
      kroGLTFReadTextureTransform(g, *info, &material->map[KRO_MAP_DIFFUSE], i);
    if (ok && bytes && textures)
      kroGLTFMakeEmbeddedTexture(g, i, bytes, size, material);
    else if (ok && bytes)
      material->map[KRO_MAP_DIFFUSE].state = KRO_MAP_EMBEDDED;
    free(owned);
  }
  if (!ok) {
    kroFreeMaterials(&all, count);
    return 0;
  }
  if (textures)
    kroLoadMaterialTextures(all, count, g->path, nullptr, 0);
  *out = all;
  *out_count = count;
  return 1;
}

/* Reads the file up to its buffers; 0 after a refusal (not yet reported). */
int kroOpenGLTF(kroGLTF *g, int buffers) {
  return kroGLTFReadFile(g) && kroGLTFReadContainer(g) && kroGLTFParseJSON(g) &&
         (!buffers || kroGLTFLoadBuffers(g));
}

void kroGLTFReport(kroGLTF *g, const char *function) {
  long line = kroGLTFBlamedLine(g);
  if (line > 0)
    kroFail("Error in reading glTF from %s in function %s(..): %s at line %ld\n", g->path, function,
            g->why, line);
  else
    kroFail("Error in reading glTF from %s in function %s(..): %s\n", g->path, function, g->why);
}

} // namespace

int kroLoadMeshArrayFromGLTF(kroMesh **meshes, const char *path) {
  *meshes = nullptr;
  kroGLTF g;
  g.path = path ? path : "";
  int count = 0;
  if (!kroOpenGLTF(&g, 1) || !kroGLTFLoadMeshes(&g, meshes, &count)) {
    if (g.why[0])
      kroGLTFReport(&g, "kroLoadMeshArrayFromGLTF");
    return 0;
  }
  return count;
}

/* The file read and parsed once for both lists: its buffers are the bulk of it. Failures are
 * reported under the function that would have met them alone. */
namespace {
int kroGLTFLoadNodes(kroGLTF *g, kroScene *scene);
}

int kroGLTFLoadScene(kroScene *scene, const char *path, int textures, int indexed) {
  kroGLTF g;
  g.path = path ? path : "";
  g.indexed = indexed;
  long failures = kroFailureCount();
  if (!kroOpenGLTF(&g, 1) || !kroGLTFLoadMeshes(&g, &scene->meshes, &scene->mesh_count)) {
    if (g.why[0])
      kroGLTFReport(&g, "kroLoadMeshArrayFromGLTF");
    return 0;
  }
  if (kroFailureCount() == failures &&
      !kroGLTFLoadMaterials(&g, &scene->materials, &scene->material_count, textures) && g.why[0])
    kroGLTFReport(&g, "kroLoadMaterialsFromGLTF");
  if (kroFailureCount() == failures && !kroGLTFLoadNodes(&g, scene)) {
    kroFreeSceneNodes(scene);
    if (g.why[0])
      kroGLTFReport(&g, "kroLoadNodesFromGLTF");
  }
  return kroFailureCount() == failures;
}

int kroLoadMaterialsFromGLTF(kroMaterial **materials, const char *path, int textures) {
  *materials = nullptr;
  kroGLTF g;
  g.path = path ? path : "";
  int count = 0;
  if (!kroOpenGLTF(&g, 1) || !kroGLTFLoadMaterials(&g, materials, &count, textures)) {
    if (g.why[0])
      kroGLTFReport(&g, "kroLoadMaterialsFromGLTF");
    return 0;
  }
  return count;
}

/* ---- nodes, cameras, lights and animations ---- */

namespace {

/* An optional finite number; fallback when absent. */
int kroGLTFGetNumber(kroGLTF *g, const Value &object, const char *name, double fallback,
                     double *out) {
  const Value *v = kroGLTFMember(object, name);
  *out = fallback;
  if (!v)
    return 1;
  if (!v->IsNumber() || !isfinite(v->GetDouble()))
    return kroGLTFRefuse(g, &object, "\"%s\" is not a number", name);
  *out = v->GetDouble();
  return 1;
}

/* A list of the file (top level, or an extension's) no longer than the engine keeps. */
int kroGLTFCheckedList(kroGLTF *g, const Value *list, const char *name) {
  if (!list->IsArray())
    return kroGLTFRefuse(g, &g->doc, "\"%s\" is not an array", name);
  if (list->Size() > (unsigned)KRO_ASE_MAX_COUNT)
    return kroGLTFRefuse(g, list, "%u %s, more than %d", list->Size(), name, KRO_ASE_MAX_COUNT);
  return 1;
}

/* An optional index into a list of `count` entries: -1 when absent. */
int kroGLTFGetOptional(kroGLTF *g, const Value &object, const char *name, uint64_t count,
                       int *out) {
  uint64_t index = 0;
  *out = -1;
  if (!kroGLTFMember(object, name))
    return 1;
  if (!kroGLTFGetRequired(g, object, name, count, &index))
    return 0;
  *out = (int)index;
  return 1;
}

void kroGLTFCopyName(const Value &object, char *name) {
  const char *text = kroGLTFGetString(object, "name");
  snprintf(name, KRO_ASE_NAME_CHARS + 1, "%s", text ? text : "");
}

int kroGLTFReadCamera(kroGLTF *g, const Value &c, kroSceneCamera *camera) {
  const char *type = kroGLTFGetString(c, "type");
  kroGLTFCopyName(c, camera->name);
  camera->orthographic = type && !strcmp(type, "orthographic");
  const Value *values = type ? kroGLTFMember(c, type) : nullptr;
  if (!type || (!camera->orthographic && strcmp(type, "perspective")))
    return kroGLTFRefuse(g, &c, "a camera type other than perspective or orthographic");
  const char *article = camera->orthographic ? "an" : "a";
  if (!values || !values->IsObject())
    return kroGLTFRefuse(g, &c, "%s %s camera without \"%s\"", article, type, type);
  const char *required[2][3] = {{"yfov", "znear", nullptr}, {"xmag", "ymag", "zfar"}};
  for (const char *name : required[camera->orthographic])
    if (name && !kroGLTFMember(*values, name))
      return kroGLTFRefuse(g, values, "%s %s camera without \"%s\"", article, type, name);
  double yfov, aspect, xmag, ymag, znear, zfar;
  if (!kroGLTFGetNumber(g, *values, "yfov", 0, &yfov) ||
      !kroGLTFGetNumber(g, *values, "aspectRatio", 0, &aspect) ||
      !kroGLTFGetNumber(g, *values, "xmag", 0, &xmag) ||
      !kroGLTFGetNumber(g, *values, "ymag", 0, &ymag) ||
      !kroGLTFGetNumber(g, *values, "znear", 0, &znear) ||
      !kroGLTFGetNumber(g, *values, "zfar", 0, &zfar))
    return 0;
  if (camera->orthographic ? xmag == 0 || ymag == 0 || znear < 0 || zfar <= znear
                           : yfov <= 0 || znear <= 0 || aspect < 0 ||
                                 (kroGLTFMember(*values, "zfar") && zfar <= znear))
    return kroGLTFRefuse(g, values, "%s camera values out of range", type);
  camera->yfov = (float)yfov, camera->aspect = (float)aspect;
  camera->xmag = (float)xmag, camera->ymag = (float)ymag;
  camera->znear = (float)znear, camera->zfar = (float)zfar;
  camera->node = -1;
  return 1;
}

int kroGLTFReadLight(kroGLTF *g, const Value &l, kroSceneLight *light) {
  static const char *const kinds[] = {"directional", "point", "spot"};
  const char *type = kroGLTFGetString(l, "type");
  light->kind = -1;
  for (int k = 0; type && k < 3; k++)
    if (!strcmp(type, kinds[k]))
      light->kind = k;
  kroGLTFCopyName(l, light->name);
  if (light->kind < 0)
    return kroGLTFRefuse(g, &l, "a light type other than directional, point or spot");
  double color[3] = {1, 1, 1}, intensity, range, inner = 0, outer = M_PI / 4;
  const Value *spot = kroGLTFMember(l, "spot");
  if (light->kind == KRO_LIGHT_SPOT && (!spot || !spot->IsObject()))
    return kroGLTFRefuse(g, &l, "a spot light without \"spot\"");
  if (!kroGLTFGetFloats(g, l, "color", 3, color) ||
      !kroGLTFGetNumber(g, l, "intensity", 1, &intensity) ||
      !kroGLTFGetNumber(g, l, "range", 0, &range) ||
      (spot && light->kind == KRO_LIGHT_SPOT &&
       (!kroGLTFGetNumber(g, *spot, "innerConeAngle", 0, &inner) ||
        !kroGLTFGetNumber(g, *spot, "outerConeAngle", M_PI / 4, &outer))))
    return 0;
  if (intensity < 0 || (kroGLTFMember(l, "range") && range <= 0))
    return kroGLTFRefuse(g, &l, "a negative intensity or a range not above 0");
  if (light->kind == KRO_LIGHT_SPOT && !(inner >= 0 && inner < outer && outer <= M_PI / 2))
    return kroGLTFRefuse(g, spot, "spot cones not 0 <= inner < outer <= pi / 2");
  for (int k = 0; k < 3; k++)
    light->color[k] = (float)color[k];
  light->intensity = (float)intensity, light->range = (float)range;
  light->inner_cone = (float)inner, light->outer_cone = (float)outer;
  light->node = -1;
  return 1;
}

/* Node i's record: name, pose, rest matrix and what it carries. */
int kroGLTFReadNode(kroGLTF *g, const Value &n, uint64_t meshes, uint64_t cameras, uint64_t lights,
                    kroSceneNode *node) {
  kroGLTFCopyName(n, node->name);
  const Value *ext = kroGLTFMember(n, "extensions");
  const Value *punctual = ext ? kroGLTFMember(*ext, "KHR_lights_punctual") : nullptr;
  node->light = -1;
  if (!kroGLTFGetOptional(g, n, "mesh", meshes, &node->mesh) ||
      !kroGLTFGetOptional(g, n, "camera", cameras, &node->camera) ||
      (punctual && !kroGLTFGetOptional(g, *punctual, "light", lights, &node->light)))
    return 0;
  kroGLTFMatrix local;
  double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}, s[3] = {1, 1, 1};
  if (!kroGLTFLocalMatrix(g, n, &local))
    return 0;
  if (!kroGLTFMember(n, "matrix") &&
      !(kroGLTFGetFloats(g, n, "translation", 3, t) && kroGLTFGetFloats(g, n, "rotation", 4, q) &&
        kroGLTFGetFloats(g, n, "scale", 3, s)))
    return 0;
  double length = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (int k = 0; k < 4; k++) {
    node->pose.rotation[k] = (float)(q[k] / length);
    if (k < 3)
      node->pose.translation[k] = (float)t[k], node->pose.scale[k] = (float)s[k];
  }
  for (int i = 0; i < 16; i++)
    node->local[i] = (float)local.m[i];
  return 1;
}

const int KRO_KEY_TIMES[] = {5126, 0};
const int KRO_KEY_ROTATIONS[] = {5126, 5120, 5121, 5122, 5123, 0};

/* Component k of key value i: floats, or normalized integers (signed ones to -1..1). */
float kroGLTFKeyComponent(const kroGLTFSpan *s, uint64_t i, int k) {
  const uint8_t *p = s->base + i * s->stride;
  if (s->component == 5120)
    return fmaxf((int8_t)p[k] / 127.0f, -1.0f);
  if (s->component == 5122)
    return fmaxf((int16_t)kroLittle16(p + 2 * k) / 32767.0f, -1.0f);
  return kroGLTFComponent(s, i, k);
}

/* Sampler `index` of animation a (width floats a value), its keys checked and copied. */
int kroGLTFReadSampler(kroGLTF *g, const Value &sampler, int index, kroAnimationSampler *out) {
  const char *interpolation = kroGLTFGetString(sampler, "interpolation");
  const char *names[] = {"STEP", "LINEAR", "CUBICSPLINE"};
  out->interpolation = interpolation ? -1 : KRO_INTERPOLATE_LINEAR;
  for (int k = 0; interpolation && k < 3; k++)
    if (!strcmp(interpolation, names[k]))
      out->interpolation = k;
  if (out->interpolation < 0)
    return kroGLTFRefuse(g, &sampler, "interpolation other than STEP, LINEAR or CUBICSPLINE");
  uint64_t input, output;
  kroGLTFSpan in, values;
  int rotation = out->width == 4, cubic = out->interpolation == KRO_INTERPOLATE_CUBIC;
  if (!kroGLTFGetRequired(g, sampler, "input", UINT32_MAX, &input) ||
      !kroGLTFGetRequired(g, sampler, "output", UINT32_MAX, &output) ||
      !kroGLTFGetSpan(g, input, "SCALAR", KRO_KEY_TIMES, "key time", &in) ||
      !kroGLTFGetSpan(g, output, rotation ? "VEC4" : "VEC3",
                      rotation ? KRO_KEY_ROTATIONS : KRO_FLOATS, "key value", &values))
    return 0;
  if (values.component != 5126 && !values.normalized)
    return kroGLTFRefuse(g, &sampler, "sampler %d: integer rotations not normalized", index);
  if (in.count == 0 || in.count > (uint64_t)KRO_ASE_MAX_COUNT)
    return kroGLTFRefuse(g, &sampler, "sampler %d: %llu keys, not 1 to %d", index,
                         (unsigned long long)in.count, KRO_ASE_MAX_COUNT);
  if (values.count != in.count * (cubic ? 3 : 1))
    return kroGLTFRefuse(g, &sampler, "sampler %d: %llu output values for %llu keys%s", index,
                         (unsigned long long)values.count, (unsigned long long)in.count,
                         cubic ? " (CUBICSPLINE needs 3 a key)" : "");
  for (uint64_t i = 0; i < in.count; i++) {
    float t = kroGLTFComponent(&in, i, 0);
    if (!isfinite(t) || (i > 0 && !(t > kroGLTFComponent(&in, i - 1, 0))))
      return kroGLTFRefuse(g, &sampler, "sampler %d: key time %llu not after the one before", index,
                           (unsigned long long)i);
  }
  out->times = (float *)kroAllocate(in.count * sizeof(float));
  out->values = (float *)kroAllocate(values.count * (uint64_t)out->width * sizeof(float));
  if (!out->times || !out->values)
    return kroGLTFRefuse(g, nullptr, "no memory");
  for (uint64_t i = 0; i < values.count; i++)
    for (int k = 0; k < out->width; k++) {
      float v = kroGLTFKeyComponent(&values, i, k);
      if (!isfinite(v))
        return kroGLTFRefuse(g, &sampler, "sampler %d: value %llu not a finite number", index,
                             (unsigned long long)i);
      out->values[i * (uint64_t)out->width + (uint64_t)k] = v;
    }
  for (uint64_t i = 0; i < in.count; i++)
    out->times[i] = kroGLTFComponent(&in, i, 0);
  out->keys = (int)in.count;
  return 1;
}

/* Animation `index`: its kept channels, and the samplers they use. */
int kroGLTFReadAnimation(kroGLTF *g, const Value &a, int index, const Value &json_nodes,
                         kroSceneNode *nodes, int node_count, kroAnimation *out) {
  static const char *const paths[] = {"translation", "rotation", "scale"};
  int weights = 0; /* channels passed over: told once the animation is read */
  kroGLTFCopyName(a, out->name);
  const Value *channels = kroGLTFMember(a, "channels"), *samplers = kroGLTFMember(a, "samplers");
  if (!channels || !samplers || !channels->IsArray() || !samplers->IsArray())
    return kroGLTFRefuse(g, &a, "animation %d without \"channels\" and \"samplers\"", index);
  if (!kroGLTFCheckedList(g, channels, "channels") || !kroGLTFCheckedList(g, samplers, "samplers"))
    return 0;
  out->channels =
      (kroAnimationChannel *)kroAllocate((channels->Size() + 1) * sizeof(kroAnimationChannel));
  out->samplers = (kroAnimationSampler *)kroAllocateZeroed((samplers->Size() + 1) *
                                                           sizeof(kroAnimationSampler));
  if (!out->channels || !out->samplers)
    return kroGLTFRefuse(g, nullptr, "no memory");
  out->sampler_count = (int)samplers->Size();
  for (unsigned c = 0; c < channels->Size(); c++) {
    const Value &channel = (*channels)[c];
    const Value *target = kroGLTFMember(channel, "target");
    uint64_t sampler, node;
    if (!target || !target->IsObject())
      return kroGLTFRefuse(g, &channel, "channel %u without \"target\"", c);
    const char *path = kroGLTFGetString(*target, "path");
    if (!kroGLTFMember(channel, "sampler"))
      return kroGLTFRefuse(g, &channel, "channel %u without \"sampler\"", c);
    if (!kroGLTFGetIndex(g, channel, "sampler", UINT32_MAX, 0, &sampler))
      return 0;
    if (sampler >= samplers->Size())
      return kroGLTFRefuse(g, &channel, "channel %u: sampler %llu of %u", c,
                           (unsigned long long)sampler, samplers->Size());
    if (!kroGLTFGetIndex(g, *target, "node", UINT32_MAX, UINT64_MAX, &node))
      return 0;
    if (node != UINT64_MAX && node >= (uint64_t)node_count)
      return kroGLTFRefuse(g, &channel, "channel %u: node %llu of %d", c, (unsigned long long)node,
                           node_count);
    int kind = -1;
    for (int k = 0; path && k < 3; k++)
      if (!strcmp(path, paths[k]))
        kind = k;
    if (path && !strcmp(path, "weights")) {
      weights++;
      continue;
    }
    if (kind < 0)
      return kroGLTFRefuse(g, target,
                           "channel %u: a path other than translation, rotation, "
                           "scale or weights",
                           c);
    if (node == UINT64_MAX)
      continue;
    if (kroGLTFMember(json_nodes[(unsigned)node], "matrix"))
      return kroGLTFRefuse(g, &channel, "channel %u moves node %llu, which gives a matrix", c,
                           (unsigned long long)node);
    int width = kind == KRO_PATH_ROTATION ? 4 : 3;
    kroAnimationSampler *s = &out->samplers[sampler];
    if (s->width && s->width != width)
      return kroGLTFRefuse(g, &channel, "sampler %llu serves values of 3 and of 4 numbers",
                           (unsigned long long)sampler);
    s->width = width;
    nodes[node].animated = 1;
    out->channels[out->channel_count++] = {(int)node, kind, (int)sampler};
  }
  out->start = out->end = 0;
  for (int k = 0, first = 1; k < out->sampler_count; k++) {
    kroAnimationSampler *s = &out->samplers[k];
    if (!s->width)
      continue;
    if (!kroGLTFReadSampler(g, (*samplers)[(unsigned)k], k, s))
      return 0;
    float start = s->times[0], end = s->times[s->keys - 1];
    out->start = first || start < out->start ? start : out->start;
    out->end = first || end > out->end ? end : out->end;
    first = 0;
  }
  if (weights)
    printf("Warning: %s, animation %d: %d channel%s of morph target weights passed over\n", g->path,
           index, weights, weights == 1 ? "" : "s");
  return 1;
}

/* Every node's rest world matrix, parents before children: roots first, then breadth first
 * through the file's children lists (checked by kroGLTFFlattenNodes: each node has one place). */
void kroGLTFRestWorld(const Value &json_nodes, kroSceneNode *nodes, int count, int *order) {
  int n = 0;
  for (int i = 0; i < count; i++)
    if (nodes[i].parent < 0)
      order[n++] = i;
  for (int at = 0; at < n; at++) {
    kroSceneNode *node = &nodes[order[at]];
    kroGLTFMatrix local, parent;
    for (int k = 0; k < 16; k++) {
      local.m[k] = node->local[k];
      parent.m[k] = node->parent >= 0 ? nodes[node->parent].world[k] : k % 5 == 0;
    }
    kroGLTFMatrix world = kroGLTFMultiply(parent, local);
    for (int k = 0; k < 16; k++)
      node->world[k] = (float)world.m[k];
    const Value *children = kroGLTFMember(json_nodes[(unsigned)order[at]], "children");
    for (unsigned k = 0; children && k < children->Size(); k++)
      order[n++] = (int)(*children)[k].GetUint();
  }
}

template <typename T> void kroGLTFDropIfEmpty(T *&list, int count) {
  if (!count) {
    free(list);
    list = nullptr;
  }
}

/* A list the file left empty is null, as every empty list of the scene is. */
void kroGLTFDropEmptyLists(kroScene *scene) {
  kroGLTFDropIfEmpty(scene->nodes, scene->node_count);
  kroGLTFDropIfEmpty(scene->cameras, scene->camera_count);
  kroGLTFDropIfEmpty(scene->lights, scene->light_count);
  kroGLTFDropIfEmpty(scene->animations, scene->animation_count);
}

int kroGLTFLoadNodes(kroGLTF *g, kroScene *scene) {
  const Value *nodes, *meshes, *cameras, *animations, *lights;
  static const Value none(rapidjson::kArrayType);
  const Value *ext = kroGLTFMember(g->doc, "extensions");
  const Value *punctual = ext ? kroGLTFMember(*ext, "KHR_lights_punctual") : nullptr;
  lights = punctual ? kroGLTFMember(*punctual, "lights") : nullptr;
  if (!lights)
    lights = &none;
  if (!kroGLTFTopArray(g, "nodes", &nodes) || !kroGLTFTopArray(g, "meshes", &meshes) ||
      !kroGLTFTopArray(g, "cameras", &cameras) || !kroGLTFTopArray(g, "animations", &animations) ||
      !kroGLTFCheckedList(g, nodes, "nodes") || !kroGLTFCheckedList(g, cameras, "cameras") ||
      !kroGLTFCheckedList(g, lights, "lights") || !kroGLTFCheckedList(g, animations, "animations"))
    return 0;
  int count = (int)nodes->Size();
  /* The tree's rules (a cycle, two parents) as the mesh reader applies them. */
  kroGLTFMatrix *world = (kroGLTFMatrix *)kroAllocate((count + 1) * sizeof(kroGLTFMatrix));
  uint32_t *order = (uint32_t *)kroAllocate((count + 1) * sizeof(uint32_t)), reached = 0;
  int ok = world && order ? kroGLTFFlattenNodes(g, *nodes, world, order, &reached)
                          : kroGLTFRefuse(g, nullptr, "no memory");
  free(world);
  scene->nodes = ok ? (kroSceneNode *)kroAllocateZeroed((count + 1) * sizeof(kroSceneNode)) : 0;
  scene->cameras =
      ok ? (kroSceneCamera *)kroAllocateZeroed((cameras->Size() + 1) * sizeof(kroSceneCamera))
         : nullptr;
  scene->lights =
      ok ? (kroSceneLight *)kroAllocateZeroed((lights->Size() + 1) * sizeof(kroSceneLight))
         : nullptr;
  scene->animations =
      ok ? (kroAnimation *)kroAllocateZeroed((animations->Size() + 1) * sizeof(kroAnimation))
         : nullptr;
  if (ok && (!scene->nodes || !scene->cameras || !scene->lights || !scene->animations))
    ok = kroGLTFRefuse(g, nullptr, "no memory");
  for (unsigned i = 0; ok && i < cameras->Size(); i++)
    ok = kroGLTFReadCamera(g, (*cameras)[i], &scene->cameras[scene->camera_count++]);
  for (unsigned i = 0; ok && i < lights->Size(); i++)
    ok = kroGLTFReadLight(g, (*lights)[i], &scene->lights[scene->light_count++]);
  for (int i = 0; ok && i < count; i++)
    scene->nodes[i].parent = -1;
  for (int i = 0; ok && i < count; i++) {
    kroSceneNode *node = &scene->nodes[i];
    ok = kroGLTFReadNode(g, (*nodes)[(unsigned)i], meshes->Size(), cameras->Size(), lights->Size(),
                         node);
    const Value *children = kroGLTFMember((*nodes)[(unsigned)i], "children");
    for (unsigned k = 0; ok && children && k < children->Size(); k++)
      scene->nodes[(*children)[k].GetUint()].parent = i;
    if (ok && node->camera >= 0 && scene->cameras[node->camera].node < 0)
      scene->cameras[node->camera].node = i;
    if (ok && node->light >= 0 && scene->lights[node->light].node < 0)
      scene->lights[node->light].node = i;
  }
  scene->node_count = ok ? count : 0;
  if (ok)
    kroGLTFRestWorld(*nodes, scene->nodes, count, (int *)order);
  free(order);
  for (unsigned i = 0; ok && i < animations->Size(); i++)
    ok = kroGLTFReadAnimation(g, (*animations)[i], (int)i, *nodes, scene->nodes, count,
                              &scene->animations[scene->animation_count++]);
  if (ok)
    kroGLTFDropEmptyLists(scene);
  return ok;
}

} // namespace

int kroLoadNodesFromGLTF(kroScene *scene, const char *path) {
  kroFreeSceneNodes(scene);
  kroGLTF g;
  g.path = path ? path : "";
  if (!kroOpenGLTF(&g, 1) || !kroGLTFLoadNodes(&g, scene)) {
    kroFreeSceneNodes(scene);
    if (g.why[0])
      kroGLTFReport(&g, "kroLoadNodesFromGLTF");
    return 0;
  }
  return scene->node_count;
}

int kroGLTFSceneFiles(const char *path, kroScenePath **files) {
  kroGLTF g;
  g.path = path;
  const Value *buffers;
  int count = 0, ok = kroOpenGLTF(&g, 0) && kroGLTFTopArray(&g, "buffers", &buffers);
  for (unsigned i = 0; ok && i < buffers->Size(); i++) {
    const char *uri = kroGLTFGetString((*buffers)[i], "uri");
    char name[KRO_OUT_PATH_CHARS], beside[KRO_OUT_PATH_CHARS];
    if (uri && strncmp(uri, "data:", 5) != 0 && kroGLTFUriPath(uri, name, sizeof name) &&
        kroGLTFBesidePath(&g, name, beside, sizeof beside))
      ok = kroAddSceneFile(files, &count, beside);
  }
  if (!ok && g.why[0])
    kroGLTFReport(&g, "kroSceneFiles");
  if (!ok) {
    free(*files);
    *files = nullptr;
    count = 0;
  }
  return count;
}
