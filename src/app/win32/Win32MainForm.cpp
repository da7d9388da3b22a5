#include "app/win32/Win32MainForm.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

#include "app/win32/Win32Ui.h"
#include "package/WorkFolder.h"

namespace rovenza {

using namespace win32ui;

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;  // fixed, close box only
constexpr int kDropDownHeight = 200;  // a drop-down list's height when open

void RegisterFormClass() {
    static const bool registered = [] {
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = DefWindowProcA;  // replaced per window once its object is known
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
        cls.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        cls.lpszClassName = kMainWindowClass;
        return RegisterClassExA(&cls) != 0;
    }();
    (void)registered;
}

}  // namespace

Win32MainForm::Win32MainForm(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader)
    : MainWindowLogic(std::move(args), ctx, std::move(createUpgrader)) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    RegisterFormClass();
    hwnd_ = CreateWindowExA(0, kMainWindowClass, "", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, kMainClient.width,
                            kMainClient.height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont()), FALSE);
    CreateControls();
    FormCreate();
}

Win32MainForm::~Win32MainForm() {
    // A worker still running reaches a window that is gone: its hand-over returns at once.
    WaitForWorker();
    if (hwnd_ && IsWindow(hwnd_)) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void Win32MainForm::CreateControls() {
    auto place = [&](MainControl control, const char* cls, DWORD style, DWORD exStyle = 0) {
        ControlLayout layout = LayoutOf(control);
        if (control == MainControl::cbDeviceList) layout.height = kDropDownHeight;
        controls_[static_cast<std::size_t>(control)] =
            win32ui::PlaceControl(hwnd_, cls, style, exStyle, layout, MainControlId(control));
    };
    // The focusable controls first, in tab order: the window's child order is its tab order.
    place(MainControl::cbDeviceList, WC_COMBOBOXA, WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
    for (const FamilyEntry& family : kFamilies) {
        const std::string text(family.listText);
        SendMessageA(Control(MainControl::cbDeviceList), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    place(MainControl::bUpload, WC_BUTTONA, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    place(MainControl::pbFWProcessing, PROGRESS_CLASSA, 0);  // hidden
    SendMessageA(Control(MainControl::pbFWProcessing), PBM_SETRANGE32, 0, kProgressMax);
    SendMessageA(Control(MainControl::pbFWProcessing), PBM_SETSTEP, 5, 0);
    place(MainControl::leUpgrade, WC_EDITA, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
    place(MainControl::bopenDialog, WC_BUTTONA, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);

    for (MainControl label : {MainControl::Label1, MainControl::lVer, MainControl::lVersion})
        controls_[static_cast<std::size_t>(label)] = PlaceLabel(hwnd_, LayoutOf(label), MainControlId(label));
    controls_[static_cast<std::size_t>(MainControl::lFWProcessing)] =
        PlaceLabel(hwnd_, LayoutOf(MainControl::lFWProcessing), MainControlId(MainControl::lFWProcessing));
    ShowWindow(Control(MainControl::lFWProcessing), SW_HIDE);

    // The file-name box's label on its left, vertically centred on it.
    const ControlLayout& box = LayoutOf(MainControl::leUpgrade);
    const int width = TextWidth(kFileNameLabel);
    fileNameLabel_ = PlaceLabel(hwnd_, {"leUpgradeLabel", box.left - kFileNameLabelGap - width, box.top + (box.height - 13) / 2,
                                        width, 13, kFileNameLabel},
                                kFileNameLabelId);
    SetClientSizeCentred(hwnd_, {FitCaptions(hwnd_, kMainClient.width), kMainClient.height}, nullptr);
}

void Win32MainForm::Show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(Control(MainControl::cbDeviceList));
    if (shown_) return;
    shown_ = true;
    ReadCommandLine();
}

int Win32MainForm::Run() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move between the controls as in a dialog.
        if (IsWindow(hwnd_) && IsDialogMessageA(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK Win32MainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<Win32MainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(hwnd, message, wParam, lParam);
    return form->Handle(message, wParam, lParam);
}

LRESULT Win32MainForm::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == MainControlId(MainControl::bUpload)) bUploadClick();
            else if (LOWORD(wParam) == MainControlId(MainControl::bopenDialog)) bopenDialogClick();
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == kTimer1) Timer1Timer();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == Control(MainControl::lFWProcessing)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_CLOSE:
        // Refused silently while an upgrade runs.
        if (FormClose()) DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd_, kTimer1);
        PostQuitMessage(0);
        return 0;
    case kRunOnWindowThreadMessage:
        return RunHandedWork(lParam);
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

void Win32MainForm::bopenDialogClick() {
    // The initial folder ends in a separator, as the package folder is named to the dialog.
    const std::string folder = context().folders.packages.string() + "\\";
    std::string filter;
    for (const FileFilter& f : kPackageFilters) {
        filter.append(f.description).push_back('\0');
        filter.append(f.pattern).push_back('\0');
    }
    const std::string extension(kPackageExtension);
    char file[MAX_PATH * 4] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = folder.c_str();
    dialog.lpstrDefExt = extension.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (GetOpenFileNameA(&dialog)) SetWindowTextA(Control(MainControl::leUpgrade), file);
}

int Win32MainForm::SelectedFamily() const {
    return static_cast<int>(SendMessageA(Control(MainControl::cbDeviceList), CB_GETCURSEL, 0, 0));
}

void Win32MainForm::SelectFamily(int position) {
    SendMessageA(Control(MainControl::cbDeviceList), CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

std::string Win32MainForm::FileName() const { return WindowText(Control(MainControl::leUpgrade)); }

void Win32MainForm::SetControlText(MainControl control, const std::string& text) {
    HWND window = Control(control);
    SetWindowTextA(window, text.c_str());
    if (control == MainControl::lFWProcessing) {
        // The stage label sizes itself to its caption, within the window.
        const ControlLayout& layout = LayoutOf(control);
        const int width = std::min(TextWidth(text), kMainClient.width - layout.left);
        SetWindowPos(window, nullptr, 0, 0, width, layout.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(window, nullptr, TRUE);
    }
}

void Win32MainForm::SetControlEnabled(MainControl control, bool enabled) {
    EnableWindow(Control(control), enabled);
    if (control == MainControl::leUpgrade) EnableWindow(fileNameLabel_, enabled);  // the box's label goes with it
}

void Win32MainForm::SetControlShown(MainControl control, bool shown) {
    ShowWindow(Control(control), shown ? SW_SHOWNA : SW_HIDE);
}

int Win32MainForm::SetBarPosition(int position) {
    HWND bar = Control(MainControl::pbFWProcessing);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
}

void Win32MainForm::SetTimerRunning(bool running) {
    if (running) SetTimer(hwnd_, kTimer1, kProgressIntervalMs, nullptr);
    else KillTimer(hwnd_, kTimer1);
}

void Win32MainForm::SetCaption(const std::string& caption) { SetWindowTextA(hwnd_, caption.c_str()); }

void Win32MainForm::CloseForm() { SendMessageA(hwnd_, WM_CLOSE, 0, 0); }

void Win32MainForm::RunOnWindowThread(const std::function<void()>& work) { RunOnThreadOf(hwnd_, work); }

}  // namespace rovenza
