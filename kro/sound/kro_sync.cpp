/*
 * Sync tracks: named tracks of keys against the music's rows, read from their
 * text file, written back through the output-file rule, and sampled at any
 * time. A key holds a value from its row on and says how the value moves to
 * the next key's: held (step), straight (linear), eased at both ends (smooth)
 * or eased in (ramp). Rows are counted from the music's start at
 * tempo x rows_per_beat rows per minute.
 * Depends on: kro_error.cpp (allocation, failure reporting), kro_file.cpp
 * (writing).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

static const char *const KRO_SYNC_INTERPOLATION_NAMES[KRO_SYNC_INTERPOLATIONS] = {"step", "linear",
                                                                                  "smooth", "ramp"};

const char *kroSyncInterpolationName(int interpolation) {
  return interpolation >= 0 && interpolation < KRO_SYNC_INTERPOLATIONS
             ? KRO_SYNC_INTERPOLATION_NAMES[interpolation]
             : "?";
}

/* ---- values ------------------------------------------------------------- */

double kroSyncRow(const kroSyncTracks *tracks, double seconds) {
  return seconds * tracks->tempo / 60.0 * tracks->rows_per_beat;
}

/* How far (0..1) the value has moved from one key towards the next at share t (0..1) of the
 * rows between them. */
static double kroSyncShape(int interpolation, double t) {
  switch (interpolation) {
  case KRO_SYNC_LINEAR:
    return t;
  case KRO_SYNC_SMOOTH:
    return t * t * (3.0 - 2.0 * t);
  case KRO_SYNC_RAMP:
    return t * t;
  default:
    return 0.0;
  }
}

float kroSyncValue(const kroSyncTrack *track, double row) {
  if (!track || track->count <= 0)
    return 0.0f;
  const kroSyncKey *keys = track->keys;
  int last = track->count - 1;
  if (!(row > keys[0].row)) /* before the first key, and NaN */
    return keys[0].value;
  if (row >= keys[last].row)
    return keys[last].value;
  /* keys[low].row <= row < keys[high].row */
  int low = 0, high = last;
  while (high - low > 1) {
    int middle = low + (high - low) / 2;
    if (keys[middle].row <= row)
      low = middle;
    else
      high = middle;
  }
  const kroSyncKey *from = &keys[low], *to = &keys[high];
  double t = (row - from->row) / (double)(to->row - from->row);
  double moved = kroSyncShape(from->interpolation, t);
  return (float)(from->value + (to->value - (double)from->value) * moved);
}

const kroSyncTrack *kroFindSyncTrack(const kroSyncTracks *tracks, const char *name) {
  for (int i = 0; tracks && name && i < tracks->count; i++)
    if (strcmp(tracks->tracks[i].name, name) == 0)
      return &tracks->tracks[i];
  return nullptr;
}

float kroSyncTrackValue(const kroSyncTracks *tracks, const char *name, double seconds) {
  return tracks ? kroSyncValue(kroFindSyncTrack(tracks, name), kroSyncRow(tracks, seconds)) : 0.0f;
}

void kroFreeSyncTracks(kroSyncTracks *tracks) {
  if (tracks->owned) {
    for (int i = 0; tracks->tracks && i < tracks->count; i++)
      free(tracks->tracks[i].keys);
    free(tracks->tracks);
  }
  memset(tracks, 0, sizeof *tracks);
}

/* ---- reading ------------------------------------------------------------ */

/* Room for one item more in *items (count in use, *capacity allocated, `size` bytes each; the
 * new room zeroed); 0, or -1 after the report with *items as it was. */
static int kroSyncGrow(void **items, int count, int32_t *capacity, size_t size) {
  if (count < *capacity)
    return 0;
  int32_t grown = *capacity ? 2 * *capacity : 8;
  void *list = kroAllocateZeroed((size_t)grown * size);
  if (!list) {
    kroFail("Error during allocating memory in kroLoadSyncTracks(..)\n");
    return -1;
  }
  if (count)
    memcpy(list, *items, (size_t)count * size);
  free(*items);
  *items = list;
  *capacity = grown;
  return 0;
}

/* A key line of the current track: ROW VALUE [INTERPOLATION]. */
static int kroSyncKeyLine(kroTextLines *text, const char *first, kroSyncTrack *track, int *keys) {
  char *end;
  errno = 0;
  long row = strtol(first, &end, 10);
  if (*end || errno || row < 0 || row > KRO_SYNC_MAX_ROW)
    return kroTextRefuse(text, "a row that is not a whole number from 0 to 16777216");
  if (track->count > 0 && row <= track->keys[track->count - 1].row)
    return kroTextRefuse(text, "a row not after the track's previous key");
  double value;
  if (kroTextNumber(text, &value, "the key's value") != 0)
    return -1;
  char word[16];
  int length = kroTextWord(text, word, sizeof word - 1);
  int interpolation = KRO_SYNC_STEP;
  if (length < 0)
    return kroTextRefuse(text, "an interpolation that is none of step, linear, smooth, ramp");
  if (length > 0) {
    for (interpolation = 0; interpolation < KRO_SYNC_INTERPOLATIONS; interpolation++)
      if (strcmp(word, KRO_SYNC_INTERPOLATION_NAMES[interpolation]) == 0)
        break;
    if (interpolation == KRO_SYNC_INTERPOLATIONS)
      return kroTextRefuse(text, "an interpolation that is none of step, linear, smooth, ramp");
  }
  if (++*keys > KRO_SYNC_MAX_KEYS)
    return kroTextRefuse(text, "more keys than 1048576");
  if (kroTextEndLine(text) != 0)
    return -1;
  void *room = track->keys;
  int grown = kroSyncGrow(&room, track->count, &track->capacity, sizeof(kroSyncKey));
  track->keys = (kroSyncKey *)room;
  if (grown != 0)
    return -2;
  track->keys[track->count++] = {(int32_t)row, (float)value, (int32_t)interpolation};
  return 0;
}

