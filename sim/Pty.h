// A pseudo-terminal pair that stands in for one serial device: the master
// side is ours, the slave side is the program's port, published under a
// symbolic link.
#pragma once
#include <string>

namespace korvane::sim {

class PtyDevice {
  public:
    PtyDevice() = default;
    ~PtyDevice() { Close(); }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // Opens the pair in raw mode and, when link is not empty, publishes the
    // slave path there (a stale link is replaced; any other file is refused).
    bool Open(const std::string& link, std::string* error);
    void Close();  // removes the link if it still points at our slave

    int Master() const { return master_; }
    int WatchFd() const { return inotify_; }
    const std::string& SlavePath() const { return slavePath_; }
    std::string Path() const { return link_.empty() ? slavePath_ : link_; }
    bool InUse() const { return openers_ > 0; }

    // Follows the opens and closes of the slave. A port that has just been
    // opened finds nothing stale waiting, as with a real device; once the
    // last opener has gone, the exclusive-use flag it set is cleared, which
    // a real device's last close does by itself.
    void HandleWatchEvents();

  private:
    int master_ = -1;
    int slave_ = -1;  // held so the master never sees a hang-up
    int inotify_ = -1;
    int openers_ = 0;
    std::string slavePath_;
    std::string link_;
};

}  // namespace korvane::sim
