// Drives rovenza.exe as an operator would, from outside its process, through the Win32 API
// alone: starts it with the command-line switches against the simulated bench, finds its
// windows, checks the controls (positions, sizes, captions, states, lists, tab order), presses
// the buttons, reads the progress caption while an upgrade runs, answers the device selection
// and module type dialogs, reads the final message box, and saves screenshots as PNG files.
//
//   rovenza_window_driver ROVENZA_EXE WORK_DIR SHOT_DIR
//
// WORK_DIR holds the demo packages vk101.fwu, velkaro.fwu and zenara.fwu; the bench files and
// program folders are made there. Every check prints one line; the last line counts them.
// Measured sizes that the system decides (a drop-down list's closed height) are printed as
// "measured:" lines and are not failures.
#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/ControlIds.h"
#include "frontend/FitCaptions.h"
#include "frontend/Forms.h"
#include "frontend/MainWindowLogic.h"
#include "frontend/Progress.h"

using namespace rovenza;
using namespace rovenza::win32ui;

namespace {

int passed = 0;
int failed = 0;

bool Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? passed : failed)++;
    return ok;
}

template <class T>
bool CheckEqual(const T& got, const T& expected, const std::string& what) {
    std::ostringstream text;
    text << what << ": " << got;
    if (!(got == expected)) text << " (expected " << expected << ")";
    return Check(got == expected, text.str());
}

