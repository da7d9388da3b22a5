#include "GuiTestSupport.h"

#include <algorithm>
#include <stdexcept>

#include <QDeadlineTimer>
#include <QWidget>

#include "app/GuiThreadCall.h"

// Qt's libraries are not built with ThreadSanitizer: its threads (QThread's own bookkeeping,
// the painting thread pool, the file dialog's gatherer) synchronise through futexes the tool
// cannot see, so the memory that the C library touches on Qt's behalf is left out. Everything
// compiled here, and every lock, stays checked.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }

namespace rovenza::guitest {

void Gate::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
}

void Gate::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
}

void WakeGuiThread() {
    PostToThreadOf(QCoreApplication::instance(), [] {});
}

bool SpinUntil(const std::function<bool()>& condition, std::chrono::milliseconds guard) {
    const QDeadlineTimer deadline(guard);
    QTimer guardTimer;  // wakes the loop when the guard time is up
    guardTimer.setSingleShot(true);
    guardTimer.start(guard);
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

std::vector<std::string> EventLog::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

int EventLog::count(const std::string& entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(entries_.begin(), entries_.end(), entry));
}

int EventLog::indexOf(const std::string& entry) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find(entries_.begin(), entries_.end(), entry);
    return it == entries_.end() ? -1 : static_cast<int>(it - entries_.begin());
}

void TestOperator::showMessage(const std::string& title, const std::string& text) {
    log_.add("message " + title + "|" + text);
    if (holdMessages) dismiss.wait();
}

FakeUpgrader::FakeUpgrader(const Context& ctx, FakeScript& script, EventLog& log, int listPosition)
    : TUSBDevice(ctx), script_(script), log_(log), listPosition_(listPosition) {
    log_.add("create " + std::to_string(listPosition));
}

FakeUpgrader::~FakeUpgrader() { log_.add("destroyed"); }

void FakeUpgrader::Upgrade(std::string& message) {
    log_.add("upgrade " + std::to_string(listPosition_) + " [" + PackageFileName + "]");
    SetStageText(script_.stage);
    DoneCount = script_.done;
    if (script_.holdInUpgrade) {
        log_.add("holding");
        script_.release.wait();
    }
    switch (script_.ending) {
    case FakeScript::Ending::Message:
        message = script_.message;
        break;
    case FakeScript::Ending::ThrowBeforeMessage:
        throw std::runtime_error("fake failure");
    case FakeScript::Ending::ThrowAfterMessage:
        message = script_.message;
        throw std::runtime_error("fake failure");
    }
}

WindowFixture::WindowFixture(std::vector<std::string> args, UpgraderFactory factory, Operator* op,
                             std::optional<Backends> backends)
    : fakes_(!factory) {
    const Backends reach = backends.value_or(Backends{driver_, interfaces_, clock_});
    ctx_.reset(new Context{reach.driver, reach.interfaces, reach.clock, debug_, op ? *op : recordingOperator,
                           folder.path(), nullptr});
    if (!factory) {
        factory = [this](int position, const Context& ctx) -> std::unique_ptr<TUSBDevice> {
            return std::make_unique<FakeUpgrader>(ctx, script, log, position);
        };
    }
    window_ = std::make_unique<TMainForm>(std::move(args), *ctx_, std::move(factory));
    QObject::connect(window_.get(), &TMainForm::uploadFinished, [this] { log.add("finished"); });
}

WindowFixture::~WindowFixture() {
    script.release.open();
    recordingOperator.dismiss.open();
    window_.reset();
}

void WindowFixture::show() { window_->show(); }

void WindowFixture::closeWindow() {
    script.release.open();
    recordingOperator.dismiss.open();
    window_.reset();
}

bool WindowFixture::waitForUpgrades(int n) {
    if (!window_) return false;
    return SpinUntil([&] {
        const bool gone = !fakes_ || log.count("destroyed") >= n;
        return log.count("finished") >= n && gone && window_->UploadThread == nullptr;
    });
}

EnabledRecorder::EnabledRecorder(const std::vector<QWidget*>& controls) {
    for (QWidget* control : controls) control->installEventFilter(this);
}

bool EnabledRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        const auto* control = static_cast<QWidget*>(watched);
        changes.push_back(control->objectName().toStdString() + (control->isEnabled() ? " on" : " off"));
    }
    return false;
}

}  // namespace rovenza::guitest
