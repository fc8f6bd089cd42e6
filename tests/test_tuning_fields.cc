/*
 * test_tuning_fields.cc - finding the Tuning fields' initial values in a
 * settings template, and the three values the real template gives.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "templates.h"
#include "tuning_fields.h"
#include "form_fields.h"

// The toolkit's short name for Nlm_Message would rename gtest's Message.
#undef Message

namespace {

std::vector<std::string> Values(const std::vector<const char *> &lines, const char *section,
                                const char *key) {
  std::vector<const char *> terminated = lines;
  terminated.push_back(nullptr);
  std::vector<std::string> found;
  for (const char *v : TemplateValues(terminated.data(), lines.size(), section, key)) {
    found.emplace_back(v);
  }
  return found;
}

TEST(TemplateValues, KeyMustBeFollowedByEqualsSign) {
  const std::vector<const char *> lines = {"[Compiler]", "EXTDIFFB=b", "EXTDIFF =x", "EXTDIFF=a"};
  EXPECT_EQ(Values(lines, "Compiler", "EXTDIFF"), std::vector<std::string>{"a"});
}

TEST(TemplateValues, SectionIsComparedByteForByteInBrackets) {
  const std::vector<const char *> lines = {"[visual]",  "HCPRINTER=lower",
                                           "[Visual] ", "HCPRINTER=blank",
                                           "[Visual]",  "HCPRINTER=lpr %s"};
  EXPECT_EQ(Values(lines, "Visual", "HCPRINTER"), std::vector<std::string>{"lpr %s"});
}

TEST(TemplateValues, KeyBeforeAnySectionOrInAnotherSectionDoesNotMatch) {
  const std::vector<const char *> lines = {"HCVIEWER=early", "[Files]", "HCVIEWER=files"};
  EXPECT_TRUE(Values(lines, "Visual", "HCVIEWER").empty());
}

TEST(TemplateValues, EveryMatchIsFoundAndTheValueMayBeEmpty) {
  const std::vector<const char *> lines = {"[Visual]", "HCVIEWER=", "[Other]", "[Visual]",
                                           "HCVIEWER=gv %s"};
  EXPECT_EQ(Values(lines, "Visual", "HCVIEWER"), (std::vector<std::string>{"", "gv %s"}));
}

TEST(TemplateValues, StopsAtTheLineLimitEvenWithoutTerminator) {
  const char *const lines[] = {"[Visual]", "HCPRINTER=lpr", "HCPRINTER=beyond"};
  const auto found = TemplateValues(lines, 2, "Visual", "HCPRINTER");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_STREQ(found[0], "lpr");
}

// The real settings template gives each Tuning key exactly one value.
TEST(TemplateValues, SettingsTemplateHoldsEachTuningKeyOnce) {
  std::vector<std::string> values;
  for (const FormField *field : Adjust) {
    const auto found = TemplateValues(SetData, kSetDataLines, field->section, field->key);
    ASSERT_EQ(found.size(), 1u) << field->key;
    values.emplace_back(found[0]);
  }
  EXPECT_EQ(values[0], "lpr %s");
  EXPECT_EQ(values[1], "ghostview -a5 -magstep 0 %s");
  EXPECT_EQ(values[2].rfind("maple", 0), 0u) << values[2];
}

}  // namespace
