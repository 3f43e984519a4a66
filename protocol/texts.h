// Numbered texts in the user's language.
#pragma once

#include <string>
#include <vector>

namespace kvr {

enum TextId : int {
    TextIdleTitle = 7,
    TextCancelCaption = 8,
    TextRecvCaption = 10,
    TextOpeningPort = 11,
    TextWaitSync = 12,
    TextFrameHeadError = 13,
    TextProgress = 14,
    TextCancelled = 16,
    TextReceiveFinished = 19,
    TextSendOver = 20,
    TextInstrumentError = 21,
    TextBadRecordType = 22,
    TextUnsavedOnClose = 23,
    TextRestorePrompt = 24,
    TextCopyAllLines = 25,
    TextRecoveryOff = 26,
    TextFileType = 34,
};

// The text for id in the user's language, in UTF-8 on every platform.
// Unknown ids give "". Windows takes it from the string tables, the native
// build from its own copy of the same table. Safe to call from any thread.
std::string text(int id);

enum class Language { English, Chinese };

// Native language choice: the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty decides; Chinese when it starts with "zh_CN".
Language languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The native table itself, for one language. UTF-8.
const char* textIn(Language language, int id);

// Every id in the table, in order.
std::vector<int> textIds();

}  // namespace kvr
