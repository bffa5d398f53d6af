/* The two checks a converter makes before it writes an output file. */
#ifndef KAVUTIL_QUESTIONS_H
#define KAVUTIL_QUESTIONS_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* 1 to go ahead: the file does not exist, or the user said yes to "File NAME
   exists, overwrite?" (through the threaded dialog when with_dialog is set,
   else the status window). */
KAV_EXPORT int32_t KAVAPI overwrite(const char *name, int32_t with_dialog);
/* 1 when the two names are different files; else 0 after "Output filename
   must be different than the input filename." */
KAV_EXPORT int32_t KAVAPI CheckForDup(const char *input, const char *output);

KAV_END_DECLS

#endif
