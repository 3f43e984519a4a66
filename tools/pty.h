// Pseudo-terminals for the simulated instrument and the test peers: the
// tool keeps the master side, a receiver opens the slave as its serial port.
#pragma once

#include <string>

namespace kvr::tools {

struct Pty {
    int master = -1;
    std::string slavePath;
};

// Creates a pty in raw mode (no echo, no line editing, 8 bits). With a
// non-empty linkPath, that path becomes a symbolic link to the slave,
// replacing whatever link was there. On failure, error says why.
// A link path that holds anything but a symbolic link is refused.
bool OpenPty(Pty& pty, const std::string& linkPath, std::string& error);

// True while some process holds the slave open. Linux reports a hang-up on
// the master whenever no slave descriptor is open.
bool ReceiverAttached(int master);

// Waits until a receiver opens the slave (attached == true) or closes it
// (attached == false). timeoutMs < 0 waits forever. Returns false on timeout.
bool WaitForReceiver(int master, bool attached, int timeoutMs);

}  // namespace kvr::tools
