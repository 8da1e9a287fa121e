// The message window: button sets and default buttons, keyboard and mouse answers, size from the
// text, the painted canvas, the filtered loop, the terminal presentation and the notice snooze.
//
// A window object is built directly so that input can be posted to its window before its loop
// runs; the message-box shaped calls themselves get the unattended answer (Escape).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

#include "UiTestSupport.h"
#include "ui/Kernel.h"
#include "ui/Toknosoobzheniy.h"

namespace {

// The system colours the window is drawn in.
const uint32_t kFace = SysPixel(COLOR_BTNFACE);
const uint32_t kShadow = SysPixel(COLOR_BTNSHADOW);
const uint32_t kHighlight = SysPixel(COLOR_BTNHIGHLIGHT);
const uint32_t kFocus = SysPixel(COLOR_GRAYTEXT);
const uint32_t kCaptionBand = SysPixel(COLOR_ACTIVECAPTION);
const uint32_t kCaptionText = SysPixel(COLOR_CAPTIONTEXT);
const uint32_t kButtonText = SysPixel(COLOR_BTNTEXT);
const uint32_t kText = SysPixel(COLOR_WINDOWTEXT);

void Key(HWND w, WPARAM key) {
  PostMessageA(w, WM_KEYDOWN, key, 1);
  PostMessageA(w, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

void KeyUp(HWND w, WPARAM key) { PostMessageA(w, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u)); }

void Mouse(HWND w, UINT message, int x, int y) { PostMessageA(w, message, 0, MAKELPARAM(x, y)); }

// Width of a text in the window font, as the window measures it (UTF-8 in, drawn as UTF-16).
int WidthOf(const char* text) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateWindowFont();
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size = {0, 0};
  const TWideName wide = Wide(text);
  MeasureText(dc, wide.data(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  return size.cx;
}

// Centre of button i in client coordinates.
POINT ButtonCentre(const TOknoSoobzheniy& box, uint32_t i) {
  RECT client;
  GetClientRect(box.window, &client);
  const int left = (client.right - box.ButtonRowWidth()) / 2 + 104 * static_cast<int>(i);
  return POINT{left + 48, client.bottom - 33 + 12};
}

int timerCalls = 0;
void CALLBACK CountTimerCall(HWND, UINT, UINT_PTR, DWORD) { ++timerCalls; }

class MessageWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!WindowsCanBeMade()) GTEST_SKIP() << "no window can be made here (Wine without a display)";
  }
  void TearDown() override { DrainThreadMessages(false); }
};

TEST_F(MessageWindowTest, ButtonSetsFollowTheLowFlagBitsAndTheDefaultIsClampedToTheLast) {
  struct {
    UINT flags;
    const char* labels;
    int32_t codes[3];
    uint32_t selected;
  } cases[] = {
      {2, "Ignore,Retry,Cancel", {5, 4, 2}, 0},
      {3, "Yes,No,Cancel", {6, 7, 2}, 0},
      {6, "OK", {1}, 0},
      {15, "OK", {1}, 0},
      {0x34, "Yes,No", {6, 7}, 0},  // icon bits change nothing
      {MB_YESNOCANCEL | MB_DEFBUTTON4, "Yes,No,Cancel", {6, 7, 2}, 2},
      {MB_YESNOCANCEL | MB_DEFBUTTON2, "Yes,No,Cancel", {6, 7, 2}, 1},
      {MB_OK | MB_DEFBUTTON2, "OK", {1}, 0},
  };
  for (const auto& c : cases) {
    TOknoSoobzheniy box(TWideName(), Wide("Question"), c.flags);
    ASSERT_NE(box.window, nullptr);
    std::string labels;
    for (uint32_t i = 0; i < box.count; ++i) {
      labels += (i ? "," : "") + Text(box.buttonLabels[i]);
      EXPECT_EQ(box.buttonCodes[i], c.codes[i]) << c.flags << " " << i;
    }
    EXPECT_EQ(labels, c.labels) << c.flags;
    EXPECT_EQ(box.selected, c.selected) << c.flags;
    EXPECT_EQ(Text(box.caption), "Error");
  }
}

