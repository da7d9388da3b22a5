#pragma once
// What the extraction tests share: a program folder in a temporary folder, and the extraction
// as the upgraders run it.
#include <filesystem>
#include <string>
#include <vector>

#include "fwu/FwuWriter.h"
#include "package/WorkFolder.h"
#include "package/ZipMstr.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"

namespace rovenza {

class ExtractionTest : public ::testing::Test {
protected:
    std::filesystem::path program() const { return tmp_.path() / "program"; }
    std::filesystem::path work() const { return WorkFolderPath(program()); }
    std::filesystem::path outside() const { return tmp_.path(); }

    std::filesystem::path Package(const std::vector<FwuMember>& members) const {
        WriteFwu(outside() / "p.fwu", members);
        return outside() / "p.fwu";
    }
    std::filesystem::path RawPackage(const std::string& bytes) const {
        WriteFileBytes(outside() / "raw.fwu", bytes);
        return outside() / "raw.fwu";
    }
    // Set the name, the work folder and "overwrite", as the upgraders do.
    static void Prepare(TZipMaster& zip, const std::filesystem::path& fwu, const std::filesystem::path& base) {
        zip.SetZipFilename(fwu);
        zip.ExtrBaseDir = base;
        zip.ExtrOptions = {ExtrOverWrite};
    }
    std::int32_t Extract(const std::filesystem::path& fwu) const {
        TZipMaster zip;
        Prepare(zip, fwu, work());
        zip.Extract();
        return zip.ExtractedCount();
    }
    // The text of the EZipExtractError that extracting `fwu` raises, or "no error".
    std::string ExtractError(const std::filesystem::path& fwu) const {
        try {
            Extract(fwu);
        } catch (const EZipExtractError& e) {
            return e.what();
        }
        return "no error";
    }
    std::vector<std::string> WorkListing() const { return FolderListing(work()); }

private:
    TempDir tmp_;
};

}  // namespace rovenza
