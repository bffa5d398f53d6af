/* The whole kavutil C interface. */
#ifndef KAVUTIL_KAVUTIL_H
#define KAVUTIL_KAVUTIL_H

#include "kavdefs.h"
#include "kavutil/version.h"
#include "kavbase.h"
#include "kavnames.h"
#include "kavfile.h"
#include "status.h"
#include "dialog.h"
#include "questions.h"
#include "flic.h"
#include "huffman.h"
#include "zanther.h"
#include "avi.h"
#include "quicktime.h"
#include "vorn.h"
#include "yuv.h"
#include "vornfile.h"
#include "kavcallback.h"
#include "gfile.h"
#include "ogfile.h"
#include "sfile.h"
#include "csfile.h"

#endif
