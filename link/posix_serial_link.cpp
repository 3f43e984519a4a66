#include "posix_serial_link.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kvr {

PosixSerialLink::PosixSerialLink() {
    if (pipe(stopPipe_) == 0) {
        fcntl(stopPipe_[0], F_SETFD, FD_CLOEXEC);
        fcntl(stopPipe_[1], F_SETFD, FD_CLOEXEC);
        fcntl(stopPipe_[1], F_SETFL, O_NONBLOCK);
    }
}

PosixSerialLink::~PosixSerialLink() {
    close();
    for (int fd : stopPipe_)
        if (fd >= 0) ::close(fd);
}

bool PosixSerialLink::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    auto fail = [fd](int error) {
        ::close(fd);
        errno = error;
        return false;
    };
    // TIOCEXCL keeps other openers out (but not root); the advisory lock
    // also stops a second copy of our own tools, root or not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (ioctl(fd, TIOCEXCL) != 0) return fail(errno);
    termios settings;
    if (tcgetattr(fd, &settings) != 0) return fail(errno);
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, B1200) != 0 || cfsetospeed(&settings, B1200) != 0 ||
        tcsetattr(fd, TCSANOW, &settings) != 0)
        return fail(errno);
    fd_ = fd;
    return true;
}

void PosixSerialLink::close() {
    if (fd_ >= 0) {
        // After a stop, bytes still queued for the line stay unsent.
        if (stopRequested()) tcflush(fd_, TCOFLUSH);
        // Exclusive mode outlives the descriptor on a pty: without this, an
        // unprivileged user could not open the same port again.
        ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
}

void PosixSerialLink::requestStop() {
    const char byte = 1;
    ssize_t ignored = ::write(stopPipe_[1], &byte, 1);
    (void)ignored;
}

bool PosixSerialLink::failIfStopped() const {
    if (!stopRequested()) return false;
    errno = ECANCELED;
    return true;
}

bool PosixSerialLink::stopRequested() const {
    pollfd stop = {stopPipe_[0], POLLIN, 0};
    return poll(&stop, 1, 0) > 0;
}

// Blocks until the port is ready for events or the stop pipe is readable.
bool PosixSerialLink::waitFor(short events) {
    pollfd fds[2] = {{fd_, events, 0}, {stopPipe_[0], POLLIN, 0}};
    for (;;) {
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (fds[1].revents) {
            errno = ECANCELED;
            return false;
        }
        if (fds[0].revents & events) return true;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // The other end hung up (a pty whose master closed, a line drop).
            errno = EIO;
            return false;
        }
    }
}

bool PosixSerialLink::readExact(std::uint8_t* buffer, std::size_t n) {
    std::memset(buffer, 0, n);
    std::size_t got = 0;
    bool pollSaidReadable = false;
    while (got < n) {
        if (failIfStopped()) return false;
        ssize_t count = ::read(fd_, buffer + got, n - got);
        if (count > 0) {
            got += std::size_t(count);
            pollSaidReadable = false;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (pollSaidReadable) {
            // Readable yet empty: the other end hung up (a pty whose master
            // closed, a line drop).
            errno = EIO;
            return false;
        }
        // Nothing buffered (a raw tty with VMIN 0 reads 0 bytes): wait.
        if (!waitFor(POLLIN)) return false;
        pollSaidReadable = true;
    }
    return true;
}

bool PosixSerialLink::write(const std::uint8_t* bytes, std::size_t n) {
    std::size_t sent = 0;
    while (sent < n) {
        if (failIfStopped()) return false;
        ssize_t count = ::write(fd_, bytes + sent, n - sent);
        if (count > 0) {
            sent += std::size_t(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!waitFor(POLLOUT)) return false;
    }
    return true;
}

}  // namespace kvr
