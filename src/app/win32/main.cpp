// The window front end on Windows: the main window over the maker's driver, or over the
// simulated bench with --simulate[=BENCH].
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/win32/Win32Dialogs.h"
#include "app/win32/Win32MainForm.h"
#include "frontend/MainWindowLogic.h"
#include "frontend/World.h"

namespace {

// A window program has no console to speak to: what it says before its window, it says in a
// message box (and on standard error, for a caller that captures it).
void Say(const std::string& text, bool error) {
    std::fputs(text.c_str(), error ? stderr : stdout);
    std::fflush(error ? stderr : stdout);
    MessageBoxA(nullptr, text.c_str(), "Rovenza", MB_OK | (error ? MB_ICONERROR : 0));
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (const auto answer = rovenza::WindowProgramAnswer(args)) {
        Say(*answer, false);
        return 0;
    }
    rovenza::WorldOptions options;
    options.defaultClock = "real";  // the window shows an upgrade at the instrument's pace
    if (const auto error = rovenza::TakeWorldOptions(args, options)) {
        Say("rovenza: " + *error + "\n", true);
        return 2;
    }

    rovenza::Win32Operator op;
    try {
        rovenza::World world(options, op);
        int status = 0;
        {
            rovenza::Win32MainForm form(args, world.context());
            op.setOwner(form.handle());
            form.Show(SW_SHOWNORMAL);
            status = form.Run();
            op.setOwner(nullptr);
        }  // the window waits for a worker that is still finishing
        world.finish();
        return status;
    } catch (const std::exception& e) {
        Say(std::string("rovenza: ") + e.what() + "\n", true);
        return 1;
    }
}
