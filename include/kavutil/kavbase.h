/* Memory, in-place string editing, command-line switches, numbers, and
   sending a data record to an owner window. */
#ifndef KAVUTIL_KAVBASE_H
#define KAVUTIL_KAVBASE_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* --- Memory ------------------------------------------------------------ */

/* A 32-byte aligned block, or null. 0 and 0xFFFFFFFF give null silently; a
   failed allocation tells the user "Error: ran out of memory!" first. */
KAV_EXPORT void *KAVAPI kavmalloc(uint32_t size);
/* Frees a block from kavmalloc; null is ignored. */
KAV_EXPORT void KAVAPI kavfree(void *block);

/* --- String editing (every function edits its argument in place) -------- */

/* A byte is a blank when, read as a signed byte, it is at most 32: the
   control characters, the space, and every byte from 0x80 to 0xFF. */
KAV_EXPORT void KAVAPI Trim(char *text);
KAV_EXPORT void KAVAPI TrimAscii(char *text);
KAV_EXPORT void KAVAPI TrimL(char *text);
/* Moves the first blank-delimited token (and a comma that follows it) into
   dest, which must hold strlen(text) + 1 bytes. */
KAV_EXPORT void KAVAPI GetAndRemoveFirst(char *dest, char *text);
/* As GetAndRemoveFirst, but a token may be enclosed in double quotes. */
KAV_EXPORT void KAVAPI GetAndRemoveFirstQuoted(char *dest, char *text);
KAV_EXPORT void KAVAPI RemoveQuotes(char *text);
/* Trims, then appends the directory separator unless the path is empty or
   already ends in one. The buffer must have room for one more byte. */
KAV_EXPORT void KAVAPI AddBackslash(char *path);
KAV_EXPORT char *KAVAPI findchar(const char *text, int character);

/* --- Switches: "/" and one letter, value directly after the letter ------ */

/* dest of GetSwitchStr must hold strlen(cmdline) + 1 bytes, and at least
   strlen(default_text) + 1. */
KAV_EXPORT int32_t KAVAPI GetSwitch(char *cmdline, int letter);
KAV_EXPORT int32_t KAVAPI GetSwitchStr(char *cmdline, int letter, char *dest, const char *default_text);
KAV_EXPORT int32_t KAVAPI GetSwitchNum(char *cmdline, int letter, int32_t default_value);
KAV_EXPORT void KAVAPI GetSwitchFractional(char *cmdline, int letter, int32_t *numerator, int32_t *denominator,
                                           int32_t default_numerator, int32_t default_denominator);
KAV_EXPORT void KAVAPI RemoveMinusSwitches(char *cmdline);

/* --- Numbers ------------------------------------------------------------ */

/* Parses a rational such as "29.97" or "30;1.001" (";" divides); returns the
   first character not consumed. The denominator is never 0. */
KAV_EXPORT const char *KAVAPI atofr(const char *text, int32_t *numerator, int32_t *denominator);
/* Reduces the pair by their greatest common divisor, both read as unsigned. */
KAV_EXPORT void KAVAPI GCDNums(uint32_t *numerator, uint32_t *denominator);
/* Writes value in decimal (at most 12 bytes); returns the terminating NUL. */
KAV_EXPORT char *KAVAPI u32toa(char *dest, int32_t value);
KAV_EXPORT int32_t KAVAPI atou32(const char *text);
/* Decimal with thousands commas, "1,234,567" (at most 14 bytes). */
KAV_EXPORT void KAVAPI CommaNum(char *dest, uint32_t value);
/* Frame period in 10-microsecond units from a rate: frames per second when
   positive, milliseconds per frame from -1500 to -1, else 10-us units. */
KAV_EXPORT int32_t KAVAPI MakeFrameRate(int32_t rate);

/* --- Messages to another window ---------------------------------------- */

/* Writes one framed record to the owner: sender, tag and size as 32-bit
   little-endian words, then the data. 1 when the whole record was written. */
KAV_EXPORT int32_t KAVAPI CopyData(KavWindow target, uint32_t sender, uint32_t tag, uint32_t size, const void *data);

KAV_END_DECLS

#endif
