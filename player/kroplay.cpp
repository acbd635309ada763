// kroplay: the live song player. Plays a song file (docs/sound.md), or a Standard MIDI File
// through `krotool midi-song`, on the application layer and shows it as a tracker does: the
// order list around the playing entry, the playing pattern's rows scrolling with the playing row
// in the middle, a note name a channel a row, and each channel's level. The file is looked at
// every KRO_APP_SYNC_POLL_MS: a change that reads replaces the song at the same row (the sound
// goes on, to the sample at an unchanged tempo); one that does not keeps the last good song, the
// reason on screen and on standard error. --wav renders the song to a WAV file and exits.
// Built on the public headers alone (kro.h, kroapp.h).
#include "kroapp.h"

#include <SDL/SDL_keysym.h>
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char kUsage[] = "SONG.song|FILE.mid [--wav FILE.wav] [--mute N[,N...]] [--solo N]";
const char kKeys[] =
    "Keys: Space pause/resume, Up/Down a row, Page Up/Page Down an order entry, Home the\n"
    "start, L loop the playing order entry (again: no loop), 1-9 mute/unmute channel N,\n"
    "Shift+1-9 solo channel N (again: all heard), 0 all channels heard, Left/Right a second,\n"
    "Escape quit (these replace the layer's Page Up, Page Down and L above). The song file\n"
    "is read again when it changes, at the same row.\n";

enum {
  kLevelCells = 24,   // a level bar's cells at full scale
  kLevelFloorDb = 48, // the level shown as an empty bar
  kMostMessage = 200  // characters of a refusal kept for the screen
};

struct Player {
  const char *path = nullptr; // the file given: a song, or a MIDI file
  bool midi = false;
  std::string song_path;       // the song file read: path, or the import's in the scratch folder
  std::string scratch;         // the import's folder, removed at the end; empty without one
  kroSongFile *song = nullptr; // the song playing (heap)
  kroFileStamp stamp = {};
  long next_look_ms = 0;
  std::string problem; // why the last change did not read; empty once one reads
  int loop_step = -1;  // the order entry being looped, or -1
  std::string message; // the engine's last failure message
};

Player player;

void keepMessage(const char *message, void *) {
  player.message = std::string(message).substr(0, kMostMessage);
}

bool endsWith(const std::string &text, const char *end) {
  size_t n = strlen(end);
  return text.size() >= n && !strcasecmp(text.c_str() + text.size() - n, end);
}

// `krotool` beside this program (installed), in the build tree's tools/, or on the PATH.
std::string krotoolPath() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder = n > 0 ? std::string(self, (size_t)n) : std::string();
  folder = folder.substr(0, folder.rfind('/') + 1);
  for (const char *place : {"krotool", "../tools/krotool"})
    if (!folder.empty() && access((folder + place).c_str(), X_OK) == 0)
      return folder + place;
  return "krotool";
}

// The MIDI file imported as a song file into the scratch folder by `krotool midi-song` (its
// report on standard error); 0, or -1 with player.message telling why.
int importMidi() {
  std::string tool = krotoolPath(), out = player.scratch + "/import.song";
  pid_t child = fork();
  if (child == 0) {
    dup2(2, 1); // krotool's summary joins its report on standard error
    execlp(tool.c_str(), tool.c_str(), "midi-song", player.path, "-o", out.c_str(), (char *)0);
    fprintf(stderr, "kroplay: cannot run %s: %s\n", tool.c_str(), strerror(errno));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    player.message = "krotool midi-song did not import " + std::string(player.path);
    return -1;
  }
  player.song_path = out;
  return 0;
}

// The file read again (imported first when it is MIDI): a new song on the heap, or null with
// player.message telling why.
kroSongFile *readSong() {
  kroStampFile(player.path, &player.stamp);
  player.next_look_ms = kroNowMs() + KRO_APP_SYNC_POLL_MS;
  if (player.midi && importMidi() != 0)
    return nullptr;
  kroSongFile *song = new kroSongFile();
  kroSetErrorMessageFunc(keepMessage, nullptr);
  int read = kroLoadSong(song, player.song_path.c_str());
  kroSetErrorMessageFunc(nullptr, nullptr);
  if (read != 0) {
    delete song;
    return nullptr;
  }
  return song;
}

void freeSong(kroSongFile *song) {
  if (song)
    kroFreeSong(song);
  delete song;
}

// A channel list "1,3" (channels from 1) as a mask; -1 when it is none.
long channelMask(const char *text) {
  long mask = 0;
  for (const char *at = text;;) {
    char *end;
    long channel = strtol(at, &end, 10);
    if (end == at || channel < 1 || channel > KRO_SYNTH_CHANNELS)
      return -1;
    mask |= 1L << (channel - 1);
    if (!*end)
      return mask;
    if (*end != ',')
      return -1;
    at = end + 1;
  }
}

