// The number reader: syntax, values and their limits in one table, accuracy against the C library,
// the locale's separator order, and the notices as the terminal presentation writes them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "UiTestSupport.h"
#include "ui/Preobrazovaniechisel.h"
#include "ui/Toknosoobzheniy.h"
#include "ui/Vvodchisel.h"

namespace {

const double kUntouched = -12345.678;

bool IsNumber(const std::string& text) { return IsNumberText(text.data(), static_cast<int32_t>(text.size())); }

struct TParsed {
  int code;
  double value;
};

TParsed Parse(const std::string& text) {
  TParsed parsed{0, kUntouched};
  parsed.code = ParseNumber(parsed.value, text.data(), static_cast<int32_t>(text.size()), false);
  return parsed;
}

// Distance in representable doubles (same sign assumed).
uint64_t UlpDistance(double a, double b) {
  int64_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x > y ? uint64_t(x - y) : uint64_t(y - x);
}

}  // namespace

TEST(IsNumberText, SyntaxTable) {
  for (const char* yes : {"12", "-12", "1.5", "1,5", "12.", "12,", "12e", "1.e5", "1.5E-3", "0", "007", "1e-5",
                          "1E5", "12.e", "-0"})
    EXPECT_TRUE(IsNumber(yes)) << yes;
  for (const char* no : {".5", "-.5", "1e-", "1.2.3", "1.2,3", "1,2.3", "1e5.5", "+1", " 1", "1 ", "", ".", ",", "e",
                         "E", "-", "-e", "--1", "1-5", "1e5e", "1e--5", "1ee5", "a", "1a", "0x10", "1e+5"})
    EXPECT_FALSE(IsNumber(no)) << '"' << no << '"';
  EXPECT_FALSE(IsNumberText(nullptr, 0));
  // Exactly `length` bytes count: what follows is not looked at.
  EXPECT_TRUE(IsNumberText("12x", 2));
  EXPECT_FALSE(IsNumberText("12x", 3));
}