// Waits for `condition`, looking every few milliseconds, at most `seconds`.
bool WaitFor(const std::function<bool()>& condition, double seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string Text(HWND window) {
    char buffer[1024] = "";
    // WM_GETTEXT is carried across processes; GetWindowText would not ask the window.
    SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::string ClassOf(HWND window) {
    char buffer[256] = "";
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}

RECT ClientRectIn(HWND control, HWND parent) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(int left, int top, int width, int height) {
    return "(" + std::to_string(left) + ", " + std::to_string(top) + ", " + std::to_string(width) + ", " +
           std::to_string(height) + ")";
}

// The control's client position and size against the design. A label may be wider (its caption
// in Tahoma needs a pixel more); a drop-down list's closed height is the system's: measured.
// The control's place: the design's (`layout`), or where the fitting rule puts it (`fitted`);
// every place other than the design's is printed as a "measured:" line.
void CheckPlace(HWND parent, int id, const ControlLayout& layout, bool label = false, bool dropDown = false,
                const ControlLayout* fitted = nullptr) {
    HWND control = GetDlgItem(parent, id);
    if (!Check(control != nullptr, std::string(layout.name) + " exists")) return;
    const RECT r = ClientRectIn(control, parent);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const ControlLayout& want = fitted ? *fitted : layout;
    const bool widthOk = fitted ? width == want.width : label ? width >= layout.width : width == layout.width;
    const bool heightOk = dropDown || height == layout.height;
    Check(r.left == want.left && r.top == want.top && widthOk && heightOk,
          std::string(layout.name) + " at " + Describe(r.left, r.top, width, height) + ", designed " +
              Describe(layout.left, layout.top, layout.width, layout.height) +
              (fitted ? ", fitted " + Describe(want.left, want.top, want.width, want.height) : std::string()));
    if (r.left != layout.left || r.top != layout.top || width != layout.width || height != layout.height)
        std::printf("measured: %s %s against the design's %s\n", std::string(layout.name).c_str(),
                    Describe(r.left, r.top, width, height).c_str(),
                    Describe(layout.left, layout.top, layout.width, layout.height).c_str());
}

void CheckClientSize(HWND window, FormSize size, const std::string& name) {
    RECT client;
    GetClientRect(window, &client);
    CheckEqual(std::to_string(client.right) + "x" + std::to_string(client.bottom),
               std::to_string(size.width) + "x" + std::to_string(size.height), name + " client size");
}

// Whether `window` is centred on `over` (the screen's work area when null), to a pixel or two.
void CheckCentred(HWND window, HWND over, const std::string& name) {
    RECT frame, area;
    GetWindowRect(window, &frame);
    if (over) GetWindowRect(over, &area);
    else SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int offX = (frame.left + frame.right) - (area.left + area.right);
    const int offY = (frame.top + frame.bottom) - (area.top + area.bottom);
    Check(offX >= -3 && offX <= 3 && offY >= -3 && offY <= 3, name + (over ? " centred on the main window" : " centred on the screen"));
}

void CheckFixedCloseBoxOnly(HWND window, const std::string& name) {
    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    Check((style & WS_SYSMENU) && (style & WS_CAPTION) && !(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)),
          name + ": fixed border, system menu only");
}

// The width of `text` in Tahoma, 11 pixels high, as the driver itself measures it.
int TahomaWidth(const std::string& text) {
    static const HFONT font = CreateFontA(-kFormFontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                          DEFAULT_PITCH | FF_DONTCARE, std::string(kFormFontFamily).c_str());
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

// A font handle means nothing outside its process, so the font is told by what it does: a label
// is as wide as its design width or its caption in Tahoma 11 px, whichever is more, and any
// other font measures the caption differently.
void CheckLabelFont(HWND parent, HWND label, int designWidth, const std::string& name) {
    const RECT r = ClientRectIn(label, parent);
    CheckEqual(static_cast<int>(r.right - r.left), std::max(designWidth, TahomaWidth(Text(label))),
               name + " laid out in Tahoma 11 px, width");
}

// A form's design laid out by the shared fitting rule, with the labels' captions (`captions`,
// empty for other controls) as Tahoma measures them here: where the program must place them.
struct FittedForm {
    std::vector<ControlLayout> controls;
    FormSize size;
};

FittedForm Fit(const std::vector<ControlLayout>& design, const std::vector<std::string>& captions, FormSize size) {
    std::vector<FitBox> boxes;
    for (std::size_t i = 0; i < design.size(); ++i) {
        const ControlLayout& c = design[i];
        const bool label = !captions[i].empty();
        boxes.push_back({c.left, c.top, c.width, c.height, label ? c.width : 0, label ? TahomaWidth(captions[i]) : 0});
    }
    FittedForm fitted{design, {FitCaptions(boxes, size.width), size.height}};
    for (std::size_t i = 0; i < design.size(); ++i) {
        fitted.controls[i].left = boxes[i].left;
        fitted.controls[i].width = boxes[i].width;
    }
    return fitted;
}

// The focus order from `first` among the window's tab stops.
std::vector<int> TabOrder(HWND window, HWND first, std::size_t count) {
    std::vector<int> ids;
    HWND control = first;
    for (std::size_t i = 0; i < count && control; ++i) {
        ids.push_back(GetDlgCtrlID(control));
        control = GetNextDlgTabItem(window, control, FALSE);
    }
    return ids;
}

std::string Join(const std::vector<int>& ids) {
    std::string text;
    for (int id : ids) text += (text.empty() ? "" : " ") + std::to_string(id);
    return text;
}

// A list entry's text, asked across the process (wine carries these texts as wide strings);
// the program's texts are ASCII.
std::string ListText(HWND control, UINT message, WPARAM index) {
    wchar_t buffer[256] = L"";
    SendMessageW(control, message, index, reinterpret_cast<LPARAM>(buffer));
    std::string text;
    for (const wchar_t* c = buffer; *c; ++c) text.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    return text;
}

std::vector<std::string> ComboEntries(HWND combo) {
    std::vector<std::string> entries;
    const auto count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) entries.push_back(ListText(combo, CB_GETLBTEXT, static_cast<WPARAM>(i)));
    return entries;
}

std::string JoinText(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : "|") + item;
    return text;
}

// --- Windows of the program ------------------------------------------------------------------

struct Program {
    PROCESS_INFORMATION process{};
    HWND main = nullptr;
};

Program Start(const std::string& exe, const std::string& arguments) {
    Program program;
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!Check(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &program.process) != 0,
               "started rovenza.exe " + arguments))
        return program;
    WaitFor([&] {
        HWND window = FindWindowA(kMainWindowClass, nullptr);
        DWORD pid = 0;
        if (window) GetWindowThreadProcessId(window, &pid);
        if (pid == program.process.dwProcessId && IsWindowVisible(window)) program.main = window;
        return program.main != nullptr;
    });
    Check(program.main != nullptr, "the main window appeared");
    return program;
}

