#include "Win32Backends.h"

#include <windows.h>
// After <windows.h>: types and constants only. SetupApi is never linked; its entry points are
// bound by name below.
#include <setupapi.h>

#include <array>
#include <cstddef>
#include <cstring>

namespace rovenza {

static_assert(sizeof(HANDLE) == sizeof(Handle));  // INVALID_HANDLE_VALUE is kInvalidHandle

// The size fields the walk sets are the sizes of the structures as this build lays them out:
// 28, 28 and 5 in a 32-bit program, 32, 32 and 8 in a 64-bit one. The system checks them
// against its own layout, so a 64-bit program must not pass the 32-bit values.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert((DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 0x12);
static_assert(SPDRP_FRIENDLYNAME == 12 && SPDRP_DEVICEDESC == 0);

// --- Driver port ------------------------------------------------------------------------------

namespace {
HANDLE ToSystem(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

Handle Win32DriverPort::open(const std::string& path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t& error) {
    const HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    return reinterpret_cast<Handle>(handle);
}

bool Win32DriverPort::ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                                void* out, std::uint32_t outSize, std::uint32_t& bytesReturned,
                                std::uint32_t& error) {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(ToSystem(handle), code, const_cast<void*>(in), inSize, out, outSize,
                                      &returned, nullptr);
    error = ok ? 0 : ::GetLastError();
    bytesReturned = returned;
    return ok != FALSE;
}

void Win32DriverPort::close(Handle handle) {
    if (handle != kInvalidHandle) ::CloseHandle(ToSystem(handle));
}

// --- Device set-up walk -----------------------------------------------------------------------

namespace {

// The entry points of "SetupApi.dll", bound once for the process at the first walk; the
// library stays loaded from then on.
struct SetupApi {
    decltype(&::SetupDiGetClassDevsA) getClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) enumInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) interfaceDetail = nullptr;
    decltype(&::SetupDiGetDeviceRegistryPropertyA) registryProperty = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyInfoList = nullptr;

    bool bound() const {
        return getClassDevs && enumInterfaces && interfaceDetail && registryProperty && destroyInfoList;
    }
};

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& fn) {
    // Through void(*)(), the one function pointer type a cast from FARPROC may pass.
    fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

const SetupApi& BoundSetupApi() {
    static const SetupApi api = [] {
        SetupApi bound;
        const HMODULE module = ::LoadLibraryA("SetupApi.dll");
        if (module == nullptr) return bound;
        Bind(module, "SetupDiGetClassDevsA", bound.getClassDevs);
        Bind(module, "SetupDiEnumDeviceInterfaces", bound.enumInterfaces);
        Bind(module, "SetupDiGetDeviceInterfaceDetailA", bound.interfaceDetail);
        Bind(module, "SetupDiGetDeviceRegistryPropertyA", bound.registryProperty);
        Bind(module, "SetupDiDestroyDeviceInfoList", bound.destroyInfoList);
        return bound;
    }();
    return api;
}

GUID ToSystem(const InterfaceClassGuid& cls) {
    GUID guid{};
    guid.Data1 = cls.data1;
    guid.Data2 = cls.data2;
    guid.Data3 = cls.data3;
    std::memcpy(guid.Data4, cls.data4, sizeof guid.Data4);
    return guid;
}

// The device set, released on every way out.
class DeviceInfoSet {
public:
    DeviceInfoSet(const SetupApi& api, HDEVINFO set) : api_(api), set_(set) {}
    ~DeviceInfoSet() {
        if (valid()) api_.destroyInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const { return set_; }

private:
    const SetupApi& api_;
    HDEVINFO set_;
};

// The interface's device path by the two-step detail query (size first, then a zeroed buffer
// whose size field is set), filling `device`. Returns false with the system code on failure.
bool InterfacePath(const SetupApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface,
                   SP_DEVINFO_DATA& device, std::string& path, std::uint32_t& error) {
    DWORD required = 0;
    api.interfaceDetail(set, &iface, nullptr, 0, &required, nullptr);
    // Never smaller than the structure whose size field is written; one zero byte more than the
    // system is told of, so the path always ends within the buffer.
    const DWORD size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)
                           ? required
                           : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    std::vector<unsigned char> buffer(static_cast<std::size_t>(size) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!api.interfaceDetail(set, &iface, detail, size, nullptr, &device)) {
        error = ::GetLastError();
        return false;
    }
    const char* text = reinterpret_cast<const char*>(buffer.data()) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    path.assign(text, ::strnlen(text, buffer.size() - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)));
    return true;
}

