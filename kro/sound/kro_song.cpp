/*
 * Songs as text: the synthesizer's records (kroSong, its instruments, channels, patterns and
 * order list) read from and written to a song file a musician edits. Blocks come in the order a
 * song is built: the song's own values, instruments, channels (each naming an instrument read
 * before it), patterns numbered from 0, and last the order list, one step a line. Every field
 * is checked against the range the synthesizer plays (the tables in kro_synth.cpp), so a song
 * that reads plays.
 * Depends on: kro_text.cpp (lines, words), kro_synth.cpp (ranges), kro_file.cpp (writing).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

/* ---- the fields of each block ------------------------------------------ */

static const char *const KRO_WAVE_NAMES[] = {"sine", "saw", "square", "triangle", "noise"};
static const char *const KRO_FILTER_NAMES[] = {"off", "low", "high", "band"};

/* Float fields in their records' order from the first float: the same order as the range
 * tables. */
static const char *const KRO_INSTRUMENT_FIELDS[KRO_INSTRUMENT_FLOATS] = {
    "pulse-width", "attack", "decay",     "sustain",    "release",  "slide",     "slide-time",
    "glide",       "cutoff", "resonance", "env-cutoff", "lfo-rate", "lfo-depth", "gain"};
static const char *const KRO_CHANNEL_FIELDS[KRO_CHANNEL_FLOATS] = {
    "volume", "pan", "echo", "reverb", "pan-lfo-rate", "pan-lfo-depth", "pan-lfo-end"};
static const char *const KRO_SONG_FIELDS[KRO_SONG_FLOATS] = {"echo-time", "echo-feedback",
                                                             "reverb-size", "master"};

static const char *const KRO_BLOCK_NAMES[] = {"song", "instrument", "channel", "pattern", "order"};

static const kroInstrument KRO_DEFAULT_INSTRUMENT = {
    KRO_WAVE_SINE, KRO_FILTER_OFF, 0.5f, 0, 0, 1, 0, 0, 0, 0, 20000, 0, 0, 0, 0, 1};
static const kroChannel KRO_DEFAULT_CHANNEL = {0, 1, 0, 0, 0, 0, 0, 0};
enum { KRO_DEFAULT_ROWS = 64, KRO_DEFAULT_ROWS_PER_MINUTE = 480 };

static float *kroFloatField(void *record, size_t first, int index) {
  return (float *)((char *)record + first) + index;
}

/* The index of word in names (count of them), or -1. */
static int kroNameIndex(const char *word, const char *const *names, int count) {
  for (int i = 0; i < count; i++)
    if (strcmp(word, names[i]) == 0)
      return i;
  return -1;
}

/* ---- notes --------------------------------------------------------------- */

static const char KRO_NOTE_LETTERS[] = "CCDDEFFGGAAB";
static const char KRO_NOTE_SIGNS[] = "-#-#--#-#-#-";

/* A cell's text: "C-4" style for keys 12..127 (A-4 is key 69), the number for keys 1..11,
 * "off" for the note-off. */
static void kroCellText(uint8_t cell, char *text) {
  if (cell == KRO_NOTE_OFF)
    strcpy(text, "off");
  else if (cell < 12)
    snprintf(text, 8, "%d", cell);
  else
    snprintf(text, 8, "%c%c%d", KRO_NOTE_LETTERS[cell % 12], KRO_NOTE_SIGNS[cell % 12],
             cell / 12 - 1);
}

/* A cell from its text; -1 when it is none. */
static int kroCellFromText(const char *text) {
  if (strcmp(text, "off") == 0)
    return KRO_NOTE_OFF;
  if (text[0] >= '0' && text[0] <= '9') {
    char *end;
    long key = strtol(text, &end, 10);
    return *end || key < 1 || key > KRO_SYNTH_MAX_KEY ? -1 : (int)key;
  }
  if (strlen(text) != 3 || text[2] < '0' || text[2] > '9')
    return -1;
  for (int semitone = 0; semitone < 12; semitone++)
    if (text[0] == KRO_NOTE_LETTERS[semitone] && text[1] == KRO_NOTE_SIGNS[semitone]) {
      int key = 12 * (text[2] - '0' + 1) + semitone;
      return key <= KRO_SYNTH_MAX_KEY ? key : -1;
    }
  return -1;
}

