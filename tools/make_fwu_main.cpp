// make-fwu: writes an FWU package from a manifest built from options and image files, or a
// synthetic demo package for one family.
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fwu/DemoPackage.h"
#include "fwu/FwuWriter.h"
#include "package/WorkFolder.h"

namespace {

using rovenza::FwuMember;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "Usage:\n"
    "  make-fwu [--device-type N] [--setting KEY=VALUE]... OUT.fwu FILE...\n"
    "      Packs each FILE under its file name; with --device-type, adds a Bootload.ini with\n"
    "      [Info] DeviceType=N and, for --setting, [Settings] KEY=VALUE lines.\n"
    "  make-fwu --demo FAMILY OUT.fwu\n"
    "      Writes a synthetic package for FAMILY: vk101, irig, ulmo, velkaro or zenara.\n";

struct UsageError {
    std::string text;
};

struct Options {
    std::optional<int> deviceType;
    std::vector<std::pair<std::string, std::string>> settings;
    std::optional<std::string> demoFamily;
    std::vector<std::string> positional;
    bool help = false;
};

std::string NextValue(const std::vector<std::string>& args, std::size_t& i, std::string_view option) {
    if (i + 1 >= args.size()) throw UsageError{std::string(option) + " needs a value"};
    return args[++i];
}

Options Parse(const std::vector<std::string>& args) {
    Options o;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            o.positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--device-type") {
            const std::string v = NextValue(args, i, a);
            int n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (ec != std::errc{} || end != v.data() + v.size()) throw UsageError{"--device-type needs an integer, not \"" + v + "\""};
            if (o.deviceType) throw UsageError{"--device-type given twice"};
            o.deviceType = n;
        } else if (a == "--setting") {
            const std::string v = NextValue(args, i, a);
            const auto eq = v.find('=');
            if (eq == 0 || eq == std::string::npos) throw UsageError{"--setting needs KEY=VALUE, not \"" + v + "\""};
            if (v.find_first_of("\r\n[]") != std::string::npos) throw UsageError{"--setting \"" + v + "\" holds a line end or bracket"};
            o.settings.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--demo") {
            if (o.demoFamily) throw UsageError{"--demo given twice"};
            o.demoFamily = NextValue(args, i, a);
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    return o;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return bytes.str();
}

// The package's members and its output path, from the options.
std::pair<std::string, std::vector<FwuMember>> Plan(const Options& o) {
    if (o.demoFamily) {
        if (o.deviceType || !o.settings.empty()) throw UsageError{"--demo takes no --device-type or --setting"};
        if (o.positional.size() != 1) throw UsageError{"--demo needs exactly one output file"};
        auto members = rovenza::DemoPackageMembers(*o.demoFamily);
        if (!members) throw UsageError{"unknown demo family \"" + *o.demoFamily + "\" (vk101, irig, ulmo, velkaro or zenara)"};
        return {o.positional.front(), std::move(*members)};
    }
    if (!o.settings.empty() && !o.deviceType) throw UsageError{"--setting needs --device-type"};
    if (o.positional.empty()) throw UsageError{"no output file given"};
    if (o.positional.size() == 1 && !o.deviceType) throw UsageError{"nothing to pack: give files or --device-type"};

    std::vector<FwuMember> members;
    std::set<std::string> names;
    if (o.deviceType) {
        members.push_back({std::string(rovenza::kManifestFileName), rovenza::ManifestText(*o.deviceType, o.settings)});
        names.insert(members.back().name);
    }
    for (std::size_t i = 1; i < o.positional.size(); ++i) {
        const std::string& path = o.positional[i];
        const std::string name = std::filesystem::path(path).filename().string();
        if (name.empty()) throw UsageError{"\"" + path + "\" does not name a file"};
        if (!names.insert(name).second) throw UsageError{"two members would be named \"" + name + "\""};
        members.push_back({name, ReadWholeFile(path)});
    }
    return {o.positional.front(), std::move(members)};
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const Options options = Parse(args);
        if (options.help) {
            std::fputs(kUsage.data(), stdout);
            return kExitOk;
        }
        const auto [out, members] = Plan(options);
        rovenza::WriteFwu(out, members);
        std::printf("Wrote %s (%zu members)\n", out.c_str(), members.size());
        return kExitOk;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "make-fwu: %s\n\n%s", e.text.c_str(), kUsage.data());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make-fwu: %s\n", e.what());
        return kExitFailure;
    }
}
