#include "GuiTestSupport.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <stdexcept>

#include <QDeadlineTimer>

#include "app/FormStyle.h"
#include "app/GuiThreadCall.h"

// Qt's libraries are not built with ThreadSanitizer: its threads (QThread's own bookkeeping,
// the painting thread pool, the file dialog's gatherer) synchronise through futexes the tool
// cannot see, so the memory that the C library touches on Qt's behalf is left out. Everything
// compiled here, and every lock, stays checked.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }

namespace rovenza::guitest {

namespace {

// An upgrader that touches no instrument; FakeScript says what it does.
class FakeUpgrader final : public TUSBDevice {
public:
    FakeUpgrader(const Context& ctx, FakeScript& script, EventLog& log, int listPosition)
        : TUSBDevice(ctx), script_(script), log_(log), listPosition_(listPosition) {
        log_.add("create " + std::to_string(listPosition));
    }
    ~FakeUpgrader() override { log_.add("destroyed"); }
    std::string GetInfoText() override { return {}; }
    std::string GetDeviceName() override { return "FAKE"; }
    std::int64_t GetTotalCount() override { return script_.total; }

    void Upgrade(std::string& message) override {
        log_.add("upgrade " + std::to_string(listPosition_) + " [" + PackageFileName + "]");
        SetStageText(script_.stage);
        DoneCount = script_.done;
        if (script_.message) message = *script_.message;
        if (script_.throws) throw std::runtime_error("fake failure");
    }

private:
    FakeScript& script_;
    EventLog& log_;
    int listPosition_;
};

}  // namespace

bool TahomaLeftOut() { return qEnvironmentVariableIsSet("ROVENZA_TEST_NO_TAHOMA"); }

bool SetUpFormFont() { return TahomaLeftOut() ? FormFontAvailable() : InstallFormFont(); }

void WakeGuiThread() {
    PostToThreadOf(QCoreApplication::instance(), [] {});
}

bool SpinUntil(const std::function<bool()>& condition) {
    constexpr std::chrono::seconds kGuard(120);  // a whole Zenara run under ThreadSanitizer on a busy machine takes half a minute
    const QDeadlineTimer deadline(kGuard);
    QTimer guardTimer;  // wakes the loop when the guard time is up
    guardTimer.setSingleShot(true);
    guardTimer.start(kGuard);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void EventLog::add(std::string entry) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    WakeGuiThread();
}

WindowFixture::WindowFixture(std::vector<std::string> args, UpgraderFactory factory, Operator* op,
                             std::optional<Backends> backends) {
    const Backends reach = backends.value_or(Backends{driver_, interfaces_, clock_});
    ctx_.reset(new Context{reach.driver, reach.interfaces, reach.clock, debug_, op ? *op : recordingOperator,
                           folder.path(), nullptr});
    if (!factory) {
        factory = [this](int position, const Context& ctx) -> std::unique_ptr<TUSBDevice> {
            if (script.createFails) throw std::bad_alloc();
            return std::make_unique<FakeUpgrader>(ctx, script, log, position);
        };
    }
    window_ = std::make_unique<TMainForm>(std::move(args), *ctx_, std::move(factory));
    QObject::connect(window_.get(), &TMainForm::uploadFinished, [this] { log.add("finished"); });
}

WindowFixture::~WindowFixture() {
    recordingOperator.dismiss();
    window_.reset();
}

bool WindowFixture::waitForUpgrades(int n) {
    return SpinUntil([&] {
        const std::vector<std::string> entries = log.entries();
        const auto created = std::count_if(entries.begin(), entries.end(),
                                           [](const std::string& e) { return e.rfind("create ", 0) == 0; });
        return std::count(entries.begin(), entries.end(), "finished") >= n &&
               std::count(entries.begin(), entries.end(), "destroyed") == created && window_->UploadThread == nullptr;
    });
}

}  // namespace rovenza::guitest
