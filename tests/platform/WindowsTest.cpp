// The thread's message queue, windows and canvas drawing, as the program's windows use them:
// retrieval order and filters, WM_QUIT, thread timers, destroyed windows, client sizes, default
// handling, and the pixel rules of lines, rectangles and text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "platform/win32.h"

namespace {

const char kClass[] = "Platform Test Class";
const uint32_t kFace = 0xC0C0C0;

// What the test window procedure saw, in order.
std::vector<UINT> seen;
std::vector<UINT_PTR> timerCalls;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  seen.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

[[maybe_unused]] void CALLBACK CountTimer(HWND, UINT, UINT_PTR id, DWORD) { timerCalls.push_back(id); }

// The next message the filter lets through, left in `message`; ~0u when there is none.
UINT Take(MSG& message, HWND filter, UINT removal) {
  return PeekMessageA(&message, filter, 0, 0, removal) ? message.message : ~0u;
}

void DropAllMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WindowsCanBeMade()) GTEST_SKIP() << "no window can be made here (Wine without a display)";
    seen.clear();
    timerCalls.clear();
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kClass;
    ASSERT_NE(0, RegisterClassExA(&windowClass));
  }

  void TearDown() override {
    if (!WindowsCanBeMade()) return;
    for (HWND window : windows)
      if (IsWindow(window)) DestroyWindow(window);
    DropAllMessages();
    EXPECT_TRUE(UnregisterClassA(kClass, nullptr));
  }

  HWND Make(DWORD style = WS_POPUP | WS_BORDER, int width = 60, int height = 40) {
    HWND window = CreateWindowExA(0, kClass, "test", style, 10, 20, width, height, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, window);
    windows.push_back(window);
    return window;
  }

  std::vector<HWND> windows;
};

std::string Show(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

#if !defined(_WIN32)  // the canvas is the POSIX layer's
uint32_t PixelAt(HWND window, int x, int y) { return CanvasOf(window).At(x, y); }

// Bounding box of the pixels that differ from `background`; false when there are none.
bool InkBox(HWND window, uint32_t background, RECT* box) {
  const TCanvas c = CanvasOf(window);
  bool any = false;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (c.At(x, y) == background) continue;
      if (!any) *box = RECT{x, y, x + 1, y + 1};
      any = true;
      box->left = std::min<LONG>(box->left, x);
      box->top = std::min<LONG>(box->top, y);
      box->right = std::max<LONG>(box->right, x + 1);
      box->bottom = std::max<LONG>(box->bottom, y + 1);
    }
  return any;
}
#endif

TEST_F(WindowsTest, PeekFiltersByWindowAndRemovesOnlyWithPmRemove) {
  HWND a = Make();
  HWND b = Make();
  ASSERT_TRUE(PostMessageA(a, WM_USER + 1, 11, 0));
  ASSERT_TRUE(PostMessageA(b, WM_USER + 2, 22, 0));
  ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 3, 33, 0));

  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(b, message.hwnd);
  EXPECT_EQ(static_cast<UINT>(WM_USER + 2), message.message);
  EXPECT_EQ(22u, message.wParam);
  ASSERT_TRUE(PeekMessageA(&message, b, 0, 0, PM_REMOVE));  // still there after PM_NOREMOVE
  EXPECT_EQ(22u, message.wParam);
  // Hidden windows ask for no WM_PAINT, so b has nothing left.
  EXPECT_FALSE(PeekMessageA(&message, b, 0, 0, PM_REMOVE));

  // A range filter skips what lies outside it.
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_EQ(33u, message.wParam);
  EXPECT_EQ(nullptr, message.hwnd);
  // The thread-only filter never returns a window's message.
  EXPECT_FALSE(PeekMessageA(&message, reinterpret_cast<HWND>(static_cast<intptr_t>(-1)), 0, 0, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(a, message.hwnd);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));

  // Dispatching hands the message to the window procedure.
  PostMessageA(a, WM_USER + 4, 0, 0);
  ASSERT_TRUE(PeekMessageA(&message, a, 0, 0, PM_REMOVE));
  DispatchMessageA(&message);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(static_cast<UINT>(WM_USER + 4), seen.back());
}