// Keys (pressed and released), a release alone (its press came before the window was up), a
// right click anywhere (Escape), Alt+F4; a button's first letter answers with it, other keys do nothing.
TEST_F(MessageWindowTest, KeyboardAndRightClickAnswers) {
  const WPARAM kRightClick = 0x10000, kReleased = 0x20000, kAltF4 = 0x40000;
  struct {
    UINT flags;
    WPARAM keys[4];
    int32_t expected;
  } cases[] = {
      {MB_YESNO, {VK_RETURN}, IDYES},
      {MB_OKCANCEL | MB_DEFBUTTON3, {VK_RETURN}, IDCANCEL},
      {MB_YESNO, {VK_ESCAPE}, IDNO},  // no Cancel button: the last button's code
      {MB_ABORTRETRYIGNORE, {VK_ESCAPE}, IDCANCEL},
      {MB_OK, {VK_ESCAPE}, IDOK},
      {MB_YESNO, {VK_RIGHT, VK_SPACE}, IDNO},
      {MB_YESNOCANCEL, {VK_TAB, VK_TAB, VK_TAB, VK_RETURN}, IDYES},  // Tab on the last wraps
      {MB_YESNOCANCEL, {VK_LEFT, VK_RETURN}, IDCANCEL},             // Left on the first wraps
      {MB_RETRYCANCEL, {VK_LEFT, VK_LEFT, VK_RETURN}, IDRETRY},
      {MB_YESNO, {VK_DOWN, VK_RETURN}, IDYES},
      {MB_YESNOCANCEL, {kReleased | VK_RETURN, kReleased | VK_ESCAPE}, IDCANCEL},
      {MB_YESNO, {kReleased | 'N'}, IDNO},
      {MB_YESNO, {VK_RIGHT, kReleased | 'Y'}, IDYES},
      {MB_OK, {kReleased | 'Q', VK_RETURN}, IDOK},
      {MB_OK, {kRightClick}, IDOK},
      {MB_YESNO, {kRightClick}, IDNO},
      {MB_YESNO, {kAltF4}, IDNO},  // closed from outside: nothing is chosen, though Yes is the default
  };
  for (const auto& c : cases) {
    TOknoSoobzheniy box(TWideName(), Wide("Overwrite?"), c.flags);
    for (WPARAM key : c.keys) {
      if (key == kRightClick)
        Mouse(box.window, WM_RBUTTONUP, 3, 3);
      else if (key == kAltF4)
        PostMessageA(box.window, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(1u << 29));
      else if (key & kReleased)
        KeyUp(box.window, key & 0xFFFF);
      else if (key != 0)
        Key(box.window, key);
    }
    EXPECT_EQ(box.RunModal(), c.expected) << c.flags << " " << c.keys[0];
  }
}

// A click chooses the button it was pressed and released on. Dragged off into the band below the
// text, the pressed button pops up; released on another button or in the gap, nothing happens;
// a press in the gap or above the buttons selects nothing.
TEST_F(MessageWindowTest, MouseClicksAndDrags) {
  const int kGap = -1, kAbove = -2, kBand = -3;  // places that are no button
  struct TMouse {
    UINT message;
    int place;  // a button's index or one of the places above
  };
  const struct {
    UINT flags;
    std::vector<TMouse> events;
    int32_t expected;  // IDNO with selected == 2: nothing was chosen, and a released Escape ends it
    uint32_t selected;
  } cases[] = {
      {MB_YESNO, {{WM_LBUTTONDOWN, 1}, {WM_LBUTTONUP, 1}}, IDNO, 1},
      {MB_YESNO, {{WM_LBUTTONDOWN, 0}, {WM_MOUSEMOVE, kBand}, {WM_LBUTTONUP, 0}}, IDNO, 2},
      {MB_YESNOCANCEL,
       {{WM_LBUTTONDOWN, 2}, {WM_LBUTTONUP, 0}, {WM_LBUTTONUP, kGap}, {WM_MOUSEMOVE, 0}, {WM_LBUTTONUP, 2}},
       IDCANCEL, 2},
      {MB_YESNO, {{WM_LBUTTONDOWN, kGap}, {WM_LBUTTONDOWN, kAbove}}, IDNO, 2},
  };
  for (const auto& c : cases) {
    TOknoSoobzheniy box(Wide("c"), Wide("t"), c.flags);
    RECT client;
    GetClientRect(box.window, &client);
    const POINT yes = ButtonCentre(box, 0);
    for (const TMouse& m : c.events) {
      const POINT at = m.place == kGap ? POINT{yes.x + 48 + 4, yes.y}
                       : m.place == kAbove ? POINT{ButtonCentre(box, 1).x, yes.y - 14}
                       : m.place == kBand ? POINT{yes.x, client.bottom - 38}
                                          : ButtonCentre(box, uint32_t(m.place));
      Mouse(box.window, m.message, at.x, at.y);
    }
    if (c.selected == box.count) KeyUp(box.window, VK_ESCAPE);
    EXPECT_EQ(box.RunModal(), c.expected) << c.events.size();
    if (c.selected == box.count) {
      EXPECT_FALSE(box.mousePressed) << "popped up, or never pressed";
    }
    EXPECT_EQ(box.selected, c.selected) << c.events.size();
  }
}

