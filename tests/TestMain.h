// What the shared test main (tests/TestMain.cpp) offers the tests of every layer.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32.h"

// A UTF-16 text as the platform's wide calls take it (WCHAR is wchar_t on Windows).
using TWideText = std::basic_string<WCHAR>;

// A private temporary folder (the system's path, no trailing slash) that lives as long as the test
// program. On Linux the program's module is a file inside it, so the code-page table file is made
// there; on Windows the module is the test program itself.
const std::string& TestScratchFolder();
// Makes the POSIX layer see programPath (POSIX path) as the module, started by the name startedAs
// (programPath when null), with one further argument when given.
void SetTestProgram(const std::string& programPath, const char* argument = nullptr, const char* startedAs = nullptr);
// The test program's own arguments again, after a test set others.
void RestoreProgramArguments();
// An environment variable of the process set (or removed, when value is null) for the object's
// lifetime, and put back as it was afterwards.
class TScopedEnvironment {
 public:
  TScopedEnvironment(const char* name, const char* value);
  ~TScopedEnvironment();
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

 private:
  std::string name_, old_;
  bool hadValue_;
};
// Makes one folder (POSIX path on Linux, the system's on Windows); false when it cannot.
bool MakeFolder(const std::string& path);

// A whole file's bytes, read or written at once.
using TBytes = std::vector<uint8_t>;
inline TBytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline void WriteAll(const std::filesystem::path& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
