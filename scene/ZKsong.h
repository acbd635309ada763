// The intro's soundtrack: a song for the engine's synthesizer, 14 seconds at
// 40 rows per second, composed to the picture. Channel 0 (a pitched drum) and
// channel 1 (a noise click) hit on each digit's landing, low for a zero and
// high for a one. Channel 3 follows the light's spiral: every 2 s, when the
// light is furthest right or left, it glides to a key above E5 or below it,
// by a fifth, a fourth, a fourth, a major third, a minor third, a semitone,
// closer each time as the orbit shrinks, while its pan swings with the
// light's x and narrows to the middle at second 12. There the light stops,
// and every channel closes on an A major chord that dies away before second
// 14. Bass and pads go A minor, F, G, E under it.
#ifndef ZKSONG_H
#define ZKSONG_H

#include "kro.h"

enum {
  ZK_SONG_ROWS = 40,    // rows per pattern: one second
  ZK_SONG_STEPS = 14,   // order steps: the intro's 14 seconds
  ZK_SONG_CHANNELS = 6, // hit, click, bass, spiral, two pads
  ZK_SONG_ROWS_PER_MINUTE = 2400
};

// The song; plays from frame 0 with the picture's second 0.
extern const kroSong zk_song;

#endif