// The window grows by one line's height a line of text and by a text's width past the buttons, and
// is centred on the screen. CR LF breaks lines; a lone LF is a character, measured with its line.
TEST_F(MessageWindowTest, WindowSizeFollowsTheText) {
  auto outer = [](const char* caption, const char* text, UINT flags) {
    TOknoSoobzheniy box(Wide(caption != nullptr ? caption : ""), Wide(text), flags);
    RECT r = {0, 0, 0, 0};
    EXPECT_TRUE(GetWindowRect(box.window, &r));
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
    return SIZE{r.right - r.left, r.bottom - r.top};
  };
  const int one = outer("Q", "x", MB_OK).cy, line = outer("Q", "x\r\ny", MB_OK).cy - one;
  EXPECT_GT(line, 10);
  EXPECT_EQ(outer("Q", "\r\r", MB_OK).cy, one + 2 * line);
  EXPECT_EQ(outer("Q", "line\r", MB_OK).cy, one + line);  // a final empty piece
  EXPECT_EQ(outer("Q", "one\ntwo", MB_OK).cy, one);
  EXPECT_EQ(outer(nullptr, "", MB_OK).cy, one - line) << "an empty text has no line";
  const char* wide = "A text much wider than the row of buttons below it";
  const char* wider = "A text much wider than the row of buttons below it, and wider still";
  EXPECT_EQ(outer("Q", wider, MB_OK).cx - outer("Q", wide, MB_OK).cx, WidthOf(wider) - WidthOf(wide));
  EXPECT_EQ(outer("Q", "one\r\nthe second line of the text", MB_OK).cx - outer("Q", wide, MB_OK).cx,
            WidthOf("\nthe second line of the text") - WidthOf(wide));
  const char* longCaption = "A caption that is longer than any of the buttons, by far";
  EXPECT_GT(outer(longCaption, "x", MB_OK).cx, WidthOf(longCaption));
  EXPECT_LT(outer("Q", "x", MB_OK).cx, outer("Q", "x", MB_YESNOCANCEL).cx) << "three buttons need a wider row";
}

// The loop takes only its window's messages: the thread's own, its timers and its quit (the
// run's cancel) are the thread's loop's to take.
TEST_F(MessageWindowTest, LoopLeavesThreadMessagesQueued) {
  PostMessageA(nullptr, WM_USER + 7, 1, 2);
  PostQuitMessage(5);
  timerCalls = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, CountTimerCall);
  AdvanceTimerClock(20);
  {
    TOknoSoobzheniy box(Wide("c"), Wide("Replace the file?"), MB_YESNO);
    Key(box.window, VK_RETURN);
    EXPECT_EQ(box.RunModal(), IDYES);
  }
  EXPECT_EQ(timerCalls, 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_USER + 7, WM_USER + 7, PM_REMOVE));
  EXPECT_EQ(message.wParam, 1u);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 5u);
  KillTimer(nullptr, timer);
}

