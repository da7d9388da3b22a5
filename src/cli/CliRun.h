#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace rovenza {

// Runs the headless front end with the arguments after the program name. Progress goes to
// `err`, the final message to `out`. Returns the exit status: 0 on "Firmware upgrade
// successful!", 1 on any other result, 2 on bad usage.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace rovenza
