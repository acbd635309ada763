// The synthesizer on the intro's song: the whole 14 s rendered per iteration in the slices the
// intro's audio callback asks for (882 frames), on one thread. The counter x_real_time is
// seconds of sound per second of CPU: 100 means a 16.7 ms frame's worth of sound takes
// 0.17 ms, one percent of the frame.
#include "ZKsong.h"
#include "kro.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

const int kSlice = 882; // frames per callback in the intro

void BM_SynthIntroSong(benchmark::State &state) {
  std::vector<int16_t> out(2 * kSlice);
  double seconds = (double)kroSongFrames(&zk_song) / KRO_SYNTH_RATE;
  for (auto _ : state) {
    kroSynth synth;
    if (kroStartSynth(&synth, &zk_song) != 0) {
      state.SkipWithError("the song does not start");
      break;
    }
    for (int64_t done = 0; done < synth.frames; done += kSlice)
      kroRenderSynth(&synth, out.data(), kSlice);
    benchmark::DoNotOptimize(out.data());
    kroStopSynth(&synth);
  }
  state.counters["x_real_time"] =
      benchmark::Counter(seconds * (double)state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthIntroSong)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

} // namespace