TEST_F(MessageWindowTest, PaintedWindow) {
  TOknoSoobzheniy box(Wide("Velmora"), Wide("first line\r\nsecond line"), MB_YESNO | MB_DEFBUTTON2);
  // A posted WM_CLOSE ends the loop as the window's own requests do, keeping the selection.
  PostMessageA(box.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(box.RunModal(), IDNO);
  box.Paint(nullptr);  // the window stays until the object goes; the close came before WM_PAINT
  const TCanvas c = CanvasOf(box.window);
  RECT client;
  ASSERT_TRUE(GetClientRect(box.window, &client));
  ASSERT_EQ(c.width, client.right);  // the whole client area (the border is the layer's: see WindowsTest)
  ASSERT_EQ(c.height, client.bottom);
  const int left = (c.width - box.ButtonRowWidth()) / 2;
  const int top = c.height - 33;

  EXPECT_EQ(c.At(0, 0), kCaptionBand);
  EXPECT_EQ(c.At(c.width - 1, 20), kCaptionBand);
  EXPECT_EQ(c.At(c.width - 1, 21), kFace);
  EXPECT_GT(c.Count(8, 0, c.width, 21, kCaptionText), 10);  // the caption

  // First button: light top and left edges, dark bottom and right, no focus frame.
  EXPECT_EQ(c.At(left, top + 12), kHighlight);
  EXPECT_EQ(c.At(left + 95, top + 12), kShadow);
  EXPECT_EQ(c.At(left + 40, top + 2), kFace);
  EXPECT_EQ(c.At(left + 96, top + 12), kFace);  // the gap
  // Second button, the default: framed 2 pixels inside.
  EXPECT_EQ(c.At(left + 104 + 40, top + 2), kFocus);
  EXPECT_EQ(c.At(left + 104 + 40, top + 3), kFace);
  // Labels in button text colour.
  EXPECT_GT(c.Count(left + 2, top + 2, left + 94, top + 23, kButtonText), 5);

  // Two lines of text, 17 apart from 29 down.
  EXPECT_GT(c.Count(8, 29, c.width, 46, kText), 10);
  EXPECT_GT(c.Count(8, 46, c.width, 63, kText), 10);
  EXPECT_EQ(c.Count(0, 29, 8, 63, kText), 0);
  // Painting again gives the same pixels (smoothed text must not darken).
  const std::vector<uint32_t> first(c.pixels, c.pixels + c.width * c.height);
  for (int i = 0; i < 3; ++i) box.Paint(nullptr);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), CanvasOf(box.window).pixels));
}

// A name in any script is drawn whole: a letter code page 1251 lacks (é) is drawn, one the font
// lacks (日本 here) is a box, and the text never ends at either.
TEST_F(MessageWindowTest, QuestionDrawsEveryCharacterOfTheName) {
  const char* head = "File \"src\\";
  const std::string question = std::string(head) + "日本é.txt\" already exist. Overwrite?";
  TOknoSoobzheniy box(TWideName(), Wide(question), MB_YESNO);
  PostMessageA(box.window, WM_CLOSE, 0, 0);
  box.RunModal();
  box.Paint(nullptr);
  const TCanvas c = CanvasOf(box.window);
  ASSERT_GE(c.width, 8 + WidthOf(question.c_str()));
  int rightmost = -1;
  for (int y = 29; y < 46; ++y)
    for (int x = 0; x < c.width; ++x)
      if (c.At(x, y) == kText && x > rightmost) rightmost = x;
  EXPECT_GT(rightmost, 8 + WidthOf(question.c_str()) - 12) << "the text runs to its end";
  const int name = 8 + WidthOf(head);
  EXPECT_GT(c.Count(name, 29, name + WidthOf("日本é"), 46, kText), 6) << "the name's characters leave ink";
  EXPECT_GT(WidthOf("日本é"), WidthOf("é")) << "the characters the font lacks take room";
}

