// The production's side of the engine: the application layer's options, exit statuses and a
// resize (this program run again as a small production), text (the engine's and the overlay's)
// at its place and size with the GL state left as found, bounds of known geometry, the scene table
// krotool writes (compiled here with warnings as errors) against the run-time reader, and live
// shaders on the last-good rule.
#include "gl_context.h"
#include "kroapp.h"

#include "generated_app_scene.h"
#include "generated_app_scene_bounds.h"
#include "generated_app_scene_materials.h"

#include <SDL/SDL.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

namespace {

// ---- the production the option tests run: this program with KRO_TEST_APP_PROBE set ----

// Clears every frame to one colour, its top-left text cell white; --quit-at-2, --escape-at-2,
// --resize-at-2, --seek-at-2, --bar-at-2 and --loop-at-2 post the window's close, an Escape key, a
// new size of 40 x 30, a Right or a Page Down key, or L twice during the second frame. Prints the
// size it was told of, what it drew and the arguments left to it; --say takes a value. --song FILE
// plays a song file, 10 ms a frame; --until S closes at S seconds. --keys: a window named keyed,
// for keys from outside, printing the sync tracks x and y whenever their values change.
int probeMain(int argc, char **argv) {
  kroApp app = {};
  app.windowed = 0; // --window is the tests' to give
  app.fixed_shaders = 1;
  app.usage = "[WORD]... [--say WORD] [--quit-at-2] [--escape-at-2] [--resize-at-2]";
  app.own_options = "--quit-at-2 --escape-at-2 --resize-at-2 --seek-at-2 --bar-at-2 --pause-at-2 "
                    "--loop-at-2 --keys";
  app.own_value_options = "--say --song --until";
  kroSongFile song = {};
  double until = 0;
  bool keys = false;
  for (int i = 1; i < argc; i++)
    if (i + 1 < argc && !strcmp(argv[i], "--song") && kroLoadSong(&song, argv[i + 1]) == 0)
      app.song = &song.song;
    else if (i + 1 < argc && !strcmp(argv[i], "--until"))
      until = atof(argv[i + 1]);
    else
      keys = keys || !strcmp(argv[i], "--keys");
  if (!kroAppStart(&app, keys ? "keyed" : "probe", 64, 48, &argc, argv))
    return app.status;
  std::string left;
  for (int i = 1; i < argc; i++)
    left += std::string(" ") + argv[i];
  bool quit = kroTestHas(left, " --quit-at-2"), escape = kroTestHas(left, " --escape-at-2");
  bool resize = kroTestHas(left, " --resize-at-2"), bar = kroTestHas(left, " --bar-at-2");
  bool seek = bar || kroTestHas(left, " --seek-at-2");
  bool pause = kroTestHas(left, " --pause-at-2"); // Space at frames 2 and 12; seek: Right at 2
  bool loop = kroTestHas(left, " --loop-at-2");
  long wrote_ms = 0; // with --sync: the file rewritten at frame 2, then broken once read
  std::string sync = app.sync_file && !keys && !loop ? app.sync_file : "";
  std::pair<float, float> shown = {NAN, NAN};
  while (kroAppFrame(&app)) {
    float x = kroAppSyncValue(&app, "x");
    if (keys && shown != std::pair{x, kroAppSyncValue(&app, "y")}) {
      shown = {x, kroAppSyncValue(&app, "y")};
      printf("x %g y %g\n", shown.first, shown.second);
      fflush(stdout); // the first line tells the test the window takes keys
    }
    if (!sync.empty() && app.frame == 1)
      printf("start %g\n", x);
    if (!sync.empty() && app.frame == 2) {
      kroTestWriteFile(sync + ".new", "track x\n0 7\n");
      rename((sync + ".new").c_str(), sync.c_str());
      wrote_ms = kroNowMs();
    } else if (wrote_ms > 0 && x == 7 && app.sync_reloaded) {
      printf("saw 7 after %ld ms\n", kroNowMs() - wrote_ms);
      kroTestWriteFile(sync, "track x\n0 8\n0 9\n");
      wrote_ms = -kroNowMs();
    } else if (wrote_ms < 0 && kroNowMs() + wrote_ms > 3 * KRO_APP_SYNC_POLL_MS) {
      printf("kept %g\n", x);
      quit = true;
    } else if (wrote_ms > 0 && kroNowMs() - wrote_ms > 100 * KRO_APP_SYNC_POLL_MS) {
      printf("not read again\n"); // a reload that never comes ends the run
      quit = true;
    }
    // Paused by the key sent at frame 2: the run goes on once SDL's disk driver has written three
    // more buffers (at least one of them made while paused), however loaded the machine is.
    const char *disk = getenv("SDL_DISKAUDIOFILE");
    for (long size = -1, since = kroNowMs(); pause && disk && app.frame == 3 && app.paused;) {
      struct stat file = {};
      long now = stat(disk, &file) == 0 ? (long)file.st_size : 0;
      size = size < 0 ? now : size;
      if (now >= size + 3 * 4 * KRO_APP_AUDIO_FRAMES || kroNowMs() - since > 5000)
        break;
      SDL_Delay(2);
    }
    if (app.resized)
      printf("resized %d: %d x %d\n", app.resized, SDL_GetVideoSurface()->w,
             SDL_GetVideoSurface()->h);
    quit = quit || (until > 0 && app.seconds >= until);
    if (app.song)
      SDL_Delay(10);
    glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const float white[4] = {1, 1, 1, 1};
    kroAppFillCells(&app, 0, 0, 1, 1, white);
    SDL_Event event = {};
    event.type = quit ? SDL_QUIT : resize ? SDL_VIDEORESIZE : SDL_KEYDOWN;
    event.key.keysym.sym = escape ? SDLK_ESCAPE
                           : bar  ? SDLK_PAGEDOWN
                           : seek ? SDLK_RIGHT
                                  : SDLK_SPACE;
    if (resize)
      event.resize.w = 40, event.resize.h = 30;
    if (((app.frame == 2 || !sync.empty() || until > 0) && (quit || escape || resize)) ||
        (app.frame == 2 && (seek || pause)) || (app.frame == 12 && pause))
      SDL_PushEvent(&event);
    event.key.keysym.sym = SDLK_l;
    for (int mark = 0; mark < 2 && loop && app.frame == 2; mark++)
      SDL_PushEvent(&event);
  }
  printf("drew %ld, last at %.4f s; left:%s\n", app.frame, app.seconds, left.c_str());
  if (app.sound && app.frames == 0) // the sound's frames played since the start
    printf("heard %lld\n", llround((app.seconds - app.start_seconds) * KRO_SYNTH_RATE));
  // Looping, the sound goes back into the loop first. Then its next 4096 frames: what the last
  // key did is heard, even under load.
  for (int64_t last = 0, now = 0; app.sound && loop && now >= last;)
    last = now, SDL_Delay(5), SDL_LockAudio(), now = app.sound_frame, SDL_UnlockAudio();
  for (int64_t from = -1, now = 0; app.sound && now < from + 4096; from = from < 0 ? now : from)
    SDL_Delay(5), SDL_LockAudio(), now = app.sound_frame, SDL_UnlockAudio();
  int status = kroAppEnd(&app);
  kroFreeSong(&song);
  return status;
}

const int kProbeRan = [] {
  if (!getenv("KRO_TEST_APP_PROBE"))
    return 0;
  std::string words = kroTestReadFile("/proc/self/cmdline"); // its arguments, each ending in NUL
  std::vector<char *> argv;
  for (size_t at = 0; at < words.size(); at += strlen(&words[at]) + 1)
    argv.push_back(&words[at]);
  argv.push_back(nullptr);
  int status = probeMain((int)argv.size() - 1, argv.data());
  fflush(nullptr);
  _exit(status); // the test program around it is not started
}();

TEST(App, OptionsAndExitStatuses) {
  std::string shot = kroTestTempPath("probe.png"), resized = kroTestTempPath("resized.png");
  std::string sync = kroTestTempPath("probe.sync");
  kroTestWriteFile(sync, "track x\n0 3\n");
  const struct {
    std::string arguments, environment;
    int status;
    std::string out, err;
  } cases[] = {
      {"--help", "", 0, "usage: probe [WORD]... [--say WORD] [--quit-at-2] [--escape-at-2]", ""},
      {"--frames", "", 2, "", "probe: a value is missing after '--frames'\nusage: probe"},
      {"--window --say", "", 2, "", "probe: a value is missing after '--say'\nusage: probe"},
      {"--frames 0", "", 2, "", "--frames needs a whole number of frames from 1, not '0'"},
      {"--frames 2x", "", 2, "", "not '2x'"},
      {"--window --bogus", "", 2, "", "probe: unknown option '--bogus'"},
      {"--frames 1 - -b", "", 2, "", "probe: unknown option '-b'"},
      {"one --say --window --window --frames 9 two --quit-at-2", "", 0,
       "drew 2, last at 0.0167 s; left: one --say --window two --quit-at-2\n", ""},
      {"--frames 9 --escape-at-2 --shot /no-such-folder/x.png", "", 1, "drew 2,", "cannot write"},
      {"--window --frames 3 --resize-at-2 --shot " + resized, "", 0, "resized 1: 40 x 30\ndrew 3",
       ""},
      {"--shot " + shot + " --start 0", "", 0, "drew 1, last at 0.0000 s; left:\n", ""},
      {"--window --frames 2 --shot /no-such-folder/x.png", "", 1, "drew 2", "cannot write"},
      {"--window --frames 1", "SDL_VIDEODRIVER=no-such-driver ", 1, "", "probe: no video"},
      {"--window --frames 2 --song " KRO_SOURCE_DIR "/assets/zkintro.song --start 1",
       "SDL_AUDIODRIVER=no-such-driver ", 0, "drew 2, last at 1.0167 s", "probe: no sound ("},
      {"--frames 1 --start -1", "", 2, "", "probe: --start needs seconds from 0, not '-1'"},
      {"--window --sync " + sync, "", 0, "start 3\nsaw 7 after ",
       "a row not after the track's "
       "previous key at line 3; the last good tracks stay\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arguments);
    kroTestOutcome run = kroTestRun(c.environment + "KRO_TEST_APP_PROBE=1 /proc/" +
                                    std::to_string(getpid()) + "/exe " + c.arguments);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_TRUE(kroTestHas(run.out, c.out)) << run.out;
    EXPECT_TRUE(kroTestHas(run.err, c.err)) << run.err;
  }
  // Started on the broken file the run above left: no tracks until the file reads, then kept.
  kroTestOutcome again = kroTestRun("KRO_TEST_APP_PROBE=1 /proc/" + std::to_string(getpid()) +
                                    "/exe --window --sync " + sync);
  EXPECT_TRUE(kroTestHas(again.out, "start 0\nsaw 7 after ") && kroTestHas(again.out, "\nkept 7\n"))
      << again.out;
  for (auto [path, width, height] : {std::tuple{shot, 64, 48}, {resized, 40, 30}}) {
    kroTestPng picture(path);
    ASSERT_EQ(picture.width * 1000 + picture.height, width * 1000 + height);
    for (auto [x, y, grey] : {std::tuple{width - 1, 0, -1}, {0, height - 1, -1}, {7, 7, 255}})
      EXPECT_EQ(std::vector<int>(picture.at(x, y), picture.at(x, y) + 3),
                grey < 0 ? std::vector<int>({51, 102, 153}) : std::vector<int>(3, grey));
  }
}

// ---- the sync editor, by keys from outside as a user types them ----

// Paused at row 0 (a row is 0.25 s): down two rows, track y, 1.7 corrected to 1.5 as a key, its
// interpolation round all four and back (linear, smooth, ramp, step); row 6: 9, taking row 4's
// linear; Home, one row up and one beat back, which stay at row 0; track x: its key deleted, -2
// typed in, 7 typed and dropped with Escape, Enter with nothing typed. The first save finds no room
// for the file (a 16-byte limit) and must leave it whole; the second, with room, writes what was
// typed, and the picture's values followed each edit; the editor is on the last frame's shot.
TEST(App, SyncEditorDrivenByKeysWritesWhatItShows) {
  std::string sync = kroTestTempPath("keyed.sync"), log = kroTestTempPath("keyed.log"),
              pid_file = kroTestTempPath("keyed.pid");
  const std::string old = "tempo 60\ntrack x\n0 3\ntrack y\n4 1 linear\n8 2\n";
  kroTestWriteFile(sync, old);
  ASSERT_EQ(kroTestRun("rm -f " + pid_file + "; (KRO_TEST_APP_PROBE=1 /proc/" +
                       std::to_string(getpid()) +
                       "/exe --window --keys --frames 1000000000 --shot " + log + ".png --sync " +
                       sync + " & echo $! >" + pid_file + "; wait) 2>&1 </dev/null | cat >" + log +
                       " 2>/dev/null &")
                .status,
            0);
  std::vector<std::string> window = kroTestFindWindows("keyed", 20);
  std::string pid = kroTestReadFile(pid_file);
  pid = pid.substr(0, pid.find('\n'));
  ASSERT_TRUE(!window.empty() && !pid.empty()) << kroTestReadFile(log);
  std::string keyed = "xdotool key --delay 20 --window " + window[0];
  auto waitFor = [&](const std::string &shell) { // up to 10 s
    return kroTestRun("for i in $(seq 100); do " + shell + " && exit 0; sleep 0.1; done; exit 1")
               .status == 0;
  };
  ASSERT_TRUE(waitFor("grep -q 'x 3 y' " + log));
  ASSERT_EQ(kroTestRun("prlimit --pid " + pid + " --fsize=16:unlimited").status, 0);
  // A Shift between two presses of one key: sent key events carry no time, and SDL reads a
  // release and a press of one key at one time as the key held.
  kroTestRun(keyed + " space Home Tab Down Shift_L Down Right 1 period 7 BackSpace 5 Return i " +
             "Shift_L i Shift_L i Shift_L i Down Shift_L Down Shift_L Down Shift_L Down 9 Return " +
             "Home Up Left shift+Left Delete minus 2 Return 7 Escape Return s");
  EXPECT_TRUE(waitFor("grep -q 'not saved' " + log)) << kroTestReadFile(log);
  EXPECT_EQ(kroTestReadFile(sync), old);
  ASSERT_EQ(kroTestRun("prlimit --pid " + pid + " --fsize=unlimited").status, 0);
  kroTestRun(keyed + " s");
  kroTestWriteFile(sync + ".old", old);
  EXPECT_TRUE(waitFor("! cmp -s " + sync + ".old " + sync));
  kroTestRun(keyed + " Escape");
  EXPECT_TRUE(waitFor("! kill -0 " + pid + " 2>/dev/null"));
  kroSyncTracks tracks = {};
  ASSERT_EQ(kroLoadSyncTracks(&tracks, sync.c_str()), 2) << kroTestReadFile(sync);
  std::string keys;
  for (int t = 0; t < tracks.count; t++)
    for (int k = 0; k < tracks.tracks[t].count; k++) {
      const kroSyncKey &key = tracks.tracks[t].keys[k];
      char line[128];
      snprintf(line, sizeof line, "%s %d %g %s\n", tracks.tracks[t].name, key.row, key.value,
               kroSyncInterpolationName(key.interpolation));
      keys += line;
    }
  EXPECT_EQ(keys, "x 0 -2 step\ny 2 1.5 step\ny 4 1 linear\ny 6 9 linear\ny 8 2 step\n");
  EXPECT_EQ(tracks.tempo, 60);
  kroFreeSyncTracks(&tracks);
  kroTestPng shot(log + ".png"); // the editor over the clear colour on the last frame
  int covered = 0;
  for (int i = 0; i < shot.width * shot.height; i++)
    covered += memcmp(shot.at(i % shot.width, i / shot.width), "\x33\x66\x99", 3) != 0;
  EXPECT_GT(covered, shot.width * shot.height / 4);
  std::string printed = kroTestReadFile(log);
  size_t last = printed.find("x -2 y 1.5\n"); // and no other value after it
  EXPECT_TRUE(kroTestHas(printed, "x 3 y 1\n") && kroTestHas(printed, "x 3 y 1.5\n") &&
              last != std::string::npos && printed.find("x ", last + 1) == std::string::npos)
      << printed;
}

// ---- the soundtrack ----

// What a run plays through SDL's disk driver is the song's own render from the frame it starts
// at, a beat on after Right, a loop's start after its end, silence while paused and then the very
// next frame; the picture's time is the frames played (whole device buffers). Music files decode as
// ffmpeg decodes them: WAV and FLAC exact, Ogg Vorbis within its rounding, a mono 22050 Hz file
// interpolated between frames.
TEST(App, SoundtrackPlaysFromItsFrameAndMusicDecodesAsFfmpeg) {
  const int rate = KRO_SYNTH_RATE;
  kroSongFile song = {};
  ASSERT_EQ(kroLoadSong(&song, KRO_SOURCE_DIR "/assets/zkintro.song"), 0);
  kroSynth synth;
  ASSERT_EQ(kroStartSynth(&synth, &song.song), 0);
  std::vector<int16_t> render(2 * 5 * rate);
  kroRenderSynth(&synth, render.data(), 5 * rate);
  kroStopSynth(&synth);
  std::string raw = kroTestTempPath("played.raw"), wav = kroTestTempPath("music.wav");
  auto pcm = [](const std::string &bytes) { // 16-bit samples
    return std::vector<int16_t>((const int16_t *)bytes.data(),
                                (const int16_t *)bytes.data() + bytes.size() / 2);
  };
  ASSERT_EQ(kroWriteWAV(wav.c_str(), render.data(), 5 * rate), 0);
  std::string tempo = kroTestTempPath("tempo.sync"), bars = kroTestTempPath("bars.sync");
  kroTestWriteFile(tempo, "tempo 120\nrows-per-beat 8\n"); // a beat of 0.5 s, whatever the rows
  kroTestWriteFile(bars, "tempo 240\n");                   // a bar of four beats: 1 s
  kroTestWriteFile(bars + "3", "tempo 200\n");             // and of 1.2 s
  const struct {
    std::string arguments, out;
    size_t jump;
    bool pause;
  } cases[] = {
      {"--frames 4 --seek-at-2", "drew 4, last at 2.5500 s", (size_t)rate, false},
      {"--frames 14 --pause-at-2", "drew 14, last at 1.5500 s", 0, true},
      {"--frames 4 --seek-at-2 --music " + wav, "last at 2.5500 s", (size_t)rate, false},
      {"--frames 4 --seek-at-2 --sync " + tempo, "last at 2.0500 s", (size_t)rate / 2, false},
      {"--frames 4 --bar-at-2 --sync " + bars, "last at 2.5500 s", (size_t)rate, false},
      // The bar from 1.2 s to 2.4 s loops: the picture at 2.4833 s is 1.2833 s.
      {"--frames 60 --loop-at-2 --sync " + bars + "3", "last at 1.2833 s", (size_t)(-rate * 6 / 5),
       false},
      {"--until 1.7", "heard ", 0, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arguments);
    kroTestOutcome run = kroTestRun(
        "SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=5 SDL_DISKAUDIOFILE=" + raw +
        " KRO_TEST_APP_PROBE=1 /proc/" + std::to_string(getpid()) +
        "/exe --window --start 1.5 --song " KRO_SOURCE_DIR "/assets/zkintro.song " + c.arguments);
    EXPECT_TRUE(kroTestHas(run.out, c.out)) << run.out << run.err;
    std::vector<int16_t> played = pcm(kroTestReadFile(raw));
    size_t n = std::min(played.size() / 2, (size_t)2 * rate), s = rate * 3 / 2, a, z, lead = 0;
    auto same = [&](size_t i, size_t r) {
      return played[2 * i] == render[2 * r] && played[2 * i + 1] == render[2 * r + 1];
    };
    auto silent = [&](size_t i) { return !played[2 * i] && !played[2 * i + 1]; };
    while (lead < n && silent(lead))
      lead++;
    for (a = lead; a < n && same(a, s + a - lead);)
      a++;
    for (z = a; z < n && silent(z);)
      z++;
    size_t wrong = 0; // after the device's own silence (lead) before it is first unpaused
    for (size_t i = z; i < n; i++)
      wrong += !same(i, s + a - lead + c.jump + i - z);
    EXPECT_EQ(wrong, 0u) << lead << " " << a << " " << z << " " << n;
    EXPECT_TRUE(n > 0 && (a == n) == (!c.jump && !c.pause) && (z > a) == c.pause &&
                (a == n || z < n))
        << a << " " << z << " " << n;
    size_t h = run.out.find("heard "), heard = h == std::string::npos ? 0 : atol(&run.out[h + 6]);
    EXPECT_TRUE(heard % KRO_APP_AUDIO_FRAMES == 0 && heard <= played.size() / 2) << heard;
  }
  kroFreeSong(&song);

  // ffmpeg's Vorbis decoder may end a short block (128 frames) early: compared up to its end.
  const std::tuple<const char *, const char *, int, int> decoded[] = {
      {"music.wav", "", 0, 0},
      {"music.flac", "", 0, 0},
      {"music.ogg", "-c:a libvorbis", 1, 128},
      {"mono.wav", "-ac 1 -ar 22050", 0, 0}};
  for (auto [name, making, slack, short_by] : decoded) {
    SCOPED_TRACE(name);
    std::string file = kroTestTempPath(name), mono = name[0] == 'm' && name[1] == 'o' ? "1" : "2";
    std::string make = "ffmpeg -v error -y -i " + wav + " " + making + " " + file;
    ASSERT_EQ(file == wav ? 0 : kroTestRun(make).status, 0);
    std::vector<int16_t> reference =
        pcm(kroTestRun("ffmpeg -v error -i " + file + " -f s16le -ac " + mono + " -").out);
    kroMusic music = {};
    ASSERT_EQ(kroLoadMusic(&music, file.c_str()), 0);
    int64_t frames = mono == "1" ? 5 * rate : (int64_t)reference.size() / 2;
    ASSERT_TRUE(music.frames >= frames && music.frames <= frames + short_by) << music.frames;
    double most = 0; // the largest difference, in steps of a 16-bit sample
    for (int64_t i = 0; i < 2 * frames; i++) {
      size_t k = mono == "1" ? (size_t)(i / 4) : (size_t)i,
             next = std::min(k + 1, reference.size() - 1);
      double expected =
          mono == "1" && i % 4 > 1 ? (reference[k] + reference[next]) / 2.0 : reference[k];
      most = std::max(most, fabs(music.samples[i] * 32768.0 - expected));
    }
    EXPECT_LE(most, slack);
    kroFreeMusic(&music);
  }
  kroMusic none = {};
  kroTestUseCountingHook();
  kroTestExpectReport([&] { EXPECT_EQ(kroLoadMusic(&none, KRO_SOURCE_DIR "/README.md"), -1); },
                      "kroLoadMusic: cannot open " KRO_SOURCE_DIR
                      "/README.md as WAV, Ogg Vorbis or FLAC\n");
  EXPECT_TRUE(!none.samples && none.frames == 0);
}

// ---- kroplay ----

// kroplay through the disk driver, its song rewritten while it plays: a later row gains a note,
// then the file breaks. Every frame played is the new song's own render from its start (no
// restart, to the sample), the new note included; the broken file is refused with its line and
// the last good song plays on. --wav is `krotool song-wav` of the same song (a MIDI file through
// krotool's import), --mute 8,2 (no channel 8: not heard anyway) and --solo 1 that of the song with
// channel 2 at volume 0. (SDL_Quit unloads the GL driver, whose leftovers a leak check would blame
// on the windowed run.)
TEST(App, PlayerReloadsAtItsRowAndRendersAsKrotoolWithChannelsMuted) {
  auto song = [](const char *last, const char *b_volume) {
    return "song\nrows 16\ntempo 960\ninstrument t\nwave saw\nchannel a\nchannel b\nvolume " +
           std::string(b_volume) + "\npattern 0\n0 A-4\npattern 1\n0 B-4\npattern 2\n0 C#5\n" +
           "pattern 3\n0 D-5\npattern 4\n0 E-3\npattern 5\n0 D-5\n8 A-5\norder\n0 4\n1 4\n2 .\n" +
           last + " 4\n";
  };
  std::string path = kroTestTempPath("live.song"), raw = kroTestTempPath("live.raw");
  std::string err = kroTestTempPath("live.err"), wait = "for i in $(seq 600); do ";
  kroTestWriteFile(path, song("3", "1"));
  kroTestWriteFile(path + ".new", song("5", "1"));
  kroTestOutcome run =
      kroTestRun("(SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=20 SDL_DISKAUDIOFILE=" + raw +
                 " ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" " KROPLAY_PATH " --window " +
                 path + " 2>" + err + " & " + wait + "[ $(stat -c %s " + raw +
                 " 2>/dev/null || echo 0) -gt 200000 ] && break; sleep 0.05; done; mv " + path +
                 ".new " + path + "; " + wait + "grep -q 'read again' " + err +
                 " && break; sleep 0.05; done; " + "printf 'song\\nrows 16\\n\\nbeat 4\\n' >" +
                 path + "; " + wait + "grep -q 'plays on' " + err + " && [ $(stat -c %s " + raw +
                 ") -gt 1200000 ] && break; sleep 0.05; done; kill $!; wait $!)");
  std::string said = kroTestReadFile(err);
  EXPECT_TRUE(run.status == 0 && kroTestHas(said, "at line 4; the last good song plays on"))
      << said;
  kroSongFile was = {}, now = {};
  kroTestWriteFile(path, song("3", "1"));
  ASSERT_EQ(kroLoadSong(&was, path.c_str()), 0);
  kroTestWriteFile(path, song("5", "1"));
  ASSERT_EQ(kroLoadSong(&now, path.c_str()), 0);
  const int length = 5 * KRO_SYNTH_RATE, note = KRO_SYNTH_RATE * 7 / 2; // A-5 at 3.5 s
  std::vector<int16_t> old_render(2 * length), render(2 * length);
  for (auto [from, to] : {std::make_pair(&was, &old_render), std::make_pair(&now, &render)}) {
    kroSynth synth;
    ASSERT_EQ(kroStartSynth(&synth, &from->song), 0);
    kroRenderSynth(&synth, to->data(), length);
    kroStopSynth(&synth);
  }
  kroFreeSong(&was), kroFreeSong(&now);
  EXPECT_NE(memcmp(&old_render[2 * note], &render[2 * note], 4 * 4410), 0);
  std::string bytes = kroTestReadFile(raw);
  const int16_t *played = (const int16_t *)bytes.data();
  size_t frames = bytes.size() / 4, lead = 0, wrong = 0;
  while (lead + 4410 < frames && memcmp(played + 2 * lead, render.data(), 4 * 4410))
    lead++; // the device's silence before the song's first frame
  ASSERT_GT(frames, lead + length);
  for (size_t i = 0; i < (size_t)length; i++)
    wrong += memcmp(played + 2 * (lead + i), &render[2 * i], 4) != 0;
  EXPECT_EQ(wrong, 0u) << lead;

  std::string midi = kroTestTempPath("t.mid"), wav = kroTestTempPath("w.wav");
  kroTestWriteFile(midi, std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0c\0\x90\x45\x64\x60"
                                     "\x80\x45\0\0\xff\x2f\0",
                                     34));
  kroTestWriteFile(path, song("5", "1"));
  kroTestWriteFile(path + ".b", song("5", "0"));
  const std::pair<std::string, std::string> same[] = {
      {path, KROTOOL_PATH " song-wav " + wav + " " + path},
      {path + " --mute 8,2", KROTOOL_PATH " song-wav " + wav + " " + path + ".b"},
      {path + " --solo 1", KROTOOL_PATH " song-wav " + wav + " " + path + ".b"},
      {midi, "(" KROTOOL_PATH " midi-song " + midi + " -o " + path +
                 ".m && " KROTOOL_PATH " song-wav " + wav + " " + path + ".m)"}};
  for (const auto &[arguments, krotool] : same) {
    SCOPED_TRACE(arguments);
    ASSERT_EQ(kroTestRun(KROPLAY_PATH " " + arguments + " --wav " + wav + ".p").status, 0);
    ASSERT_EQ(kroTestRun(krotool).status, 0);
    std::string ours = kroTestReadFile(wav + ".p");
    EXPECT_TRUE(ours.size() > 100000 && ours == kroTestReadFile(wav)) << ours.size();
  }
  // Wrong options: a usage error (status 2) naming what is wrong, nothing written.
  const std::pair<std::string, std::string> refused[] = {
      {path + " --mute 0", "--mute needs channels 1..8 such as 1,3, not 0"},
      {path + " --mute 1,9", "--mute needs channels 1..8 such as 1,3, not 1,9"},
      {path + " --solo 1,2", "--solo needs one channel 1..8, not 1,2"},
      {path + " --loud", "unknown option with --wav: --loud"},
      {"", "one song or MIDI file is needed"}};
  for (const auto &[arguments, reason] : refused) {
    kroTestOutcome run = kroTestRun(KROPLAY_PATH " " + arguments + " --wav " + wav + ".r");
    EXPECT_TRUE(run.status == 2 && kroTestHas(run.err, "kroplay: " + reason + "\n") &&
                !kroTestFileExists(wav + ".r"))
        << arguments << run.status << run.err;
  }
}

// ---- text ----

// The state kroDrawText promises to leave as it was: the three matrices, the colour, the matrix
// mode, unit, texture, program, texture mode, blend factors and the switches it may flip.
std::vector<float> glState() {
  const GLenum names[] = {GL_PROJECTION_MATRIX,  GL_MODELVIEW_MATRIX, GL_TEXTURE_MATRIX,
                          GL_CURRENT_COLOR,      GL_MATRIX_MODE,      GL_ACTIVE_TEXTURE,
                          GL_TEXTURE_BINDING_2D, GL_CURRENT_PROGRAM,  GL_BLEND_SRC,
                          GL_BLEND_DST}; // 16 floats each, the unused ones 0
  std::vector<float> state(16 * 11);
  for (int i = 0; i < 10; i++)
    glGetFloatv(names[i], &state[16 * i]);
  glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &state[16 * 10]);
  for (GLenum cap : {GL_TEXTURE_2D, GL_BLEND, GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_FOG})
    state.push_back(glIsEnabled(cap));
  return state;
}

