// The progress window as a user and the job see it: its size, the bar read back from its canvas
// (positions, base, the float bit patterns of the update message, the skip rule), the cancel
// path, the refused system close and the closing animation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "UiTestSupport.h"
#include "foundation/Memdiag.h"
#include "platform/win32.h"
#include "ui/Kernel.h"
#include "ui/Toknosostoyaniya.h"

namespace {

// The system colours the window is drawn in.
const uint32_t kFace = SysPixel(COLOR_BTNFACE);
const uint32_t kDark = SysPixel(COLOR_BTNTEXT);
const uint32_t kGrey = SysPixel(COLOR_GRAYTEXT);
const uint32_t kCaptionBand = SysPixel(COLOR_ACTIVECAPTION);

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

bool QuitQueued() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

struct TBar {
  int left, top, right, bottom;
};

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WindowsCanBeMade()) GTEST_SKIP() << "no window can be made here (Wine without a display)";
  }
  void TearDown() override {
    Close();
    DrainThreadMessages(false);
  }

  TOknoSostoyaniya* Open(const char* text = "Compressing file...", UINT flags = 0) {
    EXPECT_EQ(2, OpenProgressWindowEx(&object, nullptr, text, nullptr, flags));
    EXPECT_NE(nullptr, object);
    PumpProgressMessages(object);  // the shown window's WM_PAINT, as the program pumps once at start
    return object;
  }

  void Close() {
    if (object == nullptr) return;
    Destroy(object);
  }

  // Posts one message to the window and pumps it.
  void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    PostMessageA(object->window, message, wParam, lParam);
    PumpProgressMessages(object);
  }

  void Update(float progress, float base) {
    PostMessageA(object->window, WM_PROGRESS_UPDATE, WPARAM(Bits(progress)), LPARAM(Bits(base)));
    PumpProgressMessages(object);
  }

  uint32_t Pixel(int x, int y) const { return CanvasOf(object->window).At(x, y); }

  TBar Bar() const {
    RECT client;
    EXPECT_TRUE(GetClientRect(object->window, &client));
    const int band = object->count > 0 ? 33 : 0;
    TBar bar{client.left + 8, 0, client.right - 8, client.bottom - band - 8};
    bar.top = bar.bottom - 25;
    return bar;
  }

  // The colour runs along the middle row of the bar's inside, as (first x, colour) pairs.
  std::vector<std::pair<int, uint32_t>> BarRuns() const {
    const TBar bar = Bar();
    std::vector<std::pair<int, uint32_t>> runs;
    const int y = (bar.top + bar.bottom) / 2;
    const TCanvas canvas = CanvasOf(object->window);
    for (int x = bar.left - 1; x <= bar.right; ++x) {
      const uint32_t pixel = canvas.At(x, y);
      if (runs.empty() || runs.back().second != pixel) runs.emplace_back(x, pixel);
    }
    return runs;
  }

  int Width(const TBar& bar) const { return bar.right - bar.left; }
  // The bar at progress p with no base: dark up to its fill's end, face after it.
  std::vector<std::pair<int, uint32_t>> At(float p) const {
    const TBar bar = Bar();
    const int end = bar.left + static_cast<int>(std::lround(p * Width(bar)));
    return {{bar.left - 1, kFace}, {bar.left, kDark}, {end - 1, kFace}, {bar.right - 1, kDark}, {bar.right, kFace}};
  }
  // The bar's runs when it is full, and when it is empty (only the frame is dark).
  std::vector<std::pair<int, uint32_t>> Full() const {
    const TBar bar = Bar();
    return {{bar.left - 1, kFace}, {bar.left, kDark}, {bar.right, kFace}};
  }
  std::vector<std::pair<int, uint32_t>> Empty() const {
    const TBar bar = Bar();
    return {{bar.left - 1, kFace}, {bar.left, kDark}, {bar.left + 1, kFace}, {bar.right - 1, kDark}, {bar.right, kFace}};
  }

  SIZE Measure(const char* text) const {
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, object->font);
    SIZE size{0, 0};
    MeasureText(memory, text, static_cast<int>(std::strlen(text)), &size);
    SelectObject(memory, old);
    DeleteDC(memory);
    return size;
  }

  TOknoSostoyaniya* object = nullptr;
};

typedef std::vector<std::pair<int, uint32_t>> Runs;

