/*
 * kroapp - what every production on the kro engine needs around its drawing:
 * a window with an OpenGL context, the frame loop with the time in seconds,
 * the ways of ending (Escape, closing the window, --frames N), a picture of
 * the last frame (--shot FILE.png) and the engine's shaders rebuilt live when
 * a file in the shader folder changes. A separate library on SDL 1.2 beside
 * the engine: CMake `kro::kroapp`, pkg-config `kroapp`.
 *
 *   int main(int argc, char **argv) {
 *     kroApp app = {};
 *     if (!kroAppStart(&app, "demo", 800, 450, &argc, argv))
 *       return app.status;
 *     while (kroAppFrame(&app))
 *       draw(app.seconds);                        // clear and draw; no swap
 *     return kroAppEnd(&app);
 *   }
 *
 * Options every production takes (kroAppStart removes them from argv and
 * leaves the other arguments, in order, for the production; an option it does
 * not know is a usage error unless own_options or own_value_options names it):
 *   --window      a window of width x height instead of full screen
 *   --frames N    end after N frames, the time advancing KRO_APP_STEP_SECONDS
 *                 a frame instead of with the clock (the same pictures on
 *                 every machine)
 *   --shot FILE   write the last frame as a PNG picture (alone: after one frame),
 *                 however the run ends
 *   --sync FILE   sync tracks (docs/timing.md) read from FILE, and read again within
 *                 KRO_APP_SYNC_POLL_MS of a change to it (the last good tracks stay while
 *                 it does not read: the reason and line on standard error);
 *                 kroAppSyncValue gives a track's value at the frame's time
 *   --music FILE  the soundtrack: a WAV, Ogg Vorbis or FLAC file (see kroLoadMusic)
 *   --start S     begin S seconds into the production (picture and sound)
 *   --help        the usage on standard output, then exit status 0
 *
 * The soundtrack (music_file, else song on the synthesizer) plays through SDL's audio at
 * KRO_SYNTH_RATE, and the production's time IS its position: app->seconds is the frames handed
 * to the device / KRO_SYNTH_RATE, so picture and sound cannot drift apart. Under --frames the
 * time steps as above and the sound plays beside it. Without a sound device the run goes on
 * silently on the clock (one line on standard error). Keys that hold time (docs/timing.md):
 * Space pauses and resumes picture and sound; Left/Right move a beat back/forward, Page Up/Page
 * Down a bar of KRO_APP_BEAT_BAR beats; Home goes to the start; L marks the start of the bar
 * playing, a second L the end of the bar then playing and loops picture and sound between the
 * two (time at or past the end goes back by whole loops), a third lets go. A beat is the sync
 * tracks' 60 / tempo seconds, or a second without tracks; the sound moves by the same frames,
 * to the sample. F1 or H shows and hides the list of every key.
 * The sync editor (with sync tracks; docs/timing.md): Tab shows and hides the tracks as columns
 * against the rows around the time, the row playing highlighted, each key's value followed by
 * its interpolation's mark (- step, / linear, ~ smooth, ^ ramp). While it is shown: Up/Down move
 * time one row back/forward (the cursor's row is the row playing); Left/Right move the cursor a
 * track (Shift+Left/Right still move a beat); digits, '.' and '-' type a value, Backspace drops
 * its last character, Escape all of it (the run goes on), Enter sets it as the key at the cursor
 * (a new key takes the interpolation of the key before it, step for a track's first); I turns
 * the key at the cursor to the next interpolation; Delete removes it; S writes the tracks over
 * the track file with kroWriteSyncTracks (after a failure the file is as it was, the reason on
 * the status line and standard error). kroAppSyncValue gives an edit's value from the next
 * frame on; while edits are not saved, a change to the file is not read over them. The time keys
 * work while the editor is shown.
 * A production may take keys before these (app->key), seek (kroAppSeek), swap the song at its
 * row (kroAppSetSong) and mute its channels (kroAppMute), as kroplay does.
 * Exit statuses: 0 a run that ended by Escape, the window's close or its
 * frame count, and --help; 1 no window could be opened, or the shot could not
 * be written; 2 a usage error (the reason and the usage on standard error).
 *
 * A window given a new size (by the user or a window manager, which may do so
 * as it maps the window) gets a mode of that size: width and height change,
 * the viewport and the engine's shaders follow, and `resized` tells the
 * production for one frame. SDL keeps the GL context on X11 (resized 1); should
 * a driver make a new one (resized 2), the production makes its textures,
 * display lists and programs again in that frame, before drawing with them.
 *
 * SDL's X11 video driver is chosen unless SDL_VIDEODRIVER is set. Starting
 * runs kroInit, which clears the error hook: set a hook after kroAppStart.
 * Depends on: kro, SDL 1.2, GL, libsndfile. Single-threaded, one window per process.
 */
