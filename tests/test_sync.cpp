// Sync tracks: values at and between keys for each way a key moves, the time-to-row rule, the
// tables `krotool sync-src` compiles, a file written and read back, and refused files with their
// reasons and lines.
#include "gl_context.h"

#include <math.h>
#include <string.h>

extern kroSyncTracks flight_tracks; // tests/data/sync/flight.sync, compiled at build time

namespace {

const std::string kFlight = KRO_TEST_DATA "/sync/flight.sync";

struct SyncTest : kroTestFailureFixture {};

void expectSameTracks(const kroSyncTracks &a, const kroSyncTracks &b) {
  ASSERT_EQ(a.count, b.count);
  EXPECT_EQ(a.tempo, b.tempo);
  EXPECT_EQ(a.rows_per_beat, b.rows_per_beat);
  for (int i = 0; i < a.count; i++) {
    EXPECT_STREQ(a.tracks[i].name, b.tracks[i].name);
    ASSERT_EQ(a.tracks[i].count, b.tracks[i].count) << i;
    size_t bytes = (size_t)a.tracks[i].count * sizeof(kroSyncKey);
    EXPECT_TRUE(bytes == 0 || memcmp(a.tracks[i].keys, b.tracks[i].keys, bytes) == 0)
        << a.tracks[i].name;
  }
}

// flight.sync: 150 beats a minute at 8 rows a beat, so a row is 0.05 s. Between two keys a
// quarter of the way (t = 0.25) the value has moved 0.25 of the way (linear), 0.15625 (smooth),
// 0.0625 (ramp) or not at all (step).
TEST_F(SyncTest, ValuesAtAndBetweenKeysAndTheCompiledTablesGiveTheSame) {
  kroSyncTracks tracks;
  ASSERT_EQ(kroLoadSyncTracks(&tracks, kFlight.c_str()), 3);
  EXPECT_DOUBLE_EQ(kroSyncRow(&tracks, 1.0), 20.0);
  const kroSyncTrack *x = kroFindSyncTrack(&tracks, "camera.x");
  ASSERT_TRUE(x && x->count == 5 && kroFindSyncTrack(&tracks, "unused-yet")->count == 0);
  const struct {
    double row;
    float value;
  } expected[] = {{-5, -2},
                  {NAN, -2},
                  {0, -2},
                  {4, 0},                                                        // linear
                  {16, 6},                                                       // at a key
                  {24, (float)(6 + (0.123456789f - 6.0) * 0.15625)},             // smooth
                  {56, (float)(0.123456789f + (-0.75 - 0.123456789f) * 0.0625)}, // ramp
                  {88, -0.75f},                                                  // step
                  {95.99, -0.75f},
                  {96, 3},
                  {1e9, 3}};
  for (const auto &e : expected)
    EXPECT_FLOAT_EQ(kroSyncValue(x, e.row), e.value) << e.row;
  EXPECT_FLOAT_EQ(kroSyncTrackValue(&tracks, "camera.x", 0.2), 0.0f);    // row 4
  EXPECT_FLOAT_EQ(kroSyncTrackValue(&tracks, "fade:level", 1.15), 1.0f); // row 23: held
  EXPECT_FLOAT_EQ(kroSyncTrackValue(&tracks, "fade:level", 1.2), 0.25f); // row 24: a key
  EXPECT_EQ(kroSyncTrackValue(&tracks, "unused-yet", 1.0), 0.0f);
  EXPECT_EQ(kroSyncTrackValue(&tracks, "camera.y", 1.0), 0.0f);
  expectSameTracks(tracks, flight_tracks);

  // Written and read back: every field, every bit (0.123456789 needs nine digits, the tempo 17).
  tracks.tempo += 1.0 / 3;
  std::string path = kroTestTempPath("flight.sync");
  ASSERT_EQ(kroWriteSyncTracks(&tracks, path.c_str()), 0);
  kroSyncTracks again;
  ASSERT_EQ(kroLoadSyncTracks(&again, path.c_str()), 3);
  expectSameTracks(tracks, again);
  kroFreeSyncTracks(&again);
  std::string nowhere = kroTestTempPath("no-folder") + "/flight.sync";
  kroTestExpectReport([&] { EXPECT_EQ(kroWriteSyncTracks(&tracks, nowhere.c_str()), -1); },
                      "Error in writing sync tracks to " + nowhere +
                          ": No such file or directory\n");
  kroFreeSyncTracks(&tracks);
  EXPECT_TRUE(tracks.count == 0 && !tracks.tracks);
}

// Each refusal names its reason and its line, and leaves the record empty; the limits
// themselves are accepted.
TEST_F(SyncTest, RefusedFilesNameTheReasonAndTheLine) {
  const std::string bad_word = "an interpolation that is none of step, linear, smooth, ramp";
  const std::string bad_row = "a row that is not a whole number from 0 to 16777216";
  const std::string bad_value = "the key's value missing or not a finite number";
  std::string most = ""; // the most tracks, the last with keys at rows 0..9
  for (int i = 0; i < 1034; i++)
    most += i < 1024 ? "track t" + std::to_string(i) + "\n" : std::to_string(i - 1024) + " 1\n";
  std::string limit = "tempo 1\nrows-per-beat 1\n#"; // the largest file: a comment fills it
  limit.resize(KRO_SYNC_MAX_BYTES, ' ');
  const std::pair<std::string, std::string> refused[] = {
      {"track a\n0 1 bounce\n", bad_word + " at line 2"},
      {"track a\n4 1\n4 2\n", "a row not after the track's previous key at line 3"},
      {"tempo 120\ntrack a\ntempo 90\n",
       "a tempo or rows-per-beat after the first track at line 3"},
      {"rows-per-beat 4\nrows-per-beat 4\n", "a tempo or rows-per-beat given twice at line 2"},
      {"tempo 0.5\n", "a tempo outside 1 to 1000 beats per minute at line 1"},
      {"tempo 1000.5\n", "a tempo outside 1 to 1000 beats per minute at line 1"},
      {"rows-per-beat 2.5\n", "rows-per-beat not a whole number from 1 to 64 at line 1"},
      {"rows-per-beat 65\n", "rows-per-beat not a whole number from 1 to 64 at line 1"},
      {"5 1\n", "a key before the first track, or a word that is no keyword at line 1"},
      {std::string(64, 'w') + "\n", "a word too long at line 1"},
      {"track a\n1 nan\n", bad_value + " at line 2"},
      {"track a\n1 1e39\n", bad_value + " at line 2"},
      {"track a\n1\n", bad_value + " at line 2"},
      {"# a comment\n\ntrack a b\n", "more than the line's fields at line 3"},
      {"track a\n0 1 linear # fine\n1 1 linear x\n", "more than the line's fields at line 3"},
      {"track a\ntrack a\n", "a track name given twice at line 2"},
      {"track a/b\n", "a track name missing, over 63 characters or not of letters, digits and . "
                      "_ : - at line 1"},
      {"track " + std::string(64, 'n') + "\n",
       "a track name missing, over 63 characters or not of letters, digits and . _ : - at line 1"},
      {"track a\n-1 0\n", bad_row + " at line 2"},
      {"track a\n16777217 0\n", bad_row + " at line 2"},
      {"track a\n1.5 0\n", bad_row + " at line 2"},
      {std::string("track a\n0 1\0", 12), "a zero byte: not a text file"},
      {"track a\n0 1 " + std::string(16, 'l') + "\n", bad_word + " at line 2"},
      {"tempo x\n", "the tempo missing or not a finite number at line 1"},
      {"tempo 120 xx\n", "more than the line's fields at line 1"},
      {most + "track x\n", "more tracks than 1024 at line 1035"},
      {limit + " ", "larger than 16777216 bytes"}};
  std::string path = kroTestTempPath("refused.sync");
  for (const auto &[text, reason] : refused) {
    SCOPED_TRACE(text.substr(0, 80));
    kroTestWriteFile(path, text);
    kroSyncTracks tracks;
    memset(&tracks, 0x55, sizeof tracks);
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadSyncTracks(&tracks, path.c_str()), -1); },
                        "Error in reading sync tracks from " + path + ": " + reason + "\n");
    EXPECT_TRUE(tracks.count == 0 && !tracks.tracks && !tracks.owned);
  }
  kroSyncTracks tracks;
  kroTestWriteFile(path, "tempo 1000\r\nrows-per-beat 64\ntrack " + std::string(63, 'n') +
                             "\n0 1\n16777216 -3.4e38 smooth\n");
  ASSERT_EQ(kroLoadSyncTracks(&tracks, path.c_str()), 1);
  EXPECT_TRUE(tracks.tempo == 1000 && tracks.rows_per_beat == 64 &&
              tracks.tracks[0].keys[1].row == 16777216);
  kroFreeSyncTracks(&tracks);
  kroTestWriteFile(path, most);
  ASSERT_EQ(kroLoadSyncTracks(&tracks, path.c_str()), 1024);
  EXPECT_DOUBLE_EQ(kroSyncRow(&tracks, 1.5), 12.0); // by default 120 beats a minute, 4 rows each
  const kroSyncTrack *last = kroFindSyncTrack(&tracks, "t1023");
  ASSERT_TRUE(kroFindSyncTrack(&tracks, "t0") && last && last->count == 10);
  for (int i = 0; i < 10; i++)
    EXPECT_TRUE(last->keys[i].row == i && last->keys[i].value == 1) << i;
  kroFreeSyncTracks(&tracks);
  kroTestWriteFile(path, limit);
  EXPECT_EQ(kroLoadSyncTracks(&tracks, path.c_str()), 0);
  EXPECT_DOUBLE_EQ(kroSyncRow(&tracks, 60.0), 1.0);
  // The text, the track list and a track's keys: each allocation failure is reported and leaves
  // nothing.
  const std::string no_memory = "Error during allocating memory in kroLoadSyncTracks(..)\n";
  const std::pair<long, std::string> failures[] = {
      {1, "Error in reading sync tracks from " + kFlight + ": no memory for its text\n"},
      {2, no_memory},
      {3, no_memory}};
  for (const auto &[fail, message] : failures) {
    kroTestExpectReport([&] { EXPECT_EQ(kroLoadSyncTracks(&tracks, kFlight.c_str()), -1); },
                        message, fail);
    EXPECT_TRUE(tracks.count == 0 && !tracks.tracks);
  }
}

