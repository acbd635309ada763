// The synthesizer as a listener measures it: pitch, envelope times and filter slopes of single
// notes; the intro's song hits on every landing the scene computes, never clips, and gives the
// same samples however its output is sliced; and the intro plays it live through SDL's disk
// driver, plays mute without opening a device, and plays without one.
#include "gl_context.h"

#include "ZKintro.h"
#include "ZKsong.h"

#include <math.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <utility>

namespace {

// The whole song, float, left and right interleaved.
std::vector<float> renderFloat(const kroSong *song, float *peak0 = nullptr, unsigned mute = 0) {
  kroSynth synth;
  EXPECT_EQ(kroStartSynth(&synth, song), 0);
  synth.mute = mute;
  std::vector<float> mix(2 * synth.frames);
  kroRenderSynthFloat(&synth, mix.data(), (int)synth.frames);
  if (peak0) // channel 0's level, the louder side's
    *peak0 = synth.peak[0];
  kroStopSynth(&synth);
  return mix;
}

// A song of 4 rows of 0.5 s on one channel: `key` at row 0 on a `wave` of pulse width 0.5,
// sustain 1, cutoff 1 kHz and gain 0.5; no echo, no reverb, unity master.
struct OneNote {
  kroInstrument ins = {};
  kroChannel channel = {0, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  uint8_t cells[4] = {}, order[1] = {0};
  kroSong song = {&ins, 1, &channel, 1, cells, 1, 4, order, 1, 120, 0.0f, 0.0f, 0.0f, 1.0f};
  OneNote(uint8_t wave, uint8_t key) {
    ins.wave = wave, ins.pulse_width = 0.5f, ins.sustain = 1.0f, ins.cutoff = 1000.0f;
    ins.gain = 0.5f, cells[0] = key;
  }
};

// Amplitude of frequency hz in the left channel of frames [from, from + n) of mix, Goertzel.
double amplitude(const std::vector<float> &mix, size_t from, size_t n, double hz) {
  double c = 2.0 * cos(2.0 * M_PI * hz / KRO_SYNTH_RATE), s1 = 0, s2 = 0;
  for (size_t i = from; i < from + n; i++)
    s2 = std::exchange(s1, mix[2 * i] + c * s1 - s2);
  return sqrt(s1 * s1 + s2 * s2 - c * s1 * s2) * 2.0 / n;
}

// The strongest frequency is the note's, filtered or not; a sine's level is its gain's, panned
// to the middle, and a 1 kHz filter of Q 0.7071 takes -10 log10(1 + (f / fc)^(+-4)) dB from it
// (the band pass 1 / sqrt(2 + (f / fc - fc / f)^2): -6.4 dB an octave below fc); the envelope at
// full level moves fc by its octaves. A slide from beyond the top key holds there. A pulse of
// width 0.25 averages -0.5 of its level; noise, even in -1..1, averages 0 at RMS 1 / sqrt(3).
TEST(Synth, StrongestFrequencyIsTheNotesAndFilterFallsTwelveDecibelsAnOctave) {
  struct Case {
    uint8_t wave, key, filter;
    double decibels;
    float env_octaves = 0;
  } cases[] = {
      {KRO_WAVE_SINE, 69, KRO_FILTER_OFF, 0.0},     {KRO_WAVE_SAW, 57, KRO_FILTER_OFF, 0},
      {KRO_WAVE_SQUARE, 64, KRO_FILTER_OFF, 0},     {KRO_WAVE_TRIANGLE, 81, KRO_FILTER_OFF, 0},
      {KRO_WAVE_SINE, 40, KRO_FILTER_OFF, 0.0},     {KRO_WAVE_SINE, 95, KRO_FILTER_LOW, -12.30},
      {KRO_WAVE_SINE, 107, KRO_FILTER_LOW, -24.10}, {KRO_WAVE_SINE, 71, KRO_FILTER_HIGH, -12.30},
      {KRO_WAVE_SINE, 59, KRO_FILTER_HIGH, -24.10}, {KRO_WAVE_SINE, 59, KRO_FILTER_LOW, 0.0},
      {KRO_WAVE_SINE, 107, KRO_FILTER_HIGH, 0.0},   {KRO_WAVE_SINE, 71, KRO_FILTER_BAND, -6.39},
      {KRO_WAVE_SINE, 95, KRO_FILTER_LOW, -2.90, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "wave " << (int)c.wave << " key " << (int)c.key << " filter " << (int)c.filter);
    OneNote note(c.wave, c.key);
    note.ins.filter = c.filter, note.ins.resonance = 0.29289f, note.ins.env_cutoff = c.env_octaves;
    std::vector<float> x = renderFloat(&note.song);
    double best = 0, best_hz = 0, hz = 440.0 * pow(2.0, (c.key - 69) / 12.0);
    for (double f = 30, a; f < 4000; f *= 1.002)
      if ((a = amplitude(x, 4410, 22050, f)) > best)
        best = a, best_hz = f;
    EXPECT_NEAR(best_hz / hz, 1.0, 0.004) << best_hz << " Hz";
    if (c.wave == KRO_WAVE_SINE) { // 1975.5 Hz is the nearest key's to 2 kHz, 493.9 to 500, ...
      EXPECT_NEAR(20 * log10(amplitude(x, 4410, 22050, hz) / (0.5 * sqrt(0.5))), c.decibels, 1.0);
    }
  }
  for (int wave : {(int)KRO_WAVE_SQUARE, (int)KRO_WAVE_NOISE}) {
    OneNote pulse((uint8_t)wave, 64);
    pulse.ins.pulse_width = 0.25f;
    std::vector<float> p = renderFloat(&pulse.song);
    double mean = 0, power = 0, level = 0.5 * sqrt(0.5);
    for (size_t i = 4410; i < 26460; i++)
      mean += p[2 * i] / 22050 / level, power += p[2 * i] * p[2 * i] / 22050 / level / level;
    EXPECT_NEAR(mean, wave == KRO_WAVE_SQUARE ? -0.5 : 0.0, 0.02) << wave;
    EXPECT_TRUE(wave == KRO_WAVE_SQUARE || fabs(sqrt(power) - 1 / sqrt(3.0)) < 0.01) << power;
  }
  OneNote top(KRO_WAVE_SINE, 127);
  top.ins.slide = 48, top.ins.slide_time = 0.05f;
  EXPECT_NEAR(amplitude(renderFloat(&top.song), 0, 2205, 12543.85) / (0.5 * sqrt(0.5)), 1, 0.02);
  // A glide of 0.1 s from A-3 up to A-4 starts at the old key, 2^-e^(-t / 0.1) octaves below
  // the new one: a sine crosses zero twice a period.
  OneNote glide(KRO_WAVE_SINE, 57);
  glide.cells[1] = 69, glide.ins.glide = 0.1f;
  std::vector<float> g = renderFloat(&glide.song);
  double periods = 0, crossings = 0;
  for (int i = 22050; i < 22050 + 882; i++) // the first 20 ms of row 1
    periods += 440 * pow(2, -exp((22050 - i) / 4410.0)) / KRO_SYNTH_RATE,
        crossings += (g[2 * i] < 0) != (g[2 * i + 2] < 0);
  EXPECT_NEAR(crossings, 2 * periods, 1.5);
  // kroSongRow at rows of 377.9 frames: a triangle (1 at phase 0) is heard from its row's frame.
  OneNote late(KRO_WAVE_TRIANGLE, 60);
  late.cells[0] = KRO_NOTE_NONE, late.cells[2] = 72, late.song.rows_per_minute = 7001;
  std::vector<float> t = renderFloat(&late.song);
  int64_t heard =
      std::find_if(t.begin(), t.end(), [](float v) { return fabsf(v) > 1e-3f; }) - t.begin();
  int64_t at[4] = {heard / 2 - 1, heard / 2, (int64_t)t.size() / 2 - 1, (int64_t)t.size() / 2};
  for (int i = 0; i < 4; i++) // before row 2, row 2, the last row, past the end
    EXPECT_EQ(kroSongRow(&late.song, at[i]), i + 1) << at[i];
}

// A 1975.5 Hz sine released at 0.5 s: its envelope, the largest magnitude in each millisecond,
// peaks at the gain's level panned (left cos, right sin of (pan + 1) pi / 4) and reaches full,
// sustain and silence at the times set. Hard left through the echo and loud: the right side
// hears the echo's second pass only, and the limiter holds the peak at -2 dBFS.
TEST(Synth, EnvelopeTimesPanEchoAndLimitAsSet) {
  struct Case {
    float attack, decay, sustain, release, pan;
  } cases[] = {{0.1f, 0.2f, 0.5f, 0.3f, -0.5f},
               {0.02f, 0.05f, 0.25f, 0.6f, 0.0f},
               {0.3f, 0.1f, 0.8f, 0.05f, 0.5f}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.attack << " " << c.decay << " " << c.sustain << " " << c.release);
    OneNote note(KRO_WAVE_SINE, 95);
    note.cells[1] = KRO_NOTE_OFF;
    note.ins.attack = c.attack, note.ins.decay = c.decay, note.ins.sustain = c.sustain;
    note.ins.release = c.release, note.channel.pan = c.pan;
    float heard = 0;
    std::vector<float> x = renderFloat(&note.song, &heard), env(x.size() / 88);
    float right = 0, angle = (c.pan + 1) * (float)M_PI / 4;
    for (size_t i = 0; i < env.size() * 44; i++) // left
      env[i / 44] = fmaxf(env[i / 44], fabsf(x[2 * i])), right = fmaxf(right, fabsf(x[2 * i + 1]));
    float peak = *std::max_element(env.begin(), env.end());
    EXPECT_NEAR(peak, 0.5f * cosf(angle), 0.005f); // gain 0.5
    EXPECT_NEAR(right, 0.5f * sinf(angle), 0.005f);
    EXPECT_NEAR(heard, fmaxf(peak, right), 0.005f);
    auto first = [&](size_t from, auto holds) {
      return (std::find_if(env.begin() + from, env.end(), holds) - env.begin()) / 1000.0;
    };
    double full = first(0, [&](float e) { return e >= 0.995f * peak; });
    double sustained = first(full * 1000 + 1, [&](float e) {
      return e <= (c.sustain + 0.01f * (1 - c.sustain)) * peak;
    });
    double silent = first(500, [&](float e) { return e <= 0.002f * c.sustain * peak; });
    EXPECT_NEAR(full, c.attack, 0.003);
    EXPECT_NEAR(sustained, c.attack + c.decay, 0.003);
    EXPECT_NEAR(silent, 0.5 + c.release, 0.003);
  }
  OneNote note(KRO_WAVE_SINE, 69);
  note.channel.pan = -1, note.channel.delay = 1, note.song.delay_seconds = 0.1f;
  note.song.delay_feedback = 0.5f, note.song.master = 8;
  std::vector<float> x = renderFloat(&note.song);
  float right[2] = {0, 0}, peak = 0; // right before and after 0.2 s, both
  for (size_t i = 0; i < x.size(); i++) {
    peak = fmaxf(peak, fabsf(x[i]));
    if (i % 2)
      right[i >= 2 * 8820] = fmaxf(right[i >= 2 * 8820], fabsf(x[i]));
  }
  EXPECT_TRUE(right[0] < 1e-6f && right[1] > 0.05f) << right[0] << " " << right[1];
  EXPECT_NEAR(peak, 0.7943f, 1e-4f);
  // Channel 0 muted: unheard, its echo too; another channel's bit leaves it heard.
  std::vector<float> muted = renderFloat(&note.song, nullptr, 1);
  EXPECT_TRUE(std::all_of(muted.begin(), muted.end(), [](float v) { return fabsf(v) < 1e-6f; }));
  EXPECT_TRUE(renderFloat(&note.song, nullptr, 2) == x);
  // A 110 Hz note sent to the reverb, off at 0.5 s: the reverb rings (60 dB) about 0.3 s at size
  // 0 and 3 s at size 1, so from 0.6 s to 1.1 s its tail falls over 40 dB, resp. 6 to 15 dB.
  for (float size : {0.0f, 1.0f}) {
    OneNote wet(KRO_WAVE_SINE, 45);
    wet.cells[1] = KRO_NOTE_OFF, wet.channel.reverb = 1, wet.song.reverb_size = size;
    std::vector<float> w = renderFloat(&wet.song);
    double power[2] = {0, 0};
    for (size_t i = 0; i < 4410; i++)
      power[0] += w[2 * (26460 + i)] * w[2 * (26460 + i)],
          power[1] += w[2 * (48510 + i)] * w[2 * (48510 + i)];
    double fall = 10 * log10(power[0] / power[1]);
    EXPECT_TRUE(size ? fall > 6 && fall < 15 : fall > 40) << size << ": " << fall << " dB";
  }
  // A pan swinging at 2 Hz from hard right, narrowing to nothing at 1 s: then both sides are even.
  OneNote swing(KRO_WAVE_SINE, 69);
  swing.channel.pan_lfo_rate = 2, swing.channel.pan_lfo_depth = 1, swing.channel.pan_lfo_end = 1;
  std::vector<float> y = renderFloat(&swing.song);
  float side[2][2] = {}, even = 0.5f * cosf((float)M_PI / 4); // [before 1 s, after][left, right]
  for (size_t i = 0; i < y.size(); i++)
    side[i >= 2 * 44100][i % 2] = fmaxf(side[i >= 2 * 44100][i % 2], fabsf(y[i]));
  EXPECT_TRUE(side[0][1] > 0.499f && fabsf(side[1][0] - even) < 0.002f &&
              fabsf(side[1][1] - even) < 0.002f)
      << side[0][1] << " " << side[1][0] << " " << side[1][1];
}

// A song the synthesizer cannot play (a field out of its range in kro.h, NaN in none) is refused
// with the reason before anything is made, and the refused synth renders silence.
TEST(Synth, RefusesSongsItCannotPlay) {
  struct Case {
    const char *reason;
    void (*spoil)(OneNote *);
  } cases[] = {
      {"channel count is not 1..8", [](OneNote *n) { n->song.channel_count = 9; }},
      {"channel names an instrument it does not have",
       [](OneNote *n) { n->channel.instrument = 1; }},
      {"order list names a pattern it does not have", [](OneNote *n) { n->order[0] = 1; }},
      {"pattern holds a cell that is no key", [](OneNote *n) { n->cells[3] = 128; }},
      {"rows per pattern are not 1..1024", [](OneNote *n) { n->song.rows = 0; }},
      {"instrument has a value out of range", [](OneNote *n) { n->ins.resonance = 1.0f; }},
      {"instrument has a value out of range", [](OneNote *n) { n->ins.sustain = NAN; }},
      {"instrument has a value out of range", [](OneNote *n) { n->ins.slide = 48.5f; }},
      {"instrument has a value out of range", [](OneNote *n) { n->ins.filter = 4; }},
      {"channel has a value out of range", [](OneNote *n) { n->channel.pan_lfo_end = INFINITY; }},
      {"echo, reverb or master level is out of range", [](OneNote *n) { n->song.master = 17; }},
      {"instruments are missing", [](OneNote *n) { n->song.instrument_count = 0; }},
      {"pattern count is not 1..254", [](OneNote *n) { n->song.pattern_count = 255; }},
      {"order list is missing", [](OneNote *n) { n->song.order = nullptr; }},
      {"tempo is not 1..2646000 rows per minute", [](OneNote *n) { n->song.rows_per_minute = 0; }},
      {"tempo is not 1..2646000 rows per minute",
       [](OneNote *n) { n->song.rows_per_minute = 2646001; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason);
    OneNote note(KRO_WAVE_SAW, 60);
    c.spoil(&note);
    kroSynth synth;
    EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroStartSynth(&synth, &note.song), -1); }),
              std::string("Error in kroStartSynth(..): the song's ") + c.reason + "\n");
    EXPECT_EQ(synth.state, nullptr);
    int64_t frames = 1; // nor rendered whole; a song of no tempo lasts no frames
    EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroRenderSong(&note.song, 0, &frames), nullptr); }),
              std::string("Error in kroStartSynth(..): the song's ") + c.reason + "\n");
    EXPECT_TRUE(frames == 0 && (note.song.rows_per_minute || kroSongFrames(&note.song) == 0));
    float out[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    kroRenderSynthFloat(&synth, out, 4);
    EXPECT_EQ(std::count(out, out + 8, 0.0f), 8);
  }
}

