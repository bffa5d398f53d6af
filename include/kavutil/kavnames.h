/* File-name helpers, temporary names, file size, log lines, elapsed-time
   wording and the millisecond timer. Name buffers hold KAV_NAME_MAX bytes. */
#ifndef KAVUTIL_KAVNAMES_H
#define KAVUTIL_KAVNAMES_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* Address of the "." that starts the extension, or null. Both "/" and "\"
   separate directories. */
KAV_EXPORT char *KAVAPI HasExtension(const char *name);
/* Replaces the name (a KAV_NAME_MAX buffer) by its absolute, normalised path;
   the file need not exist. 1 done; 0 when the path would not fit, the name
   then stays as it was. */
KAV_EXPORT int32_t KAVAPI ExpandFileName(char *name);
/* 1 when the path names an existing directory. The path is left expanded;
   with stay set, the process moves into that directory. */
KAV_EXPORT int32_t KAVAPI IsDirectory(char *path, int32_t stay);
/* Replaces the path by the pieces asked for, in the order drive, folder,
   file name, extension. A directory yields no file name or extension. */
KAV_EXPORT void KAVAPI GetFilePieces(char *path, int32_t drive, int32_t folder, int32_t name, int32_t extension);
/* Upper-case drive letter of the expanded name; 0 where there are none. */
KAV_EXPORT int32_t KAVAPI GetDrive(char *name);
/* folder + an 8.3 name made of prefix and number, as "KVGFEDCB.AAA". */
KAV_EXPORT char *KAVAPI GetTempName(char *dest, const char *folder, const char *prefix, uint32_t number);
/* Size in bytes (0 when it cannot be opened); 4 GiB or more gives 0xFFFFFFFF. */
KAV_EXPORT uint32_t KAVAPI kavfilesize(const char *name);
/* Appends the text, without a line end, to the file (created if missing). */
KAV_EXPORT void KAVAPI LogString(const char *file, const char *text);
/* "2 minutes 5 seconds"; dest holds at least 64 bytes. */
KAV_EXPORT char *KAVAPI GetElapsedTime(char *dest, uint32_t milliseconds);
/* Milliseconds since the first call. */
KAV_EXPORT uint32_t KAVAPI KAVTimerRead(void);

KAV_END_DECLS

#endif
