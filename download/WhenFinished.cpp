#include "download/WhenFinished.h"

#include <QThread>

#include <algorithm>

namespace {

// Destroyed at exit after waiting for its threads, like Qt's global pool.
class ImagePool : public QThreadPool {
public:
    ImagePool() { setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1)); }
};
Q_GLOBAL_STATIC(ImagePool, g_imagePool)

} // namespace

QThreadPool* ImageWorkPool() {
    return g_imagePool();
}
