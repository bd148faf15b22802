#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

// The threads that decode and write images for the runs: one fewer than the machine has
// cores (one at least), so that the event loop always finds a core free and the windows
// paint while tiles are decoded.
QThreadPool* ImageWorkPool();

// The threads that read tracks, cut them into sheets and draw them over the map: work of
// seconds, kept off Qt's global pool, which the windows' own painting waits on.
QThreadPool* TrackWorkPool();

// Lowers the calling thread's priority below the windows' thread.
void YieldToWindows();

// `work` on TrackWorkPool(), at a priority below the windows' thread, so that seconds of a
// track's work never take the processor from the painting.
template <typename Work> auto RunTrackWork(Work work) {
    return QtConcurrent::run(TrackWorkPool(), [work = std::move(work)]() mutable {
        YieldToWindows();
        return work();
    });
}

// Calls `handler` with the future's result on `owner`'s thread once the work is done,
// unless `owner` is gone by then: the watcher is the owner's child and goes with it, so a
// result that comes late finds nobody. (A continuation with a context object must find
// its context alive when the work ends, which an abandoned fetch or run cannot promise.)
template <typename T, typename Handler>
void WhenFinished(QObject* owner, const QFuture<T>& future, Handler handler) {
    auto* watcher = new QFutureWatcher<T>(owner);
    QObject::connect(watcher, &QFutureWatcherBase::finished, owner,
                     [watcher, handler = std::move(handler)]() mutable {
                         watcher->deleteLater();
                         if constexpr (std::is_void_v<T>) {
                             handler();
                         } else {
                             handler(watcher->result());
                         }
                     });
    watcher->setFuture(future);
}
