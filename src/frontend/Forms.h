#pragma once
// The program's three windows as their views lay them out: client sizes, every control's
// position, size and first caption in client pixels at 96 pixels per inch, the tab order, and
// the font (Tahoma, 11 pixels high). Plain data that the window front ends draw from; no
// toolkit here.
#include <array>
#include <string_view>

namespace rovenza {

inline constexpr std::string_view kFormFontFamily = "Tahoma";
inline constexpr int kFormFontPixels = 11;  // 8 point at 96 pixels per inch
inline constexpr std::string_view kAppCaption = "Rovenza";

struct FormSize {
    int width;
    int height;
};

struct ControlLayout {
    std::string_view name;
    int left, top, width, height;
    std::string_view caption;  // empty for controls without one
};

// --- The main window -----------------------------------------------------------------------
inline constexpr FormSize kMainClient{414, 108};

// The controls the main window draws, in its declaration order.
enum class MainControl { Label1, cbDeviceList, bUpload, lFWProcessing, pbFWProcessing, leUpgrade, bopenDialog, lVer, lVersion };

inline constexpr std::array<ControlLayout, 9> kMainControls{{
    {"Label1", 13, 8, 36, 13, "Device:"},
    {"cbDeviceList", 64, 5, 235, 21, ""},
    {"bUpload", 332, 31, 75, 21, "Upload"},
    {"lFWProcessing", 13, 60, 63, 13, "Processing..."},
    {"pbFWProcessing", 13, 76, 295, 17, ""},
    {"leUpgrade", 64, 32, 235, 21, ""},
    {"bopenDialog", 302, 31, 24, 23, "..."},
    {"lVer", 314, 8, 42, 13, "Version: "},
    {"lVersion", 370, 8, 16, 13, "1.1"},
}};

constexpr const ControlLayout& LayoutOf(MainControl control) { return kMainControls[static_cast<std::size_t>(control)]; }

// The focusable controls in tab order.
inline constexpr std::array<MainControl, 5> kMainTabOrder{MainControl::cbDeviceList, MainControl::bUpload,
                                                          MainControl::pbFWProcessing, MainControl::leUpgrade,
                                                          MainControl::bopenDialog};

// The file-name box's label: on the box's left, this many pixels from it, vertically centred.
inline constexpr std::string_view kFileNameLabel = "File name:";
inline constexpr int kFileNameLabelGap = 3;

// The progress bar's range, and the timer that moves it while an upgrade runs.
inline constexpr int kProgressMax = 100;
inline constexpr int kProgressIntervalMs = 30;

// The file-open dialog behind "...": (description, pattern) pairs, default extension.
struct FileFilter {
    std::string_view description;
    std::string_view pattern;
};
inline constexpr std::array<FileFilter, 2> kPackageFilters{{
    {"FW Update Files (*.fwu)", "*.fwu"},
    {"All Files (*.*)", "*.*"},
}};
inline constexpr std::string_view kPackageExtension = "fwu";

// --- The device selection dialog -------------------------------------------------------------
inline constexpr std::string_view kDevicesCaption = "Deviecs";
inline constexpr FormSize kDevicesClient{355, 139};
// In tab order.
inline constexpr ControlLayout kUpgradeButton{"UpgradeButton", 271, 6, 75, 25, "Upgrade"};
inline constexpr ControlLayout kDevicesCheckListBox{"DevicesCheckListBox", 8, 8, 257, 123, ""};
inline constexpr ControlLayout kSelectAllButton{"Button1", 271, 37, 75, 25, "Select All"};
inline constexpr int kDeviceItemHeight = 13;

// --- The module type dialog ------------------------------------------------------------------
inline constexpr std::string_view kModuleTypeCaption = "Module Type";
inline constexpr FormSize kModuleTypeClient{422, 59};
inline constexpr ControlLayout kModuleLabel{"ModuleLabel", 8, 11, 142, 13, "Module I cannot be detected."};
inline constexpr ControlLayout kModuleTypeLabel2{"Label2", 8, 31, 174, 13, "Please, select the new module type:"};
// In tab order.
inline constexpr ControlLayout kModuleTypeComboBox{"ModuleTypeComboBox", 188, 28, 145, 21, ""};
inline constexpr ControlLayout kOkButton{"OKButton", 339, 26, 75, 25, "OK"};

}  // namespace rovenza
