/*
 * Standard MIDI Files (formats 0 and 1) read into a plain list of notes: each note-on paired
 * with its note-off (or a note-on of velocity 0) on the same channel and key, in ticks from the
 * file's start. Every length and delta is checked against the chunk that holds it before a byte
 * of it is read; events the list does not need (controllers, sysex, other meta events) are
 * skipped by their lengths.
 * Depends on: kro_error.cpp (allocation, reports), kro_text.cpp (reading the file).
 */
#include "kro.h"
#include "kro_internal.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Where the reader stands in one track chunk: [p, end). */
typedef struct kroMidiTrack {
  const uint8_t *p, *end;
} kroMidiTrack;

typedef struct kroMidiReader {
  kroMidi *midi;
  int note_room;
  int64_t on_start[16][128]; /* the sounding note's start tick, -1 when none */
  int on_note[16][128];      /* its index in midi->notes */
  uint8_t program[16];
  char why[128];
} kroMidiReader;

static uint32_t kroMidiBig(const uint8_t *p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; i++)
    value = value << 8 | p[i];
  return value;
}

/* A variable-length number: 7 bits a byte, high bit set on all but the last, at most 4 bytes
 * (28 bits). 0, or -1 with why. */
static int kroMidiNumber(kroMidiReader *r, kroMidiTrack *t, uint32_t *value) {
  *value = 0;
  for (int i = 0; i < 4; i++) {
    if (t->p == t->end) {
      snprintf(r->why, sizeof r->why, "a variable-length number past the track's end");
      return -1;
    }
    uint8_t byte = *t->p++;
    *value = *value << 7 | (byte & 0x7fu);
    if (!(byte & 0x80))
      return 0;
  }
  snprintf(r->why, sizeof r->why, "a variable-length number longer than 4 bytes");
  return -1;
}

/* Skip `length` bytes of the track; 0, or -1 when they run past its end. */
static int kroMidiSkip(kroMidiReader *r, kroMidiTrack *t, uint32_t length, const char *what) {
  if (length > (size_t)(t->end - t->p)) {
    snprintf(r->why, sizeof r->why, "%s of %u bytes past the track's end", what, length);
    return -1;
  }
  t->p += length;
  return 0;
}

/* End the sounding note of (channel, key) at tick. */
static void kroMidiEndNote(kroMidiReader *r, int channel, int key, int64_t tick) {
  if (r->on_start[channel][key] < 0)
    return;
  r->midi->notes[r->on_note[channel][key]].end = tick;
  r->on_start[channel][key] = -1;
}

/* A note-on with velocity above 0: a new note, the key's sounding one ended first. 0, -1 when
 * the list is full, -2. */
static int kroMidiStartNote(kroMidiReader *r, int track, int channel, int key, int velocity,
                            int64_t tick) {
  kroMidi *midi = r->midi;
  kroMidiEndNote(r, channel, key, tick);
  if (midi->note_count == KRO_MIDI_MAX_NOTES) {
    snprintf(r->why, sizeof r->why, "more than %d notes", (int)KRO_MIDI_MAX_NOTES);
    return -1;
  }
  if (midi->note_count == r->note_room) {
    int room = r->note_room ? 2 * r->note_room : 256;
    kroMidiNote *grown = (kroMidiNote *)kroAllocate((size_t)room * sizeof(kroMidiNote));
    if (!grown)
      return -2;
    if (midi->note_count)
      memcpy(grown, midi->notes, (size_t)midi->note_count * sizeof(kroMidiNote));
    free(midi->notes);
    midi->notes = grown;
    r->note_room = room;
  }
  kroMidiNote *note = &midi->notes[midi->note_count];
  note->start = note->end = tick;
  note->track = (uint16_t)track;
  note->channel = (uint8_t)channel;
  note->key = (uint8_t)key;
  note->velocity = (uint8_t)velocity;
  note->program = r->program[channel];
  r->on_start[channel][key] = tick;
  r->on_note[channel][key] = midi->note_count++;
  return 0;
}

