#include <windows.h>
// after windows.h
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "platform/NumberText.h"
#include "platform/PortList.h"
#include "platform/SerialPort.h"
#include "platform/win/WinText.h"

namespace korvane::platform {

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "COM12" -> 12; 0 for anything else.
int ComNumber(const std::string& name) {
    const std::string u = Upper(name);
    if (u.size() <= 3 || u.compare(0, 3, "COM") != 0) return 0;
    if (!std::all_of(u.begin() + 3, u.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return 0;
    const auto n = ParseInteger(u.substr(3));
    return n && *n >= 1 && *n <= 255 ? static_cast<int>(*n) : 0;
}

// The port name a device path or name stands for ("\\.\COM7" -> "COM7").
std::string PlainName(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0) return name.substr(4);
    return name;
}

std::string RegistryString(HKEY key, const wchar_t* value) {
    wchar_t buf[256];
    DWORD size = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    buf[size / sizeof(wchar_t)] = L'\0';
    return win::Narrow(buf);
}

// The devices of the "Ports" class that are present, as the device manager
// lists them.
std::vector<ComDevice> DeviceListPorts() {
    std::vector<ComDevice> result;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return result;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        ComDevice d;
        HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            d.portName = RegistryString(key, L"PortName");
            ::RegCloseKey(key);
        }
        wchar_t name[256];
        if (::SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                                reinterpret_cast<BYTE*>(name), sizeof name,
                                                nullptr))
            d.friendlyName = win::Narrow(name);
        if (!d.portName.empty()) result.push_back(std::move(d));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return result;
}

// The ports the serial drivers announce (HARDWARE\DEVICEMAP\SERIALCOMM):
// present even where a driver has no device-list entry, as under Wine.
std::vector<std::string> AnnouncedPorts() {
    std::vector<std::string> result;
    HKEY key{};
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return result;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLen = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, valueName, &nameLen, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        result.push_back(win::Narrow(data));
    }
    ::RegCloseKey(key);
    return result;
}

bool PortOpensOrIsBusy(const std::string& portName) {
    const std::string path = DevicePathForPortName(portName);
    if (path.empty()) return false;
    HANDLE h = ::CreateFileW(win::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Held by another program: there all the same.
        const DWORD e = ::GetLastError();
        return e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION;
    }
    ::CloseHandle(h);
    return true;
}

bool DeviceExists(const std::string& portName) {
    const std::string plain = PlainName(portName);
    wchar_t target[1024];
    if (::QueryDosDeviceW(win::Widen(plain).c_str(), target, 1024) != 0) return true;
    return PortOpensOrIsBusy(portName);
}

}  // namespace

PortListResult ComPortList(const std::vector<ComDevice>& devices,
                           const std::vector<std::string>& announced,
                           const std::vector<std::string>& extraNames,
                           bool (*opens)(const std::string& portName)) {
    struct Entry {
        std::string name;
        std::string friendly;
    };
    std::vector<Entry> entries;
    auto find = [&](const std::string& name) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const Entry& e) { return Upper(e.name) == Upper(name); });
    };
    for (const auto& d : devices) {
        if (ComNumber(d.portName) == 0) continue;
        const auto it = find(d.portName);
        if (it == entries.end()) {
            entries.push_back({Upper(d.portName), d.friendlyName});
        } else if (it->friendly.empty()) {
            it->friendly = d.friendlyName;
        }
    }
    for (const auto& name : announced)
        if (ComNumber(name) != 0 && find(name) == entries.end())
            entries.push_back({Upper(name), {}});
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return ComNumber(a.name) < ComNumber(b.name); });
    for (const auto& extra : extraNames) {
        if (extra.empty()) continue;
        const std::string plain = PlainName(extra);
        if (find(plain) != entries.end() || find(extra) != entries.end()) continue;
        if (opens != nullptr && opens(extra))
            entries.push_back({ComNumber(extra) != 0 ? Upper(extra) : extra, {}});
    }
    PortListResult result;
    for (auto& e : entries) {
        result.names.push_back(e.name);
        result.friendlyNames.push_back(e.friendly);
    }
    return result;
}

PortListResult ListSerialPorts(const std::vector<std::string>& extraNames, const PortRoots&) {
    return ComPortList(DeviceListPorts(), AnnouncedPorts(), extraNames, &DeviceExists);
}

// The pick lists' rule of every system, and device paths in Windows' form.
bool IsListablePortName(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0) return name.size() > 4;
    if (!name.empty() && name[0] == '/') return name.size() > 1;
    if (name.size() < 3 || name.size() > 5) return false;
    return Upper(name.substr(0, 3)) == "COM";
}

std::optional<std::string> MissingPortNote(const std::string& portName,
                                           const std::vector<std::string>& present) {
    if (DeviceExists(portName)) return std::nullopt;
    std::string line = "Порт " + portName + " не найден.";
    if (present.empty()) {
        line += " COM-портов в системе нет: подключите адаптер.";
    } else {
        line += " Есть порты: ";
        for (size_t i = 0; i < present.size(); ++i) line += (i ? ", " : "") + present[i];
        line += ".";
    }
    return line;
}

bool SameDevice(const std::string& a, const std::string& b) {
    const std::string pa = DevicePathForPortName(a), pb = DevicePathForPortName(b);
    return !pa.empty() && Upper(pa) == Upper(pb);
}

std::optional<int> ReadLatencyTimer(const std::string& portName, const std::string&) {
    // FTDI's driver keeps the latency among the port's device parameters.
    std::optional<int> result;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return result;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; !result && ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        if (Upper(RegistryString(key, L"PortName")) == Upper(PlainName(portName))) {
            DWORD ms = 0, size = sizeof ms, type = 0;
            if (::RegQueryValueExW(key, L"LatencyTimer", nullptr, &type,
                                   reinterpret_cast<BYTE*>(&ms), &size) == ERROR_SUCCESS &&
                type == REG_DWORD)
                result = static_cast<int>(ms);
        }
        ::RegCloseKey(key);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return result;
}

}  // namespace korvane::platform
