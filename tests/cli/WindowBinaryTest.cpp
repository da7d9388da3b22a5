// The window's program before any window: --help and --version answer without a display, and
// without a display it says so instead of aborting inside Qt. Runs the built program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>

#include "CliRunner.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

using ::testing::HasSubstr;

TEST(WindowBinary, AnswersWithoutADisplay) {
#if defined(ROVENZA_WINDOW_BINARY)
    TempDir dir;
    const struct {
        const char* args;
        int status;
        const char* out;  // the whole standard output, or a part of it (`part`)
        bool part;
        const char* err;
    } rows[] = {
        {"--version", 0, "rovenza " ROVENZA_VERSION "\n", false, ""},
        {"--help", 0, "\"VKUSB Zenara - Modules\"", true, ""},
        {"--simulate '\\D' ULMO -h", 0, "Usage: rovenza ", true, ""},
        {"", 1, "", false, "rovenza: no display to open the window on"},
        {"--simulate '\\D' ULMO", 1, "", false, "rovenza: no display to open the window on"},
    };
    for (const auto& row : rows) {
        const auto out = dir.path() / "out.txt", err = dir.path() / "err.txt";
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" ROVENZA_WINDOW_BINARY "' " +
                                    std::string(row.args) + " >'" + out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << row.args << ": ended by a signal";
        EXPECT_EQ(WEXITSTATUS(raw), row.status) << row.args;
        if (row.part)
            EXPECT_THAT(FileText(out), HasSubstr(row.out)) << row.args;
        else
            EXPECT_EQ(FileText(out), row.out) << row.args;
        EXPECT_THAT(FileText(err), HasSubstr(row.err)) << row.args;
    }
#else
    GTEST_SKIP() << "built without the window";
#endif
}

}  // namespace
}  // namespace rovenza
