// The sync track reader: any text is read whole or refused; what it gives keeps its promises
// (rising rows within 0..KRO_SYNC_MAX_ROW, finite values, known interpolations, sound names),
// and samples to finite values.
#include "kro.h"
#include "support.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kroFuzzQuiet();
  kroSyncTracks tracks;
  if (kroLoadSyncTracks(&tracks, kroFuzzWriteFile(data, size)) < 0)
    return 0;
  for (int i = 0; i < tracks.count; i++) {
    const kroSyncTrack *track = &tracks.tracks[i];
    if (!track->name[0] || kroFindSyncTrack(&tracks, track->name) != track)
      abort();
    for (int k = 0; k < track->count; k++) {
      const kroSyncKey *key = &track->keys[k];
      if (key->row < 0 || key->row > KRO_SYNC_MAX_ROW || (k && key->row <= key[-1].row) ||
          !isfinite(key->value) || key->interpolation < 0 ||
          key->interpolation >= KRO_SYNC_INTERPOLATIONS)
        abort();
    }
    if (track->count && !isfinite(kroSyncValue(track, 0.5 * (track->keys[0].row + 1))))
      abort();
  }
  kroFreeSyncTracks(&tracks);
  return 0;
}