/* ---- reading ------------------------------------------------------------- */

typedef enum kroSongBlock {
  KRO_BLOCK_NONE,
  KRO_BLOCK_SONG,
  KRO_BLOCK_INSTRUMENT,
  KRO_BLOCK_CHANNEL,
  KRO_BLOCK_PATTERN,
  KRO_BLOCK_ORDER
} kroSongBlock;

/* The reader's state: the arrays being filled (sized by a first pass) and where it stands. */
typedef struct kroSongReader {
  kroTextLines text;
  kroSongFile *file;
  kroInstrument *instruments;
  kroChannel *channels;
  uint8_t *patterns, *order;
  int instruments_made, channels_made, patterns_made, steps_made;
  int pattern_room, step_room;
  int block;
  uint32_t fields_seen; /* the current block's fields, one bit each */
  int last_row;         /* the current pattern's last row, -1 before its first */
  int in_preset;        /* reading a preset file: presets name no presets */
} kroSongReader;

static int kroReadSong(kroSongFile *file, const char *path, int in_preset, char *why,
                       size_t why_bytes);

/* How many of each block the text holds, read by each line's first word. */
static void kroCountBlocks(const char *bytes, int counts[4]) {
  kroTextLines text = {bytes, 1, ""};
  int in_order = 0;
  memset(counts, 0, 4 * sizeof counts[0]);
  while (*text.p) {
    char word[16];
    int length = kroTextWord(&text, word, sizeof word - 1);
    if (length > 0) {
      int block = kroNameIndex(word, KRO_BLOCK_NAMES + 1, 3); /* instrument, channel, pattern */
      if (block >= 0)
        counts[block]++;
      else if (strcmp(word, "order") == 0)
        in_order = 1;
      else if (in_order)
        counts[3]++;
    }
    while (*text.p && *text.p != '\n')
      text.p++;
    if (*text.p)
      text.p++;
  }
}

/* A field given once per block; 0 or -1. */
static int kroSeeField(kroSongReader *r, int bit, const char *field) {
  if (r->fields_seen & (1u << bit))
    return kroTextRefuse(&r->text, "%s given twice in one block", field);
  r->fields_seen |= 1u << bit;
  return 0;
}

static int kroReadRanged(kroSongReader *r, float *value, const kroRange *range, const char *field) {
  double number;
  if (kroTextNumber(&r->text, &number, field) != 0)
    return -1;
  float single = (float)number; /* the range holds for the float the record keeps */
  if (!(single >= range->low && single <= range->high))
    return kroTextRefuse(&r->text, "%s outside %g to %g", field, (double)range->low,
                         (double)range->high);
  *value = single;
  return 0;
}

static int kroReadWhole(kroSongReader *r, int *value, long low, long high, const char *field) {
  double number;
  if (kroTextNumber(&r->text, &number, field) != 0)
    return -1;
  if (!(number >= low && number <= high && number == (double)(long)number))
    return kroTextRefuse(&r->text, "%s not a whole number from %ld to %ld", field, low, high);
  *value = (int)number;
  return 0;
}

static char kroPresetFolder[KRO_PRESET_FOLDER_CHARS + 1] = "presets";

int kroSetPresetFolder(const char *folder) {
  if (!folder || !*folder)
    folder = "presets";
  if (strlen(folder) > KRO_PRESET_FOLDER_CHARS) {
    kroFail("Error in kroSetPresetFolder(..): the folder name is longer than %d characters\n",
            (int)KRO_PRESET_FOLDER_CHARS);
    return -1;
  }
  strcpy(kroPresetFolder, folder);
  return 0;
}

