#include "platform/PortList.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "platform/SerialPort.h"

namespace korvane::platform {

namespace fs = std::filesystem;

bool IsListablePortName(const std::string& name) {
    if (!name.empty() && name[0] == '/') return name.size() > 1;
    if (name.size() < 3 || name.size() > 5) return false;
    return std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

namespace {

bool IsTtyDevice(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Held by another program or not ours to open: still a tty if the
        // file is a character device.
        std::error_code ec;
        return fs::is_character_file(path, ec);
    }
    bool tty = ::isatty(fd);
    ::close(fd);
    return tty;
}

// Legacy 8250 ports exist in sysfs whether or not a UART is there; "type" 0
// means none answered.
bool HasUart(const fs::path& entry) {
    std::ifstream type(entry / "type");
    int t = -1;
    if (type >> t) return t != 0;
    return true;
}

}  // namespace

PortListResult ListSerialPorts(const std::vector<std::string>& extraNames,
                               const std::string& sysClassTty) {
    PortListResult result;
    std::vector<std::string> found;
    std::error_code ec;
    fs::directory_iterator it(sysClassTty, ec);
    if (ec) {
        result.ok = false;
    } else {
        for (const auto& entry : it) {
            if (!fs::exists(entry.path() / "device", ec)) continue;
            const std::string name = entry.path().filename().string();
            if (name.rfind("ttyS", 0) == 0 && !HasUart(entry.path())) continue;
            found.push_back("/dev/" + name);
        }
        std::sort(found.begin(), found.end());
    }
    for (const auto& extra : extraNames) {
        if (extra.empty()) continue;
        const std::string path = DevicePathForPortName(extra);
        if (std::find(found.begin(), found.end(), path) != found.end()) continue;
        if (std::find(found.begin(), found.end(), extra) != found.end()) continue;
        if (IsTtyDevice(path)) found.push_back(extra);
    }
    result.names = std::move(found);
    return result;
}

}  // namespace korvane::platform
