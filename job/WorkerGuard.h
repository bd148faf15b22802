#pragma once

// Work done on a worker thread ends in a value, never in an exception: one that left the
// work (no memory left, a library's own) would be thrown again where the result is taken,
// on the windows' thread or the run's, and end the program there. Guarded turns it into
// the value that `failed` makes of a reason in a few Spanish words.

#include <QString>

#include <exception>
#include <new>

template <typename Work, typename Failed>
auto Guarded(Work&& work, Failed&& failed) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return failed(QStringLiteral("no hay memoria suficiente"));
    } catch (...) {
        return failed(QStringLiteral("error inesperado"));
    }
}
