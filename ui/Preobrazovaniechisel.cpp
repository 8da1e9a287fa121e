// Decimal number reader.
//
// Syntax: [-] digits [separator [digits]] [e|E [-] digits]. The text is cut at the first
// separator (the locale's one first, then the other) and at the first exponent mark ("e" first,
// then "E"); a separator after the mark is refused. A bare trailing mark and then a bare
// trailing separator are tolerated by the syntax check ("12e", "12."), but the exponent form
// parses mantissa and exponent separately, so "12e" fails there.
//
// Value: every digit is weighted with its power of ten, 2^(k log2 10) in extended precision,
// and added to an extended-precision sum that becomes a double at the end. At most 31 integer digits (a leading minus counts as one)
// and 30 fraction digits are taken, so every weight lies within 10^-30 .. 10^30. The exponent of
// the result is estimated from the binary exponent of the mantissa; outside -307 .. 307 the
// result is clamped to +-1e307 (or 0 for tiny values) and reported, so no infinity or subnormal
// ever comes out.
#include "ui/Preobrazovaniechisel.h"

#include <cmath>
#include <cstring>

#include "platform/win32.h"
#include "ui/Toknosoobzheniy.h"

char NumberChars[NumberCharsCount];

namespace {

int startupCounter = 1;

// "Строка не содержит цифр между разделителями."
const char kNotANumberNotice[] =
    "\xD1\xF2\xF0\xEE\xEA\xE0 \xED\xE5 \xF1\xEE\xE4\xE5\xF0\xE6\xE8\xF2 \xF6\xE8\xF4\xF0 "
    "\xEC\xE5\xE6\xE4\xF3 \xF0\xE0\xE7\xE4\xE5\xEB\xE8\xF2\xE5\xEB\xFF\xEC\xE8.";
// "Число выходит за допустимый диапазон значений."
const char kTooManyDigitsNotice[] =
    "\xD7\xE8\xF1\xEB\xEE \xE2\xFB\xF5\xEE\xE4\xE8\xF2 \xE7\xE0 \xE4\xEE\xEF\xF3\xF1\xF2\xE8\xEC\xFB\xE9 "
    "\xE4\xE8\xE0\xEF\xE0\xE7\xEE\xED \xE7\xED\xE0\xF7\xE5\xED\xE8\xE9.";
// "Порядок числа.\n Должен быть больше или равен -307 и меньше или равен 307."
const char kOutOfRangeNotice[] =
    "\xCF\xEE\xF0\xFF\xE4\xEE\xEA \xF7\xE8\xF1\xEB\xE0.\n \xC4\xEE\xEB\xE6\xE5\xED \xE1\xFB\xF2\xFC "
    "\xE1\xEE\xEB\xFC\xF8\xE5 \xE8\xEB\xE8 \xF0\xE0\xE2\xE5\xED -307 \xE8 \xEC\xE5\xED\xFC\xF8\xE5 "
    "\xE8\xEB\xE8 \xF0\xE0\xE2\xE5\xED 307.";

const int kLargestPower = 30;       // weight of the first of 31 integer digits
const int kLargestExponent = 307;   // decimal exponent limit of a result, both ways

// Position of the first byte equal to c in text[0 .. length), or -1.
int32_t FindFirst(const char* text, int32_t length, char c) {
  for (int32_t i = 0; i < length; ++i)
    if (text[i] == c) return i;
  return -1;
}

int32_t SeparatorPosition(const char* text, int32_t length) {
  const int32_t first = FindFirst(text, length, NumberChars[NumberFirstSeparator]);
  return first >= 0 ? first : FindFirst(text, length, NumberChars[NumberSecondSeparator]);
}

int32_t ExponentMarkPosition(const char* text, int32_t length) {
  const int32_t small = FindFirst(text, length, NumberChars[NumberExponentSmall]);
  return small >= 0 ? small : FindFirst(text, length, NumberChars[NumberExponentCapital]);
}

bool AllDigits(const char* text, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    if (std::memchr(NumberChars + NumberDigits, text[i], 10) == nullptr) return false;
  return true;
}

// 10^k as 2^(k log2 10) in extended precision (the x87 80-bit format with g++ on x86).
long double PowerOfTen(double k) {
  static const long double log2Of10 = 3.321928094887362347870319429489390175864831393L;
  return std::exp2(static_cast<long double>(k) * log2Of10);
}

int Report(int code, bool showNotices) {
  if (!showNotices) return code;
  if (code == NumberNotANumber) ShowNotice(kNotANumberNotice, nullptr);
  if (code == NumberTooManyDigits) ShowNotice(kTooManyDigitsNotice, nullptr);
  if (code == NumberOutOfRange) ShowNotice(kOutOfRangeNotice, nullptr);
  return code;
}

// Digits with an optional minus and separator (the syntax check has passed); false when a digit
// would be weighted outside 10^-30 .. 10^30.
bool AccumulateDigits(double& mantissa, const char* text, int32_t length) {
  const int32_t separator = SeparatorPosition(text, length);
  int32_t k = separator >= 0 ? separator - 1 : length - 1;
  // The limits are tested before the minus is skipped, so it takes the place of one integer digit.
  if (k > kLargestPower) return false;
  if (k - (length - (separator >= 0 ? 1 : 0)) + 1 < -kLargestPower) return false;
  int32_t position = 0;
  bool negative = false;
  if (length > 0 && text[0] == NumberChars[NumberMinus]) {
    negative = true;
    position = 1;
    --k;
  }
  // The sum stays in extended precision and is rounded once: rounding it to a double after every
  // digit would let the errors of up to 30 roundings add up to several units in the last place.
  long double sum = 0.0L;
  for (; position < length; ++position) {
    if (position == separator) continue;
    const int digit = static_cast<unsigned char>(text[position]) - static_cast<unsigned char>(NumberChars[NumberDigitBase]);
    sum += PowerOfTen(k) * digit;
    --k;
  }
  mantissa = static_cast<double>(negative ? -sum : sum);
  return true;
}

}  // namespace

