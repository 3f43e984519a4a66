#pragma once

#include <cstdint>
#include <string>

namespace kvr {

// Fills the eight %c placeholders of the progress format with header bytes
// 5 to 8 (the running number) and then 1 to 4 (the total), each byte as one
// character. A 0x00 byte ends the title there, as it would a C string. "%%"
// gives "%". The format is never handed to printf: it comes from resources.
std::string FillProgressTitle(const std::string& format, const std::uint8_t* header);

}  // namespace kvr
