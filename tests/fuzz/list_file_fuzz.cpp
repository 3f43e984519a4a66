// The list-file rules on any file: every loaded entry is a line as the list
// keeps it, Save then Load gives the same entries back, a journal gives back
// exactly what was journalled, and a saved name is well formed.
#include "fuzz_check.h"
#include "record_list_rules.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

bool Graphic(unsigned char c) { return (c >= 0x21 && c <= 0x7E) || c >= 0x80; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Load.
    std::vector<std::string> entries = kvr::RecordLinesFromText(kvr::TextModeRead(bytes));
    for (const std::string& entry : entries) {
        FUZZ_CHECK(entry.size() > 2 && entry.size() <= kvr::kLoadedLineLength);
        FUZZ_CHECK(entry.find('\0') == std::string::npos);
        FUZZ_CHECK(entry.find('\n') == std::string::npos);
        FUZZ_CHECK(Graphic(static_cast<unsigned char>(entry.back())));
    }
    // Save what was loaded, load it again: the same list.
    std::string saved = kvr::RecordListFileBytes(entries);
    FUZZ_CHECK(kvr::RecordLinesFromText(kvr::TextModeRead(saved)) == entries);

    // A journal holds received lines as they are: any line without CR LF
    // in it and not empty comes back unchanged.
    std::vector<std::string> received;
    std::string piece;
    for (char c : bytes) {
        if (c == '\n' || c == '\r') {
            if (!piece.empty()) received.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) received.push_back(piece);
    FUZZ_CHECK(kvr::JournalEntries(kvr::RecordListFileBytes(received)) == received);

    // A saved name: the chosen path, plus ".txt" when the name has no dot,
    // within the limit or refused.
    std::size_t offset = size ? data[0] % (size + 1) : 0;
    std::size_t limit = size > 1 ? data[1] : 64;
    std::string name;
    if (kvr::SaveFileName(bytes, offset, limit, name)) {
        FUZZ_CHECK(name.size() <= limit);
        FUZZ_CHECK(name.compare(0, bytes.size(), bytes) == 0);
        bool hasDot = bytes.find('.', offset) != std::string::npos;
        FUZZ_CHECK(name == (hasDot ? bytes : bytes + ".txt"));
    }
    return 0;
}
