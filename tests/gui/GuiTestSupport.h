#pragma once
// What the window tests share: a world without instruments around one main window, a fake
// upgrader whose run the test paces, an operator that records the messages and can hold the
// worker at its message box, and waiting on the window's thread for what the worker does.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "app/MainFormU.h"
#include "devices/USBDevice.h"
#include "platform/HostBackends.h"
#include "support/TempDir.h"

namespace rovenza::guitest {

// A door threads wait at until the test opens it.
class Gate {
public:
    void open();
    void wait();

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Wakes the window thread's event loop from any thread, so that SpinUntil looks again.
void WakeGuiThread();

// Runs the window thread's events until `condition` holds. Returns false when it does not
// within a generous guard time, so a broken test fails instead of hanging.
bool SpinUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds guard = std::chrono::seconds(30));

// What happened, in order, on either thread.
class EventLog {
public:
    void add(std::string entry);
    std::vector<std::string> entries() const;
    int count(const std::string& entry) const;
    // Position of the first entry equal to `entry`, or -1.
    int indexOf(const std::string& entry) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Records each message ("message <title>|<text>" in the log) and, while `holdMessages` is
// set, keeps the worker at its message box until `dismiss` opens.
class TestOperator final : public Operator {
public:
    explicit TestOperator(EventLog& log) : log_(log) {}
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>&) override { return std::nullopt; }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string& title, const std::string& text) override;

    bool holdMessages = false;  // set before the upgrade starts
    Gate dismiss;

private:
    EventLog& log_;
};

// How the fake upgrades run. Set before the upgrade starts; read by the worker.
struct FakeScript {
    enum class Ending { Message, ThrowBeforeMessage, ThrowAfterMessage };
    std::int64_t total = 100;
    std::int64_t done = 0;
    std::string stage;
    Ending ending = Ending::Message;
    std::string message{kMsgSuccess};
    bool holdInUpgrade = false;  // wait at `release` once the counters are set
    Gate release;
};

// An upgrader that touches no instrument. Logs "create <position>", "upgrade <position>
// [<package>]" and "destroyed".
class FakeUpgrader final : public TUSBDevice {
public:
    FakeUpgrader(const Context& ctx, FakeScript& script, EventLog& log, int listPosition);
    ~FakeUpgrader() override;
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "FAKE"; }
    std::int64_t GetTotalCount() override { return script_.total; }
    void Upgrade(std::string& message) override;

private:
    FakeScript& script_;
    EventLog& log_;
    int listPosition_;
};

// The instruments a window reaches.
struct Backends {
    DriverPort& driver;
    DeviceInterfaces& interfaces;
    Clock& clock;
};

// One main window, its program folder a fresh temporary folder, over backends without
// instruments unless given others. The window is built at once (FormCreate) and shown by
// show() (FormShow). Going away, the fixture opens every gate and lets a running upgrade end
// before the window goes.
class WindowFixture {
public:
    // `factory` empty: fake upgraders following `script`. `op` null: the recording operator.
    explicit WindowFixture(std::vector<std::string> args = {}, UpgraderFactory factory = {}, Operator* op = nullptr,
                           std::optional<Backends> backends = std::nullopt);
    ~WindowFixture();

    TMainForm& window() { return *window_; }
    void show();
    // Destroys the window, which waits for its worker to end.
    void closeWindow();
    // Waits until `n` upgrades have run to their end: the window idle and each upgrader gone
    // (a fake logs "destroyed"; any upgrader's run ends with the window's "finished").
    bool waitForUpgrades(int n = 1);

    EventLog log;
    FakeScript script;
    TestOperator recordingOperator{log};
    TempDir folder;

private:
    NoDriverPort driver_;
    NoDeviceInterfaces interfaces_;
    SystemClock clock_;
    StderrDebugOutput debug_;
    bool fakes_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<TMainForm> window_;
};

// Calls `act` with every window of type W that is shown from now on, posted to run once the
// window's own modal loop is running (so `act` may accept or reject it).
template <class W>
class WhenShown final : public QObject {
public:
    explicit WhenShown(std::function<void(W*)> act) : act_(std::move(act)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~WhenShown() override { QCoreApplication::instance()->removeEventFilter(this); }
    int seen = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* window = qobject_cast<W*>(watched)) {
                ++seen;
                QTimer::singleShot(0, window, [this, window] { act_(window); });
            }
        }
        return false;
    }

private:
    std::function<void(W*)> act_;
};

// Records, in order, the enabled changes of the watched controls ("<name> on|off").
class EnabledRecorder final : public QObject {
public:
    explicit EnabledRecorder(const std::vector<QWidget*>& controls);
    std::vector<std::string> changes;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace rovenza::guitest
