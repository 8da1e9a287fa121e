// Device contexts over 32-bit pixel canvases, with pens, brushes and fonts.
//
// A window context draws into its window's client canvas (looked up through the window handle on
// every call, so a context outliving its window draws nowhere); a memory context has a canvas of
// its own of one pixel, enough for measuring text. Coordinates are clipped to the canvas.
// Geometry follows Win32: lines leave out their end point; Rectangle draws its outline with the
// pen on the rectangle's inside edge and fills the inside with the brush, so with a null pen the
// filled area is one pixel narrower and shorter than the rectangle.
#include "platform/posix/PosixInternal.h"
#include "platform/posix/WindowSystem.h"

#include <vector>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <map>

namespace {

enum TObjectKind { kPen = 1, kBrush, kFont, kBitmap };

struct GdiObject {
  TObjectKind kind;
  int penStyle = PS_SOLID;
  int penWidth = 0;
  COLORREF color = 0;
  LOGFONTA logFont{};
  posixwin::FontFace* face = nullptr;
  bool stock = false;
};

struct DeviceContext {
  HWND window = nullptr;  // null for a memory context
  posixwin::Canvas memory;
  HGDIOBJ pen = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ font = nullptr;
  HGDIOBJ bitmap = nullptr;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF backColor = RGB(255, 255, 255);
  int backMode = OPAQUE;
  UINT align = TA_LEFT | TA_TOP;
  POINT position{0, 0};
};

std::map<uintptr_t, GdiObject> objects;
std::map<uintptr_t, DeviceContext> contexts;
uintptr_t nextObject = 0x100000;
uintptr_t nextContext = 0x200000;
HGDIOBJ systemBrushes[COLOR_BTNHIGHLIGHT + 1];
HGDIOBJ defaultPen = nullptr;
HGDIOBJ defaultBrush = nullptr;
HGDIOBJ defaultFont = nullptr;
HGDIOBJ defaultBitmap = nullptr;

// Classic light-grey desktop scheme.
const COLORREF kSystemColors[COLOR_BTNHIGHLIGHT + 1] = {
    RGB(192, 192, 192),  // COLOR_SCROLLBAR
    RGB(0, 128, 128),    // COLOR_BACKGROUND
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // COLOR_ACTIVEBORDER
    RGB(192, 192, 192),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
};

HGDIOBJ AddObject(const GdiObject& object) {
  uintptr_t id = nextObject;
  nextObject += 4;
  objects[id] = object;
  return reinterpret_cast<HGDIOBJ>(id);
}

HGDIOBJ StockObject(TObjectKind kind, COLORREF color) {
  GdiObject object;
  object.kind = kind;
  object.color = color;
  object.stock = true;
  return AddObject(object);
}

void EnsureStockObjects() {
  if (defaultPen != nullptr) return;
  defaultPen = StockObject(kPen, RGB(0, 0, 0));
  defaultBrush = StockObject(kBrush, RGB(255, 255, 255));
  defaultBitmap = StockObject(kBitmap, 0);
  GdiObject font;
  font.kind = kFont;
  font.stock = true;
  font.logFont.lfHeight = 16;
  font.logFont.lfWeight = FW_NORMAL;
  font.logFont.lfCharSet = DEFAULT_CHARSET;
  std::snprintf(font.logFont.lfFaceName, LF_FACESIZE, "%s", "MS Sans Serif");
  defaultFont = AddObject(font);
}

GdiObject* FindObject(HGDIOBJ handle) {
  uintptr_t id = reinterpret_cast<uintptr_t>(handle);
  // Win32 accepts a system colour index + 1 where a brush is expected.
  if (id >= 1 && id <= COLOR_BTNHIGHLIGHT + 1) return FindObject(GetSysColorBrush(static_cast<int>(id - 1)));
  auto it = objects.find(id);
  return it == objects.end() ? nullptr : &it->second;
}

DeviceContext* FindContext(HDC dc) {
  auto it = contexts.find(reinterpret_cast<uintptr_t>(dc));
  return it == contexts.end() ? nullptr : &it->second;
}

posixwin::Canvas* TargetOf(DeviceContext* context) {
  if (context->window == nullptr) return &context->memory;
  posixwin::WindowRecord* record = posixwin::FindWindowRecord(context->window);
  return record == nullptr ? nullptr : &record->canvas;
}

uint32_t ToPixel(COLORREF color) {
  return (static_cast<uint32_t>(GetRValue(color)) << 16) | (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

void FillArea(posixwin::Canvas* canvas, int left, int top, int right, int bottom, COLORREF color) {
  if (canvas == nullptr) return;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (right > canvas->width) right = canvas->width;
  if (bottom > canvas->height) bottom = canvas->height;
  uint32_t pixel = ToPixel(color);
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) canvas->pixels[static_cast<size_t>(y) * canvas->width + x] = pixel;
}

void PutPixel(posixwin::Canvas* canvas, int x, int y, COLORREF color) {
  if (canvas == nullptr || x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return;
  canvas->pixels[static_cast<size_t>(y) * canvas->width + x] = ToPixel(color);
}

bool PenDraws(GdiObject* pen) { return pen != nullptr && pen->kind == kPen && pen->penStyle != PS_NULL; }

posixwin::FontFace* FaceOf(DeviceContext* context) {
  GdiObject* font = FindObject(context->font);
  if (font == nullptr || font->kind != kFont) return nullptr;
  if (font->face == nullptr) font->face = posixwin::OpenFont(font->logFont);
  return font->face;
}

// The characters of a text as the font draws them: cp1251 bytes through the code page; UTF-16
// with its pairs joined, a lone surrogate as U+FFFD.
std::vector<uint32_t> CodesOf(LPCSTR text, int length) {
  std::vector<uint32_t> codes;
  for (int i = 0; i < length; ++i) codes.push_back(posixwin::DrawnCodeOfByte(static_cast<uint8_t>(text[i])));
  return codes;
}

std::vector<uint32_t> CodesOf(LPCWSTR text, int length) {
  std::vector<uint32_t> codes;
  for (size_t i = 0; i < size_t(length);) {
    const uint32_t c = DecodeUtf16(text, size_t(length), i);
    codes.push_back(c >= 0xD800 && c <= 0xDFFF ? 0xFFFD : c);
  }
  return codes;
}

bool Extent(DeviceContext* context, const std::vector<uint32_t>& codes, SIZE* size) {
  posixwin::FontFace* face = FaceOf(context);
  if (face == nullptr) return false;
  size->cx = 0;
  size->cy = 0;
  int advance = 0, height = 0;
  if (!posixwin::MeasureCode(face, ' ', &advance, &height)) return false;
  size->cy = height;
  for (uint32_t code : codes) {
    if (!posixwin::MeasureCode(face, code, &advance, &height)) return false;
    size->cx += advance;
  }
  return true;
}

template <typename TChar>
BOOL TextExtent(HDC dc, const TChar* text, int length, LPSIZE size) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr || size == nullptr || length < 0 || (text == nullptr && length > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Extent(context, CodesOf(text, length), size) ? TRUE : FALSE;
}

template <typename TChar>
BOOL TextOut(HDC dc, int x, int y, const TChar* text, int length) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr || length < 0 || (text == nullptr && length > 0)) return FALSE;
  posixwin::FontFace* face = FaceOf(context);
  if (face == nullptr) return FALSE;
  const std::vector<uint32_t> codes = CodesOf(text, length);
  SIZE size{0, 0};
  if (!Extent(context, codes, &size)) return FALSE;
  UINT horizontal = context->align & 6u;
  UINT vertical = context->align & 24u;
  if (horizontal == TA_RIGHT) x -= size.cx;
  else if (horizontal == TA_CENTER) x -= size.cx / 2;
  if (vertical == TA_BOTTOM) y -= size.cy;
  else if (vertical == TA_BASELINE) y -= posixwin::FontAscent(face);
  posixwin::Canvas* canvas = TargetOf(context);
  if (canvas == nullptr) return TRUE;
  if (context->backMode == OPAQUE) FillArea(canvas, x, y, x + size.cx, y + size.cy, context->backColor);
  uint32_t color = ToPixel(context->textColor);
  for (uint32_t code : codes) x += posixwin::DrawCode(face, code, canvas, x, y, color);
  return TRUE;
}

}  // namespace

