#include "ui/WindowChrome.h"

#include "ui/Kernel.h"

const TButtonSet& ButtonSetOf(UINT flags) {
  static const TButtonSet kSets[6] = {
      {1, {"OK"}, {IDOK}},
      {2, {"OK", "Cancel"}, {IDOK, IDCANCEL}},
      {3, {"Ignore", "Retry", "Cancel"}, {IDIGNORE, IDRETRY, IDCANCEL}},
      {3, {"Yes", "No", "Cancel"}, {IDYES, IDNO, IDCANCEL}},
      {2, {"Yes", "No"}, {IDYES, IDNO}},
      {2, {"Retry", "Cancel"}, {IDRETRY, IDCANCEL}},
  };
  const UINT set = flags & 15u;
  return kSets[set < 6 ? set : 0];
}

namespace {
// Position of the next CR at or after start, or the length.
uint32_t NextBreak(const WCHAR* d, uint32_t n, uint32_t start) {
  while (start < n && d[start] != '\r') ++start;
  return start;
}
}  // namespace

std::vector<TTextLine> DrawnLines(const TWideName& text) {
  std::vector<TTextLine> lines;
  const WCHAR* d = text.data();
  const uint32_t n = uint32_t(text.size());
  uint32_t p = 0;
  while (p < n) {
    const uint32_t end = NextBreak(d, n, p);
    lines.push_back({p, end - p});
    p = end;
    if (p < n) ++p;
    while (p < n && d[p] == '\n') ++p;
  }
  return lines;
}

int MeasureTextLines(HDC dc, const TWideName& text, int& width) {
  const WCHAR* d = text.data();
  const uint32_t n = uint32_t(text.size());
  if (n == 0) return 0;
  int lines = 0;
  for (uint32_t start = 0;; start = NextBreak(d, n, start) + 1) {
    const uint32_t end = NextBreak(d, n, start);
    SIZE size = {0, 0};
    MeasureText(dc, d + start, static_cast<int>(end - start), &size);
    if (size.cx > width) width = size.cx;
    ++lines;
    if (end >= n) return lines;
  }
}

void TakeButtonSet(const TButtonSet* set, UINT flags, TAnsiString* labels, int32_t* codes, uint32_t& count,
                   uint32_t& selected) {
  count = set != nullptr ? set->count : 0;
  for (uint32_t i = 0; i < count; ++i) {
    labels[i] = set->labels[i];
    codes[i] = set->codes[i];
  }
  selected = (flags >> 8) & 3u;
  if (selected >= count) selected = count - 1;
}

int ButtonRowWidth(uint32_t count) { return kButtonPitch * static_cast<int>(count) - kMargin; }

uint32_t NeighbourButton(uint32_t selected, uint32_t count, bool forward) {
  if (forward) return selected + 1 >= count ? 0 : selected + 1;
  return selected == 0 || selected > count ? count - 1 : selected - 1;
}

TButtonMouse ApplyButtonMouse(const RECT& client, uint32_t count, UINT message, LPARAM lParam, uint32_t& selected,
                              bool& pressed) {
  const int rowWidth = ButtonRowWidth(count);
  const int stripLeft = client.left + (client.right - client.left - rowWidth) / 2;
  const int stripTop = client.bottom - kButtonBand;
  const int x = static_cast<int16_t>(LOWORD(lParam));
  const int y = static_cast<int16_t>(HIWORD(lParam));
  const bool inStrip = x >= stripLeft && x < stripLeft + rowWidth && y >= stripTop && y < stripTop + kButtonHeight;
  const bool inBand = x >= client.left && x < client.right && y >= client.bottom - kTrackingBand && y < client.bottom;
  if (!(message == WM_MOUSEMOVE && pressed ? inBand : inStrip)) return ButtonMouseIgnored;
  if (!inStrip) {
    pressed = false;  // dragged off the buttons: the button pops up
    return ButtonMouseChanged;
  }
  const int offset = x - stripLeft;
  const uint32_t index = static_cast<uint32_t>(offset / kButtonPitch);
  if (offset % kButtonPitch >= kButtonWidth || index >= count) return ButtonMouseChanged;
  if (message == WM_LBUTTONDOWN && !pressed) {
    selected = index;
    pressed = true;
  } else if (message == WM_LBUTTONUP && pressed && index == selected) {
    return ButtonMouseAnswered;
  }
  return ButtonMouseChanged;
}

