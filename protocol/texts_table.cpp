// The shared text table compiled in. The native build looks texts up here;
// the Windows build uses its string tables and needs this only in tests.
#include "texts.h"

#include <cstring>

namespace kvr {
namespace {

struct TextEntry {
    int id;
    const char* english;
    const char* chinese;
};

const TextEntry kTexts[] = {
#define KVR_TEXT(id, english, chinese) {id, english, chinese},
#include "texts.def"
#undef KVR_TEXT
};

bool isSet(const char* value) { return value != nullptr && value[0] != '\0'; }

}  // namespace

Language languageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    const char* chosen = isSet(lcAll) ? lcAll : isSet(lcMessages) ? lcMessages : isSet(lang) ? lang : "";
    return std::strncmp(chosen, "zh_CN", 5) == 0 ? Language::Chinese : Language::English;
}

const char* textIn(Language language, int id) {
    for (const TextEntry& entry : kTexts)
        if (entry.id == id) return language == Language::Chinese ? entry.chinese : entry.english;
    return "";
}

std::vector<int> textIds() {
    std::vector<int> ids;
    for (const TextEntry& entry : kTexts) ids.push_back(entry.id);
    return ids;
}

}  // namespace kvr
