// A name as every report, listing and question shows it: a row a rule.
#include "AppTestSupport.h"
#include "app/Reports.h"

namespace {

TEST(ShownNames, SeparatorsEscapesAndTheQuestion) {
#if defined(_WIN32)
  const char* separated = "a\\b";
#else
  const char* separated = "a/b";
#endif
  const struct {
    TWideText name;
    std::string shown;
  } rows[] = {
      {WIDE_TEXT("a\\b"), separated},
      {{'a', 0x1B, 'b'}, "a\\x1Bb"}, {{0x7F}, "\\x7F"}, {{0x9B}, "\\x9B"}, {{0xA0}, "\u00A0"},
      {{0x202E}, "\\u{202E}"}, {{0x200B}, "\\u{200B}"}, {{0xFEFF}, "\\u{FEFF}"}, {{0x2028}, "\\u{2028}"},
      {{0xD83D, 0xDE00}, "\U0001F600"}, {{0xD83D}, "\\uD83D"}, {{0xDFFF}, "\\uDFFF"}, {{0xDC00 + 0xFF}, "\\xFF"},
  };
  for (const auto& r : rows) EXPECT_EQ(ShownName(TWideName(r.name.c_str(), r.name.size())), r.shown) << r.shown;
  EXPECT_EQ(Text(OverwriteQuestion(Wide("a \"b\".txt"))), "File \"a \\x22b\\x22.txt\" already exist. Overwrite?");
}

}  // namespace
