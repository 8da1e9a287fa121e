// X11 presentation: each window is an undecorated top-level X window of its outer size, showing
// its one-pixel border and its client canvas, copied to the screen after every paint and on
// Expose. X input becomes the messages the window procedures handle: keys as WM_KEYDOWN/WM_KEYUP
// with Win32 virtual-key codes (WM_SYSKEYDOWN with Alt), buttons and motion in client
// coordinates. A left press is first offered to WM_NCHITTEST; HTCAPTION starts a drag that moves
// the window with the pointer. The window manager's close request is a system close (WM_CLOSE
// sent to the window). The display is opened once, when a window first needs it and DISPLAY names
// one, and kept for the rest of the process: reopening it for every window made a run fall back to
// the terminal whenever one of those connections was refused. A display that was asked for and
// cannot be opened is reported once on standard error.
#include "platform/Console.h"
#include "platform/posix/WindowSystem.h"
#include "platform/posix/PosixInternal.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

Display* display = nullptr;
Atom deleteWindowAtom = 0;
Atom protocolsAtom = 0;
Atom motifHintsAtom = 0;
Atom netWmNameAtom = 0;
Atom utf8Atom = 0;
GC gc = nullptr;

posixwin::WindowRecord* dragging = nullptr;
int dragOffsetX = 0;
int dragOffsetY = 0;

struct XSearch {
  Window window;
  posixwin::WindowRecord* found;
};

void MatchX(posixwin::WindowRecord* record, void* context) {
  XSearch* search = static_cast<XSearch*>(context);
  if (record->xWindow == search->window && !record->destroying) search->found = record;
}

posixwin::WindowRecord* RecordOf(Window window) {
  XSearch search{window, nullptr};
  posixwin::ForEachWindow(MatchX, &search);
  return search.found;
}

WPARAM VirtualKey(KeySym key) {
  switch (key) {
    case XK_Tab:
    case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Return:
    case XK_KP_Enter: return VK_RETURN;
    case XK_Escape: return VK_ESCAPE;
    case XK_space: return VK_SPACE;
    case XK_Left:
    case XK_KP_Left: return VK_LEFT;
    case XK_Right:
    case XK_KP_Right: return VK_RIGHT;
    case XK_Up: return VK_UP;
    case XK_Down: return VK_DOWN;
    case XK_BackSpace: return VK_BACK;
    case XK_F4: return VK_F4;
    case XK_Alt_L:
    case XK_Alt_R: return VK_MENU;
    case XK_Shift_L:
    case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R: return VK_CONTROL;
    default: break;
  }
  if (key >= XK_a && key <= XK_z) return static_cast<WPARAM>('A' + (key - XK_a));
  if (key >= XK_A && key <= XK_Z) return static_cast<WPARAM>('A' + (key - XK_A));
  if (key >= XK_0 && key <= XK_9) return static_cast<WPARAM>('0' + (key - XK_0));
  return 0;
}

LPARAM ClientPoint(posixwin::WindowRecord* record, int x, int y) {
  return MAKELPARAM(x - record->border, y - record->border);
}

