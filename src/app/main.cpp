// The window front end: the main window over the host's backends, or over the simulated
// bench with --simulate[=BENCH].
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <QApplication>
#include <QIcon>

#include "app/FormStyle.h"
#include "app/MainFormU.h"
#include "app/QtOperator.h"
#include "frontend/MainWindowLogic.h"
#include "frontend/World.h"

namespace {

// Whether the window has somewhere to appear: a display server named in the environment, or a
// Qt platform chosen explicitly (such as "offscreen"). Elsewhere than on X11 or Wayland
// systems the platform's own display is always there.
bool HasDisplay(int argc, char* argv[]) {
#if defined(__unix__) && !defined(__APPLE__)
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "-platform" || std::string_view(argv[i]).rfind("-platform=", 0) == 0) return true;
    return false;
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so they need no display.
    if (const auto answer = rovenza::WindowProgramAnswer(std::vector<std::string>(argv + 1, argv + argc))) {
        std::fputs(answer->c_str(), stdout);
        return 0;
    }
    if (!HasDisplay(argc, argv)) {
        std::fprintf(stderr,
                     "rovenza: no display to open the window on: DISPLAY and WAYLAND_DISPLAY are not set "
                     "(QT_QPA_PLATFORM=offscreen runs it without one; rovenza-cli upgrades without a window)\n");
        return 1;
    }
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Rovenza"));
    // The installed desktop entry and icon (rovenza.desktop, the theme's "rovenza"), so that a
    // desktop shows the window under them.
    QGuiApplication::setDesktopFileName(QStringLiteral("rovenza"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("rovenza")));
    rovenza::InstallFormFont();  // the windows are laid out in Tahoma's pixels

    std::vector<std::string> args(argv + 1, argv + argc);
    rovenza::WorldOptions options;
    options.defaultClock = "real";  // the window shows an upgrade at the instrument's pace
    if (const auto error = rovenza::TakeWorldOptions(args, options)) {
        std::fprintf(stderr, "rovenza: %s\n", error->c_str());
        return 2;
    }

    rovenza::QtOperator op;
    try {
        rovenza::World world(options, op);
        int status = 0;
        {
            rovenza::TMainForm form(args, world.context());
            op.setOwner(&form);
            form.show();
            status = app.exec();
        }  // the window waits for a worker that is still finishing
        world.finish();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rovenza: %s\n", e.what());
        return 1;
    }
}
