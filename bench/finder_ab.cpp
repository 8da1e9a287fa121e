// Match finder A/B, in one process: the finder of this tree against a baseline finder taken from
// another revision (bench/finder_ab.sh extracts it into namespace baseline_matchfinder). Every
// block of the file is pre-passed once; then, run after run, both finders parse every block in
// their own work areas, alternating which goes first. Their tokens must be identical. Reports the
// median MB/s (of source bytes) of each finder per part of the file and over the whole file.
//   finder_ab file [-w=window] [-r=runs] [--parts=name:MiB,name:MiB,...] [--only=ours|base]
// --parts names consecutive parts by their end in MiB (the last part ends at the file's end).
// --only runs one finder alone (for hardware counters around the whole process); the other's
// column then shows 0.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// What a finder of any revision expects to find declared before it: the work layout and the
// byte loads (a revision before they had headers of their own took them from Compression.h).
#include "engine/BlockFormat.h"
#include "foundation/LittleEndian.h"

#include "baseline/MatchFinder.h"
#include "bench/BenchTiming.h"
#include "engine/MatchFinder.h"

namespace {

struct SBlock {
  uint32_t n = 0, S = 0;
  std::vector<uint8_t> prePass;
  size_t part = 0;
};

struct SPart {
  std::string name;
  uint64_t end = 0;  // bytes
  uint64_t bytes = 0;
};

// One finder's own work area, sized for the largest block, and its parse of the last block.
struct SRunner {
  std::vector<uint8_t> area;
  uint32_t N = 0, M = 0;
  template <typename TFind>
  double Parse(const SBlock& b, TFind find) {
    const SCompressWork work = CompressWorkLayout(area.data(), b.S);
    const uint64_t keyAreaBytes = KeyAreaBytes(b.S);
    const double start = Now();
    if (!find(b.prePass.data(), b.S, work, keyAreaBytes, N, M)) {
      std::fprintf(stderr, "the finder's tables do not fit\n");
      std::exit(1);
    }
    return Now() - start;
  }
  bool SameTokens(const SRunner& o, uint32_t S) const {
    const SCompressWork a = CompressWorkLayout(const_cast<uint8_t*>(area.data()), S);
    const SCompressWork b = CompressWorkLayout(const_cast<uint8_t*>(o.area.data()), S);
    return N == o.N && M == o.M && std::memcmp(a.flags, b.flags, N) == 0 &&
           std::memcmp(a.distances, b.distances, 4ull * M) == 0 && std::memcmp(a.lengths, b.lengths, 4ull * M) == 0;
  }
};

// One line of the table: MB/s of each finder (0 when it did not run) and their ratio.
void Report(const std::string& name, uint64_t bytes, const std::vector<double>& ours, const std::vector<double>& base) {
  const double o = Median(ours), b = Median(base);
  const double oursSpeed = o > 0 ? bytes / 1e6 / o : 0, baseSpeed = b > 0 ? bytes / 1e6 / b : 0;
  std::printf("%-12s %10.1f %12.2f %12.2f %8.3f\n", name.c_str(), bytes / 1048576.0, oursSpeed, baseSpeed,
              oursSpeed > 0 && baseSpeed > 0 ? oursSpeed / baseSpeed : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  uint32_t window = 2097152;
  int runs = 5;
  std::vector<SPart> parts;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("-w=", 0) == 0) {
      window = static_cast<uint32_t>(std::strtoul(a.c_str() + 3, nullptr, 10));
    } else if (a.rfind("-r=", 0) == 0) {
      runs = std::atoi(a.c_str() + 3);
    } else if (a.rfind("--only=", 0) == 0) {
      only = a.substr(7);
    } else if (a.rfind("--parts=", 0) == 0) {
      std::string list = a.substr(8) + ",";
      for (size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1) {
        const std::string item = list.substr(at, comma - at);
        const size_t colon = item.find(':');
        if (colon == std::string::npos) continue;
        parts.push_back({item.substr(0, colon), uint64_t(std::atof(item.c_str() + colon + 1) * 1048576), 0});
      }
    } else {
      path = a;
    }
  }
  if (path.empty() || window == 0 || runs < 1 || (only != "" && only != "ours" && only != "base")) {
    std::fprintf(stderr, "usage: finder_ab file [-w=window] [-r=runs] [--parts=name:MiB,...] [--only=ours|base]\n");
    return 2;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "%s cannot be read\n", path.c_str());
    return 1;
  }
  std::vector<SBlock> blocks;
  std::vector<uint8_t> chunk(window);
  uint64_t offset = 0;
  uint32_t largestS = 0;
  if (parts.empty() || parts.back().end != UINT64_MAX) parts.push_back({parts.empty() ? "file" : "rest", UINT64_MAX, 0});
  for (size_t got; (got = std::fread(chunk.data(), 1, window, f)) > 0; offset += got) {
    SBlock b;
    b.n = static_cast<uint32_t>(got);
    b.prePass.resize(2ull * got);
    RunLengthPack(b.prePass.data(), b.S, chunk.data(), b.n);
    while (offset >= parts[b.part].end) ++b.part;
    parts[b.part].bytes += got;
    largestS = std::max(largestS, b.S);
    blocks.push_back(std::move(b));
  }
  std::fclose(f);

  SRunner ours, base;
  ours.area.assign(CompressWorkAreaSize(largestS), 0);
  base.area.assign(CompressWorkAreaSize(largestS), 0);
  // seconds[finder][part][run]
  std::vector<std::vector<std::vector<double>>> seconds(2, std::vector<std::vector<double>>(parts.size()));
  for (int run = 0; run < runs; ++run) {
    std::vector<std::vector<double>> sum(2, std::vector<double>(parts.size(), 0));
    for (const SBlock& b : blocks) {
      for (int turn = 0; turn < 2; ++turn) {
        const bool oursTurn = (turn + run) % 2 == 0;
        if (only != "" && oursTurn != (only == "ours")) continue;
        if (oursTurn)
          sum[0][b.part] += ours.Parse(b, matchfinder::FindMatches);
        else
          sum[1][b.part] += base.Parse(b, baseline_matchfinder::FindMatches);
      }
      if (only == "" && !ours.SameTokens(base, b.S)) {
        std::fprintf(stderr, "the finders disagree on the block of part %s\n", parts[b.part].name.c_str());
        return 1;
      }
    }
    for (int k = 0; k < 2; ++k)
      for (size_t p = 0; p < parts.size(); ++p) seconds[k][p].push_back(sum[k][p]);
  }
  std::printf("%-12s %10s %12s %12s %8s   (median of %d runs%s)\n", "part", "MiB", "ours MB/s", "base MB/s",
              "ratio", runs, only == "" ? ", identical tokens" : ", one finder only");
  std::vector<double> totalOurs(runs, 0), totalBase(runs, 0);
  uint64_t totalBytes = 0;
  for (size_t p = 0; p < parts.size(); ++p) {
    if (parts[p].bytes == 0) continue;
    for (int r = 0; r < runs; ++r) {
      totalOurs[r] += seconds[0][p][r];
      totalBase[r] += seconds[1][p][r];
    }
    totalBytes += parts[p].bytes;
    Report(parts[p].name, parts[p].bytes, seconds[0][p], seconds[1][p]);
  }
  Report("whole", totalBytes, totalOurs, totalBase);
  return 0;
}
