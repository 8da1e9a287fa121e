// Timing helpers shared by the bench programs: a monotonic clock in seconds and the median of
// several runs.
#pragma once
#include <algorithm>
#include <chrono>
#include <vector>

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
