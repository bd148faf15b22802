#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where the handler writes; one object at a time owns it.
volatile sig_atomic_t g_write = -1;

extern "C" void OnStopSignal(int signal) {
    // write() may change errno under the code the signal interrupted.
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_write, &byte, 1);
    errno = saved;
}

bool SetFlags(int fd) {
    return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return;
    }
    m_write = fds[0];
    m_read = fds[1];
    // A full pair must never block the handler; a child process gets neither end.
    if (!SetFlags(m_write) || !SetFlags(m_read)) {
        ::close(m_write);
        ::close(m_read);
        m_write = m_read = -1;
        return;
    }
    g_write = m_write;
    m_notifier = new QSocketNotifier(m_read, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::drain);

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previousInt);
    sigaction(SIGTERM, &action, &m_previousTerm);
}

StopSignals::~StopSignals() {
    if (!active()) {
        return;
    }
    sigaction(SIGINT, &m_previousInt, nullptr);
    sigaction(SIGTERM, &m_previousTerm, nullptr);
    g_write = -1;
    delete m_notifier;
    ::close(m_write);
    ::close(m_read);
}

void StopSignals::drain() {
    unsigned char bytes[16];
    for (;;) {
        const ssize_t n = ::read(m_read, bytes, sizeof bytes);
        if (n <= 0) {
            return; // nothing more for now
        }
        for (ssize_t i = 0; i < n; ++i) {
            emit received(bytes[i]);
        }
    }
}