// The intro's song, 16-bit, as kroRenderSong renders it.
std::vector<int16_t> introSamples() {
  int64_t frames = 0;
  int16_t *rendered = kroRenderSong(&zk_song, 0, &frames);
  std::vector<int16_t> samples(rendered, rendered + 2 * frames);
  free(rendered);
  return samples;
}

// The intro's song, float, hits on every landing: onsets are the first millisecond whose energy
// of sample differences (the bright part of a hit) is four times the mean of the 20 before it,
// after 20 ms without one. Never clipped, rendered 16-bit the same however sliced, without an
// allocation, and written as a WAV file: a 44-byte header a player reads (RIFF size, PCM, 2
// channels, 44,100 Hz, 176,400 bytes a second, 4 a frame, 16 bits, the data size), then the
// samples, little-endian.
TEST(Synth, IntroSongHitsOnEveryLandingSlicesAsAWholeAndIsWrittenAsAWavFile) {
  std::vector<float> mix = renderFloat(&zk_song);
  std::vector<int16_t> samples = introSamples();
  int64_t frames = 0; // with a tail: the same samples, then 0.1 s more
  int16_t *longer = kroRenderSong(&zk_song, 4410, &frames);
  EXPECT_TRUE(frames == (int64_t)samples.size() / 2 + 4410 &&
              std::equal(samples.begin(), samples.end(), longer));
  free(longer);
  ASSERT_TRUE(mix.size() == (size_t)14 * KRO_SYNTH_RATE * 2 && samples.size() == mix.size());
  const size_t hop = KRO_SYNTH_RATE / 1000;
  std::vector<double> energy(mix.size() / 2 / hop), onsets;
  for (size_t i = 1; i < energy.size() * hop; i++) {
    double dl = mix[2 * i] - mix[2 * i - 2], dr = mix[2 * i + 1] - mix[2 * i - 1];
    energy[i / hop] += dl * dl + dr * dr;
  }
  for (size_t k = 20, quiet = 20; k < energy.size(); k++, quiet++)
    if (energy[k] > std::accumulate(&energy[k - 20], &energy[k], 0.0) / 5 + 1e-9 && quiet >= 20)
      onsets.push_back((double)k * hop / KRO_SYNTH_RATE), quiet = 0;
  for (int i = 0; i < ZK_FLYER_COUNT; i++)
    EXPECT_TRUE(std::any_of(onsets.begin(), onsets.end(),
                            [&](double t) { return fabs(t - zkFlyerLanding(i)) <= 0.005; }))
        << "flyer " << i << " lands at " << zkFlyerLanding(i);

  for (size_t i = 0; i < mix.size(); i++)
    ASSERT_TRUE(isfinite(mix[i]) && fabsf(mix[i]) < 0.8f) << "sample " << i << ": " << mix[i];
  std::mt19937 random(29);
  for (int run = 0; run < 3; run++) {
    SCOPED_TRACE(run);
    kroSynth synth;
    ASSERT_EQ(kroStartSynth(&synth, &zk_song), 0);
    std::vector<int16_t> sliced(samples.size());
    // The engine's allocations are counted from here: rendering, as an audio callback does,
    // makes none.
    kroFailAllocationAfter(0);
    for (size_t done = 0; done < sliced.size() / 2;) {
      size_t n = std::min<size_t>(run == 0 ? 882 : 1 + random() % 3000, sliced.size() / 2 - done);
      kroRenderSynth(&synth, &sliced[2 * done], (int)n);
      done += n;
    }
    EXPECT_EQ(kroFailAllocationAfter(0), 0);
    kroStopSynth(&synth);
    ASSERT_TRUE(sliced == samples);
  }

  std::string path = kroTestTempPath("song.wav");
  ASSERT_EQ(kroWriteWAV(path.c_str(), samples.data(), (int64_t)samples.size() / 2), 0);
  auto le = [](uint32_t v, int size) { // little-endian
    std::string bytes;
    for (int i = 0; i < size; i++)
      bytes += (char)(v >> 8 * i);
    return bytes;
  };
  uint32_t data = (uint32_t)(2 * samples.size());
  std::string expected = "RIFF" + le(data + 36, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) +
                         le(44100, 4) + le(176400, 4) + le(4, 2) + le(16, 2) + "data" + le(data, 4);
  for (int16_t sample : samples)
    expected += le((uint16_t)sample, 2);
  // Refused: a length < 0 or past 32 bits, no folder, a render over 2^30 frames; the file kept.
  const std::pair<int64_t, std::string> wavs[] = {{-1, "with -1 frames for file: "},
                                                  {1073741815, "with 1073741815 frames for file: "},
                                                  {0, "during opening file: "}};
  for (const auto &[n, reason] : wavs) {
    std::string to = n ? path : path + "-none/a.wav";
    EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroWriteWAV(to.c_str(), &samples[0], n), -1); }),
              "Error in kroWriteWAV(..) " + reason + to + "\n");
  }
  EXPECT_TRUE(kroTestReadFile(path) == expected);
  std::string over = std::to_string(samples.size() / 2 + (1 << 30));
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_FALSE(kroRenderSong(&zk_song, 1 << 30, &frames)); }),
            "Error in kroRenderSong(..) with " + over + " frames, more than 1073741824\n");
  EXPECT_EQ(frames, 0);
}

