// A package as the upgraders unpack it: the local-header walk (setting the archive name), then
// the extraction into a fresh work folder, which is removed afterwards. Whatever the package
// holds, nothing may appear outside the work folder and the work folder holds only regular
// files, one per member written.
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "FuzzInput.h"
#include "package/WorkFolder.h"
#include "package/ZipMstr.h"

namespace fs = std::filesystem;
using namespace rovenza;

namespace {

constexpr const char* kArchiveName = "package.fwu";
constexpr const char* kProgramName = "program";

// The number of entries directly in `folder`; every one must be a regular file.
std::int32_t RegularFilesIn(const fs::path& folder) {
    std::int32_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        FUZZ_CHECK(entry.is_regular_file() && !entry.is_symlink());
        ++count;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path archive = fuzz::WriteInput(data, size, kArchiveName);
    const fs::path program = fuzz::Folder() / kProgramName;
    const fs::path work = WorkFolderPath(program);

    bool extracted = false;
    std::int32_t count = 0;
    {
        TZipMaster zip;
        try {
            zip.SetZipFilename(archive);
            zip.ExtrBaseDir = work;
            zip.ExtrOptions = {ExtrOverWrite};
            zip.Extract();
            extracted = true;
            // Not bounded by the walk's entries: members are written as the central directory
            // lists them, which may name members the walk stepped over.
            count = zip.ExtractedCount();
        } catch (const EZipStreamError&) {
        } catch (const EZipExtractError&) {
        }
    }

    // Only the package and the program folder with its work folder in the temporary folder.
    for (const fs::directory_entry& entry : fs::directory_iterator(fuzz::Folder())) {
        const fs::path name = entry.path().filename();
        FUZZ_CHECK(name == kArchiveName || name == kProgramName);
    }
    if (fs::exists(program)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(program))
            FUZZ_CHECK(entry.path() == work && entry.is_directory() && !entry.is_symlink());
    }
    if (fs::exists(work)) {
        const std::int32_t files = RegularFilesIn(work);
        if (extracted) FUZZ_CHECK(files == count);
    } else {
        FUZZ_CHECK(!extracted);
    }
    fs::remove_all(program);
    return 0;
}
