// krotool midi-song: a song file (docs/sound.md) from a Standard MIDI File, read by the engine
// (kroReadMidi). Each MIDI channel becomes a song channel playing the preset its first note's
// program names (the General MIDI families below); the drum channel (10) becomes one song
// channel per drum preset its keys name. A song channel plays one note at a time on rows at a
// fixed tempo, so the tool moves, cuts and drops what does not fit and says so on standard
// error, with counts. Refused files and failed writes exit with 1, usage errors with 2.
#include "krotool.h"

#include "kro.h"

#include <algorithm>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

static const char krotoolMidiSongUsage[] = "FILE.mid [-o OUT.song] [--rows-per-beat N] [--rows N]";

// The preset of each General MIDI family of 8 programs (program / 8).
static const char *const krotoolFamilyPresets[16] = {
    "pluck",       // pianos
    "bell",        // chromatic percussion
    "square-lead", // organs
    "pluck",       // guitars
    "saw-bass",    // basses
    "string-pad",  // strings
    "string-pad",  // ensembles
    "lead",        // brass
    "square-lead", // reeds
    "lead",        // pipes
    "lead",        // synth leads
    "pad",         // synth pads
    "pad",         // synth effects
    "pluck",       // ethnic
    "bell",        // percussive
    "noise-sweep"  // sound effects
};

// The preset of a key on the drum channel, or null for a key no preset plays.
static const char *krotoolDrumPreset(int key) {
  switch (key) {
  case 35:
  case 36:
    return "kick";
  case 37:
  case 38:
  case 40:
    return "snare";
  case 39:
    return "clap";
  case 42:
  case 44:
  case 51:
  case 59:
    return "closed-hat";
  case 46:
  case 49:
  case 55:
  case 57:
    return "open-hat";
  case 41:
  case 43:
  case 45:
  case 47:
  case 48:
  case 50:
    return "tom";
  }
  return nullptr;
}

enum { krotoolDrumChannel = 9, krotoolMostPatterns = 254 };

namespace {

// What becomes one song channel: a MIDI channel, or one drum preset of the drum channel.
struct Voice {
  int channel;
  const char *preset;
  std::vector<const kroMidiNote *> notes;
};

// Counts of what did not fit, for the report.
struct Report {
  long moved = 0, cut = 0, same_row = 0, no_drum = 0, key_zero = 0, other_program = 0;
  long past_channels = 0, past_patterns = 0;
  std::string drum_keys, dropped_voices;
};

struct Cells {
  std::vector<uint8_t> cells; // the voice's rows from 0, NONE where nothing starts
  double velocity = 0;        // the mean of the notes kept
};

} // namespace

// Ticks to the nearest row (halves up).
static int64_t krotoolRow(int64_t tick, int rows_per_beat, int ticks_per_beat) {
  return (tick * rows_per_beat * 2 + ticks_per_beat) / (2 * (int64_t)ticks_per_beat);
}

// One voice's notes on rows: a note that starts while the one before still sounds cuts it;
// of notes starting on one row the first read is kept. Drums play out their preset's envelope:
// no note-offs, nothing cut.
static Cells krotoolVoiceCells(const Voice &voice, const kroMidi *midi, int rows_per_beat,
                               int64_t most_rows, Report *report) {
  struct Placed {
    int64_t start, end;
    uint8_t key;
  };
  std::vector<const kroMidiNote *> notes = voice.notes;
  std::stable_sort(notes.begin(), notes.end(),
                   [](const kroMidiNote *a, const kroMidiNote *b) { return a->start < b->start; });
  int drums = voice.channel == krotoolDrumChannel;
  std::vector<Placed> placed;
  Cells out;
  for (const kroMidiNote *note : notes) {
    int64_t start = krotoolRow(note->start, rows_per_beat, midi->ticks_per_beat);
    int64_t end = std::max(krotoolRow(note->end, rows_per_beat, midi->ticks_per_beat), start + 1);
    if (start >= most_rows) { // past what the song's patterns can hold
      report->past_patterns++;
      continue;
    }
    if (!placed.empty() && placed.back().start == start) {
      report->same_row++;
      continue;
    }
    if (note->start * rows_per_beat % midi->ticks_per_beat != 0)
      report->moved++;
    if (!drums && !placed.empty() && placed.back().end > start) {
      placed.back().end = start;
      report->cut++;
    }
    placed.push_back({start, end, note->key});
    out.velocity += note->velocity;
  }
  out.velocity /= placed.empty() ? 1 : (double)placed.size();
  int64_t rows = 0;
  for (const Placed &p : placed)
    rows = std::min(std::max(rows, drums ? p.start + 1 : p.end + 1), most_rows);
  out.cells.assign((size_t)rows, KRO_NOTE_NONE);
  for (size_t i = 0; i < placed.size(); i++) {
    out.cells[(size_t)placed[i].start] = placed[i].key;
    if (!drums && placed[i].end < rows &&
        (i + 1 == placed.size() || placed[i + 1].start > placed[i].end))
      out.cells[(size_t)placed[i].end] = KRO_NOTE_OFF;
  }
  return out;
}

