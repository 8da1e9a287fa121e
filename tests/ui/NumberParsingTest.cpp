// The number reader: syntax table, values, digit and exponent limits, accuracy against the C
// library, the locale's separator order, and the notices as the terminal presentation of the
// message window writes them.
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

#if !defined(_WIN32)  // the locale comes from POSIX environment variables
// Rebuilds the character table under the given LC_ALL (and LOCPATH, when given), restoring the
// environment and the table afterwards.
class TLocaleScope {
 public:
  TLocaleScope(const char* localeName, const char* localePath)
      : all("LC_ALL", localeName), path("LOCPATH", localePath != nullptr ? localePath : std::getenv("LOCPATH")) {
    Restart();
  }

 private:
  static void Restart() {
    VvodchiselShutdown();
    PreobrazovaniechiselShutdown();
    PreobrazovaniechiselStartup();
    VvodchiselStartup();
  }
  // Destroyed last: the table is rebuilt once the variables are back.
  struct TRestartAtEnd {
    ~TRestartAtEnd() { Restart(); }
  } restartAtEnd;
  TScopedEnvironment all, path;
};

// A locale whose decimal separator is ",", compiled into a folder of its own (none is installed
// on a bare system). Empty when the system cannot compile one.
std::string CommaLocaleFolder() {
  static std::string folder;
  static bool tried = false;
  if (tried) return folder;
  tried = true;
  const std::string target = TestScratchFolder() + "/locales";
  std::filesystem::create_directories(target);
  const std::string command =
      "localedef -i ru_RU -f UTF-8 '" + target + "/ru_RU.UTF-8' >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0 || std::filesystem::exists(target + "/ru_RU.UTF-8/LC_NUMERIC"))
    folder = target;
  return folder;
}

#endif

}  // namespace

#if !defined(_WIN32)
TEST(NumberChars, TableBuiltFromTheLocale) {
  TLocaleScope scope("C", nullptr);
  EXPECT_EQ(std::string(".,eE-00123456789"), std::string(NumberChars, 16));
  EXPECT_EQ(std::string("0123456789-,.eE"), std::string(NumberChars + 16, 15));
  EXPECT_EQ(static_cast<const char*>(NumberChars), NumberInputChars);
}

TEST(NumberChars, CommaLocalePutsTheCommaFirst) {
  const std::string folder = CommaLocaleFolder();
  if (folder.empty()) GTEST_SKIP() << "no locale with a decimal comma can be compiled here";
  TLocaleScope scope("ru_RU.UTF-8", folder.c_str());
  EXPECT_EQ(',', NumberChars[NumberFirstSeparator]);
  EXPECT_EQ('.', NumberChars[NumberSecondSeparator]);
  // The fixed input set does not follow the locale.
  EXPECT_EQ(std::string("0123456789-,.eE"), std::string(NumberChars + 16, 15));
  // With "," looked for first, "1.2,3" has the integer part "1.2".
  EXPECT_FALSE(IsNumber("1.2,3"));
  EXPECT_EQ(65536.0, Parse("6,5536e4").value);
  EXPECT_EQ(65536.0, Parse("6.5536e4").value);
  EXPECT_EQ(1.5, Parse("1,5").value);
}

#endif

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

TEST(ParseNumber, WorkedValues) {
  const struct {
    const char* text;
    double value;
    uint64_t ulps;  // 0: exact
  } cases[] = {
      {"65536", 65536.0, 0}, {"6,5536e4", 65536.0, 0}, {"6.5536e4", 65536.0, 0}, {"2E2", 200.0, 0},  {"12.", 12.0, 0},
      {"-12", -12.0, 0},     {"2097152", 2097152.0, 0}, {"12.e5", 1.2e6, 0},      {"-2.5e2", -250.0, 0}, {"0", 0.0, 0},
      {"0e999", 0.0, 0},  // a zero mantissa is 0 whatever the exponent
      {"1.5e-3", 0.0015, 1}, {"1.5E-3", 0.0015, 1},
  };
  for (const auto& c : cases) {
    const TParsed parsed = Parse(c.text);
    EXPECT_EQ(NumberParsed, parsed.code) << c.text;
    EXPECT_LE(UlpDistance(c.value, parsed.value), c.ulps) << c.text;
  }
  double value = kUntouched;
  EXPECT_EQ(NumberParsed, ParseNumber(value, nullptr, 5, false));
  EXPECT_EQ(0.0, value) << "a null text is 0";
  EXPECT_EQ(NumberParsed, ParseNumber(value, "2048 trailing", 4, false));
  EXPECT_EQ(2048.0, value);
}

