// Whole-file reads and writes through an open handle, as the list files and
// the recovery journal need them. Main thread only, no exceptions.
#pragma once

#include <windows.h>

#include <string>

namespace kvr {

// Writes all the bytes; a short write fails with ERROR_WRITE_FAULT.
bool WriteAllBytes(HANDLE file, const std::string& bytes);
// Appends the rest of the file to bytes; memory running out fails with
// ERROR_NOT_ENOUGH_MEMORY. On failure GetLastError() holds the code.
bool ReadAllBytes(HANDLE file, std::string& bytes, std::size_t expectedSize = 0);

}  // namespace kvr
