// The window front end: the main window over the host's backends, or over the simulated
// bench with --simulate[=BENCH].
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <QApplication>

#include "app/FormStyle.h"
#include "app/MainFormU.h"
#include "app/QtOperator.h"
#include "frontend/World.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setApplicationName(QStringLiteral("Rovenza"));
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
