#include "ecu/HandOver.h"

namespace korvane::ecu {

std::string BusyMailboxLine(const std::string& what, const std::string& word) {
    return what + ": ECU занят командой «" + word + "» дольше " +
           std::to_string(kMailboxWaitMs / 1000) + " с";
}

bool WaitForEmptyMailbox(const MailboxWait& w, const std::string& what) {
    int waited = 0;
    for (;;) {
        const std::string pending = w.pending();
        if (pending.empty()) return true;
        if (!w.linkUp()) return false;
        if (waited >= kMailboxWaitMs) {
            w.log(BusyMailboxLine(what, pending));
            return false;
        }
        w.wait(kMailboxWaitSliceMs);
        waited += kMailboxWaitSliceMs;
    }
}

}  // namespace korvane::ecu