// The notes grouped into voices, busiest first; notes no voice plays are counted.
static std::vector<Voice> krotoolVoices(const kroMidi *midi, Report *report) {
  std::vector<Voice> voices;
  uint8_t first_program[16];
  int seen[16] = {};
  for (int i = 0; i < midi->note_count; i++) {
    const kroMidiNote *note = &midi->notes[i];
    const char *preset;
    if (note->key == 0) {
      report->key_zero++;
      continue;
    }
    if (note->channel == krotoolDrumChannel) {
      preset = krotoolDrumPreset(note->key);
      if (!preset) {
        report->no_drum++;
        if (report->drum_keys.find(" " + std::to_string(note->key) + " ") == std::string::npos &&
            report->drum_keys.size() < 60)
          report->drum_keys += " " + std::to_string(note->key) + " ";
        continue;
      }
    } else {
      if (!seen[note->channel]++)
        first_program[note->channel] = note->program;
      report->other_program += note->program != first_program[note->channel];
      preset = krotoolFamilyPresets[first_program[note->channel] / 8];
    }
    auto voice = std::find_if(voices.begin(), voices.end(), [&](const Voice &v) {
      return v.channel == note->channel && !strcmp(v.preset, preset);
    });
    if (voice == voices.end())
      voice = voices.insert(voices.end(), Voice{note->channel, preset, {}});
    voice->notes.push_back(note);
  }
  std::stable_sort(voices.begin(), voices.end(),
                   [](const Voice &a, const Voice &b) { return a.notes.size() > b.notes.size(); });
  for (size_t v = KRO_SYNTH_CHANNELS; v < voices.size(); v++) {
    report->past_channels += (long)voices[v].notes.size();
    report->dropped_voices += (report->dropped_voices.empty() ? "" : ", ") +
                              std::string("MIDI channel ") + std::to_string(voices[v].channel + 1) +
                              " " + voices[v].preset + " (" +
                              std::to_string(voices[v].notes.size()) + ")";
  }
  if (voices.size() > KRO_SYNTH_CHANNELS)
    voices.resize(KRO_SYNTH_CHANNELS);
  return voices;
}

static std::string krotoolChannelName(const Voice &voice) {
  return voice.channel == krotoolDrumChannel ? std::string("drums-") + voice.preset
                                             : "ch" + std::to_string(voice.channel + 1);
}