// The intro played live, side by side: on SDL's disk driver, which writes what the callback
// rendered; the same muted, which opens no device; and on an ALSA without cards.
TEST(Synth, IntroPlaysLiveAsRenderedMuteWithoutDeviceAndWithoutOne) {
  ASSERT_NE(getenv("DISPLAY"), nullptr) << "run under tools/with-display";
  std::vector<int16_t> samples = introSamples();
  ASSERT_EQ(samples.size(), (size_t)14 * KRO_SYNTH_RATE * 2);
  std::string dir = kroTestTempFolder("synth-intro"), raw = dir + "/live.raw",
              muted = dir + "/muted.raw", alsa = dir + "/alsa.conf", all;
  kroTestWriteFile(alsa, "");
  const std::string runs[] = {"disk SDL_DISKAUDIOFILE=" + raw + " SDL_DISKAUDIODELAY=20",
                              "disk SDL_DISKAUDIOFILE=" + muted, "alsa ALSA_CONFIG_PATH=" + alsa};
  for (int i = 0; i < 3; i++)
    all += "(cd " KRO_SOURCE_DIR " && env ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" timeout "
           "-s KILL 40 env SDL_AUDIODRIVER=" +
           runs[i] + " " ZKINTRO_PATH " --window" + (i == 1 ? " --mute" : "") + " >" + dir +
           "/out" + std::to_string(i) + " 2>" + dir + "/err" + std::to_string(i) + "; echo $? >>" +
           dir + "/status) & ";
  // Their windows, named ZKintro, take turns with the shell tests', which look for theirs so.
  kroTestRun("exec 9>>" + kroTestWindowTurnLock() + " && flock 9 && " + all + "wait");
  EXPECT_EQ(kroTestReadFile(dir + "/status"), "0\n0\n0\n");
  // The live run has SDL's own disk-driver notice.
  EXPECT_EQ(kroTestReadFile(dir + "/out1") + kroTestReadFile(dir + "/err1"), "");
  EXPECT_EQ(kroTestReadFile(dir + "/err2"),
            "zkintro: playing without sound: No available audio device\n");
  EXPECT_FALSE(kroTestFileExists(muted));

  std::string bytes = kroTestReadFile(raw);
  std::vector<int16_t> live(bytes.size() / 2);
  memcpy(live.data(), bytes.data(), live.size() * 2);
  ASSERT_GT(live.size(), (size_t)KRO_SYNTH_RATE * 2) << "less than a second was played";
  // Silence until the picture's clock started, then the song from the frame the picture had
  // reached when that first buffer was heard, sample for sample to the end. Live sample i is
  // song sample i + shift: found where 0.1 s from a second in first matches.
  const long second = 2 * KRO_SYNTH_RATE, chunk = second / 10;
  long shift = std::search(samples.begin(), samples.end(), live.begin() + second,
                           live.begin() + second + chunk) -
               samples.begin() - second;
  ASSERT_LT(shift + second, (long)samples.size()) << "the live stream matches no part of the song";
  long first = second; // the first live sample of the song
  while (first > 0 && first + shift > 0 && live[first - 1] == samples[first - 1 + shift])
    first--;
  long length = std::min<long>((long)live.size(), (long)samples.size() - shift);
  EXPECT_TRUE(
      std::equal(live.begin() + first, live.begin() + length, samples.begin() + first + shift));
  EXPECT_TRUE(std::all_of(live.begin(), live.begin() + first, [](int16_t v) { return v == 0; }));
  // The song's first frame heard: what the picture shows after one 20 ms buffer and the wait
  // for the first callback (some milliseconds; under a second however loaded the machine).
  double lead = (first + shift) / 2 / (double)KRO_SYNTH_RATE;
  EXPECT_TRUE(lead >= 0.020 && lead < 1.0) << lead << " s";
}

