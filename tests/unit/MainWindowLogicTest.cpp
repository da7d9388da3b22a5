// The main window's rules without a toolkit: the command line it reads, the two states and
// what each enables and shows, the worker's message and completion, the progress display, and
// the answers of the two upgrade dialogs. A fake view records what it is told to draw; the
// test's own thread plays the window's thread and serves the worker's hand-over.
#include <gtest/gtest.h>

#include <condition_variable>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>

#include "frontend/MainWindowLogic.h"
#include "platform/HostBackends.h"
#include "support/TempDir.h"

namespace rovenza {
namespace {

// What the fake upgraders do, and what happened to them.
struct Script {
    std::int64_t total = 100, done = 0;
    std::string stage;
    std::optional<std::string> message{std::string(kMsgSuccess)};
    bool throws = false, createFails = false;
    std::mutex mutex;
    std::vector<std::string> log;
    void add(std::string entry) {
        std::lock_guard<std::mutex> lock(mutex);
        log.push_back(std::move(entry));
    }
};

class FakeUpgrader final : public TUSBDevice {
public:
    FakeUpgrader(const Context& ctx, Script& script, int position) : TUSBDevice(ctx), script_(script) {
        script_.add("create " + std::to_string(position));
    }
    ~FakeUpgrader() override { script_.add("destroyed"); }
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "FAKE"; }
    std::int64_t GetTotalCount() override { return script_.total; }
    void Upgrade(std::string& message) override {
        script_.add("upgrade [" + PackageFileName + "]");
        SetStageText(script_.stage);
        DoneCount = script_.done;
        if (script_.message) message = *script_.message;
        if (script_.throws) throw std::runtime_error("fake failure");
    }

private:
    Script& script_;
};

class LoggingOperator final : public Operator {
public:
    explicit LoggingOperator(Script& script) : script_(script) {}
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>&) override { return std::nullopt; }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string& title, const std::string& text) override {
        script_.add("message " + title + "|" + text);
    }

private:
    Script& script_;
};

// A view that keeps what it is told to draw.
class FakeWindow final : public MainWindowLogic {
public:
    FakeWindow(std::vector<std::string> args, const Context& ctx, Script& script)
        : MainWindowLogic(std::move(args), ctx, [&script](int position, const Context& c) -> std::unique_ptr<TUSBDevice> {
              if (script.createFails) throw std::bad_alloc();
              return std::make_unique<FakeUpgrader>(c, script, position);
          }),
          script_(script) {
        for (const ControlLayout& layout : kMainControls) texts[layout.name] = std::string(layout.caption);
        for (MainControl control : kProgressControls) shown[control] = false;
        FormCreate();
    }
    // As every view does: the worker may still be returning from its hand-over.
    ~FakeWindow() override { WaitForWorker(); }

    // Waits for the worker's hand-over of its completion and runs it on this thread.
    void ServeCompletion() {
        std::unique_lock<std::mutex> lock(mutex_);
        handedOver_.wait(lock, [&] { return pending_ != nullptr; });
        (*pending_)();
        pending_ = nullptr;
        handedOver_.notify_all();
    }
    // Waits until the worker has handed its completion over (it has shown its message).
    void WaitForHandOver() {
        std::unique_lock<std::mutex> lock(mutex_);
        handedOver_.wait(lock, [&] { return pending_ != nullptr; });
    }

    int family = -1;
    std::map<std::string_view, std::string> texts;
    std::map<MainControl, bool> enabled, shown;
    int bar = 0;
    bool timer = false, closed = false;
    std::string caption;

    bool Uploading() const {
        for (MainControl c : kUploadInputs)
            if (enabled.count(c) && !enabled.at(c)) return true;
        return false;
    }

protected:
    int SelectedFamily() const override { return family; }
    void SelectFamily(int position) override { family = position; }
    std::string FileName() const override { return texts.at("leUpgrade"); }
    void SetControlText(MainControl control, const std::string& text) override { texts[LayoutOf(control).name] = text; }
    void SetControlEnabled(MainControl control, bool on) override { enabled[control] = on; }
    void SetControlShown(MainControl control, bool on) override { shown[control] = on; }
    int SetBarPosition(int position) override { return bar = position; }
    void SetTimerRunning(bool running) override { timer = running; }
    void SetCaption(const std::string& text) override { caption = text; }
    void CloseForm() override { closed = FormClose(); }
    void RunOnWindowThread(const std::function<void()>& work) override {
        std::unique_lock<std::mutex> lock(mutex_);
        pending_ = &work;
        handedOver_.notify_all();
        handedOver_.wait(lock, [&] { return pending_ == nullptr; });
    }
    void UploadFinished() override { script_.add("finished"); }

private:
    Script& script_;
    std::mutex mutex_;
    std::condition_variable handedOver_;
    const std::function<void()>* pending_ = nullptr;
};