TEST(App, TextLandsAtItsPlaceAndSizeAndLeavesTheStateAsFound) {
  ASSERT_TRUE(kroTestOpenGL());
  kroSetBitMasks();
  kroFontFile file;
  kroFont font;
  ASSERT_EQ(kroReadKROF(KRO_TEST_FONT, &file), 0);
  ASSERT_EQ(kroLoadTextFont(KRO_TEST_FONT, &font), 0);
  kroShader program = {};
  kroCreateShaderVF(&program, nullptr, "void main() { gl_FragColor = vec4(0.5); }");
  GLuint texture = 0;
  glGenTextures(1, &texture);
  const float red[4] = {1, 0, 0, 1};
  // The overlay's cells (app: column x / 8, row 7 - y / 8) carry the same glyphs, compiled in.
  kroApp app = {};
  app.width = app.height = 64;
  const struct {
    const char *text;
    float x, y, height;
    bool app;
  } cases[] = {{"AB", 10, 20, 16, false},
               {"k", 3, 5, 24, false},
               {"%/", 40, 0, 8, false},
               {"Qz~", 16, 40, 8, true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    // Somebody else's state: a turned camera, lights, texture unit 1, a program.
    glViewport(0, 0, 64, 64);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (GLenum mode : {GL_PROJECTION, GL_MODELVIEW, GL_TEXTURE}) { // GL_TEXTURE left current
      glMatrixMode(mode);
      glLoadIdentity();
      glRotatef(10.0f + (float)(mode - GL_MODELVIEW) * 20, 1, 1, 0);
    }
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnable(GL_DEPTH_TEST), glEnable(GL_LIGHTING), glEnable(GL_CULL_FACE);
    glBlendFunc(GL_ONE, GL_DST_COLOR);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    glUseProgramObjectARB(program.program);
    std::vector<float> before = glState();
    if (c.app)
      kroAppDrawText(&app, (int)c.x / 8, 7 - (int)c.y / 8, c.text, red);
    else
      kroDrawText(&font, c.text, c.x, c.y, c.height, red);
    EXPECT_EQ(glState(), before);
    glUseProgramObjectARB(0);
    glActiveTexture(GL_TEXTURE0);

    std::vector<uint8_t> pixels(64 * 64 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    int scale = (int)c.height / file.height, wrong = 0, inked = 0;
    for (int y = 0; y < 64; y++)
      for (int x = 0; x < 64; x++) {
        int gx = (x - (int)c.x) / scale, gy = (y - (int)c.y) / scale, glyph = gx / file.width;
        bool ink = false;
        if (x >= c.x && y >= c.y && gy < file.height && glyph < (int)strlen(c.text)) {
          int g = kroGetFontID((uint8_t)c.text[glyph], &font),
              p = gy * file.width + gx % file.width;
          ink = (file.records[g * file.record_bytes + 1 + p / 8] >> (7 - p % 8)) & 1;
        }
        const uint8_t *at = &pixels[3 * (y * 64 + x)];
        inked += ink;
        wrong += at[0] != (ink ? 255 : 0) || at[1] != 0 || at[2] != 0;
      }
    EXPECT_GT(inked, 10);
    EXPECT_EQ(wrong, 0);
  }
  // An overlay panel: cells 1..2 of row 1, blue blended half over red, the state as found.
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  std::vector<float> before = glState();
  const float blue[4] = {0, 0, 1, 0.5f};
  kroAppFillCells(&app, 1, 1, 2, 1, blue);
  EXPECT_EQ(glState(), before);
  std::vector<uint8_t> pixels(64 * 64 * 3);
  glReadPixels(0, 0, 64, 64, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
  int wrong = 0;
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) {
      bool inside = x >= 8 && x < 24 && y >= 48 && y < 56;
      const uint8_t *at = &pixels[3 * (y * 64 + x)];
      wrong += abs(at[0] - (inside ? 128 : 255)) > 1 || abs(at[2] - (inside ? 128 : 0)) > 1;
    }
  EXPECT_EQ(wrong, 0);
  glDisable(GL_DEPTH_TEST), glDisable(GL_LIGHTING), glDisable(GL_CULL_FACE);
  glDeleteTextures(1, &texture);
  kroDestroyShader(&program);
  kroDestroyKROF(&font);
  kroDestroyKROF(&app.text_font);
  kroFreeKROF(&file);
}

// ---- bounds and the scene table ----

// Bounds of known geometry: rows made here, and the exported shapes as their script makes them (a
// cylinder of radius 10 and height 30 on ten segments, and a sphere of radius 20 about (-40, 0,
// 20), the torus reaching x = 60). Each row of the table krotool wrote from those shapes builds,
// through its loader, the very arrays the run-time reader reads for that object, with its name,
// triangle count, material and bounds; the material table's row of that number has the reader's
// colour.
TEST(App, BoundsAndTheSceneTableOfTheExportedShapes) {
  const char *path = KRO_TEST_DATA "/ase/exported_shapes.ase";
  kroMesh *meshes = nullptr;
  kroMaterial *materials = nullptr;
  int count = kroLoadMeshArrayFromASE(&meshes, path);
  int material_count = kroLoadMaterialsFromASE(&materials, path);
  ASSERT_TRUE(count == 3 && GENERATED_APP_SCENE_COUNT == 3) << count;
  ASSERT_EQ(material_count, GENERATED_APP_SCENE_MATERIALS_COUNT);
  kroObject rows = nullptr; // two rows of one object, the third another's
  kroIncreaseObject(&rows, 0, 3);
  const float corners[3][9] = {
      {-1, 2, 3, 4, -5, 6, 7, 8, -9}, {NAN, 0, 0, 1, NAN, 1, 0, 0, INFINITY}, {20}};
  for (int r = 0; r < 3; r++)
    memcpy(rows[r], corners[r], sizeof corners[r]);
  kroObject both[2] = {rows, rows + 2};
  uint32_t counts[2] = {2, 1};
  const float side = 10 * sinf(0.4f * (float)M_PI); // the file keeps four decimals
  // An indexed mesh whose corners name one vertex past the counted three (there in memory) and
  // the largest index: those corners add nothing.
  float vertex[4][KRO_VERTEX_FLOATS] = {{1, 2, 3}, {-4, 5, 6}, {7, -8, 9}, {100, 100, 100}};
  uint32_t index[6] = {0, 1, 2, 3, 2, UINT32_MAX};
  kroMesh indexed = {nullptr,   nullptr, nullptr, nullptr, 2,       0,      "",
                     vertex[0], index,   3,       0,       nullptr, nullptr};
  const struct {
    const char *name;
    std::function<long(kroBounds *)> call;
    long vertices;
    kroBounds expected;
  } cases[] = {
      {"corners not finite passed over",
       [&](kroBounds *o) { return kroObjectBounds(rows, 2, o); },
       3,
       {{-1, -5, -9}, {7, 8, 6}, {3, 1.5f, -1.5f}, 0.5f * sqrtf(64 + 169 + 225)}},
      {"two objects",
       [&](kroBounds *o) { return kroObjectsBounds(both, counts, 2, o); },
       6,
       {{-1, -5, -9}, {20, 8, 6}, {9.5f, 1.5f, -1.5f}, 0.5f * sqrtf(441 + 169 + 225)}},
      {"nothing", [&](kroBounds *o) { return kroObjectBounds(rows, 0, o); }, 0, {}},
      {"indexed, corners naming no vertex passed over",
       [&](kroBounds *o) { return kroMeshBounds(&indexed, 1, o); },
       4,
       {{-4, -8, 3}, {7, 5, 9}, {1.5f, -1.5f, 6}, 0.5f * sqrtf(121 + 169 + 36)}},
      {"the cylinder",
       [&](kroBounds *o) {
         return kroObjectBounds(meshes[1].op, (uint32_t)meshes[1].triangles, o);
       },
       3L * meshes[1].triangles,
       {{-10, -side, 0}, {10, side, 30}, {0, 0, 15}, 0.5f * sqrtf(400 + 4 * side * side + 900)}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    kroBounds got;
    memset(&got, 0x55, sizeof got);
    EXPECT_EQ(c.call(&got), c.vertices);
    float values[2][10]; // low, high, centre, radius
    memcpy(values[0], &got, sizeof values[0]), memcpy(values[1], &c.expected, sizeof values[1]);
    for (int k = 0; k < 10; k++)
      EXPECT_NEAR(values[0][k], values[1][k], 5e-5) << k;
  }
  kroBounds all;
  kroMesh none = meshes[0]; // a count below zero: no triangles
  none.triangles = -1;
  EXPECT_EQ(kroMeshBounds(&none, 1, &all), 0);
  kroMeshBounds(meshes, count, &all);
  EXPECT_TRUE(all.low[0] == -60 && all.high[0] == 60 && all.high[2] == 40)
      << all.low[0] << " " << all.high[0] << " " << all.high[2];
  kroDestroyObject(&rows, 3);

  for (int i = 0; i < count; i++) {
    const kroSceneEntry &row = generated_app_scene[i];
    SCOPED_TRACE(row.name);
    kroTestMesh loaded(row.loader);
    const kroMesh &read = meshes[i];
    EXPECT_STREQ(loaded.name, read.node_name);
    EXPECT_STREQ(row.name, read.node_name);
    ASSERT_EQ(row.triangles, read.triangles);
    ASSERT_EQ(loaded.triangles, read.triangles);
    EXPECT_EQ(row.material, read.material_ref);
    for (int t = 0; t < read.triangles; t++) {
      ASSERT_EQ(memcmp(loaded.op[t], read.op[t], 9 * sizeof(float)), 0) << t;
      ASSERT_EQ(memcmp(loaded.nc[t], read.nc[t], 9 * sizeof(float)), 0) << t;
    }
    kroBounds bounds;
    kroObjectBounds(read.op, (uint32_t)read.triangles, &bounds);
    EXPECT_EQ(memcmp(&bounds, &row.bounds, sizeof bounds), 0);
    const kroMaterialEntry &material = generated_app_scene_materials[row.material];
    EXPECT_EQ(material.number, row.material);
    EXPECT_EQ(memcmp(material.diffuse, materials[row.material].diffuse, 3 * sizeof(float)), 0);
  }
  EXPECT_EQ(memcmp(&loadMeshTorus01Bounds, &generated_app_scene[2].bounds, sizeof(kroBounds)), 0);
  kroFreeMeshArray(&meshes, count);
  kroFreeMaterials(&materials, material_count);
}

// ---- live shaders ----

// A running production polls once a frame (every 15 ms here, on its own clock); a change of the
// lit program's fragment file must be reported within 200 ms of it, by polling and by inotify
// (the frame that reads its event starts the quiet time, the one that ends it reports), and an
// editor's backup or scratch file beside it (b.vert~, .b.vert.swp) never.
// The rebuild takes the new program; a change that does not compile keeps it, with the reason.
TEST(App, ShaderChangeSeenWithin200msAndBrokenOneKeepsTheLastGood) {
  ASSERT_TRUE(kroTestOpenGL());
  for (int poll : {0, 1}) {
    SCOPED_TRACE(poll ? "polling" : "inotify");
    std::string folder = kroTestShaderCopy(poll ? "live-poll" : "live-inotify");
    ASSERT_EQ(kroSetShaderFolder(folder.c_str()), 0);
    ASSERT_EQ(kroStartShaders(64, 64), 0) << kroShaderProblem();
    kroShaderWatch watch;
    ASSERT_EQ(kroOpenShaderWatch(&watch, nullptr, poll), 0);
    glViewport(0, 0, 64, 64);
    glClearColor(0, 0, 0, 1);
    glMatrixMode(GL_PROJECTION), glLoadIdentity();
    glMatrixMode(GL_MODELVIEW), glLoadIdentity();
    EXPECT_EQ(watch.polling, poll);
    const struct {
      const char *fragment;
      int failed;
      std::vector<int> colour;
    } steps[] = {{"void main() { gl_FragColor = vec4(1.0, 0.0, 1.0, 1.0); }\n", 0, {255, 0, 255}},
                 {"void main() { gl_FragColor = vec4(1.0, 0.0 1.0, 1.0); }\n", 1, {255, 0, 255}},
                 {"void main() { gl_FragColor = vec4(0.0, 1.0, 0.0, 1.0); }\n", 0, {0, 255, 0}}};
    long clock = kroNowMs(); // the production's: never behind the real one, never going back
    for (const auto &step : steps) {
      SCOPED_TRACE(step.fragment);
      long start = clock = std::max(clock + 15, kroNowMs()), seen = -1;
      for (const char *scratch : {"/ish/b.vert~", "/ish/.b.vert.swp"}) // no change
        kroTestWriteFile(folder + scratch, "");
      for (; clock <= start + 200; clock += 15)
        EXPECT_EQ(kroPollShaderWatch(&watch, clock), 0);
      start = clock;
      kroTestWriteFile(folder + "/ish/b.frag", step.fragment);
      for (long now = start; seen < 0 && now <= start + 200; now += 15)
        if (kroPollShaderWatch(&watch, clock = now))
          seen = now - start;
      ASSERT_TRUE(poll ? seen >= 0 : seen == KRO_WATCH_QUIET_MS) << seen;
      GLhandleARB before = KRO_SHADER[0].program, textured = KRO_SHADER[2].program;
      EXPECT_EQ(kroRebuildShaders(64, 64) != 0, step.failed != 0);
      EXPECT_EQ(KRO_SHADER[0].program == before, step.failed != 0);
      EXPECT_EQ(KRO_SHADER[2].program == textured, step.failed != 0);
      EXPECT_EQ(kroTestHas(kroShaderProblem(), "ish/b.frag: "), step.failed != 0)
          << kroShaderProblem();
      // The lit program's colour, drawn over the whole view and read at the middle.
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      glUseProgramObjectARB(KRO_SHADER[0].program);
      glRectf(-1, -1, 1, 1);
      glUseProgramObjectARB(0);
      uint8_t rgb[3];
      glReadPixels(32, 32, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
      EXPECT_EQ(std::vector<int>(rgb, rgb + 3), step.colour);
    }
    kroCloseShaderWatch(&watch);
  }
  kroSetShaderFolder(nullptr);
}

} // namespace