// krotool sync-src as a user runs it: a C name is required, a refused file is status 1 with the
// engine's reason, and the tool's source compiles (the test's own tables are made by it).
TEST(SyncSrc, RefusesBadNamesAndFiles) {
  std::string tool = KROTOOL_PATH;
  EXPECT_EQ(kroTestRun(tool + " sync-src " + kFlight + " 9lives").status, 2);
  EXPECT_EQ(kroTestRun(tool + " sync-src " + kFlight).status, 2);
  std::string path = kroTestTempPath("tool.sync");
  kroTestWriteFile(path, "track a\n2 1\n1 1\n");
  kroTestOutcome refused = kroTestRun(tool + " sync-src " + path + " tracks");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(kroTestHas(refused.err, "a row not after the track's previous key at line 3"))
      << refused.err;
  EXPECT_EQ(refused.out, "");
  // A control byte in the path does not end the comment that names it.
  std::string dir = kroTestTempFolder("sync-src");
  kroTestWriteFile(dir + "/a\nb.sync", "track a\n1 1\n");
  kroTestOutcome named = kroTestRun("cd " + dir + " && " + tool + " sync-src a?b.sync tracks");
  EXPECT_TRUE(kroTestHas(named.out, "krotool sync-src from a?b.sync: tracks gives\n")) << named.out;
}

} // namespace