// Here a loop filtered to a window never takes the quit; Windows hands it to such a loop too,
// and the program's filtered loops put it back (the message and progress windows' tests).
#if !defined(_WIN32)
TEST_F(WindowsTest, QuitComesAfterPostedMessagesAndOnlyToUnfilteredLoops) {
  HWND window = Make();
  PostQuitMessage(7);
  PostMessageA(window, WM_USER, 1, 0);
  MSG message;
  // A loop filtered to the window sees its message but never the quit.
  EXPECT_EQ(static_cast<UINT>(WM_USER), Take(message, window, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));

  PostMessageA(nullptr, WM_USER + 9, 0, 0);
  EXPECT_EQ(static_cast<UINT>(WM_USER + 9), Take(message, nullptr, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), Take(message, nullptr, PM_NOREMOVE));
  EXPECT_EQ(nullptr, message.hwnd);
  EXPECT_EQ(7u, message.wParam);
  EXPECT_EQ(FALSE, GetMessageA(&message, nullptr, 0, 0));  // GetMessage ends on the quit
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), message.message);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));  // taken once
}
#endif

TEST_F(WindowsTest, DestroyedWindowLosesItsMessagesAndFiltersOnItYieldMessageZero) {
  HWND window = Make();
  HWND other = Make();
  PostMessageA(window, WM_USER, 1, 0);
  PostMessageA(other, WM_USER, 2, 0);
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_FALSE(IsWindow(window));
  // WM_DESTROY then WM_NCDESTROY reached the procedure.
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(static_cast<UINT>(WM_DESTROY), seen[seen.size() - 2]);
  EXPECT_EQ(static_cast<UINT>(WM_NCDESTROY), seen.back());

  MSG message;
#if defined(_WIN32)  // Windows refuses a filter on a destroyed window
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
#else  // here the filter yields one WM_NULL for it, which the program's loops take as its end
  ASSERT_TRUE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(window, message.hwnd);
  EXPECT_EQ(static_cast<UINT>(WM_NULL), message.message);
#endif
  // Its queued message is gone; the other window's is not.
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(other, message.hwnd);
  EXPECT_EQ(2u, message.wParam);

  SetLastError(0);
  EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
  EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, GetLastError());
  EXPECT_FALSE(DestroyWindow(window));
  RECT rect;
  EXPECT_FALSE(GetClientRect(window, &rect));
  EXPECT_EQ(nullptr, GetDC(window));
  // A handle is not given out again.
  HWND next = Make();
  EXPECT_NE(window, next);
}

#if !defined(_WIN32)  // three periods of ten seconds: the POSIX layer's clock is moved on
TEST_F(WindowsTest, ThreadTimerRunsItsCallbackOnlyWhenDispatched) {
  HWND window = Make();
  const UINT_PTR id = SetTimer(nullptr, 0, 10000, CountTimer);
  ASSERT_NE(0u, id);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));

  PosixAdvanceTimerClock(10000);
  // Not for a loop filtered to a window.
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_TIMER), Take(message, nullptr, PM_REMOVE));
  EXPECT_EQ(nullptr, message.hwnd);
  EXPECT_EQ(id, message.wParam);
  EXPECT_TRUE(timerCalls.empty());
  DispatchMessageA(&message);
  ASSERT_EQ(1u, timerCalls.size());
  EXPECT_EQ(id, timerCalls[0]);
  // Removal started the next period.
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));

  // A tick removed without dispatching is simply dropped.
  PosixAdvanceTimerClock(10000);
  EXPECT_EQ(static_cast<UINT>(WM_TIMER), Take(message, nullptr, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(1u, timerCalls.size());

  // Posted messages come before a due timer.
  PosixAdvanceTimerClock(10000);
  PostMessageA(nullptr, WM_USER, 0, 0);
  EXPECT_EQ(static_cast<UINT>(WM_USER), Take(message, nullptr, PM_REMOVE));

  ASSERT_TRUE(KillTimer(nullptr, id));
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(KillTimer(nullptr, id));
  // A second thread timer asked for with identifier 0 gets an identifier of its own.
  const UINT_PTR first = SetTimer(nullptr, 0, 50, CountTimer);
  const UINT_PTR second = SetTimer(nullptr, 0, 50, CountTimer);
  EXPECT_NE(first, second);
  EXPECT_TRUE(KillTimer(nullptr, first));
  EXPECT_TRUE(KillTimer(nullptr, second));
}
#endif

TEST_F(WindowsTest, WindowTimerGoesWithItsWindow) {
  HWND window = Make();
  ASSERT_EQ(5u, SetTimer(window, 5, 100, nullptr));
  AdvanceTimerClock(100);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_NOREMOVE));
  EXPECT_EQ(5u, message.wParam);
  DestroyWindow(window);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  EXPECT_FALSE(KillTimer(window, 5));
}

