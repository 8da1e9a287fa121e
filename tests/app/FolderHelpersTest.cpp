// The file and folder questions, the creation of the folders of a file path with its two kinds
// of failure notice, and the display of the system's reason for the last error. Without a
// display the notices reach standard error as the terminal presents the message window.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "AppTestSupport.h"
#include "app/Operaciisfaylamiipapkami.h"
#include "app/Sistemniesoobzheniya.h"

namespace {

// The system's text for the current last error, as the terminal would show it: without its
// final line break, in UTF-8. Empty when the system has none (the last error then changes).
std::string SystemReasonShown() {
  const DWORD code = GetLastError();
  WCHAR* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0x400,
                                 reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::basic_string<WCHAR> kept;
  for (DWORD i = 0; i < n; ++i)
    if (text[i] >= 0x20 || text[i] == '\t') kept.push_back(text[i]);
  if (text != nullptr) LocalFree(text);
  char utf8[4096] = "";
  const int length =
      kept.empty() ? 0 : WideCharToMultiByte(CP_UTF8, 0, kept.data(), int(kept.size()), utf8, sizeof utf8, nullptr, nullptr);
  const std::string shown(utf8, length > 0 ? size_t(length) : 0);
  if (n > 0) {
    EXPECT_EQ(GetLastError(), code);
  }
  return shown;
}

const char kUnusableNameShown[] = "\n== Ошибка ==\nНе удаётся создать папку. Имя неправильное.\n";
const char kSystemCaptionShown[] = "\n== Системное сообщение ==\n";

class FolderHelpersTest : public TScratchFolderTest {
 protected:
  bool IsFolder(const std::string& name) const {
    struct stat s;
    return stat(Path(name).c_str(), &s) == 0 && S_ISDIR(s.st_mode);
  }
  std::set<std::string> Entries(const std::string& folder = "") const {
    std::set<std::string> names;
    if (DIR* d = opendir(folder.empty() ? scratch.system.c_str() : Path(folder).c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  // CreateFolderPath with errors shown; returns its result and leaves what was shown in `shown`.
  bool CreateShown(const char* path, std::string& shown) {
    Unsnooze();
    testing::internal::CaptureStderr();
    const bool made = CreateFolderPath(Wide(path), true);
    shown = testing::internal::GetCapturedStderr();
    return made;
  }

  // Fails silently with a last error the system has a text for, and shown, with that text under
  // the system-message caption.
  void ExpectSystemFailure(const std::string& path) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(CreateFolderPath(Wide(path), false));
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    const std::string reason = SystemReasonShown();
    EXPECT_FALSE(reason.empty());
    std::string shown;
    EXPECT_FALSE(CreateShown(path.c_str(), shown));
    EXPECT_EQ(shown.rfind(std::string(kSystemCaptionShown) + reason + "\n", 0), 0u) << shown;
  }
};

// CreateFolderPath and ShowSystemError are routines the program does not call: a row each.
TEST_F(FolderHelpersTest, FolderPathsAndSystemErrors) {
  std::string shown;
  EXPECT_TRUE(CreateShown("photos\\trip\\b.jpg", shown));  // every folder, not the file
  EXPECT_TRUE(IsFolder("photos/trip"));
  EXPECT_TRUE(Entries("photos/trip").empty());
  EXPECT_FALSE(CreateShown("", shown));  // an unusable name: its notice
  EXPECT_EQ(shown.rfind(kUnusableNameShown, 0), 0u) << shown;
  EXPECT_FALSE(CreateShown("D:", shown));  // a drive alone
  EXPECT_EQ(shown.rfind(kUnusableNameShown, 0), 0u) << shown;
  Folder("D:");  // the drive is skipped, never made
  EXPECT_TRUE(CreateShown("D:\\x\\y.txt", shown));
  EXPECT_TRUE(IsFolder("D:/x"));
  File("file");
  ExpectSystemFailure("file\\trip\\b.jpg");  // a file in the way: the system's reason
  ExpectSystemFailure("\\\\server\\share\\a.txt");  // a network path: an empty first folder
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string reason = SystemReasonShown();
  Unsnooze();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowSystemError());
  shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown.rfind(std::string(kSystemCaptionShown) + reason + "\n", 0), 0u) << shown;
}

TEST_F(FolderHelpersTest, FilesAndFoldersAreToldApart) {
  File("a.txt");
  Folder("dir");
  File("dir/inner.txt");
  const struct {
    std::string name;
    bool file, folder;
  } cases[] = {{"a.txt", true, false},   {"dir\\inner.txt", true, false}, {scratch.narrow + "a.txt", true, false},
               {"dir", false, true},     {"dir\\", false, true},          {scratch.narrow, false, true},
               {"..", false, true},      {"missing.txt", false, false},   {"", false, false}};
  for (const auto& c : cases) {
    const TWideName name = Wide(c.name);
    EXPECT_EQ(c.file, IsExistingFile(name)) << c.name;
    EXPECT_EQ(c.folder, FolderExists(name)) << c.name;
  }
  EXPECT_EQ(Cwd(), scratch.system);
}

TEST_F(FolderHelpersTest, FolderExistsLeavesTheCurrentDirectoryWhateverItsLength) {
  Folder("dir");
  File("f");
  for (const char* path : {"dir", "..", "\\", "missing", "f", "dir\\..\\dir"}) {
    SCOPED_TRACE(path);
    FolderExists(Wide(path));
    EXPECT_EQ(Cwd(), scratch.system);
  }

  // A current directory longer than MAX_PATH is not left either.
  std::string deep = scratch.system;
  while (deep.size() <= 2 * MAX_PATH) {
    deep += "/" + std::string(40, 'd');
    ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
  }
  ASSERT_EQ(0, mkdir((deep + "/sub").c_str(), 0755));
  { std::ofstream(deep + "/file", std::ios::binary) << "x"; }
  ASSERT_EQ(0, chdir(deep.c_str()));
  EXPECT_TRUE(FolderExists(Wide("sub")));
  EXPECT_EQ(Cwd(), deep);
  EXPECT_FALSE(FolderExists(Wide("missing")));
  EXPECT_FALSE(FolderExists(Wide("file")));
  EXPECT_TRUE(FolderExists(Wide(scratch.narrow)));
  EXPECT_EQ(Cwd(), deep);

  // Nor is a current directory that no longer exists, whose name cannot be read at all.
  Folder("gone");
  ASSERT_EQ(0, chdir(Path("gone").c_str()));
  ASSERT_EQ(0, rmdir(Path("gone").c_str()));
  char buffer[MAX_PATH];
  ASSERT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), 0u);
  EXPECT_TRUE(FolderExists(Wide(scratch.narrow)));
  EXPECT_FALSE(FolderExists(Wide("missing")));
  char link[8192];
  const ssize_t n = readlink("/proc/self/cwd", link, sizeof link - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(link, static_cast<size_t>(n)), Path("gone") + " (deleted)");
}

TEST_F(FolderHelpersTest, SystemErrorShowsTheSystemsText) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string reason = SystemReasonShown();
  ASSERT_FALSE(reason.empty());
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowSystemError());
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown.rfind(std::string(kSystemCaptionShown) + reason + "\n", 0), 0u) << shown;

  // A code the system has no text for shows nothing.
  Unsnooze();
  SetLastError(0x2000ABCDu);
  ASSERT_EQ(SystemReasonShown(), "");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowSystemError());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(NoticesSnoozed());

  // While notices are snoozed nothing is shown either, and the result is still true.
  SetLastError(ERROR_FILE_NOT_FOUND);
  testing::internal::CaptureStderr();
  ShowSystemError();
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(NoticesSnoozed());
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowSystemError());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
