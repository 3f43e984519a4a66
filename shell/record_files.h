// Save and Load of the record list.
#pragma once

namespace kvr {

// Builds the file-type filter of the open and save dialogs from text 34.
void BuildFileFilter();
void LoadRecordList();
void SaveRecordList();

}  // namespace kvr