/* The folder named, or while it is the default and the working folder has none, the installed
 * engine's (KRO_INSTALLED_PRESET_FOLDER: <prefix>/share/kro/presets, set by the build when it
 * installs). */
const char *kroGetPresetFolder(void) {
#ifdef KRO_INSTALLED_PRESET_FOLDER
  struct stat info;
  if (strcmp(kroPresetFolder, "presets") == 0 &&
      !(stat("presets", &info) == 0 && S_ISDIR(info.st_mode)))
    return KRO_INSTALLED_PRESET_FOLDER;
#endif
  return kroPresetFolder;
}

/* `preset NAME`: the instrument of <preset folder>/NAME.song under every field this block has
 * not given yet, so that the block's own fields win wherever they stand. */
static int kroReadPreset(kroSongReader *r, kroInstrument *ins) {
  char name[KRO_SONG_NAME_CHARS + 2], why[sizeof r->text.why];
  int length = kroTextWord(&r->text, name, KRO_SONG_NAME_CHARS + 1);
  if (length <= 0 || length > KRO_SONG_NAME_CHARS || !kroTextNameIsSound(name))
    return kroTextRefuse(&r->text, "a preset name missing, over 31 characters or not of "
                                   "letters, digits and . _ : -");
  if (r->in_preset)
    return kroTextRefuse(&r->text, "a preset inside a preset");
  size_t bytes = strlen(kroGetPresetFolder()) + sizeof name + 8;
  char *path = (char *)kroAllocate(bytes);
  if (!path)
    return -2;
  snprintf(path, bytes, "%s/%s.song", kroGetPresetFolder(), name);
  struct stat info;
  int exists = stat(path, &info) == 0;
  kroSongFile preset;
  int result = kroReadSong(&preset, path, 1, why, sizeof why);
  free(path);
  if (result == -2)
    return -2;
  if (result != 0)
    return exists ? kroTextRefuse(&r->text, "preset %s refused: %.80s", name, why)
                  : kroTextRefuse(&r->text, "an unknown preset %s", name);
  kroInstrument base = preset.song.instruments[0];
  kroFreeSong(&preset);
  if (!(r->fields_seen & (1u << 20)))
    ins->wave = base.wave;
  if (!(r->fields_seen & (1u << 21)))
    ins->filter = base.filter;
  for (int i = 0; i < KRO_INSTRUMENT_FLOATS; i++)
    if (!(r->fields_seen & (1u << i)))
      *kroFloatField(ins, offsetof(kroInstrument, pulse_width), i) =
          *kroFloatField(&base, offsetof(kroInstrument, pulse_width), i);
  return 0;
}

