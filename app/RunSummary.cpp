// Sizes, counts and the summary line as people read them.
#include "app/RunSummary.h"

#include <cstdio>

void HumanSize(uint64_t bytes, char* out, size_t capacity) {
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB", "PB"};
  if (bytes < 1000) {
    std::snprintf(out, capacity, "%llu %s", static_cast<unsigned long long>(bytes), bytes == 1 ? "byte" : "bytes");
    return;
  }
  // Whole tenths of the unit, rounded half up, in integers: floating point would decide a border
  // case such as 999,950 bytes differently where the processor keeps wider intermediates.
  // (Divided before the half is added, so that no size near 2^64 wraps.)
  const auto rounded = [bytes](uint64_t tenth) { return bytes / tenth + (bytes % tenth >= tenth / 2 ? 1 : 0); };
  uint64_t tenth = 100;  // a tenth of a kB
  size_t unit = 0;
  while (rounded(tenth) >= 10000 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    tenth *= 1000;
    ++unit;
  }
  const uint64_t tenths = rounded(tenth);
  std::snprintf(out, capacity, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                static_cast<unsigned long long>(tenths % 10), kUnits[unit]);
}

void GroupedNumber(uint64_t n, char* out, size_t capacity) {
  char digits[24];
  const int length = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(n));
  size_t at = 0;
  for (int i = 0; i < length && at + 1 < capacity; ++i) {
    if (i > 0 && (length - i) % 3 == 0 && at + 2 < capacity) out[at++] = ',';
    out[at++] = digits[i];
  }
  if (capacity > 0) out[at < capacity ? at : capacity - 1] = 0;
}

void SummaryText(const TRunTotals& totals, bool compressed, double seconds, char* out, size_t capacity) {
  char count[32], fromText[32], toText[32], speed[32];
  GroupedNumber(totals.files, count, sizeof count);
  HumanSize(compressed ? totals.fileBytes : totals.archiveBytes, fromText, sizeof fromText);
  HumanSize(compressed ? totals.archiveBytes : totals.fileBytes, toText, sizeof toText);
  // An archive that came out larger than its files shows a ratio below 1.
  char ratio[32] = "";
  if (totals.archiveBytes > 0)
    std::snprintf(ratio, sizeof ratio, " (%.2f:1)", double(totals.fileBytes) / double(totals.archiveBytes));
  if (seconds < 0.001) seconds = 0.001;
  HumanSize(uint64_t(double(totals.fileBytes) / seconds), speed, sizeof speed);
  std::snprintf(out, capacity, "%s %s, %s -> %s%s in %.1f s, %s/s", count, totals.files == 1 ? "file" : "files",
                fromText, toText, ratio, seconds, speed);
}
