// The command line is cut at spaces outside double quotes. After the program's own name come
// options (tokens beginning with "-" or "/", compared byte for byte; an unknown one is named on
// standard error and ignored), then the source name. The words after an archive's name select the
// entries to restore, test or list; after a source to compress they change nothing and are
// named. The source is split into its folder
// part (up to the last backslash), base name and extension (after the last dot). A "pck"
// extension restores, a folder compresses, otherwise -uc restores and anything else compresses.
// The folder part becomes the current directory, so the job sees names relative to it.
#include "app/CommandLine.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "platform/win32.h"
#include "ui/Kernel.h"
#include "ui/Preobrazovaniechisel.h"
#include "ui/Toknosoobzheniy.h"

const char* const UsageText =
    "Command line usage:\r\n"
    "  [-c] [-uc] [filename]\r\n"
    "\r\n"
    "Description:\r\n"
    "  filename - Source file name\r\n"
    "  -c - Compress file\r\n"
    "  -uc - Decompress file\r\n"
    "  -s - Store files without compression\r\n"
    "  -h - Hidden mode\r\n"
    "  -o - Overwrite files\r\n"
    "  -w=n - Set window size to n bytes\r\n"
    "  -t - Test compressed file\r\n"
    "  -l - List compressed file\r\n"
    "  -d=FOLDER - Restore into, or compress into, FOLDER\r\n"
    "  filename.pck names... - Only the entries named (folders, * and ?)";
#define VELMORA_VERSION "1.2"
const char* const UsageCaption = "Velmora v" VELMORA_VERSION;

namespace {

// --help: the usage with every option's default, the names after an archive, the exit codes and
// the environment (the manual, docs/velmora.1, says the same at length).
const char HelpText[] =
    "Usage: velmora [options] source [names...]\n"
    "  A source ending in .pck is restored below its folder; a folder or a file is compressed into\n"
    "  NAME.pck beside it. An existing file is replaced only after a Yes, or with -o.\n"
    "\n"
    "Options (before the source, compared exactly):\n"
    "  -c          compress (the default for anything that is not an archive)\n"
    "  -uc         restore a source whose extension is not pck\n"
    "  -t          test an archive: decode and check every entry, write nothing\n"
    "  -l          list an archive\n"
    "  -d=FOLDER   restore below FOLDER, or write the archive into it (made when missing)\n"
    "  -o          replace existing files without asking\n"
    "  -s          store blocks without compression\n"
    "  -h          no progress window or line\n"
    "  -w=n        window (block size) for compressing, 1 to 67108864 bytes; default 2097152\n"
    "  /?          the usage in the message window;  --help, --version\n"
    "\n"
    "Names after an archive select the entries to restore, test or list: an entry, a folder, or a\n"
    "pattern with * and ? over the whole stored name; letters compare without regard to case.\n"
    "\n"
    "Exit codes: 0 done; 1 the source's folder is missing; 2 the output was kept, cannot be created\n"
    "or would be the source; 3 usage shown or no working buffer; 4 the job did not do all of its\n"
    "work (one line on standard error says which file and why); 10 not enough memory.\n"
    "\n"
    "VELMORA_THREADS=n sets the number of workers (1 to 64; default one per processor).\n"
    "More: man velmora\n";

}  // namespace