// ---- songs as text ----

void expectSameSong(const kroSong &a, const kroSong &b) {
  ASSERT_TRUE(a.instrument_count == b.instrument_count && a.channel_count == b.channel_count &&
              a.pattern_count == b.pattern_count && a.rows == b.rows &&
              a.order_count == b.order_count);
  EXPECT_EQ(a.rows_per_minute, b.rows_per_minute);
  EXPECT_EQ(memcmp(&a.delay_seconds, &b.delay_seconds, 4 * sizeof(float)), 0);
  for (int i = 0; i < a.instrument_count; i++) { // field by field: the records have padding
    const kroInstrument &x = a.instruments[i], &y = b.instruments[i];
    EXPECT_TRUE(x.wave == y.wave && x.filter == y.filter) << i;
    EXPECT_EQ(memcmp(&x.pulse_width, &y.pulse_width, 14 * sizeof(float)), 0) << i;
  }
  for (int c = 0; c < a.channel_count; c++) {
    EXPECT_EQ(a.channels[c].instrument, b.channels[c].instrument) << c;
    EXPECT_EQ(memcmp(&a.channels[c].volume, &b.channels[c].volume, 7 * sizeof(float)), 0) << c;
  }
  EXPECT_EQ(memcmp(a.patterns, b.patterns, (size_t)a.pattern_count * a.rows), 0);
  EXPECT_EQ(memcmp(a.order, b.order, (size_t)a.order_count * a.channel_count), 0);
}