TEST(ParseNumber, FailuresLeaveTheResultUntouched) {
  for (const char* text : {"abc", "", "1.2,3", ".5", "+1", "1e-"}) {
    const TParsed parsed = Parse(text);
    EXPECT_EQ(NumberNotANumber, parsed.code) << text;
    EXPECT_EQ(kUntouched, parsed.value) << text;
  }
  // "12e" passes the syntax check, but its empty exponent part does not parse.
  EXPECT_EQ(NumberTooManyDigits, Parse("12e").code);
  EXPECT_EQ(kUntouched, Parse("12e").value);
}

TEST(ParseNumber, DigitLimits) {
  const std::string digits31 = "1234567890123456789012345678901";
  ASSERT_EQ(31u, digits31.size());
  TParsed parsed = Parse(digits31);
  EXPECT_EQ(NumberParsed, parsed.code);
  EXPECT_LE(UlpDistance(std::strtod(digits31.c_str(), nullptr), parsed.value), 1u);
  parsed = Parse(digits31 + "2");
  EXPECT_EQ(NumberTooManyDigits, parsed.code) << "32 digits";
  EXPECT_EQ(kUntouched, parsed.value);
  EXPECT_EQ(NumberTooManyDigits, Parse("-" + digits31).code) << "the minus counts as an integer digit";
  parsed = Parse("-" + digits31.substr(1));
  EXPECT_EQ(NumberParsed, parsed.code);
  EXPECT_LT(parsed.value, 0.0);
  // 31 integer digits with a fraction behind them are still 31.
  EXPECT_EQ(NumberParsed, Parse(digits31 + ".5").code);
  EXPECT_EQ(NumberTooManyDigits, Parse(digits31 + "2.5").code);

  const std::string fraction30 = "0." + std::string(29, '0') + "1";
  parsed = Parse(fraction30);
  EXPECT_EQ(NumberParsed, parsed.code);
  EXPECT_LE(UlpDistance(1e-30, parsed.value), 1u);
  EXPECT_EQ(NumberTooManyDigits, Parse(fraction30 + "1").code) << "31 digits after the separator";
  // The limits hold for each part of the exponent form; a failing part is -2, not -1.
  EXPECT_EQ(NumberTooManyDigits, Parse(digits31 + "2e1").code);
  EXPECT_EQ(NumberTooManyDigits, Parse("1e" + digits31 + "2").code);
  EXPECT_EQ(NumberParsed, Parse(digits31 + "e-20").code);
}

