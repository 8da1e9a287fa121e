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
#include <cstring>
#include <vector>

#include "app/CompressEntry.h"
#include "app/Reports.h"
#include "app/RestoreEntry.h"
#include "app/RunControl.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "engine/Compression.h"
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
    "  -d=FOLDER - Restore into FOLDER\r\n"
    "  filename.pck names... - Only the entries named (folders, * and ?)";
const char* const UsageCaption = "Velmora v1.2";

namespace {

const char kCompressedExtension[] = "pck";

bool Is(const TAnsiString& token, const char* text) { return Equal(token, TAnsiString(text)); }

// The next space-separated token; the last one takes the whole rest.
void NextToken(TAnsiString& token, TAnsiString& rest) {
  if (!SplitAtFirst(token, rest, rest, ' ')) {
    token = rest;
    rest = TAnsiString();
  }
}

char LastByte(const TAnsiString& text) { return text.Length() > 0 ? text.Data()[text.Length() - 1] : 0; }

bool EndsInDots(const TAnsiString& name) {
  const char* text = TextOf(name);
  const char* last = std::strrchr(text, '\\');
  last = last != nullptr ? last + 1 : text;
  return std::strcmp(last, ".") == 0 || std::strcmp(last, "..") == 0;
}

}  // namespace

int ReadCommandLineText(const TAnsiString& commandLine, TRunRequest& request) {
  TRunMode mode = RunUndecided;
  double windowSize = 2097152.0;
  bool hidden = false;
  bool askBeforeOverwrite = true;
  bool usage = false;
  bool test = false;
  bool list = false;
  TAnsiString restoreFolder;

  TAnsiString token;
  TAnsiString rest = commandLine;
  if (!SplitAtFirst(token, rest, rest, ' ')) rest = TAnsiString();  // the program's name
  NextToken(token, rest);
  while (token.Length() > 0 && (token.Data()[0] == '-' || token.Data()[0] == '/')) {
    if (Is(token, "-c")) {
      mode = RunCompress;
    } else if (Is(token, "-uc")) {
      mode = RunDecompress;
    } else if (Is(token, "-h")) {
      hidden = true;
    } else if (Is(token, "-o")) {
      askBeforeOverwrite = false;
    } else if (Is(token, "-s")) {
      SetCompression(false);
    } else if (Is(token, "/?")) {
      usage = true;
    } else if (Is(token, "--help") || Is(token, "--version")) {
      // Terminal conventions beside "/?" (which keeps its window): printed on standard output, exit 0.
      if (Is(token, "--version")) {
        std::printf("Velmora 1.2\n");
      } else {
        for (const char* c = UsageText; *c != 0; ++c)
          if (*c != '\r') std::putchar(*c);
        std::putchar('\n');
      }
      std::fflush(stdout);
      return CommandLinePrinted;
    } else if (Is(token, "-t")) {
      test = true;
    } else if (Is(token, "-l")) {
      list = true;
    } else {
      TAnsiString option;
      TAnsiString value;
      const bool split = SplitAtFirst(option, value, token, '=');
      if (split && Is(option, "-d")) {
        restoreFolder = value;
        Unquote(restoreFolder);
      } else if (split && Is(option, "-w")) {
        // A value the reader refuses (its notice is shown) keeps the earlier size, also when it
        // clamps an out-of-range one; "-w=" is a null text to it and gives 0.
        double parsed = 0.0;
        if (ParseNumber(parsed, value.Length() > 0 ? value.Data() : nullptr, static_cast<int32_t>(value.Length()),
                        true) == NumberParsed)
          windowSize = parsed;
      } else {
        char line[600];
        char shown[512];
        NameAsUtf8(TextOf(token), shown, sizeof shown);
        std::snprintf(line, sizeof line, "%s is not an option; ignored (velmora --help lists them)", shown);
        ReportConsoleLine(line);
      }
    }
    NextToken(token, rest);
  }
  TAnsiString name = token;
  Unquote(name);
  std::vector<TAnsiString> words;
  while (rest.Length() > 0) {
    NextToken(token, rest);
    Unquote(token);
    if (token.Length() > 0) words.push_back(token);
  }

  const bool isFolder = FolderExists(name);
  if (isFolder)
    while (LastByte(name) == '\\') name.SetLength(name.Length() - 1);
  // "." and ".." (also at the end of a path) mean that folder by its real name.
  if (isFolder && EndsInDots(name)) {
    const TAnsiString real = ResolvedFolderName(name);
    if (real.Length() > 0) name = real;
  }
  TAnsiString folderPart;
  TAnsiString left;
  if (SplitAtLast(left, name, name, '\\')) folderPart = Concatenate(left, TAnsiString("\\"));
  TAnsiString baseName = name;
  TAnsiString extension;
  if (SplitAtLast(left, extension, name, '.')) baseName = left;

  if (usage || baseName.Length() == 0) {
    ShowNotice(UsageText, UsageCaption);
    return CommandLineUsageShown;
  }
  // Testing and listing read the source as an archive, whatever its name.
  if (Is(extension, kCompressedExtension) || test || list)
    mode = RunDecompress;
  else if (isFolder)
    mode = RunCompress;

  // The restore folder is named from where the program was started, which stops being the current
  // directory below.
  if (restoreFolder.Length() > 0 && restoreFolder.Data()[0] != '\\' && std::strchr(restoreFolder.Data(), ':') == nullptr) {
    char here[MAX_PATH * 4];
    const DWORD length = GetCurrentDirectoryA(sizeof here, here);
    if (length > 0 && length < sizeof here) {
      TAnsiString absolute(here);
      if (LastByte(absolute) != '\\') absolute = Concatenate(absolute, TAnsiString("\\"));
      restoreFolder = Concatenate(absolute, restoreFolder);
    }
  }
  if (folderPart.Length() > 0 && (!FolderExists(folderPart) || !SetCurrentDirectoryA(folderPart.Data()))) {
    ReportFailure(Substring(folderPart, 1, int32_t(folderPart.Length()) - 1).Data(),
                  "the folder does not exist or cannot be entered");
    return CommandLineFolderMissing;
  }

  TAnsiString sourceName = baseName;
  if (extension.Length() > 0) sourceName = Concatenate(Concatenate(sourceName, TAnsiString(".")), extension);
  if (isFolder) sourceName = Concatenate(sourceName, TAnsiString("\\"));

  request.mode = mode == RunDecompress ? RunDecompress : RunCompress;
  request.isFolder = isFolder;
  request.sourceName = sourceName;
  request.outputName = request.mode == RunCompress
                           ? Concatenate(Concatenate(baseName, TAnsiString(".")), TAnsiString(kCompressedExtension))
                           : TAnsiString();
  request.windowSize = windowSize;
  request.hidden = hidden || list;  // a listing goes to standard output, with no progress line beside it
  request.askBeforeOverwrite = askBeforeOverwrite;
  request.test = test;
  request.list = list;
  request.restoreFolder = restoreFolder;
  request.selection = TSelection();
  for (const TAnsiString& word : words) {
    if (request.mode == RunDecompress) {
      request.selection.Add(word);
    } else {
      char shown[512], line[640];
      NameAsUtf8(TextOf(word), shown, sizeof shown);
      std::snprintf(line, sizeof line, "%s: only one source is compressed; words after it change nothing", shown);
      ReportLine(line);
    }
  }
  return CommandLineRun;
}

int ReadCommandLine(TRunRequest& request) { return ReadCommandLineText(TAnsiString(GetCommandLineA()), request); }
