#include "sim_broker.h"

#include "gui_test_support.h"

#include <shlobj.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kvr::test {

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::wstring ReaderPath() {
    const char* path = std::getenv("KVR_READER_EXE");
    return Widen(WindowsPath(path ? path : ""));
}

std::wstring RecoveryFolderPath() {
    wchar_t local[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    return std::wstring(local) + L"\\KVR Reader\\Recovery";
}

std::vector<std::wstring> RecoveryJournalFiles() {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((RecoveryFolderPath() + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(RecoveryFolderPath() + L"\\" + data.cFileName);
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return files;
}

void ClearRecoveryFolder() {
    for (const std::wstring& file : RecoveryJournalFiles()) DeleteFileW(file.c_str());
}

namespace {

std::string BrokerDir() {
    const char* dir = std::getenv("KVR_SIM_DIR");
    return dir ? dir : "";
}

}  // namespace

SimBroker::SimBroker() : unixDir_(BrokerDir()) {}

bool SimBroker::ended() const { return Exists(windowsPath("done")); }

std::string SimBroker::state() {
    SimBroker broker;
    std::string state = "simulator: ";
    if (!broker.ended()) {
        state += "still running";
    } else {
        std::string status = FileBytes(broker.windowsPath("done"));
        while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.pop_back();
        state += "ended with status " + status;
    }
    std::vector<std::string> lines;
    std::istringstream log(FileBytes(broker.windowsPath("sim.err")));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    if (lines.empty()) return state + ", no log";
    state += "; the end of its log:";
    for (std::size_t i = lines.size() > 12 ? lines.size() - 12 : 0; i < lines.size(); ++i) state += "\n  " + lines[i];
    return state;
}

std::string SimBroker::windowsPath(const std::string& name) const { return WindowsPath(unixDir_ + "/" + name); }

bool SimBroker::start(const std::string& arguments) {
    DeleteFileA(windowsPath("ready").c_str());
    DeleteFileA(windowsPath("done").c_str());
    {
        std::ofstream request(windowsPath("request.tmp"), std::ios::binary);
        request << arguments << "\n";
    }
    MoveFileExA(windowsPath("request.tmp").c_str(), windowsPath("request").c_str(), MOVEFILE_REPLACE_EXISTING);
    return WaitUntil([&] { return Exists(windowsPath("ready")); }, 10000) && !ended();
}

bool SimBroker::waitDone(int& exitStatus, DWORD timeoutMs) {
    bool done = WaitUntil([&] { return ended(); }, timeoutMs);
    if (done) {
        std::ifstream file(windowsPath("done"));
        file >> exitStatus;
    }
    return done;
}

bool SimBroker::waitForLog(const std::string& text, DWORD timeoutMs) const {
    auto logged = [&] { return FileBytes(windowsPath("sim.err")).find(text) != std::string::npos; };
    WaitUntil([&] { return ended() || logged(); }, timeoutMs);
    return logged();
}

bool SimBroker::killReaders() {
    DeleteFileA(windowsPath("killed").c_str());
    { std::ofstream request(windowsPath("kill"), std::ios::binary); }
    return WaitUntil([&] { return Exists(windowsPath("killed")); }, 10000);
}

std::vector<std::string> SimBroker::expectedLines() const {
    std::vector<std::string> lines;
    std::ifstream file(windowsPath("expected"));
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

}  // namespace kvr::test
