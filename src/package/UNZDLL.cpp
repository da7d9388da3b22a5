#include "UNZDLL.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <system_error>

#include "WorkFolder.h"

namespace rovenza {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Slicing by eight: table k gives a byte's contribution k bytes further on, so eight bytes are
// folded in at once.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcSlices() {
    std::array<std::array<std::uint32_t, 256>, 8> slices{};
    slices[0] = kCrcTable;
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t i = 0; i < 256; ++i)
            slices[k][i] = (slices[k - 1][i] >> 8) ^ kCrcTable[slices[k - 1][i] & 0xFFu];
    return slices;
}
constexpr auto kCrcSlices = MakeCrcSlices();

constexpr std::size_t kChunkSize = 64 * 1024;

struct ArchiveCloser {
    void operator()(zip_t* za) const { zip_discard(za); }  // opened read-only: nothing to write
};
struct MemberCloser {
    void operator()(zip_file_t* zf) const { zip_fclose(zf); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveCloser>;
using MemberPtr = std::unique_ptr<zip_file_t, MemberCloser>;

// Talks to the caller through the callback; every failure is also reported as a Message.
class Reporter {
public:
    explicit Reporter(const UnzParams& params) : params_(params) {}

    // False when the caller asked to stop.
    bool Report(ZipAction action, std::int32_t code, std::int64_t size, std::string text) const {
        if (params_.callback == nullptr) return true;
        ZCallbackRec rec;
        rec.caller = params_.caller;
        rec.action = action;
        rec.errorCode = code;
        rec.fileSize = size;
        rec.text = std::move(text);
        return params_.callback(rec) != kZipCallbackStop;
    }

    [[noreturn]] void Fail(std::int32_t code, const std::string& text) const {
        Report(ZipAction::Message, code == 0 ? 1 : code, 0, text);
        throw EZipExtractError(text);
    }

    void GoOnOrStop(bool goOn, const std::string& member) const {
        if (!goOn) Fail(1, "Extraction stopped at member \"" + member + "\"");
    }

private:
    const UnzParams& params_;
};

struct PlannedMember {
    zip_uint64_t index = 0;
    std::string storedName;
    std::string outName;
    std::uint64_t size = 0;
};

// A stored name as messages show it (a NUL byte as "\0", so that the text is not cut there).
std::string ShownName(std::string_view name) {
    std::string shown;
    for (const char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown;
}

std::string MemberText(std::string_view name) { return "Member \"" + ShownName(name) + "\": "; }

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any case: names that Windows opens as devices
// whatever extension follows them (and with blanks before the extension).
bool IsReservedDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
        if (EqualsIgnoreAsciiCase(stem, device)) return true;
    }
    if (stem.size() != 4 || stem[3] < '1' || stem[3] > '9') return false;
    return EqualsIgnoreAsciiCase(stem.substr(0, 3), "COM") || EqualsIgnoreAsciiCase(stem.substr(0, 3), "LPT");
}

std::FILE* OpenExclusive(const fs::path& path) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), L"wbx");
#else
    return std::fopen(path.c_str(), "wbx");  // O_CREAT | O_EXCL: never through an existing link
#endif
}

// A file written under a fresh name in the base folder; removed unless committed.
class TempFile {
public:
    ~TempFile() {
        if (file_ != nullptr) std::fclose(file_);
        if (!committed_ && !path_.empty()) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }

