#include "MeasuredRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "support/PackageBytes.h"
#include "support/TempDir.h"

extern char** environ;

namespace rovenza {

namespace {

constexpr std::string_view kStarterFlag = "--run-measured";

volatile sig_atomic_t gChild = 0;
volatile sig_atomic_t gKilled = 0;

void OnWatchdog(int) {
    if (gChild > 0) kill(static_cast<pid_t>(gChild), SIGKILL);
    gKilled = 1;
}

// Opens `path` as descriptor `target` of the calling process.
bool Redirect(const char* path, int flags, int target) {
    const int fd = open(path, flags, 0600);
    if (fd < 0) return false;
    if (fd != target) {
        if (dup2(fd, target) < 0) return false;
        close(fd);
    }
    return true;
}

}  // namespace

MeasuredRun RunMeasured(const std::vector<std::string>& command, const std::filesystem::path& workingFolder,
                        int watchdogSeconds) {
    TempDir files;
    const auto out = files.path() / "out";
    const auto err = files.path() / "err";
    const auto report = files.path() / "report";
    std::vector<std::string> args{"starter",  std::string(kStarterFlag), workingFolder.string(),
                                  out.string(), err.string(),            report.string(),
                                  std::to_string(watchdogSeconds)};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t starter = 0;
    if (const int e = posix_spawn(&starter, "/proc/self/exe", nullptr, nullptr, argv.data(), environ); e != 0)
        throw std::runtime_error(std::string("cannot start the measuring copy: ") + std::strerror(e));
    int status = 0;
    while (waitpid(starter, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measuring copy failed with status " + std::to_string(status));

    MeasuredRun run;
    std::istringstream in(ReadFileBytes(report));
    int timedOut = 0;
    in >> run.exitCode >> run.signal >> timedOut >> run.seconds >> run.peakKiB;
    if (!in) throw std::runtime_error("the measuring copy wrote no report");
    run.timedOut = timedOut != 0;
    run.out = ReadFileBytes(out);
    run.err = ReadFileBytes(err);
    return run;
}

int MeasuredRunMain(int argc, char** argv) {
    if (argc < 2 || argv[1] != kStarterFlag) return -1;
    if (argc < 8) {
        std::fprintf(stderr, "%s: too few arguments\n", argv[1]);
        return 2;
    }
    const char* folder = argv[2];
    const char* out = argv[3];
    const char* err = argv[4];
    const char* report = argv[5];
    const int watchdog = std::atoi(argv[6]);
    char** command = argv + 7;

    struct sigaction action {};
    action.sa_handler = OnWatchdog;  // no SA_RESTART: the wait below returns on the alarm
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) return 3;
    if (child == 0) {
        if (chdir(folder) != 0 || !Redirect("/dev/null", O_RDONLY, 0) ||
            !Redirect(out, O_WRONLY | O_CREAT | O_TRUNC, 1) || !Redirect(err, O_WRONLY | O_CREAT | O_TRUNC, 2))
            _exit(126);
        execv(command[0], command);
        _exit(127);
    }
    gChild = child;
    alarm(static_cast<unsigned>(watchdog));
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) return 4;
    }
    alarm(0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

    std::ofstream file(report);
    file << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ' ' << (WIFSIGNALED(status) ? WTERMSIG(status) : 0)
         << ' ' << (gKilled ? 1 : 0) << ' ' << took.count() << ' ' << usage.ru_maxrss << '\n';
    return file ? 0 : 5;
}

}  // namespace rovenza
