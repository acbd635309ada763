// The intro scene: one per-frame entry that builds everything on its first
// call, draws the logo word and the 32 flying digits until second 14, then
// releases what it built. Also the scene's drawing helpers and its embedded
// bump-mapping shader texts.
#ifndef ZKINTRO_H
#define ZKINTRO_H

#include "kro.h"

// Draws the frame for `seconds` since start (nothing from 14.0 on), with the
// view's width / height `aspect`. Builds on the first call, whatever `seconds`;
// the first call at 14.0 or later releases the scene for good.
void zkIntro(float aspect, float seconds);

// After the window's mode was set again: when the current GL context no longer
// has the scene's lists (a new context), the scene is dropped and the next call
// builds it again; a kept context, or a scene not built or released, is left.
void zkIntroRestore(void);

// Planar texture coordinates for triangles 0..count-1: s and t run from 0 to
// 1 across the logo word's bounding box in its final place (z is ignored).
void calculateTexCoords(kroObject positions, kroObject texcoords, int count);

// One GL_TRIANGLES block: per vertex the normal, texture unit 0's coordinates
// and the position.
void zkDrawObject(kroObject positions, kroObject normals, kroObject texcoords, int count);

// The bump-mapping program's sources, one line each.
extern const char zk_vertex_text[];
extern const char zk_fragment_text[];

enum { ZK_FLYER_COUNT = 32 }; // flyers 0..15 land in the upper row, 16..31 in the lower

// The second at which flyer 0..ZK_FLYER_COUNT-1 reaches its row (one second
// after it leaves), as the frame loop compares it.
float zkFlyerLanding(int flyer);

// The digit flyer 0..ZK_FLYER_COUNT-1 shows: 0 or 1.
int zkFlyerBit(int flyer);

// What the scene holds, for tools and tests: its GL names and how far along
// its life it is. All zero before the first call.
typedef struct zkIntroState {
  int init;                                               // 1 once the first-call build has run
  int destroy;                                            // 1 once the tear-down has run
  GLuint specular_map, bump_map;                          // texture names
  GLuint drawing_list0, drawing_list1, drawing_list_text; // display-list names
  GLhandleARB program;                                    // the bump-mapping program
  int arrays_held;                                        // non-null mesh arrays (44 when built)
} zkIntroState;

void zkIntroGetState(zkIntroState *state);

#endif
