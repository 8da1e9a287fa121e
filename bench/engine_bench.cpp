// Block compression benchmark, in memory. For a file or every file of a folder (default: the
// corpus) it cuts the data into blocks of the window, compresses and restores every block several
// times and reports sizes, median speeds and the peak resident memory, next to zlib level 6,
// zstd level 3 and lz4 run on the same blocks in the same process, and the speed of the literal
// reference match search.
//   engine_bench [file or folder] [-w=window] [-r=runs] [--no-reference]
//   engine_bench --rss file [-w=window]
// After the table of the first form comes a section of generated inputs of 8 MiB each (random
// bytes, a four-letter alphabet, long runs, short repeated patterns) with our compression speed
// on each next to the speed on the files; --no-pathological leaves it out.
// The second form measures what the program itself holds: it streams the file through one
// window-sized input buffer and one output area (as the file job does), compresses and restores
// each block, and reports the peak resident memory of that alone.
// bench/make_mixed_file.sh builds a large mixed file from the machine's own files.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ReferenceSearch.h"
#include "bench/BenchTiming.h"
#include "engine/Compression.h"
#include "engine/Kodirovaniechisel.h"
#include "engine/Matematicheskieoperacii.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciisostrokami.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

typedef std::vector<uint8_t> Bytes;

long PeakResidentKiB() {
  long peak = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::atol(line + 6);
    std::fclose(f);
  }
  if (peak == 0) {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    peak = u.ru_maxrss;
  }
  return peak;
}

Bytes ReadFile(const std::string& path) {
  Bytes d;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return d;
  uint8_t buf[1 << 16];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + got);
  std::fclose(f);
  return d;
}

std::vector<std::string> ListFiles(const std::string& path) {
  std::vector<std::string> files;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return files;
  if (!S_ISDIR(st.st_mode)) {
    files.push_back(path);
    return files;
  }
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == ".." || name == "README.md") continue;
      std::string full = path + "/" + name;
      if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(full);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// One codec over a list of blocks: compress every block, restore every block.
struct SCodec {
  const char* name;
  std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)> compress;  // 0 = failure
  std::function<size_t(const uint8_t*, size_t, uint8_t*, size_t)> decompress;
  std::function<size_t(size_t)> bound;
};

struct SResult {
  uint64_t in = 0, out = 0;
  std::vector<double> compressSeconds, decompressSeconds;
  bool ok = true;
};

// Adds runs runs of one codec over the blocks to r.
void MeasureInto(SResult& r, const SCodec& codec, const std::vector<Bytes>& blocks, uint32_t window, int runs) {
  std::vector<Bytes> packed(blocks.size());
  Bytes restored(2ull * window + 64);
  r.in = 0;
  for (const Bytes& b : blocks) r.in += b.size();
  for (int run = 0; run < runs; ++run) {
    double t0 = Now();
    uint64_t out = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
      packed[i].resize(codec.bound(blocks[i].size()));
      size_t len = codec.compress(blocks[i].data(), blocks[i].size(), packed[i].data(), packed[i].size());
      if (len == 0 && !blocks[i].empty()) r.ok = false;
      packed[i].resize(len);
      out += len;
    }
    double t1 = Now();
    for (size_t i = 0; i < blocks.size(); ++i) {
      size_t len = codec.decompress(packed[i].data(), packed[i].size(), restored.data(), restored.size());
      if (len != blocks[i].size() || std::memcmp(restored.data(), blocks[i].data(), len) != 0) r.ok = false;
    }
    double t2 = Now();
    r.out = out;
    r.compressSeconds.push_back(t1 - t0);
    r.decompressSeconds.push_back(t2 - t1);
  }
}

SResult Measure(const SCodec& codec, const std::vector<Bytes>& blocks, uint32_t window, int runs) {
  SResult r;
  MeasureInto(r, codec, blocks, window, runs);
  return r;
}

