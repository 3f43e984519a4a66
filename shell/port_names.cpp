#include "port_names.h"

#include <algorithm>
#include <cwctype>

namespace kvr {

bool NaturalLess(const std::wstring& a, const std::wstring& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::iswdigit(a[i]) && std::iswdigit(b[j])) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && std::iswdigit(a[endA])) ++endA;
            while (endB < b.size() && std::iswdigit(b[endB])) ++endB;
            // Compare the values without leading zeros: first by length, then digit by digit.
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == L'0') ++startA;
            while (startB + 1 < endB && b[startB] == L'0') ++startB;
            std::wstring digitsA = a.substr(startA, endA - startA), digitsB = b.substr(startB, endB - startB);
            if (digitsA.size() != digitsB.size()) return digitsA.size() < digitsB.size();
            if (digitsA != digitsB) return digitsA < digitsB;
            i = endA;
            j = endB;
            continue;
        }
        wint_t x = std::towupper(a[i]), y = std::towupper(b[j]);
        if (x != y) return x < y;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

void SortPorts(std::vector<PortEntry>& ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const PortEntry& a, const PortEntry& b) { return NaturalLess(a.name, b.name); });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const PortEntry& a, const PortEntry& b) { return a.name == b.name; }),
                ports.end());
}

std::wstring PortDisplayText(const PortEntry& port) {
    return port.friendlyName.empty() ? port.name : port.name + L" - " + port.friendlyName;
}

std::wstring FriendlyNameWithoutPort(const std::wstring& friendlyName, const std::wstring& portName) {
    std::wstring suffix = L" (" + portName + L")";
    if (friendlyName.size() > suffix.size() &&
        friendlyName.compare(friendlyName.size() - suffix.size(), suffix.size(), suffix) == 0)
        return friendlyName.substr(0, friendlyName.size() - suffix.size());
    return friendlyName;
}

std::wstring PortNameForText(const std::vector<PortEntry>& ports, const std::wstring& text) {
    for (const PortEntry& port : ports)
        if (PortDisplayText(port) == text) return port.name;
    return text;
}

std::vector<PortEntry> FallbackPorts() { return {{L"COM1", L""}, {L"COM2", L""}, {L"COM3", L""}, {L"COM4", L""}}; }

}  // namespace kvr
