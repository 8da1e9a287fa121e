// What the message window and the progress window share: their measures, the title band with the
// caption, and the centred row of flat buttons, so that both look alike to the pixel.
#pragma once
#include <cstdint>
#include <vector>

#include "foundation/Tstring.h"
#include "platform/win32.h"

constexpr int kTitleBand = 21;      // height of the band that carries the caption
constexpr int kFirstLineTop = 29;   // top of the first text line
constexpr int kLinePitch = 17;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 96;
constexpr int kButtonHeight = 25;
constexpr int kButtonPitch = 104;   // from one button's left edge to the next one's
constexpr int kButtonBand = 33;     // from the buttons' top to the window's bottom
constexpr int kTrackingBand = 41;   // height of the band in which the mouse is followed
constexpr int kFocusInset = 2;

// A window's text (UTF-16) is cut into lines at CR. Measured, every piece counts (a final empty one too) and
// a line feed stays in the piece it begins, where it is a character; drawn, the line feeds right
// after a CR are skipped and nothing follows a final CR.
struct TTextLine {
  uint32_t start;
  uint32_t length;
};
std::vector<TTextLine> DrawnLines(const TWideName& text);
// Raises width to the widest measured line (in the font selected into dc); gives the line count.
int MeasureTextLines(HDC dc, const TWideName& text, int& width);

// The buttons of the message-box flag values 0 to 5 (flags & 15): OK; OK, Cancel; Ignore, Retry,
// Cancel; Yes, No, Cancel; Yes, No; Retry, Cancel.
struct TButtonSet {
  uint32_t count;
  const char* labels[3];
  int32_t codes[3];
};
// The set of a flag value; a value past 5 gives OK, as the message window takes it.
const TButtonSet& ButtonSetOf(UINT flags);

// A window's row from a set (none for null): its labels and codes copied, and the default button
// of the flags (MB_DEFBUTTON1 to 4) clamped to the last one; without buttons the clamp leaves the
// all-ones index, which names no button.
void TakeButtonSet(const TButtonSet* set, UINT flags, TAnsiString* labels, int32_t* codes, uint32_t& count,
                   uint32_t& selected);

// Width of a row of count buttons.
int ButtonRowWidth(uint32_t count);

// The button after (Tab, Right) or before (Left) `selected` in a row of count, wrapping round; from
// no selection (count) forwards is the first button, backwards the last.
uint32_t NeighbourButton(uint32_t selected, uint32_t count, bool forward);

// What a mouse message does to a row of count buttons centred in the button band: a press on a
// button selects and presses it; a release on the pressed button answers with it; a drag off the
// buttons, within the tracking band, lets the pressed button up. Messages elsewhere are ignored.
enum TButtonMouse { ButtonMouseIgnored, ButtonMouseChanged, ButtonMouseAnswered };
TButtonMouse ApplyButtonMouse(const RECT& client, uint32_t count, UINT message, LPARAM lParam, uint32_t& selected,
                              bool& pressed);

// The key and mouse rules of a row of buttons, the same in both windows: Tab and Right move the
// focus on, Left back; Space or Return pressed and released chooses the focused button; a button
// clicked and released on chooses it; with `letters`, a letter chooses the button it begins (Y for
// Yes); Escape and a right click choose none (the selection becomes `count`). What the window does
// with the verdict is its own.
struct TButtonRow {
  const TAnsiString* labels;
  uint32_t count;
  uint32_t& selected;
  bool& mousePressed;
  bool& keyPressed;
};
enum TButtonInput {
  InputNotMine,    // not a message of the rules: the window's default handling takes it
  InputTaken,      // taken, nothing to show
  InputChanged,    // taken: the row looks different now
  InputChosen,     // a button was chosen (selected names it)
  InputEscape,     // Escape: none chosen
  InputDismissed,  // a right click: none chosen
};
TButtonInput ApplyButtonInput(HWND window, TButtonRow row, UINT message, WPARAM wParam, LPARAM lParam, bool letters);

// A bordered popup window of the given outer size centred on the screen, whose procedure finds
// `object` in its user data; null when the system makes none.
HWND CreateCentredWindow(const char* className, const TWideName& caption, int width, int height,
                         HINSTANCE instance, void* object);

// Fills the title band and writes the caption in it; leaves the caption's text colour selected.
void DrawTitleBand(HDC dc, const RECT& client, const TWideName& caption);

// Draws count buttons centred in the button band: face, a light edge above and left and a dark
// one below and right (the other way round for the pressed one), the focus frame inside the
// selected one, the label centred. The button-text colour is selected first; darkPen is left
// selected.
void DrawButtonRow(HDC dc, const RECT& client, const TAnsiString* labels, uint32_t count, uint32_t selected,
                   bool pressed, HPEN lightPen, HPEN darkPen, HBRUSH focusBrush);
