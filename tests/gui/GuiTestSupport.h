#pragma once
// What the window tests share: a main window over a fresh program folder, fake upgraders
// whose run the test paces, an operator that logs the messages and can hold the worker at its
// message box, and waiting on the window's thread for what the worker does.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "app/MainFormU.h"
#include "platform/HostBackends.h"
#include "support/TempDir.h"

namespace rovenza::guitest {

// The program's font set-up, as its entry makes it: Wine's Tahoma where the system has no
// Tahoma. With the environment variable ROVENZA_TEST_NO_TAHOMA set it adds nothing, so that the
// windows show in the substitute font of a machine without Tahoma. Returns whether Tahoma is in
// use. Called once by each test program before its first window.
bool SetUpFormFont();
bool TahomaLeftOut();  // whether ROVENZA_TEST_NO_TAHOMA is set

// Wakes the window thread's event loop from any thread, so that SpinUntil looks again.
void WakeGuiThread();

// Runs the window thread's events until `condition` holds. Returns false when it does not
// within a generous guard time, so a broken test fails instead of hanging.
bool SpinUntil(const std::function<bool()>& condition);

// What happened, in order, on either thread; each entry wakes the window's thread.
class EventLog {
public:
    void add(std::string entry);
    std::vector<std::string> entries() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    int count(const std::string& entry) const {
        const std::vector<std::string> all = entries();
        return static_cast<int>(std::count(all.begin(), all.end(), entry));
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Logs each message as "message <title>|<text>" and, while `holdMessages` is set, keeps the
// worker at its message box until dismiss().
class TestOperator final : public Operator {
public:
    explicit TestOperator(EventLog& log) : log_(log) {}
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>&) override { return std::nullopt; }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string& title, const std::string& text) override {
        log_.add("message " + title + "|" + text);
        if (holdMessages) dismissed_.wait(false);
    }
    void dismiss() {
        dismissed_ = true;
        dismissed_.notify_all();
    }

    bool holdMessages = false;  // set before the upgrade starts

private:
    EventLog& log_;
    std::atomic<bool> dismissed_{false};
};

// How the fake upgraders run; set before the upgrade starts. A fake logs "create <position>",
// "upgrade <position> [<package>]" and "destroyed".
struct FakeScript {
    std::int64_t total = 100;
    std::int64_t done = 0;
    std::string stage;
    std::optional<std::string> message{kMsgSuccess};  // what Upgrade assigns, if anything
    bool throws = false;       // Upgrade raises after assigning the message
    bool createFails = false;  // the factory raises instead of making the upgrader
};

// The instruments a window reaches.
struct Backends {
    DriverPort& driver;
    DeviceInterfaces& interfaces;
    Clock& clock;
};

// One main window over a fresh temporary program folder and, unless given others, backends
// without instruments. Built at once (FormCreate); show() runs FormShow. Going away, the
// fixture dismisses a held message and lets a running upgrade end before the window goes.
class WindowFixture {
public:
    // `factory` empty: fake upgraders following `script`. `op` null: the logging operator.
    explicit WindowFixture(std::vector<std::string> args = {}, UpgraderFactory factory = {}, Operator* op = nullptr,
                           std::optional<Backends> backends = std::nullopt);
    ~WindowFixture();

    TMainForm& window() { return *window_; }
    void show() { window_->show(); }
    // Waits until `n` upgrades have ended ("finished" logged, the window idle) and every
    // fake upgrader is gone.
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
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<TMainForm> window_;
};

// Calls `act` with every window of type W shown from now on, once the window's own modal
// loop is running (so that `act` may accept or reject it).
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
        if (auto* window = event->type() == QEvent::Show ? qobject_cast<W*>(watched) : nullptr) {
            ++seen;
            QTimer::singleShot(0, window, [this, window] { act_(window); });
        }
        return false;
    }

private:
    std::function<void(W*)> act_;
};

}  // namespace rovenza::guitest