DWORD GetSysColor(int index) {
  if (index < 0 || index > COLOR_BTNHIGHLIGHT) return 0;
  return kSystemColors[index];
}

HBRUSH GetSysColorBrush(int index) {
  if (index < 0 || index > COLOR_BTNHIGHLIGHT) return nullptr;
  if (systemBrushes[index] == nullptr) systemBrushes[index] = StockObject(kBrush, kSystemColors[index]);
  return systemBrushes[index];
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
  if (font == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject object;
  object.kind = kFont;
  object.logFont = *font;
  object.logFont.lfFaceName[LF_FACESIZE - 1] = 0;
  return AddObject(object);
}

HPEN CreatePen(int style, int width, COLORREF color) {
  if (style != PS_SOLID && style != PS_NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  GdiObject object;
  object.kind = kPen;
  object.penStyle = style;
  object.penWidth = width;
  object.color = color;
  return AddObject(object);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  GdiObject object;
  object.kind = kBrush;
  object.color = color;
  return AddObject(object);
}

BOOL DeleteObject(HGDIOBJ handle) {
  auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == objects.end()) return FALSE;
  if (it->second.stock) return TRUE;  // stock objects are never deleted
  for (auto& entry : contexts) {
    DeviceContext& context = entry.second;
    if (context.pen == handle || context.brush == handle || context.font == handle || context.bitmap == handle)
      return FALSE;  // still selected somewhere, as Win32 refuses it
  }
  if (it->second.face != nullptr) posixwin::CloseFont(it->second.face);
  objects.erase(it);
  return TRUE;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ handle) {
  DeviceContext* context = FindContext(dc);
  GdiObject* object = FindObject(handle);
  if (context == nullptr || object == nullptr) return nullptr;
  HGDIOBJ* slot = nullptr;
  switch (object->kind) {
    case kPen: slot = &context->pen; break;
    case kBrush: slot = &context->brush; break;
    case kFont: slot = &context->font; break;
    case kBitmap: slot = &context->bitmap; break;
  }
  HGDIOBJ previous = *slot;
  uintptr_t id = reinterpret_cast<uintptr_t>(handle);
  *slot = id <= COLOR_BTNHIGHLIGHT + 1 ? GetSysColorBrush(static_cast<int>(id - 1)) : handle;
  return previous;
}

namespace {

HDC NewContext(HWND window) {
  EnsureStockObjects();
  DeviceContext context;
  context.window = window;
  context.pen = defaultPen;
  context.brush = defaultBrush;
  context.font = defaultFont;
  context.bitmap = defaultBitmap;
  if (window == nullptr) context.memory.Resize(1, 1, 0xFFFFFF);
  uintptr_t id = nextContext;
  nextContext += 4;
  contexts[id] = context;
  return reinterpret_cast<HDC>(id);
}

}  // namespace

HDC CreateCompatibleDC(HDC dc) { return NewContext(nullptr); }

BOOL DeleteDC(HDC dc) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr || context->window != nullptr) return FALSE;
  contexts.erase(reinterpret_cast<uintptr_t>(dc));
  return TRUE;
}