bool IsNumberText(const char* text, int32_t length) {
  if (text == nullptr || length < 0) return false;
  const int32_t s = length > 0 && text[0] == NumberChars[NumberMinus] ? 1 : 0;
  const int32_t d = SeparatorPosition(text, length);
  const int32_t e = ExponentMarkPosition(text, length);
  if (d >= 0 && e >= 0 && d > e) return false;
  const int32_t integerLength = (d >= 0 ? d : e >= 0 ? e : length) - s;
  int32_t fractionLength = (e >= 0 ? e : length) - s - integerLength;  // separator included
  int32_t exponentLength = length - s - integerLength - fractionLength;  // mark included
  if (exponentLength == 1) exponentLength = 0;
  if (fractionLength == 1 && exponentLength == 0) fractionLength = 0;
  const int32_t exponentStart = s + integerLength + fractionLength;
  int32_t exponentSign = 0;
  if (exponentLength > 1 && text[exponentStart + 1] == NumberChars[NumberMinus]) {
    exponentSign = 1;
    --exponentLength;
  }
  if (integerLength < 1 || !AllDigits(text + s, integerLength)) return false;
  if (fractionLength > 0 && !AllDigits(text + s + integerLength + 1, fractionLength - 1)) return false;
  if (exponentLength > 0 &&
      (exponentLength < 2 || !AllDigits(text + exponentStart + 1 + exponentSign, exponentLength - 1)))
    return false;
  return true;
}

int ParseNumber(double& result, const char* text, int32_t length, bool showNotices) {
  if (text == nullptr) {
    result = 0.0;
    return NumberParsed;
  }
  if (!IsNumberText(text, length)) return Report(NumberNotANumber, showNotices);

  double mantissa = 0.0;
  double exponent = 0.0;
  const int32_t mark = ExponentMarkPosition(text, length);
  if (mark >= 0) {
    if (ParseNumber(mantissa, text, mark, false) != NumberParsed ||
        ParseNumber(exponent, text + mark + 1, length - mark - 1, false) != NumberParsed)
      return Report(NumberTooManyDigits, showNotices);
  } else if (!AccumulateDigits(mantissa, text, length)) {
    return Report(NumberTooManyDigits, showNotices);
  }

  if (mantissa == 0.0) {
    result = 0.0;
    return NumberParsed;
  }
  uint64_t bits;
  std::memcpy(&bits, &mantissa, sizeof bits);
  const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
  const double estimate = (biasedExponent - 1023) * 0.30102999566398120 + exponent;
  if (estimate < -kLargestExponent || estimate > kLargestExponent) {
    Report(NumberOutOfRange, showNotices);
    if (estimate > 0)
      result = mantissa > 0 ? 1e307 : -1e307;
    else
      result = 0.0;
    return NumberOutOfRange;
  }
  result = static_cast<double>(PowerOfTen(exponent) * mantissa);
  return NumberParsed;
}

void PreobrazovaniechiselStartup() {
  if (--startupCounter != 0) return;
  static const char defaults[NumberCharsCount + 1] = ",.eE-00123456789" "0123456789-,.eE";
  std::memcpy(NumberChars, defaults, NumberCharsCount);
  char separator[16] = {};
  const int got = GetLocaleInfoA(GetUserDefaultLCID(), LOCALE_SDECIMAL, separator, 16);
  if (got >= 1) {
    const bool comma = separator[0] == ',';
    NumberChars[NumberFirstSeparator] = comma ? ',' : '.';
    NumberChars[NumberSecondSeparator] = comma ? '.' : ',';
  }
}

void PreobrazovaniechiselShutdown() { ++startupCounter; }