// Patterns of `rows` cells cut from each channel's rows in turn, an empty one a rest in the
// order list and a repeated one used again; patterns past the synthesizer's 254 end the song.
static void krotoolWriteSong(FILE *out, const char *source, const std::vector<Voice> &voices,
                             const std::vector<Cells> &cells, int rows, int rows_per_minute,
                             Report *report) {
  size_t length = 0;
  for (const Cells &c : cells)
    length = std::max(length, c.cells.size());
  int64_t steps = ((int64_t)length + rows - 1) / rows;
  std::vector<std::vector<uint8_t>> patterns;
  std::vector<std::vector<int>> order;
  for (int64_t step = 0; step < steps; step++) {
    std::vector<int> entries;
    std::vector<std::vector<uint8_t>> made = patterns;
    for (const Cells &c : cells) {
      std::vector<uint8_t> slice((size_t)rows, KRO_NOTE_NONE);
      for (int row = 0; row < rows && step * rows + row < (int64_t)c.cells.size(); row++)
        slice[(size_t)row] = c.cells[(size_t)(step * rows + row)];
      if (std::count(slice.begin(), slice.end(), KRO_NOTE_NONE) == rows) {
        entries.push_back(-1);
        continue;
      }
      size_t index = std::find(made.begin(), made.end(), slice) - made.begin();
      if (index == made.size())
        made.push_back(slice);
      entries.push_back((int)index);
    }
    if (made.size() > (size_t)krotoolMostPatterns) { // the notes from this step on are dropped
      for (const Cells &c : cells)
        for (size_t i = (size_t)(step * rows); i < c.cells.size(); i++)
          report->past_patterns += c.cells[i] != KRO_NOTE_NONE && c.cells[i] != KRO_NOTE_OFF;
      break;
    }
    patterns = made;
    order.push_back(entries);
  }
  fprintf(out,
          "# A song from %s, made by krotool midi-song: presets from the General MIDI "
          "programs.\n\nsong\nrows %d\ntempo %d\n",
          source, rows, rows_per_minute);
  std::vector<const char *> presets;
  for (const Voice &v : voices)
    if (std::find_if(presets.begin(), presets.end(),
                     [&](const char *p) { return !strcmp(p, v.preset); }) == presets.end()) {
      presets.push_back(v.preset);
      fprintf(out, "\ninstrument %s\npreset %s\n", v.preset, v.preset);
    }
  for (size_t c = 0; c < voices.size(); c++)
    fprintf(out, "\nchannel %s\ninstrument %s\nvolume %.2f\n",
            krotoolChannelName(voices[c]).c_str(), voices[c].preset, cells[c].velocity / 127);
  if (patterns.empty()) // a song has at least one pattern
    patterns.push_back(std::vector<uint8_t>((size_t)rows, KRO_NOTE_NONE));
  for (size_t p = 0; p < patterns.size(); p++) {
    fprintf(out, "\npattern %zu\n", p);
    for (int row = 0; row < rows; row++) {
      uint8_t cell = patterns[p][(size_t)row];
      if (cell == KRO_NOTE_OFF)
        fprintf(out, "%d off\n", row);
      else if (cell >= 12) // a note name where the key has one, C-0 (12) up
        fprintf(out, "%d %c%c%d\n", row, "CCDDEFFGGAAB"[cell % 12], "-#-#--#-#-#-"[cell % 12],
                cell / 12 - 1);
      else if (cell != KRO_NOTE_NONE)
        fprintf(out, "%d %d\n", row, cell);
    }
  }
  fprintf(out, "\norder\n");
  for (const std::vector<int> &entries : order) {
    std::string line;
    for (size_t c = 0; c < entries.size(); c++)
      line += (c ? " " : "") + (entries[c] < 0 ? std::string(".") : std::to_string(entries[c]));
    fprintf(out, "%s\n", line.c_str());
  }
}

// A whole number option's value within low..high; -1 when it is none.
static long krotoolWhole(const char *text, long low, long high) {
  char *end;
  errno = 0;
  long value = strtol(text, &end, 10);
  return *text && !*end && !errno && value >= low && value <= high ? value : -1;
}

