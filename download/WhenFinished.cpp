#include "download/WhenFinished.h"

#include <QThread>

#include <sys/resource.h>

#include <algorithm>

namespace {

// Destroyed at exit after waiting for its threads, like Qt's global pool.
class ImagePool : public QThreadPool {
public:
    ImagePool() { setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1)); }
};
Q_GLOBAL_STATIC(ImagePool, g_imagePool)

// Two: a track being read or cut does not hold up the drawing of the one shown.
class TrackPool : public QThreadPool {
public:
    TrackPool() { setMaxThreadCount(2); }
};
Q_GLOBAL_STATIC(TrackPool, g_trackPool)

} // namespace

QThreadPool* ImageWorkPool() {
    return g_imagePool();
}

QThreadPool* TrackWorkPool() {
    return g_trackPool();
}

void YieldToWindows() {
    // Linux keeps a nice value per thread; the pool's threads do nothing else.
    constexpr int kNice = 10;
    setpriority(PRIO_PROCESS, 0, kNice);
}
