/// @file record_test.cc
/// @brief The record between doc_extract and the builder: what one writes
/// the other reads back, and malformed records are refused, never half read.

#include <gtest/gtest.h>

#include <tuple>

#include "companions/extract/extract_record.h"

namespace extract {
namespace {

TEST(ExtractRecord, RoundTripKeepsEveryFieldAndBytes) {
  ExtractedDoc doc;
  doc.format = "pdf";
  doc.title = "A title\nwith a line break";
  doc.author = std::string("nul\0inside", 10);
  doc.keywords = "end 0\n";  // looks like framing, is content
  doc.note = "encrypted: no text";
  doc.text = "page one\fpage two\f";
  ExtractedDoc back;
  std::string error;
  ASSERT_TRUE(decodeRecord(encodeRecord(doc), back, error)) << error;
  EXPECT_EQ(std::tie(back.format, back.title, back.author, back.keywords, back.note, back.text,
                     back.subject),
            std::tie(doc.format, doc.title, doc.author, doc.keywords, doc.note, doc.text,
                     doc.subject));
}

TEST(ExtractRecord, SkipsFieldsOfLaterWriters) {
  ExtractedDoc doc;
  std::string error;
  ASSERT_TRUE(decodeRecord("SRX1\nformat 3\ndoc\npages 1\n7\ntext 2\nhi\nend\n", doc, error))
      << error;
  EXPECT_EQ(doc.format, "doc");
  EXPECT_EQ(doc.text, "hi");
}

TEST(ExtractRecord, RefusesMalformedRecords) {
  const char* const kBad[] = {
      "",
      "SRX1\n",                                              // no end
      "SRX2\nformat 3\npdf\nend\n",                          // wrong magic
      "SRX1\nend\n",                                         // no format
      "SRX1\nformat 0\n\nend\n",                             // empty format
      "SRX1\ntext 2\nhi\nformat 3\npdf\nend\n",              // format not first
      "SRX1\npages 1\n7\nformat 3\npdf\nend\n",              // unknown field before format
      "SRX1\nformat 3\npdf\ntext 2\nhi\ntext 2\nhi\nend\n",  // repeated
      "SRX1\nformat 3\npdf\nformat 3\npdf\nend\n",           // format repeated
      "SRX1\nformat 3\npdf\ntext 9\nhi\nend\n",              // count past the end
      "SRX1\nformat 3\npdf\ntext 99999999999\nhi\nend\n",    // count too long
      "SRX1\nformat 3\npdf\ntext 02\nhi\nend\n",             // leading zero
      "SRX1\nformat 3\npdf\ntext -2\nhi\nend\n",             // sign
      "SRX1\nformat 3\npdf\ntext 1\nhi\nend\n",              // bytes not ended by a line break
      "SRX1\nformat 3\npdf\nText 2\nhi\nend\n",              // upper case name
      "SRX1\nformat 3\npdf\n 2\nhi\nend\n",                  // no name
      "SRX1\nformat 3\npdf\ntext2\nhi\nend\n",               // no blank after the name
      "SRX1\nformat 3\npdf\nabcdefghijklmnopq 0\n\nend\n",   // name too long
      "SRX1\nformat 3\npdf\nend\nend\n",                     // bytes after the end
      "SRX1\nformat 3\npdf\nend",                            // end cut short
  };
  for (const char* bad : kBad) {
    ExtractedDoc doc;
    std::string error;
    EXPECT_FALSE(decodeRecord(bad, doc, error)) << '"' << bad << '"';
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace extract