int64_t rowStart(const kroSong *song, int64_t row) {
  return row * 60 * KRO_SYNTH_RATE / song->rows_per_minute;
}

int64_t songRows(const kroSong *song) {
  return (int64_t)song->order_count * song->rows;
}

int64_t playingRow(const kroApp *app) {
  return kroSongRow(&player.song->song, llround(app->seconds * KRO_SYNTH_RATE));
}

void seekRow(kroApp *app, int64_t row) {
  int64_t last = songRows(&player.song->song) - 1;
  row = row > last ? last : row;
  kroAppSeek(app, row < 0 ? 0.0 : (double)rowStart(&player.song->song, row) / KRO_SYNTH_RATE);
}

unsigned allChannels() {
  return (1u << player.song->song.channel_count) - 1u;
}

// kroplay's own keys; the others (Space, Home, Left, Right) are the application layer's.
int playerKey(kroApp *app, int key, int shift) {
  const kroSong *song = &player.song->song;
  int64_t row = playingRow(app);
  if (key == SDLK_UP || key == SDLK_DOWN) {
    seekRow(app, row + (key == SDLK_UP ? -1 : 1));
  } else if (key == SDLK_PAGEUP || key == SDLK_PAGEDOWN) {
    int64_t step = row / song->rows + (key == SDLK_PAGEUP ? -1 : 1);
    if (step < song->order_count)
      seekRow(app, step * song->rows);
  } else if (key == SDLK_l) {
    player.loop_step = player.loop_step >= 0 ? -1 : (int)(row / song->rows);
  } else if (key == SDLK_0) {
    kroAppMute(app, 0);
  } else if (key >= SDLK_1 && key <= SDLK_9) {
    unsigned bit = 1u << (key - SDLK_1);
    if (!(bit & allChannels()))
      return 1;
    unsigned solo = allChannels() & ~bit;
    kroAppMute(app, shift ? (app->mute == solo ? 0 : solo) : app->mute ^ bit);
  } else {
    return 0;
  }
  return 1;
}

// The file looked at again when its time has come; a change that reads replaces the song.
void followFile(kroApp *app) {
  if (kroNowMs() < player.next_look_ms)
    return;
  kroFileStamp stamp;
  kroStampFile(player.path, &stamp);
  player.next_look_ms = kroNowMs() + KRO_APP_SYNC_POLL_MS;
  if (kroSameFileStamp(&stamp, &player.stamp))
    return;
  kroSongFile *song = readSong();
  kroSetErrorMessageFunc(keepMessage, nullptr);
  if (song && kroAppSetSong(app, &song->song) != 0) {
    freeSong(song);
    song = nullptr;
  }
  kroSetErrorMessageFunc(nullptr, nullptr);
  if (!song) {
    player.problem = player.message;
    fprintf(stderr, "kroplay: %s; the last good song plays on\n", player.problem.c_str());
    return;
  }
  freeSong(player.song);
  player.song = song;
  player.problem.clear();
  if (player.loop_step >= song->song.order_count)
    player.loop_step = -1;
  kroAppMute(app, app->mute & allChannels());
  fprintf(stderr, "kroplay: %s read again\n", player.path);
}

// A cell as the song file writes it: a note name, a key below C-0, off, or dots for nothing.
std::string cellText(uint8_t cell) {
  char text[8];
  if (cell == KRO_NOTE_NONE)
    return "...";
  if (cell == KRO_NOTE_OFF)
    return "off";
  if (cell < 12)
    snprintf(text, sizeof text, "%3d", cell);
  else
    snprintf(text, sizeof text, "%c%c%d", "CCDDEFFGGAAB"[cell % 12], "-#-#--#-#-#-"[cell % 12],
             cell / 12 - 1);
  return text;
}

const float kWhite[4] = {1, 1, 1, 1}, kGrey[4] = {0.55f, 0.6f, 0.65f, 1},
            kYellow[4] = {1, 0.85f, 0.3f, 1}, kRed[4] = {1, 0.4f, 0.35f, 1},
            kHighlight[4] = {0.3f, 0.45f, 0.8f, 0.5f}, kBar[4] = {0.3f, 0.85f, 0.4f, 0.9f},
            kBarLoud[4] = {0.95f, 0.6f, 0.2f, 0.9f};