#ifndef KROAPP_H
#define KROAPP_H

#include "kro.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KRO_APP_STEP_SECONDS (1.0 / 60.0) /* a frame's time step with --frames */
enum {
  KRO_APP_SYNC_POLL_MS = 100,     /* how often the sync track file is looked at */
  KRO_APP_MESSAGE_CHARS = 256,    /* longest engine message passed on */
  KRO_APP_BEAT_BAR = 4,           /* beats a bar (Page Up, Page Down) */
  KRO_APP_AUDIO_FRAMES = 1024,    /* frames of one audio buffer handed to the device */
  KRO_APP_TEXT_LARGE_HEIGHT = 360 /* windows this tall and more get 16-pixel text cells */
};

/* A soundtrack decoded whole: stereo frames at KRO_SYNTH_RATE, left then right, full scale
 * -1..1 (a 16-bit file's sample s reads as s / 32768 exactly). */
typedef struct kroMusic {
  float *samples; /* 2 x frames; heap, kroFreeMusic */
  int64_t frames;
} kroMusic;

typedef struct kroApp {
  /* Set by kroAppStart from its arguments. */
  const char *caption; /* window caption, and the program's name in messages */
  int width, height;   /* pixels */
  /* May be set by the production before kroAppStart (zero: the default). */
  int windowed;      /* 1: a window even without --window (else full screen) */
  int fixed_shaders; /* 1: the shader folder is not watched (else rebuilt live) */
  const char *usage; /* the production's own arguments for --help, e.g. "[FILE.ase] [--flat]" */
  const char *own_options;       /* the production's own flags (no value), left in argv: "--flat" */
  const char *own_value_options; /* its own options that take the next argument as their
                                    value, left in argv with it: "--wav --level" */
  const char *sync_file;         /* sync tracks to read and follow (or --sync FILE); null: none */
  const kroSong *song;           /* the soundtrack on the synthesizer; null: none */
  const char *music_file;        /* the soundtrack from a file (or --music FILE), before song */
  double start_seconds;          /* where the run begins (or --start S) */
  /* The production's own keys: each key pressed (an SDL 1.2 key symbol, shift 1 while Shift is
   * held) before the layer's; returning 1 takes it from the layer. Null: none */
  int (*key)(struct kroApp *app, int key, int shift);
  /* Set by kroAppStart and kroAppFrame. */
  double seconds;      /* the time of the frame being drawn: 0 at the first */
  long frame;          /* frames begun so far, the one being drawn included */
  long frames;         /* --frames N; 0: until Escape or the window's close */
  const char *shot;    /* --shot FILE, or null */
  int shaders_rebuilt; /* 1 while drawing the first frame after a rebuild that took */
  int sync_reloaded;   /* 1 while drawing the first frame with tracks read again */
  kroSyncTracks sync;  /* the tracks in use: the last good ones read from sync_file */
  int resized;      /* while drawing the first frame at a new window size: 1 in the same GL context,
                       2 in a new one (the production's GL objects are gone); else 0 */
  int status;       /* the exit status so far */
  int paused;       /* 1 while time is held (Space) */
  int sound;        /* 1 while the soundtrack plays on a device */
  int editor_shown; /* 1 while the sync editor is shown (Tab) */
  int help_shown;   /* 1 while the key list is shown (F1, H) */
  int loop_marks;   /* L: 0 no loop, 1 its start marked, 2 looping */
  double loop_start, loop_end; /* seconds: where the loop begins and ends (end: looping only) */
  unsigned mute;               /* the song's muted channels (kroAppMute) */
  float levels[KRO_SYNTH_CHANNELS]; /* each channel's peak (kroSynth.peak) in the last
                                       buffer handed to the device; 0 while paused */
  /* The library's own. */
  int running;
  unsigned long start_ms;
  GLuint context_mark; /* a display list of the current context: gone when the context is new */
  kroShaderWatch watch;
  kroFileStamp sync_stamp; /* sync_file as last read */
  long sync_next_ms;       /* kroNowMs at which sync_file is looked at again */
  double clock_seconds;    /* the picture's time without a device: steps or the clock */
  unsigned long clock_ms;  /* SDL_GetTicks when clock_seconds was last brought up to date */
  int64_t sound_frame;     /* the soundtrack's next frame to the device (under the audio lock) */
  kroMusic music;
  kroSynth synth;
  kroFont text_font;     /* the overlay's glyphs, made on first use in the current context */
  int text_font_ready;   /* 1 once text_font holds them */
  int editor_track;      /* the editor's cursor: a track of sync */
  int editor_dirty;      /* 1 while the tracks hold edits not saved */
  int editor_alert;      /* 1 while editor_status tells of a failure */
  char editor_entry[32]; /* the number being typed */
  char editor_status[KRO_APP_MESSAGE_CHARS]; /* the editor's last word: saved, not saved */
  int64_t loop_frames[2];                    /* the loop's first and end sound frames */
  int16_t *loop_sound; /* its sound, made as it was set: 2 x its frames (under the audio lock) */
} kroApp;

