// Reading the command line: the options, the source name, the mode decision, the names of the
// run and the change of the current directory, first over raw command lines as Windows passes
// them, then over the process's own arguments as a shell passes them, which the platform turns
// into such a command line. Without a display the usage and number notices go to standard error.
#include <gtest/gtest.h>

#include <algorithm>

#include "AppTestSupport.h"
#include "app/CommandLine.h"

namespace {

struct TOutcome {
  int code = -100;
  TRunRequest request;
  std::string cwd;  // the current directory afterwards (POSIX form)
  std::string shown;  // standard error meanwhile
};

struct TExpected {
  TRunMode mode;
  bool isFolder;
  std::string source;
  std::string output;
  double window;
  bool hidden;
  bool ask;
};

const double kDefaultWindow = 2097152.0;

// The usage notice as the terminal presents it: caption, then the lines of the text.
const char kUsageShown[] =
    "\n== Velmora v1.2 ==\n"
    "Command line usage:\n"
    "  [-c] [-uc] [filename]\n"
    "\n"
    "Description:\n"
    "  filename - Source file name\n"
    "  -c - Compress file\n"
    "  -uc - Decompress file\n"
    "  -s - Store files without compression\n"
    "  -h - Hidden mode\n"
    "  -o - Overwrite files\n"
    "  -w=n - Set window size to n bytes\n"
    "  -t - Test compressed file\n"
    "  -l - List compressed file\n"
    "  -d=FOLDER - Restore into, or compress into, FOLDER\n"
    "  filename.pck names... - Only the entries named (folders, * and ?)\n";

// Notices reach standard error where the terminal presents them (the POSIX layer without a
// display); the Windows program draws them in their window.
#if defined(_WIN32)
const bool kNoticeText = false;
#else
const bool kNoticeText = true;
#endif

class CommandLineTest : public TScratchFolderTest {
 protected:
  void TearDown() override {
    RestoreProgramArguments();
    TScratchFolderTest::TearDown();
  }

  // The scratch folder's name inside the program: "\tmp\...\" ending in a backslash.
  const std::string& Root() const { return scratch.narrow; }

  TOutcome Read(const std::string& commandLine) {
    TOutcome outcome;
    Unsnooze();
    testing::internal::CaptureStderr();
    outcome.code = ReadCommandLineText(Wide(commandLine), outcome.request);
    outcome.shown = testing::internal::GetCapturedStderr();
    outcome.cwd = Cwd();
    return outcome;
  }
#if !defined(_WIN32)  // the process's arguments are the POSIX layer's
  TOutcome ReadArguments(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    PosixSetArguments(static_cast<int>(arguments.size()), argv.data());
    TOutcome outcome;
    Unsnooze();
    testing::internal::CaptureStderr();
    outcome.code = ReadCommandLine(outcome.request);
    outcome.shown = testing::internal::GetCapturedStderr();
    outcome.cwd = Cwd();
    return outcome;
  }

  // Both readings start in the scratch folder and must agree on everything they decide.
  TOutcome Same(const std::vector<std::string>& arguments, const std::string& windowsLine) {
    EXPECT_TRUE(ChangeFolder(scratch.system));
    const TOutcome fromArguments = ReadArguments(arguments);
    EXPECT_TRUE(ChangeFolder(scratch.system));
    const TOutcome fromLine = Read(windowsLine);
    EXPECT_TRUE(ChangeFolder(scratch.system));
    EXPECT_EQ(Text(TWideName(GetCommandLineW())), windowsLine);
    EXPECT_EQ(fromArguments.code, fromLine.code);
    EXPECT_EQ(fromArguments.cwd, fromLine.cwd);
    EXPECT_EQ(fromArguments.shown, fromLine.shown);
    if (fromArguments.code == CommandLineRun && fromLine.code == CommandLineRun) {
      const TRunRequest& a = fromArguments.request;
      const TRunRequest& b = fromLine.request;
      EXPECT_EQ(a.mode, b.mode);
      EXPECT_EQ(a.isFolder, b.isFolder);
      EXPECT_EQ(Text(a.sourceName), Text(b.sourceName));
      EXPECT_EQ(Text(a.outputName), Text(b.outputName));
      EXPECT_EQ(a.windowSize, b.windowSize);
      EXPECT_EQ(a.hidden, b.hidden);
      EXPECT_EQ(a.askBeforeOverwrite, b.askBeforeOverwrite);
    }
    return fromArguments;
  }

#endif

