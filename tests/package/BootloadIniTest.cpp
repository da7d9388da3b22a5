// The manifest reader: value rules, file layout rules, and the switches the families read.
#include <gtest/gtest.h>

#include <climits>

#include "fwu/FwuWriter.h"
#include "package/BootloadIni.h"
#include "package/WorkFolder.h"
#include "support/PackageBytes.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

TEST(ManifestInteger, ValueRules) {
    const struct {
        const char* text;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"2", 2},           {"-17", -17},        {"+17", 17},         {"007", 7},
        {"0x2", 2},         {"0X1f", 31},        {"$5", 5},           {"$ff", 255},
        {"2147483647", INT32_MAX},  {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt},  {"-2147483649", std::nullopt},  {"99999999999999999999", std::nullopt},
        {"$FFFFFFFF", -1},  {"0x80000000", INT32_MIN},
        {"0x0000000000000012", 0x12},  // leading zeros do not count
        {"$100000000", std::nullopt},  // nine significant digits
        {"0x", std::nullopt},          // a prefix needs at least one digit after it
        {"$", std::nullopt},  {"0xG1", std::nullopt},  {"$-1", std::nullopt},  {"-0x5", std::nullopt},
        {"two", std::nullopt},  {"", std::nullopt},  {"-", std::nullopt},  {"5x", std::nullopt},
        {"1 2", std::nullopt},  {"3.0", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseIniInteger(c.text), c.expected) << '"' << c.text << '"';
}

class ManifestFile : public ::testing::Test {
protected:
    TIniFile With(const std::string& text) {
        WriteFileBytes(path(), text);
        return TIniFile(path());
    }
    fs::path path() const { return tmp_.path() / "Bootload.ini"; }

private:
    TempDir tmp_;
};

TEST_F(ManifestFile, DeviceTypeAsTheFamiliesReadIt) {
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"[Info]\r\nDeviceType=3\r\n", 3},
        {"[Info]\nDeviceType=0x2\n", 2},
        {"[Info]\r\nDeviceType=two\r\n", -1},                       // not an integer: the default
        {"[info]\r\ndevicetype=4\r\n", 4},                          // names without regard to case
        {"  [ Info ]  \r\n\t DeviceType \t=\t 4 \t\r\n", 4},        // blanks around names and value
        {"[Settings]\r\nDeviceType=4\r\n[Info]\r\nType=4\r\n", -1},  // in another section: not seen
        {"DeviceType=4\r\n[Info]\r\n", -1},                         // before any section: not seen
        {"[Info]\r\n;DeviceType=4\r\nDeviceType=1\r\n", 1},        // comment lines are skipped
        {"[Info]\r\nDeviceType 4\r\nDeviceType=1\r\n", 1},         // lines without '=' are skipped
        {"[Info]\r\nDeviceType=1\r\nDeviceType=2\r\n", 1},         // the first occurrence wins
        {"[Info]\r\nOther=1\r\n[Info]\r\nDeviceType=2\r\n", -1},   // only the first section is searched
        {"[Info]\r\nDeviceType=2\r\n[INFO]\r\nDeviceType=3\r\n", 2},
        {"\xEF\xBB\xBF[Info]\r\nDeviceType=5\r\n", 5},
        {"[Info]\r\nDeviceType=3", 3},  // no line end after the last line
        {"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(With(c.text).ReadInteger(kManifestInfoSection, kManifestDeviceTypeKey, -1), c.expected)
            << '"' << c.text << '"';
    }
}

TEST_F(ManifestFile, SwitchesAreIntegers) {
    const struct {
        const char* value;  // null: no such key
        bool defaultValue;
        bool expected;
    } cases[] = {
        {"1", false, true},   {"-1", false, true},    {"0", true, false},
        {"0x0", true, false}, {"true", false, false}, {"yes", true, true}, {nullptr, true, true},
    };
    for (const auto& c : cases) {
        const TIniFile ini = With(c.value ? ManifestText(1, {{"FPGAPowerON", c.value}}) : ManifestText(1));
        EXPECT_EQ(ini.ReadBool(kManifestSettingsSection, kManifestFPGAPowerONKey, c.defaultValue), c.expected)
            << (c.value ? c.value : "no key") << " default " << c.defaultValue;
    }
}

TEST_F(ManifestFile, EveryReadOpensTheFileAfresh) {
    const TIniFile ini(path());
    EXPECT_EQ(ini.ReadInteger("Info", "DeviceType", -1), -1);  // no file yet
    EXPECT_EQ(ini.ReadString("Info", "DeviceType", "none"), "none");
    WriteFileBytes(path(), "[Info]\r\nDeviceType=1\r\nName=" + std::string(3000, 'v') + "\r\n");
    EXPECT_EQ(ini.ReadInteger("Info", "DeviceType", -1), 1);
    EXPECT_EQ(ini.ReadString("Info", "Name", ""), std::string(kIniMaxValueLength, 'v'));
    WriteFileBytes(path(), "[Info]\r\nDeviceType=2\r\n");
    EXPECT_EQ(ini.ReadInteger("Info", "DeviceType", -1), 2);
    fs::remove(path());
    fs::create_directory(path());  // a folder of that name
    EXPECT_EQ(ini.ReadInteger("Info", "DeviceType", -1), -1);
}

}  // namespace
}  // namespace rovenza