// The intro's song file is the compiled song, every field and cell; written out and read back
// it is the same song again, names and all, and every note name (C-0 .. G-9, low keys as
// numbers) survives the trip.
TEST(SongText, TheIntroSongFileIsTheCompiledSongAndComesBackWhole) {
  kroSongFile file, again;
  ASSERT_EQ(kroLoadSong(&file, KRO_SOURCE_DIR "/assets/zkintro.song"), 0);
  expectSameSong(file.song, zk_song);
  EXPECT_STREQ(file.instrument_names[3], "spiral");
  EXPECT_STREQ(file.channel_names[5], "pad-right");
  uint8_t *cells = (uint8_t *)file.song.patterns;
  for (int key = 1; key <= 127; key++) // every key once, in pattern 0's rows and beyond
    cells[(key * 7) % (file.song.pattern_count * file.song.rows)] = (uint8_t)key;
  std::string path = kroTestTempPath("again.song");
  ASSERT_EQ(kroWriteSong(&file, path.c_str()), 0);
  ASSERT_EQ(kroLoadSong(&again, path.c_str()), 0);
  expectSameSong(file.song, again.song);
  for (int c = 0; c < file.song.channel_count; c++)
    EXPECT_STREQ(file.channel_names[c], again.channel_names[c]);
  kroFreeSong(&again);
  kroFreeSong(&file);
  EXPECT_TRUE(!file.song.instruments && !file.instrument_names && file.song.channel_count == 0);
  // A song without names gets numbered ones; one that cannot play, or whose folder is not there,
  // is not written and the file is left as it was.
  kroSongFile nameless = {zk_song, nullptr, nullptr};
  std::string numbered = kroTestTempPath("numbered.song"), none = numbered + "-none/a.song";
  ASSERT_EQ(kroWriteSong(&nameless, numbered.c_str()), 0);
  ASSERT_EQ(kroLoadSong(&again, numbered.c_str()), 0);
  expectSameSong(zk_song, again.song);
  EXPECT_STREQ(again.channel_names[5], "channel-5");
  kroFreeSong(&again);
  std::string text = kroTestReadFile(numbered);
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroWriteSong(&nameless, none.c_str()), -1); }),
            "Error in writing a song to " + none + ": No such file or directory\n");
  nameless.song.rows_per_minute = 0;
  EXPECT_EQ(kroTestCaptured([&] { EXPECT_EQ(kroWriteSong(&nameless, numbered.c_str()), -1); }),
            "Error in kroStartSynth(..): the song's tempo is not 1..2646000 rows per minute\n");
  EXPECT_EQ(kroTestReadFile(numbered), text);
  // krotool renders the written file, not the intro's song; the intro's file as the intro's song;
  // a song of no steps has a source; unreadable and unwritable files are refused.
  std::string wav[3] = {path + ".wav", path + "-intro.wav", path + "-file.wav"};
  kroTestWriteFile(numbered, "instrument a\nchannel c\npattern 0\n");
  const std::pair<std::string, std::string> runs[] = {
      {"song-wav " + wav[0] + " " + path, ""},
      {"song-wav " + wav[1], ""},
      {"song-wav " + wav[2] + " " KRO_SOURCE_DIR "/assets/zkintro.song", ""},
      {"song-src " + numbered + " s", "_order[] = {\n    0 /* no steps */\n};"},
      {"song-wav " + none + " " + path, "cannot write " + none + ": No such file or directory\n"},
      {"song-wav " + wav[0] + " " + none, "cannot write " + wav[0] + ": Error in reading a song"},
      {"song-src " + none + " s", "cannot read " + none + ": Error in reading a song from"},
      {"song-src " + path + " s -o " + none, "cannot write " + none + ": No such file or"}};
  for (const auto &[args, said] : runs) {
    kroTestOutcome run = kroTestRun(KROTOOL_PATH " " + args);
    EXPECT_TRUE(run.status == kroTestHas(said, "cannot ") && kroTestHas(run.out + run.err, said))
        << args + "\n" + run.err;
  }
  EXPECT_NE(kroTestReadFile(wav[0]), kroTestReadFile(wav[1]));
  EXPECT_EQ(kroTestReadFile(wav[2]), kroTestReadFile(wav[1]));
  // song-src writes the very source of zk_song, which is the file's song (above).
  EXPECT_EQ(kroTestRun("cd " KRO_SOURCE_DIR " && " KROTOOL_PATH
                       " song-src assets/zkintro.song zk_song --include ZKsong.h")
                .out,
            kroTestReadFile(KRO_SOURCE_DIR "/scene/ZKsong.cpp"));
}

