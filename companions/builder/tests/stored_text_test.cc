/// @file stored_text_test.cc
/// @brief The texts an index keeps for the renderer: written by the index
/// writer beside the records, read back record by record, and every kind of
/// damage refused rather than shown.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "companions/builder/index_writer.h"
#include "companions/doctext/stored_text.h"
#include "system/index_format.h"
#include "tests/test_util.h"

namespace {

using vela::IndexWriter;
using vela::RecordText;

RecordText textOf(const std::string& body, const std::string& stored) {
  RecordText t;
  t.name = "doc.pdf";
  t.doc.body = body;
  t.stored = stored;
  return t;
}

// The text stored for record r, "(none)" or "(damaged)".
std::string storedText(StoredTextReader& reader, uint32_t r, size_t maxBytes = 1 << 20) {
  std::string stream, text;
  bool cut = false;
  switch (reader.read(r, stream, maxBytes)) {
    case StoredTextStatus::kNone:
      return "(none)";
    case StoredTextStatus::kDamaged:
      return "(damaged)";
    case StoredTextStatus::kFound:
      break;
  }
  return render::inflateStoredText(stream, maxBytes, text, cut) ? text : "(damaged)";
}

class StoredTexts : public ::testing::Test {
 protected:
  // Records 1 and 3 have texts, 2 none; 4 is a copy of another index's
  // record 1 with its stream as that index keeps it.
  void SetUp() override {
    IndexWriter writer(dir_.sub("idx"));
    writer.add({}, textOf("alpha", "Alpha report\fpage two"));
    writer.add({}, textOf("plain", ""));
    writer.add({}, textOf("gamma", std::string(100000, 'g')));
    writer.addCopy({}, vela::indexDocument(textOf("copy", "")),
                   render::compressStoredText("carried over"));
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  std::string file(const char* name) { return dir_.sub("idx/") + name; }

  testutil::TempDir dir_;
};

TEST_F(StoredTexts, EachRecordReadsBackItsOwnText) {
  StoredTextReader reader(dir_.sub("idx"));
  EXPECT_EQ(storedText(reader, 1), "Alpha report\fpage two");
  EXPECT_EQ(storedText(reader, 2), "(none)");
  EXPECT_EQ(storedText(reader, 3), std::string(100000, 'g'));
  EXPECT_EQ(storedText(reader, 4), "carried over");
  // Compressed: a long run costs a fraction of its length.
  EXPECT_LT(testutil::readFile(file(kStoredTextsFile)).size(), 1000u);
  EXPECT_EQ(testutil::readFile(file(kStoredTextEndsFile)).size(), 4 * kStoredTextEndBytes);
  // Past the last record, and record 0.
  EXPECT_EQ(storedText(reader, 5), "(damaged)");
  EXPECT_EQ(storedText(reader, 0), "(damaged)");
}

TEST_F(StoredTexts, OnlyTheHeadAViewShowsIsKeptAndNeverHalfACharacter) {
  // "é" is two bytes; the limit falls between them.
  const std::string text = std::string(render::kMaxStoredTextBytes - 1, 'a') + "\xC3\xA9tail";
  {
    IndexWriter writer(dir_.sub("long"));
    writer.add({}, textOf("long", text));
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  StoredTextReader reader(dir_.sub("long"));
  EXPECT_EQ(storedText(reader, 1, render::kMaxStoredStreamBytes),
            std::string(render::kMaxStoredTextBytes - 1, 'a'));
}

TEST_F(StoredTexts, AnIndexWithoutTextsWritesNoFilesAndReadsAsNone) {
  {
    IndexWriter writer(dir_.sub("bare"));
    writer.add({}, textOf("plain", ""));
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  EXPECT_FALSE(testutil::fileExists(dir_.sub("bare/") + kStoredTextsFile));
  EXPECT_FALSE(testutil::fileExists(dir_.sub("bare/") + kStoredTextEndsFile));
  StoredTextReader reader(dir_.sub("bare"));
  EXPECT_EQ(storedText(reader, 1), "(none)");
}

TEST_F(StoredTexts, DamageIsRefusedNotShown) {
  // A stream larger than the reader takes.
  StoredTextReader small(dir_.sub("idx"));
  EXPECT_EQ(storedText(small, 1, 8), "(damaged)");

  // The texts cut short, then gone while their ends remain.
  const std::string texts = testutil::readFile(file(kStoredTextsFile));
  std::filesystem::remove(file(kStoredTextsFile));
  testutil::writeFile(file(kStoredTextsFile), texts.substr(0, texts.size() - 3));
  StoredTextReader cutShort(dir_.sub("idx"));
  EXPECT_EQ(storedText(cutShort, 1), "Alpha report\fpage two");
  EXPECT_EQ(storedText(cutShort, 4), "(damaged)");
  std::filesystem::remove(file(kStoredTextsFile));
  StoredTextReader gone(dir_.sub("idx"));
  EXPECT_EQ(storedText(gone, 1), "(damaged)");

  // Ends that run backwards, or a link in the place of the ends file.
  testutil::writeFile(file(kStoredTextsFile), texts);
  std::string ends = testutil::readFile(file(kStoredTextEndsFile));
  std::filesystem::remove(file(kStoredTextEndsFile));
  ends.replace(kStoredTextEndBytes, kStoredTextEndBytes, std::string(kStoredTextEndBytes, '\0'));
  testutil::writeFile(file(kStoredTextEndsFile), ends);
  StoredTextReader backwards(dir_.sub("idx"));
  EXPECT_EQ(storedText(backwards, 2), "(damaged)");
  std::filesystem::remove(file(kStoredTextEndsFile));
  ASSERT_EQ(symlink("/etc/passwd", file(kStoredTextEndsFile).c_str()), 0);
  StoredTextReader linked(dir_.sub("idx"));
  EXPECT_EQ(storedText(linked, 1), "(damaged)");
}

TEST(StoredTextStream, InflationStopsAtTheLimitAndRefusesBrokenStreams) {
  const std::string stream = render::compressStoredText(std::string(1 << 20, 'x'));
  std::string text;
  bool cut = false;
  ASSERT_TRUE(render::inflateStoredText(stream, 5000, text, cut));
  EXPECT_TRUE(cut);
  EXPECT_EQ(text, std::string(5000, 'x'));
  ASSERT_TRUE(render::inflateStoredText(stream, 1 << 20, text, cut));
  EXPECT_FALSE(cut);
  EXPECT_EQ(text.size(), 1u << 20);
  for (const std::string& broken : {stream.substr(0, stream.size() / 2), stream + "tail",
                                    std::string("not zlib at all"), std::string()}) {
    EXPECT_FALSE(render::inflateStoredText(broken, 1 << 21, text, cut)) << broken.size();
    EXPECT_TRUE(text.empty());
  }
}

}  // namespace
