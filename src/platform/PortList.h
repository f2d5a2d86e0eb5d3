#pragma once
#include <string>
#include <vector>

namespace korvane::platform {

// The serial devices of this machine as names the serial layer can open:
// real serial devices (those under /sys/class/tty with a device behind them,
// legacy ttyS ports only when a UART answers there), then every extra name
// (for example the configured ports) that names an existing tty, so a
// simulator's or socat's link counts too. No name twice. ok is false when the
// system's list cannot be read at all.
struct PortListResult {
    bool ok = true;
    std::vector<std::string> names;
};
PortListResult ListSerialPorts(const std::vector<std::string>& extraNames,
                               const std::string& sysClassTty = "/sys/class/tty");

// True for a name the port pick lists take: "COM" in any letter case and at
// most five characters ("COM1".."COM99"), or a device path ("/dev/ttyUSB0").
bool IsListablePortName(const std::string& name);

}  // namespace korvane::platform
