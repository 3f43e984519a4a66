// Save and Load of the record list.
#pragma once

namespace kvr {

// Builds the file-type filter of the open and save dialogs from text 34.
void BuildFileFilter();
void LoadRecordList();
// True once the list is in the chosen file; false when the user cancelled
// or the save failed (and was reported).
bool SaveRecordList();

}  // namespace kvr
