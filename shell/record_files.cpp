#include "record_files.h"

#include "file_bytes.h"
#include "record_list.h"
#include "record_list_rules.h"
#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"
#include "window_text.h"

#include <commdlg.h>
#include <windows.h>

#include <string>
#include <vector>

namespace kvr {
namespace {

std::wstring gFileFilter;

OPENFILENAMEW FileDialogSettings(DWORD flags) {
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = gTransfer.window;
    dialog.lpstrFilter = gFileFilter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = gTransfer.path;
    dialog.nMaxFile = DWORD(sizeof gTransfer.path / sizeof(wchar_t));
    dialog.Flags = flags;
    return dialog;
}

// Reports the failure of a file operation, keeping its error code across
// the clean-up that follows it.
void ReportFileError(DWORD code) {
    SetLastError(code);
    ReportSystemError();
}

// Bigger than any season's records: a file past it is not a record list.
constexpr LONGLONG kLargestListFile = 256LL * 1024 * 1024;

bool ReadWholeFile(const wchar_t* path, std::string& bytes) {
    // Sharing write access lets the user load a journal that another
    // instance is still writing.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kLargestListFile) {
        DWORD code = size.QuadPart > kLargestListFile ? DWORD(ERROR_FILE_TOO_LARGE) : GetLastError();
        CloseHandle(file);
        SetLastError(code);
        return false;
    }
    bool ok = ReadAllBytes(file, bytes, std::size_t(size.QuadPart));
    DWORD code = GetLastError();
    CloseHandle(file);
    SetLastError(code);
    return ok;
}

// Writes the whole content to a new file and flushes it to the disk, or
// fails with the file removed and the code of the failed step in place.
bool WriteNewFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAllBytes(file, bytes);
    // On the disk before it replaces the old file: a power cut just after
    // the save must not leave an empty or short file in its place.
    if (ok && !FlushFileBuffers(file)) ok = false;
    DWORD code = GetLastError();
    if (!CloseHandle(file) && ok) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        DeleteFileW(path.c_str());
        SetLastError(code);
    }
    return ok;
}

// A virus scanner or an indexer often holds a fresh file open for a moment;
// the replacement is tried again for about a second before it counts as
// failed.
bool MoveIntoPlace(const std::wstring& temporary, const std::wstring& target) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) || attempt == 20) return false;
        Sleep(50);
    }
}

}  // namespace

void BuildFileFilter() {
    std::wstring name = WideFromUtf8(text(TextFileType));
    gFileFilter = name + L"(*.txt)" + L'\0' + L"*.txt" + L'\0' + L'\0';
}

void LoadRecordList() {
    gTransfer.path[0] = L'\0';
    OPENFILENAMEW dialog = FileDialogSettings(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    if (!GetOpenFileNameW(&dialog)) return;

    std::string bytes;
    if (!ReadWholeFile(gTransfer.path, bytes)) {
        ReportSystemError();
        return;
    }
    AppendRecordEntries(gTransfer.window, RecordLinesFromText(TextModeRead(bytes)));
}

// The list goes to a temporary file beside the target, which replaces the
// target only once it is completely written and closed: a failed save
// leaves the previous file as it was.
bool SaveRecordList() {
    OPENFILENAMEW dialog = FileDialogSettings(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST);
    if (!GetSaveFileNameW(&dialog)) return false;

    std::wstring name;
    if (!SaveFileName(std::wstring(gTransfer.path), dialog.nFileOffset, kPathLength, name)) {
        ReportFileError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wstring temporary = name + L"." + std::to_wstring(GetCurrentProcessId()) + L".kvr-tmp";
    if (!WriteNewFile(temporary, RecordListFileBytes(gRecords.entries()))) {
        ReportSystemError();
        return false;
    }
    if (!MoveIntoPlace(temporary, name)) {
        DWORD code = GetLastError();
        DeleteFileW(temporary.c_str());
        ReportFileError(code);
        return false;
    }
    // Every entry is in the file now, so the journal has done its work.
    gRecords.markSaved();
    gJournal.discard();
    return true;
}

}  // namespace kvr
