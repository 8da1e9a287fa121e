// The modal message window.
//
// One object per call lives on the caller's stack: construction measures the texts and creates
// the window hidden, the modal loop shows it and serves only this window's messages until the
// window posts itself a WM_CLOSE (a button chosen, Escape, a right click) or disappears, and
// destruction takes the window, its font and its class away again. Thread messages (timers,
// WM_QUIT) and other windows stay untouched while it is up.
//
// Layout, in client pixels: a title band of 21 at the top with the caption 8 from the left; text
// lines from 29 down at a pitch of 17; a centred row of 96 x 25 buttons at a pitch of 104 whose
// tops lie 33 above the bottom. Lines are cut at CR; the LFs after a CR are skipped when drawing
// but measured as part of the next line, so the window may be a little wider than its text.
#include "ui/Toknosoobzheniy.h"

#include "ui/WindowChrome.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/Console.h"
#include "ui/Kernel.h"

namespace {

const char kClassName[] = "MessageBox Class";
const UINT kSnoozeMilliseconds = 10000;
const int kScreenMargin = 24;  // kept free on each side of the screen

bool snoozed = false;
UINT_PTR snoozeTimer = 0;
int startups = 0;

int Width(HDC dc, const TWideName& text) {
  SIZE size = {0, 0};
  MeasureText(dc, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

// The length of text's first `fit` units or fewer, so that a surrogate pair is never cut.
size_t WholeUnits(const TWideName& text, size_t fit) {
  return fit > 0 && fit < text.size() && text[fit - 1] >= 0xD800 && text[fit - 1] <= 0xDBFF ? fit - 1 : fit;
}

// The text with every line that is wider than maxWidth broken into lines that fit: after a
// separator (a path's folders) or a space where one fits, else inside a name. A line that needs
// more than kMostPieces lines keeps its first two and its last, with "..." between them.
TWideName FitLines(HDC dc, const TWideName& all, int maxWidth) {
  const int kMostPieces = 4;
  const WCHAR kCuts[] = {'\\', '/', ' ', 0};
  TWideName fitted;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('\r', start);
    if (end == TWideName::npos) end = all.size();
    const TWideName line = all.substr(start, end - start);
    std::vector<TWideName> pieces;
    if (Width(dc, line) <= maxWidth) {
      pieces.push_back(line);
    } else {
      TWideName current;
      size_t at = 0;
      while (at < line.size()) {
        size_t cut = line.find_first_of(kCuts, at);
        cut = cut == TWideName::npos ? line.size() : cut + 1;
        const TWideName word = line.substr(at, cut - at);
        at = cut;
        if (Width(dc, current + word) <= maxWidth) {
          current += word;
          continue;
        }
        if (!current.empty()) pieces.push_back(current);
        current = word;
        while (current.size() > 1 && Width(dc, current) > maxWidth) {
          size_t fit = current.size() - 1;
          while (fit > 1 && Width(dc, current.substr(0, fit)) > maxWidth) --fit;
          fit = WholeUnits(current, fit);
          if (fit == 0) break;
          pieces.push_back(current.substr(0, fit));
          current = current.substr(fit);
        }
      }
      if (!current.empty()) pieces.push_back(current);
      const WCHAR kEllipsis[] = {'.', '.', '.', 0};
      if (pieces.size() > size_t(kMostPieces)) pieces = {pieces[0], pieces[1], kEllipsis, pieces.back()};
    }
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i != 0) fitted += '\r';
      fitted += pieces[i];
    }
    if (end >= all.size()) break;
    fitted += '\r';
    start = end + 1;
  }
  return fitted;
}

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TOknoSoobzheniy* object = reinterpret_cast<TOknoSoobzheniy*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (object == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return object->HandleMessage(message, wParam, lParam);
}

void CALLBACK SnoozeEnded(HWND, UINT, UINT_PTR, DWORD) {
  if (snoozeTimer != 0 && KillTimer(nullptr, snoozeTimer)) snoozeTimer = 0;
  snoozed = false;
}

}  // namespace

