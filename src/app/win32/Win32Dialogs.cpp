#include "app/win32/Win32Dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "app/win32/Win32Ui.h"

namespace rovenza {

using namespace win32ui;

namespace {

// Runs a modal dialog from an in-memory template without controls: `init` creates the
// controls in client pixels when the dialog starts.
struct DialogState {
    HWND owner;
    const std::function<void(HWND)>* init;
    const std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>* handle;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto* state = reinterpret_cast<DialogState*>(lParam);
        SendMessageA(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
        (*state->init)(dialog);
        return TRUE;  // the first control in tab order gets the focus
    }
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!state) return FALSE;
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, IDCANCEL);  // the close box (or Escape): not confirmed
        return TRUE;
    }
    return (*state->handle)(dialog, message, wParam, lParam);
}

int RunDialog(HWND owner, const std::function<void(HWND)>& init,
              const std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>& handle) {
    // DLGTEMPLATE, then empty menu, class and title: the caption and size are set in init.
    alignas(4) std::array<WORD, 16> buffer{};
    DLGTEMPLATE header{};
    header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    std::memcpy(buffer.data(), &header, sizeof header);
    DialogState state{owner, &init, &handle};
    return static_cast<int>(DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                                    reinterpret_cast<const DLGTEMPLATE*>(buffer.data()), owner,
                                                    &DialogProc, reinterpret_cast<LPARAM>(&state)));
}

// --- The check list box: an owner-drawn list whose item data is the check mark ----------------

constexpr int kCheckBoxWidth = 13;

WNDPROC originalListProc = nullptr;

void ToggleItem(HWND list, int item) {
    if (item < 0) return;
    const LRESULT checked = SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(item), checked ? 0 : 1);
    RECT rect;
    SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
    InvalidateRect(list, &rect, TRUE);
}

// A click on an item's check box, or the space bar on the current item, turns its mark over.
LRESULT CALLBACK CheckListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK) {
        const LRESULT result = CallWindowProcA(originalListProc, list, message, wParam, lParam);
        const LRESULT hit = SendMessageA(list, LB_ITEMFROMPOINT, 0, lParam);
        if (HIWORD(hit) == 0 && static_cast<short>(LOWORD(lParam)) < kCheckBoxWidth + 2) ToggleItem(list, LOWORD(hit));
        return result;
    }
    if (message == WM_CHAR && wParam == ' ') {
        ToggleItem(list, static_cast<int>(SendMessageA(list, LB_GETCARETINDEX, 0, 0)));
        return 0;
    }
    return CallWindowProcA(originalListProc, list, message, wParam, lParam);
}

void DrawCheckItem(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1)) return;
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    const bool selected = item.itemState & ODS_SELECTED;
    FillRect(dc, &rect, GetSysColorBrush(COLOR_WINDOW));
    RECT box{rect.left, rect.top, rect.left + kCheckBoxWidth, rect.top + kCheckBoxWidth};
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | DFCS_FLAT | (item.itemData ? DFCS_CHECKED : 0));
    RECT text{rect.left + kCheckBoxWidth + 2, rect.top, rect.right, rect.bottom};
    char buffer[256] = "";
    SendMessageA(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(buffer));
    HGDIOBJ old = SelectObject(dc, FormFont());
    SIZE size{};
    GetTextExtentPoint32A(dc, buffer, static_cast<int>(std::strlen(buffer)), &size);
    RECT highlight{text.left, text.top, std::min<LONG>(text.left + size.cx + 4, text.right), text.bottom};
    FillRect(dc, &highlight, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT inner{highlight.left + 2, highlight.top, highlight.right, highlight.bottom};
    DrawTextA(dc, buffer, -1, &inner, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS) DrawFocusRect(dc, &highlight);
    SelectObject(dc, old);
}

}  // namespace

