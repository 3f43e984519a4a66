// The port box (1006): the serial ports that exist, read from the registry
// where Windows and Wine both list them, with the names SetupAPI knows.
// Main thread only.
#pragma once

#include <windows.h>

#include <string>

namespace kvr {

// Fills the drop-down. At start-up (initial) the first port is selected;
// afterwards the text in the box, typed or picked, stays as it is.
void FillPortBox(HWND combo, bool initial);
// After a pick the box holds the bare name, not the friendly text beside it.
void ShowPickedPortName(HWND combo);
// The name Recv opens for the box's text.
std::wstring PortNameFromBox(const std::wstring& text);

}  // namespace kvr