TOknoSoobzheniy::TOknoSoobzheniy(const TWideName& captionText, const TWideName& messageText, UINT flags)
    : instance(GetModuleHandleA(nullptr)),
      window(nullptr),
      font(nullptr),
      className(kClassName),
      caption(captionText),
      text(messageText),
      buttonCodes{0, 0, 0, 0},
      count(0),
      selected(0),
      mousePressed(false),
      keyPressed(false) {
  if (caption.empty()) caption = WidenedText("Error");

  TakeButtonSet(&ButtonSetOf(flags), flags, buttonLabels, buttonCodes, count, selected);

  font = CreateWindowFont();

  RegisterWindowClass(kClassName, MessageWindowProc, instance);

  // Size from the texts, measured with the window font; the window stays within the screen, less a
  // margin, and a line too wide for that is broken.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(dc, font);
  const int widest = GetSystemMetrics(SM_CXSCREEN) - 2 * kScreenMargin;
  text = FitLines(dc, text, widest - 2 * kMargin);
  SIZE size = {0, 0};
  MeasureText(dc, caption.data(), static_cast<int>(caption.size()), &size);
  int width = size.cx + kMargin;
  int height = kFirstLineTop + kLinePitch * MeasureTextLines(dc, text, width);
  height += kMargin;
  width += 2 * kMargin;
  if (oldFont != nullptr) SelectObject(dc, oldFont);
  DeleteDC(dc);

  const int rowWidth = ButtonRowWidth();
  int windowWidth = rowWidth + 2 * kMargin > width ? rowWidth + 2 * kMargin : width;
  if (windowWidth > widest && widest >= rowWidth + 2 * kMargin) windowWidth = widest;
  window = CreateCentredWindow(kClassName, caption, windowWidth, height + kButtonBand, instance, this);
}

TOknoSoobzheniy::~TOknoSoobzheniy() {
  if (font != nullptr) DeleteObject(font);
  if (window != nullptr) DestroyWindow(window);
  UnregisterClassA(kClassName, instance);
}

int32_t TOknoSoobzheniy::ButtonRowWidth() const { return ::ButtonRowWidth(count); }

void TOknoSoobzheniy::Paint(HDC given) {
  RECT client;
  if (window == nullptr || !GetClientRect(window, &client)) return;
  HDC dc = given != nullptr ? given : GetDC(window);
  if (dc == nullptr) return;

  // Smoothed glyphs drawn over themselves grow darker: every paint starts from a clear body.
  RECT body = {client.left, client.top + kTitleBand, client.right, client.bottom};
  FillRect(dc, &body, GetSysColorBrush(COLOR_BTNFACE));

  HPEN lightPen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNHIGHLIGHT));
  HPEN darkPen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNSHADOW));
  HBRUSH focusBrush = CreateSolidBrush(GetSysColor(COLOR_GRAYTEXT));
  HGDIOBJ oldPen = SelectObject(dc, darkPen);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  DrawTitleBand(dc, client, caption);
  DrawButtonRow(dc, client, buttonLabels, count, selected, mousePressed || keyPressed, lightPen, darkPen, focusBrush);

  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  const std::vector<TTextLine> lines = DrawnLines(text);
  int y = client.top + kFirstLineTop;
  for (const TTextLine& line : lines) {
    DrawTextChars(dc, client.left + kMargin, y, text.data() + line.start, static_cast<int>(line.length));
    y += kLinePitch;
  }

  SelectObject(dc, oldPen);
  if (oldFont != nullptr) SelectObject(dc, oldFont);
  DeleteObject(lightPen);
  DeleteObject(darkPen);
  DeleteObject(focusBrush);
  if (given == nullptr) ReleaseDC(window, dc);

  // Presentations without pixels (the terminal) get the same content as text.
  std::vector<TWideName> lineTexts;
  for (const TTextLine& line : lines) lineTexts.emplace_back(text.data() + line.start, line.length);
  std::vector<const WCHAR*> linePointers;
  for (const TWideName& line : lineTexts) linePointers.push_back(line.c_str());
  TWideName labelTexts[4];
  const WCHAR* labels[4];
  for (uint32_t i = 0; i < count; ++i) {
    labelTexts[i] = WidenedText(TextOf(buttonLabels[i]));
    labels[i] = labelTexts[i].c_str();
  }
  TWindowContent content;
  content.caption = caption.c_str();
  content.lines = linePointers.data();
  content.lineCount = static_cast<int>(linePointers.size());
  content.buttons = labels;
  content.buttonCount = static_cast<int>(count);
  content.focused = static_cast<int>(selected);
  content.pressed = mousePressed || keyPressed;
  content.progress = -1.0f;
  content.status = nullptr;
  PresentWindowContent(window, &content);
}