TEST_F(WindowsTest, ClientAreaIsTheWindowLessItsBorder) {
  HWND bordered = Make(WS_POPUP | WS_BORDER, 60, 40);
  HWND plain = Make(WS_POPUP, 60, 40);
  RECT client, outer;
  ASSERT_TRUE(GetClientRect(bordered, &client));
  EXPECT_EQ("0,0,58,38", Show(client));
  ASSERT_TRUE(GetWindowRect(bordered, &outer));
  EXPECT_EQ("10,20,70,60", Show(outer));
#if !defined(_WIN32)
  int width = 0, height = 0;
  ASSERT_TRUE(PosixWindowCanvas(bordered, nullptr, &width, &height));
  EXPECT_EQ(58, width);
  EXPECT_EQ(38, height);
#endif
  ASSERT_TRUE(GetClientRect(plain, &client));
  EXPECT_EQ("0,0,60,40", Show(client));

  // Client coordinates start inside the border.
  POINT point{11, 21};
  ASSERT_TRUE(ScreenToClient(bordered, &point));
  EXPECT_EQ(0, point.x);
  EXPECT_EQ(0, point.y);
  ASSERT_TRUE(ClientToScreen(bordered, &point));
  EXPECT_EQ(11, point.x);

#if !defined(_WIN32)
  // The class background fills a new canvas.
  EXPECT_EQ(kFace, PixelAt(bordered, 0, 0));
  EXPECT_EQ(kFace, PixelAt(bordered, 57, 37));
#endif
  ASSERT_TRUE(MoveWindow(bordered, 0, 0, 30, 20, FALSE));
  ASSERT_TRUE(GetClientRect(bordered, &client));
  EXPECT_EQ("0,0,28,18", Show(client));
}