    bool Create(const fs::path& dir) {
        static std::atomic<unsigned> counter{0};
        std::random_device rd;
        for (int attempt = 0; attempt < 32; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".unzip-%08x-%04x.part", static_cast<unsigned>(rd()),
                          (counter.fetch_add(1) & 0xFFFFu));
            const fs::path candidate = dir / name;
            file_ = OpenExclusive(candidate);
            if (file_ != nullptr) {
                path_ = candidate;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    bool Write(const char* data, std::size_t size) { return std::fwrite(data, 1, size, file_) == size; }

    bool Close() {
        const bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok && closed;
    }

    const fs::path& path() const { return path_; }
    void Commit() { committed_ = true; }

private:
    std::FILE* file_ = nullptr;
    fs::path path_;
    bool committed_ = false;
};

std::vector<PlannedMember> PlanMembers(zip_t* za, const UnzParams& params, const Reporter& rep) {
    std::vector<zip_stat_t> selected;
    std::vector<std::string> names;
    std::vector<std::string> allNames;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            rep.Fail(zip_error_code_zip(zip_get_error(za)), "Cannot read member " + std::to_string(i) + ": " + zip_strerror(za));
        std::string stored = st.name;
        allNames.push_back(stored);
        if (!params.memberNames.empty() &&
            std::find(params.memberNames.begin(), params.memberNames.end(), stored) == params.memberNames.end())
            continue;
        selected.push_back(st);
        names.push_back(std::move(stored));
    }
    if (params.localNames) {
        std::vector<std::string> local = *params.localNames;
        std::sort(local.begin(), local.end());
        std::sort(allNames.begin(), allNames.end());
        if (local != allNames) {
            const std::string what = local.size() == allNames.size()
                                         ? std::string("other names than the local headers")
                                         : std::to_string(allNames.size()) + " members, the local headers " +
                                               std::to_string(local.size());
            rep.Fail(ZIP_ER_INCONS, "The central directory lists " + what + ": members overlap or hide one another");
        }
    }
    // Every name is checked before the first member is written.
    if (const std::string refusal = MemberNamesRefusal(names); !refusal.empty()) rep.Fail(1, refusal);

    std::vector<PlannedMember> plan;
    std::uint64_t total = 0;  // of the members so far: at most twice kMaxMemberSize
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const zip_stat_t& st = selected[i];
        const std::string& stored = names[i];
        const MemberTarget target = ResolveMemberName(stored);
        if (target.kind != MemberTarget::Kind::File) continue;
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            rep.Fail(ZIP_ER_ENCRNOTSUPP, MemberText(stored) + "encrypted members are not supported");
        if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0))
            rep.Fail(ZIP_ER_COMPNOTSUPP, MemberText(stored) + "compression method " + std::to_string(st.comp_method) +
                                             " is not supported");
        if (!(st.valid & ZIP_STAT_SIZE)) rep.Fail(ZIP_ER_INCONS, MemberText(stored) + "size unknown");
        if (st.size > kMaxMemberSize)
            rep.Fail(1, MemberText(stored) + "declared size " + std::to_string(st.size) + " exceeds " +
                            std::to_string(kMaxMemberSize) + " bytes");

        PlannedMember m;
        m.index = st.index;
        m.storedName = stored;
        m.outName = target.name;
        m.size = st.size;
        total += m.size;
        if (total > kMaxMemberSize)
            rep.Fail(1, "The members' declared sizes add up to more than " + std::to_string(kMaxMemberSize) + " bytes");
        plan.push_back(std::move(m));
    }
    return plan;
}

// Whether the member is written: always when nothing of its name is there, else only with
// "overwrite".
bool ShouldWrite(const fs::path& target, const UnzParams& params) {
    std::error_code ec;
    return !fs::exists(fs::symlink_status(target, ec)) || params.extrOverWrite;
}

