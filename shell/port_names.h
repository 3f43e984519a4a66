// The platform-free rules of the port box: the order of the ports, the
// text an entry shows and the name Recv opens.
#pragma once

#include <string>
#include <vector>

namespace kvr {

struct PortEntry {
    std::wstring name;          // COM12
    std::wstring friendlyName;  // USB Serial Port, or empty
};

// Natural order: letters compared without case, runs of digits by value,
// so COM2 comes before COM10.
bool NaturalLess(const std::wstring& a, const std::wstring& b);
void SortPorts(std::vector<PortEntry>& ports);

// What the drop-down shows: "COM5 - USB Serial Port", or the bare name.
std::wstring PortDisplayText(const PortEntry& port);

// A device's friendly name without the port name that drivers often append
// ("USB Serial Port (COM5)" gives "USB Serial Port").
std::wstring FriendlyNameWithoutPort(const std::wstring& friendlyName, const std::wstring& portName);

// The name to open for the port box's text: a listed entry's bare name when
// the text is what that entry shows, otherwise the text as typed.
std::wstring PortNameForText(const std::vector<PortEntry>& ports, const std::wstring& text);

// The ports to offer when the system lists none.
std::vector<PortEntry> FallbackPorts();

}  // namespace kvr
