// krotool: command-line front end to the engine's content pipeline.
// Each subcommand takes the arguments after its name and returns the exit status.
#ifndef KROTOOL_H
#define KROTOOL_H

#include <stdio.h>

// Engine output while a subcommand runs the engine (krotool.cpp): between
// begin and end, the engine's messages go to standard error, so that they
// never mix with what the tool writes on standard output, and each failure
// is counted; the last message is kept.
extern int krotoolEngineFailures;
extern char krotoolEngineMessage[256]; // the last failure message, without its line end
int krotoolEngineBegin(void);          // returns what krotoolEngineEnd needs
void krotoolEngineEnd(int saved);

// Why `path` cannot be read as a file: the system's reason, or "a folder, not
// a file"; null when it can.
const char *krotoolUnreadableFile(const char *path);
// 1 when name is a C identifier (letters, digits, _; not a digit first).
int krotoolIsCName(const char *name);
// Where a command's closing summary goes: standard error when its output file is standard
// output itself (the summary must not end up inside the file), else standard output.
FILE *krotoolSummaryStream(const char *out_path);

// ASE pipeline (krotool_ase.cpp)
int krotoolMeshSrc(int argc, char **argv); // mesh-src FILE.ase (NAME... | --auto) [options]
int krotoolAseInfo(int argc, char **argv); // ase-info FILE.ase
// Scenes of any format (krotool_scene.cpp)
int krotoolSceneInfo(int argc, char **argv); // scene-info FILE

// Images and fonts (krotool_image.cpp)
int krotoolImageInfo(int argc, char **argv); // image-info FILE
int krotoolBmpResize(int argc, char **argv); // bmp-resize IN OUT.bmp WIDTH HEIGHT
int krotoolFontBuild(int argc, char **argv); // font-build DIR WIDTH HEIGHT OUT.krof [THRESHOLD]
int krotoolFontInfo(int argc, char **argv);  // font-info FILE.krof

// PNG check (krotool_png.cpp)
int krotoolPngInfo(int argc, char **argv); // png-info FILE.png

// Sound (krotool_sound.cpp)
int krotoolSongWav(int argc, char **argv); // song-wav OUT.wav
int krotoolSongSrc(int argc, char **argv); // song-src FILE.song NAME [--include H] [-o OUT]

// MIDI import (krotool_midi.cpp)
int krotoolMidiSong(int argc, char **argv); // midi-song FILE.mid [-o OUT.song] [options]

// Sync tracks (krotool_sync.cpp)
int krotoolSyncSrc(int argc, char **argv); // sync-src FILE.sync NAME [-o OUT.cpp]

#endif