HDC GetDC(HWND window) {
  if (window == nullptr || posixwin::FindWindowRecord(window) == nullptr) return nullptr;
  return NewContext(window);
}

int ReleaseDC(HWND window, HDC dc) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr || context->window == nullptr) return 0;
  posixwin::WindowRecord* record = posixwin::FindWindowRecord(context->window);
  contexts.erase(reinterpret_cast<uintptr_t>(dc));
  if (record != nullptr) {
    ++record->paintCount;
    posixwin::PresentCanvas(record);
  }
  return 1;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DeviceContext* context = FindContext(dc);
  GdiObject* object = FindObject(brush);
  if (context == nullptr || rect == nullptr || object == nullptr || object->kind != kBrush) return 0;
  FillArea(TargetOf(context), rect->left, rect->top, rect->right, rect->bottom, object->color);
  return 1;
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DeviceContext* context = FindContext(dc);
  GdiObject* object = FindObject(brush);
  if (context == nullptr || rect == nullptr || object == nullptr || object->kind != kBrush) return 0;
  if (rect->right <= rect->left || rect->bottom <= rect->top) return 1;
  posixwin::Canvas* canvas = TargetOf(context);
  FillArea(canvas, rect->left, rect->top, rect->right, rect->top + 1, object->color);
  FillArea(canvas, rect->left, rect->bottom - 1, rect->right, rect->bottom, object->color);
  FillArea(canvas, rect->left, rect->top, rect->left + 1, rect->bottom, object->color);
  FillArea(canvas, rect->right - 1, rect->top, rect->right, rect->bottom, object->color);
  return 1;
}

