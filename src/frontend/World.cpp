#include "World.h"

#include <cstdlib>
#include <stdexcept>

#include "FolderRule.h"
#include "sim/SimulatedBench.h"

namespace rovenza {

std::optional<std::string> TakeWorldOptions(std::vector<std::string>& args, WorldOptions& options) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            options.simulate = true;
            const std::string file = arg.substr(11);
            if (file.empty()) return "--simulate= needs a bench file";
            options.benchFile = file;
        } else if (arg == "--bench-dump") {
            if (i + 1 >= args.size()) return "--bench-dump needs a folder";
            options.dumpDir = args[++i];
        } else if (arg.rfind("--bench-dump=", 0) == 0) {
            options.dumpDir = arg.substr(13);
        } else if (arg == "--trace") {
            if (i + 1 >= args.size()) return "--trace needs a file";
            options.traceFile = args[++i];
        } else if (arg.rfind("--trace=", 0) == 0) {
            options.traceFile = arg.substr(8);
        } else if (arg == "--speed") {
            if (i + 1 >= args.size()) return "--speed needs a number";
            char* end = nullptr;
            const std::string& text = args[++i];
            options.speed = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(options.speed > 0)) return "--speed takes a number above 0";
        } else if (arg == "--program-folder") {
            if (i + 1 >= args.size()) return "--program-folder needs a folder";
            options.programFolder = args[++i];
        } else {
            rest.push_back(arg);
        }
    }
    if (options.dumpDir && !options.simulate) return "--bench-dump needs --simulate";
    if (options.speed > 0 && !options.simulate) return "--speed needs --simulate";
    args = std::move(rest);
    return std::nullopt;
}

namespace {

std::optional<std::filesystem::path> TraceFileOf(const WorldOptions& options) {
    if (options.traceFile) return options.traceFile;
    const char* fromEnvironment = std::getenv("ROVENZA_TRACE");
    if (!fromEnvironment) return std::nullopt;
    if (*fromEnvironment) return std::filesystem::path(fromEnvironment);
#if defined(_WIN32)
    return std::filesystem::path("C:\\USBLog.txt");
#else
    return std::nullopt;
#endif
}

}  // namespace

World::World(const WorldOptions& options, Operator& op, WorldHooks hooks) : options_(options) {
    const ProgramFolders folders = ChooseProgramFolders(options.programFolder);
    if (const auto traceFile = TraceFileOf(options)) {
        trace_ = std::make_unique<CommandTrace>(*traceFile);
        try {
            trace_->CheckWritable();
        } catch (const ETraceError& e) {
            throw LocalFault(e.what());
        }
    }
    DebugOutput& debug = hooks.debug ? *hooks.debug : debug_;
    if (options.simulate) {
        // The front ends never query the requests: with a dump folder requests.log and
        // waits.log are written as the run goes, otherwise nothing is recorded, so a long run
        // keeps no requests.
        std::optional<std::filesystem::path> requestLog, waitLog;
        if (options.dumpDir) {
            requestLog = *options.dumpDir / "requests.log";
            waitLog = *options.dumpDir / "waits.log";
        }
        try {
            bench_ = sim::SimulatedBench::Create(
                {options.benchFile, options.defaultClock, options.speed, false, requestLog, waitLog});
        } catch (const sim::BenchFileError&) {
            throw;
        } catch (const std::exception& e) {
            // The bench file was read: what failed is the request log in the dump folder.
            throw LocalFault(e.what());
        }
        clock_ = std::make_unique<WatchedClock>(bench_->clock());
        context_ = std::make_unique<Context>(
            Context{bench_->driver(), bench_->interfaces(), *clock_, debug, op, folders, trace_.get(), hooks.stop});
        return;
    }
    clock_ = std::make_unique<WatchedClock>(hostClock_);
    context_ = std::make_unique<Context>(
        Context{hostDriver_, hostInterfaces_, *clock_, debug, op, folders, trace_.get(), hooks.stop});
}

World::~World() = default;

void World::finish() {
    if (bench_ && options_.dumpDir) {
        try {
            bench_->dump(*options_.dumpDir);
        } catch (const std::exception& e) {
            throw LocalFault(e.what());
        }
    }
    if (trace_ && trace_->failure()) throw LocalFault(*trace_->failure());
}

}  // namespace rovenza