// Values, failures (the result untouched), the 31-digit limits of each part and the exponent's
// range (the clamped value). The range estimate goes by the mantissa's binary exponent: 2e307 (2^1)
// lies above 307 already and 0.99e-307 (2^-1) below -307, while 1.99e307 and 1.9e-307 stay finite.
TEST(ParseNumber, ValuesFailuresAndLimits) {
  const std::string d31 = "1234567890123456789012345678901";
  const std::string fraction30 = "0." + std::string(29, '0') + "1";
  const struct {
    std::string text;
    int code;
    double value;  // kUntouched: the result is left as it was
    uint64_t ulps;
  } cases[] = {
      {"65536", NumberParsed, 65536.0, 0}, {"6,5536e4", NumberParsed, 65536.0, 0}, {"6.5536e4", NumberParsed, 65536.0, 0},
      {"2E2", NumberParsed, 200.0, 0}, {"12.", NumberParsed, 12.0, 0}, {"-12", NumberParsed, -12.0, 0},
      {"12.e5", NumberParsed, 1.2e6, 0}, {"-2.5e2", NumberParsed, -250.0, 0}, {"0", NumberParsed, 0.0, 0},
      {"0e999", NumberParsed, 0.0, 0},  // a zero mantissa is 0 whatever the exponent
      {"1.5e-3", NumberParsed, 0.0015, 1},
      {"abc", NumberNotANumber, kUntouched, 0}, {"", NumberNotANumber, kUntouched, 0},
      {"1.2,3", NumberNotANumber, kUntouched, 0}, {".5", NumberNotANumber, kUntouched, 0},
      {"1e-", NumberNotANumber, kUntouched, 0},
      {"12e", NumberTooManyDigits, kUntouched, 0},  // passes the syntax check; its empty exponent does not parse
      {d31, NumberParsed, std::strtod(d31.c_str(), nullptr), 1},
      {d31 + "2", NumberTooManyDigits, kUntouched, 0},
      {"-" + d31, NumberTooManyDigits, kUntouched, 0},  // the minus counts as an integer digit
      {"-" + d31.substr(1), NumberParsed, -std::strtod(d31.c_str() + 1, nullptr), 1},
      {d31 + ".5", NumberParsed, std::strtod((d31 + ".5").c_str(), nullptr), 1},
      {d31 + "2.5", NumberTooManyDigits, kUntouched, 0},
      {fraction30, NumberParsed, 1e-30, 1},
      {fraction30 + "1", NumberTooManyDigits, kUntouched, 0},
      {d31 + "2e1", NumberTooManyDigits, kUntouched, 0},
      {"1e" + d31 + "2", NumberTooManyDigits, kUntouched, 0},
      {d31 + "e-20", NumberParsed, std::strtod((d31 + "e-20").c_str(), nullptr), 1},
      {"1e400", NumberOutOfRange, 1e307, 0}, {"-1e400", NumberOutOfRange, -1e307, 0},
      {"1e-400", NumberOutOfRange, 0.0, 0}, {"-1e-400", NumberOutOfRange, 0.0, 0},
      {"0.99e-307", NumberOutOfRange, 0.0, 0}, {"2e307", NumberOutOfRange, 1e307, 0},
      {"1" + std::string(30, '0') + "e300", NumberOutOfRange, 1e307, 0},
      {"1e307", NumberParsed, 1e307, 1}, {"1e-307", NumberParsed, 1e-307, 1},
      {"1.99e307", NumberParsed, 1.99e307, 1}, {"1.9e-307", NumberParsed, 1.9e-307, 1},
  };
  testing::internal::CaptureStderr();
  for (const auto& c : cases) {
    const TParsed parsed = Parse(c.text);
    EXPECT_EQ(c.code, parsed.code) << c.text;
    EXPECT_LE(UlpDistance(c.value, parsed.value), c.ulps) << c.text << ": " << parsed.value;
  }
  EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "no notice unless asked";
  double value = kUntouched;
  EXPECT_EQ(NumberParsed, ParseNumber(value, nullptr, 5, false));
  EXPECT_EQ(0.0, value) << "a null text is 0";
  EXPECT_EQ(NumberParsed, ParseNumber(value, "2048 trailing", 4, false));
  EXPECT_EQ(2048.0, value);
}

// Against the C library's correctly rounded conversion, over generated texts of up to 17
// significant digits and both exponent signs.
TEST(ParseNumber, WithinOneUnitInTheLastPlace) {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state](uint32_t bound) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return static_cast<uint32_t>(state % bound);
  };
  for (int round = 0; round < 20000; ++round) {
    const uint32_t integerDigits = 1 + next(9);
    const uint32_t fractionDigits = next(17 - integerDigits);
    std::string text(1, static_cast<char>('1' + next(9)));
    for (uint32_t i = 1; i < integerDigits; ++i) text += static_cast<char>('0' + next(10));
    if (fractionDigits > 0) text += '.';
    for (uint32_t i = 0; i < fractionDigits; ++i) text += static_cast<char>('0' + next(10));
    if (next(2) != 0) text += (next(2) != 0 ? "e-" : "e") + std::to_string(next(290));
    const TParsed parsed = Parse(text);
    ASSERT_EQ(NumberParsed, parsed.code) << text;
    ASSERT_LE(UlpDistance(std::strtod(text.c_str(), nullptr), parsed.value), 1u) << text;
  }
}