  static void ExpectRun(const TOutcome& outcome, const TExpected& e) {
    ASSERT_EQ(outcome.code, CommandLineRun) << outcome.shown;
    EXPECT_EQ(outcome.request.mode, e.mode);
    EXPECT_EQ(outcome.request.isFolder, e.isFolder);
    EXPECT_EQ(Text(outcome.request.sourceName), e.source);
    EXPECT_EQ(Text(outcome.request.outputName), e.output);
    EXPECT_EQ(outcome.request.windowSize, e.window);
    EXPECT_EQ(outcome.request.hidden, e.hidden);
    EXPECT_EQ(outcome.request.askBeforeOverwrite, e.ask);
  }
  static void ExpectUsage(const TOutcome& outcome) {
    EXPECT_EQ(outcome.code, CommandLineUsageShown);
    if (kNoticeText) {
      EXPECT_EQ(outcome.shown.rfind(kUsageShown, 0), 0u) << outcome.shown;
    }
  }
};

// ---- Raw command lines, as Windows hands them to the program ----

#if !defined(_WIN32)
TEST_F(CommandLineTest, UsageNoticeTextAndCaption) {
  const TOutcome outcome = Read("velmora.exe /?");
  EXPECT_EQ(outcome.code, CommandLineUsageShown);
  // The text's CR LF pairs are its line breaks; OK and Cancel follow, the terminal's answer is
  // Cancel.
  ASSERT_EQ(outcome.shown.rfind(kUsageShown, 0), 0u) << outcome.shown;
  const std::string buttons = outcome.shown.substr(sizeof kUsageShown - 1);
  EXPECT_NE(buttons.find("OK"), std::string::npos) << buttons;
  EXPECT_NE(buttons.find("Cancel"), std::string::npos) << buttons;
  EXPECT_EQ(buttons.find('\n'), buttons.size() - 1) << buttons;
  EXPECT_TRUE(NoticesSnoozed());
  // While notices are snoozed the usage is not shown, and the exit code is 3 all the same.
  TRunRequest request;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ReadCommandLineText(Wide("velmora.exe"), request), CommandLineUsageShown);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
#endif

// Each line is read in the scratch folder: the run it decides (or the usage, when `run` is
// empty), the current directory afterwards and whether -s asked for stored blocks.
TEST_F(CommandLineTest, RawLinesDecideTheRun) {
  for (const char* name : {"my file.txt", "data.txt", "archive.pck", "archive.PCK2", ".profile", "x.tar.gz"}) File(name);
  for (const char* name : {"somefolder", "backup.pck", "my.album", "sub"}) Folder(name);
  File("sub/report.txt");
  const double w = kDefaultWindow;
  const TExpected usage{}, report{RunCompress, false, "report.txt", "report.pck", w, false, true};
  const struct {
    std::string line;
    TExpected run;
    std::string cwd = "";  // a folder of the scratch folder, when the run changes into it
    bool store = false;
  } cases[] = {
      // Only the program's name, or a name of backslashes only (a folder name alone is no source).
      {"velmora.exe", usage}, {"\"C:\\Program Files\\Velmora\\velmora.exe\"", usage}, {"velmora.exe   ", usage},
      {"\"C:\\Program Files\\Velmora\\velmora.exe\"    ", usage}, {"", usage}, {"velmora.exe \\", usage},
      {"velmora.exe \\\\\\\\", usage}, {"velmora.exe \"\\\\\"", usage}, {"velmora.exe nosuch\\", usage},
      // The usage wins over a name; "/?" after the name is no option.
      {"velmora.exe /? data.txt", usage}, {"velmora.exe -h /? -o data.txt", usage},
      {"velmora.exe data.txt /?", {RunCompress, false, "data.txt", "data.pck", w, false, true}},
      // A name made only of a dot and its extension is no name.
      {"velmora.exe .profile", usage}, {"velmora.exe -h .profile", usage},
      {"velmora.exe \"my file.txt\"", {RunCompress, false, "my file.txt", "my file.pck", w, false, true}},
      {"\"C:\\Program Files\\Velmora\\velmora.exe\" \"my file.txt\"",
       {RunCompress, false, "my file.txt", "my file.pck", w, false, true}},
      {"velmora.exe    \"my file.txt\"   ", {RunCompress, false, "my file.txt", "my file.pck", w, false, true}},
      // Unquoted, the space ends the name and the rest of the line is ignored.
      {"velmora.exe my file.txt", {RunCompress, false, "my", "my.pck", w, false, true}},
      {"velmora.exe -o -h data.txt -c", {RunCompress, false, "data.txt", "data.pck", w, true, false}},
      // Options after the name have no effect.
      {"velmora.exe data.txt -uc -h -o -w=4096 -s", {RunCompress, false, "data.txt", "data.pck", w, false, true}},
      {"velmora.exe -c archive.pck", {RunDecompress, false, "archive.pck", "", w, false, true}},
      {"velmora.exe -uc somefolder", {RunCompress, true, "somefolder\\", "somefolder.pck", w, false, true}},
      {"velmora.exe -uc data.txt", {RunDecompress, false, "data.txt", "", w, false, true}},
      {"velmora.exe -uc -c data.txt", {RunCompress, false, "data.txt", "data.pck", w, false, true}},
      // -s asks the run to store its blocks.
      {"velmora.exe -s data.txt", {RunCompress, false, "data.txt", "data.pck", w, false, true}, "", true},
      // A folder with the extension is restored too; the comparison is case-sensitive.
      {"velmora.exe backup.pck", {RunDecompress, true, "backup.pck\\", "", w, false, true}},
      {"velmora.exe archive.PCK", {RunCompress, false, "archive.PCK", "archive.pck", w, false, true}},
      // A name that does not exist is decided by its text alone.
      {"velmora.exe -c missing.pck", {RunDecompress, false, "missing.pck", "", w, false, true}},
      {"velmora.exe x.tar.gz", {RunCompress, false, "x.tar.gz", "x.tar.pck", w, false, true}},
      {"velmora.exe x.tar.pck", {RunDecompress, false, "x.tar.pck", "", w, false, true}},
      {"velmora.exe noext", {RunCompress, false, "noext", "noext.pck", w, false, true}},
      // A trailing dot leaves an empty extension: the name loses its dot.
      {"velmora.exe dot.", {RunCompress, false, "dot", "dot.pck", w, false, true}},
      // A folder's extension goes as well: my.album\ is compressed into my.pck.
      {"velmora.exe my.album", {RunCompress, true, "my.album\\", "my.pck", w, false, true}},
      // Names keep every character typed, in any script.
      {"velmora.exe \"отчёт.txt\"", {RunCompress, false, "отчёт.txt", "отчёт.pck", w, false, true}},
      {"velmora.exe 日本.txt", {RunCompress, false, "日本.txt", "日本.pck", w, false, true}},
      // A file in another folder makes that folder current; only the backslash separates folders.
      {"velmora.exe sub\\report.txt", report, "sub"},
      {"velmora.exe -o \"" + Root() + "sub\\report.txt\"", {RunCompress, false, "report.txt", "report.pck", w, false, false},
       "sub"},
      {"velmora.exe sub/report.txt", {RunCompress, false, "sub/report.txt", "sub/report.pck", w, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(ChangeFolder(scratch.system));
    const TOutcome outcome = Read(c.line);
    if (c.run.source.empty())
      ExpectUsage(outcome);
    else
      ExpectRun(outcome, c.run);
    if (outcome.code == CommandLineRun) {
      EXPECT_EQ(outcome.request.compression, !c.store);
    }
    EXPECT_EQ(outcome.cwd, c.cwd.empty() ? scratch.system : Path(c.cwd));
  }
}

// Unknown options are ignored, each with one line that names it and what the user probably
// meant; options are compared byte for byte.
TEST_F(CommandLineTest, OptionsAreComparedByteForByte) {
  File("x.txt");
  const TExpected plain{RunCompress, false, "x.txt", "x.pck", kDefaultWindow, false, true};
  const struct {
    const char* options;
    const char* shown;
  } cases[] = {
      {"-H", "-H is not an option; ignored (options are case-sensitive: -h)"},
      {"-O", "-O is not an option; ignored (options are case-sensitive: -o)"},
      {"-UC", "-UC is not an option; ignored (options are case-sensitive: -uc)"},
      {"-S", "-S is not an option; ignored (options are case-sensitive: -s)"},
      {"-hh", "-hh is not an option; ignored (velmora --help lists them)"},
      {"/h", "/h is not an option; ignored (velmora --help lists them)"},
      {"-W=5", "-W=5 is not an option; ignored (velmora --help lists them)"},
      {"-w5", "-w5 is not an option; ignored (velmora --help lists them)"},
      {"-wx=5", "-wx=5 is not an option; ignored (velmora --help lists them)"},
      {"--list", "--list is not an option; ignored (-l lists an archive)"},
      {"-d", "-d is not an option; ignored (-d=FOLDER names the folder)"},
      {"-x", "-x is not an option; ignored (an archive is restored without an option)"},
      {"--force", "--force is not an option; ignored (-o replaces without asking)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const TOutcome outcome = Read(std::string("velmora.exe ") + c.options + " x.txt");
    ExpectRun(outcome, plain);
    EXPECT_EQ(outcome.shown, std::string("velmora: ") + c.shown + "\n");
    EXPECT_TRUE(outcome.request.compression);
  }
  // A token loses its enclosing quotes when it is cut off: a quoted option is still one.
  ExpectRun(Read("velmora.exe \"-h\" x.txt"), {RunCompress, false, "x.txt", "x.pck", kDefaultWindow, true, true});
}

// A value the number reader refuses (its notices are its own tests') leaves the window as it was:
// the default, or an earlier -w; out of range, the reader's clamped value is not taken either.
TEST_F(CommandLineTest, WindowOption) {
  const struct {
    const char* line;
    double window;
    bool notice;
  } cases[] = {
      {"velmora.exe -w=65536 x", 65536.0, false},
      {"velmora.exe -w=4096 -w=8192 x", 8192.0, false},  // a later one replaces an earlier one
      {"velmora.exe -w=1.5 x", 1.5, false},
      {"velmora.exe -w=1,5 x", 1.5, false},  // both separators in any locale
      {"velmora.exe -w=-5 x", -5.0, false},  // no range check here
      {"velmora.exe -w=2e3 x", 2000.0, false},
      {"velmora.exe -w= x", 0.0, false},  // an empty value gives 0
      {"velmora.exe -w=4096 -w= x", 0.0, false},
      {"velmora.exe -w=1=2 x", kDefaultWindow, true},
      {"velmora.exe -w=abc x", kDefaultWindow, true},
      {"velmora.exe -w=65536 -w=abc x", 65536.0, true},
      {"velmora.exe -w=1e400 x", kDefaultWindow, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const TOutcome outcome = Read(c.line);
    ExpectRun(outcome, {RunCompress, false, "x", "x.pck", c.window, false, true});
    if (kNoticeText) {
      EXPECT_EQ(c.notice, outcome.shown.find("== Error ==") != std::string::npos) << outcome.shown;
    }
  }
}

TEST_F(CommandLineTest, FolderWithAndWithoutTrailingBackslashes) {
  Folder("data");
  Folder("data/photos");
  File("data/photos/a.jpg");
  const TExpected photos{RunCompress, true, "photos\\", "photos.pck", kDefaultWindow, false, true};
  for (const std::string& name : {Root() + "data\\photos\\", Root() + "data\\photos", Root() + "data\\photos\\\\\\",
                                  std::string("data\\photos"), std::string("data\\photos\\"),
                                  "\"" + Root() + "data\\photos\\\""}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(ChangeFolder(scratch.system));
    const TOutcome outcome = Read("velmora.exe " + name);
    ExpectRun(outcome, photos);
    EXPECT_EQ(outcome.cwd, Path("data"));
  }
  // A folder in the current directory keeps it.
  ASSERT_TRUE(ChangeFolder(Path("data")));
  TOutcome outcome = Read("velmora.exe photos\\");
  ExpectRun(outcome, photos);
  EXPECT_EQ(outcome.cwd, Path("data"));
}

TEST_F(CommandLineTest, MissingFolderPartGivesOneAndNamesTheFolder) {
  File("data.txt");
  const std::string tail = ": the folder does not exist or cannot be entered\n";
  for (const std::pair<std::string, std::string>& run :
       {std::make_pair(std::string("velmora.exe nosuch\\x.txt"), std::string("nosuch")),
        std::make_pair("velmora.exe " + Root() + "nosuch\\x.pck", Root() + "nosuch"),
        std::make_pair(std::string("velmora.exe data.txt\\x.txt"), std::string("data.txt")),
        std::make_pair(std::string("velmora.exe -h \"no such\\my file.txt\""), std::string("no such"))}) {
    SCOPED_TRACE(run.first);
    const TOutcome outcome = Read(run.first);
    EXPECT_EQ(outcome.code, CommandLineFolderMissing);
    std::string folder = run.second;  // shown with the system's separator
#if !defined(_WIN32)
    std::replace(folder.begin(), folder.end(), '\\', '/');
#endif
    EXPECT_EQ(outcome.shown, "velmora: " + folder + tail);
    EXPECT_EQ(outcome.cwd, scratch.system);
  }
}

#if !defined(_WIN32)
// ---- The process's arguments, as a shell passes them ----

TEST_F(CommandLineTest, ArgumentsLeadToTheSameDecisions) {
  for (const char* name : {"my file.txt", "data.txt", "x.txt"}) File(name);
  for (const char* name : {"some folder", "data", "data/photos", "data/my photos", "фото", "café"}) Folder(name);
  File("data/photos/a.jpg");
  const std::string program = "/opt/my tools/velmora";
  const std::string programLine = "\"\\opt\\my tools\\velmora\"";
  const double w = kDefaultWindow;
  const TExpected photos{RunCompress, true, "photos\\", "photos.pck", w, false, true};
  const TExpected none{};
  const struct {
    std::vector<std::string> arguments;
    std::string line;  // the command line Windows would have passed
    int code;
    TExpected run;
    std::string cwd;  // the current directory afterwards, inside the scratch folder
  } cases[] = {
      {{program}, programLine, CommandLineUsageShown, none, ""},
      {{program, Path("my file.txt")}, programLine + " \"" + Root() + "my file.txt\"", CommandLineRun,
       {RunCompress, false, "my file.txt", "my file.pck", w, false, true}, ""},
      // A name made of two words is one argument; quoting it again is up to the platform.
      {{"velmora", "my file.txt"}, "velmora \"my file.txt\"", CommandLineRun,
       {RunCompress, false, "my file.txt", "my file.pck", w, false, true}, ""},
      {{"velmora", "-uc", Path("some folder")}, "velmora -uc \"" + Root() + "some folder\"", CommandLineRun,
       {RunCompress, true, "some folder\\", "some folder.pck", w, false, true}, ""},
      // An empty argument is a quoted empty token: an empty source name.
      {{"velmora", ""}, "velmora \"\"", CommandLineUsageShown, none, ""},
      {{"velmora", Path("data/photos/")}, "velmora " + Root() + "data\\photos\\", CommandLineRun, photos, "/data"},
      {{"velmora", "data/photos//"}, "velmora data\\photos\\\\", CommandLineRun, photos, "/data"},
      // A quoted folder with a trailing slash reaches the program with its backslash doubled
      // before the closing quote; the trailing backslashes of a folder go all the same.
      {{"velmora", Path("data/my photos/")}, "velmora \"" + Root() + "data\\my photos\\\\\"", CommandLineRun,
       {RunCompress, true, "my photos\\", "my photos.pck", w, false, true}, "/data"},
      // A UTF-8 name keeps every character: фото, café.
      {{"velmora", "фото"}, "velmora фото", CommandLineRun, {RunCompress, true, "фото\\", "фото.pck", w, false, true}, ""},
      {{"velmora", "café"}, "velmora café", CommandLineRun, {RunCompress, true, "café\\", "café.pck", w, false, true}, ""},
      // The root alone is a name of backslashes only.
      {{"velmora", "/"}, "velmora \\", CommandLineUsageShown, none, ""},
      {{"velmora", Path("nosuch/x.txt")}, "velmora " + Root() + "nosuch\\x.txt", CommandLineFolderMissing, none, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const TOutcome outcome = Same(c.arguments, c.line);
    if (c.code == CommandLineRun)
      ExpectRun(outcome, c.run);
    else if (c.code == CommandLineUsageShown)
      ExpectUsage(outcome);
    else
      EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.cwd, scratch.system + c.cwd);
  }
}

#endif

}  // namespace
