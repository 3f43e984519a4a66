#include "port_box.h"

#include "port_names.h"

#include <initguid.h>

#include <devguid.h>
#include <setupapi.h>

#include <map>
#include <vector>

namespace kvr {
namespace {

std::vector<PortEntry> gPorts;  // what the drop-down shows, in its order

std::wstring RegistryString(HKEY key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD type = 0, size = sizeof value - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return L"";
    return value;
}

// SERIALCOMM maps each device (\Device\Serial0) to its port name (COM1).
std::vector<std::wstring> RegisteredPortNames() {
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        wchar_t data[256] = {};
        DWORD nameLength = 256, type = 0, size = sizeof data - sizeof(wchar_t);
        LONG result = RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS && type == REG_SZ && data[0]) names.push_back(data);
    }
    RegCloseKey(key);
    return names;
}

// Port name to friendly name, for the devices of the ports class.
std::map<std::wstring, std::wstring> FriendlyNames() {
    std::map<std::wstring, std::wstring> names;
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        std::wstring port = RegistryString(key, L"PortName");
        RegCloseKey(key);
        wchar_t friendly[256] = {};
        if (port.empty() || !SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                               reinterpret_cast<BYTE*>(friendly),
                                                               sizeof friendly - sizeof(wchar_t), nullptr))
            continue;
        names[port] = FriendlyNameWithoutPort(friendly, port);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return names;
}

std::vector<PortEntry> ExistingPorts() {
    std::map<std::wstring, std::wstring> friendly = FriendlyNames();
    std::vector<PortEntry> ports;
    for (const std::wstring& name : RegisteredPortNames()) ports.push_back({name, friendly[name]});
    if (ports.empty()) return FallbackPorts();
    SortPorts(ports);
    return ports;
}

std::wstring BoxText(HWND combo) {
    int length = GetWindowTextLengthW(combo);
    std::wstring text(std::size_t(length) + 1, L'\0');
    GetWindowTextW(combo, &text[0], length + 1);
    text.resize(std::size_t(length));
    return text;
}

}  // namespace

void FillPortBox(HWND combo, bool initial) {
    std::wstring typed = BoxText(combo);
    gPorts = ExistingPorts();
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const PortEntry& port : gPorts) SendMessageW(combo, CB_ADDSTRING, 0, LPARAM(PortDisplayText(port).c_str()));
    if (initial) SendMessageW(combo, CB_SETCURSEL, 0, 0);
    SetWindowTextW(combo, initial ? gPorts.front().name.c_str() : typed.c_str());
}

void ShowPickedPortName(HWND combo) {
    LRESULT picked = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (picked < 0 || std::size_t(picked) >= gPorts.size()) return;
    SetWindowTextW(combo, gPorts[std::size_t(picked)].name.c_str());
}

std::wstring PortNameFromBox(const std::wstring& text) { return PortNameForText(gPorts, text); }

}  // namespace kvr