#if !defined(_WIN32)  // the locale comes from POSIX environment variables; notices reach the terminal
// The character table rebuilt under LC_ALL (and LOCPATH): "C", and a locale whose decimal
// separator is ",", compiled into a folder of its own (none is installed on a bare system).
TEST(NumberChars, TableFollowsTheLocalesSeparator) {
  struct TLocaleScope {
    TLocaleScope(const char* name, const char* path) : all("LC_ALL", name), locpath("LOCPATH", path) { Restart(); }
    static void Restart() {
      VvodchiselShutdown(), PreobrazovaniechiselShutdown();
      PreobrazovaniechiselStartup(), VvodchiselStartup();
    }
    struct TRestartAtEnd {  // destroyed last: the table is rebuilt once the variables are back
      ~TRestartAtEnd() { Restart(); }
    } restartAtEnd;
    TScopedEnvironment all, locpath;
  };
  {
    TLocaleScope scope("C", std::getenv("LOCPATH"));
    EXPECT_EQ(std::string(".,eE-00123456789"), std::string(NumberChars, 16));
    EXPECT_EQ(std::string("0123456789-,.eE"), std::string(NumberChars + 16, 15));
    EXPECT_EQ(static_cast<const char*>(NumberChars), NumberInputChars);
  }
  const std::string folder = TestScratchFolder() + "/locales";
  std::filesystem::create_directories(folder);
  if (std::system(("localedef -i ru_RU -f UTF-8 '" + folder + "/ru_RU.UTF-8' >/dev/null 2>&1").c_str()) != 0 &&
      !std::filesystem::exists(folder + "/ru_RU.UTF-8/LC_NUMERIC"))
    GTEST_SKIP() << "no locale with a decimal comma can be compiled here";
  TLocaleScope scope("ru_RU.UTF-8", folder.c_str());
  EXPECT_EQ(',', NumberChars[NumberFirstSeparator]);
  EXPECT_EQ('.', NumberChars[NumberSecondSeparator]);
  EXPECT_EQ(std::string("0123456789-,.eE"), std::string(NumberChars + 16, 15)) << "the input set stays";
  EXPECT_FALSE(IsNumber("1.2,3")) << "with ',' looked for first, the integer part is 1.2";
  EXPECT_EQ(65536.0, Parse("6.5536e4").value);
  EXPECT_EQ(1.5, Parse("1,5").value);
}

// Every notice is shown in a process of its own: without a display the message window gets
// Escape, which is Cancel for a notice and snoozes the next ones for ten seconds.
namespace {

[[noreturn]] void ExitWith(bool ok) {
  std::error_code ignored;
  std::filesystem::remove_all(TestScratchFolder(), ignored);
  std::fflush(stderr);
  _exit(ok ? 0 : 1);
}

[[noreturn]] void ParseAndExit(const char* text, int expectedCode) {
  double value = kUntouched;
  ExitWith(ParseNumber(value, text, static_cast<int32_t>(std::strlen(text)), true) == expectedCode);
}

}  // namespace

TEST(NumberNoticeTest, EachFailureShowsItsNoticeAndCancelSnoozesTheNext) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The lone line feed of the range notice is no line break for the window; the terminal drops it.
  const struct {
    const char* text;
    int code;
    const char* shown;
  } cases[] = {
      {"abc", NumberNotANumber, "== Error ==\nСтрока не содержит цифр между разделителями\\.\n"},
      {"123456789012345678901234567890123", NumberTooManyDigits,
       "== Error ==\nЧисло выходит за допустимый диапазон значений\\.\n"},
      {"1e400", NumberOutOfRange,
       "== Error ==\nПорядок числа\\. Должен быть больше или равен -307 и меньше или равен 307\\.\n"},
  };
  for (const auto& c : cases) EXPECT_EXIT(ParseAndExit(c.text, c.code), ::testing::ExitedWithCode(0), c.shown) << c.text;
  // The second failure still returns its code and result, silently.
  auto twoFailures = [] {
    double value = kUntouched;
    ParseNumber(value, "abc", 3, true);
    const bool snoozed = NoticesSnoozed();
    const int second = ParseNumber(value, "1e400", 5, true);
    std::fputs(snoozed ? "snoozed\n" : "awake\n", stderr);
    ExitWith(second == NumberOutOfRange && value == 1e307);
  };
  EXPECT_EXIT(twoFailures(), ::testing::ExitedWithCode(0), "разделителями\\.\n[^П]*snoozed\n$");
}

#endif
