#include "Recorder.h"

#include "package/WorkFolder.h"

#include <cstdio>
#include <stdexcept>

namespace rovenza::sim {

namespace {

bool Matches(const RecordedRequest& request, std::string_view call, std::string_view command) {
    return (call.empty() || request.call == call) && (command.empty() || request.command == command);
}

}  // namespace

Recorder::Recorder(const RecorderSetup& setup) : keep_(setup.keep), logFile_(setup.log) {
    if (!logFile_) return;
    std::error_code ec;
    if (logFile_->has_parent_path()) std::filesystem::create_directories(logFile_->parent_path(), ec);
    if (ec)
        throw std::runtime_error(logFile_->parent_path().string() + ": cannot create the dump folder: " + PlainErrorText(ec));
    log_ = std::make_unique<std::ofstream>(*logFile_, std::ios::binary | std::ios::trunc);
    if (!*log_) throw std::runtime_error(logFile_->string() + ": cannot write the request log");
}

Recorder::~Recorder() = default;

std::size_t& Recorder::counter(std::string_view call, std::string_view command) {
    return counts_.try_emplace({std::string(call), std::string(command)}, 0).first->second;
}

void Recorder::add(RecordedRequest request) {
    tally(counter(request.call, request.command));
    if (log_) *log_ << LogLine(request) << '\n';
    if (keep_) requests_.push_back(std::move(request));
}

std::vector<RecordedRequest> Recorder::select(std::string_view call, std::string_view command) const {
    std::vector<RecordedRequest> out;
    for (const auto& request : requests_)
        if (Matches(request, call, command)) out.push_back(request);
    return out;
}

std::size_t Recorder::count(std::string_view call, std::string_view command) const {
    std::size_t n = 0;
    for (const auto& [key, number] : counts_)
        if ((call.empty() || key.first == call) && (command.empty() || key.second == command)) n += number;
    return n;
}

const RecordedRequest* Recorder::last(std::string_view call, std::string_view command) const {
    for (auto it = requests_.rbegin(); it != requests_.rend(); ++it)
        if (Matches(*it, call, command)) return &*it;
    return nullptr;
}

void Recorder::writeLog(std::ostream& out) const {
    for (const auto& request : requests_) out << LogLine(request) << '\n';
}

void Recorder::writeLog(const std::filesystem::path& file) {
    if (log_) {
        log_->flush();
        if (!*log_) throw std::runtime_error(logFile_->string() + ": cannot write the request log");
        std::error_code ec;
        if (std::filesystem::equivalent(*logFile_, file, ec)) return;
        std::filesystem::copy_file(*logFile_, file, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) throw std::runtime_error(file.string() + ": cannot write the request log: " + PlainErrorText(ec));
        return;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    writeLog(out);
    out.close();
    if (!out) throw std::runtime_error(file.string() + ": cannot write the request log");
}

std::string FormatTimeMs(std::int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    return text;
}

std::string HexBytes(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

std::string LogLine(const RecordedRequest& request) {
    std::string line = FormatTimeMs(request.timeUs);
    for (const std::string& column : {request.path, request.call, request.command, HexBytes(request.sent),
                                      HexBytes(request.received), std::to_string(request.result)}) {
        line += '\t';
        line += column;
    }
    return line;
}

}  // namespace rovenza::sim
