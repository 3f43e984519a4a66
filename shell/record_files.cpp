#include "record_files.h"

#include "record_list_rules.h"
#include "resource_ids.h"
#include "texts.h"
#include "transfer.h"

#include <commdlg.h>
#include <windows.h>

#include <string>
#include <vector>

namespace kvr {
namespace {

std::string gFileFilter;

OPENFILENAMEA FileDialogSettings(DWORD flags) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = gTransfer.window;
    dialog.lpstrFilter = gFileFilter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = gTransfer.path;
    dialog.nMaxFile = DWORD(sizeof gTransfer.path);
    dialog.Flags = flags;
    return dialog;
}

// Reports the failure of a file operation, keeping its error code across
// the clean-up that follows it.
void ReportFileError(DWORD code) {
    SetLastError(code);
    ReportSystemError();
}

bool ReadWholeFile(const char* path, std::string& bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        bytes.append(buffer, read);
    }
    DWORD code = GetLastError();
    CloseHandle(file);
    SetLastError(code);
    return ok;
}

std::vector<std::string> ListEntries() {
    HWND list = GetDlgItem(gTransfer.window, IDC_RECORDS);
    std::vector<std::string> entries;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, WPARAM(i), 0);
        std::string entry(std::size_t(length > 0 ? length : 0) + 1, '\0');
        LRESULT copied = SendMessageA(list, LB_GETTEXT, WPARAM(i), LPARAM(&entry[0]));
        entry.resize(copied > 0 ? std::size_t(copied) : 0);
        entries.push_back(entry);
    }
    return entries;
}

// Writes the whole content to a new file, or fails with the file removed
// and the code of the failed step in place.
bool WriteNewFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) != FALSE;
    if (ok && written != bytes.size()) {
        ok = false;
        SetLastError(ERROR_WRITE_FAULT);  // a partial write is no success
    }
    DWORD code = GetLastError();
    if (!CloseHandle(file) && ok) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        DeleteFileA(path.c_str());
        SetLastError(code);
    }
    return ok;
}

}  // namespace

void BuildFileFilter() {
    std::string name = text(TextFileType);
    gFileFilter = name + "(*.txt)" + '\0' + "*.txt" + '\0' + '\0';
}

void LoadRecordList() {
    gTransfer.path[0] = '\0';
    OPENFILENAMEA dialog = FileDialogSettings(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
    if (!GetOpenFileNameA(&dialog)) return;

    std::string bytes;
    if (!ReadWholeFile(gTransfer.path, bytes)) {
        ReportSystemError();
        return;
    }
    HWND list = GetDlgItem(gTransfer.window, IDC_RECORDS);
    for (const std::string& line : RecordLinesFromText(TextModeRead(bytes)))
        SendMessageA(list, LB_ADDSTRING, 0, LPARAM(line.c_str()));
}

// The list goes to a temporary file beside the target, which replaces the
// target only once it is completely written and closed: a failed save
// leaves the previous file as it was.
void SaveRecordList() {
    OPENFILENAMEA dialog = FileDialogSettings(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST);
    if (!GetSaveFileNameA(&dialog)) return;

    std::string name;
    if (!SaveFileName(gTransfer.path, dialog.nFileOffset, kPathLength, name)) {
        ReportFileError(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    std::string temporary = name + "." + std::to_string(GetCurrentProcessId()) + ".kvr-tmp";
    if (!WriteNewFile(temporary, RecordListFileBytes(ListEntries()))) {
        ReportSystemError();
        return;
    }
    if (!MoveFileExA(temporary.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD code = GetLastError();
        DeleteFileA(temporary.c_str());
        ReportFileError(code);
    }
}

}  // namespace kvr
