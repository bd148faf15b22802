#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>

#include <type_traits>
#include <utility>

// The threads that decode and write images for the runs: one fewer than the machine has
// cores (one at least), so that the event loop always finds a core free and the windows
// paint while tiles are decoded.
QThreadPool* ImageWorkPool();

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
