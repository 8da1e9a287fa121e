// Terminal presentation of the windows when no display can be opened.
//
// The windows keep their canvases and all of their rules; this presentation only shows what a
// window reports after each paint (PresentWindowContent) and turns terminal keys into the key
// messages the window procedure handles, posted to the window like any other input.
//
// A window with buttons (the message window) is written to standard error: caption, text lines and
// the button row with the focused button in brackets; the row is redrawn in place when the focus
// moves and stderr is a terminal. Keys come from stdin when it is a terminal (switched to
// non-canonical mode without echo while such a window is up; signals stay enabled); the row ends
// with the keys that answer ("[Y/n]"). When stdin is not a terminal the window receives Escape
// once, when its loop would otherwise wait: a notice is shown and goes, and a question (a window
// with a No button), which nobody can answer, is not shown at all and gets the answer Escape
// gives.
// A window with a bar and no buttons (the progress window) is one line redrawn in place on a
// terminal stderr: its text, the bar, the percentage and the window's status note, fitted to the
// terminal's width so that it never wraps (the bar narrows, then the note loses its start). It is
// redrawn when the percentage moves, and for a new note at most every 50 ms; a line written to
// standard error meanwhile clears it and it is drawn again below that line. It shows nothing when
// stderr is not a terminal. Terminal keys go to the window shown last that takes them.
#include "platform/Console.h"
#include "platform/posix/WindowSystem.h"
#include "platform/posix/PosixInternal.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int kBarCells = 30;

struct TerminalState {
  bool probed = false;
  bool inputIsTerminal = false;
  bool errorIsTerminal = false;
  bool inputEnded = false;
  HWND keyWindow = nullptr;    // receives terminal keys
  HWND lineWindow = nullptr;   // owner of the progress line on screen
  int linePercent = -1;        // percentage drawn on the current progress line
  std::string lineStatus;      // status note drawn on it
  std::string lineText;        // the line as drawn, for drawing it again after a report line
  uint64_t lineDrawnAt = 0;    // when, in milliseconds
  HWND rowWindow = nullptr;    // message window whose button row is the last line on screen
  std::vector<std::string> buttons;  // of rowWindow
  int focused = 0;
};

TerminalState state;
HWND resumeWindow = nullptr;  // the progress line a report line cleared
termios savedSettings;
volatile sig_atomic_t rawActive = 0;

void Probe() {
  if (state.probed) return;
  state.probed = true;
  state.inputIsTerminal = isatty(STDIN_FILENO) == 1;
  state.errorIsTerminal = isatty(STDERR_FILENO) == 1;
}

void EnterRawMode() {
  if (rawActive || !state.inputIsTerminal) return;
  if (tcgetattr(STDIN_FILENO, &savedSettings) != 0) return;
  termios raw = savedSettings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  rawActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) rawActive = 0;
}

void Write(const std::string& text) {
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// Closes an unfinished progress line (clearing it) or button row before other output.
void EndOpenLine() {
  if (state.lineWindow != nullptr) {
    Write("\r\x1b[K");
    state.lineWindow = nullptr;
    state.linePercent = -1;
  }
  if (state.rowWindow != nullptr) {
    if (state.errorIsTerminal) Write("\n");
    state.rowWindow = nullptr;
  }
}

// The windows' texts are UTF-16; the terminal gets UTF-8 (a lone surrogate as U+FFFD).
std::string ToUtf8(const WCHAR* text) {
  std::string out;
  const WCHAR* units = text != nullptr ? text : WIDE_TEXT("");
  const size_t n = std::char_traits<WCHAR>::length(units);
  for (size_t i = 0; i < n;) {
    uint32_t code = DecodeUtf16(units, n, i);
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
    if (code == '\r' || code == '\n') continue;  // line breaks left over from the window's line split
    if ((code < 0x20 && code != '\t') || code == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(code));
      out += escaped;
    } else {
      AppendUtf8(out, code);
    }
  }
  return out;
}

