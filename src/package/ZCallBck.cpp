#include "ZCallBck.h"

#include "ZipMstr.h"

namespace rovenza {

namespace {

constexpr bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::string CutMessageLineEnd(std::string_view text) {
    const std::size_t n = text.size();
    if (n >= 2 && IsLineEnd(text[n - 2])) return std::string(text.substr(0, n - 2));
    if (n >= 1 && IsLineEnd(text[n - 1])) return std::string(text.substr(0, n - 1));
    return std::string(text);
}

std::int32_t ZCallback(const ZCallbackRec& record) {
    auto* zip = static_cast<TZipMaster*>(record.caller);
    if (zip == nullptr) return kZipCallbackGoOn;

    switch (record.action) {
    case ZipAction::NewFile:
        if (zip->OnProgress) zip->OnProgress(*zip, TProgressType::NewFile, record.text, record.fileSize);
        break;
    case ZipAction::ProgressUpdate:
        if (zip->OnProgress) zip->OnProgress(*zip, TProgressType::ProgressUpdate, " ", 0);
        break;
    case ZipAction::EndOfBatch:
        if (zip->OnProgress) zip->OnProgress(*zip, TProgressType::EndOfBatch, " ", 0);
        break;
    case ZipAction::Message:
        if (zip->OnMessage) zip->OnMessage(*zip, record.errorCode, CutMessageLineEnd(record.text));
        break;
    }
    return zip->CancelRequested() ? kZipCallbackStop : kZipCallbackGoOn;
}

}  // namespace rovenza