/* One field line of the song, an instrument or a channel block. */
static int kroReadField(kroSongReader *r, const char *field) {
  char word[KRO_SONG_NAME_CHARS + 2];
  kroSong *song = &r->file->song;
  int index;
  switch (r->block) {
  case KRO_BLOCK_SONG:
    if (strcmp(field, "rows") == 0)
      return kroSeeField(r, 20, field) ? -1
                                       : kroReadWhole(r, &song->rows, 1, KRO_SYNTH_MAX_ROWS, field);
    if (strcmp(field, "tempo") == 0)
      return kroSeeField(r, 21, field)
                 ? -1
                 : kroReadWhole(r, &song->rows_per_minute, 1, 60L * KRO_SYNTH_RATE, field);
    if ((index = kroNameIndex(field, KRO_SONG_FIELDS, KRO_SONG_FLOATS)) >= 0)
      return kroSeeField(r, index, field)
                 ? -1
                 : kroReadRanged(r, kroFloatField(song, offsetof(kroSong, delay_seconds), index),
                                 &KRO_SONG_RANGES[index], field);
    break;
  case KRO_BLOCK_INSTRUMENT: {
    kroInstrument *ins = &r->instruments[r->instruments_made - 1];
    if (strcmp(field, "preset") == 0)
      return kroSeeField(r, 22, field) ? -1 : kroReadPreset(r, ins);
    int wave = strcmp(field, "wave") == 0, filter = strcmp(field, "filter") == 0;
    if (wave || filter) {
      if (kroSeeField(r, wave ? 20 : 21, field) || kroTextWord(&r->text, word, 15) < 0)
        return -1;
      int kind =
          wave ? kroNameIndex(word, KRO_WAVE_NAMES, 5) : kroNameIndex(word, KRO_FILTER_NAMES, 4);
      if (kind < 0)
        return kroTextRefuse(&r->text, wave ? "a wave that is none of sine, saw, square, "
                                              "triangle, noise"
                                            : "a filter that is none of off, low, high, band");
      *(wave ? &ins->wave : &ins->filter) = (uint8_t)kind;
      return 0;
    }
    if ((index = kroNameIndex(field, KRO_INSTRUMENT_FIELDS, KRO_INSTRUMENT_FLOATS)) >= 0)
      return kroSeeField(r, index, field)
                 ? -1
                 : kroReadRanged(r, kroFloatField(ins, offsetof(kroInstrument, pulse_width), index),
                                 &KRO_INSTRUMENT_RANGES[index], field);
    break;
  }
  case KRO_BLOCK_CHANNEL: {
    kroChannel *channel = &r->channels[r->channels_made - 1];
    if (strcmp(field, "instrument") == 0) {
      if (kroSeeField(r, 20, field) || kroTextWord(&r->text, word, KRO_SONG_NAME_CHARS + 1) < 0)
        return -1;
      for (index = 0; index < r->instruments_made; index++)
        if (strcmp(word, r->file->instrument_names[index]) == 0)
          break;
      if (index == r->instruments_made)
        return kroTextRefuse(&r->text, "an instrument not named before the channel");
      channel->instrument = (uint8_t)index;
      return 0;
    }
    if ((index = kroNameIndex(field, KRO_CHANNEL_FIELDS, KRO_CHANNEL_FLOATS)) >= 0)
      return kroSeeField(r, index, field)
                 ? -1
                 : kroReadRanged(r, kroFloatField(channel, offsetof(kroChannel, volume), index),
                                 &KRO_CHANNEL_RANGES[index], field);
    break;
  }
  }
  return kroTextRefuse(&r->text, "'%s' is no field of this block", field);
}

/* A cell line of the current pattern: ROW CELL. */
static int kroReadCell(kroSongReader *r, const char *first) {
  int rows = r->file->song.rows;
  char *end, word[8];
  long row = strtol(first, &end, 10);
  if (*end || row < 0 || row >= rows)
    return kroTextRefuse(&r->text, "a row that is not a whole number from 0 to %d", rows - 1);
  if (row <= r->last_row)
    return kroTextRefuse(&r->text, "a row not after the pattern's previous one");
  int cell = kroTextWord(&r->text, word, sizeof word - 1) > 0 ? kroCellFromText(word) : -1;
  if (cell < 0)
    return kroTextRefuse(&r->text, "a cell that is no note (C-0 .. G-9, 1..127, off)");
  r->last_row = (int)row;
  r->patterns[(size_t)(r->patterns_made - 1) * rows + row] = (uint8_t)cell;
  return 0;
}

/* A step of the order list: a pattern number or "." (the channel rests) for each channel. */
static int kroReadStep(kroSongReader *r, const char *first) {
  int channels = r->channels_made;
  if (r->steps_made == r->step_room) /* the first pass counted every step line */
    return kroTextRefuse(&r->text, "more steps than the order list holds");
  uint8_t *step = &r->order[(size_t)r->steps_made * channels];
  char word[8];
  for (int c = 0; c < channels; c++) {
    if (c > 0 && kroTextWord(&r->text, word, sizeof word - 1) < 0)
      return kroTextRefuse(&r->text, "an order entry that is no pattern number");
    const char *entry = c == 0 ? first : word;
    char *end;
    long number = strtol(entry, &end, 10);
    if (strcmp(entry, ".") == 0)
      step[c] = KRO_PATTERN_SILENT;
    else if (!*entry)
      return kroTextRefuse(&r->text, "a step with fewer entries than the %d channels", channels);
    else if (*end || number < 0 || number >= r->patterns_made)
      return kroTextRefuse(&r->text, "an order entry that is no pattern number (0 to %d, or .)",
                           r->patterns_made - 1);
    else
      step[c] = (uint8_t)number;
  }
  r->steps_made++;
  return 0;
}