namespace {

const char kCompressedExtension[] = "pck";
const WCHAR kBackslash = '\\';

bool Is(const TWideName& token, const char* text) { return token == WidenedText(text); }

// The next space-separated token; the last one takes the whole rest.
void NextToken(TWideName& token, TWideName& rest) {
  if (!SplitAtFirst(token, rest, rest, ' ')) {
    token = rest;
    rest.clear();
  }
}

bool EndsInDots(const TWideName& name) {
  const size_t cut = name.rfind(kBackslash);
  const TWideName last = cut == TWideName::npos ? name : name.substr(cut + 1);
  return last == WidenedText(".") || last == WidenedText("..");
}

// The current directory, whatever its length; empty when the system cannot tell.
TWideName CurrentFolder() {
  for (DWORD need = GetCurrentDirectoryW(0, nullptr); need > 0;) {
    TWideName folder(need, WCHAR(0));
    const DWORD length = GetCurrentDirectoryW(need, &folder[0]);
    if (length < need) {
      folder.resize(length);
      return folder;
    }
    need = length;  // it grew meanwhile
  }
  return TWideName();
}

// A -d= folder relative to where the program was started, as an absolute name: the folder part of
// the source becomes the current directory before the restore opens it.
TWideName AbsoluteFolder(const TWideName& folder) {
  if (folder.empty() || folder[0] == kBackslash || folder.find(':') != TWideName::npos) return folder;
  TWideName here = CurrentFolder();
  if (here.empty()) return folder;
  if (here.back() != kBackslash) here.push_back(kBackslash);
  return here + folder;
}

// What the user probably meant by an option the program does not know: the same option in the
// case it has, the option other tools spell that way, or where the options are listed.
std::string OptionHint(const TWideName& token) {
  static const struct {
    const char* typed;
    const char* hint;
  } kHints[] = {
      {"--list", "-l lists an archive"},       {"-list", "-l lists an archive"},
      {"--test", "-t tests an archive"},       {"-test", "-t tests an archive"},
      {"-d", "-d=FOLDER names the folder"},   {"--directory", "-d=FOLDER names the folder"},
      {"-C", "-d=FOLDER names the folder"}, {"-w", "-w=n sets the window"},
      {"-x", "an archive is restored without an option"}, {"--extract", "an archive is restored without an option"},
      {"-f", "-o replaces without asking"},   {"--force", "-o replaces without asking"},
      {"--overwrite", "-o replaces without asking"}, {"-q", "-h shows no progress"},
      {"--quiet", "-h shows no progress"},    {"--store", "-s stores without compression"},
      {"-?", "/? or --help"},                 {"-help", "--help"},
      {"--usage", "--help"},                  {"-v", "--version"},
      {"-version", "--version"},
  };
  for (const auto& h : kHints)
    if (Is(token, h.typed)) return h.hint;
  // An option of the program in another case: options are compared exactly.
  static const char* const kOptions[] = {"-c", "-uc", "-h", "-o", "-s", "-t", "-l"};
  TWideName lower = token;
  for (WCHAR& c : lower)
    if (c >= 'A' && c <= 'Z') c = WCHAR(c - 'A' + 'a');
  for (const char* option : kOptions)
    if (lower != token && Is(lower, option)) return std::string("options are case-sensitive: ") + option;
  return "velmora --help lists them";
}

}  // namespace