BOOL MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return FALSE;
  if (previous != nullptr) *previous = context->position;
  context->position.x = x;
  context->position.y = y;
  return TRUE;
}

// Bresenham from the current position to (x, y), leaving out (x, y) itself.
BOOL LineTo(HDC dc, int x, int y) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return FALSE;
  GdiObject* pen = FindObject(context->pen);
  if (PenDraws(pen)) {
    posixwin::Canvas* canvas = TargetOf(context);
    int x0 = context->position.x, y0 = context->position.y;
    int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int error = dx + dy;
    while (x0 != x || y0 != y) {
      PutPixel(canvas, x0, y0, pen->color);
      int doubled = 2 * error;
      if (doubled >= dy) {
        error += dy;
        x0 += sx;
      }
      if (doubled <= dx) {
        error += dx;
        y0 += sy;
      }
    }
  }
  context->position.x = x;
  context->position.y = y;
  return TRUE;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return FALSE;
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  posixwin::Canvas* canvas = TargetOf(context);
  GdiObject* pen = FindObject(context->pen);
  GdiObject* brush = FindObject(context->brush);
  if (PenDraws(pen)) {
    if (brush != nullptr) FillArea(canvas, left + 1, top + 1, right - 1, bottom - 1, brush->color);
    FillArea(canvas, left, top, right, top + 1, pen->color);
    FillArea(canvas, left, bottom - 1, right, bottom, pen->color);
    FillArea(canvas, left, top, left + 1, bottom, pen->color);
    FillArea(canvas, right - 1, top, right, bottom, pen->color);
  } else if (brush != nullptr) {
    FillArea(canvas, left, top, right - 1, bottom - 1, brush->color);
  }
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int length, LPSIZE size) { return TextExtent(dc, text, length, size); }
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int length, LPSIZE size) { return TextExtent(dc, text, length, size); }
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) { return TextOut(dc, x, y, text, length); }
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int length) { return TextOut(dc, x, y, text, length); }

COLORREF SetTextColor(HDC dc, COLORREF color) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return CLR_INVALID;
  COLORREF previous = context->textColor;
  context->textColor = color;
  return previous;
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return CLR_INVALID;
  COLORREF previous = context->backColor;
  context->backColor = color;
  return previous;
}

int SetBkMode(HDC dc, int mode) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int previous = context->backMode;
  context->backMode = mode;
  return previous;
}

UINT SetTextAlign(HDC dc, UINT align) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return GDI_ERROR;
  UINT previous = context->align;
  context->align = align;
  return previous;
}

COLORREF GetPixel(HDC dc, int x, int y) {
  DeviceContext* context = FindContext(dc);
  if (context == nullptr) return CLR_INVALID;
  posixwin::Canvas* canvas = TargetOf(context);
  if (canvas == nullptr || x < 0 || y < 0 || x >= canvas->width || y >= canvas->height) return CLR_INVALID;
  uint32_t pixel = canvas->pixels[static_cast<size_t>(y) * canvas->width + x];
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

namespace posixwin {

void PresentCanvas(WindowRecord* record) {
  if (record->visible) X11Present(record);
}

}  // namespace posixwin