/* Decode a WAV, Ogg Vorbis or FLAC file whole into *music (emptied first): mono is played on
 * both sides, a file at another rate than KRO_SYNTH_RATE is resampled linearly, more than two
 * channels are refused. 0, or -1 after a report naming the file and the reason, *music empty */
int kroLoadMusic(kroMusic *music, const char *path);
/* Free the samples and empty the record; harmless on an empty one */
void kroFreeMusic(kroMusic *music);

/* Take the options (removed from argv), open the window (caption, width x height pixels,
 * double-buffered, a 24-bit depth buffer) and start the engine (kroStartShaders
 * on the current shader folder, failures reported on standard error, the run going on); 1 to
 * run the frame loop, or 0 with app->status the exit status (after --help, a usage error or no
 * window) */
int kroAppStart(kroApp *app, const char *caption, int width, int height, int *argc, char **argv);
/* End the frame drawn since the last call (the shot if it was the last, the buffers swapped),
 * take the events (a new window size: the mode set again, app->resized), rebuild the shaders when a
 * file changed (last-good rule, the reason on standard error); 1 with app->seconds set for the next
 * frame, or 0 when the run is over */
int kroAppFrame(kroApp *app);
/* Picture and sound to `seconds` from the start (0 before it), the sound to the sample */
void kroAppSeek(kroApp *app, double seconds);
/* Play `song` from now on instead of app->song, at the same row and the same share of it (the
 * same frame at an unchanged tempo), what the device played meanwhile counted; the new synth is
 * run up to there outside the audio lock. 0, or -1 after a report (the old song plays on) */
int kroAppSetSong(kroApp *app, const kroSong *song);
/* Silence the song's channels whose bits are set (bit c: channel c), from the next buffer on */
void kroAppMute(kroApp *app, unsigned mask);
/* The named sync track's value at the frame's time (app->seconds); 0 without such a track */
float kroAppSyncValue(const kroApp *app, const char *track);
/* Text over the picture, for a production's own overlay: the engine's 8 x 8 font (ASCII 32..126)
 * in fixed square cells of kroAppTextCell pixels, column 0, row 0 the window's top left cell.
 * kroAppDrawText draws `text` from that cell rightwards in the colour rgba (red, green, blue,
 * alpha 0..1), blended over what is there (a panel from kroAppFillCells keeps it readable); what
 * falls outside the window is cut. Draw after the frame's picture, before kroAppFrame; GL state
 * is left as it was found. The font is in the library: an installed production reads no file */
void kroAppDrawText(kroApp *app, int column, int row, const char *text, const float *rgba);
/* Blend rgba over `columns` x `rows` cells from column, row (a panel, a highlight); GL state is
 * left as it was found */
void kroAppFillCells(const kroApp *app, int column, int row, int columns, int rows,
                     const float *rgba);
/* A text cell's side in pixels: 16 in a window at least KRO_APP_TEXT_LARGE_HEIGHT tall, else 8 */
int kroAppTextCell(const kroApp *app);
/* The whole cells the window holds across and down */
void kroAppTextCells(const kroApp *app, int *columns, int *rows);
/* Stop watching, release the sync tracks and the engine's shaders, close the window; the exit
 * status */
int kroAppEnd(kroApp *app);

#ifdef __cplusplus
}
#endif

#endif /* KROAPP_H */