LRESULT TOknoSoobzheniy::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(reinterpret_cast<HDC>(wParam));
      DefWindowProcA(window, message, wParam, lParam);
      return 0;
    case WM_NCHITTEST: {
      POINT point = {static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
      if (ScreenToClient(window, &point) && point.y <= kTitleBand) return HTCAPTION;
      return DefWindowProcA(window, message, wParam, lParam);
    }
    case WM_CLOSE:
      // Sent by the system (the window's own close requests are posted and end the loop before
      // they are dispatched): closed from outside, so no button was chosen.
      selected = count;
      return DefWindowProcA(window, message, wParam, lParam);
    default:
      break;
  }
  const TButtonRow row{buttonLabels, count, selected, mousePressed, keyPressed};
  const TButtonInput input = ApplyButtonInput(window, row, message, wParam, lParam, true);
  if (input == InputChanged) Paint(nullptr);
  if (input == InputChosen || input == InputEscape || input == InputDismissed) PostMessageA(window, WM_CLOSE, 0, 0);
  if (input == InputChosen && message != WM_KEYUP && message != WM_KEYDOWN) Paint(nullptr);  // the button pops up
  const bool mouse = message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
  return input == InputNotMine || mouse ? DefWindowProcA(window, message, wParam, lParam) : 0;
}

int32_t TOknoSoobzheniy::Result() const {
  if (selected < count) return buttonCodes[selected];
  for (uint32_t i = 0; i < count; ++i)
    if (buttonCodes[i] == IDCANCEL) return IDCANCEL;
  return count > 0 ? buttonCodes[count - 1] : IDCANCEL;
}

int32_t TOknoSoobzheniy::RunModal() {
  mousePressed = false;
  keyPressed = false;
  if (window == nullptr) {
    // Without a window there is nothing to answer; a loop unfiltered by a window would serve
    // the whole thread instead.
    selected = count;
    return Result();
  }
  UpdateWindow(window);
  ShowWindow(window, SW_SHOWNORMAL);
  bool answered = false;
  MSG message;
  for (;;) {
    const BOOL got = GetMessageA(&message, window, 0, 0);
    if (got == 0) {
      // Windows hands the thread's quit to a window's filter too; it stays queued for the
      // thread's own loop, and the question ends unanswered.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1 || (message.hwnd == window && message.message == WM_NULL)) {
      window = nullptr;  // destroyed from outside
      break;
    }
    if (message.hwnd == window && message.message == WM_CLOSE) {
      answered = true;
      break;
    }
    DispatchMessageA(&message);
  }
  if (!answered) selected = count;
  return Result();
}

int32_t ShowMessageWindow(HWND, const char* text, const char* caption, UINT flags) {
  TOknoSoobzheniy box(WidenedText(caption), WidenedText(text), flags);
  return box.RunModal();
}

int32_t ShowMessageWindowW(HWND, const WCHAR* text, const WCHAR* caption, UINT flags) {
  TOknoSoobzheniy box(TWideName(caption != nullptr ? caption : WIDE_TEXT("")),
                      TWideName(text != nullptr ? text : WIDE_TEXT("")), flags);
  return box.RunModal();
}

namespace {

void SnoozeAfter(int32_t answer) {
  if (answer != IDCANCEL) return;
  snoozeTimer = SetTimer(nullptr, 0, kSnoozeMilliseconds, SnoozeEnded);
  // Without a timer nothing would ever end the snooze, and every later notice would be lost.
  snoozed = snoozeTimer != 0;
}

}  // namespace

bool ShowNotice(const char* text, const char* caption) {
  if (snoozed) return false;
  SnoozeAfter(ShowMessageWindow(nullptr, text, caption, MB_OKCANCEL));
  return true;
}

bool ShowNoticeW(const WCHAR* text, const WCHAR* caption) {
  if (snoozed) return false;
  SnoozeAfter(ShowMessageWindowW(nullptr, text, caption, MB_OKCANCEL));
  return true;
}

bool NoticesSnoozed() { return snoozed; }

void ToknosoobzheniyStartup() {
  if (startups++ > 0) return;
  snoozed = false;
  snoozeTimer = 0;
}

void ToknosoobzheniyShutdown() {
  if (startups == 0 || --startups > 0) return;
  if (snoozeTimer != 0) KillTimer(nullptr, snoozeTimer);
  snoozeTimer = 0;
  snoozed = false;
}