// A refused song names its reason and line and leaves the record empty; what is left out takes
// its default, and a note name means its key.
TEST(SongText, RefusedSongsNameTheReasonAndTheLine) {
  const std::string head = "song\nrows 4\ninstrument lead\nchannel one\n";
  std::string manyInstruments;
  for (int i = 0; i < 256; i++)
    manyInstruments += "instrument i" + std::to_string(i) + "\n";
  const std::pair<std::string, std::string> refused[] = {
      {"instrument a\ncutoff 5\n", "cutoff outside 10 to 20000 at line 2"},
      {"instrument a\ngain 1.5\n", "gain outside 0 to 1 at line 2"},
      {"instrument a\nslide nan\n", "slide missing or not a finite number at line 2"},
      {"instrument a\ngain 1\ngain 0.5\n", "gain given twice in one block at line 3"},
      {"instrument a\nwave sinus\n",
       "a wave that is none of sine, saw, square, triangle, noise at line 2"},
      {"instrument a\nvolume 1\n", "'volume' is no field of this block at line 2"},
      {"instrument a\npreset no-such\n", "an unknown preset no-such at line 2"},
      {"channel c\ninstrument lead\n", "an instrument not named before the channel at line 2"},
      {head + "pattern 0\ninstrument late\n",
       "'instrument' out of the blocks' order (song, instruments, channels, patterns, order) at "
       "line 6"},
      {"song\nrows 1025\n", "rows not a whole number from 1 to 1024 at line 2"},
      {"song\ntempo 2646001\n", "tempo not a whole number from 1 to 2646000 at line 2"},
      {head + "pattern 1\n", "pattern 1 where pattern 0 comes next at line 5"},
      {head + "pattern 0\n4 A-4\n", "a row that is not a whole number from 0 to 3 at line 6"},
      {head + "pattern 0\n2 A-4\n2 off\n", "a row not after the pattern's previous one at line 7"},
      {head + "pattern 0\n0 H-4\n", "a cell that is no note (C-0 .. G-9, 1..127, off) at line 6"},
      {head + "pattern 0\n0 G#9\n", "a cell that is no note (C-0 .. G-9, 1..127, off) at line 6"},
      {head + "pattern 0\n0 128\n", "a cell that is no note (C-0 .. G-9, 1..127, off) at line 6"},
      {head + "pattern 0\norder\n1\n",
       "an order entry that is no pattern number (0 to 0, or .) at line 7"},
      {head + "channel two\npattern 0\norder\n0\n",
       "a step with fewer entries than the 2 channels at line 8"},
      {head + "pattern 0\norder\n0 0\n", "more than the line's fields at line 7"},
      {"song\n", "a song without an instrument, a channel or a pattern at line 2"},
      {"rows 4\n", "'rows' before the first block at line 1"},
      {"instrument a\ninstrument b\nchannel c\ninstrument a\ninstrument b\n",
       "instrument given twice in one block at line 5"},
      {head + "channel 2\nchannel 3\nchannel 4\nchannel 5\nchannel 6\nchannel 7\nchannel 8\n"
              "channel 9\n",
       "more channels than 8 at line 12"},
      {head + "pattern 0\n0 A-44\n", "a cell that is no note (C-0 .. G-9, 1..127, off) at line 6"},
      {head + "pattern 0\n0 A-x\n", "a cell that is no note (C-0 .. G-9, 1..127, off) at line 6"},
      {"song\nrows four\n", "rows missing or not a finite number at line 2"},
      {"instrument a\npreset a/b\n", "a preset name missing, over 31 characters or not of "
                                     "letters, digits and . _ : - at line 2"},
      {"instrument a\nfilter lowlowlowlowlowlow\n", "a word too long at line 2"},
      {"instrument a\nchannel c/d\n", "a channel name missing, over 31 characters or not of "
                                      "letters, digits and . _ : - at line 2"},
      {"instrument a\nchannel c\nchannel c\n", "a channel name given twice at line 3"},
      {"instrument a\nchannel c\norder\n", "an order list before any channel or pattern at line 3"},
      {manyInstruments, "more instruments than 255 at line 256"}};
  std::string path = kroTestTempPath("refused.song");
  kroTestUseCountingHook();
  for (const auto &[text, reason] : refused) {
    SCOPED_TRACE(text);
    kroTestWriteFile(path, text);
    kroSongFile file;
    memset(&file, 0x55, sizeof file);
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadSong(&file, path.c_str()), -1); },
                        "Error in reading a song from " + path + ": " + reason + "\n");
    EXPECT_TRUE(!file.song.instruments && !file.channel_names && file.song.pattern_count == 0);
  }
  // Every field's documented range (kro.h): its ends play, the floats just past them do not.
  const char *ranges =
      "i pulse-width 0.01 0.99 i attack 0 60 i decay 0 60 i sustain 0 1 i release 0 60 i slide -48 "
      "48 i slide-time 0 60 i glide 0 60 i cutoff 10 20000 i resonance 0 0.99 i env-cutoff -10 10 "
      "i lfo-rate 0 100 i lfo-depth 0 10 i gain 0 1 c volume 0 1 c pan -1 1 c echo 0 1 "
      "c reverb 0 1 c pan-lfo-rate 0 100 c pan-lfo-depth 0 1 c pan-lfo-end 0 86400 s echo-time 0 1 "
      "s echo-feedback 0 0.95 s reverb-size 0 1 s master 0 16";
  char block, field[16];
  float low, high;
  int fields = 0;
  for (int n; sscanf(ranges, " %c %15s %f %f%n", &block, field, &low, &high, &n) == 4;
       ranges += n, fields++) {
    for (float value : {low, high, nextafterf(low, -INFINITY), nextafterf(high, INFINITY)}) {
      char line[64];
      snprintf(line, sizeof line, "%s %.9g\n", field, (double)value);
      std::string text = std::string(block == 's' ? "song\n" + std::string(line) : "") +
                         "instrument a\n" + (block == 'i' ? line : "") + "channel c\n" +
                         (block == 'c' ? line : "") + "pattern 0\n";
      kroTestWriteFile(path, text);
      kroSongFile file;
      int plays = value >= low && value <= high;
      std::string out =
          kroTestCaptured([&] { EXPECT_EQ(kroLoadSong(&file, path.c_str()), plays - 1); });
      EXPECT_EQ(kroTestHas(out, std::string(field) + " outside"), !plays) << text;
      kroFreeSong(&file);
    }
  }
  EXPECT_EQ(fields, 25);
  kroSetErrorFunc(nullptr);
  kroSongFile file;
  kroTestWriteFile(path, head + "pattern 0\n0 C-0\n1 A-4\n2 G-9\n3 11\norder\n0\n.\n");
  ASSERT_EQ(kroLoadSong(&file, path.c_str()), 0);
  const kroInstrument &lead = file.song.instruments[0];
  EXPECT_TRUE(lead.wave == KRO_WAVE_SINE && lead.pulse_width == 0.5f && lead.sustain == 1 &&
              lead.cutoff == 20000 && lead.gain == 1 && lead.attack == 0);
  EXPECT_TRUE(file.song.channels[0].volume == 1 && file.song.master == 1 &&
              file.song.rows_per_minute == 480);
  EXPECT_EQ(std::vector<int>(file.song.patterns, file.song.patterns + 4),
            (std::vector<int>{12, 69, 127, 11}));
  EXPECT_EQ(std::vector<int>(file.song.order, file.song.order + 2),
            (std::vector<int>{0, KRO_PATTERN_SILENT}));
  kroFreeSong(&file);
}

// Every preset plays its song without driving the limiter (peak under its ceiling, every
// sample finite) at an RMS from 0.02 to 0.3; a song naming a preset plays the preset's
// instrument under the block's own fields, before or after the line; a preset names none.
TEST(SongText, PresetsPlayCleanlyAndSongsNameThem) {
  const char *names[] = {"kick",       "snare",    "clap",       "closed-hat", "open-hat",    "tom",
                         "sub-bass",   "saw-bass", "pluck-bass", "lead",       "square-lead", "pad",
                         "string-pad", "pluck",    "bell",       "arp",        "noise-sweep"};
  ASSERT_EQ(kroSetPresetFolder(KRO_SOURCE_DIR "/presets"), 0);
  std::string path = kroTestTempPath("named.song");
  for (const char *name : names) {
    SCOPED_TRACE(name);
    kroSongFile preset, named;
    ASSERT_EQ(
        kroLoadSong(&preset, (std::string(KRO_SOURCE_DIR "/presets/") + name + ".song").c_str()),
        0);
    EXPECT_TRUE(preset.song.instrument_count == 1 && !strcmp(preset.instrument_names[0], name));
    std::vector<float> x = renderFloat(&preset.song);
    double sum = 0, peak = 0;
    for (float v : x)
      sum += (double)v * v, peak = std::max(peak, std::isfinite(v) ? fabs(v) : 1e9);
    EXPECT_LT(peak, 0.99 * 0.7943282);
    double rms = sqrt(sum / (double)x.size());
    EXPECT_TRUE(rms > 0.02 && rms < 0.3) << rms;
    kroTestWriteFile(path, std::string("instrument x\ngain 0.25\nwave noise\npreset ") + name +
                               "\nattack 0.5\nchannel c\ninstrument x\npattern 0\n0 C-4\n");
    ASSERT_EQ(kroLoadSong(&named, path.c_str()), 0);
    kroInstrument expect = preset.song.instruments[0], got = named.song.instruments[0];
    expect.gain = 0.25f, expect.attack = 0.5f, expect.wave = KRO_WAVE_NOISE;
    EXPECT_TRUE(got.wave == expect.wave && got.filter == expect.filter);
    EXPECT_EQ(memcmp(&got.pulse_width, &expect.pulse_width, 14 * sizeof(float)), 0);
    kroFreeSong(&preset);
    kroFreeSong(&named);
  }
  std::string folder = kroTestTempPath("");
  kroTestWriteFile(folder + "/inner.song", "instrument a\npreset kick\n");
  kroTestWriteFile(path, "instrument x\n\npreset inner\n");
  ASSERT_EQ(kroSetPresetFolder(folder.c_str()), 0);
  kroSongFile file;
  kroTestUseCountingHook();
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadSong(&file, path.c_str()), -1); },
                      "Error in reading a song from " + path +
                          ": preset inner refused: a preset inside a preset at line 2 at line 3\n");
  kroSetErrorFunc(nullptr);
  kroSetPresetFolder(nullptr);
  EXPECT_STREQ(kroGetPresetFolder(), "presets");
  EXPECT_EQ(
      kroTestCaptured([] { EXPECT_EQ(kroSetPresetFolder(std::string(4001, 'p').c_str()), -1); }),
      "Error in kroSetPresetFolder(..): the folder name is longer than 4000 characters\n");
  EXPECT_TRUE(!kroSetPresetFolder(std::string(4000, 'p').c_str()) &&
              kroGetPresetFolder() == std::string(4000, 'p'));
  kroSetPresetFolder(nullptr);
}