void HandleEvent(XEvent& event) {
  posixwin::WindowRecord* record = RecordOf(event.xany.window);
  if (record == nullptr) return;
  HWND handle = posixwin::HandleOf(record);
  switch (event.type) {
    case Expose:
      if (event.xexpose.count == 0) posixwin::X11Present(record);
      break;
    case MapNotify:
      // A window hidden again before its map was reported is not viewable: focusing it would be
      // a BadMatch error, which ends the process.
      if (record->visible) XSetInputFocus(display, record->xWindow, RevertToParent, CurrentTime);
      break;
    case KeyPress:
    case KeyRelease: {
      WPARAM key = VirtualKey(XLookupKeysym(&event.xkey, 0));
      if (key == 0) break;
      bool alt = (event.xkey.state & Mod1Mask) != 0;
      bool press = event.type == KeyPress;
      UINT message = alt ? (press ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (press ? WM_KEYDOWN : WM_KEYUP);
      uint32_t flags = 1u | (alt ? (1u << 29) : 0u) | (press ? 0u : 0xC0000000u);
      posixwin::PostInput(handle, message, key, static_cast<LPARAM>(flags));
      break;
    }
    case ButtonPress:
      if (event.xbutton.button == Button1) {
        LRESULT hit = SendMessageA(handle, WM_NCHITTEST, 0, MAKELPARAM(event.xbutton.x_root, event.xbutton.y_root));
        if (posixwin::FindWindowRecord(handle) == nullptr) break;
        if (hit == HTCAPTION) {
          dragging = record;
          dragOffsetX = event.xbutton.x_root - record->x;
          dragOffsetY = event.xbutton.y_root - record->y;
        } else {
          posixwin::PostInput(handle, WM_LBUTTONDOWN, 1, ClientPoint(record, event.xbutton.x, event.xbutton.y));
        }
      } else if (event.xbutton.button == Button3) {
        posixwin::PostInput(handle, WM_RBUTTONDOWN, 2, ClientPoint(record, event.xbutton.x, event.xbutton.y));
      }
      break;
    case ButtonRelease:
      if (event.xbutton.button == Button1) {
        if (dragging == record) {
          dragging = nullptr;
          break;
        }
        posixwin::PostInput(handle, WM_LBUTTONUP, 0, ClientPoint(record, event.xbutton.x, event.xbutton.y));
      } else if (event.xbutton.button == Button3) {
        posixwin::PostInput(handle, WM_RBUTTONUP, 0, ClientPoint(record, event.xbutton.x, event.xbutton.y));
      }
      break;
    case MotionNotify:
      if (dragging == record) {
        record->x = event.xmotion.x_root - dragOffsetX;
        record->y = event.xmotion.y_root - dragOffsetY;
        XMoveWindow(display, record->xWindow, record->x, record->y);
      } else {
        WPARAM buttons = (event.xmotion.state & Button1Mask) != 0 ? 1 : 0;
        posixwin::PostInput(handle, WM_MOUSEMOVE, buttons, ClientPoint(record, event.xmotion.x, event.xmotion.y));
      }
      break;
    case ConfigureNotify:
      if (event.xconfigure.send_event) {
        record->x = event.xconfigure.x;
        record->y = event.xconfigure.y;
      }
      break;
    case ClientMessage:
      if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindowAtom)
        SendMessageA(handle, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
    default:
      break;
  }
}

void SetTitle(posixwin::WindowRecord* record) {
  XStoreName(display, record->xWindow, record->caption.c_str());
  std::string utf8;
  for (unsigned char c : record->caption) {
    uint32_t code = posixwin::UnicodeOfByte(c);
    if (code != 0) AppendUtf8(utf8, code);
  }
  XChangeProperty(display, record->xWindow, netWmNameAtom, utf8Atom, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
}

}  // namespace

bool WindowsOnScreen() { return posixwin::X11OpenIfAvailable(); }

namespace posixwin {

bool X11Active() { return display != nullptr; }

bool X11OpenIfAvailable() {
  static bool tried = false;
  if (display != nullptr || tried) return display != nullptr;
  tried = true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == 0) return false;
  display = XOpenDisplay(name);
  if (display == nullptr) {
    std::fprintf(stderr, "velmora: the display %s cannot be opened; the windows are shown in the terminal\n", name);
    return false;
  }
  deleteWindowAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);
  protocolsAtom = XInternAtom(display, "WM_PROTOCOLS", False);
  motifHintsAtom = XInternAtom(display, "_MOTIF_WM_HINTS", False);
  netWmNameAtom = XInternAtom(display, "_NET_WM_NAME", False);
  utf8Atom = XInternAtom(display, "UTF8_STRING", False);
  gc = XCreateGC(display, DefaultRootWindow(display), 0, nullptr);
  return true;
}

