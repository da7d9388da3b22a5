#pragma once
// Ctrl-C for the command line. The first interrupt only sets a flag: the upgrade, which reads it
// through Context::stop, stops at its next point where the instrument can be left as it is, and
// the front end tells the operator so. A second interrupt ends the program at once, by the
// system's default action (on POSIX systems the signal is raised again with its default
// disposition; the handler does nothing else).
#include <atomic>

namespace rovenza {

class InterruptWatch {
public:
    // Installs the handler; only one watch exists at a time.
    InterruptWatch();
    // Restores what was installed before.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Set by the first interrupt.
    static const std::atomic<bool>& flag();
};

}  // namespace rovenza
