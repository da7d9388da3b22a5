#pragma once
// How the Win32 windows name their parts: the main window's class, the control identifiers of
// the three windows, and the message by which a worker has the window's thread run something.
// Shared with the window tests, which find the controls by these identifiers.
#include "frontend/Forms.h"

namespace rovenza::win32ui {

inline constexpr char kMainWindowClass[] = "RovenzaMainForm";

// Main window: kMainControlBase + the control's place in MainControl.
inline constexpr int kMainControlBase = 100;
inline constexpr int MainControlId(MainControl control) { return kMainControlBase + static_cast<int>(control); }
inline constexpr int kFileNameLabelId = 120;  // the file-name box's label

// Device selection dialog.
inline constexpr int kUpgradeButtonId = 201;
inline constexpr int kDevicesListId = 202;
inline constexpr int kSelectAllButtonId = 203;

// Module type dialog.
inline constexpr int kModuleLabelId = 301;
inline constexpr int kModuleLabel2Id = 302;
inline constexpr int kModuleComboId = 303;
inline constexpr int kOkButtonId = 304;

// WM_APP + 1: lParam points to a std::function<void()> that the window's thread runs.
inline constexpr unsigned kRunOnWindowThreadMessage = 0x8000 + 1;

}  // namespace rovenza::win32ui