TEST(ParseNumber, ExponentLimits) {
  // Out of range gives the clamped value. The estimate goes by the mantissa's binary exponent:
  // 2e307 (2^1) lies above 307 already and 0.99e-307 (2^-1) below -307, while 1.99e307 and
  // 1.9e-307 (2^0) stay finite and normal.
  const struct {
    const char* text;
    int code;
    double value;
  } cases[] = {
      {"1e400", NumberOutOfRange, 1e307},  {"-1e400", NumberOutOfRange, -1e307}, {"1e-400", NumberOutOfRange, 0.0},
      {"-1e-400", NumberOutOfRange, 0.0},  {"0.99e-307", NumberOutOfRange, 0.0},   {"1e307", NumberParsed, 1e307},
      {"1e-307", NumberParsed, 1e-307},    {"1.99e307", NumberParsed, 1.99e307},   {"1.9e-307", NumberParsed, 1.9e-307},
  };
  for (const auto& c : cases) {
    const TParsed parsed = Parse(c.text);
    EXPECT_EQ(c.code, parsed.code) << c.text;
    if (c.code == NumberOutOfRange)
      EXPECT_EQ(c.value, parsed.value) << c.text;
    else
      EXPECT_LE(UlpDistance(c.value, parsed.value), 1u) << c.text;
  }
  EXPECT_TRUE(std::isnormal(Parse("1.9e-307").value));
  EXPECT_EQ(NumberOutOfRange, Parse("2e307").code);
  EXPECT_EQ(NumberOutOfRange, Parse("1" + std::string(30, '0') + "e300").code);
}

// Against the C library's correctly rounded conversion, over generated texts of up to 17
// significant digits and both exponent signs.
TEST(ParseNumber, WithinOneUnitInTheLastPlace) {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state](uint32_t bound) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state % bound);
  };
  uint64_t worst = 0;
  std::string worstText;
  for (int round = 0; round < 20000; ++round) {
    const uint32_t integerDigits = 1 + next(9);
    const uint32_t fractionDigits = next(17 - integerDigits);
    std::string text(1, static_cast<char>('1' + next(9)));
    for (uint32_t i = 1; i < integerDigits; ++i) text += static_cast<char>('0' + next(10));
    if (fractionDigits > 0) {
      text += '.';
      for (uint32_t i = 0; i < fractionDigits; ++i) text += static_cast<char>('0' + next(10));
    }
    if (next(2) != 0) {
      text += next(2) != 0 ? "e-" : "e";
      text += std::to_string(next(290));
    }
    const TParsed parsed = Parse(text);
    ASSERT_EQ(NumberParsed, parsed.code) << text;
    const uint64_t distance = UlpDistance(std::strtod(text.c_str(), nullptr), parsed.value);
    if (distance > worst) {
      worst = distance;
      worstText = text;
    }
  }
  EXPECT_LE(worst, 1u) << worstText;
}

#if !defined(_WIN32)  // the notices' text on standard error is the terminal presentation
// Every notice is shown in a process of its own: without a display the message window gets
// Escape, which is Cancel for a notice and snoozes the next ones for ten seconds.
class NumberNoticeTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

namespace {

[[noreturn]] void ParseAndExit(const char* text, int expectedCode) {
  double value = kUntouched;
  const int code = ParseNumber(value, text, static_cast<int32_t>(std::strlen(text)), true);
  std::error_code ignored;
  std::filesystem::remove_all(TestScratchFolder(), ignored);
  std::fflush(stderr);
  _exit(code == expectedCode ? 0 : 1);
}

}  // namespace

TEST_F(NumberNoticeTest, EachFailureShowsItsNotice) {
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
}

TEST_F(NumberNoticeTest, CancelSnoozesTheNextNotices) {
  auto twoFailures = [] {
    double value = kUntouched;
    ParseNumber(value, "abc", 3, true);
    const bool snoozed = NoticesSnoozed();
    const int second = ParseNumber(value, "1e400", 5, true);
    std::fputs(snoozed ? "snoozed\n" : "awake\n", stderr);
    std::error_code ignored;
    std::filesystem::remove_all(TestScratchFolder(), ignored);
    std::fflush(stderr);
    _exit(second == NumberOutOfRange && value == 1e307 ? 0 : 1);
  };
  // The second failure still returns its code and result, silently.
  EXPECT_EXIT(twoFailures(), ::testing::ExitedWithCode(0), "разделителями\\.\n[^П]*snoozed\n$");
}

#endif

TEST(ParseNumber, NoNoticeUnlessAsked) {
  testing::internal::CaptureStderr();
  Parse("abc");
  Parse("1e400");
  Parse("123456789012345678901234567890123");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}
