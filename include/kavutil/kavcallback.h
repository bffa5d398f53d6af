/* The status callback that the caller hands to the graphics input, the
   graphics output and the sound input: called with a text and a code (0
   progress, 1 first message of a run, 2 error, 3 the user declined to
   overwrite, with a null text). For progress messages of a frame fetch or a
   palette scan a non-zero low byte of its result cancels the run. */
#ifndef KAVUTIL_KAVCALLBACK_H
#define KAVUTIL_KAVCALLBACK_H

#include "kavutil/kavdefs.h"

KAV_BEGIN_DECLS

typedef uint32_t(KAVAPI *KAVStatusCallback)(const char *text, int32_t code);

KAV_END_DECLS

#endif
