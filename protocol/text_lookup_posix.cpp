// text() for the native build: the language follows the locale variables, as
// it would for any POSIX program.
#include "texts.h"

#include <cstdlib>

namespace kvr {

std::string text(int id) {
    Language language = languageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
    return textIn(language, id);
}

}  // namespace kvr