TEST_F(WindowsTest, DefaultHandlingClosesValidatesAndHitTests) {
  HWND window = Make();
  LONG_PTR object = 0x1234;
  SetWindowLongPtrA(window, GWLP_USERDATA, object);
  EXPECT_EQ(object, GetWindowLongPtrA(window, GWLP_USERDATA));
  EXPECT_EQ(HTCLIENT, DefWindowProcA(window, WM_NCHITTEST, 0, MAKELPARAM(30, 40)));  // inside, on screen

  // A shown window asks for WM_PAINT after posted messages, until DefWindowProc validates it.
  ShowWindow(window, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(window));
  PostMessageA(window, WM_USER, 0, 0);
  MSG message;
  EXPECT_EQ(static_cast<UINT>(WM_USER), Take(message, window, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_PAINT), Take(message, window, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_PAINT), Take(message, window, PM_REMOVE));  // not validated yet
  DispatchMessageA(&message);
  EXPECT_FALSE(PeekMessageA(&message, window, 0, 0, PM_REMOVE));
  InvalidateRect(window, nullptr, FALSE);
  EXPECT_EQ(static_cast<UINT>(WM_PAINT), Take(message, window, PM_REMOVE));
  DispatchMessageA(&message);

  // Alt+F4 becomes a system close (at once here, posted on Windows), and the default close
  // destroys the window.
  seen.clear();
  DefWindowProcA(window, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(1u | (1u << 29)));
  while (IsWindow(window) && PeekMessageA(&message, window, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  EXPECT_FALSE(IsWindow(window));
  const auto at = [](UINT m) { return std::find(seen.begin(), seen.end(), m) - seen.begin(); };
  EXPECT_LT(at(WM_SYSCOMMAND), at(WM_CLOSE));
  EXPECT_LT(at(WM_CLOSE), at(WM_DESTROY));
  EXPECT_LT(at(WM_DESTROY), static_cast<long>(seen.size()));

  HWND second = Make();
  EXPECT_EQ(0, SendMessageA(second, WM_CLOSE, 0, 0));
  EXPECT_FALSE(IsWindow(second));
  // A class with windows left cannot go.
  HWND third = Make();
  EXPECT_FALSE(UnregisterClassA(kClass, nullptr));
  DestroyWindow(third);
}

// ---- What only the POSIX layer shows: its canvas and its display ----
#if !defined(_WIN32)

// A glyph lies in its cell from the pen position, in dark ink; control characters leave none.
TEST_F(WindowsTest, TextIsDrawnWithCyrillicGlyphs) {
  HWND window = Make(WS_POPUP | WS_BORDER, 82, 42);
  LOGFONTA logFont = {};
  logFont.lfHeight = 15;
  logFont.lfWeight = FW_NORMAL;
  std::strcpy(logFont.lfFaceName, "MS Sans Serif");
  HFONT font = CreateFontIndirectA(&logFont);
  ASSERT_NE(nullptr, font);
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE one{0, 0};
  ASSERT_TRUE(GetTextExtentPoint32A(dc, "\xC6", 1, &one));  // cp1251 capital ZHE
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  ASSERT_TRUE(TextOutA(dc, 5, 4, "\xC6", 1));
  RECT box;
  ASSERT_TRUE(InkBox(window, kFace, &box));
  EXPECT_EQ("in the cell", std::string(box.left >= 4 && box.right <= 5 + one.cx + 1 && box.top >= 4 &&
                                               box.bottom <= 4 + one.cy ? "in the cell" : Show(box)));
  EXPECT_GT(box.right - box.left, 4);
  EXPECT_GT(box.bottom - box.top, 5);
  EXPECT_GT(CanvasOf(window).Count(box.left, box.top, box.right, box.bottom, 0), 0) << "black ink";
  RECT full{0, 0, 80, 40};
  FillRect(dc, &full, GetSysColorBrush(COLOR_BTNFACE));
  ASSERT_TRUE(TextOutA(dc, 5, 4, "\r\n\t", 3));
  EXPECT_FALSE(InkBox(window, kFace, &box));
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  EXPECT_TRUE(DeleteObject(font));
}

#endif

}  // namespace

#if !defined(_WIN32)
// With a display (for example under xvfb-run; the test main keeps its name in
// VELMORA_TEST_DISPLAY) the windows are real X windows showing their canvases; without one these
// checks are skipped.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <time.h>

namespace {

void PumpFor(int milliseconds) {
  for (int i = 0; i < milliseconds / 10; ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

TEST_F(WindowsTest, X11ShowsTheCanvasInsideABlackBorder) {
  // The test main put the display aside; this test (run alone, so its windows are the process's
  // first) takes it back.
  const char* name = std::getenv("VELMORA_TEST_DISPLAY");
  if (name == nullptr || *name == 0) GTEST_SKIP() << "no display";
  setenv("DISPLAY", name, 1);
  Display* display = XOpenDisplay(name);
  if (display == nullptr) GTEST_SKIP() << "display cannot be opened";
  const int screenWidth = DisplayWidth(display, DefaultScreen(display));
  const int screenHeight = DisplayHeight(display, DefaultScreen(display));

  // Screen metrics asked before any window exists already describe the real screen.
  EXPECT_EQ(screenWidth, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(screenHeight, GetSystemMetrics(SM_CYSCREEN));

  HWND window = CreateWindowExA(0, kClass, "x11", WS_POPUP | WS_BORDER, 30, 40, 50, 30, nullptr, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(nullptr, window);
  windows.push_back(window);
  EXPECT_EQ('x', PosixDisplayKind());
  ShowWindow(window, SW_SHOWNORMAL);
  PumpFor(200);
  HDC dc = GetDC(window);
  RECT all{0, 0, 48, 28};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, red);
  ReleaseDC(window, dc);  // presents the canvas
  DeleteObject(red);
  PumpFor(100);

  XImage* image = XGetImage(display, DefaultRootWindow(display), 30, 40, 50, 30, AllPlanes, ZPixmap);
  ASSERT_NE(nullptr, image);
  EXPECT_EQ(0x000000u, XGetPixel(image, 0, 0) & 0xFFFFFF);    // border
  EXPECT_EQ(0x000000u, XGetPixel(image, 49, 29) & 0xFFFFFF);  // border
  EXPECT_EQ(0xFF0000u, XGetPixel(image, 1, 1) & 0xFFFFFF);    // client
  EXPECT_EQ(0xFF0000u, XGetPixel(image, 48, 28) & 0xFFFFFF);
  XDestroyImage(image);

  // Hiding a window whose map the display has not reported yet must not upset the connection.
  HWND quick = Make();
  ShowWindow(quick, SW_SHOWNORMAL);
  ShowWindow(quick, SW_HIDE);
  PumpFor(100);
  ShowWindow(quick, SW_SHOWNORMAL);
  DestroyWindow(quick);
  PumpFor(100);
  EXPECT_TRUE(IsWindow(window));
  XCloseDisplay(display);
  unsetenv("DISPLAY");
}

}  // namespace

#endif
