#pragma once
#include <optional>
#include <string>
#include <vector>

namespace korvane::platform {

// Where the listing looks: the device folder and the kernel's tty classes.
// Tests point both into a folder of their own.
struct PortRoots {
    std::string dev = "/dev";
    std::string sysClassTty = "/sys/class/tty";
};

// The serial devices of this machine as names the serial layer can open, in
// the order a user picks from: the stable links under serial/by-id (they
// survive replugging, and their names carry the adapter's maker and serial
// number), then USB serial adapters (ttyUSB*), USB modems (ttyACM*), other
// serial devices the kernel knows, and the legacy ttyS ports that have a
// UART behind them; then every extra name (for example the configured
// ports) that names an existing tty, so a simulator's or socat's link
// counts too. No name twice; numbers in natural order (ttyS2 before ttyS10).
// ok is false when the kernel's list cannot be read at all; problems holds
// a log line for each by-id link that points nowhere.
struct PortListResult {
    bool ok = true;
    std::vector<std::string> names;
    std::vector<std::string> problems;
    // Where the system gives one, what a user recognises a port by, one per
    // name ("USB Serial Port (COM5)" on Windows); empty otherwise.
    std::vector<std::string> friendlyNames;
};
PortListResult ListSerialPorts(const std::vector<std::string>& extraNames,
                               const PortRoots& roots = {});

#ifdef _WIN32
// Windows: one COM port of the system's device list, as the device manager
// shows it, and the names of the ports the serial drivers have announced.
// ComPortList merges both with the extra names that open (opens() says so)
// into the list a user picks from: COM ports in natural order (COM2 before
// COM10), each once, with its friendly name where the device list has one.
struct ComDevice {
    std::string portName;      // "COM5"
    std::string friendlyName;  // "USB Serial Port (COM5)"
};
PortListResult ComPortList(const std::vector<ComDevice>& devices,
                           const std::vector<std::string>& announced,
                           const std::vector<std::string>& extraNames,
                           bool (*opens)(const std::string& portName));
#endif

// True for a name the port pick lists take: "COM" in any letter case and at
// most five characters ("COM1".."COM99"), or a device path ("/dev/ttyUSB0").
bool IsListablePortName(const std::string& name);

// When the device a port name stands for is not there now: one log line
// saying so (and where a dangling link points), with the ports that are
// present. Nothing when it is there.
std::optional<std::string> MissingPortNote(const std::string& portName,
                                           const std::vector<std::string>& present);

// True when two port names reach the same device once links are resolved
// ("COM1", "/dev/ttyS0" and a link to it are one device).
bool SameDevice(const std::string& a, const std::string& b);

}  // namespace korvane::platform