/* The whole text into tracks; 0, -1 refused (text->why), -2 allocation failed (reported). */
static int kroSyncParse(kroTextLines *text, kroSyncTracks *tracks) {
  int32_t capacity = 0;
  int keys = 0, seen_tempo = 0, seen_rows = 0;
  tracks->tempo = 120.0;
  tracks->rows_per_beat = 4;
  tracks->owned = 1;
  for (;;) {
    char word[KRO_SYNC_NAME_CHARS + 1];
    int length = kroTextWord(text, word, KRO_SYNC_NAME_CHARS);
    if (length < 0)
      return -1;
    if (length == 0) {
      if (!*text->p)
        return 0;
      kroTextEndLine(text);
      continue;
    }
    if (strcmp(word, "tempo") == 0 || strcmp(word, "rows-per-beat") == 0) {
      int is_tempo = word[0] == 't';
      if (tracks->count > 0)
        return kroTextRefuse(text, "a tempo or rows-per-beat after the first track");
      if (is_tempo ? seen_tempo++ : seen_rows++)
        return kroTextRefuse(text, "a tempo or rows-per-beat given twice");
      double value;
      if (kroTextNumber(text, &value, is_tempo ? "the tempo" : "rows-per-beat") != 0)
        return -1;
      if (is_tempo && !(value >= 1.0 && value <= 1000.0))
        return kroTextRefuse(text, "a tempo outside 1 to 1000 beats per minute");
      if (!is_tempo && !(value >= 1.0 && value <= 64.0 && value == floor(value)))
        return kroTextRefuse(text, "rows-per-beat not a whole number from 1 to 64");
      if (is_tempo)
        tracks->tempo = value;
      else
        tracks->rows_per_beat = (int32_t)value;
      if (kroTextEndLine(text) != 0)
        return -1;
    } else if (strcmp(word, "track") == 0) {
      char name[KRO_SYNC_NAME_CHARS + 2];
      length = kroTextWord(text, name, KRO_SYNC_NAME_CHARS + 1);
      if (length <= 0 || length > KRO_SYNC_NAME_CHARS || !kroTextNameIsSound(name))
        return kroTextRefuse(text, "a track name missing, over 63 characters or not of letters, "
                                   "digits and . _ : -");
      if (kroFindSyncTrack(tracks, name))
        return kroTextRefuse(text, "a track name given twice");
      if (tracks->count == KRO_SYNC_MAX_TRACKS)
        return kroTextRefuse(text, "more tracks than 1024");
      if (kroTextEndLine(text) != 0)
        return -1;
      void *list = tracks->tracks;
      int grown = kroSyncGrow(&list, tracks->count, &capacity, sizeof(kroSyncTrack));
      tracks->tracks = (kroSyncTrack *)list;
      if (grown != 0)
        return -2;
      memcpy(tracks->tracks[tracks->count++].name, name, (size_t)length + 1);
    } else if (tracks->count == 0) {
      return kroTextRefuse(text, "a key before the first track, or a word that is no keyword");
    } else {
      int result = kroSyncKeyLine(text, word, &tracks->tracks[tracks->count - 1], &keys);
      if (result != 0)
        return result;
    }
  }
}

int kroLoadSyncTracks(kroSyncTracks *tracks, const char *path) {
  memset(tracks, 0, sizeof *tracks);
  char why[96];
  char *bytes = kroReadTextFile(path, KRO_SYNC_MAX_BYTES, why, sizeof why);
  if (!bytes) {
    kroFail("Error in reading sync tracks from %s: %s\n", path, why);
    return -1;
  }
  kroTextLines text = {bytes, 1, ""};
  int result = kroSyncParse(&text, tracks);
  free(bytes);
  if (result != 0) {
    if (result == -1)
      kroFail("Error in reading sync tracks from %s: %s at line %d\n", path, text.why, text.line);
    kroFreeSyncTracks(tracks);
    return -1;
  }
  return tracks->count;
}

/* ---- writing ------------------------------------------------------------ */

/* Values are written in the fewest digits that read back as the same float. */
static void kroSyncPrint(FILE *out, const kroSyncTracks *tracks) {
  fprintf(out, "# sync tracks: rows at tempo x rows-per-beat a minute; keys are\n"
               "# ROW VALUE [step|linear|smooth|ramp]\n");
  fprintf(out, "tempo %.17g\nrows-per-beat %d\n", tracks->tempo, (int)tracks->rows_per_beat);
  for (int i = 0; i < tracks->count; i++) {
    const kroSyncTrack *track = &tracks->tracks[i];
    fprintf(out, "\ntrack %s\n", track->name);
    for (int k = 0; k < track->count; k++) {
      fprintf(out, "%d ", (int)track->keys[k].row);
      kroPrintShortFloat(out, track->keys[k].value);
      fprintf(out, " %s\n", kroSyncInterpolationName(track->keys[k].interpolation));
    }
  }
}

int kroWriteSyncTracks(const kroSyncTracks *tracks, const char *path) {
  kroOutFile out;
  if (kroBeginOutFile(&out, path) == 0) {
    kroSyncPrint(out.file, tracks);
    if (kroCommitOutFile(&out) == 0)
      return 0;
  }
  kroFail("Error in writing sync tracks to %s: %s\n", path, strerror(out.error));
  errno = out.error;
  return -1;
}
