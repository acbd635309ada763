// Helpers shared by the fuzz targets: the engine's readers take paths or
// streams, so the fuzzer's bytes are handed over through a temporary file.
#ifndef KRO_FUZZ_SUPPORT_H
#define KRO_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Writes the bytes to this process's scratch file and returns its path.
const char *kroFuzzWriteFile(const uint8_t *data, size_t size);
// The same bytes as an open stream (fmemopen); close it with fclose.
FILE *kroFuzzOpenStream(const uint8_t *data, size_t size);
// The same bytes through a pipe (they must fit its buffer, 64 KiB), or null.
FILE *kroFuzzOpenPipe(const uint8_t *data, size_t size);
// Silences the engine's failure messages (they go to standard output).
void kroFuzzQuiet(void);
struct kroScene;
// The first `count` meshes of an indexed load: aborts unless each holds vertices (no rows) and
// every index lies within them; every vertex (and colour) read, their sum given back.
float kroFuzzReadIndexed(const struct kroScene *scene, int count);

#endif
