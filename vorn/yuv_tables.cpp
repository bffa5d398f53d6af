// Conversion tables for BT.601 limited-range YUV: every multiplication is
// done here once per sample value, so a pixel costs look-ups only.
#include "vorn/yuv_tables.h"

#include <algorithm>
#include <cstring>

namespace kav::yuv {
namespace {

Tables gTables;
// Untouched copies of the chroma tables, in the usual arrangement, so that an
// exchange can always be undone exactly.
int32_t gCbUsual[256], gGuUsual[256], gGvUsual[256], gCrUsual[256];
bool gBuilt = false;
bool gExchanged = false;
int32_t gType = 0;

void buildGrey() {
  for (int e = 0; e < 256; ++e) gTables.grey[e] = greyLevel(e);
}

void build() {
  for (int e = 0; e < 256; ++e) {
    gTables.yt[e] = lumaTerm(e);
    gTables.ytVector[e] = lumaTermVector(e);
    gCbUsual[e] = blueFromCb(e);
    gGuUsual[e] = greenFromCb(e);
    gGvUsual[e] = greenFromCr(e);
    gCrUsual[e] = redFromCr(e);
  }
  std::memcpy(gTables.cb, gCbUsual, sizeof gCbUsual);
  std::memcpy(gTables.gu, gGuUsual, sizeof gGuUsual);
  std::memcpy(gTables.gv, gGvUsual, sizeof gGvUsual);
  std::memcpy(gTables.cr, gCrUsual, sizeof gCrUsual);
  gExchanged = false;
  for (int i = 0; i < kSatSize; ++i) gTables.sat[i] = static_cast<uint8_t>(std::clamp(i - kSatZero, 0, 255));
  buildGrey();
  gBuilt = true;
}

}  // namespace

int32_t lumaTerm(int e) { return std::clamp(e - 16, 0, 219) * 38154 / 32768; }

int32_t lumaTermVector(int e) { return ((std::max(e - 16, 0) * 4) * 19077) >> 16; }

// Integer division truncates toward zero, as the coefficients are defined.
int32_t blueFromCb(int e) { return 66101 * (e - 128) / 32768; }
int32_t greenFromCb(int e) { return 12837 * (128 - e) / 32768; }
int32_t greenFromCr(int e) { return 26639 * (128 - e) / 32768; }
int32_t redFromCr(int e) { return 52299 * (e - 128) / 32768; }

uint32_t greyLevel(int e) {
  uint32_t g;
  if (e <= 16) {
    g = 0;
  } else if (e >= 235) {
    g = 255;
  } else {
    g = static_cast<uint32_t>(255 * (e - 16) / 219);
  }
  return g | g << 8 | g << 16;
}

const Tables &tables() {
  if (!gBuilt) build();
  return gTables;
}

void init(int32_t type) {
  if (!gBuilt) build();
  if (type != -1 && type != gType) {
    gType = type;
    // The grey table is the one table that depends on the output type; the
    // 32-bit types 3 and 5 share the same layout, and the 16-bit codes have
    // no converter here, so every type gets the 32-bit grey words.
    buildGrey();
  }
}

int32_t recordedType() { return gType; }

void arrangeChroma(bool exchanged) {
  if (!gBuilt) build();
  if (exchanged == gExchanged) return;
  std::memcpy(gTables.cb, exchanged ? gCrUsual : gCbUsual, sizeof gCbUsual);
  std::memcpy(gTables.cr, exchanged ? gCbUsual : gCrUsual, sizeof gCrUsual);
  std::memcpy(gTables.gu, exchanged ? gGvUsual : gGuUsual, sizeof gGuUsual);
  std::memcpy(gTables.gv, exchanged ? gGuUsual : gGvUsual, sizeof gGvUsual);
  gExchanged = exchanged;
}

bool chromaExchanged() { return gExchanged; }

}  // namespace kav::yuv
