/*
 * The sync editor (Tab) and the key list (F1, H) of the application layer:
 * the tracks in use (app->sync) as columns against the rows around the
 * frame's time, edited in place, so that kroAppSyncValue gives an edit's value
 * on the next frame, and written back to the track file with
 * kroWriteSyncTracks (replaced whole, or left as it was after a failure).
 * The cursor's row is the row playing: Up and Down move time by one row.
 * Depends on: kro (sync tracks, output files), SDL 1.2 (key codes), GL.
 */
#include "kroapp_own.h"

#include "../kro/kro_internal.h"

#include <SDL/SDL.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
  KRO_APP_ROW_LABEL = 6,   /* cells of the row numbers' column */
  KRO_APP_TRACK_CELLS = 10 /* cells of one track's column */
};

static const float KRO_APP_PANEL[4] = {0.0f, 0.0f, 0.0f, 0.7f};
static const float KRO_APP_NOW[4] = {1.0f, 1.0f, 1.0f, 0.16f};     /* the row playing */
static const float KRO_APP_CURSOR[4] = {1.0f, 0.75f, 0.2f, 0.45f}; /* the cursor's cell */
static const float KRO_APP_PLAIN[4] = {0.75f, 0.75f, 0.75f, 1.0f};
static const float KRO_APP_FAINT[4] = {0.45f, 0.45f, 0.5f, 1.0f};
static const float KRO_APP_ALERT[4] = {1.0f, 0.45f, 0.35f, 1.0f};
/* A key's value in the colour of its interpolation, the mark after it the same. */
static const float KRO_APP_KEY_COLOURS[KRO_SYNC_INTERPOLATIONS][4] = {{1.0f, 1.0f, 1.0f, 1.0f},
                                                                      {0.4f, 0.85f, 1.0f, 1.0f},
                                                                      {0.5f, 1.0f, 0.5f, 1.0f},
                                                                      {1.0f, 0.7f, 0.3f, 1.0f}};
static const char KRO_APP_KEY_MARKS[KRO_SYNC_INTERPOLATIONS + 1] = "-/~^";

/* Every key of the application layer, for the key list: at most 48 characters a line, so that
 * it fits an 800-pixel window in 16-pixel cells. */
static const char *const KRO_APP_KEY_LINES[] = {
    "Escape       end the run",
    "Space        pause / resume, picture and sound",
    "Left, Right  a beat back / forward",
    "PgUp, PgDn   a bar back / forward",
    "Home         the start",
    "L            mark a bar's start; again: its",
    "             end, looping; again: no loop",
    "F1, H        this list",
    "Tab          the sync editor (with --sync):",
    " Up, Down    a row back / forward",
    " Left, Right a track; with Shift a beat",
    " 0-9 . -     a value; Enter sets a key there",
    " Backspace   the last character typed",
    " Escape      drops what was typed",
    " I           step/linear/smooth/ramp, in turn",
    " Delete      removes the key there",
    " S           saves the track file",
    "Keys: - step  / linear  ~ smooth  ^ ramp",
};