void ExtractMember(zip_t* za, const PlannedMember& m, const fs::path& target, const UnzParams& params,
                   const Reporter& rep) {
    const std::string what = MemberText(m.storedName);
    MemberPtr member(zip_fopen_index(za, m.index, 0));
    if (!member) rep.Fail(zip_error_code_zip(zip_get_error(za)), what + "cannot open: " + zip_strerror(za));

    TempFile temp;
    if (!temp.Create(params.baseDir)) {
        const int err = errno;
        rep.Fail(err, what + "cannot create a file in " + params.baseDir.string() + ": " + std::strerror(err));
    }

    std::vector<char> buffer(kChunkSize);
    // The zip library checks the member's CRC-32 and size against the directory's as its data
    // ends: the read that would return 0 fails instead, before the file is renamed into place.
    std::uint64_t total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(member.get(), buffer.data(), buffer.size());
        if (n < 0) {
            rep.Fail(zip_error_code_zip(zip_file_get_error(member.get())), what + zip_file_strerror(member.get()));
        }
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        if (total > m.size) {
            rep.Fail(ZIP_ER_INCONS,
                     what + "holds more data than its declared size of " + std::to_string(m.size) + " bytes");
        }
        if (!temp.Write(buffer.data(), static_cast<std::size_t>(n))) {
            const int err = errno;
            rep.Fail(err, what + "write error: " + std::strerror(err));
        }
        rep.GoOnOrStop(rep.Report(ZipAction::ProgressUpdate, 0, 0, " "), m.storedName);
    }
    if (total != m.size)
        rep.Fail(ZIP_ER_INCONS, what + "holds " + std::to_string(total) + " bytes instead of " + std::to_string(m.size));
    if (!temp.Close()) {
        const int err = errno;
        rep.Fail(err, what + "write error: " + std::strerror(err));
    }

    std::error_code ec;
    fs::rename(temp.path(), target, ec);
    if (ec) rep.Fail(ec.value(), what + "cannot be written as " + target.string() + ": " + ec.message());
    temp.Commit();
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    const auto& t = kCrcSlices;
    for (; size >= 8; size -= 8, p += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                         std::uint32_t{p[3]} << 24);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; size > 0; --size, ++p) crc = kCrcTable[(crc ^ *p) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

MemberTarget ResolveMemberName(std::string_view storedName) {
    using Kind = MemberTarget::Kind;
    if (storedName.find('\0') != std::string_view::npos) return {Kind::Refused, "name holds a NUL byte"};
    if (!storedName.empty() && (storedName.back() == '/' || storedName.back() == '\\')) return {Kind::Folder, {}};
    std::string_view name = storedName;
    const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') name.remove_prefix(2);
    if (const auto sep = name.find_last_of("/\\"); sep != std::string_view::npos) name.remove_prefix(sep + 1);
    if (name.empty()) return {Kind::Refused, "empty file name"};
    const std::string quoted = "file name \"" + std::string(name) + "\"";
    if (name == "." || name == "..") return {Kind::Refused, quoted + " is not allowed"};
    // What Windows would read as a drive, a stream, a device or a shortened name.
    if (name.find(':') != std::string_view::npos) return {Kind::Refused, quoted + " holds a ':'"};
    if (name.back() == '.' || name.back() == ' ') return {Kind::Refused, quoted + " ends in a dot or a blank"};
    if (IsReservedDeviceName(name)) return {Kind::Refused, quoted + " is a device name"};
    return {Kind::File, CanonicalPackageFileName(name)};
}

std::string MemberNamesRefusal(const std::vector<std::string>& storedNames) {
    std::map<std::string, const std::string*> written;  // output name in lower case -> stored name
    for (const std::string& stored : storedNames) {
        const MemberTarget target = ResolveMemberName(stored);
        if (target.kind == MemberTarget::Kind::Refused) return MemberText(stored) + target.name;
        if (target.kind == MemberTarget::Kind::Folder) continue;
        const auto [it, added] = written.emplace(ToLowerAscii(target.name), &stored);
        if (!added)
            return MemberText(stored) + "same name as member \"" + ShownName(*it->second) + "\", case aside";
    }
    return {};
}

std::int32_t UnzDllExec(const UnzParams& params) {
    const Reporter rep(params);
    if (params.baseDir.empty() || !IsRealFolder(params.baseDir))
        rep.Fail(1, "The extraction folder " + params.baseDir.string() + " does not exist or is not a folder");

    int error = 0;
    ArchivePtr archive(zip_open(params.archive.string().c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        // With the consistency check, libzip reports two members of one name as "exists".
        const std::string reason = error == ZIP_ER_EXISTS ? std::string("two members have the same name")
                                                          : std::string(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        rep.Fail(error, "Cannot open the archive " + params.archive.string() + ": " + reason);
    }

    const std::vector<PlannedMember> plan = PlanMembers(archive.get(), params, rep);
    std::int32_t written = 0;
    for (const PlannedMember& m : plan) {
        const fs::path target = params.baseDir / m.outName;
        if (!ShouldWrite(target, params)) continue;
        rep.GoOnOrStop(rep.Report(ZipAction::NewFile, 0, static_cast<std::int64_t>(m.size), m.storedName), m.storedName);
        ExtractMember(archive.get(), m, target, params, rep);
        ++written;
        if (params.verbose || params.trace) {
            rep.GoOnOrStop(rep.Report(ZipAction::Message, 0, 0, "Extracted " + m.outName + "\r\n"), m.storedName);
        }
    }
    rep.Report(ZipAction::EndOfBatch, 0, 0, " ");
    return written;
}

}  // namespace rovenza
