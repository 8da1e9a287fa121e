// Reading a decimal number typed by the user: an optional leading minus, an integer part, an
// optional fraction after "." or "," (the user's locale decides which one is looked for first)
// and an optional exponent after "e" or "E". Failures are result codes, each with a Russian
// notice when the caller asks for one.
#pragma once
#include <cstdint>

// Positions in NumberChars.
enum : int {
  NumberFirstSeparator = 0,   // the locale's decimal separator, "," or "."
  NumberSecondSeparator = 1,  // the other one
  NumberExponentSmall = 2,    // "e"
  NumberExponentCapital = 3,  // "E"
  NumberMinus = 4,            // "-"
  NumberDigitBase = 5,        // "0": a digit's value is its code minus this
  NumberDigits = 6,           // "0" to "9" (10 entries), the digit set of the syntax check
  NumberInputSet = 16,        // "0" to "9", "-", ",", ".", "e", "E": characters a number field takes
  NumberCharsCount = 31,
};

// Built at start-up from the user's locale; read-only afterwards.
extern char NumberChars[NumberCharsCount];

// Result codes of ParseNumber.
enum : int {
  NumberParsed = 0,
  NumberNotANumber = -1,    // the syntax check failed
  NumberTooManyDigits = -2, // more than 31 integer or 30 fraction digits, or a part of the exponent form failed
  NumberOutOfRange = -3,    // the decimal exponent of the result lies outside -307 .. 307
};

// The syntax check: exactly `length` bytes of text are read (no terminator needed).
bool IsNumberText(const char* text, int32_t length);

// Converts `length` bytes of text. result is written for NumberParsed (also 0.0 for a null text)
// and for NumberOutOfRange (+-1e307 or 0.0); it is left untouched otherwise. With showNotices
// each failure is reported through ShowNotice.
int ParseNumber(double& result, const char* text, int32_t length, bool showNotices);

void PreobrazovaniechiselStartup();
void PreobrazovaniechiselShutdown();
