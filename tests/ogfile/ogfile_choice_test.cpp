// The target chosen by extension and colour mode, the messages of the
// refusals, and the overwrite question with its options.
#include <gtest/gtest.h>

#include <string>

#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "ogfile/ogfile_test_util.h"
#include "support/temp_dir.h"
#include "ui/recording_backend.h"

namespace {

using ogtest::messages;
using ogtest::recordCallback;

constexpr uint32_t kTrue = 0, kPaletted = 1;
const char kUnsupported[] = "Unsupported output file type or color depth.";

OGFile *create(const std::string &name, uint32_t mode, uint32_t options = OGFILE_OVERWRITE, uint32_t frames = 3) {
  return OGFileCreate(0, name.c_str(), frames, 15, 1, 8, 6, 8, recordCallback, options, mode);
}

struct Expect {
  const char *name;
  uint32_t mode;
  uint32_t kind;  // 999: refused
  uint32_t bits;
};

TEST(OGFileChoice, ExtensionAndDepthPickTheTarget) {
  kavtest::TempDir tmp;
  const Expect cases[] = {
      {"movie", kPaletted, OGFILE_FLIC, 8},   {"movie", kTrue, 999, 0},       {"a.flc", kPaletted, OGFILE_FLIC, 8},
      {"a.FLC", kTrue, 999, 0},               {"a.avi", kTrue, OGFILE_AVI, 24}, {"a.Avi", kPaletted, OGFILE_AVI, 8},
      {"a.bmp", kPaletted, OGFILE_BMP, 8},    {"a.jpg", kTrue, OGFILE_JPEG, 24}, {"a.png", kTrue, OGFILE_PNG, 24},
      {"a.tga", kPaletted, OGFILE_TGA, 24},   {"a.tga", kTrue, OGFILE_TGA, 24}, {"a.tif", kTrue, OGFILE_TIFF, 24},
      {"a.pcx", kPaletted, OGFILE_PCX, 8},    {"a.pcx", kTrue, 999, 0},       {"a.gif", kPaletted, OGFILE_GIF, 8},
      {"a.gif", kTrue, 999, 0},               {"a.xyz", kPaletted, 999, 0},   {"a.fli", kPaletted, 999, 0},
      // However long, an extension is one: it is never taken for none.
      {"a.abcdefghijklmn", kPaletted, 999, 0}, {"a.abcdefghijklmno", kPaletted, 999, 0},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.mode ? " 8-bit" : " 24-bit"));
    messages().clear();
    OGFile *o = create(tmp.file(c.name), c.mode);
    if (c.kind == 999) {
      EXPECT_EQ(o, nullptr);
      ASSERT_EQ(messages().size(), 1u);
      EXPECT_EQ(messages()[0].text, kUnsupported);
      EXPECT_EQ(messages()[0].code, 2);
      // Option bit 0 keeps the message back.
      messages().clear();
      EXPECT_EQ(create(tmp.file(c.name), c.mode, OGFILE_OVERWRITE | OGFILE_ASK_WITH_DIALOG), nullptr);
      EXPECT_TRUE(messages().empty());
      EXPECT_EQ(kavfilesize(tmp.file(c.name).c_str()), 0u);
      continue;
    }
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(o->kind, c.kind);
    EXPECT_EQ(o->bits, c.bits);
    EXPECT_EQ(o->trueColour, c.mode == kTrue ? 1u : 0u);
    EXPECT_EQ(o->image != nullptr, true);
    OGFileClose(o);
  }
  // The Flic writer adds the extension; the handle names the file written.
  OGFile *o = create(tmp.file("clip"), kPaletted);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(std::string(o->name), tmp.file("clip.flc"));
  EXPECT_EQ(std::string(o->description), tmp.file("clip.flc"));
  OGFileClose(o);
  EXPECT_GT(kavfilesize(tmp.file("clip.flc").c_str()), 128u);
}