/* A block's first line: its keyword and name or number. Inside a channel block, "instrument"
 * is the channel's field, not a block: instruments come before channels. */
static int kroStartBlock(kroSongReader *r, const char *keyword) {
  int block = kroNameIndex(keyword, KRO_BLOCK_NAMES, 5) + KRO_BLOCK_SONG;
  char word[KRO_SONG_NAME_CHARS + 2];
  if (block < r->block ||
      (block == r->block && (block == KRO_BLOCK_SONG || block == KRO_BLOCK_ORDER)))
    return kroTextRefuse(&r->text,
                         "'%s' out of the blocks' order (song, instruments, "
                         "channels, patterns, order)",
                         keyword);
  r->block = block;
  r->fields_seen = 0;
  kroSongFile *file = r->file;
  if (block == KRO_BLOCK_INSTRUMENT || block == KRO_BLOCK_CHANNEL) {
    int instrument = block == KRO_BLOCK_INSTRUMENT;
    int made = instrument ? r->instruments_made : r->channels_made;
    kroSongName *names = instrument ? file->instrument_names : file->channel_names;
    int length = kroTextWord(&r->text, word, KRO_SONG_NAME_CHARS + 1);
    if (length <= 0 || length > KRO_SONG_NAME_CHARS || !kroTextNameIsSound(word))
      return kroTextRefuse(&r->text,
                           "a %s name missing, over 31 characters or not of letters, "
                           "digits and . _ : -",
                           keyword);
    for (int i = 0; i < made; i++)
      if (strcmp(word, names[i]) == 0)
        return kroTextRefuse(&r->text, "a %s name given twice", keyword);
    if (!instrument && made == KRO_SYNTH_CHANNELS)
      return kroTextRefuse(&r->text, "more channels than 8");
    if (instrument && made == 255)
      return kroTextRefuse(&r->text, "more instruments than 255");
    memcpy(names[made], word, (size_t)length + 1);
    if (instrument)
      r->instruments[r->instruments_made++] = KRO_DEFAULT_INSTRUMENT;
    else
      r->channels[r->channels_made++] = KRO_DEFAULT_CHANNEL;
  } else if (block == KRO_BLOCK_PATTERN) {
    int number;
    if (kroReadWhole(r, &number, 0, KRO_SYNTH_MAX_PATTERNS - 1, "the pattern's number") != 0)
      return -1;
    if (number != r->patterns_made || number >= r->pattern_room)
      return kroTextRefuse(&r->text, "pattern %d where pattern %d comes next", number,
                           r->patterns_made);
    if (!r->patterns) { /* the rows are known once the first pattern starts */
      r->patterns = (uint8_t *)kroAllocateZeroed((size_t)r->pattern_room * file->song.rows);
      if (!r->patterns)
        return -2;
    }
    r->patterns_made++;
    r->last_row = -1;
  } else if (block == KRO_BLOCK_ORDER) {
    if (r->channels_made == 0 || r->patterns_made == 0)
      return kroTextRefuse(&r->text, "an order list before any channel or pattern");
    r->order = (uint8_t *)kroAllocate((size_t)r->step_room * r->channels_made + 1);
    if (!r->order)
      return -2;
  }
  return kroTextEndLine(&r->text);
}

