/* KAVFile: the library's buffered file, readable and writable bytewise and
   bitwise (least significant bit first), with a freely movable position. */
#ifndef KAVUTIL_KAVFILE_H
#define KAVUTIL_KAVFILE_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

typedef struct KAVFile KAVFile;

/* Access codes of KAVFileOpen. */
#define KAV_FILE_READ 250
#define KAV_FILE_READWRITE 251

/* The buffer holds |buffer_size| bytes and is allocated on first use; 0
   means unbuffered. Names longer than KAV_NAME_MAX - 1 are refused, and so
   are files of 4 GiB or more. */
KAV_EXPORT KAVFile *KAVAPI KAVFileOpen(int32_t buffer_size, const char *name, int32_t access);
/* Creates (or empties) the file; other processes may not create it
   meanwhile. */
KAV_EXPORT KAVFile *KAVAPI KAVFileCreate(int32_t buffer_size, const char *name);
/* As KAVFileCreate, letting other processes read the file meanwhile. */
KAV_EXPORT KAVFile *KAVAPI KAVFileCreateWithRead(int32_t buffer_size, const char *name);
KAV_EXPORT void KAVAPI KAVFileClose(KAVFile *file);

KAV_EXPORT uint32_t KAVAPI KAVFileGetPos(KAVFile *file);
/* Returns the position before the move. */
KAV_EXPORT uint32_t KAVAPI KAVFileSetPos(KAVFile *file, uint32_t position);
KAV_EXPORT uint32_t KAVAPI KAVFileBitPos(KAVFile *file);
KAV_EXPORT uint32_t KAVAPI KAVFileSize(KAVFile *file);
KAV_EXPORT int32_t KAVAPI KAVFileAtEnd(KAVFile *file);
KAV_EXPORT int32_t KAVAPI KAVFileIsInBuffer(KAVFile *file, uint32_t position);
KAV_EXPORT void KAVAPI KAVFileByteAlign(KAVFile *file);
KAV_EXPORT void KAVAPI KAVFileAlign(KAVFile *file, uint32_t multiple);
KAV_EXPORT void KAVAPI KAVFileFlush(KAVFile *file, int32_t hard);

KAV_EXPORT uint32_t KAVAPI KAVFileGetNB(KAVFile *file, void *dest, uint32_t count);
KAV_EXPORT uint32_t KAVAPI KAVFileGet(KAVFile *file, void *dest, uint32_t count);
KAV_EXPORT uint32_t KAVAPI KAVFileGet8(KAVFile *file);
KAV_EXPORT uint32_t KAVAPI KAVFileGet16(KAVFile *file);
KAV_EXPORT uint32_t KAVAPI KAVFileGet32(KAVFile *file);
KAV_EXPORT uint32_t KAVAPI KAVFileGetBits(KAVFile *file, uint32_t bits);

KAV_EXPORT uint32_t KAVAPI KAVFilePutNB(KAVFile *file, const void *source, uint32_t count);
KAV_EXPORT uint32_t KAVAPI KAVFilePut(KAVFile *file, const void *source, uint32_t count);
KAV_EXPORT void KAVAPI KAVFilePut8(KAVFile *file, uint32_t value);
KAV_EXPORT void KAVAPI KAVFilePut16(KAVFile *file, uint32_t value);
KAV_EXPORT void KAVAPI KAVFilePut32(KAVFile *file, uint32_t value);
KAV_EXPORT void KAVAPI KAVFilePutBits(KAVFile *file, uint32_t value, uint32_t bits);

/* The stored name; copied to dest (KAV_NAME_MAX bytes) when dest is given. */
KAV_EXPORT const char *KAVAPI KAVFileGetName(KAVFile *file, char *dest);
/* Reads one line of at most capacity - 1 bytes, without its line end. */
KAV_EXPORT char *KAVAPI KAVFileGetLine(KAVFile *file, char *dest, uint32_t capacity);
/* High 32 bits of the last-write time as a Windows file time. */
KAV_EXPORT uint32_t KAVAPI KAVFileGetTime(KAVFile *file);
KAV_EXPORT void KAVAPI KAVFileSetTime(KAVFile *file, uint32_t time_high);
/* 1 when a write since the file was opened fell short. */
KAV_EXPORT int32_t KAVAPI KAVFileWriteError(KAVFile *file);

/* 0 done, 1 no such file, 2 other failure. */
KAV_EXPORT int32_t KAVAPI KAVFileErase(const char *name);
KAV_EXPORT int32_t KAVAPI KAVFileRename(const char *new_name, const char *existing_name);

KAV_END_DECLS

#endif