/* One track chunk's events; 0, -1 refused (why), -2 allocation failed. */
static int kroMidiReadTrack(kroMidiReader *r, int track, kroMidiTrack t) {
  kroMidi *midi = r->midi;
  int64_t tick = 0;
  int status = 0; /* running status: the last channel message's status byte */
  while (t.p < t.end) {
    uint32_t delta, length;
    if (kroMidiNumber(r, &t, &delta) != 0)
      return -1;
    tick += delta;
    if (t.p == t.end) {
      snprintf(r->why, sizeof r->why, "an event missing after its delta");
      return -1;
    }
    if (*t.p & 0x80)
      status = *t.p++;
    else if (status == 0) {
      snprintf(r->why, sizeof r->why, "running status with no status before it");
      return -1;
    }
    if (status == 0xff) { /* meta event: type, length, data; not a running status */
      status = 0;
      if (t.p == t.end) {
        snprintf(r->why, sizeof r->why, "a meta event cut short by the track's end");
        return -1;
      }
      uint8_t type = *t.p++;
      if (kroMidiNumber(r, &t, &length) != 0)
        return -1;
      const uint8_t *data = t.p;
      if (kroMidiSkip(r, &t, length, "a meta event") != 0)
        return -1;
      if (type == 0x2f) /* end of track */
        break;
      if (type == 0x51 && length == 3) {
        uint32_t micros = kroMidiBig(data, 3);
        if (micros == 0) {
          snprintf(r->why, sizeof r->why, "a tempo of 0 microseconds a beat");
          return -1;
        }
        if (midi->tempo_count++ == 0)
          midi->micros_per_beat = (int)micros;
      } else if (type == 0x58 && length >= 2 && midi->signature_count++ == 0) {
        midi->beats_per_bar = data[0];
        midi->beat_unit = data[1] < 8 ? 1 << data[1] : 0;
      }
    } else if (status == 0xf0 || status == 0xf7) { /* sysex: length, data */
      status = 0;
      if (kroMidiNumber(r, &t, &length) != 0 || kroMidiSkip(r, &t, length, "a sysex event") != 0)
        return -1;
    } else if (status >= 0xf0) {
      snprintf(r->why, sizeof r->why, "a system message 0x%02x inside a track", status);
      return -1;
    } else {
      int kind = status >> 4, channel = status & 15;
      int bytes = kind == 0xc || kind == 0xd ? 1 : 2;
      if (t.end - t.p < bytes) {
        snprintf(r->why, sizeof r->why, "a channel message cut short by the track's end");
        return -1;
      }
      if ((t.p[0] | (bytes == 2 ? t.p[1] : 0)) & 0x80) {
        snprintf(r->why, sizeof r->why, "a data byte of 128 or more");
        return -1;
      }
      int key = t.p[0], velocity = bytes == 2 ? t.p[1] : 0;
      t.p += bytes;
      if (kind == 0x9 && velocity > 0) {
        int started = kroMidiStartNote(r, track, channel, key, velocity, tick);
        if (started != 0)
          return started;
      } else if (kind == 0x8 || kind == 0x9)
        kroMidiEndNote(r, channel, key, tick);
      else if (kind == 0xc)
        r->program[channel] = (uint8_t)key;
    }
  }
  for (int channel = 0; channel < 16; channel++) /* notes left on end with the track */
    for (int key = 0; key < 128; key++)
      kroMidiEndNote(r, channel, key, tick);
  if (tick > midi->length)
    midi->length = tick;
  return 0;
}