std::vector<SCodec> Codecs() {
  std::vector<SCodec> c;
  c.push_back({"velmora",
               [](const uint8_t* s, size_t n, uint8_t* d, size_t) -> size_t {
                 uint32_t len = 0;
                 if (n == 0) return 0;
                 return CompressBlock(d, len, s, uint32_t(n)) ? len : 0;
               },
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 uint32_t len = uint32_t(cap);
                 return DecompressBlock(d, len, s, uint32_t(n)) ? len : size_t(-1);
               },
               [](size_t n) -> size_t { return size_t(CompressBoundFor(uint32_t(n))); }});
  c.push_back({"zlib-6",
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 uLongf len = cap;
                 return compress2(d, &len, s, n, 6) == Z_OK ? len : 0;
               },
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 uLongf len = cap;
                 return uncompress(d, &len, s, n) == Z_OK ? len : size_t(-1);
               },
               [](size_t n) -> size_t { return compressBound(n); }});
  c.push_back({"zstd-3",
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 size_t len = ZSTD_compress(d, cap, s, n, 3);
                 return ZSTD_isError(len) ? 0 : len;
               },
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 size_t len = ZSTD_decompress(d, cap, s, n);
                 return ZSTD_isError(len) ? size_t(-1) : len;
               },
               [](size_t n) -> size_t { return ZSTD_compressBound(n); }});
  c.push_back({"lz4",
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 return size_t(LZ4_compress_default(reinterpret_cast<const char*>(s), reinterpret_cast<char*>(d), int(n), int(cap)));
               },
               [](const uint8_t* s, size_t n, uint8_t* d, size_t cap) -> size_t {
                 int len = LZ4_decompress_safe(reinterpret_cast<const char*>(s), reinterpret_cast<char*>(d), int(n), int(cap));
                 return len < 0 ? size_t(-1) : size_t(len);
               },
               [](size_t n) -> size_t { return size_t(LZ4_compressBound(int(n))); }});
  return c;
}

double MBps(uint64_t bytes, double seconds) { return seconds > 0 ? bytes / 1e6 / seconds : 0; }

// Streams path through the compressor block by block; 0 on success.
int StreamForResidentMemory(const std::string& path, uint32_t window) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 2;
  }
  uint8_t* input = nullptr;
  uint8_t* output = nullptr;
  uint8_t* restored = nullptr;
  Create(input, window);
  Create(output, uint32_t(CompressBoundFor(window)));
  // The restore side gets an output area of the same size as the compression side, as in the
  // program: a block's pre-pass output, which the decoder rebuilds first, may exceed the window.
  Create(restored, uint32_t(CompressBoundFor(window)));
  if (!input || !output || !restored) {
    std::fprintf(stderr, "no memory for the buffers\n");
    return 2;
  }
  uint64_t in = 0, out = 0;
  double compressSeconds = 0, decompressSeconds = 0;
  bool ok = true;
  size_t got;
  while ((got = std::fread(input, 1, window, f)) > 0) {
    uint32_t len = 0;
    double t0 = Now();
    ok = CompressBlock(output, len, input, uint32_t(got)) && ok;
    double t1 = Now();
    uint32_t back = uint32_t(CompressBoundFor(window));
    ok = DecompressBlock(restored, back, output, len) && back == got && std::memcmp(restored, input, got) == 0 && ok;
    decompressSeconds += Now() - t1;
    compressSeconds += t1 - t0;
    in += got;
    out += len;
  }
  std::fclose(f);
  std::printf("%s: %llu -> %llu bytes (ratio %.3f), window %u, compression %.1f MB/s, decompression %.1f MB/s%s\n",
              path.c_str(), (unsigned long long)in, (unsigned long long)out, out ? double(in) / out : 0.0, window,
              MBps(in, compressSeconds), MBps(in, decompressSeconds), ok ? "" : ", ROUND TRIP FAILED");
  std::printf("peak resident memory: %.1f MiB\n", PeakResidentKiB() / 1024.0);
  Free(restored);
  Free(output);
  Free(input);
  return ok ? 0 : 1;
}

// Generated inputs that stress a match finder: no matches at all, matches everywhere, runs
// longer than any bucket, and periods shorter than a machine word.
struct SGenerated {
  const char* name;
  Bytes data;
};

