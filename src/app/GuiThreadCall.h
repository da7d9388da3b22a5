#pragma once
// Work that a worker thread needs done on the window's thread (dialogs, message boxes, the
// completion handler): the worker hands it over and, for a call, waits until it has run, so a
// modal dialog keeps the worker waiting until the operator closes it.
//
// Every hand-over passes one process-wide mutex: the sender posts while holding it and the
// posted work takes it before touching anything it carries. Qt's event queue orders the two
// as well, but inside Qt's libraries, where ThreadSanitizer cannot see the ordering; with the
// mutex the worker/timer tests stay clean under it. Completion is signalled the same way.
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace rovenza {

namespace detail {
inline std::mutex& HandoverMutex() {
    static std::mutex mutex;
    return mutex;
}
}  // namespace detail

// Queues `work` to run on the thread of `context` and returns at once. The work is dropped
// if `context` is destroyed before it could run.
template <class F>
void PostToThreadOf(QObject* context, F work) {
    std::lock_guard<std::mutex> sending(detail::HandoverMutex());
    QMetaObject::invokeMethod(
        context,
        [work = std::move(work)]() mutable {
            { std::lock_guard<std::mutex> received(detail::HandoverMutex()); }
            work();
        },
        Qt::QueuedConnection);
}

// Runs `work` on the thread of `context` and returns its result; an exception it raises is
// raised again in the caller. Called on that thread itself, it runs `work` directly. If
// `context` is destroyed before the work could run, the result is a value-initialised R (an
// empty optional for the operator's answers).
template <class F>
std::invoke_result_t<F&> CallOnThreadOf(QObject* context, F work) {
    using R = std::invoke_result_t<F&>;
    if (QThread::currentThread() == context->thread()) return work();

    struct Handover {
        std::mutex mutex;
        std::condition_variable finishedChanged;
        bool finished = false;
        std::exception_ptr failure;
        std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> result{};
    } handover;
    // Ends the wait once the posted work is done with, whether it ran or was dropped with its
    // receiver. It notifies under the lock: the waiter may return, and `handover` go away, as
    // soon as the lock is released.
    std::shared_ptr<void> finisher(nullptr, [&handover](void*) {
        std::lock_guard<std::mutex> lock(handover.mutex);
        handover.finished = true;
        handover.finishedChanged.notify_all();
    });
    PostToThreadOf(context, [&handover, finisher = std::move(finisher), work = std::move(work)]() mutable {
        try {
            if constexpr (std::is_void_v<R>)
                work();
            else
                handover.result.emplace(work());
        } catch (...) {
            handover.failure = std::current_exception();
        }
        finisher.reset();
    });

    std::unique_lock<std::mutex> lock(handover.mutex);
    handover.finishedChanged.wait(lock, [&] { return handover.finished; });
    if (handover.failure) std::rethrow_exception(handover.failure);
    if constexpr (!std::is_void_v<R>) return handover.result ? std::move(*handover.result) : R{};
}

}  // namespace rovenza
