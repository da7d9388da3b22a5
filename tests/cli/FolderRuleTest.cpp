// Where a run's work folder (Temp) and package folder (FWUs) are: --program-folder, beside a
// program that may write its own folder, or per-user folders for an installed program.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "frontend/FolderRule.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

enum class Exe { Writable, WritableBin, ReadOnly };
enum class Expect { Given, Beside, PerUser };

struct FolderRow {
    const char* name;
    bool programFolderGiven;
    Exe exe;
    FolderConvention convention;
    std::map<std::string, std::string> environment;
    Expect expect;
    const char* work = "";      // per-user rows: the folders expected
    const char* packages = "";
};

const FolderRow kFolderRows[] = {
    {"GivenWinsOverEverything", true, Exe::ReadOnly, FolderConvention::Xdg, {{"HOME", "/home/op"}}, Expect::Given},
    {"GivenWinsOverABinFolder", true, Exe::WritableBin, FolderConvention::Windows, {{"LOCALAPPDATA", "C:/Users/op"}},
     Expect::Given},
    {"WritableFolderKeepsBoth", false, Exe::Writable, FolderConvention::Xdg, {{"HOME", "/home/op"}}, Expect::Beside},
    {"WritableFolderOnWindows", false, Exe::Writable, FolderConvention::Windows, {{"LOCALAPPDATA", "/lad"}},
     Expect::Beside},
    {"ReadOnlyUsesHome", false, Exe::ReadOnly, FolderConvention::Xdg, {{"HOME", "/home/op"}}, Expect::PerUser,
     "/home/op/.cache/rovenza/Temp", "/home/op/.local/share/rovenza/FWUs"},
    {"ReadOnlyUsesXdgFolders", false, Exe::ReadOnly, FolderConvention::Xdg,
     {{"HOME", "/home/op"}, {"XDG_CACHE_HOME", "/cache"}, {"XDG_DATA_HOME", "/data"}}, Expect::PerUser,
     "/cache/rovenza/Temp", "/data/rovenza/FWUs"},
    {"RelativeXdgFoldersIgnored", false, Exe::ReadOnly, FolderConvention::Xdg,
     {{"HOME", "/home/op"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_DATA_HOME", ""}}, Expect::PerUser,
     "/home/op/.cache/rovenza/Temp", "/home/op/.local/share/rovenza/FWUs"},
    {"InstalledBinFolderEvenWhenWritable", false, Exe::WritableBin, FolderConvention::Xdg,
     {{"HOME", "/home/op"}, {"XDG_DATA_HOME", "/data"}}, Expect::PerUser, "/home/op/.cache/rovenza/Temp",
     "/data/rovenza/FWUs"},
    {"ReadOnlyWithoutHomeStaysBeside", false, Exe::ReadOnly, FolderConvention::Xdg, {{"XDG_DATA_HOME", "/data"}},
     Expect::Beside},
    {"ReadOnlyOnWindowsUsesLocalAppData", false, Exe::ReadOnly, FolderConvention::Windows,
     {{"LOCALAPPDATA", "/Users/op/AppData/Local"}, {"HOME", "/home/op"}}, Expect::PerUser,
     "/Users/op/AppData/Local/Rovenza/Temp", "/Users/op/AppData/Local/Rovenza/FWUs"},
    {"ReadOnlyOnWindowsWithoutLocalAppDataStaysBeside", false, Exe::ReadOnly, FolderConvention::Windows,
     {{"HOME", "/home/op"}}, Expect::Beside},
};

class FolderRule : public ::testing::TestWithParam<FolderRow> {};

TEST_P(FolderRule, ChoosesTheFolders) {
    const FolderRow& row = GetParam();
    TempDir dir;
    const fs::path given = dir.path() / "given";
    // /proc: a folder that no user, root included, may create anything in.
    fs::path exe = "/proc";
    if (row.exe == Exe::Writable) exe = dir.path() / "program";
    if (row.exe == Exe::WritableBin) exe = dir.path() / "usr" / "bin";
    if (row.exe != Exe::ReadOnly) fs::create_directories(exe);

    FolderRuleInputs inputs{row.programFolderGiven ? given : fs::path(), exe,
                            [&](const char* name) -> std::optional<fs::path> {
                                const auto it = row.environment.find(name);
                                if (it == row.environment.end()) return std::nullopt;
                                return fs::path(it->second);
                            },
                            CanWriteInFolder, row.convention};
    const ProgramFolders folders = ChooseProgramFolders(inputs);

    switch (row.expect) {
    case Expect::Given:
        EXPECT_EQ(folders, ProgramFolders(given / "Temp", given / "FWUs"));
        break;
    case Expect::Beside:
        EXPECT_EQ(folders, ProgramFolders(exe / "Temp", exe / "FWUs"));
        break;
    case Expect::PerUser:
        EXPECT_EQ(folders, ProgramFolders(fs::path(row.work), fs::path(row.packages)));
        break;
    }
    // Choosing creates nothing: the writing probe leaves the program's folder as it was.
    if (row.exe != Exe::ReadOnly) {
        EXPECT_TRUE(fs::is_empty(exe)) << exe;
    }
    EXPECT_FALSE(fs::exists(given));
}

INSTANTIATE_TEST_SUITE_P(Rows, FolderRule, ::testing::ValuesIn(kFolderRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rovenza
