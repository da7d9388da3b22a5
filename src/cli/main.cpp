// rovenza-cli: the upgrade without a window, for unattended use.
#include <iostream>
#include <string>
#include <vector>

#include "CliRun.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return rovenza::RunCli(args, std::cout, std::cerr);
}