int krotoolMidiSong(int argc, char **argv) {
  if (argc >= 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    printf("usage: krotool midi-song %s\n\n"
           "Writes a song file (docs/sound.md) from a Standard MIDI File of format 0 or 1.\n"
           "Each MIDI channel becomes a song channel playing a preset chosen by its first\n"
           "program's General MIDI family; channel 10 becomes one channel per drum preset.\n"
           "The 8 busiest channels are kept. Notes land on the nearest row at N rows a beat\n"
           "(4); the tempo is the first tempo event's; patterns hold --rows rows (4 bars of\n"
           "the first time signature, else 64). What was moved, cut or dropped is reported\n"
           "on standard error with counts. OUT (standard output without -o) is replaced whole.\n",
           krotoolMidiSongUsage);
    return 0;
  }
  const char *out_path = "/dev/stdout";
  long rows_per_beat = 4, rows = 0;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 < argc && !strcmp(argv[i], "-o"))
      out_path = argv[i + 1];
    else if (i + 1 < argc && !strcmp(argv[i], "--rows-per-beat"))
      rows_per_beat = krotoolWhole(argv[i + 1], 1, 96);
    else if (i + 1 < argc && !strcmp(argv[i], "--rows"))
      rows = krotoolWhole(argv[i + 1], 1, 1024);
    else
      argc = -1;
  }
  if (argc < 1 || rows_per_beat < 0 || rows < 0) {
    fprintf(stderr,
            "krotool midi-song: expected FILE.mid and options (--rows-per-beat 1..96, --rows "
            "1..1024)\nusage: krotool midi-song %s\n",
            krotoolMidiSongUsage);
    return 2;
  }
  int saved = krotoolEngineBegin();
  kroMidi midi;
  int read = kroReadMidi(&midi, argv[0]);
  krotoolEngineEnd(saved);
  if (read != 0) {
    fprintf(stderr, "krotool midi-song: refused %s: %s\n", argv[0], krotoolEngineMessage);
    return 1;
  }
  if (rows == 0) { // four bars of the first time signature when they make whole rows
    long bar = midi.beat_unit ? 4 * rows_per_beat * midi.beats_per_bar : 0;
    rows = bar % midi.beat_unit == 0 && bar / midi.beat_unit * 4 <= 1024 && bar > 0
               ? bar / midi.beat_unit * 4
               : 64;
  }
  double bpm = 60e6 / midi.micros_per_beat;
  int rows_per_minute =
      (int)std::min(std::max(bpm * rows_per_beat + 0.5, 1.0), 60.0 * KRO_SYNTH_RATE);
  Report report;
  std::vector<Voice> voices = krotoolVoices(&midi, &report);
  if (voices.empty()) {
    fprintf(stderr, "krotool midi-song: refused %s: no note that a preset plays\n", argv[0]);
    kroFreeMidi(&midi);
    return 1;
  }
  std::vector<Cells> cells;
  for (const Voice &voice : voices)
    cells.push_back(krotoolVoiceCells(voice, &midi, (int)rows_per_beat,
                                      (int64_t)krotoolMostPatterns * rows, &report));
  kroOutFile out;
  int written = kroBeginOutFile(&out, out_path);
  if (written == 0) {
    krotoolWriteSong(out.file, argv[0], voices, cells, (int)rows, rows_per_minute, &report);
    written = kroCommitOutFile(&out);
  }
  fprintf(stderr, "krotool midi-song: %s: format %d, %d tracks, %d notes, %.6g bpm\n", argv[0],
          midi.format, midi.tracks, midi.note_count, bpm);
  const struct {
    long count;
    const char *what;
    std::string more;
  } lines[] = {
      {report.moved, "notes moved to the nearest row", ""},
      {report.cut, "notes cut short by the next note on their channel", ""},
      {report.same_row, "notes dropped: their channel starts another on the same row", ""},
      {report.no_drum, "drum notes dropped: no preset for keys", report.drum_keys},
      {report.key_zero, "notes of key 0 dropped", ""},
      {report.past_channels, "notes dropped past the 8 channels:", " " + report.dropped_voices},
      {report.past_patterns, "notes dropped past the 254 patterns", ""},
      {report.other_program, "notes play their channel's first program's preset", ""},
      {midi.tempo_count > 1 ? midi.tempo_count - 1 : 0, "tempo changes not followed", ""}};
  for (const auto &line : lines)
    if (line.count)
      fprintf(stderr, "krotool midi-song: %ld %s%s\n", line.count, line.what, line.more.c_str());
  kroFreeMidi(&midi);
  if (written != 0) {
    fprintf(stderr, "krotool midi-song: cannot write %s: %s\n", out_path, strerror(out.error));
    return 1;
  }
  fprintf(krotoolSummaryStream(out_path),
          "krotool midi-song: wrote %s: %zu channels, %ld rows a pattern, %d rows a minute\n",
          out_path, voices.size(), rows, rows_per_minute);
  return 0;
}
