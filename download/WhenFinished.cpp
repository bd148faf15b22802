#include "download/WhenFinished.h"

#include <QCoreApplication>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>

namespace {

// Work under way ends before the application object goes: images are scaled and tracks
// drawn with the toolkit's painting, which itself runs on threads that go with it.
void EndImageWork();
void EndTrackWork();

class ImagePool : public QThreadPool {
public:
    ImagePool() {
        setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
        qAddPostRoutine(&EndImageWork);
    }
};
Q_GLOBAL_STATIC(ImagePool, g_imagePool)

// Two: a track being read or cut does not hold up the drawing of the one shown.
class TrackPool : public QThreadPool {
public:
    TrackPool() {
        setMaxThreadCount(2);
        qAddPostRoutine(&EndTrackWork);
    }
};
Q_GLOBAL_STATIC(TrackPool, g_trackPool)

void EndImageWork() {
    if (g_imagePool.exists()) {
        g_imagePool()->waitForDone();
    }
}

void EndTrackWork() {
    if (g_trackPool.exists()) {
        g_trackPool()->waitForDone();
    }
}

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
