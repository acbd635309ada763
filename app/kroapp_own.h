/*
 * What the application layer's sources share beyond kroapp.h.
 * Depends on: kroapp.h.
 */
#ifndef KROAPP_OWN_H
#define KROAPP_OWN_H

#include "kroapp.h"

/* Release the overlay font; with context_gone its textures went with the old context and only
 * the array is freed (their names may already belong to the production in the new one). */
void kroAppCloseText(kroApp *app, int context_gone);

/* Time moved to `seconds` (from 0), picture and sound together */
void kroAppSeek(kroApp *app, double seconds);
/* A key (an SDLKey; shift: 1 with Shift held) for the key list or the sync editor; 1 when it
 * was theirs, 0 to pass it on to the keys that hold time */
int kroAppEditorKey(kroApp *app, int key, int shift);
/* The sync editor and the key list over the picture, those of them shown */
void kroAppDrawEditor(kroApp *app);

#endif /* KROAPP_OWN_H */
