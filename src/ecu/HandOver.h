#pragma once
// Handing a whole-table write (or the tuning's control byte) to the ECU
// worker from the window. The worker's queue keeps every write in order, so
// nothing posted is lost; these writes are still posted only onto an idle
// worker, so that each goes out with the tables as they are at that moment
// and a worker that has fallen behind (a firmware read, a slow line) is
// reported instead of buried under more writes. The window waits here for
// the worker to finish what it has.
#include <functional>
#include <string>

namespace korvane::ecu {

// How long a hand-over waits for the worker to become idle, in steps of the
// window's wait.
inline constexpr int kMailboxWaitMs = 3000;
inline constexpr int kMailboxWaitSliceMs = 50;

struct MailboxWait {
    // The word of the command the worker runs or has waiting
    // (EcuCommands::Pending), "" when it is idle.
    std::function<std::string()> pending;
    std::function<bool()> linkUp;      // the port is open and a session stands
    std::function<void(int ms)> wait;  // the window's wait: no other handler runs in it
    std::function<void(const std::string&)> log;
};

// True once the worker is idle. False when the link went down meanwhile
// (nothing logged: the caller's own link check says so) or when the worker
// stayed busy longer than kMailboxWaitMs; then BusyMailboxLine is logged
// with the command it was busy with.
bool WaitForEmptyMailbox(const MailboxWait& w, const std::string& what);
// "<what>: ECU занят командой «<word>» дольше 3 с"
std::string BusyMailboxLine(const std::string& what, const std::string& word);

}  // namespace korvane::ecu
