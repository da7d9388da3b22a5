#include "ProgramRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace rovenza {

namespace {

// Reads what is there; false once the other end is closed (a terminal's master reports EIO).
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& args, const ProgramRunOptions& options) {
    std::vector<std::string> argv{ROVENZA_CLI_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (auto& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);

    int out[2], err[2] = {-1, -1};
    if (pipe(out) != 0 || (!options.terminal && pipe(err) != 0)) throw std::runtime_error("pipe");
    int terminal = -1;
    pid_t pid;
    if (options.terminal) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(options.columns);
        pid = forkpty(&terminal, nullptr, nullptr, &size);
    } else {
        pid = fork();
    }
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        if (!options.terminal) dup2(err[1], STDERR_FILENO);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(out[1]);
    if (!options.terminal) close(err[1]);
    const int errFd = options.terminal ? terminal : err[0];

    ProgramResult result{-1, {}, {}};
    bool outOpen = true, errOpen = true, interrupted = false;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? errFd : -1, POLLIN, 0}};
        if (poll(fds, 2, 10000) <= 0) {
            kill(pid, SIGKILL);  // silent for ten seconds: the test has failed
            break;
        }
        if (fds[0].revents) outOpen = Drain(out[0], result.out);
        if (fds[1].revents) errOpen = Drain(errFd, result.err);
        if (options.interruptWhen && !interrupted && options.interruptWhen(result.err)) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(out[0]);
    close(errFd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace rovenza
