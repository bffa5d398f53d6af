/* The threaded dialog: a small dialog runs on the calling thread while the
   caller's job runs on a second one. */
#ifndef KAVUTIL_DIALOG_H
#define KAVUTIL_DIALOG_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* The dialog's layout, which the program supplies through the instance
   argument of KAVDialogInit. The control with identifier 2 is the Cancel
   button that turns into "&Done"; "&" marks a control's key. */
typedef struct KAVDialogControl {
  int32_t id;
  const char *text;
} KAVDialogControl;

typedef struct KAVDialogTemplate {
  const char *caption;
  int32_t control_count;
  const KAVDialogControl *controls;
} KAVDialogTemplate;

/* The value message boxes get as owner while the dialog exists. */
#define KAV_DIALOG_WINDOW (-3)

/* The message the job's end posts to the dialog. */
#define KAV_DIALOG_JOB_ENDED 0x8C88

/* 0: the job completed, wait for the user; nonzero: close by itself. */
typedef int32_t(KAVAPI *KAVDialogJob)(int32_t user_value, void *dialog);
/* Nonzero keeps the dialog open. */
typedef int32_t(KAVAPI *KAVDialogControlCallback)(int32_t command, void *dialog);
typedef void(KAVAPI *KAVDialogTimerCallback)(void *dialog);

/* Shows the dialog (template from instance; null gives the program's name as
   caption and one "&Cancel" button), runs job on a second thread and the
   dialog until it is destroyed; returns the job's result (1 if the dialog
   ended first, 0 if it could not be created). */
KAV_EXPORT int32_t KAVAPI KAVDialogInit(const void *instance, KavWindow parent, int32_t user_value, int32_t show_command,
                                        int32_t auto_close, KAVDialogJob job, KAVDialogControlCallback control);
/* 1 Yes, 0 No, 2 otherwise. Style 0x20 adds Cancel; style & 0x1F: 0 makes the
   second button the default, 2 the third, anything else the first. */
KAV_EXPORT int32_t KAVAPI KAVDialogAsk(const char *text, int32_t style);
/* 0 OK, 2 otherwise. Style 0x20 adds Cancel; style & 0x1F == 2 makes it the
   default. */
KAV_EXPORT int32_t KAVAPI KAVDialogMessage(const char *text, int32_t style);
/* Calls timer every period_ms on the dialog's thread; 1 when set. */
KAV_EXPORT int32_t KAVAPI KAVDialogSetTimer(KAVDialogTimerCallback timer, uint32_t period_ms);

KAV_END_DECLS

#endif
