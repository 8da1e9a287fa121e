// The progress window.
//
// The window is drawn entirely by its own code: a title band with the caption, the job's text
// cut into lines at CR, an optional row of flat buttons, and the bar. The bar frame sits 8 pixels
// in from the client's sides and 8 pixels above the button band (33 pixels when there are
// buttons); its inside is filled with the null pen, which leaves the frame's right and bottom
// edges untouched. The part up to `base` is dark, the part from `base` to `progress` grey (all
// dark when there is no base).
//
// Painting is rate-limited by the bar itself: a paint whose progress differs from the last full
// paint by less than one bar pixel draws nothing (unless it completes the bar), so jobs may post
// an update after every block.
// WM_PAINT forces a full paint by forgetting the last painted value; until the first update the
// progress is -1 and the window stays in its class background.
//
// The window keeps no cancel state of its own. Once armed, Escape posts WM_CLOSE to the window
// (swallowed by the next pump) and WM_QUIT to the thread, which the job's own drain of the
// thread's queue takes as the user's cancel. A system close is refused.
#include "ui/Toknosostoyaniya.h"

#include "ui/WindowChrome.h"

#include <cmath>
#include <cstring>

#include "foundation/Memdiag.h"
#include "platform/Console.h"
#include "ui/Kernel.h"

