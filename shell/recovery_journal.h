// The recovery journal: every received line is on disk before the
// instrument is told that its record arrived, so a crash, a killed process
// or a flat battery loses nothing that was acknowledged.
//
// One journal a run of the program, in %LOCALAPPDATA%\KVR Reader\Recovery,
// in the record list format (CR LF between entries, none after the last),
// so the user can also Load one by hand. A run holds its journal open,
// sharing neither write nor delete access, for as long as the file exists.
// That is how a later instance tells a journal left behind by a run that
// ended badly from the journal of a run still going: it asks for exclusive
// access and leaves alone whatever it cannot have.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvr {

// %LOCALAPPDATA%\KVR Reader\Recovery, or "" when the platform names no such folder.
std::wstring RecoveryFolder();

class RecoveryJournal {
public:
    RecoveryJournal() = default;
    RecoveryJournal(const RecoveryJournal&) = delete;
    RecoveryJournal& operator=(const RecoveryJournal&) = delete;
    ~RecoveryJournal();

    // Appends the entries and flushes them to the disk, creating the file on
    // first use. On failure GetLastError() holds the failed step's code and
    // the journal is off for the rest of the run: later calls fail at once.
    bool append(const std::vector<std::string>& entries);
    bool off() const { return off_; }
    // Deletes this run's journal: its entries are saved, or the user gave
    // them up. The next append starts a new one.
    void discard();
    const std::wstring& path() const { return path_; }

private:
    bool create();
    bool fail();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
    bool empty_ = true;
    bool off_ = false;
};

// The journals of runs that ended without saving them, each held
// exclusively from find() until the user has decided.
class LeftJournals {
public:
    LeftJournals() = default;
    LeftJournals(const LeftJournals&) = delete;
    LeftJournals& operator=(const LeftJournals&) = delete;
    ~LeftJournals();  // lets go of them, keeping the files

    void find();
    // Their entries, oldest journal first.
    const std::vector<std::string>& entries() const { return entries_; }
    void remove();

private:
    struct Found {
        HANDLE file;
        std::wstring path;
        FILETIME created;
    };
    std::vector<Found> found_;
    std::vector<std::string> entries_;
};

}  // namespace kvr
