#pragma once
// Handing a command to the ECU worker from the window. The mailbox holds one
// word, so a post while it is full would replace a command still waiting
// there (a table write, say): every hand-over that must not do that waits
// here for the worker to finish first.
#include <functional>
#include <string>

namespace korvane::ecu {

// How long a hand-over waits for the worker to finish the command it holds,
// in steps of the window's wait.
inline constexpr int kMailboxWaitMs = 3000;
inline constexpr int kMailboxWaitSliceMs = 50;

struct MailboxWait {
    std::function<std::string()> pending;  // the word the worker still holds, "" when free
    std::function<bool()> linkUp;          // the port is open and a session stands
    std::function<void(int ms)> wait;      // the window's wait: no other handler runs in it
    std::function<void(const std::string&)> log;
};

// True once the mailbox is empty. False when the link went down meanwhile
// (nothing logged: the caller's own link check says so) or when the worker
// held its word longer than kMailboxWaitMs; then BusyMailboxLine is logged.
bool WaitForEmptyMailbox(const MailboxWait& w, const std::string& what);
// "<what>: ECU занят командой «<word>» дольше 3 с"
std::string BusyMailboxLine(const std::string& what, const std::string& word);

}  // namespace korvane::ecu
