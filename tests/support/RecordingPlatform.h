#pragma once
// Small scripted stand-ins for the platform layer, for tests that need no instrument model.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Context.h"
#include "support/TempDir.h"

namespace rovenza {

// Answers requests from a script: each read takes the next queued reply; request number
// `failAt` (counted from 0 over all requests) fails with `failError`.
class ScriptedDriver : public DriverPort {
public:
    struct OpenCall {
        std::string path;
        std::uint32_t access;
        std::uint32_t share;
    };
    struct Request {
        Handle handle;
        std::uint32_t code;
        std::vector<std::uint8_t> input;
        std::vector<std::uint8_t> output;  // the buffer as sent
        std::uint32_t outSize;
    };

    Handle open(const std::string& path, std::uint32_t access, std::uint32_t share, std::uint32_t& error) override;
    bool ioControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t& bytesReturned, std::uint32_t& error) override;
    void close(Handle handle) override { closes.push_back(handle); }

    std::vector<OpenCall> opens;
    std::vector<Request> requests;
    std::vector<Handle> closes;
    std::deque<std::vector<std::uint8_t>> replies;
    std::uint32_t openError = 0;  // non-zero: opens fail with it
    long long failAt = -1;
    std::uint32_t failError = 31;

private:
    Handle nextHandle_ = 100;
};

class ListedInterfaces : public DeviceInterfaces {
public:
    bool enumerate(const InterfaceClassGuid& cls, std::vector<DeviceInterfaceEntry>& out) override;
    std::vector<DeviceInterfaceEntry> firstGeneration;
    std::vector<DeviceInterfaceEntry> secondGeneration;
    bool classQueryFails = false;
};

class CountingClock : public Clock {
public:
    void sleep(std::uint32_t ms) override {
        nowMs += ms;
        sleeps.push_back(ms);
    }
    std::int64_t counter() override { return nowMs * 1000; }
    std::int64_t frequency() override { return 1'000'000; }
    std::int64_t nowMs = 0;
    std::vector<std::uint32_t> sleeps;
};

class RecordingDebug : public DebugOutput {
public:
    void write(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class RecordingOperator : public Operator {
public:
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override;
    std::optional<int> chooseModuleType(int slot) override;
    void showMessage(const std::string& title, const std::string& text) override;

    struct Message {
        std::string title;
        std::string text;
    };
    std::vector<Message> messages;
    std::vector<std::vector<std::string>> deviceQuestions;
    std::optional<std::vector<bool>> deviceAnswer;  // nothing: every item stays checked
    bool cancelDevices = false;
    std::vector<int> moduleQuestions;
    std::optional<int> moduleAnswer;
};

// A context over the given driver and interfaces, with a counting clock, recorded debugger
// output and operator, and a program folder (a temporary one unless given).
class RecordingPlatform {
public:
    explicit RecordingPlatform(DriverPort& driver, std::filesystem::path programFolder = {});
    RecordingPlatform(DriverPort& driver, DeviceInterfaces& interfaces, Clock& clock,
                      std::filesystem::path programFolder = {});
    ~RecordingPlatform();
    const Context& context() const { return *context_; }

    ListedInterfaces interfaces;
    CountingClock clock;
    RecordingDebug debug;
    RecordingOperator op;

private:
    std::unique_ptr<TempDir> ownedFolder_;
    std::unique_ptr<Context> context_;
};

}  // namespace rovenza
