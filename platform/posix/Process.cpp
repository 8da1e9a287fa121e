// The process's command line and module.
//
// The command line is rebuilt from the arguments the way Windows would have passed them, so the
// program's own scanner of the command line works unchanged: each argument is converted from
// UTF-8 to UTF-16 without loss (a byte that is not part of valid UTF-8 becomes the lone unit
// 0xDC00 + byte, as names from the system do), each '/' becomes '\' except in the argument "/?"
// (so an absolute path such as /home/a/b.txt reaches the program as \home\a\b.txt and is not
// mistaken for an option), and an argument that is empty or holds a space, a tab or a double
// quote is enclosed in double quotes, with the escaping that Windows' argument rules undo:
// backslashes before a double quote are doubled and the quote itself gets a backslash;
// backslashes before the closing quote are doubled. The narrow command line is that text in
// code page 1251, '?' for a character the code page lacks.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>
#include "platform/Process.h"
#include "platform/posix/PosixInternal.h"

namespace {

std::mutex commandLineLock;
std::basic_string<WCHAR> wideCommandLine;
std::string commandLine;
bool commandLineSet = false;

using TWideText = std::basic_string<WCHAR>;

void AppendArgument(TWideText& line, const TWideText& argument) {
  if (!line.empty()) line.push_back(' ');
  const WCHAR kQuoted[] = {' ', '\t', '"', 0};
  if (!argument.empty() && argument.find_first_of(kQuoted) == TWideText::npos) {
    line += argument;
    return;
  }
  line.push_back('"');
  size_t backslashes = 0;
  for (WCHAR c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, WCHAR('\\'));
    backslashes = 0;
    line.push_back(c);
  }
  line.append(2 * backslashes, WCHAR('\\'));
  line.push_back('"');
}

void SetCommandLine(const std::vector<std::string>& arguments) {
  const WCHAR kUsageOption[] = {'/', '?', 0};
  TWideText line;
  for (const std::string& raw : arguments) {
    TWideText argument = Utf8ToWide(raw.data(), raw.size());
    if (argument != kUsageOption)
      for (WCHAR& c : argument)
        if (c == '/') c = '\\';
    AppendArgument(line, argument);
  }
  wideCommandLine = line;
  commandLine.clear();
  for (size_t i = 0; i < line.size();) {
    const uint32_t cp = DecodeUtf16(line.data(), line.size(), i);
    const int byte = cp >= 0xD800 && cp <= 0xDFFF ? -1 : UnicodeToCp1251(cp);
    commandLine.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  commandLineSet = true;
}

// The arguments the process was started with, when the entry did not hand them over.
void TakeArgumentsOfProcess() {
  if (commandLineSet) return;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  SetCommandLine(arguments);
}

struct TModule {
  int unused;
};
TModule thisModule;

// The module's path as a POSIX path; empty means the running executable (/proc/self/exe).
std::string modulePathOverride;

}  // namespace

void PosixSetModulePath(const char* posixPath) {
  std::lock_guard<std::mutex> guard(commandLineLock);
  modulePathOverride = posixPath != nullptr ? posixPath : "";
}

void PosixSetArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int k = 0; k < argc && argv[k] != nullptr; ++k) arguments.emplace_back(argv[k]);
  std::lock_guard<std::mutex> guard(commandLineLock);
  SetCommandLine(arguments);
}

LPSTR GetCommandLineA() {
  std::lock_guard<std::mutex> guard(commandLineLock);
  TakeArgumentsOfProcess();
  return &commandLine[0];
}

LPWSTR GetCommandLineW() {
  std::lock_guard<std::mutex> guard(commandLineLock);
  TakeArgumentsOfProcess();
  return &wideCommandLine[0];
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (lpModuleName != nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // only the program's own module is known
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(&thisModule);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr && hModule != reinterpret_cast<HMODULE>(&thisModule)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::string posixPath;
  {
    std::lock_guard<std::mutex> guard(commandLineLock);
    posixPath = modulePathOverride;
  }
  if (posixPath.empty()) {
    std::vector<char> target(4096);
    ssize_t length;
    for (;;) {
      length = readlink("/proc/self/exe", target.data(), target.size());
      if (length < 0) {
        SetLastErrorFromErrno(errno);
        return 0;
      }
      if (static_cast<size_t>(length) < target.size()) break;
      target.resize(target.size() * 2);
    }
    posixPath.assign(target.data(), static_cast<size_t>(length));
  }
  std::string narrow = SystemNameToNarrow(posixPath.c_str());
  if (nSize == 0 || lpFilename == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Windows' convention: a name that does not fit is cut, terminated, and nSize is returned.
  if (narrow.size() + 1 > nSize) {
    std::memcpy(lpFilename, narrow.data(), nSize - 1);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, narrow.c_str(), narrow.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(narrow.size());
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL GetProcessAffinityMask(HANDLE hProcess, PDWORD_PTR lpProcessAffinityMask, PDWORD_PTR lpSystemAffinityMask) {
  if (hProcess != GetCurrentProcess() || lpProcessAffinityMask == nullptr || lpSystemAffinityMask == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  const unsigned width = 8 * sizeof(DWORD_PTR);
  DWORD_PTR process = 0, system = 0;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  for (unsigned cpu = 0; cpu < width; ++cpu) {
    if (CPU_ISSET(cpu, &set)) process |= DWORD_PTR(1) << cpu;
    if (static_cast<long>(cpu) < online) system |= DWORD_PTR(1) << cpu;
  }
  *lpProcessAffinityMask = process;
  *lpSystemAffinityMask = system | process;
  return TRUE;
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  const char* value = lpName != nullptr ? std::getenv(lpName) : nullptr;
  if (value == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  std::string narrow;
  for (size_t i = 0, n = std::strlen(value); i < n;) {
    const int byte = UnicodeToCp1251(DecodeUtf8(value, n, i));
    narrow += byte > 0 ? static_cast<char>(byte) : '?';
  }
  if (lpBuffer == nullptr || nSize < narrow.size() + 1) return static_cast<DWORD>(narrow.size() + 1);
  std::memcpy(lpBuffer, narrow.c_str(), narrow.size() + 1);
  return static_cast<DWORD>(narrow.size());
}

void TakeProcessArguments(int argc, char** argv) { PosixSetArguments(argc, argv); }
namespace {

void (*quitCallback)() = nullptr;
volatile sig_atomic_t quitCaught = 0;

extern "C" void OnQuitSignal(int) {
  quitCaught = 1;
  if (quitCallback != nullptr) quitCallback();
  PosixRequestQuit();
}

const int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

bool QuitSignalCaught() { return quitCaught != 0; }

void CatchQuitSignals(void (*onQuit)()) {
  quitCallback = onQuit;
  struct sigaction action = {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read that blocks returns EINTR
  for (int signal : kQuitSignals) sigaction(signal, &action, nullptr);
}

void KeepQuitSignalsAway() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kQuitSignals) sigaddset(&set, signal);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}
void RestoreTerminal() { PosixRestoreTerminal(); }