std::string ButtonRow() {
  std::string row;
  for (size_t i = 0; i < state.buttons.size(); ++i) {
    if (i != 0) row += "  ";
    bool focused = static_cast<int>(i) == state.focused;
    row += focused ? "[" : " ";
    row += state.buttons[i];
    row += focused ? "]" : " ";
  }
  // The keys that answer: each button's first letter, the focused one (Enter's) in capitals.
  if (state.buttons.size() > 1) {
    row += "  [";
    for (size_t i = 0; i < state.buttons.size(); ++i) {
      if (i != 0) row += "/";
      const char letter = state.buttons[i].empty() ? '?' : state.buttons[i][0];
      const bool focused = static_cast<int>(i) == state.focused;
      row += static_cast<char>(focused ? std::toupper(static_cast<unsigned char>(letter))
                                       : std::tolower(static_cast<unsigned char>(letter)));
    }
    row += "]";
  }
  return row;
}

void PostKey(HWND window, WPARAM key) {
  posixwin::PostInput(window, WM_KEYDOWN, key, 1);
  posixwin::PostInput(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

void PresentMessageWindow(posixwin::WindowRecord* record, const TWindowContent* content) {
  std::string body = ToUtf8(content->caption);
  for (int i = 0; i < content->lineCount; ++i) body += "\n" + ToUtf8(content->lines[i]);
  std::vector<std::string> buttons;
  for (int i = 0; i < content->buttonCount; ++i) buttons.push_back(ToUtf8(content->buttons[i]));
  int focused = content->focused;
  bool sameBody = record->content == body && state.rowWindow == posixwin::HandleOf(record) && buttons == state.buttons;
  if (sameBody && focused == state.focused) return;
  if (sameBody) {
    state.focused = focused;
    if (state.errorIsTerminal) Write("\r\x1b[K" + ButtonRow());
    return;
  }
  const bool question = std::find(buttons.begin(), buttons.end(), "No") != buttons.end();
  if (question && !(state.inputIsTerminal && !state.inputEnded)) {
    // A question nobody can answer is not shown: it gets the answer Escape gives, at once.
    record->content = body;
    if (!record->terminalAnswered) {
      record->terminalAnswered = true;
      record->terminalAnswerDue = true;
    }
    return;
  }
  EndOpenLine();
  record->content = body;
  state.buttons = buttons;
  state.focused = focused;
  state.rowWindow = posixwin::HandleOf(record);
  std::string text = "\n== " + ToUtf8(content->caption) + " ==\n";
  for (int i = 0; i < content->lineCount; ++i) text += ToUtf8(content->lines[i]) + "\n";
  text += ButtonRow();
  if (!state.errorIsTerminal) text += "\n";
  Write(text);
  if (state.inputIsTerminal && !state.inputEnded) {
    state.keyWindow = posixwin::HandleOf(record);
    EnterRawMode();
  } else if (!record->terminalAnswered) {
    // Answered only when its loop runs out of input, so input already on its way (queued
    // messages, a test driving the window) is served first.
    record->terminalAnswered = true;
    record->terminalAnswerDue = true;
  }
}

uint64_t Milliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

int TerminalColumns() {
  winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  const int given = columns != nullptr ? std::atoi(columns) : 0;
  return given > 0 ? given : 80;
}

// The columns a character takes in a terminal: two for the wide characters of East Asian
// scripts and most emoji, none for combining marks, one for the rest.
size_t ColumnsOf(uint32_t c) {
  if ((c >= 0x300 && c <= 0x36F) || (c >= 0x200B && c <= 0x200F)) return 0;
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
      (c >= 0x20000 && c <= 0x3FFFD))
    return 2;
  return 1;
}

size_t Columns(const std::string& utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) n += ColumnsOf(DecodeUtf8(utf8.data(), utf8.size(), i));
  return n;
}