// The tracker view: title line, order list (left), the playing pattern (right), the levels and
// the keys below.
void drawView(kroApp *app) {
  const kroSong *song = &player.song->song;
  int columns, rows;
  kroAppTextCells(app, &columns, &rows);
  int64_t row = playingRow(app), total = songRows(song);
  int64_t step = row / song->rows, in_pattern = row % song->rows;
  bool ended = row >= total;
  char line[256];
  const char *name = strrchr(player.path, '/') ? strrchr(player.path, '/') + 1 : player.path;
  snprintf(line, sizeof line, "%s  %d rows/min  entry %lld of %d  row %lld of %d%s%s", name,
           song->rows_per_minute, (long long)(ended ? song->order_count : step), song->order_count,
           (long long)(ended ? 0 : in_pattern), song->rows, app->paused ? "  paused" : "",
           player.loop_step >= 0 ? "  loop" : "");
  kroAppDrawText(app, 0, 0, line, kWhite);

  int channels = song->channel_count, order_x = 0, pattern_x = 5 + 3 * channels;
  int top = 2, levels = channels + 1, view = rows - top - 1 - levels - 3;
  view = view < 3 ? 3 : view;
  int middle = view / 2;
  kroAppDrawText(app, order_x, top, "ord", kGrey);
  std::string names = "row";
  for (int c = 0; c < channels; c++)
    names += " " + std::string(player.song->channel_names[c]).substr(0, 3);
  kroAppDrawText(app, pattern_x, top, names.c_str(), kGrey);
  for (int i = 0; i < view; i++) {
    int y = top + 1 + i;
    int64_t s = step + i - middle; // the order list around the playing entry
    if (s >= 0 && s < song->order_count) {
      snprintf(line, sizeof line, "%3lld ", (long long)s);
      std::string text = line;
      for (int c = 0; c < channels; c++) {
        uint8_t p = song->order[s * channels + c];
        snprintf(line, sizeof line, p == KRO_PATTERN_SILENT ? " ." : "%2d", p);
        text += line + std::string(c + 1 < channels ? " " : "");
      }
      if (s == step)
        kroAppFillCells(app, order_x, y, (int)text.size(), 1, kHighlight);
      kroAppDrawText(app, order_x, y, text.c_str(), s == player.loop_step ? kYellow : kWhite);
    }
    int64_t r = in_pattern + i - middle; // the playing pattern's rows around the playing one
    if (ended || r < 0 || r >= song->rows)
      continue;
    if (r == in_pattern)
      kroAppFillCells(app, pattern_x, y, 3 + 4 * channels, 1, kHighlight);
    snprintf(line, sizeof line, "%3lld", (long long)r);
    kroAppDrawText(app, pattern_x, y, line, kGrey);
    for (int c = 0; c < channels; c++) {
      uint8_t p = song->order[step * channels + c];
      uint8_t cell = p == KRO_PATTERN_SILENT ? (uint8_t)KRO_NOTE_NONE
                                             : song->patterns[(int64_t)p * song->rows + r];
      bool muted = app->mute >> c & 1u;
      kroAppDrawText(app, pattern_x + 4 + 4 * c, y, cellText(cell).c_str(),
                     muted || cell == KRO_NOTE_NONE ? kGrey : kWhite);
    }
  }
  // Each channel's peak since the last picture, kLevelFloorDb below full scale to full scale.
  int y = top + 2 + view;
  for (int c = 0; c < channels; c++, y++) {
    float level = app->levels[c];
    float db = level > 0 ? 20.0f * log10f(level) : -1000.0f;
    int cells = (int)lroundf((db + kLevelFloorDb) / kLevelFloorDb * kLevelCells);
    cells = cells < 0 ? 0 : cells > kLevelCells ? kLevelCells : cells;
    snprintf(line, sizeof line, "%d %-8.8s%s", c + 1, player.song->channel_names[c],
             app->mute >> c & 1u ? "muted" : "");
    kroAppDrawText(app, 0, y, line, app->mute >> c & 1u ? kGrey : kWhite);
    if (cells > 0)
      kroAppFillCells(app, 16, y, cells, 1, db > -6.0f ? kBarLoud : kBar);
  }
  if (!player.problem.empty())
    kroAppDrawText(app, 0, rows - 3, ("kept the last good song: " + player.problem).c_str(), kRed);
  kroAppDrawText(app, 0, rows - 2, "Space pause  Up/Down row  PgUp/PgDn entry  Home start  L loop",
                 kGrey);
  kroAppDrawText(app, 0, rows - 1, "1-9 mute  Shift+1-9 solo  0 all  Esc quit", kGrey);
}

