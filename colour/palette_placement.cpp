// Palette-change minimisation. The price of giving colour j to slot i is the
// slot's weight (pixels on screen drawn with it) times the distance between
// the slot's current colour and j. Two greedy assignments run on their own
// copies of the palette in use: A serves the colour whose cheapest slot is
// dearest first, B the slot whose cheapest colour is dearest first; each has
// a look-ahead that hands the chosen colour to a more urgent place. The copy
// that disturbs the weighted picture less is kept.
//
// Every choice below is the extreme of a total order (the last tie-break is
// the index), so removing a candidate other than a cached best leaves that
// best unchanged; the caches are refreshed only when their best is taken.
#include "colour/palette_placement.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace kav::colour {
namespace {

inline uint32_t gapOf(uint32_t slot, uint32_t colour) { return slot > colour ? slot - colour : colour - slot; }

struct Pairing {
  uint64_t price;
  uint32_t weight;
  uint32_t distance;
  uint32_t gap;
  uint32_t slot;
  uint32_t colour;
  bool valid;
};

// The look-ahead's "more urgent than": price higher, else weight larger,
// else distance larger, else the slot closer to the colour's own number.
inline int urgency(const Pairing &a, const Pairing &b) {
  if (a.price != b.price) return a.price > b.price ? 1 : -1;
  if (a.weight != b.weight) return a.weight > b.weight ? 1 : -1;
  if (a.distance != b.distance) return a.distance > b.distance ? 1 : -1;
  if (a.gap != b.gap) return a.gap < b.gap ? 1 : -1;
  return 0;
}

class Placement {
 public:
  Placement(const uint8_t *palette, uint32_t firstSlot, uint32_t slots, const uint32_t *colours, uint32_t count,
            const uint32_t *slotWeights)
      : slots_(slots), colours_(count), distance_(static_cast<size_t>(slots) * count), inUse_(slots), weight_(slots) {
    for (uint32_t i = 0; i < slots; ++i) {
      const uint8_t *e = palette + 3 * (firstSlot + i);
      inUse_[i] = static_cast<uint32_t>(e[0]) << 16 | static_cast<uint32_t>(e[1]) << 8 | e[2];
      weight_[i] = slotWeights[firstSlot + i];
    }
    for (uint32_t j = 0; j < count; ++j)
      for (uint32_t i = 0; i < slots; ++i) distance_[static_cast<size_t>(j) * slots + i] = placementDistance(inUse_[i], colours[j]);
  }

  Pairing pair(uint32_t slot, uint32_t colour) const {
    const uint32_t d = distance_[static_cast<size_t>(colour) * slots_ + slot];
    return {uint64_t{weight_[slot]} * d, weight_[slot], d, gapOf(slot, colour), slot, colour, true};
  }

  // Colours first: returns the slot each colour went to (or slots_ when none).
  std::vector<uint32_t> assignColoursFirst() const {
    std::vector<uint8_t> slotUsed(slots_, 0), colourUsed(colours_, 0);
    std::vector<Pairing> cheapest(colours_);
    std::vector<uint32_t> result(colours_, slots_);
    auto cheapestSlot = [&](uint32_t j) {
      Pairing best{};
      for (uint32_t i = 0; i < slots_; ++i) {
        if (slotUsed[i]) continue;
        const Pairing p = pair(i, j);
        if (!best.valid || p.price < best.price ||
            (p.price == best.price &&
             (p.weight > best.weight ||
              (p.weight == best.weight && (p.distance < best.distance ||
                                           (p.distance == best.distance && p.gap < best.gap))))))
          best = p;
      }
      return best;
    };
    for (uint32_t j = 0; j < colours_; ++j) cheapest[j] = cheapestSlot(j);

    for (uint32_t left = colours_ < slots_ ? colours_ : slots_; left > 0; --left) {
      // The colour whose cheapest slot is dearest.
      const Pairing *chosen = nullptr;
      for (uint32_t j = 0; j < colours_; ++j) {
        if (colourUsed[j]) continue;
        const Pairing &p = cheapest[j];
        if (!chosen || p.price > chosen->price ||
            (p.price == chosen->price &&
             (p.weight > chosen->weight ||
              (p.weight == chosen->weight &&
               (p.distance < chosen->distance || (p.distance == chosen->distance && p.gap < chosen->gap))))))
          chosen = &p;
      }
      // Look-ahead over the other colours.
      const Pairing *urgent = nullptr;
      for (uint32_t j = 0; j < colours_; ++j) {
        if (colourUsed[j] || j == chosen->colour) continue;
        if (!urgent || urgency(cheapest[j], *urgent) > 0) urgent = &cheapest[j];
      }
      const uint32_t colour = chosen->colour;
      const uint32_t slot = (urgent && urgency(*urgent, *chosen) > 0) ? urgent->slot : chosen->slot;
      slotUsed[slot] = 1;
      colourUsed[colour] = 1;
      result[colour] = slot;
      for (uint32_t j = 0; j < colours_; ++j)
        if (!colourUsed[j] && cheapest[j].slot == slot) cheapest[j] = cheapestSlot(j);
    }
    return result;
  }