/* The editor's last word, in the alert colour for a failure. */
static void kroAppStatus(kroApp *app, int alert, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
static void kroAppStatus(kroApp *app, int alert, const char *format, ...) {
  va_list list;
  va_start(list, format);
  vsnprintf(app->editor_status, sizeof app->editor_status, format, list);
  va_end(list);
  app->editor_alert = alert;
}

/* The row playing: whole rows, a sound position rounded to a frame still in its row. */
static long kroAppRowNow(const kroApp *app) {
  return (long)floor(kroSyncRow(&app->sync, app->seconds) + 1e-3);
}

/* The first key of `track` at `row` or after it (count when none). */
static int kroAppKeyFrom(const kroSyncTrack *track, long row) {
  int low = 0, high = track->count;
  while (low < high) {
    int middle = (low + high) / 2;
    if (track->keys[middle].row < row)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

/* The cursor's track, or null when there are no tracks. */
static kroSyncTrack *kroAppCursorTrack(kroApp *app) {
  if (app->sync.count < 1)
    return nullptr;
  if (app->editor_track >= app->sync.count)
    app->editor_track = app->sync.count - 1;
  return &app->sync.tracks[app->editor_track < 0 ? 0 : app->editor_track];
}

/* The key at the cursor (track and row playing), or null with the reason in the status line. */
static kroSyncKey *kroAppCursorKey(kroApp *app) {
  kroSyncTrack *track = kroAppCursorTrack(app);
  long row = kroAppRowNow(app);
  int at = track ? kroAppKeyFrom(track, row) : 0;
  if (track && at < track->count && track->keys[at].row == row)
    return &track->keys[at];
  kroAppStatus(app, 1, "no key at row %ld", row);
  return nullptr;
}

/* The typed number as a key at the cursor: a key there takes the value, else a new one comes in
 * with the interpolation of the key before it (step when there is none). */
static void kroAppSetKey(kroApp *app) {
  kroSyncTrack *track = kroAppCursorTrack(app);
  char *end = nullptr;
  float value = strtof(app->editor_entry, &end);
  long row = kroAppRowNow(app);
  if (!track || !app->editor_entry[0] || *end || !isfinite(value) || row > KRO_SYNC_MAX_ROW) {
    kroAppStatus(app, 1, "no key set: '%s' at row %ld", app->editor_entry, row);
    app->editor_entry[0] = '\0';
    return;
  }
  app->editor_entry[0] = '\0';
  int at = kroAppKeyFrom(track, row);
  if (at < track->count && track->keys[at].row == row) {
    track->keys[at].value = value;
    app->editor_dirty = 1;
    return;
  }
  if (track->count == track->capacity) {
    int32_t grown = track->capacity ? 2 * track->capacity : 8;
    kroSyncKey *keys = (kroSyncKey *)kroAllocate(sizeof(kroSyncKey) * (size_t)grown);
    if (!keys) {
      kroFail("Error during allocating memory for a sync key\n");
      kroAppStatus(app, 1, "no key set: out of memory");
      return;
    }
    if (track->count > 0)
      memcpy(keys, track->keys, sizeof(kroSyncKey) * (size_t)track->count);
    free(track->keys);
    track->keys = keys;
    track->capacity = grown;
  }
  memmove(&track->keys[at + 1], &track->keys[at], sizeof(kroSyncKey) * (size_t)(track->count - at));
  track->keys[at].row = (int32_t)row;
  track->keys[at].value = value;
  track->keys[at].interpolation = at > 0 ? track->keys[at - 1].interpolation : KRO_SYNC_STEP;
  track->count++;
  app->editor_dirty = 1;
}

static void kroAppKeepSaveMessage(const char *message, void *user) {
  snprintf((char *)user, KRO_APP_MESSAGE_CHARS, "%.*s", (int)strcspn(message, "\n"), message);
}

/* The tracks in use written over the track file. After a failure the file is as it was and the
 * reason goes to the status line and standard error. */
static void kroAppSave(kroApp *app) {
  char reason[KRO_APP_MESSAGE_CHARS] = "";
  kroSetErrorMessageFunc(kroAppKeepSaveMessage, reason);
  int failed = kroWriteSyncTracks(&app->sync, app->sync_file);
  kroSetErrorMessageFunc(nullptr, nullptr);
  if (failed) {
    kroAppStatus(app, 1, "NOT SAVED: %s", reason);
    fprintf(stderr, "%s: the sync tracks were not saved (%s); %s is as it was\n",
            app->caption ? app->caption : "kroapp", reason, app->sync_file);
    return;
  }
  kroStampFile(app->sync_file, &app->sync_stamp); /* its own writing is not read again */
  app->editor_dirty = 0;
  kroAppStatus(app, 0, "saved %s", app->sync_file);
}

/* A key typed while the editor is shown; 1 when the editor took it. */
static int kroAppEditKey(kroApp *app, int key, int shift) {
  size_t typed = strlen(app->editor_entry);
  if (app->sync.tempo <= 0) /* the file never read: no rows */
    return 0;
  if ((key >= SDLK_0 && key <= SDLK_9) || (key >= SDLK_KP0 && key <= SDLK_KP9) ||
      key == SDLK_PERIOD || key == SDLK_KP_PERIOD || key == SDLK_MINUS || key == SDLK_KP_MINUS) {
    char c = key >= SDLK_KP0 && key <= SDLK_KP9 ? (char)('0' + key - SDLK_KP0)
             : key == SDLK_KP_PERIOD            ? '.'
             : key == SDLK_KP_MINUS             ? '-'
                                                : (char)key;
    if (typed + 1 < sizeof app->editor_entry) {
      app->editor_entry[typed] = c;
      app->editor_entry[typed + 1] = '\0';
    }
  } else if (key == SDLK_BACKSPACE) {
    if (typed > 0)
      app->editor_entry[typed - 1] = '\0';
  } else if (key == SDLK_ESCAPE && typed > 0) {
    app->editor_entry[0] = '\0';
  } else if (key == SDLK_RETURN || key == SDLK_KP_ENTER) {
    kroAppSetKey(app);
  } else if (key == SDLK_i) {
    kroSyncKey *at = kroAppCursorKey(app);
    if (at) {
      at->interpolation = (at->interpolation + 1) % KRO_SYNC_INTERPOLATIONS;
      app->editor_dirty = 1;
    }
  } else if (key == SDLK_DELETE) {
    kroSyncTrack *track = kroAppCursorTrack(app);
    kroSyncKey *at = kroAppCursorKey(app);
    if (at) {
      memmove(at, at + 1, sizeof(kroSyncKey) * (size_t)(track->keys + track->count - at - 1));
      track->count--;
      app->editor_dirty = 1;
    }
  } else if (key == SDLK_s) {
    kroAppSave(app);
  } else if ((key == SDLK_LEFT || key == SDLK_RIGHT) && !shift) {
    int last = app->sync.count - 1, moved = app->editor_track + (key == SDLK_LEFT ? -1 : 1);
    app->editor_track = moved < 0 ? 0 : moved > last ? (last < 0 ? 0 : last) : moved;
  } else if (key == SDLK_UP || key == SDLK_DOWN) {
    long row = kroAppRowNow(app) + (key == SDLK_UP ? -1 : 1);
    kroAppSeek(app, row * 60.0 / (app->sync.tempo * app->sync.rows_per_beat));
  } else {
    return 0;
  }
  return 1;
}

int kroAppEditorKey(kroApp *app, int key, int shift) {
  if (key == SDLK_F1 || key == SDLK_h) {
    app->help_shown = !app->help_shown;
    return 1;
  }
  if (key == SDLK_TAB && app->sync_file) {
    app->editor_shown = !app->editor_shown;
    app->editor_entry[0] = '\0';
    return 1;
  }
  return app->editor_shown && kroAppEditKey(app, key, shift);
}

/* One track's cell of a row: the key's value and its interpolation's mark, a dot on a beat's
 * first row, else nothing. */
static void kroAppDrawCell(kroApp *app, const kroSyncTrack *track, int at, long row, int column,
                           int line) {
  char text[KRO_APP_TRACK_CELLS + 8];
  if (at < track->count && track->keys[at].row == row) {
    int how = track->keys[at].interpolation;
    how = how >= 0 && how < KRO_SYNC_INTERPOLATIONS ? how : 0;
    snprintf(text, sizeof text, "%8.4g%c", track->keys[at].value, KRO_APP_KEY_MARKS[how]);
    kroAppDrawText(app, column, line, text, KRO_APP_KEY_COLOURS[how]);
  } else if (row % app->sync.rows_per_beat == 0) {
    kroAppDrawText(app, column + KRO_APP_TRACK_CELLS - 3, line, ".", KRO_APP_FAINT);
  }
}

/* The tracks around the row playing, a title line above, the entry or the status line below. */
static void kroAppDrawTracks(kroApp *app, int columns, int lines) {
  int shown = (columns - KRO_APP_ROW_LABEL) / KRO_APP_TRACK_CELLS;
  shown = shown < 1 ? 1 : shown > app->sync.count ? app->sync.count : shown;
  int first = app->editor_track < shown ? 0 : app->editor_track - shown + 1;
  int rows = lines - 3, width = KRO_APP_ROW_LABEL + shown * KRO_APP_TRACK_CELLS;
  long now = kroAppRowNow(app), top = now - rows / 2;
  char text[KRO_APP_MESSAGE_CHARS + 32];
  kroAppFillCells(app, 0, 0, width, lines, KRO_APP_PANEL);
  snprintf(text, sizeof text, "row %ld %.3fs%s%s%s", now, app->seconds,
           app->paused ? " paused" : "", app->loop_marks == 2 ? " loop" : "",
           app->editor_dirty ? " *" : "");
  kroAppDrawText(app, 0, 0, text, KRO_APP_PLAIN);
  for (int t = first; t < first + shown && t < app->sync.count; t++) {
    snprintf(text, sizeof text, "%9.9s", app->sync.tracks[t].name);
    kroAppDrawText(app, KRO_APP_ROW_LABEL + (t - first) * KRO_APP_TRACK_CELLS, 1, text,
                   KRO_APP_PLAIN);
  }
  if (app->sync.count == 0)
    kroAppDrawText(app, KRO_APP_ROW_LABEL, 1, "no tracks", KRO_APP_ALERT);
  kroAppFillCells(app, 0, 2 + (int)(now - top), width, 1, KRO_APP_NOW);
  if (app->sync.count > 0)
    kroAppFillCells(app, KRO_APP_ROW_LABEL + (app->editor_track - first) * KRO_APP_TRACK_CELLS,
                    2 + (int)(now - top), KRO_APP_TRACK_CELLS, 1, KRO_APP_CURSOR);
  for (int t = first; t < first + shown && t < app->sync.count; t++) {
    const kroSyncTrack *track = &app->sync.tracks[t];
    int at = kroAppKeyFrom(track, top);
    for (long row = top; row < top + rows; row++) {
      while (at < track->count && track->keys[at].row < row)
        at++;
      if (row >= 0)
        kroAppDrawCell(app, track, at, row, KRO_APP_ROW_LABEL + (t - first) * KRO_APP_TRACK_CELLS,
                       2 + (int)(row - top));
    }
  }
  for (long row = top; row < top + rows; row++) {
    snprintf(text, sizeof text, "%5ld", row);
    if (row >= 0)
      kroAppDrawText(app, 0, 2 + (int)(row - top), text, KRO_APP_FAINT);
  }
  if (app->editor_entry[0])
    snprintf(text, sizeof text, "value: %s_", app->editor_entry);
  else
    snprintf(text, sizeof text, "%s", app->editor_status[0] ? app->editor_status : "F1: keys");
  kroAppDrawText(app, 0, lines - 1, text,
                 app->editor_alert && !app->editor_entry[0] ? KRO_APP_ALERT : KRO_APP_PLAIN);
}

void kroAppDrawEditor(kroApp *app) {
  int columns, lines;
  kroAppTextCells(app, &columns, &lines);
  if (app->editor_shown && app->sync.tempo <= 0) {
    kroAppFillCells(app, 0, 0, columns, 1, KRO_APP_PANEL);
    kroAppDrawText(app, 0, 0, "no sync tracks have been read", KRO_APP_ALERT);
  } else if (app->editor_shown && lines > 4) {
    kroAppDrawTracks(app, columns, lines);
  }
  if (app->help_shown) {
    int count = (int)(sizeof KRO_APP_KEY_LINES / sizeof KRO_APP_KEY_LINES[0]), left = 1, top = 1;
    kroAppFillCells(app, left - 1, top - 1, 50, count + 2, KRO_APP_PANEL);
    for (int i = 0; i < count; i++)
      kroAppDrawText(app, left, top + i, KRO_APP_KEY_LINES[i], KRO_APP_PLAIN);
  }
}