// The end of a UTF-8 text that fits `columns` columns, led by "..." when it had to be shortened;
// whole characters only.
std::string TailOf(const std::string& utf8, size_t columns) {
  if (Columns(utf8) <= columns) return utf8;
  const size_t keep = columns > 3 ? columns - 3 : 0;
  size_t at = utf8.size(), used = 0;
  while (at > 0) {
    size_t start = at - 1;
    while (start > 0 && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80) --start;
    size_t i = start;
    const size_t width = ColumnsOf(DecodeUtf8(utf8.data(), utf8.size(), i));
    if (used + width > keep) break;
    used += width;
    at = start;
  }
  return "..." + utf8.substr(at);
}

// The progress line for a terminal of `width` columns, never longer than width - 1: the text, the
// bar and the percentage, then the window's note (the count, then the current name). The bar
// gives up cells (down to 10) before the name loses its start.
std::string ProgressLine(const std::string& text, float progress, const std::string& status, size_t width) {
  const size_t room = width > 1 ? width - 1 : 0;
  const int percent = static_cast<int>(progress * 100.0f + 0.5f);
  const size_t note = status.empty() ? 0 : 2 + Columns(status);
  size_t cells = kBarCells;
  const auto fixed = [&] { return Columns(text) + 2 + cells + 6; };  // " [" bar "] 100%"
  while (cells > 10 && fixed() + note > room) --cells;
  std::string head = text;
  if (fixed() > room) head = TailOf(text, room > cells + 8 ? room - cells - 8 : 0);
  const size_t filled = static_cast<size_t>(progress * static_cast<float>(cells));
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%", percent);
  std::string line = head + " [" + std::string(filled, '#') + std::string(cells - filled, '.') + tail;
  // A note too long for the room keeps its first word (the count) and loses the start of the rest.
  const size_t space = status.find(' ');
  const std::string first = space == std::string::npos ? std::string() : status.substr(0, space + 1);
  if (!status.empty() && Columns(line) + 2 + Columns(first) + 8 <= room)
    line += "  " + first + TailOf(status.substr(first.size()), room - Columns(line) - 2 - Columns(first));
  if (Columns(line) > room) line = TailOf(line, room);
  return line;
}

void PresentProgressWindow(posixwin::WindowRecord* record, const TWindowContent* content) {
  Probe();
  if (state.inputIsTerminal && !state.inputEnded && state.rowWindow == nullptr) {
    state.keyWindow = posixwin::HandleOf(record);
    EnterRawMode();
  }
  if (!state.errorIsTerminal) return;
  const float progress = content->progress < 0 ? 0 : (content->progress > 1 ? 1 : content->progress);
  const int percent = static_cast<int>(progress * 100.0f + 0.5f);
  const std::string status = content->status != nullptr ? ToUtf8(content->status) : std::string();
  const bool same = state.lineWindow == posixwin::HandleOf(record);
  const uint64_t now = Milliseconds();
  if (same && percent == state.linePercent && (status == state.lineStatus || now - state.lineDrawnAt < 50)) return;
  if (!same) EndOpenLine();
  state.lineWindow = posixwin::HandleOf(record);
  state.linePercent = percent;
  state.lineStatus = status;
  state.lineDrawnAt = now;
  const std::string text = content->lineCount > 0 ? ToUtf8(content->lines[0]) : ToUtf8(content->caption);
  state.lineText = ProgressLine(text, progress, status, static_cast<size_t>(TerminalColumns()));
  Write("\r\x1b[K" + state.lineText);
}

void ChooseByLetter(HWND window, char letter) {
  int count = static_cast<int>(state.buttons.size());
  for (int target = 0; target < count; ++target) {
    const std::string& label = state.buttons[target];
    if (label.empty() || std::tolower(static_cast<unsigned char>(label[0])) != std::tolower(static_cast<unsigned char>(letter)))
      continue;
    int steps = state.focused >= count || state.focused < 0 ? target + 1 : (target - state.focused + count) % count;
    for (int i = 0; i < steps; ++i) posixwin::PostInput(window, WM_KEYUP, VK_RIGHT, static_cast<LPARAM>(0xC0000001u));
    PostKey(window, VK_RETURN);
    return;
  }
}

