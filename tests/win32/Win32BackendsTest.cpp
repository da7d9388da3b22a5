// The Windows backend against the system itself (CI runs these under wine): what CreateFileA
// receives, what DeviceIoControl hands back, the SetupDi walk compared with an enumeration of
// our own, the performance counter, the debugger output and the program folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Context.h"
#include "platform/win32/Win32Backends.h"
#include "support/TempDir.h"
#include "usb/VELKUSB_Const.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A second opener beside the port: the test's own CreateFileA.
HANDLE OpenDirect(const fs::path& path, DWORD access, DWORD share) {
    return ::CreateFileA(path.string().c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

fs::path MakeFile(const TempDir& dir, const std::string& name) {
    const fs::path path = dir.path() / name;
    std::ofstream(path, std::ios::binary) << "data";
    return path;
}

// --- Driver port ------------------------------------------------------------------------------

TEST(Win32DriverPortTest, FailedOpenGivesTheInvalidHandleAndTheSystemCode) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string path;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"missing file", (dir.path() / "absent.bin").string(), ERROR_FILE_NOT_FOUND},
        {"missing folder", (dir.path() / "absent" / "file.bin").string(), ERROR_PATH_NOT_FOUND},
        {"first-generation device without its driver", std::string(kFixedDevicePath), ERROR_FILE_NOT_FOUND},
    };
    Win32DriverPort port;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::uint32_t error = 0;
        EXPECT_EQ(port.open(c.path, kGenericWrite, kFileShareWrite, error), kInvalidHandle);
        EXPECT_EQ(error, c.error);
    }
    // OPEN_EXISTING: a failed open creates nothing.
    EXPECT_FALSE(fs::exists(dir.path() / "absent.bin"));
}