// ---- MIDI files ----

std::string bytes(std::initializer_list<int> values) {
  return std::string(values.begin(), values.end());
}

// A Standard MIDI File: its header, then one MTrk chunk for each track's events.
std::string midiFile(int format, int division, const std::vector<std::string> &tracks) {
  auto big = [](uint32_t v, int n) {
    std::string text;
    for (int i = n - 1; i >= 0; i--)
      text += (char)(v >> 8 * i);
    return text;
  };
  std::string file = "MThd" + big(6, 4) + big(format, 2) + big(tracks.size(), 2) + big(division, 2);
  for (const std::string &track : tracks)
    file += "MTrk" + big(track.size(), 4) + track;
  return file;
}

// The cell channel c of a song starts at row r counted from the song's start.
int cellAt(const kroSong &song, int c, int r) {
  int pattern = song.order[(size_t)(r / song.rows) * song.channel_count + c];
  return pattern == KRO_PATTERN_SILENT ? 0
                                       : song.patterns[(size_t)pattern * song.rows + r % song.rows];
}

// krotool midi-song on files written byte by byte: notes at their rows, keys and channels, the
// drum channel split by preset, the first tempo and time signature, and the report's counts;
// hostile files refused with their reasons.
TEST(MidiSong, NotesLandOnRowsChannelsAndPresetsWithAReport) {
  const std::string end = bytes({0, 0xff, 0x2f, 0});
  std::string conductor =
      bytes({0, 0xff, 0x51, 3,   0x07, 0xa1, 0x20, 0,    0xff, 0x58, 4,    3,
             2, 24,   8,    0,   0xf0, 3,    0x7e, 0x7f, 0xf7, 0,    0xff, 1,
             3, 'a',  'b',  'c', 0x81, 0x40, 0xff, 0x51, 3,    0x0f, 0x42, 0x40}) +
      end;
  // 96 ticks a beat, 24 a row: a program and channel pressure (one data byte each), C-4 at row 0
  // cut by D-4 at row 2 (running status), velocity-0 offs, E-4 at tick 106 moved to row 4, a
  // note-off at tick 138 (row 6).
  std::string bass = bytes({0,  0xc0, 33, 0, 0xd0, 64, 0,  0x90, 60, 100, 48,   62, 100,
                            48, 60,   0,  0, 62,   0,  10, 64,   80, 32,  0x80, 64, 0}) +
                     end;
  std::string drums = bytes({0,    0x99, 36,  100, 0,  38,  100,  0,    0x92, 69, 90, 0x60,
                             0x99, 36,   100, 0,   81, 100, 0x82, 0x20, 0x82, 69, 0}) +
                      end;
  std::string path = kroTestTempPath("two.mid"), out = path + ".song", text;
  // A header chunk of 8 bytes: read to its end; a chunk of another kind before the tracks skipped.
  kroTestWriteFile(path, midiFile(1, 96, {conductor, bass, drums})
                             .replace(7, 1, "\x08")
                             .insert(14, std::string("xxXFIH\0\0\0\1!", 11)));
  kroTestOutcome tool = kroTestRun(KROTOOL_PATH " midi-song " + path + " -o " + out);
  EXPECT_EQ(tool.status, 0) << tool.err;
  for (const char *line : {"format 1, 3 tracks, 8 notes, 120 bpm", ": 1 notes moved to the nearest",
                           ": 1 notes cut short", ": 1 drum notes dropped: no preset for keys 81 ",
                           ": 1 tempo changes not followed"})
    EXPECT_TRUE(kroTestHas(tool.err, line)) << line << "\n" << tool.err;
  ASSERT_EQ(kroSetPresetFolder(KRO_SOURCE_DIR "/presets"), 0);
  kroSongFile song;
  ASSERT_EQ(kroLoadSong(&song, out.c_str()), 0);
  const kroSong &s = song.song;
  EXPECT_TRUE(s.rows == 48 && s.rows_per_minute == 480 && s.channel_count == 4) << s.rows;
  const char *channels[] = {"ch1", "drums-kick", "drums-snare", "ch3"};
  const char *instruments[] = {"saw-bass", "kick", "snare", "pluck"};
  for (int c = 0; c < 4 && c < s.channel_count; c++)
    EXPECT_TRUE(!strcmp(song.channel_names[c], channels[c]) &&
                !strcmp(song.instrument_names[s.channels[c].instrument], instruments[c]))
        << c;
  std::vector<int> cells;
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 8; r++)
      cells.push_back(cellAt(s, c, r));
  EXPECT_EQ(cells, (std::vector<int>{60, 0, 62, 0, 64, 0, 255, 0, 36, 0, 0, 0, 36, 0, 0, 0,
                                     38, 0, 0,  0, 0,  0, 0,   0, 69, 0, 0, 0, 0,  0, 0, 0}));
  EXPECT_EQ(cellAt(s, 3, 16), KRO_NOTE_OFF); // 0x82 0x20: 288 ticks after tick 96
  kroFreeSong(&song);
  kroSetPresetFolder(nullptr);

  // Format 0 with no tempo (120 bpm) at 8 rows a beat: nine channels, the last dropped; two
  // notes on one row of channel 1, the second dropped.
  std::string many = bytes({0, 0x90, 60, 100, 0, 64, 100});
  for (int c = 1; c < 9; c++)
    many += bytes({0, 0x90 + c, 60, 100});
  kroTestWriteFile(
      path,
      midiFile(0, 96, {many + bytes({0x60, 0xff, 0x2f, 0})})); // ends at row 8; volume 100/127
  tool = kroTestRun(KROTOOL_PATH " midi-song " + path + " -o " + out + " --rows-per-beat 8");
  EXPECT_TRUE(
      tool.status == 0 && kroTestHas(tool.err, ": 1 notes dropped: their channel starts") &&
      kroTestHas(tool.err, ": 1 notes dropped past the 8 channels: MIDI channel 9 pluck (1)") &&
      kroTestHas(text = kroTestReadFile(out), "tempo 960\n") && kroTestHas(text, "volume 0.79\n") &&
      kroTestHas(text, "pattern 0\n0 C-4\n8 off\n"))
      << tool.err;

  // Drums, key 0 and key 11 at row 0, a kick alone in step 1, a note past 254 patterns (row 508).
  std::string kit =
      bytes({0,   0x99, 39, 100, 0,  42, 100, 0,  46,   100, 0,   41,   100,  0,    0x90, 0,
             100, 0,    11, 100, 24, 11, 0,   24, 0x99, 36,  100, 0xde, 0x70, 0x90, 60,   100});
  kroTestWriteFile(path, midiFile(0, 96, {kit + end}));
  tool = kroTestRun(KROTOOL_PATH " midi-song " + path + " -o " + out + " --rows 2");
  EXPECT_TRUE(tool.status == 0 && kroTestHas(tool.err, ": 1 notes of key 0 dropped\n") &&
              kroTestHas(tool.err, ": 1 notes dropped past the 254 patterns\n") &&
              kroTestHas(text = kroTestReadFile(out), "pattern 0\n0 11\n1 off\n") &&
              kroTestHas(text, "rows 2\n") && kroTestHas(text, "order\n0 1 2 3 4 .\n. . . . . 5\n"))
      << tool.err << text;
  for (const char *drum : {"clap", "closed-hat", "open-hat", "tom", "kick"})
    EXPECT_TRUE(kroTestHas(text, std::string("channel drums-") + drum + "\n")) << drum;

  const std::pair<std::string, std::string> hostile[] = {
      {midiFile(0, 96, {end}).substr(0, 25), "a chunk of 4 bytes past the file's end"},
      {midiFile(0, 96, {bytes({0x81, 0x80, 0x80, 0x80, 0})}), "number longer than 4 bytes"},
      {midiFile(0, 96, {bytes({0, 60, 100}) + end}), "running status with no status before it"},
      {midiFile(0, 96, {bytes({0, 0xff, 1, 2, 'a'})}), "a meta event of 2 bytes past"},
      {midiFile(2, 96, {end}), "format 2 (0 and 1 are read)"},
      {midiFile(0, 96, {}), "0 tracks for format 0"},
      {midiFile(0, 96, {end, end}), "2 tracks for format 0"},
      {midiFile(0, 0xe728, {end}), "a time division in SMPTE frames"},
      {midiFile(0, 96, {bytes({0x81})}), "track 0: a variable-length number past the track's end"},
      {midiFile(0, 96, {bytes({0})}), "track 0: an event missing after its delta"},
      {midiFile(0, 96, {bytes({0, 0xff})}), "track 0: a meta event cut short by the track's end"},
      {midiFile(0, 96, {bytes({0, 0xff, 0x51, 3, 0, 0, 0}) + end}), "a tempo of 0 microseconds"},
      {midiFile(0, 96, {bytes({0, 0xf0, 3, 1, 2})}), "a sysex event of 3 bytes past"},
      {midiFile(0, 96, {bytes({0, 0xf2, 1, 2}) + end}), "a system message 0xf2 inside a track"},
      {midiFile(0, 96, {bytes({0, 0xb0, 7})}), "a channel message cut short by the track's end"},
      {midiFile(0, 96, {bytes({0, 0x90, 60, 0x80}) + end}), "track 0: a data byte of 128 or more"},
      {"MThe" + midiFile(0, 96, {end}).substr(4), "no MThd header chunk of 6 bytes or more"},
      {midiFile(0, 96, {end}).replace(7, 1, "\x13"), "a header chunk longer than the file"},
      {midiFile(1, 96, {end}).replace(11, 1, "\x02"), "1 track chunks where the header promises 2"},
      {midiFile(0, 96, {bytes({0, 0x99, 81, 9, 0, 0x90, 0, 9})}), "no note that a preset plays"},
      {"", "No such file or directory"}};
  for (const auto &[file, reason] : hostile) {
    kroTestWriteFile(path, file);
    tool = kroTestRun(KROTOOL_PATH " midi-song " + path + (file.empty() ? "-none" : ""));
    EXPECT_TRUE(tool.status == 1 && tool.out.empty() && kroTestHas(tool.err, reason))
        << reason + "\n" + tool.err;
  }
  for (const char *option :
       {" --rows-per-beat 0", " --rows-per-beat 97", " --rows 0", " --rows 1025"})
    EXPECT_EQ(kroTestRun(KROTOOL_PATH " midi-song " + path + option).status, 2) << option;
  kroTestRun("truncate -s 16777217 " + path); // one byte over the largest file read
  EXPECT_TRUE(kroTestHas(kroTestRun(KROTOOL_PATH " midi-song " + path).err,
                         ": not a file of at most 16777216 bytes"));

  // The most notes a file holds, keys in turn (the note list grown many times), then one more.
  std::string full = bytes({0x81, 0x80, 0x80, 0, 0x90, 0, 1}); // a delta of 2^21 in four bytes
  for (int i = 1; i < KRO_MIDI_MAX_NOTES; i++)
    full += bytes({0, i % 128, 1});
  kroMidi midi;
  auto read = [&](const std::string &track) {
    std::string file = midiFile(0, 96, {track});
    return kroReadMidiMemory(&midi, (const uint8_t *)file.data(), file.size(), "m");
  };
  ASSERT_EQ(read(bytes({0, 0x90, 60, 100, 10, 60, 90, 10, 60, 0}) + end), 0);
  EXPECT_TRUE(midi.note_count == 2 && midi.notes[0].end == 10 && midi.notes[1].start == 10 &&
              midi.notes[1].end == 20); // a key struck again ends its sounding note
  kroFreeMidi(&midi);
  ASSERT_EQ(read(full), 0);
  int wrong = 0;
  for (int i = 0; i < midi.note_count; i++)
    wrong += midi.notes[i].key != i % 128;
  EXPECT_TRUE(midi.note_count == KRO_MIDI_MAX_NOTES && wrong == 0 && midi.length == 1 << 21)
      << midi.note_count;
  kroFreeMidi(&midi);
  EXPECT_EQ(kroTestCaptured([&] {
              EXPECT_EQ(read(full + bytes({0, 5, 1})), -1);
            }),
            "Error in reading MIDI from m: track 0: more than 1048576 notes\n");
  EXPECT_TRUE(midi.notes == nullptr && midi.note_count == 0);
}

} // namespace
