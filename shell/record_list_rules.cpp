#include "record_list_rules.h"

#include <algorithm>

namespace kvr {

namespace {

bool IsGraphic(unsigned char byte) { return (byte >= 0x21 && byte <= 0x7E) || byte >= 0x80; }

}  // namespace

std::string TrimLoadedLine(const std::string& piece) {
    std::size_t end = piece.size();
    while (end > 0 && !IsGraphic(static_cast<unsigned char>(piece[end - 1]))) --end;
    return piece.substr(0, end);
}

std::vector<std::string> RecordLinesFromText(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t position = 0;
    while (position < text.size()) {
        // One read of at most 255 characters, up to and including a line end.
        std::size_t end = position;
        while (end < text.size() && end - position < kLoadedLineLength) {
            if (text[end++] == '\n') break;
        }
        // A line read this way is a C string: it ends at its first NUL.
        std::string piece = text.substr(position, end - position);
        piece.resize(std::min(piece.size(), piece.find('\0')));
        std::string line = TrimLoadedLine(piece);
        if (line.size() > 2) lines.push_back(line);
        position = end;
    }
    return lines;
}

std::string TextModeRead(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

std::string RecordListFileBytes(const std::vector<std::string>& entries) {
    std::string bytes;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) bytes += "\r\n";
        bytes += entries[i];
    }
    return bytes;
}

std::vector<std::string> JournalEntries(const std::string& bytes) {
    std::vector<std::string> entries;
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::size_t end = bytes.find("\r\n", position);
        if (end == std::string::npos) end = bytes.size();
        if (end > position) entries.push_back(bytes.substr(position, end - position));
        position = end + 2;
    }
    return entries;
}

namespace {

template <typename String>
bool SaveFileNameOf(const String& chosen, std::size_t nameOffset, std::size_t maxLength, String& name) {
    using Char = typename String::value_type;
    if (nameOffset > chosen.size()) nameOffset = chosen.size();
    bool hasDot = chosen.find(Char('.'), nameOffset) != String::npos;
    name = chosen;
    if (!hasDot)
        for (char c : {'.', 't', 'x', 't'}) name += Char(c);
    return name.size() <= maxLength;
}

}  // namespace

bool SaveFileName(const std::string& chosen, std::size_t nameOffset, std::size_t maxLength, std::string& name) {
    return SaveFileNameOf(chosen, nameOffset, maxLength, name);
}

bool SaveFileName(const std::wstring& chosen, std::size_t nameOffset, std::size_t maxLength, std::wstring& name) {
    return SaveFileNameOf(chosen, nameOffset, maxLength, name);
}

}  // namespace kvr
