// Reading the process's command line: options, the source name, the mode of the run and the
// names it uses. The source's folder becomes the current directory.
#pragma once
#include <cstdint>

#include "app/Selection.h"
#include "foundation/Tstring.h"

enum TRunMode : int8_t {
  RunDecompress = -1,
  RunUndecided = 0,  // only while the options are read; an undecided run compresses
  RunCompress = 1,
};

// What the main routine carries out.
struct TRunRequest {
  TRunMode mode = RunCompress;
  bool isFolder = false;        // the source is an existing folder (sourceName then ends in "\")
  TWideName sourceName;         // relative to the current directory, which is the source's folder
  TWideName outputName;         // the compressed file to write; empty when restoring
  double windowSize = 2097152.0;  // -w=n; not range-checked here
  bool hidden = false;            // -h: no progress window
  bool askBeforeOverwrite = true; // cleared by -o
  bool compression = true;        // cleared by -s: every block is stored (the run's SetCompression)
  bool test = false;              // -t: the source is an archive to decode and check, not restore
  bool list = false;              // -l: the source is an archive to list
  TWideName folder;               // -d=FOLDER, absolute: where a restore writes, or the archive goes
  TSelection selection;           // the words after an archive's name: the entries to touch
};

// Exit codes that end the program without a run.
enum : int {
  CommandLineRun = 0,
  CommandLineFolderMissing = 1,  // the source's folder is missing or cannot be entered
  CommandLineUsageShown = 3,     // "/?", no source name or an empty base name
  CommandLinePrinted = -1,       // "--help" or "--version" printed on standard output; the run ends with exit 0
};

// The usage notice's text and caption.
extern const char* const UsageText;
extern const char* const UsageCaption;

// Reads GetCommandLineW(). Returns CommandLineRun with request filled, or the exit code 1 or 3.
int ReadCommandLine(TRunRequest& request);

// The same over a given command line (program name first, as Windows passes it). Every name on it
// keeps every character typed; the options are plain ASCII.
int ReadCommandLineText(const TWideName& commandLine, TRunRequest& request);