/* The whole text; 0, -1 refused (why set), -2 allocation failed. */
static int kroReadSongText(kroSongReader *r) {
  for (;;) {
    char word[KRO_SONG_NAME_CHARS + 2];
    int length = kroTextWord(&r->text, word, KRO_SONG_NAME_CHARS + 1);
    if (length < 0)
      return -1;
    int result;
    if (length == 0) {
      if (!*r->text.p)
        break;
      result = kroTextEndLine(&r->text);
    } else if (kroNameIndex(word, KRO_BLOCK_NAMES, 5) >= 0 &&
               !(r->block == KRO_BLOCK_CHANNEL && strcmp(word, "instrument") == 0)) {
      result = kroStartBlock(r, word);
    } else if (r->block == KRO_BLOCK_NONE) {
      result = kroTextRefuse(&r->text, "'%s' before the first block", word);
    } else if (r->block == KRO_BLOCK_PATTERN) {
      result = kroReadCell(r, word);
      if (result == 0)
        result = kroTextEndLine(&r->text);
    } else if (r->block == KRO_BLOCK_ORDER) {
      result = kroReadStep(r, word);
      if (result == 0)
        result = kroTextEndLine(&r->text);
    } else {
      result = kroReadField(r, word);
      if (result == 0)
        result = kroTextEndLine(&r->text);
    }
    if (result != 0)
      return result;
  }
  if (r->instruments_made == 0 || r->channels_made == 0 || r->patterns_made == 0)
    return kroTextRefuse(&r->text, "a song without an instrument, a channel or a pattern");
  return 0;
}

void kroFreeSong(kroSongFile *file) {
  free((void *)file->song.instruments);
  free((void *)file->song.channels);
  free((void *)file->song.patterns);
  free((void *)file->song.order);
  free(file->instrument_names);
  free(file->channel_names);
  memset(file, 0, sizeof *file);
}

/* Read path into *file: 0; -1 refused with the reason and line (or why the file cannot be
 * read) in why; -2 allocation failed. *file is empty unless 0. */
static int kroReadSong(kroSongFile *file, const char *path, int in_preset, char *why,
                       size_t why_bytes) {
  memset(file, 0, sizeof *file);
  char *bytes = kroReadTextFile(path, KRO_SONG_MAX_BYTES, why, (int)why_bytes);
  if (!bytes)
    return -1;
  int counts[4];
  kroCountBlocks(bytes, counts);
  kroSongReader r = {};
  r.text = {bytes, 1, ""};
  r.file = file;
  r.in_preset = in_preset;
  r.pattern_room = counts[2] < KRO_SYNTH_MAX_PATTERNS ? counts[2] : KRO_SYNTH_MAX_PATTERNS;
  r.step_room = counts[3];
  int instruments = counts[0] < 255 ? counts[0] : 255;
  int channels = counts[1] < KRO_SYNTH_CHANNELS ? counts[1] : KRO_SYNTH_CHANNELS;
  file->song.rows = KRO_DEFAULT_ROWS;
  file->song.rows_per_minute = KRO_DEFAULT_ROWS_PER_MINUTE;
  file->song.master = 1.0f;
  r.instruments = (kroInstrument *)kroAllocate((size_t)instruments * sizeof(kroInstrument));
  r.channels = (kroChannel *)kroAllocate((size_t)channels * sizeof(kroChannel));
  file->instrument_names = (kroSongName *)kroAllocate((size_t)instruments * sizeof(kroSongName));
  file->channel_names = (kroSongName *)kroAllocate((size_t)channels * sizeof(kroSongName));
  int result = r.instruments && r.channels && file->instrument_names && file->channel_names
                   ? kroReadSongText(&r)
                   : -2;
  free(bytes);
  kroSong *song = &file->song;
  song->instruments = r.instruments;
  song->instrument_count = r.instruments_made;
  song->channels = r.channels;
  song->channel_count = r.channels_made;
  song->patterns = r.patterns;
  song->pattern_count = r.patterns_made;
  song->order = r.order;
  song->order_count = r.steps_made;
  if (result == -1)
    snprintf(why, why_bytes, "%s at line %d", r.text.why, r.text.line);
  if (result != 0)
    kroFreeSong(file);
  return result;
}

