#include "pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace kvr::tools {

bool OpenPty(Pty& pty, const std::string& linkPath, std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) close(master);
        return false;
    }
    const char* name = ptsname(master);
    std::string slavePath = name ? name : "";
    // The line settings live with the pty as long as the master is open, so
    // set raw mode once through a slave descriptor and let it go again.
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios settings;
    if (slave < 0 || tcgetattr(slave, &settings) != 0) {
        error = "cannot open " + slavePath + ": " + std::strerror(errno);
        close(master);
        if (slave >= 0) close(slave);
        return false;
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B1200);
    cfsetospeed(&settings, B1200);
    tcsetattr(slave, TCSANOW, &settings);
    close(slave);

    if (!linkPath.empty()) {
        // Only a link may be replaced: a file or folder at that path is
        // somebody's, not a port left behind.
        struct stat existing;
        if (lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
            error = "refusing to replace " + linkPath + ": it is not a symbolic link";
            close(master);
            return false;
        }
        std::string temporary = linkPath + ".new";
        unlink(temporary.c_str());
        if (symlink(slavePath.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), linkPath.c_str()) != 0) {
            error = "cannot link " + linkPath + " to " + slavePath + ": " + std::strerror(errno);
            close(master);
            return false;
        }
    }
    pty.master = master;
    pty.slavePath = slavePath;
    return true;
}

bool ReceiverAttached(int master) {
    pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, 0) < 0) return false;
    return (fd.revents & POLLHUP) == 0;
}

bool WaitForReceiver(int master, bool attached, int timeoutMs) {
    // A hang-up cannot be waited for with poll (it is level-triggered and
    // reports at once while no receiver is there), so look every 10 ms.
    for (int waited = 0; timeoutMs < 0 || waited <= timeoutMs; waited += 10) {
        if (ReceiverAttached(master) == attached) return true;
        usleep(10000);
    }
    return false;
}

}  // namespace kvr::tools
