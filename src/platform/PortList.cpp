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

bool StartsWith(const std::string& text, const char* head) {
    return text.rfind(head, 0) == 0;
}

// Digits compare as numbers: ttyUSB2 before ttyUSB10.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The place of a kernel tty name in the list.
int KindRank(const std::string& name) {
    if (StartsWith(name, "ttyUSB")) return 0;
    if (StartsWith(name, "ttyACM")) return 1;
    if (StartsWith(name, "ttyS")) return 3;
    return 2;
}

// Where a link points, as a whole path (udev writes them relative).
std::string LinkTarget(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec) return {};
    return (target.is_absolute() ? target : (link.parent_path() / target).lexically_normal())
        .string();
}

}  // namespace

PortListResult ListSerialPorts(const std::vector<std::string>& extraNames, const PortRoots& roots) {
    PortListResult result;
    std::vector<std::string> found;
    std::error_code ec;

    // Stable names first. A link left behind by an adapter that is gone
    // points nowhere: said, and not offered.
    const fs::path byId = fs::path(roots.dev) / "serial" / "by-id";
    std::vector<std::string> links;
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path link = byId / it->path().filename();
        std::error_code linkEc;
        if (fs::exists(link, linkEc)) {
            links.push_back(link.string());
        } else {
            result.problems.push_back("Порт " + link.string() +
                                      ": ссылка указывает на отсутствующее устройство " +
                                      LinkTarget(link) + ", порт не предлагается.");
        }
    }
    std::sort(links.begin(), links.end(), NaturalLess);
    found = links;

    std::vector<std::string> devices;
    ec.clear();
    fs::directory_iterator it(roots.sysClassTty, ec);
    if (ec) {
        result.ok = false;
    } else {
        for (const auto& entry : it) {
            std::error_code entryEc;
            if (!fs::exists(entry.path() / "device", entryEc)) continue;
            const std::string name = entry.path().filename().string();
            if (StartsWith(name, "ttyS") && !HasUart(entry.path())) continue;
            // The kernel knows it, but without its device file nobody can open it.
            if (!fs::exists(fs::path(roots.dev) / name, entryEc)) continue;
            devices.push_back(name);
        }
        std::sort(devices.begin(), devices.end(), [](const std::string& a, const std::string& b) {
            const int ra = KindRank(a), rb = KindRank(b);
            return ra != rb ? ra < rb : NaturalLess(a, b);
        });
        for (const auto& name : devices) found.push_back((fs::path(roots.dev) / name).string());
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

std::optional<std::string> MissingPortNote(const std::string& portName,
                                           const std::vector<std::string>& present) {
    const fs::path path = DevicePathForPortName(portName);
    std::error_code ec;
    if (fs::exists(path, ec)) return std::nullopt;
    std::string line = "Порт " + portName + " не найден";
    if (path.string() != portName) line += " (" + path.string() + ")";
    if (fs::is_symlink(fs::symlink_status(path, ec)))
        line += ": ссылка указывает на отсутствующее устройство " + LinkTarget(path);
    line += ".";
    if (present.empty()) {
        line += " Последовательных портов в системе нет: подключите адаптер.";
    } else {
        line += " Есть порты: ";
        for (size_t i = 0; i < present.size(); ++i) line += (i ? ", " : "") + present[i];
        line += ".";
    }
    return line;
}

bool SameDevice(const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(DevicePathForPortName(a), ea);
    const fs::path pb = fs::weakly_canonical(DevicePathForPortName(b), eb);
    if (ea || eb) return DevicePathForPortName(a) == DevicePathForPortName(b);
    return pa == pb;
}

}  // namespace korvane::platform