// A question about a long path stays on a 1024 x 768 screen: the path is broken after its folders'
// backslashes and the window is made for every line.
TEST_F(MessageWindowTest, LongNameQuestionFitsTheScreen) {
  ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  std::string path;
  while (path.size() < 357) path += "a rather long folder name\\";
  const std::string question = "File \"" + path + "report.txt\" already exist. Overwrite?";
  TOknoSoobzheniy box(Wide(""), Wide(question.c_str()), MB_YESNO);
  RECT frame;
  ASSERT_TRUE(GetWindowRect(box.window, &frame));
  EXPECT_GE(frame.left, 0);
  EXPECT_LE(frame.right, 1024);
  EXPECT_GE(frame.top, 0);
  EXPECT_LE(frame.bottom, 768);
  Key(box.window, VK_ESCAPE);
  box.RunModal();
  box.Paint(nullptr);
  const TCanvas c = CanvasOf(box.window);
  // Text lines are 17 pixels apart from y = 29; those with dark glyph pixels are drawn lines, and
  // the last of them ends with "Overwrite?".
  int lines = 0;
  while (29 + 17 * (lines + 1) <= c.height - 33 &&
         c.Count(8, 29 + 17 * lines, c.width - 8, 29 + 17 * (lines + 1), kText) > 20)
    ++lines;
  EXPECT_GE(lines, 3) << "the path is broken into lines; window " << c.width << " x " << c.height;
  EXPECT_EQ(29 + 17 * lines + 8 + 33, frame.bottom - frame.top) << "every line drawn, the window made for them";
}

// ---- What only the POSIX layer shows: its paints and its terminal ----
#if !defined(_WIN32)

// Unattended (no display, standard input not a terminal): a notice is shown on standard error
// and goes; a question, which nobody can answer, is answered No at once and not shown.
TEST_F(MessageWindowTest, UnattendedNoticesShowOnStandardErrorAndQuestionsAreAnsweredNo) {
  ASSERT_EQ(PosixDisplayKind(), 't');
  testing::internal::CaptureStderr();
  const int32_t answer = ShowMessageWindow(nullptr, "Overwrite photos.pck?", nullptr, MB_YESNO);
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  // The wide call converts through the code-page tables.
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessageWindowW(nullptr, WIDE_TEXT("\u0424\u0430\u0439\u043B \u043D\u0435 \u043D\u0430\u0439\u0434\u0435\u043D"),
                               WIDE_TEXT("\u041E\u0448\u0438\u0431\u043A\u0430"), MB_OK),
            IDOK);
  const std::string wide = testing::internal::GetCapturedStderr();
  EXPECT_NE(wide.find("\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB"), std::string::npos) << wide;  // Файл, UTF-8
  EXPECT_NE(wide.find("\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0"), std::string::npos) << wide;
  EXPECT_EQ(ShowMessageWindowW(nullptr, nullptr, nullptr, MB_RETRYCANCEL), IDCANCEL);
}

TEST_F(MessageWindowTest, CancelledNoticeSnoozesUntilTheTimerIsDispatched) {
  ASSERT_FALSE(NoticesSnoozed());
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowNotice("Disk full", "Notice"));  // answered unattended: Cancel
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_NE(shown.find("Disk full"), std::string::npos);
  ASSERT_TRUE(NoticesSnoozed());

  testing::internal::CaptureStderr();
  EXPECT_FALSE(ShowNotice("Second", "Notice"));
  EXPECT_FALSE(ShowNoticeW(WIDE_TEXT("Third"), nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  DrainThreadMessages(true);  // not due yet
  EXPECT_TRUE(NoticesSnoozed());
  PosixAdvanceTimerClock(9000);
  DrainThreadMessages(true);
  EXPECT_TRUE(NoticesSnoozed());
  PosixAdvanceTimerClock(1001);
  {
    // A message window up meanwhile does not serve the thread's timer.
    TOknoSoobzheniy box(Wide("c"), Wide("t"), MB_OK);
    Key(box.window, VK_RETURN);
    box.RunModal();
  }
  EXPECT_TRUE(NoticesSnoozed());
  DrainThreadMessages(true);
  EXPECT_FALSE(NoticesSnoozed());

  // Cancel again arms a new timer, and the timer goes once it has served.
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ShowNoticeW(WIDE_TEXT("\u041D\u0435\u0442"), nullptr));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("\xD0\x9D\xD0\xB5\xD1\x82"), std::string::npos);
  EXPECT_TRUE(NoticesSnoozed());
  PosixAdvanceTimerClock(10001);
  DrainThreadMessages(true);
  EXPECT_FALSE(NoticesSnoozed());
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
}

#endif

}  // namespace