// Centred, as wide as its text needs past the caption, taller by a line and by a button row.
TEST_F(ProgressWindowTest, SizedFromCaptionAndText) {
  auto outer = [this](const char* text, UINT flags) {
    Close();
    Open(text, flags);
    EXPECT_TRUE(IsWindowVisible(object->window));
    RECT r;
    EXPECT_TRUE(GetWindowRect(object->window, &r));
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2, r.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2, r.top);
    return SIZE{r.right - r.left, r.bottom - r.top};
  };
  const char* wide = "Compressing a file whose name is long enough to widen the window";
  const char* wider = "Compressing a file whose name is long enough to widen the window even more";
  const SIZE one = outer(wide, 0), two = outer("first\r\nsecond", 0), buttons = outer("first\r\nsecond", 0x201);
  EXPECT_EQ(outer(wider, 0).cx - one.cx, Measure(wider).cx - Measure(wide).cx);
  EXPECT_GE(two.cy - one.cy, Measure("x").cy);
  EXPECT_EQ(outer("a\r\nb\r\nc", 0).cy - two.cy, two.cy - one.cy) << "a line's height a line";
  EXPECT_GT(buttons.cy - two.cy, 20);
  EXPECT_GT(buttons.cx, two.cx) << "room for OK and Cancel";
}

TEST_F(ProgressWindowTest, EscapeCancelsOnlyOnceArmed) {
  Open();
  PostMessageA(object->window, WM_KEYDOWN, VK_ESCAPE, 1);
  Post(WM_KEYUP, VK_ESCAPE, LPARAM(0xC0000001u));
  EXPECT_FALSE(QuitQueued());

  Post(WM_PROGRESS_ALLOW_CANCEL);
  EXPECT_FALSE(QuitQueued());
  Post(WM_KEYUP, VK_ESCAPE, LPARAM(0xC0000001u));
  EXPECT_TRUE(QuitQueued());
  // The window's own WM_CLOSE was taken by the pump and dropped; the window stays.
  EXPECT_TRUE(IsWindow(object->window));
#if !defined(_WIN32)  // Windows queues messages of its own for a shown window
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, object->window, 0, 0, PM_NOREMOVE));
#endif
  // The quit is the job's to take: the window's pumps leave it queued.
  PumpProgressMessages(object);
  EXPECT_TRUE(QuitQueued());
}

TEST_F(ProgressWindowTest, PumpNoticesAGoneWindowAndNeverTakesThreadMessages) {
  Open();
  DestroyWindow(object->window);
  PumpProgressMessages(object);
  EXPECT_EQ(nullptr, object->window);

  // With no window the pump has nothing to filter on and must leave the thread's queue alone.
  PostQuitMessage(0);
  PumpProgressMessages(object);
  EXPECT_TRUE(QuitQueued());
  Close();  // no second destruction of the window
}

TEST_F(ProgressWindowTest, BarShowsProgressAndBase) {
  Open();
  const TBar bar = Bar();
  const int quarter = bar.left + static_cast<int>(std::lround(0.25f * Width(bar)));

  // Frame, dark fill up to one pixel before the end, face to the frame's right edge.
  Update(0.5f, -1.0f);
  EXPECT_EQ(At(0.5f), BarRuns());
  EXPECT_EQ(kFace, Pixel(bar.right - 3, bar.bottom - 2)) << "the fill stays inside the frame";

  // A base: dark up to it, grey from there to the progress.
  const float progress = 0.5f + 0.25f / 8.0f;
  Update(progress, 0.25f);
  const int end = bar.left + static_cast<int>(std::lround(progress * Width(bar)));
  EXPECT_EQ((Runs{{bar.left - 1, kFace}, {bar.left, kDark}, {quarter - 1, kGrey}, {end - 1, kFace},
                  {bar.right - 1, kDark}, {bar.right, kFace}}),
            BarRuns());

  // Only the low 32 bits of the message's parameters count: a sign-extended -1 is no base.
  const int32_t negative = static_cast<int32_t>(Bits(-1.0f));
  Post(WM_PROGRESS_UPDATE, WPARAM(Bits(0.75f)), LPARAM(negative));
  EXPECT_EQ(At(0.75f), BarRuns());

  // A base of 0 is a base: all grey.
  Update(0.9f, 0.0f);
  const int nine = bar.left + static_cast<int>(std::lround(0.9f * Width(bar)));
  EXPECT_EQ((Runs{{bar.left - 1, kFace}, {bar.left, kDark}, {bar.left + 1, kGrey}, {nine - 1, kFace},
                  {bar.right - 1, kDark}, {bar.right, kFace}}),
            BarRuns());

  // Positions outside the range stay inside the bar.
  Update(1.5f, 2.0f);
  EXPECT_EQ(Full(), BarRuns());
  Update(-0.5f, -1.0f);
  EXPECT_EQ(Empty(), BarRuns());
}

