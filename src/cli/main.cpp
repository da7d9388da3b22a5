// rovenza-cli: the upgrade without a window, for unattended use.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "CliRun.h"
#include "Interrupt.h"

namespace {

// Whether standard error is a terminal, and its width in columns.
rovenza::CliEnvironment Surroundings() {
    rovenza::CliEnvironment environment;
#if defined(_WIN32)
    environment.terminal = _isatty(_fileno(stderr)) != 0;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (environment.terminal && GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        environment.width = info.srWindow.Right - info.srWindow.Left + 1;
#else
    environment.terminal = isatty(STDERR_FILENO) != 0;
    winsize size{};
    if (environment.terminal && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        environment.width = size.ws_col;
#endif
    return environment;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    rovenza::InterruptWatch interrupts;
    rovenza::CliEnvironment environment = Surroundings();
    environment.interrupt = &rovenza::InterruptWatch::flag();
    return rovenza::RunCli(args, std::cout, std::cerr, environment);
}
