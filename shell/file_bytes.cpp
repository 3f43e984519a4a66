#include "file_bytes.h"

#include <new>

namespace kvr {

bool WriteAllBytes(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr)) return false;
    if (written != bytes.size()) {
        SetLastError(ERROR_WRITE_FAULT);  // a partial write is no success
        return false;
    }
    return true;
}

bool ReadAllBytes(HANDLE file, std::string& bytes, std::size_t expectedSize) {
    try {
        bytes.reserve(bytes.size() + expectedSize);
        char buffer[65536];
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) return false;
            if (read == 0) return true;
            bytes.append(buffer, read);
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

}  // namespace kvr