std::vector<SGenerated> PathologicalInputs() {
  const size_t n = 8u << 20;
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::vector<SGenerated> inputs;
  Bytes random(n);
  for (size_t i = 0; i < n; ++i) random[i] = uint8_t(next() >> 24);
  inputs.push_back({"random", random});
  Bytes letters(n);
  const char* alphabet = "ACGT";
  for (size_t i = 0; i < n; ++i) letters[i] = uint8_t(alphabet[(next() >> 30) & 3]);
  inputs.push_back({"4-letter", letters});
  Bytes runs;
  runs.reserve(n);
  while (runs.size() < n) {
    size_t length = 200 + next() % 5000;
    runs.insert(runs.end(), std::min(length, n - runs.size()), uint8_t(next() >> 40));
  }
  inputs.push_back({"long runs", runs});
  Bytes patterns;
  patterns.reserve(n);
  while (patterns.size() < n) {
    // A pattern of 2 to 17 bytes repeated over 64 KiB, then the next one.
    uint8_t pattern[17];
    size_t period = 2 + next() % 16;
    for (size_t k = 0; k < period; ++k) pattern[k] = uint8_t(next() >> 32);
    for (size_t k = 0; k < 65536 && patterns.size() < n; ++k) patterns.push_back(pattern[k % period]);
  }
  inputs.push_back({"short patterns", patterns});
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = VELMORA_CORPUS_DIR;
  uint32_t window = 2097152;
  int runs = 5;
  bool reference = true;
  bool residentOnly = false;
  bool pathological = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("-w=", 0) == 0) {
      window = uint32_t(std::strtoul(a.c_str() + 3, nullptr, 10));
    } else if (a.rfind("-r=", 0) == 0) {
      runs = std::max(1, std::atoi(a.c_str() + 3));
    } else if (a == "--no-reference") {
      reference = false;
    } else if (a == "--no-pathological") {
      pathological = false;
    } else if (a == "--rss") {
      residentOnly = true;
    } else {
      path = a;
    }
  }
  if (window == 0) {
    std::fprintf(stderr, "window must be positive\n");
    return 2;
  }
  std::vector<std::string> files = ListFiles(path);
  if (files.empty()) {
    std::fprintf(stderr, "no files in %s\n", path.c_str());
    return 2;
  }
  OperaciispamyatyuStartup();
  MemdiagStartup();
  OperaciisostrokamiStartup();
  MatematicheskieoperaciiStartup();
  KodirovaniechiselStartup();
  CompressionStartup();
  if (residentOnly) return StreamForResidentMemory(path, window);

  std::vector<SCodec> codecs = Codecs();
  std::vector<std::vector<SResult>> results(codecs.size());
  std::vector<std::string> names;
  std::vector<std::vector<Bytes>> allBlocks;
  for (const std::string& f : files) {
    Bytes data = ReadFile(f);
    std::vector<Bytes> blocks;
    for (size_t at = 0; at < data.size(); at += window)
      blocks.emplace_back(data.begin() + at, data.begin() + std::min(data.size(), at + size_t(window)));
    allBlocks.push_back(blocks);
    names.push_back(f.substr(f.find_last_of('/') + 1));
  }
  // The codecs take turns, a run each, so that a noisy stretch of the machine falls on all of them
  // alike. Ours goes first, so that the peak resident memory after its first run is its own.
  for (size_t c = 0; c < codecs.size(); ++c) results[c].resize(allBlocks.size());
  for (int run = 0; run < runs; ++run) {
    for (size_t c = 0; c < codecs.size(); ++c) {
      for (size_t f = 0; f < allBlocks.size(); ++f) MeasureInto(results[c][f], codecs[c], allBlocks[f], window, 1);
      if (run == 0 && c == 0) {
        std::printf("peak resident memory after a velmora run: %.1f MiB\n", PeakResidentKiB() / 1024.0);
      }
    }
  }

  std::printf("window %u, %d runs, median speeds in MB/s (10^6 bytes of input per second)\n\n", window, runs);
  std::printf("%-16s %10s %10s %6s %8s %8s | %7s %7s %7s | %7s %7s %7s\n", "file", "in", "out", "ratio",
              "comp", "decomp", "zlib6", "zstd3", "lz4", "zlib c", "zstd c", "lz4 c");
  std::vector<SResult> totals(codecs.size());
  for (size_t c = 0; c < codecs.size(); ++c) {
    totals[c].compressSeconds.assign(runs, 0);
    totals[c].decompressSeconds.assign(runs, 0);
    for (const SResult& r : results[c]) {
      totals[c].in += r.in;
      totals[c].out += r.out;
      totals[c].ok = totals[c].ok && r.ok;
      for (int k = 0; k < runs; ++k) {
        totals[c].compressSeconds[k] += r.compressSeconds[k];
        totals[c].decompressSeconds[k] += r.decompressSeconds[k];
      }
    }
  }
  auto row = [&](const std::string& name, const std::vector<const SResult*>& r) {
    const SResult& ours = *r[0];
    double oc = MBps(ours.in, Median(ours.compressSeconds));
    double od = MBps(ours.in, Median(ours.decompressSeconds));
    std::printf("%-16s %10llu %10llu %6.3f %8.1f %8.1f |", name.c_str(), (unsigned long long)ours.in,
                (unsigned long long)ours.out, ours.out ? double(ours.in) / ours.out : 0.0, oc, od);
    for (size_t c = 1; c < r.size(); ++c) std::printf(" %7.3f", r[c]->out ? double(ours.out) / r[c]->out : 0.0);
    std::printf(" |");
    for (size_t c = 1; c < r.size(); ++c) std::printf(" %7.3f", oc / MBps(r[c]->in, Median(r[c]->compressSeconds)));
    std::printf("%s\n", ours.ok ? "" : "  ROUND TRIP FAILED");
  };
  for (size_t f = 0; f < files.size(); ++f) {
    std::vector<const SResult*> r;
    for (size_t c = 0; c < codecs.size(); ++c) r.push_back(&results[c][f]);
    row(names[f], r);
  }
  std::vector<const SResult*> t;
  for (size_t c = 0; c < codecs.size(); ++c) t.push_back(&totals[c]);
  row("TOTAL", t);
  std::printf("(zlib6/zstd3/lz4: our size / theirs; zlib c ...: our compression speed / theirs)\n\n");

  std::printf("%-8s %10s %6s %10s %10s %12s %12s\n", "codec", "out", "ratio", "comp MB/s", "dec MB/s",
              "ours/c comp", "ours/c dec");
  double oc = MBps(totals[0].in, Median(totals[0].compressSeconds));
  double od = MBps(totals[0].in, Median(totals[0].decompressSeconds));
  for (size_t c = 0; c < codecs.size(); ++c) {
    double cc = MBps(totals[c].in, Median(totals[c].compressSeconds));
    double cd = MBps(totals[c].in, Median(totals[c].decompressSeconds));
    std::printf("%-8s %10llu %6.3f %10.1f %10.1f %12.3f %12.3f%s\n", codecs[c].name,
                (unsigned long long)totals[c].out, double(totals[c].in) / totals[c].out, cc, cd, oc / cc,
                od / cd, totals[c].ok ? "" : "  ROUND TRIP FAILED");
  }

  if (reference) {
    // The literal reference search over the same blocks' pre-pass output: its tokens must equal
    // the finder's. Timed on its own, against our whole compression.
    double refSeconds = 0;
    uint64_t in = 0;
    bool same = true;
    for (const auto& blocks : allBlocks) {
      for (const Bytes& b : blocks) {
        Bytes prePass(2 * b.size() + 1);
        uint32_t S = 0;
        RunLengthPack(prePass.data(), S, b.data(), uint32_t(b.size()));
        SReferenceTokens ref, ours;
        const double t0 = Now();
        ReferenceSearch(prePass.data(), S, ref);
        refSeconds += Now() - t0;
        same = same && FinderSearch(prePass.data(), S, ours) && ours.flags == ref.flags &&
               ours.distancesMinusOne == ref.distancesMinusOne && ours.lengthsMinusOne == ref.lengthsMinusOne;
        in += b.size();
      }
    }
    std::printf("\nreference search: %.1f MB/s (ours %.1f MB/s, %.2fx); tokens %s\n", MBps(in, refSeconds), oc,
                oc / MBps(in, refSeconds), same ? "identical" : "DIFFER");
  }
  if (pathological) {
    std::printf("\ngenerated inputs, window %u, %d runs: our compression next to the files' %.1f MB/s\n", window, runs,
                oc);
    std::printf("%-16s %10s %10s %8s %8s %10s %8s\n", "input", "in", "out", "comp", "decomp", "/ files", "zlib6 c");
    for (const SGenerated& g : PathologicalInputs()) {
      std::vector<Bytes> blocks;
      for (size_t at = 0; at < g.data.size(); at += window)
        blocks.emplace_back(g.data.begin() + at, g.data.begin() + std::min(g.data.size(), at + size_t(window)));
      SResult r = Measure(codecs[0], blocks, window, runs);
      SResult z = Measure(codecs[1], blocks, window, 1);
      double c = MBps(r.in, Median(r.compressSeconds));
      std::printf("%-16s %10llu %10llu %8.1f %8.1f %10.3f %8.1f%s\n", g.name, (unsigned long long)r.in,
                  (unsigned long long)r.out, c, MBps(r.in, Median(r.decompressSeconds)), oc > 0 ? c / oc : 0.0,
                  MBps(z.in, Median(z.compressSeconds)), r.ok ? "" : "  ROUND TRIP FAILED");
    }
    std::printf("(/ files: our compression speed on the input / on the files above)\n");
  }
  std::printf("peak resident memory of the whole run: %.1f MiB\n", PeakResidentKiB() / 1024.0);

  CompressionShutdown();
  KodirovaniechiselShutdown();
  MatematicheskieoperaciiShutdown();
  OperaciisostrokamiShutdown();
  MemdiagShutdown();
  OperaciispamyatyuShutdown();
  return 0;
}
