/* AVI file access: the one-time start-up of the AVI file layer. */
#ifndef KAVUTIL_AVI_H
#define KAVUTIL_AVI_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* Initialises the AVI file layer the first time it is called; later calls
   do nothing. Every AVI reader and writer of the library calls it first. */
KAV_EXPORT void KAVAPI KAVAVIInit(void);

KAV_END_DECLS

#endif