TEST(Win32DriverPortTest, FirstGenerationFlagsWriteOnlyAndShareWritingOnly) {
    TempDir dir;
    const fs::path file = MakeFile(dir, "device.bin");
    Win32DriverPort port;
    std::uint32_t error = 1;
    const Handle handle = port.open(file.string(), kGenericWrite, kFileShareWrite, error);
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(error, 0u);

    // The handle writes but does not read.
    const auto system = reinterpret_cast<HANDLE>(handle);
    char byte = 0;
    DWORD count = 0;
    EXPECT_TRUE(::WriteFile(system, "x", 1, &count, nullptr));
    EXPECT_FALSE(::ReadFile(system, &byte, 1, &count, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // Others may write beside it, but not read.
    const HANDLE writer = OpenDirect(file, GENERIC_WRITE, kShareReadWrite);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_EQ(OpenDirect(file, GENERIC_READ, kShareReadWrite), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    port.close(handle);
}

TEST(Win32DriverPortTest, SecondGenerationFlagsAreExclusiveUntilClosed) {
    TempDir dir;
    const fs::path file = MakeFile(dir, "device2.bin");
    Win32DriverPort port;
    std::uint32_t error = 1;
    const Handle handle = port.open(file.string(), kGenericRead | kGenericWrite, 0, error);
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(OpenDirect(file, GENERIC_WRITE, kShareReadWrite), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    port.close(handle);
    const HANDLE after = OpenDirect(file, GENERIC_READ | GENERIC_WRITE, 0);
    EXPECT_NE(after, INVALID_HANDLE_VALUE) << "close did not release the handle";
    if (after != INVALID_HANDLE_VALUE) ::CloseHandle(after);
    port.close(kInvalidHandle);  // nothing to close: no effect
}

// A named pipe stands in for a driver: FSCTL_PIPE_PEEK is a request with an output buffer that
// the system fills, so the buffer, its size and the byte count can be checked end to end.
class PipeServer {
public:
    PipeServer() {
        static int counter = 0;
        name_ = "\\\\.\\pipe\\rovenza-win32-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    }
    ~PipeServer() {
        if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
    }
    bool ready() const { return server_ != INVALID_HANDLE_VALUE; }
    const std::string& name() const { return name_; }
    bool send(const std::string& bytes) {
        DWORD written = 0;
        return ::WriteFile(server_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

private:
    std::string name_;
    HANDLE server_ = INVALID_HANDLE_VALUE;
};

// FSCTL_PIPE_PEEK: FILE_DEVICE_NAMED_PIPE, function 3, METHOD_BUFFERED, FILE_READ_DATA.
constexpr std::uint32_t kPipePeek = CtlCode(0x11, 3, 0, 1);
constexpr std::uint32_t kPeekHeaderSize = 16;  // four ULONGs before the data

TEST(Win32DriverPortTest, IoControlHandsBackTheOutputBufferAndItsByteCount) {
    PipeServer pipe;
    ASSERT_TRUE(pipe.ready());
    Win32DriverPort port;
    std::uint32_t error = 1;
    const Handle handle = port.open(pipe.name(), kGenericRead | kGenericWrite, 0, error);
    ASSERT_NE(handle, kInvalidHandle) << "error " << error;
    ASSERT_TRUE(pipe.send("reply"));

    std::vector<std::uint8_t> out(64, 0xEE);
    std::uint32_t returned = 0;
    ASSERT_TRUE(port.ioControl(handle, kPipePeek, nullptr, 0, out.data(), static_cast<std::uint32_t>(out.size()),
                               returned, error));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(returned, kPeekHeaderSize + 5);
    EXPECT_EQ(std::string(out.begin() + kPeekHeaderSize, out.begin() + kPeekHeaderSize + 5), "reply");

    // A request the device does not know fails with a system code, and counts nothing.
    const std::uint8_t header[8] = {};
    returned = 77;
    EXPECT_FALSE(port.ioControl(handle, kIoctlWrite, header, sizeof header, out.data(), 5, returned, error));
    EXPECT_NE(error, 0u);
    EXPECT_EQ(returned, 0u);
    port.close(handle);
}

// --- Device set-up walk -----------------------------------------------------------------------

// {4D1E55B2-F16F-11CF-88CB-001111000030}: the HID interface class, present under wine and on
// any desktop.
constexpr InterfaceClassGuid kHidClass{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The same walk written independently with the wide calls, linked the ordinary way.
std::vector<DeviceInterfaceEntry> ReferenceWalk(const InterfaceClassGuid& cls) {
    GUID guid{cls.data1, cls.data2, cls.data3, {}};
    std::memcpy(guid.Data4, cls.data4, 8);
    std::vector<DeviceInterfaceEntry> entries;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return entries;
    SP_DEVICE_INTERFACE_DATA iface{sizeof(SP_DEVICE_INTERFACE_DATA), {}, 0, 0};
    for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &iface); ++i) {
        alignas(8) unsigned char buffer[4096] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{sizeof(SP_DEVINFO_DATA), {}, 0, 0};
        DeviceInterfaceEntry entry;
        if (::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, sizeof buffer - 2, nullptr, &device)) {
            for (const wchar_t* c = detail->DevicePath; *c; ++c) entry.path += static_cast<char>(*c);
        }
        wchar_t name[256] = {};
        if (::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(name), sizeof name - 2, nullptr) ||
            ::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_DEVICEDESC, nullptr,
                                                reinterpret_cast<BYTE*>(name), sizeof name - 2, nullptr)) {
            for (const wchar_t* c = name; *c; ++c) entry.name += static_cast<char>(*c);
        }
        entries.push_back(entry);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return entries;
}

TEST(Win32DeviceInterfacesTest, WalkYieldsThePathsAndNamesTheSystemReportsInItsOrder) {
    const auto expected = ReferenceWalk(kHidClass);
    if (expected.empty()) GTEST_SKIP() << "no HID interface on this system";
    Win32DeviceInterfaces interfaces;
    std::vector<DeviceInterfaceEntry> got;
    ASSERT_TRUE(interfaces.enumerate(kHidClass, got));
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("member " + std::to_string(i));
        EXPECT_EQ(got[i].detailError, 0u);
        EXPECT_FALSE(got[i].path.empty());
        EXPECT_EQ(got[i].path, expected[i].path);
        EXPECT_EQ(got[i].name, expected[i].name);
    }
    // "SetupApi.dll" stays bound; a second walk gives the same.
    std::vector<DeviceInterfaceEntry> again;
    ASSERT_TRUE(interfaces.enumerate(kHidClass, again));
    EXPECT_EQ(again.size(), got.size());
}

TEST(Win32DeviceInterfacesTest, ClassWithoutInterfacesAppendsNothingAndKeepsTheList) {
    Win32DeviceInterfaces interfaces;
    std::vector<DeviceInterfaceEntry> entries{{"earlier", "kept", 0}};
    // No instrument of either driver generation is attached where these tests run.
    for (const auto& cls : {kFirstGenerationClass, kSecondGenerationClass}) {
        if (!ReferenceWalk(cls).empty()) GTEST_SKIP() << "an instrument is attached";
        EXPECT_TRUE(interfaces.enumerate(cls, entries));
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, "earlier");
}

// --- Clock, debugger output, program folder ---------------------------------------------------

TEST(Win32ClockTest, CounterNeverRunsBackwardsAndHasAFrequency) {
    Win32Clock clock;
    EXPECT_GT(clock.frequency(), 0);
    std::int64_t previous = clock.counter();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = clock.counter();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Win32ClockTest, WaitsAreNeverShorterThanAsked) {
    Win32Clock clock;
    const std::int64_t frequency = clock.frequency();
    for (const std::uint32_t ms : {1u, 3u, 2u, 0u, 1u}) {
        SCOPED_TRACE(ms);
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t counter = clock.counter();
        clock.sleep(ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms));
        EXPECT_GE((clock.counter() - counter) * 1000, static_cast<std::int64_t>(ms) * frequency);
    }
}

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text's length and address; a
// vectored handler sees it before the system passes it to a debugger.
std::vector<std::string>* g_debugLines = nullptr;

LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (g_debugLines && record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const auto length = static_cast<std::size_t>(record->ExceptionInformation[0]);
        g_debugLines->emplace_back(text, length > 0 ? length - 1 : 0);  // the count includes the NUL
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebuggerOutputTest, EachLineIsOneCallWithTheTextAsGiven) {
    std::vector<std::string> lines;
    g_debugLines = &lines;
    void* handler = ::AddVectoredExceptionHandler(1, CaptureDebugString);
    ASSERT_NE(handler, nullptr);
    DebuggerOutput output;
    output.write("Error 13");
    output.write("");
    output.write("I2C answer: 0A 0D");
    ::RemoveVectoredExceptionHandler(handler);
    g_debugLines = nullptr;
    EXPECT_EQ(lines, (std::vector<std::string>{"Error 13", "", "I2C answer: 0A 0D"}));
}

TEST(ExecutableFolderTest, IsTheFolderOfThisProgram) {
    const fs::path folder = ExecutableFolder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(fs::exists(folder / "rovenza_win32_tests.exe")) << folder.string();
}

}  // namespace
}  // namespace rovenza
