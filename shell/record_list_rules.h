// The platform-free rules of the record list files: how a loaded file
// becomes list entries, how the list becomes a file, how a saved name is
// formed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kvr {

constexpr std::size_t kLoadedLineLength = 255;

// Removes bytes from the end while the last one is not graphic. Graphic is
// 0x21 to 0x7E and, so that text in a multi-byte code page survives, every
// byte from 0x80 on.
std::string TrimLoadedLine(const std::string& piece);

// The entries a file adds to the list. The text is the file as a text-mode
// read gives it (CR LF already turned into LF). It is read in pieces of at
// most 255 characters, each ending at a line end or at the limit; each piece
// ends at its first NUL, as a C string does, is trimmed, and only pieces
// longer than 2 characters are kept.
std::vector<std::string> RecordLinesFromText(const std::string& text);

// CR LF turned into LF, as reading in text mode does.
std::string TextModeRead(const std::string& bytes);

// The file's bytes for the list: entries in order with CR LF between them,
// none after the last; an empty list gives an empty file.
std::string RecordListFileBytes(const std::vector<std::string>& entries);

// The entries of a recovery journal, exactly as they were received: the
// file is split at CR LF and nothing is trimmed or cut. Empty pieces (a
// journal cut short just after a separator) are no entries.
std::vector<std::string> JournalEntries(const std::string& bytes);

// The name Save writes to: the chosen path, plus ".txt" when its file name
// (from nameOffset on) has no dot. Fails when the result would be longer
// than maxLength characters.
bool SaveFileName(const std::string& chosen, std::size_t nameOffset, std::size_t maxLength, std::string& name);
bool SaveFileName(const std::wstring& chosen, std::size_t nameOffset, std::size_t maxLength, std::wstring& name);

}  // namespace kvr
