#pragma once
// The main window on Windows, drawn with the system's own controls: MainWindowLogic decides
// what happens, this class shows it. Everything runs on the thread that made the window; the
// upload worker reaches that thread through sent messages.
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "frontend/MainWindowLogic.h"

namespace rovenza {

class Win32MainForm final : public MainWindowLogic {
public:
    // Creates the window (hidden) and its controls, and runs FormCreate.
    Win32MainForm(std::vector<std::string> args, const Context& ctx, UpgraderFactory createUpgrader = &CreateUpgrader);
    ~Win32MainForm() override;

    HWND handle() const { return hwnd_; }
    // Shows the window; the first time, reads the command line (FormShow).
    void Show(int showCommand);
    // The message loop, until the window has been closed. Returns the quit code.
    int Run();

    void bopenDialogClick();

protected:
    int SelectedFamily() const override;
    void SelectFamily(int position) override;
    std::string FileName() const override;
    void SetControlText(MainControl control, const std::string& text) override;
    void SetControlEnabled(MainControl control, bool enabled) override;
    void SetControlShown(MainControl control, bool shown) override;
    int SetBarPosition(int position) override;
    void SetTimerRunning(bool running) override;
    void SetCaption(const std::string& caption) override;
    void CloseForm() override;
    void RunOnWindowThread(const std::function<void()>& work) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    HWND Control(MainControl control) const { return controls_[static_cast<std::size_t>(control)]; }

    HWND hwnd_ = nullptr;
    std::array<HWND, kMainControls.size()> controls_{};
    HWND fileNameLabel_ = nullptr;
    bool shown_ = false;
};

}  // namespace rovenza