int RunDeviceDialog(HWND owner, DeviceChoice& choice) {
    HWND list = nullptr;
    auto readChecks = [&] {
        for (std::size_t i = 0; i < choice.checks.size(); ++i)
            choice.checks[i] = SendMessageA(list, LB_GETITEMDATA, i, 0) != 0;
    };
    auto showChecks = [&] {
        for (std::size_t i = 0; i < choice.checks.size(); ++i)
            SendMessageA(list, LB_SETITEMDATA, i, choice.checks[i] ? 1 : 0);
        InvalidateRect(list, nullptr, TRUE);
    };
    const std::function<void(HWND)> init = [&](HWND dialog) {
        SetWindowTextA(dialog, std::string(kDevicesCaption).c_str());
        // In tab order.
        win32ui::PlaceControl(dialog, WC_BUTTONA, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, kUpgradeButton,
                              kUpgradeButtonId);
        list = win32ui::PlaceControl(dialog, WC_LISTBOXA,
                                     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                                         LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                                     WS_EX_CLIENTEDGE, kDevicesCheckListBox, kDevicesListId);
        originalListProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CheckListProc)));
        win32ui::PlaceControl(dialog, WC_BUTTONA, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, kSelectAllButton,
                              kSelectAllButtonId);
        for (const std::string& item : choice.items)
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        showChecks();
        SetClientSizeCentred(dialog, {FitCaptions(dialog, kDevicesClient.width), kDevicesClient.height}, owner);
    };
    const std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handle = [&](HWND dialog, UINT message, WPARAM wParam,
                                                                          LPARAM lParam) -> INT_PTR {
        switch (message) {
        case WM_MEASUREITEM:
            reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kDeviceItemHeight;
            return TRUE;
        case WM_DRAWITEM:
            DrawCheckItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            if (LOWORD(wParam) == kUpgradeButtonId) {
                readChecks();
                EndDialog(dialog, kConfirmResult);
                return TRUE;
            }
            if (LOWORD(wParam) == kSelectAllButtonId) {  // the dialog stays open
                readChecks();
                choice.SelectAll();
                showChecks();
                return TRUE;
            }
            return FALSE;
        }
        return FALSE;
    };
    const int result = RunDialog(owner, init, handle);
    return result;
}

int RunModuleTypeDialog(HWND owner, int slot, int& entryIndex) {
    HWND combo = nullptr;
    HWND label = nullptr;
    entryIndex = 0;
    const std::function<void(HWND)> init = [&](HWND dialog) {
        SetWindowTextA(dialog, std::string(kModuleTypeCaption).c_str());
        label = PlaceLabel(dialog, kModuleLabel, kModuleLabelId);
        SetWindowTextA(label, ModuleTypeLabel(slot).c_str());
        PlaceLabel(dialog, kModuleTypeLabel2, kModuleLabel2Id);
        // In tab order.
        ControlLayout comboLayout = kModuleTypeComboBox;
        comboLayout.height = 200;  // the open list's height
        combo = win32ui::PlaceControl(dialog, WC_COMBOBOXA, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0,
                                      comboLayout, kModuleComboId);
        for (const ModuleTypeEntry& type : kModuleTypes)
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(type.name).c_str()));
        SendMessageA(combo, CB_SETCURSEL, 0, 0);
        win32ui::PlaceControl(dialog, WC_BUTTONA, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, kOkButton, kOkButtonId);
        // The labels grow with their captions; the combo box and button move right, the dialog widens.
        SetClientSizeCentred(dialog, {FitCaptions(dialog, kModuleTypeClient.width), kModuleTypeClient.height}, owner);
    };
    const std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> handle = [&](HWND dialog, UINT message, WPARAM wParam,
                                                                          LPARAM lParam) -> INT_PTR {
        if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == label) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == kOkButtonId) {
            entryIndex = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
            EndDialog(dialog, kConfirmResult);
            return TRUE;
        }
        return FALSE;
    };
    return RunDialog(owner, init, handle);
}

// ---------------------------------------------------------------------------------------------

std::optional<std::vector<bool>> Win32Operator::chooseDevices(const std::vector<std::string>& items) {
    std::optional<std::vector<bool>> answer;
    RunOnThreadOf(owner_, [&] {
        DeviceChoice choice(items);
        const int result = RunDeviceDialog(owner_, choice);
        answer = choice.Answer(result);
    });
    return answer;
}

std::optional<int> Win32Operator::chooseModuleType(int slot) {
    std::optional<int> answer;
    RunOnThreadOf(owner_, [&] {
        int entry = 0;
        const int result = RunModuleTypeDialog(owner_, slot, entry);
        answer = ModuleTypeAnswer(result, entry);
    });
    return answer;
}

void Win32Operator::showMessage(const std::string& title, const std::string& text) {
    // Text only, an OK button and no icon.
    RunOnThreadOf(owner_, [&] { MessageBoxA(owner_, text.c_str(), title.c_str(), MB_OK); });
}

}  // namespace rovenza
