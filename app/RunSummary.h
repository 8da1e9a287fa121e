// What a run tells at its end: files, sizes as people read them, the ratio, the time and the speed,
// on one line of standard error (logs read it too); and the human forms of sizes and counts that
// the listing's totals use.
#pragma once
#include <cstddef>
#include <cstdint>

// What a job did: entries written or restored or checked, and the bytes of the files they hold.
struct TRunTotals {
  uint32_t files = 0;
  uint64_t fileBytes = 0;
  uint64_t archiveBytes = 0;  // the archive's size, or as far as a restore read it
};

// 0 bytes, 912 bytes, 45.3 kB, 168.7 MB, 2.1 GB (decimal units, one decimal place).
void HumanSize(uint64_t bytes, char* out, size_t capacity);
// 5,881.
void GroupedNumber(uint64_t n, char* out, size_t capacity);
// "5,881 files, 168.7 MB -> 60.2 MB (2.80:1) in 3.1 s, 54 MB/s": the bytes the job read, then those
// it wrote (the files' then the archive's when compressing, the other way round otherwise); the
// ratio is the files' bytes to the archive's, the speed that of the files' bytes.
void SummaryText(const TRunTotals& totals, bool compressed, double seconds, char* out, size_t capacity);