class MainWindowLogicTest : public ::testing::Test {
protected:
    std::unique_ptr<FakeWindow> Window(std::vector<std::string> args = {}) {
        return std::make_unique<FakeWindow>(std::move(args), ctx_, script);
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(script.mutex);
        return script.log;
    }

    Script script;
    TempDir folder;
    LoggingOperator op_{script};
    NoDriverPort driver_;
    NoDeviceInterfaces interfaces_;
    SystemClock clock_;
    StderrDebugOutput debug_;
    Context ctx_{driver_, interfaces_, clock_, debug_, op_, folder.path(), nullptr};
};

TEST(WindowCommandLineTest, ReadsSwitchesInOrder) {
    using C = WindowCommand;
    const struct {
        std::vector<std::string> args;
        std::vector<WindowCommand> commands;
    } rows[] = {
        {{}, {}},
        {{"\\D", "velkaro usb"}, {{C::SelectFamily, 2, ""}}},
        {{"\\D", "ULMO", "\\D", "Oscilloscope"}, {{C::SelectFamily, 1, ""}, {C::SelectFamily, 0, ""}}},
        {{"\\D", "ULMO", "\\D"}, {{C::SelectFamily, 1, ""}}},
        {{"\\F", "/p/a.fwu", "\\F"}, {{C::SetFileName, 0, "/p/a.fwu"}, {C::SetFileName, 0, ""}}},
        {{"\\F", "\\U"}, {{C::SetFileName, 0, "\\U"}}},
        {{"\\D", "\\C"}, {{C::SelectFamily, 0, ""}}},
        {{"\\c", "/C", "\\d", "ULMO", "\\f", "x", "\\u", "\\DULMO", "\\Up"}, {}},
        {{"\\D", "VK101 Power Controller", "\\F", "C:\\p.fwu", "\\C", "\\U", "\\U"},
         {{C::SelectFamily, 3, ""}, {C::SetFileName, 0, "C:\\p.fwu"}, {C::CloseWhenDone, 0, ""}, {C::Upload, 0, ""}, {C::Upload, 0, ""}}},
    };
    for (const auto& row : rows) {
        std::string joined;
        for (const std::string& a : row.args) joined += a + " ";
        EXPECT_EQ(ReadWindowCommandLine(row.args), row.commands) << joined;
    }
}

TEST_F(MainWindowLogicTest, CreatedIdleWithItsFolders) {
    auto window = Window();
    EXPECT_EQ(window->family, 0);
    EXPECT_EQ(window->texts["lVersion"], ROVENZA_VERSION);
    EXPECT_EQ(window->caption, "Rovenza");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "Temp"));
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "FWUs"));
    EXPECT_TRUE(window->FormClose());
    EXPECT_FALSE(window->timer);
}

TEST_F(MainWindowLogicTest, UploadRunsOnceAndRestoresTheWindow) {
    // The unattended call with a second "\U": one upgrade, with the settings before it.
    auto window = Window({"\\D", "ULMO", "\\F", "/p/first.fwu", "\\C", "\\U", "\\F", "/p/later.fwu", "\\U"});
    window->ReadCommandLine();
    EXPECT_TRUE(window->CloseWhenDone);
    EXPECT_EQ(window->texts["leUpgrade"], "/p/later.fwu");
    // Uploading: inputs disabled, progress shown, timer on, closing refused.
    EXPECT_TRUE(window->timer);
    for (MainControl c : MainWindowLogic::kUploadInputs) EXPECT_FALSE(window->enabled[c]) << LayoutOf(c).name;
    for (MainControl c : MainWindowLogic::kProgressControls) EXPECT_TRUE(window->shown[c]) << LayoutOf(c).name;
    EXPECT_FALSE(window->FormClose());

    window->WaitForHandOver();  // the message is shown; the window still uploads
    EXPECT_FALSE(window->FormClose());
    window->ServeCompletion();
    EXPECT_FALSE(window->timer);
    for (MainControl c : MainWindowLogic::kUploadInputs) EXPECT_TRUE(window->enabled[c]) << LayoutOf(c).name;
    for (MainControl c : MainWindowLogic::kProgressControls) EXPECT_FALSE(window->shown[c]) << LayoutOf(c).name;
    EXPECT_TRUE(window->closed);  // "\C": closed, and the close was honoured
    EXPECT_EQ(window->UploadThread, nullptr);
    window.reset();  // waits for the worker to free its upgrader
    EXPECT_EQ(Log(), std::vector<std::string>({"create 1", "upgrade [/p/first.fwu]",
                                               "message Rovenza|Firmware upgrade successful!", "finished", "destroyed"}));
}

