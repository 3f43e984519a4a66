// The record list as data: the entries in list order, as the bytes they
// are, and how many of them the last successful Save wrote. The list box
// only shows them; Save writes these bytes, so an entry comes back out
// exactly as it came in, whatever the system's code page makes of it on
// screen.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kvr {

class RecordListModel {
public:
    void append(const std::string& entry) { entries_.push_back(entry); }
    void reserve(std::size_t more) { entries_.reserve(entries_.size() + more); }
    const std::vector<std::string>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }

    // Everything received or loaded since the last successful Save.
    bool hasUnsaved() const { return saved_ < entries_.size(); }
    // A Save wrote the whole list: Save and the commands that add entries
    // never run at the same time.
    void markSaved() { saved_ = entries_.size(); }

private:
    std::vector<std::string> entries_;
    std::size_t saved_ = 0;
};

}  // namespace kvr
