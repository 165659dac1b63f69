/// @file search_again_test.cc
/// @brief The search form of message pages: what it keeps of the request,
/// and what it leaves out when a page refuses a variable.

#include "front/search_again.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi/cgi_string_parser.h"

namespace {

std::string formOf(const char* request, const FormOmissions& omit = {}) {
  CGIStringParser vars;
  EXPECT_GT(vars.initialize(request), 0);
  return searchAgainForm(vars, "fig", omit);
}

bool has(const std::string& form, const std::string& field) {
  return form.find("name=\"" + field + "\"") != std::string::npos;
}

TEST(SearchAgainForm, LeavesOutTheVariableAPageRefused) {
  const char* request = "user=U&index_id=A&index_id=B&index_id=C&search_no=7&sort=bogus&ks_key=1";
  const std::string all = formOf(request);
  EXPECT_TRUE(has(all, "sort"));
  EXPECT_TRUE(has(all, "search_no"));
  EXPECT_FALSE(has(all, "ks_key"));
  FormOmissions omit;
  omit.names = {"sort", "search_no"};
  const std::string less = formOf(request, omit);
  EXPECT_FALSE(has(less, "sort")) << less;
  EXPECT_FALSE(has(less, "search_no")) << less;
  EXPECT_TRUE(has(less, "user"));
  EXPECT_NE(less.find("value=\"C\""), std::string::npos);
  // Too many indexes: the form keeps as many as may be searched, in order.
  FormOmissions fewer;
  fewer.indexIdsKept = 2;
  const std::string two = formOf(request, fewer);
  EXPECT_NE(two.find("value=\"A\""), std::string::npos);
  EXPECT_NE(two.find("value=\"B\""), std::string::npos);
  EXPECT_EQ(two.find("value=\"C\""), std::string::npos) << two;
}

}  // namespace
