// Fuzz target for the graphics input on single files. An input that starts
// with "KAVS" carries the switches in the bytes that follow (see
// fuzz_settings.h), then the file; any other input is the file itself,
// played with the switches a plain conversion uses, true colour and 8-bit.
// The file is written to a scratch file named .dat, so that every kind is
// tried on its bytes, or .exe, so that a movie inside a program is looked
// for. No list names: a list could send the reader to any file on the
// machine (lists have their own target, which writes its entries itself).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_settings.h"
#include "support/temp_dir.h"
#include "platform/gstreamer/gst_media.h"

namespace {

constexpr char kMagic[4] = {'K', 'A', 'V', 'S'};

bool writeScratch(const std::string &name, const uint8_t *data, size_t size) {
  FILE *out = std::fopen(name.c_str(), "wb");
  if (!out) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
  return std::fclose(out) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kav::gst::disable();  // our own paths only; GStreamer is fuzzed on its own
  static const kavtest::TempDir scratch;
  const bool withSwitches = size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
  if (withSwitches) {
    // "KAVS", the settings, one byte of this target's own (bit 0: name the
    // file .exe), then the file.
    data += sizeof kMagic;
    size -= sizeof kMagic;
    const size_t taken = size < kavfuzz::kSettingsBytes + 1 ? size : kavfuzz::kSettingsBytes + 1;
    const bool exe = taken > kavfuzz::kSettingsBytes && (data[kavfuzz::kSettingsBytes] & 1);
    const std::string name = scratch.file(exe ? "in.exe" : "in.dat");
    const kavfuzz::Settings s = kavfuzz::pickSettings(data, taken, name);
    if (writeScratch(name, data + taken, size - taken)) kavfuzz::playAndClose(kavfuzz::openWith(name, s), s);
    std::remove(name.c_str());
    return 0;
  }
  const std::string dat = scratch.file("plain.dat");
  if (!writeScratch(dat, data, size)) return 0;
  // Eight frames, true colour ("/Z0") and 8-bit preferring QuickTime ("/Z1002").
  static const uint8_t trueColour[kavfuzz::kSettingsBytes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  static const uint8_t eightBitQuickTime[kavfuzz::kSettingsBytes] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
  for (const uint8_t *bytes : {trueColour, eightBitQuickTime}) {
    const kavfuzz::Settings s = kavfuzz::pickSettings(bytes, kavfuzz::kSettingsBytes, "");
    kavfuzz::playAndClose(kavfuzz::openWith(dat, s), s);
  }
  std::remove(dat.c_str());
  return 0;
}
