/* The status window: one progress window per process with a caption, a
   status line, a second line and a Cancel button, plus the message boxes and
   questions it owns. Call every function from the thread that opened it. */
#ifndef KAVUTIL_STATUS_H
#define KAVUTIL_STATUS_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* The value StatusGetHWND gives for the status window itself while it is
   shown (owner windows are descriptors, so it can be no descriptor). */
#define KAV_STATUS_WINDOW (-2)

/* The identifier of the closing record sent to the owner. */
#define KAV_STATUS_RECORD_TAG 0x1234

typedef void(KAVAPI *KAVStatusCancel)(void);

/* Stores the module instance (its low 16 bits name the window class), the
   owner window (a descriptor that receives the closing record, or
   KAV_NO_WINDOW) and the no-wait flag; returns the instance. */
KAV_EXPORT void *KAVAPI StatusInit(void *instance, KavWindow owner, int32_t no_wait);
/* Creates the window, hidden until the first StatusSet. 1 done, 0 failed. */
KAV_EXPORT int32_t KAVAPI StatusOpen(const char *caption, const char *second_line, KAVStatusCancel cancel);
KAV_EXPORT void KAVAPI StatusSet(const char *status);
/* Handles what the user did; nonzero once the quit message was seen. */
KAV_EXPORT int32_t KAVAPI StatusCheck(void);
KAV_EXPORT int32_t KAVAPI StatusMessage(const char *text, int32_t error);
KAV_EXPORT int32_t KAVAPI StatusMessageTitle(const char *text, const char *caption, int32_t error);
/* 1 for Yes, 0 for No; with default_no set, No is the default answer. */
KAV_EXPORT int32_t KAVAPI StatusAsk(const char *question, int32_t default_no);
/* A cancel request: asks "Do you want to cancel?" unless already cancelled;
   returns the cancelled flag. */
KAV_EXPORT int32_t KAVAPI StatusDoCancel(void);
KAV_EXPORT KavWindow KAVAPI StatusGetHWND(void);
/* Sends the closing record to the owner and ends the window; with wait set
   (and the window shown, and no-wait clear) first waits for "&Done". */
KAV_EXPORT int32_t KAVAPI StatusClose(int32_t wait);

KAV_END_DECLS

#endif
