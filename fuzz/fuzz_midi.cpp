// The MIDI reader: any bytes are read whole or refused; what it gives keeps its promises (notes
// that end no earlier than they start, within the file's length, on channels 0..15 and keys
// 0..127 with a velocity, from a track the file has; a tempo above 0).
#include "kro.h"
#include "support.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroMidi midi;
  if (kroReadMidiMemory(&midi, data, size, "fuzz input") != 0)
    return 0;
  if (midi.format > 1 || midi.ticks_per_beat <= 0 || midi.micros_per_beat <= 0)
    abort();
  for (int i = 0; i < midi.note_count; i++) {
    const kroMidiNote *note = &midi.notes[i];
    if (note->start > note->end || note->end > midi.length || note->channel > 15 ||
        note->key > 127 || note->velocity < 1 || note->velocity > 127 || note->track >= midi.tracks)
      abort();
  }
  kroFreeMidi(&midi);
  return 0;
}