int kroLoadSong(kroSongFile *file, const char *path) {
  char why[256];
  int result = kroReadSong(file, path, 0, why, sizeof why);
  if (result == -1)
    kroFail("Error in reading a song from %s: %s\n", path, why);
  else if (result != 0)
    kroFail("Error during allocating memory in kroLoadSong(..)\n");
  return result == 0 ? 0 : -1;
}

/* ---- writing ------------------------------------------------------------- */

/* Each value in the fewest digits that read back as the same float. */
static void kroPrintFloats(FILE *out, const void *record, size_t first, const char *const *names,
                           int count) {
  for (int i = 0; i < count; i++) {
    fprintf(out, "%s ", names[i]);
    kroPrintShortFloat(out, *kroFloatField((void *)record, first, i));
    fputc('\n', out);
  }
}

static void kroPrintSong(FILE *out, const kroSongFile *file) {
  const kroSong *song = &file->song;
  fprintf(out,
          "# A song for the engine's synthesizer (docs/sound.md).\n\nsong\nrows %d\ntempo %d\n",
          song->rows, song->rows_per_minute);
  kroPrintFloats(out, song, offsetof(kroSong, delay_seconds), KRO_SONG_FIELDS, KRO_SONG_FLOATS);
  for (int i = 0; i < song->instrument_count; i++) {
    const kroInstrument *ins = &song->instruments[i];
    if (file->instrument_names)
      fprintf(out, "\ninstrument %s\n", file->instrument_names[i]);
    else
      fprintf(out, "\ninstrument instrument-%d\n", i);
    fprintf(out, "wave %s\nfilter %s\n", KRO_WAVE_NAMES[ins->wave], KRO_FILTER_NAMES[ins->filter]);
    kroPrintFloats(out, ins, offsetof(kroInstrument, pulse_width), KRO_INSTRUMENT_FIELDS,
                   KRO_INSTRUMENT_FLOATS);
  }
  for (int c = 0; c < song->channel_count; c++) {
    const kroChannel *channel = &song->channels[c];
    if (file->channel_names)
      fprintf(out, "\nchannel %s\n", file->channel_names[c]);
    else
      fprintf(out, "\nchannel channel-%d\n", c);
    if (file->instrument_names)
      fprintf(out, "instrument %s\n", file->instrument_names[channel->instrument]);
    else
      fprintf(out, "instrument instrument-%d\n", channel->instrument);
    kroPrintFloats(out, channel, offsetof(kroChannel, volume), KRO_CHANNEL_FIELDS,
                   KRO_CHANNEL_FLOATS);
  }
  for (int p = 0; p < song->pattern_count; p++) {
    fprintf(out, "\npattern %d\n", p);
    for (int row = 0; row < song->rows; row++) {
      uint8_t cell = song->patterns[(size_t)p * song->rows + row];
      char text[8];
      if (cell == KRO_NOTE_NONE)
        continue;
      kroCellText(cell, text);
      fprintf(out, "%d %s\n", row, text);
    }
  }
  fprintf(out, "\norder\n");
  for (int step = 0; step < song->order_count; step++)
    for (int c = 0; c < song->channel_count; c++) {
      uint8_t entry = song->order[(size_t)step * song->channel_count + c];
      if (entry == KRO_PATTERN_SILENT)
        fprintf(out, "%s.", c ? " " : "");
      else
        fprintf(out, "%s%d", c ? " " : "", entry);
      if (c == song->channel_count - 1)
        fputc('\n', out);
    }
}

int kroWriteSong(const kroSongFile *file, const char *path) {
  kroSynth check;
  if (kroStartSynth(&check, &file->song) != 0) /* only a song that plays is written */
    return -1;
  kroStopSynth(&check);
  kroOutFile out;
  if (kroBeginOutFile(&out, path) == 0) {
    kroPrintSong(out.file, file);
    if (kroCommitOutFile(&out) == 0)
      return 0;
  }
  kroFail("Error in writing a song to %s: %s\n", path, strerror(out.error));
  errno = out.error;
  return -1;
}
