/* Copying a rectangle of a decoded planar YUV 4:2:0 frame (luma plane, then
   two quarter-size chroma planes, optionally a separate alpha plane) into a
   32-bit pixel surface, converting to RGB on the way. */
#ifndef KAVUTIL_YUV_H
#define KAVUTIL_YUV_H

#include "kavdefs.h"

/* Output type codes (low 4 bits of the blit flags, and the argument of
   YUV_init). */
#define YUV_TYPE_32BPP 3u
#define YUV_TYPE_32ABPP 5u
#define YUV_TYPE_MASK 0x0000000Fu

/* Read the first chroma plane as Cb and the second as Cr (the reverse of the
   usual order). */
#define YUV_FLAG_EXCHANGE_CHROMA 0x00010000u
/* Convert luma only. */
#define YUV_FLAG_GREY 0x00020000u
/* Never use the processor's vector unit. */
#define YUV_FLAG_NO_SIMD 0x00040000u

/* Height and width modes (the field 0x70000000). */
#define YUV_MODE_MASK 0x70000000u
#define YUV_MODE_DOUBLE_HEIGHT 0x10000000u
#define YUV_MODE_INTERLACED 0x20000000u
#define YUV_MODE_DOUBLE_WIDTH 0x30000000u
#define YUV_MODE_DOUBLE_BOTH 0x40000000u
#define YUV_MODE_DOUBLE_WIDTH_INTERLACED 0x50000000u
#define YUV_MODE_FIELD 0x60000000u

KAV_BEGIN_DECLS

/* Builds the conversion tables on the first call and probes the processor on
   every call. A type other than -1 that differs from the last one given is
   recorded and the tables that depend on it are rebuilt. */
KAV_EXPORT void KAVAPI YUV_init(int32_t type);

/* Converts the source rectangle (srcX, srcY, w, h, in luma pixels) of the
   plane set src (luma row length srcPitch, luma plane height srcPlaneHeight)
   to pixels B, G, R, 0 starting at dst + dstY * dstPitch + 4 * dstX. A
   negative dstPitch walks the surface bottom-up. Returns 1 when a vector unit
   is available for the conversion, else 0. */
KAV_EXPORT int32_t KAVAPI YUV_blit_32bpp(uint8_t *dst, int32_t dstX, int32_t dstY, int32_t dstPitch,
                                         const uint8_t *src, int32_t srcX, int32_t srcY, int32_t w, int32_t h,
                                         int32_t srcPitch, int32_t srcPlaneHeight, uint32_t flags);

/* As YUV_blit_32bpp, with the sample of the alpha plane (luma geometry) in
   the fourth byte of every pixel written. */
KAV_EXPORT int32_t KAVAPI YUV_blit_32abpp(uint8_t *dst, int32_t dstX, int32_t dstY, int32_t dstPitch,
                                          const uint8_t *src, int32_t srcX, int32_t srcY, int32_t w, int32_t h,
                                          int32_t srcPitch, int32_t srcPlaneHeight, const uint8_t *alpha,
                                          uint32_t flags);

KAV_END_DECLS

#endif
