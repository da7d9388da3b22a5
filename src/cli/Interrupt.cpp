#include "Interrupt.h"

#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace rovenza {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the handler may only touch lock-free atomics");

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_interrupts{0};

#if defined(_WIN32)
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (g_interrupts.fetch_add(1) > 0) return FALSE;  // the default handler ends the process
    g_interrupted.store(true);
    return TRUE;
}
#else
struct sigaction g_previous {};

extern "C" void OnInterrupt(int signal) {
    if (g_interrupts.fetch_add(1) > 0) {
        // Second interrupt: the default action, at once.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        raise(signal);
        return;
    }
    g_interrupted.store(true);
}
#endif

}  // namespace

InterruptWatch::InterruptWatch() {
    g_interrupted.store(false);
    g_interrupts.store(0);
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous);
#endif
}

InterruptWatch::~InterruptWatch() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
    sigaction(SIGINT, &g_previous, nullptr);
#endif
}

const std::atomic<bool>& InterruptWatch::flag() { return g_interrupted; }

}  // namespace rovenza
