#include "record_files.h"

#include "texts.h"

#include <string>

namespace kvr {
namespace {

std::string gFileFilter;

}  // namespace

void BuildFileFilter() {
    std::string name = text(TextFileType);
    gFileFilter = name + "(*.txt)" + '\0' + "*.txt" + '\0' + '\0';
}

// Save and Load come with the record list files.
void LoadRecordList() {}
void SaveRecordList() {}

}  // namespace kvr
