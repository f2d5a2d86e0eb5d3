#pragma once
// A pseudo-terminal pair for tests of the real serial layer: the test holds
// the master and plays the device; the code under test opens the slave.
#include <pty.h>
#include <unistd.h>

#include <string>

#include "platform/SerialPort.h"

namespace korvane::test {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[256];
        if (::openpty(&master, &s, name, nullptr, nullptr) == 0) {
            slave = name;
            ::close(s);
        }
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    // The speed the slave side was given.
    int SlaveSpeed() const { return platform::LineSpeedOf(master); }
};

}  // namespace korvane::test