// A visible top-level dialog-class window of the program with this caption, owned by `owner`.
HWND FindDialog(const Program& program, const std::string& caption) {
    struct Search {
        DWORD pid;
        HWND owner;
        std::string caption;
        HWND found = nullptr;
    } search{program.process.dwProcessId, program.main, caption};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == s.pid && IsWindowVisible(window) && ClassOf(window) == "#32770" && Text(window) == s.caption &&
                GetWindow(window, GW_OWNER) == s.owner) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForDialog(const Program& program, const std::string& caption, double seconds = 30) {
    HWND dialog = nullptr;
    WaitFor([&] { return (dialog = FindDialog(program, caption)) != nullptr; }, seconds);
    Check(dialog != nullptr, "the window \"" + caption + "\" appeared, owned by the main window");
    return dialog;
}

// The message box's text: its static child with a caption.
std::string MessageText(HWND box) {
    std::string text;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
            auto& out = *reinterpret_cast<std::string*>(data);
            if (ClassOf(child) == "Static" && !Text(child).empty()) {
                out = Text(child);
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

HWND ButtonOf(HWND window, const std::string& caption) {
    struct Search {
        std::string caption;
        HWND found = nullptr;
    } search{caption};
    EnumChildWindows(
        window,
        [](HWND child, LPARAM data) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(data);
            if (ClassOf(child) == "Button" && Text(child) == s.caption) {
                s.found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Press(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

// Lets the program's window thread serve everything queued before, paint included.
void Settle(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result);
}

int WaitForExit(Program& program) {
    DWORD code = 9999;
    if (WaitForSingleObject(program.process.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(program.process.hProcess, &code);
    else
        TerminateProcess(program.process.hProcess, 99);
    CloseHandle(program.process.hProcess);
    CloseHandle(program.process.hThread);
    return static_cast<int>(code);
}

// --- Screenshots -----------------------------------------------------------------------------

void PutBig(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    PutBig(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    PutBig(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// The screen's pixels under `rect` (window frames and all), as an RGB PNG file.
bool Screenshot(const RECT& rect, const std::string& file) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    std::string raw;
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0');  // no filter
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = pixels + (static_cast<std::size_t>(y) * width + x) * 4;
            raw.push_back(static_cast<char>(p[2]));
            raw.push_back(static_cast<char>(p[1]));
            raw.push_back(static_cast<char>(p[0]));
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
                  static_cast<uLong>(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(packedSize);
    std::string header;
    PutBig(header, static_cast<std::uint32_t>(width));
    PutBig(header, static_cast<std::uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter method, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");
    std::ofstream out(file, std::ios::binary);
    out << png;
    return static_cast<bool>(out);
}

RECT Union(HWND a, HWND b) {
    RECT ra, rb, both;
    GetWindowRect(a, &ra);
    if (!b) return ra;
    GetWindowRect(b, &rb);
    UnionRect(&both, &ra, &rb);
    return both;
}

void Shoot(HWND window, HWND other, const std::string& folder, const std::string& name) {
    Settle(window);
    if (other) Settle(other);
    Check(Screenshot(Union(window, other), folder + "\\" + name), "screenshot " + name);
}

HWND Item(HWND window, MainControl control) { return GetDlgItem(window, MainControlId(control)); }

std::string WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- Scenarios -------------------------------------------------------------------------------

// The window as it opens, then an upgrade started by the operator and followed to its box.
void MainWindowAndRun(const std::string& exe, const std::string& work, const std::string& shots) {
    const std::string bench = WriteFile(work + "\\pc.json",
        R"({"clock":"virtual","instruments":[{"family":"VK101 Power Controller","serial":"PC000001"}]})");
    // Four times the instrument's pace: the upgrade takes some five seconds, long enough to
    // watch the bar move under the 30 ms timer.
    Program program = Start(exe, "--simulate=" + bench + " --speed 4 --program-folder " + work + "\\pc");
    HWND main = program.main;
    if (!main) return;
    Settle(main);

    CheckEqual(Text(main), std::string(kAppCaption), "main window caption");
    CheckClientSize(main, kMainClient, "main window");
    CheckFixedCloseBoxOnly(main, "main window");
    CheckCentred(main, nullptr, "main window");

    for (std::size_t i = 0; i < kMainControls.size(); ++i) {
        const auto control = static_cast<MainControl>(i);
        const bool label = control == MainControl::Label1 || control == MainControl::lFWProcessing ||
                           control == MainControl::lVer || control == MainControl::lVersion;
        CheckPlace(main, MainControlId(control), kMainControls[i], label, control == MainControl::cbDeviceList);
        HWND window = Item(main, control);
        const bool hidden = control == MainControl::lFWProcessing || control == MainControl::pbFWProcessing;
        Check(IsWindowVisible(window) == !hidden && IsWindowEnabled(window),
              std::string(kMainControls[i].name) + (hidden ? " hidden" : " shown") + ", enabled");
        if (label) CheckLabelFont(main, window, kMainControls[i].width, std::string(kMainControls[i].name));
        if (control != MainControl::cbDeviceList && control != MainControl::pbFWProcessing) {
            const std::string expected = control == MainControl::lVersion ? std::string(ROVENZA_VERSION)
                                                                          : std::string(kMainControls[i].caption);
            CheckEqual(Text(window), expected, std::string(kMainControls[i].name) + " caption");
        }
    }
    HWND fileLabel = GetDlgItem(main, kFileNameLabelId);
    CheckEqual(Text(fileLabel), std::string(kFileNameLabel), "file-name label");
    const RECT labelRect = ClientRectIn(fileLabel, main);
    CheckEqual(static_cast<int>(labelRect.right), LayoutOf(MainControl::leUpgrade).left - kFileNameLabelGap,
               "file-name label's right edge");
    CheckEqual(static_cast<int>(labelRect.top), 36, "file-name label's top");

    HWND list = Item(main, MainControl::cbDeviceList);
    CheckEqual(JoinText(ComboEntries(list)),
               std::string("IRIG Clock|ULMO|Velkaro USB|VK101 Power Controller|VKUSB Zenara - Modules"), "family list");
    CheckEqual(static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0)), 0, "family selected");
    Check((GetWindowLongPtrA(list, GWL_STYLE) & 3) == CBS_DROPDOWNLIST, "family list takes no free text");
    HWND bar = Item(main, MainControl::pbFWProcessing);
    CheckEqual(static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)), kProgressMax, "bar's range ends at");
    CheckEqual(static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)), 0, "bar's position");
    const std::vector<int> tabs = {MainControlId(MainControl::cbDeviceList), MainControlId(MainControl::bUpload),
                                   MainControlId(MainControl::leUpgrade), MainControlId(MainControl::bopenDialog),
                                   MainControlId(MainControl::cbDeviceList)};
    CheckEqual(Join(TabOrder(main, list, tabs.size())), Join(tabs), "tab order (ids)");
    Shoot(main, nullptr, shots, "main-window.png");

    // The operator picks the family, then the package with "...": the system's file dialog
    // opens in the package folder with the package filter first. (Wine's dialog does not add
    // the default extension to a typed name before it looks the file up, so the whole name is
    // typed.)
    SendMessageA(list, CB_SETCURSEL, 3, 0);
    CopyFileA((work + "\\vk101.fwu").c_str(), (work + "\\pc\\FWUs\\pick.fwu").c_str(), FALSE);
    Press(Item(main, MainControl::bopenDialog));
    HWND files = WaitForDialog(program, "Open");
    if (files) {
        HWND types = GetDlgItem(files, cmb1);
        CheckEqual(JoinText(ComboEntries(types)), std::string("FW Update Files (*.fwu)|All Files (*.*)"), "file types");
        CheckEqual(static_cast<int>(SendMessageA(types, CB_GETCURSEL, 0, 0)), 0, "file type chosen");
        Shoot(main, files, shots, "open-dialog.png");
        // The name box: an edit, or (explorer style) a combo box around one.
        HWND name = GetDlgItem(files, edt1);
        if (!name) name = reinterpret_cast<HWND>(SendMessageA(GetDlgItem(files, cmb13), CBEM_GETEDITCONTROL, 0, 0));
        if (!name) name = FindWindowExA(FindWindowExA(GetDlgItem(files, cmb13), nullptr, "ComboBox", nullptr), nullptr, "Edit", nullptr);
        SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("pick.fwu"));
        Press(GetDlgItem(files, IDOK));
    }
    std::string chosen;
    WaitFor([&] { return (chosen = Text(Item(main, MainControl::leUpgrade))).size() > 14; });
    const std::string suffix = "\\pc\\FWUs\\pick.fwu";
    Check(chosen.size() > suffix.size() && chosen.compare(chosen.size() - suffix.size(), suffix.size(), suffix) == 0 &&
              chosen[1] == ':',
          "the file dialog put the full path in the box: " + chosen);
    Press(Item(main, MainControl::bUpload));

    // Running: a stage caption with its percentage, the bar at that percentage, inputs disabled.
    HWND caption = Item(main, MainControl::lFWProcessing);
    std::string seen;
    int position = -1;
    const bool running = WaitFor([&] {
        seen = Text(caption);
        position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
        return seen.rfind("Uploading... (", 0) == 0 && position >= 40 && position < 99;
    });
    Check(running, "caption during the run: \"" + seen + "\", bar at " + std::to_string(position));
    const std::size_t open = seen.find('(');
    const int shown = open == std::string::npos ? -1 : std::atoi(seen.c_str() + open + 1);
    Check(shown >= 0 && shown <= position && seen == ProgressCaption("Uploading", shown),
          "the caption's percentage is a position the bar has shown");
    Check(IsWindowVisible(bar) && IsWindowVisible(caption), "progress shown while uploading");
    bool allDisabled = !IsWindowEnabled(fileLabel);
    for (MainControl control : MainWindowLogic::kUploadInputs) allDisabled = allDisabled && !IsWindowEnabled(Item(main, control));
    Check(allDisabled, "inputs disabled while uploading");
    Shoot(main, nullptr, shots, "running.png");
    SendMessageA(main, WM_CLOSE, 0, 0);
    Check(IsWindow(main) && IsWindowVisible(main), "closing refused while uploading");

    HWND box = WaitForDialog(program, std::string(kAppCaption), 120);
    if (box) {
        CheckEqual(MessageText(box), std::string("Firmware upgrade successful!"), "final message");
        Check(!IsWindowEnabled(Item(main, MainControl::bUpload)), "inputs still disabled while the message is up");
        Shoot(main, box, shots, "message.png");
        Press(ButtonOf(box, "OK"));
    }
    Check(WaitFor([&] { return IsWindowEnabled(Item(main, MainControl::bUpload)) && !IsWindowVisible(bar); }),
          "idle again after the message: inputs enabled, progress hidden");
    SendMessageA(main, WM_CLOSE, 0, 0);
    CheckEqual(WaitForExit(program), 0, "closed when idle; exit status");
}

// The unattended call for three second-generation instruments: the device selection dialog.
void DeviceSelection(const std::string& exe, const std::string& work, const std::string& shots) {
    const std::string bench = WriteFile(work + "\\velkaro.json",
        R"({"clock":"virtual","instruments":[{"family":"Velkaro USB","serial":"TV000001"},)"
        R"({"family":"Velkaro USB","serial":"TV000002"},{"family":"Velkaro USB","serial":"TV000003"}]})");
    const std::string dump = work + "\\velkaro-dump";
    Program program = Start(exe, "--simulate=" + bench + " --speed 50 --program-folder " + work + "\\velkaro --bench-dump " +
                                     dump + " \\D \"velkaro usb\" \\F " + work + "\\velkaro.fwu \\C \\U");
    if (!program.main) return;
    CheckEqual(static_cast<int>(SendMessageA(Item(program.main, MainControl::cbDeviceList), CB_GETCURSEL, 0, 0)), 2,
               "\\D \"velkaro usb\" selects");
    HWND dialog = WaitForDialog(program, std::string(kDevicesCaption));
    if (!dialog) return;
    CheckClientSize(dialog, kDevicesClient, "device dialog");
    CheckFixedCloseBoxOnly(dialog, "device dialog");
    CheckCentred(dialog, program.main, "device dialog");
    CheckPlace(dialog, kUpgradeButtonId, kUpgradeButton);
    CheckPlace(dialog, kDevicesListId, kDevicesCheckListBox);
    CheckPlace(dialog, kSelectAllButtonId, kSelectAllButton);
    CheckEqual(Text(GetDlgItem(dialog, kUpgradeButtonId)), std::string("Upgrade"), "UpgradeButton caption");
    CheckEqual(Text(GetDlgItem(dialog, kSelectAllButtonId)), std::string("Select All"), "Button1 caption");
    HWND list = GetDlgItem(dialog, kDevicesListId);
    auto items = [&] {
        std::vector<std::string> texts;
        for (LRESULT i = 0; i < SendMessageA(list, LB_GETCOUNT, 0, 0); ++i) {
            texts.push_back(ListText(list, LB_GETTEXT, static_cast<WPARAM>(i)) + (SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0) ? " [x]" : " [ ]"));
        }
        return JoinText(texts);
    };
    CheckEqual(items(), std::string("VKUSB SN: TV000001 [x]|VKUSB SN: TV000002 [x]|VKUSB SN: TV000003 [x]"),
               "devices, all checked");
    CheckEqual(static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0)), kDeviceItemHeight, "item height");
    const std::vector<int> tabs{kUpgradeButtonId, kDevicesListId, kSelectAllButtonId, kUpgradeButtonId};
    CheckEqual(Join(TabOrder(dialog, GetDlgItem(dialog, kUpgradeButtonId), tabs.size())), Join(tabs), "device dialog tab order");
    Shoot(program.main, dialog, shots, "devices.png");

    // A click on a check box turns its mark over; "Select All" checks them all again.
    auto clickBox = [&](int item) {
        const LPARAM at = MAKELPARAM(5, item * kDeviceItemHeight + 6);
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
        Settle(dialog);
    };
    clickBox(0);
    CheckEqual(items(), std::string("VKUSB SN: TV000001 [ ]|VKUSB SN: TV000002 [x]|VKUSB SN: TV000003 [x]"), "first unchecked");
    Press(GetDlgItem(dialog, kSelectAllButtonId));
    Settle(dialog);
    CheckEqual(items(), std::string("VKUSB SN: TV000001 [x]|VKUSB SN: TV000002 [x]|VKUSB SN: TV000003 [x]"), "Select All");
    Check(IsWindowVisible(dialog), "the dialog stays open after Select All");
    clickBox(1);
    CheckEqual(items(), std::string("VKUSB SN: TV000001 [x]|VKUSB SN: TV000002 [ ]|VKUSB SN: TV000003 [x]"), "second unchecked");
    Press(GetDlgItem(dialog, kUpgradeButtonId));

    HWND box = WaitForDialog(program, std::string(kAppCaption));
    if (box) {
        CheckEqual(MessageText(box), std::string("Firmware upgrade successful!"), "final message");
        Press(ButtonOf(box, "OK"));
    }
    CheckEqual(WaitForExit(program), 0, "\\C: closed after the upgrade; exit status");
    // The first and third hold the new image; the second kept its own (the identity records
    // further on differ by serial).
    auto firmware = [&](const char* serial) { return ReadFile(dump + "\\" + serial + "\\eeprom.bin").substr(0, 256); };
    Check(firmware("TV000001").size() == 256 && firmware("TV000001") == firmware("TV000003") &&
              firmware("TV000001") != firmware("TV000002"),
          "only the checked instruments were upgraded");
}

// A module that cannot tell its type: the module type dialog.
void ModuleType(const std::string& exe, const std::string& work, const std::string& shots) {
    const std::string bench = WriteFile(work + "\\zenara.json",
        R"({"clock":"virtual","instruments":[{"family":"VKUSB Zenara - Modules","serial":"ZN000001",)"
        R"("modules":[7,"IEPE","IEPE","IEPE","IEPE","IEPE","IEPE","IEPE"]}]})");
    Program program = Start(exe, "--simulate=" + bench + " --speed 200 --program-folder " + work +
                                     "\\zenara \\D \"VKUSB Zenara - Modules\" \\F " + work + "\\zenara.fwu \\U \\C");
    if (!program.main) return;
    HWND dialog = WaitForDialog(program, std::string(kModuleTypeCaption));
    if (!dialog) return;
    // Wider captions than the design's push the combo box and button right and widen the dialog,
    // as the shared fitting rule says.
    const FittedForm fitted = Fit({kModuleLabel, kModuleTypeLabel2, kModuleTypeComboBox, kOkButton},
                                  {"Module 1 cannot be detected!", std::string(kModuleTypeLabel2.caption), "", ""},
                                  kModuleTypeClient);
    CheckClientSize(dialog, fitted.size, "module type dialog");
    if (fitted.size.width != kModuleTypeClient.width)
        std::printf("measured: module type dialog client %dx%d against the design's %dx%d\n", fitted.size.width,
                    fitted.size.height, kModuleTypeClient.width, kModuleTypeClient.height);
    CheckFixedCloseBoxOnly(dialog, "module type dialog");
    CheckCentred(dialog, program.main, "module type dialog");
    CheckPlace(dialog, kModuleLabelId, kModuleLabel, true, false, &fitted.controls[0]);
    CheckPlace(dialog, kModuleLabel2Id, kModuleTypeLabel2, true, false, &fitted.controls[1]);
    CheckPlace(dialog, kModuleComboId, kModuleTypeComboBox, false, true, &fitted.controls[2]);
    CheckPlace(dialog, kOkButtonId, kOkButton, false, false, &fitted.controls[3]);
    {
        const RECT label2 = ClientRectIn(GetDlgItem(dialog, kModuleLabel2Id), dialog);
        const RECT combo = ClientRectIn(GetDlgItem(dialog, kModuleComboId), dialog);
        Check(label2.right <= combo.left, "Label2 ends before the combo box begins");
    }
    CheckEqual(Text(GetDlgItem(dialog, kModuleLabelId)), std::string("Module 1 cannot be detected!"), "ModuleLabel caption");
    CheckEqual(Text(GetDlgItem(dialog, kModuleLabel2Id)), std::string(kModuleTypeLabel2.caption), "Label2 caption");
    CheckEqual(Text(GetDlgItem(dialog, kOkButtonId)), std::string("OK"), "OKButton caption");
    HWND combo = GetDlgItem(dialog, kModuleComboId);
    CheckEqual(JoinText(ComboEntries(combo)), std::string("IEPE|MULTIMP|HV|BR|IEPE CNT|LV"), "module types");
    CheckEqual(static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0)), 0, "module type selected");
    const std::vector<int> tabs{kModuleComboId, kOkButtonId, kModuleComboId};
    CheckEqual(Join(TabOrder(dialog, combo, tabs.size())), Join(tabs), "module type dialog tab order");
    CheckLabelFont(dialog, GetDlgItem(dialog, kModuleLabelId), kModuleLabel.width, "ModuleLabel");
    CheckLabelFont(dialog, GetDlgItem(dialog, kModuleLabel2Id), kModuleTypeLabel2.width, "Label2");
    Shoot(program.main, dialog, shots, "module-type.png");

    SendMessageA(combo, CB_SETCURSEL, 3, 0);  // "BR"
    Press(GetDlgItem(dialog, kOkButtonId));
    HWND box = WaitForDialog(program, std::string(kAppCaption));
    if (box) {
        CheckEqual(MessageText(box), std::string("Firmware upgrade successful!"), "final message");
        Press(ButtonOf(box, "OK"));
    }
    CheckEqual(WaitForExit(program), 0, "\\C: closed after the upgrade; exit status");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rovenza_window_driver ROVENZA_EXE WORK_DIR SHOT_DIR\n");
        return 2;
    }
    MainWindowAndRun(argv[1], argv[2], argv[3]);
    DeviceSelection(argv[1], argv[2], argv[3]);
    ModuleType(argv[1], argv[2], argv[3]);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
