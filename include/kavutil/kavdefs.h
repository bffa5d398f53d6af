/* Common definitions of the kavutil C interface: calling convention, export
   marker, the operating-system file type and the size of name buffers. */
#ifndef KAVUTIL_KAVDEFS_H
#define KAVUTIL_KAVDEFS_H

#include <stddef.h>
#include <stdint.h>

/* Calling convention of every exported function: the callee removes the
   arguments on 32-bit Windows; elsewhere the platform's own convention. */
#if defined(_WIN32) && !defined(_WIN64)
#  define KAVAPI __stdcall
#else
#  define KAVAPI
#endif

/* Marks a declaration as part of the library's exported surface. */
#if defined(_WIN32)
#  if defined(KAV_BUILDING_LIBRARY)
#    define KAV_EXPORT __declspec(dllexport)
#  else
#    define KAV_EXPORT
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define KAV_EXPORT __attribute__((visibility("default")))
#else
#  define KAV_EXPORT
#endif

#ifdef __cplusplus
#  define KAV_BEGIN_DECLS extern "C" {
#  define KAV_END_DECLS }
#else
#  define KAV_BEGIN_DECLS
#  define KAV_END_DECLS
#endif

/* An operating-system file: a file descriptor on POSIX. */
typedef int KavOsFile;
#define KAV_INVALID_OS_FILE (-1)

/* A window given to the library as an owner. On POSIX it is a file
   descriptor of the front end; a negative value means no window. */
typedef int KavWindow;
#define KAV_NO_WINDOW (-1)

/* Capacity of every name field and name buffer, terminator included. A name
   that does not fit is refused, never truncated. */
#if defined(_WIN32)
#  define KAV_NAME_MAX 128
#else
#  define KAV_NAME_MAX 1024
#endif

#endif
