#pragma once
// What the Win32 windows share: the form font, controls placed at client pixels, client sizes,
// centring, text widths, and handing work to the thread of a window.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "app/win32/ControlIds.h"
#include "frontend/FitCaptions.h"
#include "frontend/Forms.h"

namespace rovenza::win32ui {

// Tahoma, 11 pixels high; made once, kept for the life of the program.
HFONT FormFont();

// Creates a child control of window class `cls` at `layout`'s client position and size, with the
// form font and the caption `layout` gives.
HWND PlaceControl(HWND parent, const char* cls, DWORD style, DWORD exStyle, const ControlLayout& layout, int id);

// A label at `layout`, its caption on one line.
HWND PlaceLabel(HWND parent, const ControlLayout& layout, int id);

// Fits the labels' captions of `form` (client width `clientWidth`) to the form font by the
// shared rule (frontend/FitCaptions.h): labels grow, their neighbours on the band move right.
// Returns the client width the form then needs.
int FitCaptions(HWND form, int clientWidth);

// The width of `text` in the form font.
int TextWidth(std::string_view text);

// Sizes the window so that its client area is `size`, and centres it on `over` (the work area
// of the screen when null).
void SetClientSizeCentred(HWND window, FormSize size, HWND over);

std::string WindowText(HWND window);

// Runs `work` on the thread of `window` and returns once it has run (at once, when called on
// that thread). Nothing runs if the window is gone.
void RunOnThreadOf(HWND window, const std::function<void()>& work);

// A window procedure's handling of kRunOnWindowThreadMessage.
inline LRESULT RunHandedWork(LPARAM lParam) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 0;
}

}  // namespace rovenza::win32ui