TEST(OGFileChoice, UnusableArgumentsAreRefused) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("a.avi");
  EXPECT_EQ(OGFileCreate(0, name.c_str(), 3, 0, 1, 8, 6, 8, nullptr, OGFILE_OVERWRITE, kTrue), nullptr);
  EXPECT_EQ(OGFileCreate(0, name.c_str(), 3, 15, 1, 0, 6, 8, nullptr, OGFILE_OVERWRITE, kTrue), nullptr);
  EXPECT_EQ(OGFileCreate(0, name.c_str(), 3, 15, 1, 8, 6, 7, nullptr, OGFILE_OVERWRITE, kTrue), nullptr);
  EXPECT_EQ(OGFileCreate(0, nullptr, 3, 15, 1, 8, 6, 8, nullptr, OGFILE_OVERWRITE, kTrue), nullptr);
  const std::string longName(KAV_NAME_MAX + 10, 'x');
  EXPECT_EQ(OGFileCreate(0, longName.c_str(), 3, 15, 1, 8, 6, 8, nullptr, OGFILE_OVERWRITE, kTrue), nullptr);
  // A Flic name that leaves no room for the added extension.
  messages().clear();
  const std::string almost = tmp.path() + "/" + std::string(KAV_NAME_MAX - 3 - tmp.path().size(), 'f');
  EXPECT_EQ(OGFileCreate(0, almost.c_str(), 3, 15, 1, 8, 6, 8, recordCallback, OGFILE_OVERWRITE, kPaletted), nullptr);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Error creating the output flic.");
  // An unknown compressor is no compressor the program can offer.
  const OGFileCompressor odd{0x12345678, 0};
  messages().clear();
  EXPECT_EQ(OGFileCreateCompressed(0, name.c_str(), 3, 15, 1, 8, 6, 8, recordCallback, OGFILE_OVERWRITE, kTrue, &odd),
            nullptr);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Error creating the output AVI file.");
  EXPECT_EQ(kavfilesize(name.c_str()), 0u);
}

TEST(OGFileChoice, DecliningToOverwriteLeavesTheFileAndCallsWithCodeThree) {
  kavtest::TempDir tmp;
  kav::ui::RecordingBackend ui;
  const std::vector<uint8_t> old = {1, 2, 3, 4, 5};
  for (const char *file : {"keep.avi", "keep.flc", "keep.png"}) {
    SCOPED_TRACE(file);
    const std::string name = tmp.file(file);
    kavtest::writeFile(name, old);
    messages().clear();
    ui.scriptAnswers({kav::ui::kNo});
    EXPECT_EQ(create(name, file[5] == 'f' ? kPaletted : kTrue, 0, 1), nullptr);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, "(null)");
    EXPECT_EQ(messages()[0].code, 3);
    EXPECT_EQ(kavtest::readFile(name), old);
    EXPECT_EQ(ui.boxes().back().text, "File " + name + " exists, overwrite?");
  }
  // Without a callback the refusal is just a null handle.
  ui.scriptAnswers({kav::ui::kNo});
  EXPECT_EQ(OGFileCreate(0, tmp.file("keep.avi").c_str(), 1, 15, 1, 8, 6, 8, nullptr, 0, kTrue), nullptr);
  EXPECT_EQ(kavtest::readFile(tmp.file("keep.avi")), old);

  // A numbered series asks about its first image.
  kavtest::writeFile(tmp.file("shot00.bmp"), old);
  ui.scriptAnswers({kav::ui::kNo});
  EXPECT_EQ(create(tmp.file("shot.bmp"), kTrue, 0, 12), nullptr);
  EXPECT_EQ(ui.boxes().back().text, "File " + tmp.file("shot00.bmp") + " exists, overwrite?");

  // Yes goes ahead; option bit 1 does not ask at all.
  const size_t asked = ui.boxes().size();
  ui.scriptAnswers({kav::ui::kYes});
  OGFile *o = create(tmp.file("keep.avi"), kTrue, 0, 1);
  ASSERT_NE(o, nullptr);
  OGFileClose(o);
  EXPECT_EQ(ui.boxes().size(), asked + 1);
  EXPECT_NE(kavtest::readFile(tmp.file("keep.avi")), old);
  o = create(tmp.file("keep.avi"), kTrue, OGFILE_OVERWRITE, 1);
  ASSERT_NE(o, nullptr);
  OGFileClose(o);
  EXPECT_EQ(ui.boxes().size(), asked + 1);
}

TEST(OGFileChoice, OptionBitZeroAsksThroughTheDialog) {
  kavtest::TempDir tmp;
  kav::ui::RecordingBackend ui;
  const std::string name = tmp.file("old.flc");
  kavtest::writeFile(name, {9});
  ui.scriptAnswers({kav::ui::kNo});
  messages().clear();
  EXPECT_EQ(create(name, kPaletted, OGFILE_ASK_WITH_DIALOG, 1), nullptr);
  ASSERT_FALSE(ui.boxes().empty());
  EXPECT_EQ(ui.boxes().back().buttons, kav::ui::Buttons::YesNo);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].code, 3);
  EXPECT_EQ(kavtest::readFile(name), std::vector<uint8_t>{9});
}

}  // namespace