TButtonInput ApplyButtonInput(HWND window, TButtonRow row, UINT message, WPARAM wParam, LPARAM lParam, bool letters) {
  switch (message) {
    case WM_KEYDOWN:
      if ((wParam != VK_SPACE && wParam != VK_RETURN) || row.keyPressed) return InputNotMine;
      row.keyPressed = true;
      return InputChanged;
    case WM_KEYUP:
      switch (wParam) {
        case VK_TAB:
        case VK_RIGHT:
        case VK_LEFT:
          row.selected = NeighbourButton(row.selected, row.count, wParam != VK_LEFT);
          return InputChanged;
        case VK_ESCAPE:
          row.selected = row.count;
          return InputEscape;
        case VK_SPACE:
        case VK_RETURN:
          if (!row.keyPressed) return InputNotMine;
          row.keyPressed = false;
          return InputChosen;
        default:
          if (!letters || wParam < 'A' || wParam > 'Z') return InputNotMine;
          for (uint32_t i = 0; i < row.count; ++i) {
            const char* label = row.labels[i].Data();
            if (label != nullptr && (label[0] & ~0x20) == char(wParam)) {
              row.selected = i;
              return InputChosen;
            }
          }
          return InputTaken;
      }
    case WM_RBUTTONUP:
      row.selected = row.count;
      return InputDismissed;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      RECT client;
      if ((message == WM_MOUSEMOVE && !row.mousePressed) || !GetClientRect(window, &client)) return InputNotMine;
      const TButtonMouse verdict =
          ApplyButtonMouse(client, row.count, message, lParam, row.selected, row.mousePressed);
      return verdict == ButtonMouseAnswered ? InputChosen : verdict == ButtonMouseChanged ? InputChanged : InputNotMine;
    }
    default:
      return InputNotMine;
  }
}

HWND CreateCentredWindow(const char* className, const TWideName& caption, int width, int height,
                         HINSTANCE instance, void* object) {
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  // The system's title (never shown by these borderless windows, named in task lists) is narrow.
  const TAnsiString title = FromWide(TWideString(caption.c_str()));
  HWND window = CreateWindowExA(0, className, TextOf(title), WS_POPUP | WS_BORDER, x, y, width, height, nullptr,
                                nullptr, instance, nullptr);
  if (window != nullptr) {
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    SetMenu(window, nullptr);
  }
  return window;
}

void DrawTitleBand(HDC dc, const RECT& client, const TWideName& caption) {
  RECT band{client.left, client.top, client.right, client.top + kTitleBand};
  FillRect(dc, &band, GetSysColorBrush(COLOR_ACTIVECAPTION));
  SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  SIZE size{0, 0};
  MeasureText(dc, caption.data(), static_cast<int>(caption.size()), &size);
  DrawTextChars(dc, client.left + kMargin, client.top + (kTitleBand - size.cy) / 2, caption.data(),
                static_cast<int>(caption.size()));
}

void DrawButtonRow(HDC dc, const RECT& client, const TAnsiString* labels, uint32_t count, uint32_t selected,
                   bool pressed, HPEN lightPen, HPEN darkPen, HBRUSH focusBrush) {
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  RECT button;
  button.left = ((client.right - client.left) - ButtonRowWidth(count)) / 2;
  button.top = client.bottom - kButtonBand;
  button.right = button.left + kButtonWidth;
  button.bottom = button.top + kButtonHeight;
  for (uint32_t i = 0; i < count; ++i) {
    FillRect(dc, &button, GetSysColorBrush(COLOR_BTNFACE));
    const bool down = pressed && i == selected;
    SelectObject(dc, down ? lightPen : darkPen);
    MoveToEx(dc, button.left, button.bottom - 1, nullptr);
    LineTo(dc, button.right, button.bottom - 1);
    MoveToEx(dc, button.right - 1, button.top, nullptr);
    LineTo(dc, button.right - 1, button.bottom);
    SelectObject(dc, down ? darkPen : lightPen);
    MoveToEx(dc, button.left, button.top, nullptr);
    LineTo(dc, button.right, button.top);
    MoveToEx(dc, button.left, button.top, nullptr);
    LineTo(dc, button.left, button.bottom);
    SelectObject(dc, darkPen);
    if (i == selected) {
      RECT focus{button.left + kFocusInset, button.top + kFocusInset, button.right - kFocusInset,
                 button.bottom - kFocusInset};
      FrameRect(dc, &focus, focusBrush);
    }
    const TAnsiString& label = labels[i];
    SIZE size{0, 0};
    MeasureText(dc, label.Data(), static_cast<int>(label.Length()), &size);
    DrawTextChars(dc, button.left + (kButtonWidth - size.cx) / 2, button.top + (kButtonHeight - size.cy) / 2,
                  label.Data(), static_cast<int>(label.Length()));
    button.left += kButtonPitch;
    button.right += kButtonPitch;
  }
}
