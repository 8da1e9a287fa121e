// Bit scans map to the processor's scan instruction through the compiler builtins. The rounding
// routines work in the default round-to-nearest mode and never change the floating-point mode,
// so "leave the unit in round-to-nearest" holds trivially.
#include "engine/Matematicheskieoperacii.h"

#include <cmath>

void MatematicheskieoperaciiStartup() {}
void MatematicheskieoperaciiShutdown() {}

double Absolute(double x) { return std::fabs(x); }

double SignedPower(double x, double y) {
  if (x == 0.0) return 0.0;
  // 2^(y log2|x|), split into an integer power of two and a fractional part in [-0.5, 0.5]
  // so that exp2 works on a small argument and the scale is exact.
  double t = y * std::log2(std::fabs(x));
  double whole = std::nearbyint(t);
  double fraction = t - whole;
  double result;
  if (whole > 4096.0) {
    result = HUGE_VAL;
  } else if (whole < -4096.0) {
    result = 0.0;
  } else {
    result = std::ldexp(std::exp2(fraction), static_cast<int>(whole));
  }
  return x < 0.0 ? -result : result;
}

static bool FitsInt32(double x) { return x >= -2147483648.0 && x < 2147483648.0; }

int32_t RoundToInt(double x) {
  double r = std::nearbyint(x);
  if (!FitsInt32(r)) return INT32_MIN;
  return static_cast<int32_t>(r);
}

int32_t FloorToInt(double x) {
  double r = std::floor(x);
  if (!FitsInt32(r)) return INT32_MIN;
  return static_cast<int32_t>(r);
}