TEST_F(MainWindowLogicTest, FailedRunsShowTheirMessage) {
    const struct {
        std::optional<std::string> assigned;
        bool createFails;
        std::vector<std::string> log;
    } rows[] = {
        {std::nullopt, false, {"create 0", "upgrade []", "message Rovenza|Error", "finished", "destroyed"}},
        {"Error - partial", false, {"create 0", "upgrade []", "message Rovenza|Error - partial", "finished", "destroyed"}},
        {std::nullopt, true, {"message Rovenza|Error", "finished"}},
    };
    for (const auto& row : rows) {
        script.log.clear();
        script.message = row.assigned;
        script.throws = true;
        script.createFails = row.createFails;
        auto window = Window();
        window->bUploadClick();
        window->ServeCompletion();
        EXPECT_FALSE(window->closed);  // no "\C": the window stays
        window.reset();
        EXPECT_EQ(Log(), row.log);
    }
}

TEST_F(MainWindowLogicTest, ProgressDisplay) {
    const struct {
        std::int64_t total, done;
        std::string stage;
        int position;
        std::string caption;
    } rows[] = {
        {5058, 0, "USB Pic uploading", 0, "USB Pic uploading... (0%)"},
        {5058, 5058, "USB Pic uploading", 99, "USB Pic uploading... (99%)"},
        {0, 1, "USB Pic uploading", 99, "USB Pic uploading... (99%)"},
        {3, 1, "USB Pic uploading", 33, "USB Pic uploading... (33%)"},
        {1, std::numeric_limits<std::int64_t>::min(), "USB Pic uploading", 0, "USB Pic uploading... (0%)"},
        {5058, 2529, "", 50, ""},
    };
    for (const auto& row : rows) {
        script.total = row.total;
        script.done = row.done;
        script.stage = row.stage;
        auto window = Window();
        window->Timer1Timer();  // nothing runs: nothing changes
        EXPECT_EQ(window->texts["lFWProcessing"], "Processing...");
        window->bUploadClick();
        window->WaitForHandOver();  // the upgrader is still there
        window->Timer1Timer();
        EXPECT_EQ(window->bar, row.position) << row.done << " of " << row.total;
        EXPECT_EQ(window->texts["lFWProcessing"], row.caption) << row.done << " of " << row.total;
        window->ServeCompletion();
    }
}

TEST(OperatorDialogsTest, Answers) {
    DeviceChoice choice({"VKUSB SN: 1234", "VKUSB SN: AB", "VKUSB SN: TV000003"});
    EXPECT_EQ(choice.CheckedCount(), 3);  // all checked at first
    choice.checks[0] = choice.checks[1] = false;
    EXPECT_EQ(choice.CheckedCount(), 1);
    choice.SelectAll();
    EXPECT_EQ(choice.CheckedCount(), 3);
    choice.checks[1] = false;
    EXPECT_EQ(choice.Answer(kConfirmResult), std::optional(std::vector<bool>{true, false, true}));
    EXPECT_EQ(choice.Answer(2), std::nullopt);  // closed with the close box
    EXPECT_EQ(choice.Answer(0), std::nullopt);

    const struct {
        int slot;
        std::string label;
    } labels[] = {{0, "Module 1 cannot be detected!"}, {7, "Module 8 cannot be detected!"}, {15, "Module 16 cannot be detected!"}};
    for (const auto& row : labels) EXPECT_EQ(ModuleTypeLabel(row.slot), row.label);

    const struct {
        int result, index;
        std::optional<int> code;
    } types[] = {{kConfirmResult, 0, 1}, {kConfirmResult, 3, 4}, {kConfirmResult, 5, 6}, {2, 3, std::nullopt},
                 {kConfirmResult, -1, std::nullopt}, {kConfirmResult, 6, std::nullopt}};
    for (const auto& row : types) EXPECT_EQ(ModuleTypeAnswer(row.result, row.index), row.code) << row.index;
}

}  // namespace
}  // namespace rovenza