void X11CreateWindow(WindowRecord* record) {
  if (display == nullptr) return;
  int screen = DefaultScreen(display);
  XSetWindowAttributes attributes;
  attributes.background_pixel = BlackPixel(display, screen);
  attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          ExposureMask | StructureNotifyMask | FocusChangeMask;
  int width = record->width > 0 ? record->width : 1;
  int height = record->height > 0 ? record->height : 1;
  record->xWindow = XCreateWindow(display, RootWindow(display, screen), record->x, record->y,
                                  static_cast<unsigned>(width), static_cast<unsigned>(height), 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
  XSetWMProtocols(display, record->xWindow, &deleteWindowAtom, 1);
  // No decorations from the window manager: the window draws its own title band.
  long hints[5] = {2, 0, 0, 0, 0};
  XChangeProperty(display, record->xWindow, motifHintsAtom, motifHintsAtom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(hints), 5);
  XSizeHints* size = XAllocSizeHints();
  size->flags = USPosition | PPosition | PMinSize | PMaxSize;
  size->x = record->x;
  size->y = record->y;
  size->min_width = size->max_width = width;
  size->min_height = size->max_height = height;
  XSetWMNormalHints(display, record->xWindow, size);
  XFree(size);
  XWMHints* wm = XAllocWMHints();
  wm->flags = InputHint;
  wm->input = True;
  XSetWMHints(display, record->xWindow, wm);
  XFree(wm);
  SetTitle(record);
  XFlush(display);
}

void X11DestroyWindow(WindowRecord* record) {
  if (display == nullptr || record->xWindow == 0) return;
  if (dragging == record) dragging = nullptr;
  XDestroyWindow(display, record->xWindow);
  XFlush(display);
  record->xWindow = 0;
}

void X11ShowWindow(WindowRecord* record, bool show) {
  if (display == nullptr || record->xWindow == 0) return;
  if (show)
    XMapRaised(display, record->xWindow);
  else
    XUnmapWindow(display, record->xWindow);
  XFlush(display);
}

void X11MoveWindow(WindowRecord* record) {
  if (display == nullptr || record->xWindow == 0) return;
  XMoveResizeWindow(display, record->xWindow, record->x, record->y, static_cast<unsigned>(record->width > 0 ? record->width : 1),
                    static_cast<unsigned>(record->height > 0 ? record->height : 1));
  XFlush(display);
}

void X11Present(WindowRecord* record) {
  if (display == nullptr || record->xWindow == 0 || record->width <= 0 || record->height <= 0) return;
  int screen = DefaultScreen(display);
  Visual* visual = DefaultVisual(display, screen);
  int depth = DefaultDepth(display, screen);
  if (depth < 24) return;
  size_t count = static_cast<size_t>(record->width) * static_cast<size_t>(record->height);
  uint32_t* data = static_cast<uint32_t*>(std::malloc(count * 4));
  if (data == nullptr) return;
  uint32_t frame = 0x000000;
  for (int y = 0; y < record->height; ++y) {
    for (int x = 0; x < record->width; ++x) {
      int cx = x - record->border, cy = y - record->border;
      bool inside = cx >= 0 && cy >= 0 && cx < record->canvas.width && cy < record->canvas.height;
      data[static_cast<size_t>(y) * record->width + x] =
          inside ? record->canvas.pixels[static_cast<size_t>(cy) * record->canvas.width + cx] : frame;
    }
  }
  XImage* image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, reinterpret_cast<char*>(data),
                               static_cast<unsigned>(record->width), static_cast<unsigned>(record->height), 32, 0);
  if (image == nullptr) {
    std::free(data);
    return;
  }
  XPutImage(display, record->xWindow, gc, image, 0, 0, 0, 0, static_cast<unsigned>(record->width),
            static_cast<unsigned>(record->height));
  XDestroyImage(image);  // frees data
  XFlush(display);
}

int X11ConnectionFd() { return display == nullptr ? -1 : ConnectionNumber(display); }

bool X11HasPendingEvents() { return display != nullptr && XPending(display) > 0; }

void X11ProcessEvents() {
  while (display != nullptr && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    HandleEvent(event);
  }
}

bool X11ScreenSize(int* width, int* height) {
  if (display == nullptr) return false;
  int screen = DefaultScreen(display);
  *width = DisplayWidth(display, screen);
  *height = DisplayHeight(display, screen);
  return true;
}

}  // namespace posixwin