namespace {

const char kClassName[] = "ProgressBox Class";
const char kDefaultCaption[] = "Progress indicator";

const int kBarHeight = 25;
const int kBarReserve = 41;  // below the last text line: the bar with 8 pixels above and below

uint32_t startupCount = 0;

TOknoSostoyaniya* ObjectOf(HWND window) {
  return reinterpret_cast<TOknoSostoyaniya*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TOknoSostoyaniya* object = ObjectOf(window);
  if (object == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return object->Handle(message, wParam, lParam);
}

float FloatFromBits(uintptr_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  float result;
  static_assert(sizeof(result) == sizeof(bits), "progress values travel as 32-bit float bit patterns");
  std::memcpy(&result, &bits, sizeof result);
  return result;
}

// A fraction of the bar as a pixel offset; values outside 0..1 are held to the bar.
int BarOffset(float fraction, int width) {
  if (!(fraction > 0.0f)) return 0;
  if (fraction > 1.0f) fraction = 1.0f;
  return static_cast<int>(std::lround(fraction * static_cast<float>(width)));
}



}  // namespace

TOknoSostoyaniya::TOknoSostoyaniya(const char* captionText, const char* bodyText, UINT flags)
    : window(nullptr),
      instance(GetModuleHandleA(nullptr)),
      font(nullptr),
      className(kClassName),
      caption(WidenedText(captionText)),
      text(WidenedText(bodyText)),
      progress(-1.0f),
      lastPainted(-1.0f),
      base(-1.0f),
      buttonCodes{0, 0, 0, 0},
      count(0),
      selected(0),
      mousePressed(false),
      keyPressed(false),
      cancelArmed(false) {
  if (caption.empty()) caption = WidenedText(kDefaultCaption);

  // Button sets as the message window has them, except that the plain value, and any value past
  // the sets, give no button.
  const UINT set = flags & 15u;
  TakeButtonSet(set >= 1 && set <= 5 ? &ButtonSetOf(set) : nullptr, flags, buttonLabels, buttonCodes, count, selected);

  font = CreateWindowFont();

  RegisterWindowClass(kClassName, ProgressWindowProc, instance);

  // Size from the caption and the text pieces (cut at CR; an LF after a CR is measured with the
  // next piece, and a text ending in CR has a final empty piece).
  int width = 0;
  int height = kFirstLineTop;
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ oldFont = SelectObject(memory, font);
  SIZE size{0, 0};
  MeasureText(memory, caption.data(), static_cast<int>(caption.size()), &size);
  width = size.cx + kMargin;
  height += kLinePitch * MeasureTextLines(memory, text, width);
  height += kBarReserve;
  width += 16;
  if (oldFont != nullptr) SelectObject(memory, oldFont);
  DeleteDC(memory);

  const int buttonBand = count >= 1 ? kButtonBand : 0;
  const int windowWidth = ButtonRowWidth(count) + 16 > width ? ButtonRowWidth(count) + 16 : width;
  window = CreateCentredWindow(kClassName, caption, windowWidth, height + buttonBand, instance, this);
}

TOknoSostoyaniya::~TOknoSostoyaniya() {
  if (font != nullptr) DeleteObject(font);
  font = nullptr;
  if (window != nullptr) {
    // The procedure must not reach this object while the window goes away.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  window = nullptr;
  UnregisterClassA(kClassName, instance);
}

void TOknoSostoyaniya::Paint(HDC given) {
  RECT client;
  if (window == nullptr || !GetClientRect(window, &client)) return;
  const float barPixels = static_cast<float>((client.right - client.left) - 17);
  // Less than a pixel of change draws nothing, except the step that completes the bar: the
  // finished state is always shown.
  const bool completes = progress >= 1.0f && lastPainted < 1.0f;
  if (!completes && std::floor(std::fabs(progress - lastPainted) * barPixels) <= 0.0f) return;

  HDC dc = given != nullptr ? given : GetDC(window);
  if (dc == nullptr) return;

  HPEN lightPen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNHIGHLIGHT));
  HPEN darkPen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNSHADOW));
  HPEN outlinePen = CreatePen(PS_SOLID, 0, GetSysColor(COLOR_BTNTEXT));
  HPEN emptyPen = CreatePen(PS_NULL, 0, GetSysColor(COLOR_BTNFACE));
  HBRUSH greyBrush = CreateSolidBrush(GetSysColor(COLOR_GRAYTEXT));
  HBRUSH darkBrush = CreateSolidBrush(GetSysColor(COLOR_BTNTEXT));
  HBRUSH faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  HGDIOBJ oldPen = SelectObject(dc, darkPen);
  HGDIOBJ oldBrush = SelectObject(dc, darkBrush);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextAlign(dc, TA_LEFT | TA_TOP);

  const int buttonBand = count >= 1 ? kButtonBand : 0;
  const int barLeft = client.left + kMargin;
  const int barRight = client.right - kMargin;
  const int barBottom = client.bottom - buttonBand - kMargin;
  const int barTop = barBottom - kBarHeight;

  DrawTitleBand(dc, client, caption);
  DrawButtonRow(dc, client, buttonLabels, count, selected, mousePressed || keyPressed, lightPen, darkPen, greyBrush);

  // Text lines. Their area is cleared first: glyphs are blended onto what is there, and drawing
  // the same line again and again onto itself would darken its edges.
  RECT textArea{client.left, client.top + kTitleBand, client.right, barTop};
  FillRect(dc, &textArea, GetSysColorBrush(COLOR_BTNFACE));
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  int lineTop = client.top + kFirstLineTop;
  for (const TTextLine& line : DrawnLines(text)) {
    DrawTextChars(dc, client.left + kMargin, lineTop, text.data() + line.start, static_cast<int>(line.length));
    lineTop += kLinePitch;
  }

  // The bar: frame, fill up to the progress, dark part up to the base.
  SelectObject(dc, outlinePen);
  SelectObject(dc, faceBrush);
  Rectangle(dc, barLeft, barTop, barRight, barBottom);
  const int barWidth = barRight - barLeft;
  SelectObject(dc, emptyPen);
  SelectObject(dc, base >= 0.0f ? greyBrush : darkBrush);
  Rectangle(dc, barLeft + 1, barTop + 1, barLeft + BarOffset(progress, barWidth), barBottom);
  lastPainted = progress;
  if (base >= 0.0f) {
    SelectObject(dc, darkBrush);
    Rectangle(dc, barLeft + 1, barTop + 1, barLeft + BarOffset(base, barWidth), barBottom);
  }

  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldFont);
  DeleteObject(lightPen);
  DeleteObject(darkPen);
  DeleteObject(outlinePen);
  DeleteObject(emptyPen);
  DeleteObject(greyBrush);
  DeleteObject(darkBrush);
  DeleteObject(faceBrush);
  Present();
  if (given == nullptr) ReleaseDC(window, dc);
}

// Presentations that cannot show pixels (a terminal) are told what the window shows.
void TOknoSostoyaniya::Present() {
  const int maxLines = 64;
  TWideName pieces[maxLines];
  const WCHAR* lines[maxLines];
  int lineCount = 0;
  for (const TTextLine& line : DrawnLines(text)) {
    if (lineCount == maxLines) break;
    pieces[lineCount] = text.substr(line.start, line.length);
    lines[lineCount] = pieces[lineCount].c_str();
    ++lineCount;
  }
  TWideName labelTexts[4];
  const WCHAR* labels[4];
  for (uint32_t i = 0; i < 4; ++i) {
    labelTexts[i] = WidenedText(buttonLabels[i].Data());
    labels[i] = labelTexts[i].c_str();
  }
  TWindowContent content;
  content.caption = caption.c_str();
  content.lines = lines;
  content.lineCount = lineCount;
  content.buttons = labels;
  content.buttonCount = static_cast<int>(count);
  content.focused = selected < count ? static_cast<int>(selected) : static_cast<int>(count);
  content.pressed = mousePressed || keyPressed;
  content.progress = progress;
  content.status = status.empty() ? nullptr : status.c_str();
  PresentWindowContent(window, &content);
}