// The friendly name, else the description, read into a 256-byte buffer; empty when neither.
std::string DeviceName(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
    for (const DWORD property : {DWORD{SPDRP_FRIENDLYNAME}, DWORD{SPDRP_DEVICEDESC}}) {
        std::array<BYTE, 256> buffer{};
        if (api.registryProperty(set, &device, property, nullptr, buffer.data(), buffer.size(), nullptr)) {
            const auto* text = reinterpret_cast<const char*>(buffer.data());
            return std::string(text, ::strnlen(text, buffer.size() - 1));
        }
    }
    return {};
}

}  // namespace

bool Win32DeviceInterfaces::enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) {
    const SetupApi& api = BoundSetupApi();
    if (!api.bound()) return false;
    const GUID guid = ToSystem(cls);
    const DeviceInfoSet set(api, api.getClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) return false;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        if (!api.enumInterfaces(set.get(), nullptr, &guid, index, &iface)) break;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        DeviceInterfaceEntry entry;
        // A failed detail query leaves the path empty and names the system code.
        InterfacePath(api, set.get(), iface, device, entry.path, entry.detailError);
        entry.name = DeviceName(api, set.get(), device);
        out.push_back(std::move(entry));
    }
    return true;
}

// --- Clock and debugger output ----------------------------------------------------------------

namespace {

// Not in every SDK's headers: a timer that expires to a fraction of a millisecond rather than
// at the next tick of the system timer (Windows 10 1803 and later).
constexpr DWORD kHighResolutionTimer = 0x00000002;
// The last part of a wait is spun on the performance counter: even a high-resolution timer
// fires some hundreds of microseconds late.
constexpr std::int64_t kSpinMicroseconds = 500;

// The waiting thread's own timer, made at its first wait and closed when the thread ends.
class ThreadTimer {
public:
    ThreadTimer() {
        constexpr DWORD access = TIMER_MODIFY_STATE | SYNCHRONIZE;
        handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, access);
        if (handle_ == nullptr) handle_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, access);
    }
    ~ThreadTimer() {
        if (handle_ != nullptr) ::CloseHandle(handle_);
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

    // Waits about `hundredsOfNs` (at least one system tick without a high-resolution timer).
    void wait(std::int64_t hundredsOfNs) {
        LARGE_INTEGER due{};
        due.QuadPart = -hundredsOfNs;  // negative: relative to now
        if (handle_ != nullptr && ::SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE) &&
            ::WaitForSingleObject(handle_, INFINITE) == WAIT_OBJECT_0)
            return;
        ::Sleep(static_cast<DWORD>(hundredsOfNs / 10'000));
    }

private:
    HANDLE handle_ = nullptr;
};

// `ticks` of a counter running at `frequency`, in units of `unit` per second, rounded up.
std::int64_t Convert(std::int64_t ticks, std::int64_t frequency, std::int64_t unit) {
    return ticks / frequency * unit + (ticks % frequency * unit + frequency - 1) / frequency;
}

}  // namespace

void Win32Clock::sleep(std::uint32_t ms) {
    // The wait ends at an absolute deadline on the performance counter, never before it.
    const std::int64_t frequency = this->frequency();
    const std::int64_t deadline = counter() + Convert(ms, 1000, frequency);
    const std::int64_t spin = Convert(kSpinMicroseconds, 1'000'000, frequency);
    thread_local ThreadTimer timer;
    for (std::int64_t left = deadline - counter(); left > spin; left = deadline - counter())
        timer.wait(Convert(left - spin, frequency, 10'000'000));
    while (counter() < deadline) ::YieldProcessor();
}

std::int64_t Win32Clock::counter() {
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value.QuadPart;
}

std::int64_t Win32Clock::frequency() {
    LARGE_INTEGER value{};
    ::QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

void DebuggerOutput::write(const std::string& line) { ::OutputDebugStringA(line.c_str()); }

}  // namespace rovenza