  // Slots first: returns the slot each colour went to (or slots_ when none).
  std::vector<uint32_t> assignSlotsFirst() const {
    std::vector<uint8_t> slotUsed(slots_, 0), colourUsed(colours_, 0);
    std::vector<Pairing> cheapest(slots_);
    std::vector<uint32_t> result(colours_, slots_);
    auto cheapestColour = [&](uint32_t i, uint32_t excluded) {
      Pairing best{};
      for (uint32_t j = 0; j < colours_; ++j) {
        if (colourUsed[j] || j == excluded) continue;
        const Pairing p = pair(i, j);
        if (!best.valid || p.price < best.price ||
            (p.price == best.price &&
             (p.distance < best.distance || (p.distance == best.distance && p.gap < best.gap))))
          best = p;
      }
      return best;
    };
    for (uint32_t i = 0; i < slots_; ++i) cheapest[i] = cheapestColour(i, colours_);

    for (uint32_t left = colours_ < slots_ ? colours_ : slots_; left > 0; --left) {
      const Pairing *chosen = nullptr;
      for (uint32_t i = 0; i < slots_; ++i) {
        if (slotUsed[i]) continue;
        const Pairing &p = cheapest[i];
        if (!chosen || p.price > chosen->price ||
            (p.price == chosen->price &&
             (p.weight > chosen->weight ||
              (p.weight == chosen->weight &&
               (p.distance < chosen->distance || (p.distance == chosen->distance && p.gap < chosen->gap))))))
          chosen = &p;
      }
      const Pairing pick = *chosen;
      // Look-ahead: which slot would suffer most without the chosen colour.
      Pairing urgent{};
      for (uint32_t i = 0; i < slots_; ++i) {
        if (slotUsed[i]) continue;
        const Pairing p = cheapest[i].colour != pick.colour ? cheapest[i] : cheapestColour(i, pick.colour);
        if (p.valid && (!urgent.valid || urgency(p, urgent) > 0)) urgent = p;
      }
      const uint32_t slot = (urgent.valid && urgency(urgent, pick) > 0) ? urgent.slot : pick.slot;
      slotUsed[slot] = 1;
      colourUsed[pick.colour] = 1;
      result[pick.colour] = slot;
      for (uint32_t i = 0; i < slots_; ++i)
        if (!slotUsed[i] && cheapest[i].colour == pick.colour) cheapest[i] = cheapestColour(i, colours_);
    }
    return result;
  }

  // The weighted change of the picture if the copy were shown.
  uint64_t priceOf(const std::vector<uint32_t> &copy) const {
    uint64_t price = 0;
    for (uint32_t i = 0; i < slots_; ++i) price += uint64_t{weight_[i]} * placementDistance(inUse_[i], copy[i]);
    return price;
  }

  std::vector<uint32_t> copyWith(const std::vector<uint32_t> &slotOf, const uint32_t *colours) const {
    std::vector<uint32_t> copy = inUse_;
    for (uint32_t j = 0; j < colours_; ++j)
      if (slotOf[j] < slots_) copy[slotOf[j]] = colours[j];
    return copy;
  }

 private:
  uint32_t slots_;
  uint32_t colours_;
  std::vector<uint32_t> distance_;  // colour-major: distance_[j * slots_ + i]
  std::vector<uint32_t> inUse_;
  std::vector<uint32_t> weight_;
};

}  // namespace

uint32_t placementDistance(uint32_t a, uint32_t b) {
  const int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
  const int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
  const int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
  const double d = std::sqrt(10000.0 * (dr * dr + dg * dg + db * db));
  // The square root of an integer is never exactly halfway between two
  // integers unless it is an integer, so nearbyint's ties-to-even never
  // matters; the limit keeps prices comparable to 16-bit distances.
  const double r = std::nearbyint(d);
  return r > 32768.0 ? 32768u : static_cast<uint32_t>(r);
}

void placeColours(uint8_t *palette, uint32_t firstSlot, uint32_t slotCount, const uint32_t *colours,
                  uint32_t colourCount, const uint32_t *slotWeights) {
  if (!palette || !colours || !slotWeights || slotCount == 0 || colourCount == 0) return;
  if (firstSlot >= 256 || slotCount > 256 - firstSlot || colourCount > 256) return;
  const Placement placement(palette, firstSlot, slotCount, colours, colourCount, slotWeights);
  const std::vector<uint32_t> copyA = placement.copyWith(placement.assignColoursFirst(), colours);
  const std::vector<uint32_t> copyB = placement.copyWith(placement.assignSlotsFirst(), colours);
  const std::vector<uint32_t> &kept = placement.priceOf(copyB) <= placement.priceOf(copyA) ? copyB : copyA;
  for (uint32_t i = 0; i < slotCount; ++i) {
    uint8_t *e = palette + 3 * (firstSlot + i);
    e[0] = static_cast<uint8_t>(kept[i] >> 16);
    e[1] = static_cast<uint8_t>(kept[i] >> 8);
    e[2] = static_cast<uint8_t>(kept[i]);
  }
}

}  // namespace kav::colour