// The pump stops at the window's WM_CLOSE, which Enter on a button posts too; the messages behind
// it wait for the next pump. System close, right click and Enter leave the window open and cancel
// nothing.
TEST_F(ProgressWindowTest, CloseRequestsLeaveTheWindowOpen) {
  Open("Working", 4);  // Yes, No
  Update(0.0f, -1.0f);
  PostMessageA(object->window, WM_CLOSE, 0, 0);
  PostMessageA(object->window, WM_PROGRESS_UPDATE, WPARAM(Bits(0.5f)), LPARAM(Bits(-1.0f)));
  PumpProgressMessages(object);
  EXPECT_EQ(Empty(), BarRuns());
  PumpProgressMessages(object);
  EXPECT_EQ(At(0.5f), BarRuns());

  Post(WM_SYSKEYDOWN, VK_F4, LPARAM(1u | (1u << 29)));
  EXPECT_EQ(1, SendMessageA(object->window, WM_CLOSE, 0, 0));
  Post(WM_RBUTTONUP, 0, MAKELPARAM(10, 40));
  Post(WM_KEYDOWN, VK_RETURN);
  Post(WM_KEYUP, VK_RETURN);
  EXPECT_TRUE(IsWindow(object->window));
  EXPECT_FALSE(QuitQueued());
}

// ---- What only the POSIX layer shows: its paints ----
#if !defined(_WIN32)

// The shown window stays blank until the first update paints it whole (caption band, text); after
// that a change below one bar pixel is not painted.
TEST_F(ProgressWindowTest, ChangesBelowOneBarPixelAreNotPainted) {
  Open();
  EXPECT_EQ(0u, PosixWindowPaintCount(object->window));
  EXPECT_EQ(kFace, Pixel(3, 3));
  const float pixel = 1.0f / static_cast<float>(Width(Bar()));
  Update(0.5f, -1.0f);
  const uint32_t first = PosixWindowPaintCount(object->window);
  EXPECT_EQ(1u, first);
  EXPECT_EQ(kCaptionBand, Pixel(3, 3));
  EXPECT_GT(CanvasOf(object->window).Count(8, 29, 40, Bar().top, kDark), 0) << "the text line's ink";
  Update(0.5f, -1.0f);
  Update(0.5f, 0.1f);  // a new base alone does not move the bar
  Update(0.5f + 0.5f * pixel, -1.0f);
  EXPECT_EQ(first, PosixWindowPaintCount(object->window));
  Update(0.5f + 1.5f * pixel, -1.0f);
  EXPECT_EQ(first + 1, PosixWindowPaintCount(object->window));
  // The step that completes the bar is always painted, however small.
  Update(1.0f - 0.5f * pixel, -1.0f);
  Update(1.0f, -1.0f);
  EXPECT_EQ(first + 3, PosixWindowPaintCount(object->window));

  // A repaint request forces a full paint even without a change, once.
  InvalidateRect(object->window, nullptr, FALSE);
  PumpProgressMessages(object);
  PumpProgressMessages(object);
  EXPECT_EQ(first + 4, PosixWindowPaintCount(object->window));
}

// From 90 % or more the finish jumps to the end (after a pause from below 95 %); from 0 it
// animates in steps of 8 % a 40 ms frame. The window and its class go with the object.
TEST_F(ProgressWindowTest, FinishJumpsFromHighUpAndAnimatesFromZero) {
  Open();
  const struct {
    float from;
    uint32_t paints;
    int waitsAtLeast;
  } cases[] = {{0.97f, 1, 0}, {0.92f, 1, 120}, {0.0f, 13, 12 * 40 + 125 - 10}};  // 0 %: already shown
  for (const auto& c : cases) {
    Update(c.from, -1.0f);
    const uint32_t before = PosixWindowPaintCount(object->window);
    const auto start = std::chrono::steady_clock::now();
    Post(WM_PROGRESS_FINISH);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(before + c.paints, PosixWindowPaintCount(object->window)) << c.from;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), c.waitsAtLeast) << c.from;
    EXPECT_EQ(Full(), BarRuns());
  }
  const HWND window = object->window;
  Close();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(UnregisterClassA("ProgressBox Class", GetModuleHandleA(nullptr)));
}

#endif

}  // namespace
