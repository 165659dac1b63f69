/// @file ranking_pages_test.cc
/// @brief Through the installed programs, the pages of a search over a
/// licence text and copyright files as packages ship them: the licence text
/// first and far ahead, every hit under a heading of its own, copies of one
/// file one hit that says where the others lie (also once one of them
/// changed), and copies in a protected index kept apart.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

const char kFormatLine[] =
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/";

std::string repeated(const std::string& words, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += words + " ";
  return out;
}

class HeadingPages : public ::testing::Test {
 protected:
  // The <hit> elements of the XML page of `query` over index `id`.
  std::vector<std::string> hits(const std::string& query, const std::string& id) {
    const e2e::RunResult r =
        inst_.get("user=TESSERA&search_no=0&xml=1&query=" + query + "&index_id=7F000001_" + id);
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    std::vector<std::string> out;
    for (size_t at = r.out.find("<hit "); at != std::string::npos; at = r.out.find("<hit ", at + 1))
      out.push_back(r.out.substr(at, r.out.find("</hit>", at) - at));
    return out;
  }
  static std::string field(const std::string& hit, const std::string& name) {
    const size_t start = hit.find("<" + name + ">");
    if (start == std::string::npos) return "";
    const size_t from = start + name.size() + 2;
    return hit.substr(from, hit.find("</" + name + ">", from) - from);
  }

  enginetest::EngineInstall inst_{enginetest::Mode::kFallback};
};

TEST_F(HeadingPages, HeadingsNameTheirDocumentsAndCopiesAreOneHit) {
  const std::string copyright = std::string(kFormatLine) + "\nUpstream-Name: ";
  inst_.doc("docs", "GPL-3",
            "  GNU GENERAL PUBLIC LICENSE\n" + repeated("the license of the program", 60) +
                repeated("conveying verbatim copies", 300));
  for (const char* pkg : {"zlib", "bash", "tar"})
    inst_.doc("docs", std::string(pkg) + "-copyright",
              copyright + pkg + "\n" + repeated("License: GPL-2+", 4));
  for (const char* sibling : {"libfoo1", "libfoo-dev", "libfoo-doc"})
    inst_.doc("docs", std::string(sibling) + "-copyright",
              copyright + "foo\n" + repeated("License: BSD-3-clause", 4));
  inst_.create("lic", "docs");
  std::vector<std::string> found = hits("license", "lic");
  // GPL-3, three copyright files, the libfoo copies as one.
  EXPECT_EQ(found.size(), 5u);
  ASSERT_GE(found.size(), 2u);
  EXPECT_EQ(field(found[0], "file"), "GPL-3");
  EXPECT_EQ(field(found[0], "title"), "GNU GENERAL PUBLIC LICENSE");
  // Far ahead, not within a few per cent of files that only cite licences.
  EXPECT_GT(std::stoi(field(found[0], "score")), std::stoi(field(found[1], "score")) * 3 / 2);
  std::set<std::string> titles;
  for (const std::string& h : found) {
    titles.insert(field(h, "title"));
    if (field(h, "file").rfind("libfoo", 0) == 0) {
      EXPECT_NE(h.find("<copies count=\"3\">"), std::string::npos) << h;
      EXPECT_EQ(field(h, "title"), field(h, "file"));
    } else {
      EXPECT_EQ(h.find("<copies"), std::string::npos) << h;
    }
  }
  EXPECT_EQ(titles.size(), found.size());
  // The page says so too, and where the other two lie once asked.
  const e2e::RunResult page =
      inst_.get("user=TESSERA&search_no=0&query=license&index_id=7F000001_lic");
  const size_t copies = page.out.find("<details class=\"copies\"><summary>3 copies</summary>");
  ASSERT_NE(copies, std::string::npos) << page.out;
  const std::string list = page.out.substr(copies, page.out.find("</details>", copies) - copies);
  EXPECT_EQ((list.find("libfoo1-copyright") != std::string::npos) +
                (list.find("libfoo-dev-copyright") != std::string::npos) +
                (list.find("libfoo-doc-copyright") != std::string::npos),
            2);

  // One copy changed since: the others are still one hit, of two copies,
  // whichever of them the changed one was.
  inst_.doc("docs", "libfoo-dev-copyright", copyright + "foo\nLicense: MIT\n", 1200000000);
  const e2e::RunResult update = inst_.builder({"update", "--id", "lic", inst_.docs("docs")});
  ASSERT_EQ(update.exitStatus, 0) << update.err;
  found = hits("bsd", "lic");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(field(found[0], "file"), "libfoo-dev-copyright");
  EXPECT_NE(found[0].find("<copies count=\"2\">"), std::string::npos) << found[0];
}

TEST_F(HeadingPages, CopiesInAProtectedIndexStayApart) {
  // The copy everybody may read sorts after one only carol may read: were
  // they one hit, everybody else would find none.
  inst_.doc("guarded", "hr/memo.txt", "quarterly memo\n");
  inst_.doc("guarded", "pub/memo.txt", "quarterly memo\n");
  inst_.write("access.txt", "pub/*\t*\nhr/*\tcarol\n");
  const e2e::RunResult r = inst_.builder({"create", "--owner", "alice", "--id", "grd", "--access",
                                          inst_.path("access.txt"), inst_.docs("guarded")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::string> found = hits("quarterly", "grd");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(field(found[0], "location"), "pub/memo.txt");
  EXPECT_EQ(found[0].find("<copies"), std::string::npos);
}

}  // namespace