void SetProgressStatus(TOknoSostoyaniya* obj, const WCHAR* status) {
  if (obj == nullptr || obj->window == nullptr) return;
  obj->status = status != nullptr ? status : WIDE_TEXT("");
  obj->Present();
}

LRESULT TOknoSostoyaniya::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND self = window;
  switch (message) {
    case WM_PAINT:
      lastPainted = -1.0f;
      Paint(reinterpret_cast<HDC>(wParam));
      DefWindowProcA(self, message, wParam, lParam);
      return 0;
    case WM_PROGRESS_UPDATE:
      progress = FloatFromBits(wParam);
      base = FloatFromBits(static_cast<uintptr_t>(lParam));
      Repaint();
      return 0;
    case WM_PROGRESS_FINISH:
      Finish();
      return 0;
    case WM_PROGRESS_ALLOW_CANCEL:
      cancelArmed = true;
      return DefWindowProcA(self, message, wParam, lParam);
    case WM_NCHITTEST: {
      POINT point{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
      if (ScreenToClient(self, &point) && point.y <= kTitleBand) return HTCAPTION;
      return DefWindowProcA(self, message, wParam, lParam);
    }
    case WM_CLOSE:
      // Alt+F4 and the like: the window stays until the program deletes it.
      return 1;
    default:
      break;
  }
  const TButtonRow row{buttonLabels, count, selected, mousePressed, keyPressed};
  const TButtonInput input = ApplyButtonInput(self, row, message, wParam, lParam, false);
  if (input == InputChanged) Repaint();
  if (input == InputChosen || input == InputDismissed) PostMessageA(self, WM_CLOSE, 0, 0);
  if (input == InputChosen && message != WM_KEYUP) Repaint();  // a clicked button pops up
  // Escape is the job's cancel once the job armed it.
  if (input == InputEscape && cancelArmed) {
    PostMessageA(self, WM_CLOSE, 0, 0);
    PostQuitMessage(0);
  }
  const bool mouse = message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
  return input == InputNotMine || mouse ? DefWindowProcA(self, message, wParam, lParam) : 0;
}

// From below 90 % the bar runs up in steps of 8 % of the remainder, 40 ms apart, then shows 100 %
// for 125 ms; from 90 % it jumps to 100 %, holding it for 125 ms only when it came from below 95 %.
void TOknoSostoyaniya::Finish() {
  const float total = 1000.0f;
  float current = static_cast<float>(std::lround(progress * 1000.0f));
  if (total * 0.9f > current) {
    float step = (total - current) * 0.08f;
    if (!(step > 0.0f)) step = 1.0f;
    while (current < total) {
      progress = current / total;
      Repaint();
      Pause(40);
      current = current + step;
    }
    progress = 1.0f;
    Repaint();
    Pause(125);
  } else {
    progress = 1.0f;
    Repaint();
    if (total * 0.95f > current) Pause(125);
  }
}

TOknoSostoyaniya* CreateProgressWindow(TAnsiString text) { return OpenProgressWindow(text.Data(), nullptr); }

TOknoSostoyaniya* OpenProgressWindow(const char* text, const char* caption) {
  TOknoSostoyaniya* object = nullptr;
  OpenProgressWindowEx(&object, nullptr, text, caption, 0);
  return object;
}

int32_t OpenProgressWindowEx(TOknoSostoyaniya** slot, HWND owner, const char* text, const char* caption,
                             UINT flags) {
  if (slot == nullptr) return 2;
  if (*slot == nullptr) Create(*slot, 1, caption, text, flags);
  TOknoSostoyaniya* object = *slot;
  if (object != nullptr) {
    object->mousePressed = false;
    object->keyPressed = false;
    UpdateWindow(object->window);
    ShowWindow(object->window, SW_SHOWNORMAL);
  }
  return 2;
}

void PumpProgressMessages(TOknoSostoyaniya* obj) {
  // Without a window a null filter would take the whole thread queue, the job's WM_QUIT included.
  if (obj == nullptr || obj->window == nullptr) return;
  if (!IsWindow(obj->window)) {
    obj->window = nullptr;  // destroyed from outside
    return;
  }
  MSG message;
  while (PeekMessageA(&message, obj->window, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Windows hands the thread's quit to a window's filter too; it is the job's, so it goes
      // back to the queue for the job's own loop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    if (message.hwnd == obj->window) {
      if (message.message == WM_NULL) {
        obj->window = nullptr;
        return;
      }
      if (message.message == WM_CLOSE) return;
    }
    DispatchMessageA(&message);
  }
}

void ToknosostoyaniyaStartup() { ++startupCount; }

void ToknosostoyaniyaShutdown() {
  if (startupCount > 0) --startupCount;
}
