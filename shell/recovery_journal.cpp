#include "recovery_journal.h"

#include "file_bytes.h"
#include "record_list_rules.h"

#include <shlobj.h>

#include <algorithm>

namespace kvr {
namespace {

// Creates the folder if needed; one that exists is fine. Whether a file
// can be made in it is for CreateFile to say.
void MakeFolder(const std::wstring& path) { CreateDirectoryW(path.c_str(), nullptr); }

std::wstring JournalName(unsigned attempt) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[80];
    wsprintfW(name, L"journal-%04u%02u%02u-%02u%02u%02u-%lu-%u.txt", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, GetCurrentProcessId(), attempt);
    return name;
}

// Deletes a file through the handle that holds it, so nobody can open it in
// between; a file system that cannot do that gets a plain delete.
void DeleteHeld(HANDLE file, const std::wstring& path) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    bool marked = SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
    CloseHandle(file);
    if (!marked) DeleteFileW(path.c_str());
}

}  // namespace

std::wstring RecoveryFolder() {
    wchar_t local[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))) return L"";
    return std::wstring(local) + L"\\KVR Reader\\Recovery";
}

RecoveryJournal::~RecoveryJournal() {
    // The file stays: a run that ends without deciding keeps its lines safe.
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool RecoveryJournal::fail() {
    off_ = true;
    return false;
}

bool RecoveryJournal::create() {
    std::wstring folder = RecoveryFolder();
    if (folder.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    MakeFolder(folder.substr(0, folder.rfind(L'\\')));
    MakeFolder(folder);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring path = folder + L"\\" + JournalName(attempt);
        file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
        if (file_ != INVALID_HANDLE_VALUE) {
            path_ = path;
            empty_ = true;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

bool RecoveryJournal::append(const std::vector<std::string>& entries) {
    if (off_) {
        SetLastError(ERROR_CANCELLED);
        return false;
    }
    if (entries.empty()) return true;
    if (file_ == INVALID_HANDLE_VALUE && !create()) return fail();
    std::string bytes;
    for (const std::string& entry : entries) {
        if (!empty_ || !bytes.empty()) bytes += "\r\n";
        bytes += entry;
    }
    // The handle stays open after a failure: what the file already holds is
    // still this run's, and no other instance may take it while we run.
    if (!WriteAllBytes(file_, bytes) || !FlushFileBuffers(file_)) return fail();
    empty_ = false;
    return true;
}

void RecoveryJournal::discard() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    DeleteHeld(file_, path_);
    file_ = INVALID_HANDLE_VALUE;
    path_.clear();
    empty_ = true;
}

LeftJournals::~LeftJournals() {
    for (const Found& found : found_) CloseHandle(found.file);
}

void LeftJournals::find() {
    std::wstring folder = RecoveryFolder();
    if (folder.empty()) return;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"\\journal-*.txt").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring path = folder + L"\\" + data.cFileName;
        // No sharing at all: a journal that a running instance holds open
        // cannot be had, and is left alone.
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) found_.push_back({file, path, data.ftCreationTime});
    } while (FindNextFileW(search, &data));
    FindClose(search);

    std::sort(found_.begin(), found_.end(), [](const Found& a, const Found& b) {
        return CompareFileTime(&a.created, &b.created) < 0;
    });
    // A journal that cannot be read whole is let go and kept, never offered
    // in part and then deleted.
    std::vector<Found> readable;
    for (const Found& found : found_) {
        std::string bytes;
        if (!ReadAllBytes(found.file, bytes)) {
            CloseHandle(found.file);
            continue;
        }
        readable.push_back(found);
        for (std::string& entry : JournalEntries(bytes)) entries_.push_back(std::move(entry));
    }
    found_ = readable;
}

void LeftJournals::remove() {
    for (const Found& found : found_) DeleteHeld(found.file, found.path);
    found_.clear();
    entries_.clear();
}

}  // namespace kvr
