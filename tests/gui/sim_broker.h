// The GUI tests' side of the simulated instrument and of the recovery
// folder: what only a test needs, beside the driver.
#pragma once

#include "app_driver.h"

#include <string>
#include <vector>

namespace kvr::test {

using namespace kvr::drive;

// A Unix path as Wine's Z: drive shows it.
std::string WindowsPath(const std::string& unixPath);

// The KvrReader.exe under test, from KVR_READER_EXE.
std::wstring ReaderPath();

// The recovery journals in the prefix's %LOCALAPPDATA%\KVR Reader\Recovery.
std::wstring RecoveryFolderPath();
std::vector<std::wstring> RecoveryJournalFiles();
void ClearRecoveryFolder();

// The simulated instrument on COM1, run by the broker script on the Linux
// side: a request file with kvr-sim's arguments, answered by "ready" once
// the port exists and by "done" with the exit status when it ends.
class SimBroker {
public:
    SimBroker();
    // False when the port did not appear within 10 s, or the simulator
    // ended at once (bad arguments); its log says why.
    bool start(const std::string& arguments);
    bool waitDone(int& exitStatus, DWORD timeoutMs);
    // Whether the simulator of the last start has ended.
    bool ended() const;
    std::vector<std::string> expectedLines() const;
    // Waits until the simulator's log holds this text; gives up at once
    // when the simulator has ended without writing it.
    bool waitForLog(const std::string& text, DWORD timeoutMs) const;
    // kill -9 of every KvrReader.exe process, from the Linux side.
    bool killReaders();
    // A file in the broker's folder: its Windows path, and its Unix path for kvr-sim.
    std::string windowsPath(const std::string& name) const;
    std::string unixPath(const std::string& name) const { return unixDir_ + "/" + name; }

    // For a failed test: whether the simulator still runs or how it ended,
    // and the last lines of its log.
    static std::string state();

private:
    std::string unixDir_;
};

}  // namespace kvr::test