// The song with the muted channels silent, as `krotool song-wav` renders it, into a WAV file.
int writeWav(const kroSong *song, unsigned mute, const char *path) {
  kroSynth synth;
  if (kroStartSynth(&synth, song) != 0)
    return 1;
  synth.mute = mute;
  int64_t frames = synth.frames;
  std::vector<int16_t> samples((size_t)(2 * (frames > 0 ? frames : 1)));
  for (int64_t done = 0; done < frames; done += 1 << 20)
    kroRenderSynth(&synth, &samples[(size_t)(2 * done)],
                   frames - done < (1 << 20) ? (int)(frames - done) : 1 << 20);
  kroStopSynth(&synth);
  if (kroWriteWAV(path, samples.data(), frames) != 0) {
    fprintf(stderr, "kroplay: cannot write %s: %s\n", path, strerror(errno));
    return 1;
  }
  printf("kroplay: %s: %.3f s, %lld frames of 16-bit stereo at %d Hz\n", path,
         (double)frames / KRO_SYNTH_RATE, (long long)frames, KRO_SYNTH_RATE);
  return 0;
}

int refuse(const char *reason, const char *what) {
  fprintf(stderr, "kroplay: %s%s\nusage: kroplay %s [--window] [--frames N] [--shot FILE.png]\n",
          reason, what, kUsage);
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  const char *wav = nullptr, *mute_list = nullptr, *solo = nullptr;
  bool help = false;
  for (int i = 1; i < argc; i++) {
    help = help || !strcmp(argv[i], "--help") || !strcmp(argv[i], "-h");
    bool value = i + 1 < argc;
    if (!strcmp(argv[i], "--wav") && value)
      wav = argv[i + 1];
    else if (!strcmp(argv[i], "--mute") && value)
      mute_list = argv[i + 1];
    else if (!strcmp(argv[i], "--solo") && value)
      solo = argv[i + 1];
  }
  kroApp app = {};
  app.windowed = 0;
  app.usage = kUsage;
  app.own_value_options = "--wav --mute --solo";
  if (help) {
    kroAppStart(&app, "kroplay", 1024, 640, &argc, argv); // prints the usage
    printf("  --wav FILE     render the whole song to a WAV file and exit\n"
           "  --mute N,...   channels (from 1) silent from the start; --solo N: all but N\n%s",
           kKeys);
    return app.status;
  }
  long mask = 0, solo_mask = 0;
  if (mute_list && (mask = channelMask(mute_list)) < 0)
    return refuse("--mute needs channels 1..8 such as 1,3, not ", mute_list);
  if (solo && ((solo_mask = channelMask(solo)) < 0 || strchr(solo, ',')))
    return refuse("--solo needs one channel 1..8, not ", solo);
  std::vector<char *> files; // what is not an option
  for (int i = 1; i < argc; i++) {
    bool valued = !strcmp(argv[i], "--wav") || !strcmp(argv[i], "--mute") ||
                  !strcmp(argv[i], "--solo") || !strcmp(argv[i], "--frames") ||
                  !strcmp(argv[i], "--shot") || !strcmp(argv[i], "--start");
    if (valued)
      i++;
    else if (argv[i][0] != '-')
      files.push_back(argv[i]);
    else if (wav && strcmp(argv[i], "--window")) // the window's options are the layer's to check
      return refuse("unknown option with --wav: ", argv[i]);
  }
  if (files.size() != 1)
    return refuse("one song or MIDI file is needed", "");
  player.path = files[0];
  player.song_path = player.path;
  player.midi = endsWith(player.path, ".mid") || endsWith(player.path, ".midi");
  if (player.midi) {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kroplay-XXXXXX";
    std::vector<char> made(pattern.begin(), pattern.end());
    made.push_back(0);
    if (!mkdtemp(made.data())) {
      fprintf(stderr, "kroplay: no scratch folder %s: %s\n", pattern.c_str(), strerror(errno));
      return 1;
    }
    player.scratch = made.data();
  }
  player.song = readSong();
  int status = 1;
  if (!player.song) {
    fprintf(stderr, "kroplay: %s\n", player.message.c_str());
  } else {
    unsigned heard = allChannels();
    unsigned start_mute = (unsigned)(solo ? heard & ~solo_mask : mask) & heard;
    if (wav) {
      status = writeWav(&player.song->song, start_mute, wav);
    } else {
      app.song = &player.song->song;
      app.key = playerKey;
      if (kroAppStart(&app, "kroplay", 1024, 640, &argc, argv)) {
        kroAppMute(&app, start_mute);
        while (kroAppFrame(&app)) {
          followFile(&app);
          const kroSong *song = &player.song->song;
          if (player.loop_step >= 0 && playingRow(&app) / song->rows != player.loop_step)
            seekRow(&app, (int64_t)player.loop_step * song->rows);
          glClearColor(0.05f, 0.06f, 0.08f, 1.0f);
          glClear(GL_COLOR_BUFFER_BIT);
          drawView(&app);
        }
        status = kroAppEnd(&app);
      } else {
        status = app.status; // a usage error or no window
      }
    }
  }
  freeSong(player.song);
  if (!player.scratch.empty()) {
    unlink((player.scratch + "/import.song").c_str());
    rmdir(player.scratch.c_str());
  }
  return status;
}
