#include "app/win32/Win32Ui.h"

#include <algorithm>
#include <vector>

namespace rovenza::win32ui {

HFONT FormFont() {
    static const HFONT font = [] {
        const std::string family(kFormFontFamily);
        return CreateFontA(-kFormFontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           family.c_str());
    }();
    return font;
}

HWND PlaceControl(HWND parent, const char* cls, DWORD style, DWORD exStyle, const ControlLayout& layout, int id) {
    const std::string caption(layout.caption);
    HWND control = CreateWindowExA(exStyle, cls, caption.c_str(), WS_CHILD | style, layout.left, layout.top, layout.width,
                                   layout.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    return control;
}

HWND PlaceLabel(HWND parent, const ControlLayout& layout, int id) {
    return PlaceControl(parent, "STATIC", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, layout, id);
}

int FitCaptions(HWND form, int clientWidth) {
    std::vector<HWND> children;
    std::vector<FitBox> boxes;
    for (HWND child = GetWindow(form, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        FitBox box{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
        char cls[16] = "";
        GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0) {  // a label draws its caption from its left edge
            box.room = box.width;
            box.needed = TextWidth(WindowText(child));
        }
        children.push_back(child);
        boxes.push_back(box);
    }
    const std::vector<FitBox> before = boxes;
    const int width = rovenza::FitCaptions(boxes, clientWidth);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const FitBox& was = before[i];
        const FitBox& box = boxes[i];
        UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (box.left == was.left && box.top == was.top) flags |= SWP_NOMOVE;
        if (box.width == was.width) flags |= SWP_NOSIZE;  // a drop-down list keeps its open height
        if ((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE)) continue;
        SetWindowPos(children[i], nullptr, box.left, box.top, box.width, box.height, flags);
    }
    return width;
}

int TextWidth(std::string_view text) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, FormFont());
    SIZE size{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

void SetClientSizeCentred(HWND window, FormSize size, HWND over) {
    RECT frame{0, 0, size.width, size.height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT area{};
    if (over) GetWindowRect(over, &area);
    else SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void RunOnThreadOf(HWND window, const std::function<void()>& work) {
    if (!window || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        if (!window || IsWindow(window)) work();
        return;
    }
    // A sent message is served by the window's thread whenever it looks for messages, also
    // inside a modal loop; the sender waits until it has been handled.
    SendMessageA(window, kRunOnWindowThreadMessage, 0, reinterpret_cast<LPARAM>(&work));
}

}  // namespace rovenza::win32ui
