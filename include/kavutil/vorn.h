/* Vorn video: frame expansion of the house true-colour format. */
#ifndef KAVUTIL_VORN_H
#define KAVUTIL_VORN_H

#include "kavdefs.h"

KAV_BEGIN_DECLS

/* --- Frame expansion ---------------------------------------------------- */

/* Number of bundle buffers, in their fixed order: block types, sub-block
   types, colours, pattern bytes, x offsets, y offsets, intra DC values, inter
   DC values, run lengths. */
#define VORN_BUNDLE_COUNT 9

/* Bits of the flags and header flags words passed to ExpandVorn. */
#define VORN_HEADER_HAS_ALPHA 0x00100000u /* headerFlags: frame data starts with an alpha section */
#define VORN_DECODE_ALPHA 0x00100000u     /* flags: decode that alpha plane */
#define VORN_GREY_SCALE 0x00020000u       /* flags: no chroma planes coded or decoded */
#define VORN_OLD_REVISION 0x00008000u     /* flags: sign-magnitude colours, no plane-size word */

/* Fills sizes[0..8] with the byte size each bundle buffer needs for planes up
   to `width` pixels wide (pass the luma pitch). */
KAV_EXPORT void KAVAPI ExpandBundleSizes(uint32_t *sizes, uint32_t width);

/* Expands one frame's video data into the plane set `cur` (luma pitch x
   planeHeight, then two chroma planes of pitch/2 x planeHeight/2), predicting
   from `prev`, and the alpha plane when both alpha bits are set. Writes 1 into
   `changedMap` (pitch/16 x planeHeight/16 bytes) for every 16x16 area written.
   `bundles` holds the nine buffers sized by ExpandBundleSizes(pitch). The frame
   data is trusted to be complete; a stream that breaks the format's limits
   stops decoding without touching memory outside the given buffers. */
KAV_EXPORT void KAVAPI ExpandVorn(uint8_t *cur, const uint8_t *prev, uint8_t *alphaCur, const uint8_t *alphaPrev,
                                  uint8_t *changedMap, uint32_t width, uint32_t height, uint32_t pitch,
                                  uint32_t planeHeight, const uint8_t *frameData, uint32_t keyFrame,
                                  void *const *bundles, uint32_t flags, uint32_t headerFlags);

KAV_END_DECLS

#endif
