#include "progress_title.h"

namespace kvr {

std::string FillProgressTitle(const std::string& format, const std::uint8_t* header) {
    static const int order[8] = {5, 6, 7, 8, 1, 2, 3, 4};
    std::string title;
    int next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 'c' && next < 8) {
                std::uint8_t byte = header[order[next++]];
                if (byte == 0) return title;
                title += char(byte);
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                title += '%';
                ++i;
                continue;
            }
        }
        title += format[i];
    }
    return title;
}

}  // namespace kvr