void HandleInput(const unsigned char* bytes, ssize_t length) {
  HWND window = state.keyWindow;
  if (window == nullptr) return;
  for (ssize_t i = 0; i < length; ++i) {
    unsigned char c = bytes[i];
    if (c == 0x1B) {
      if (i + 2 < length && (bytes[i + 1] == '[' || bytes[i + 1] == 'O')) {
        unsigned char final = bytes[i + 2];
        i += 2;
        if (final == 'C') PostKey(window, VK_RIGHT);
        else if (final == 'D') PostKey(window, VK_LEFT);
        else if (final == 'Z') PostKey(window, VK_LEFT);  // Shift+Tab
        continue;
      }
      PostKey(window, VK_ESCAPE);
    } else if (c == '\t') {
      PostKey(window, VK_TAB);
    } else if (c == '\r' || c == '\n') {
      PostKey(window, VK_RETURN);
    } else if (c == ' ') {
      PostKey(window, VK_SPACE);
    } else if (std::isalpha(c) && state.rowWindow == window) {
      ChooseByLetter(window, static_cast<char>(c));
    }
  }
}

}  // namespace

bool StandardErrorAvailable() { return true; }

void EndTerminalLine() {
  resumeWindow = state.lineWindow;
  EndOpenLine();
}

void ResumeTerminalLine() {
  if (resumeWindow == nullptr || state.lineWindow != nullptr || state.rowWindow != nullptr) return;
  if (posixwin::FindWindowRecord(resumeWindow) == nullptr) return;
  state.lineWindow = resumeWindow;
  resumeWindow = nullptr;
  Write(state.lineText);
}

void PosixRestoreTerminal() {
  if (!rawActive) return;
  rawActive = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &savedSettings);
}

namespace posixwin {

void TerminalWindowShown(WindowRecord* record, bool shown) {
  Probe();
  if (X11Active() || shown) return;
  HWND handle = HandleOf(record);
  if (state.rowWindow == handle || state.lineWindow == handle) EndOpenLine();
  record->content.clear();
  if (state.keyWindow == handle) {
    state.keyWindow = nullptr;
    PosixRestoreTerminal();
  }
}

void TerminalWindowDestroyed(WindowRecord* record) { TerminalWindowShown(record, false); }

void TerminalPresent(WindowRecord* record, const TWindowContent* content) {
  if (X11Active() || !record->visible) return;
  Probe();
  if (content->buttonCount > 0)
    PresentMessageWindow(record, content);
  else if (content->progress >= 0)
    PresentProgressWindow(record, content);
}

bool TerminalAnswerIdleWindow(HWND filter) {
  struct Search {
    HWND filter;
    HWND found;
  } search{filter, nullptr};
  ForEachWindow(
      [](WindowRecord* record, void* context) {
        Search* s = static_cast<Search*>(context);
        HWND handle = HandleOf(record);
        if (s->found != nullptr || !record->terminalAnswerDue || !record->visible || record->destroying) return;
        if (s->filter != nullptr && s->filter != handle) return;
        s->found = handle;
      },
      &search);
  if (search.found == nullptr) return false;
  FindWindowRecord(search.found)->terminalAnswerDue = false;
  PostKey(search.found, VK_ESCAPE);
  return true;
}

int TerminalInputFd() {
  if (X11Active() || !rawActive || state.keyWindow == nullptr || state.inputEnded) return -1;
  return STDIN_FILENO;
}

void TerminalProcessInput() {
  int fd = TerminalInputFd();
  if (fd < 0) return;
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, 0) <= 0) return;
  unsigned char bytes[64];
  ssize_t length = read(fd, bytes, sizeof bytes);
  if (length > 0) {
    HandleInput(bytes, length);
  } else if (length == 0) {
    // End of input: a question still open is answered as Escape answers it.
    state.inputEnded = true;
    HWND window = state.keyWindow;
    PosixRestoreTerminal();
    if (window != nullptr && state.rowWindow == window) PostKey(window, VK_ESCAPE);
  }
}

}  // namespace posixwin
