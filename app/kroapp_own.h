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

#endif /* KROAPP_OWN_H */
