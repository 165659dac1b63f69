/// @file search_again_test.cc
/// @brief The search form of message pages: what it keeps of the request,
/// and what it leaves out when a page refuses a variable.

#include "front/search_again.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi/cgi_string_parser.h"

namespace {

TEST(SearchAgainForm, LeavesOutTheVariableAPageRefused) {
  CGIStringParser vars;
  ASSERT_GT(vars.initialize("user=U&index_id=A&index_id=B&index_id=C&search_no=7&sort=x&ks_key=1"),
            0);
  // Which of sort, search_no, user, ks_key and the index ids A, B, C the form keeps.
  const auto kept = [&](const FormOmissions& omit) {
    const std::string form = searchAgainForm(vars, "fig", omit);
    std::string out;
    for (const char* name : {"sort", "search_no", "user", "ks_key"})
      if (form.find("name=\"" + std::string(name) + "\"") != std::string::npos)
        out += name + std::string(" ");
    for (const char* id : {"A", "B", "C"})
      if (form.find("value=\"" + std::string(id) + "\"") != std::string::npos) out += id;
    return out;
  };
  EXPECT_EQ(kept({}), "sort search_no user ABC");
  FormOmissions omit;
  omit.names = {"sort", "search_no"};
  EXPECT_EQ(kept(omit), "user ABC");
  // Too many indexes: the form keeps as many as may be searched, in order.
  FormOmissions fewer;
  fewer.indexIdsKept = 2;
  EXPECT_EQ(kept(fewer), "sort search_no user AB");
}

}  // namespace