/* The whole file; 0, -1 refused (why), -2 allocation failed. */
static int kroMidiReadBytes(kroMidiReader *r, const uint8_t *bytes, size_t size) {
  kroMidi *midi = r->midi;
  if (size < 14 || memcmp(bytes, "MThd", 4) != 0 || kroMidiBig(bytes + 4, 4) < 6) {
    snprintf(r->why, sizeof r->why, "no MThd header chunk of 6 bytes or more at the start");
    return -1;
  }
  uint32_t header = kroMidiBig(bytes + 4, 4);
  if (header > size - 8) {
    snprintf(r->why, sizeof r->why, "a header chunk longer than the file");
    return -1;
  }
  midi->format = (int)kroMidiBig(bytes + 8, 2);
  midi->tracks = (int)kroMidiBig(bytes + 10, 2);
  int division = (int)kroMidiBig(bytes + 12, 2);
  if (midi->format > 1) {
    snprintf(r->why, sizeof r->why, "format %d (0 and 1 are read)", midi->format);
    return -1;
  }
  if (midi->tracks == 0 || (midi->format == 0 && midi->tracks != 1)) {
    snprintf(r->why, sizeof r->why, "%d tracks for format %d", midi->tracks, midi->format);
    return -1;
  }
  if (division & 0x8000 || division == 0) {
    snprintf(r->why, sizeof r->why, "a time division in SMPTE frames or of 0 ticks a beat");
    return -1;
  }
  midi->ticks_per_beat = division;
  size_t at = 8 + header;
  int track = 0;
  while (track < midi->tracks) {
    if (size - at < 8) {
      snprintf(r->why, sizeof r->why, "%d track chunks where the header promises %d", track,
               midi->tracks);
      return -1;
    }
    uint32_t length = kroMidiBig(bytes + at + 4, 4);
    if (length > size - at - 8) {
      snprintf(r->why, sizeof r->why, "a chunk of %u bytes past the file's end", length);
      return -1;
    }
    if (memcmp(bytes + at, "MTrk", 4) == 0) { /* chunks of other kinds are skipped */
      int result = kroMidiReadTrack(r, track++, {bytes + at + 8, bytes + at + 8 + length});
      if (result != 0) {
        if (result == -1) {
          char why[sizeof r->why];
          memcpy(why, r->why, sizeof why);
          snprintf(r->why, sizeof r->why, "track %d: %.80s", track - 1, why);
        }
        return result;
      }
    }
    at += 8 + (size_t)length;
  }
  return 0;
}

void kroFreeMidi(kroMidi *midi) {
  free(midi->notes);
  memset(midi, 0, sizeof *midi);
}

int kroReadMidiMemory(kroMidi *midi, const uint8_t *bytes, size_t size, const char *name) {
  memset(midi, 0, sizeof *midi);
  midi->micros_per_beat = 500000;
  midi->beats_per_bar = midi->beat_unit = 4;
  kroMidiReader *r = (kroMidiReader *)kroAllocate(sizeof(kroMidiReader));
  if (!r) {
    kroFail("Error during allocating memory in kroReadMidi(..)\n");
    return -1;
  }
  memset(r, 0, sizeof *r);
  memset(r->on_start, 0xff, sizeof r->on_start);
  r->midi = midi;
  int result = kroMidiReadBytes(r, bytes, size);
  if (result == -1)
    kroFail("Error in reading MIDI from %s: %s\n", name, r->why);
  else if (result != 0)
    kroFail("Error during allocating memory in kroReadMidi(..)\n");
  free(r);
  if (result != 0) {
    kroFreeMidi(midi);
    return -1;
  }
  return 0;
}

int kroReadMidi(kroMidi *midi, const char *path) {
  char why[96];
  FILE *file = fopen(path, "rb");
  uint8_t *bytes = nullptr;
  long size = -1;
  if (!file)
    snprintf(why, sizeof why, "%s", strerror(errno));
  else if (fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 || size > KRO_MIDI_MAX_BYTES ||
           fseek(file, 0, SEEK_SET) != 0)
    snprintf(why, sizeof why, "not a file of at most %d bytes", (int)KRO_MIDI_MAX_BYTES);
  else if (!(bytes = (uint8_t *)kroAllocate((size_t)size + 1)))
    snprintf(why, sizeof why, "no memory for its bytes");
  else if (fread(bytes, 1, (size_t)size, file) != (size_t)size)
    snprintf(why, sizeof why, "it cannot be read whole");
  else {
    fclose(file);
    int result = kroReadMidiMemory(midi, bytes, (size_t)size, path);
    free(bytes);
    return result;
  }
  if (file)
    fclose(file);
  free(bytes);
  memset(midi, 0, sizeof *midi);
  kroFail("Error in reading MIDI from %s: %s\n", path, why);
  return -1;
}