int ReadCommandLineText(const TWideName& commandLine, TRunRequest& request) {
  TRunMode mode = RunUndecided;
  double windowSize = 2097152.0;
  bool hidden = false;
  bool askBeforeOverwrite = true;
  bool compression = true;
  bool usage = false;
  bool test = false;
  bool list = false;
  TWideName folder;

  TWideName token;
  TWideName rest = commandLine;
  if (!SplitAtFirst(token, rest, rest, ' ')) rest.clear();  // the program's name
  NextToken(token, rest);
  while (!token.empty() && (token[0] == '-' || token[0] == '/')) {
    if (Is(token, "-c")) {
      mode = RunCompress;
    } else if (Is(token, "-uc")) {
      mode = RunDecompress;
    } else if (Is(token, "-h")) {
      hidden = true;
    } else if (Is(token, "-o")) {
      askBeforeOverwrite = false;
    } else if (Is(token, "-s")) {
      compression = false;
    } else if (Is(token, "/?")) {
      usage = true;
    } else if (Is(token, "--help") || Is(token, "--version")) {
      // Terminal conventions beside "/?" (which keeps its window): printed on standard output, exit 0.
      if (Is(token, "--version"))
        std::printf("Velmora " VELMORA_VERSION "\n");
      else
        std::fputs(HelpText, stdout);
      std::fflush(stdout);
      return CommandLinePrinted;
    } else if (Is(token, "-t")) {
      test = true;
    } else if (Is(token, "-l")) {
      list = true;
    } else {
      TWideName option;
      TWideName value;
      const bool split = SplitAtFirst(option, value, token, '=');
      if (split && Is(option, "-d")) {
        folder = value;
        Unquote(folder);
      } else if (split && Is(option, "-w")) {
        // A value the reader refuses (its notice is shown) keeps the earlier size, also when it
        // clamps an out-of-range one; "-w=" is a null text to it and gives 0. The digits and
        // separators it reads are all in code page 1251; anything else becomes '?' and is refused.
        const TAnsiString narrow = FromWide(TWideString(value.c_str()));
        double parsed = 0.0;
        if (ParseNumber(parsed, narrow.Length() > 0 ? narrow.Data() : nullptr, static_cast<int32_t>(narrow.Length()),
                        true) == NumberParsed)
          windowSize = parsed;
      } else {
        ReportConsoleLine((ShownName(token) + " is not an option; ignored (" + OptionHint(token) + ")").c_str());
      }
    }
    NextToken(token, rest);
  }
  // Known before anything can fail: whether the run's windows are shown.
  request.hidden = hidden || list;  // a listing goes to standard output, with no progress line beside it
  TWideName name = token;
  Unquote(name);
  // Every word counts, an empty one ("" typed, or a script's unset variable) too: it selects nothing.
  std::vector<TWideName> words;
  while (!rest.empty()) {
    NextToken(token, rest);
    Unquote(token);
    words.push_back(token);
  }

  const bool isFolder = FolderExists(name);
  if (isFolder)
    while (!name.empty() && name.back() == kBackslash) name.pop_back();
  // "." and ".." (also at the end of a path) mean that folder by its real name.
  if (isFolder && EndsInDots(name)) {
    const TWideName real = ResolvedFolderName(name);
    if (!real.empty()) name = real;
  }
  TWideName folderPart;
  TWideName left;
  if (SplitAtLast(left, name, name, kBackslash)) folderPart = left + kBackslash;
  TWideName baseName = name;
  TWideName extension;
  if (SplitAtLast(left, extension, name, '.')) baseName = left;

  if (usage || baseName.empty()) {
    ShowNotice(UsageText, UsageCaption);
    return CommandLineUsageShown;
  }
  // Testing and listing read the source as an archive, whatever its name.
  if (Is(extension, kCompressedExtension) || test || list)
    mode = RunDecompress;
  else if (isFolder)
    mode = RunCompress;

  folder = AbsoluteFolder(folder);
  if (!folderPart.empty() && (!FolderExists(folderPart) || !SetCurrentDirectoryW(folderPart.c_str()))) {
    const DWORD error = GetLastError();
    const TWideName shown = folderPart.substr(0, folderPart.size() - 1);
    if (error == ERROR_NO_UNICODE_TRANSLATION)  // the cause is the name itself
      ReportSystemFailure(shown.c_str(), error);
    else
      ReportName(shown.c_str(), "the folder does not exist or cannot be entered");
    return CommandLineFolderMissing;
  }

  TWideName sourceName = baseName;
  if (!extension.empty()) sourceName += WCHAR('.') + extension;
  if (isFolder) sourceName += kBackslash;

  request.mode = mode == RunDecompress ? RunDecompress : RunCompress;
  request.isFolder = isFolder;
  request.sourceName = sourceName;
  request.outputName =
      request.mode == RunCompress ? baseName + WidenedText(".") + WidenedText(kCompressedExtension) : TWideName();
  request.windowSize = windowSize;
  request.askBeforeOverwrite = askBeforeOverwrite;
  request.compression = compression;
  request.test = test;
  request.list = list;
  request.folder = folder;
  request.selection = TSelection();
  for (const TWideName& word : words) {
    if (request.mode == RunDecompress)
      request.selection.Add(word);
    else
      ReportLine((ShownName(word) + ": only one source is compressed; words after it change nothing").c_str());
  }
  return CommandLineRun;
}

int ReadCommandLine(TRunRequest& request) { return ReadCommandLineText(TWideName(GetCommandLineW()), request); }
