#pragma once
// The periodic copy of the image in the working folder. A save replaces the
// file whole (temporary file, then rename), so a crash or a full disk never
// leaves a torn image; a save that would write what is already there is
// skipped.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "firmware/FirmwareImage.h"

namespace korvane::firmware {

struct SaveOutcome {
    enum Kind {
        kSaved,      // written to path
        kUnchanged,  // path already holds these bytes from the last save
        kNoPlace,    // no working folder or no usable file name: nothing written
        kFailed,     // the system refused; error says why
    };
    Kind kind = kNoPlace;
    std::string path;
    std::string error;
};

class ImageSaver {
  public:
    // Where the image named fileName goes inside dateDir: only the name part
    // counts, so an absolute name or one with folders still lands in dateDir.
    // Empty when there is no folder or no name.
    static std::string TargetPath(const std::string& dateDir, const std::string& fileName);

    SaveOutcome Save(std::span<const uint8_t, kImageSize> image, const std::string& dateDir,
                     const std::string& fileName);

    // The next save writes even if the bytes are the same (the file may have
    // been touched by someone else).
    void Forget() { lastPath_.clear(); }
    const std::string& LastPath() const { return lastPath_; }

  private:
    std::string lastPath_;  // empty: nothing saved yet
    std::array<uint8_t, kImageSize> lastBytes_{};
};

// "Save as": the image into a file the user names, replaced whole (temporary
// file, then rename) like the periodic copy. The file the image was opened
// from is replaced only once the user has agreed, whatever name reaches it
// (another spelling of the path, a link).
struct SaveAsOutcome {
    enum Kind {
        kSaved,
        kAskFirst,  // the target is the opened file: nothing written yet
        kFailed,    // the system refused; error says why, nothing changed
    };
    Kind kind = kFailed;
    std::string error;
};
// Whether two paths reach the same file. A path that names nothing yet is
// compared by its place in the file system.
bool SameFile(const std::string& a, const std::string& b);
SaveAsOutcome SaveImageAs(std::span<const uint8_t, kImageSize> image, const std::string& path,
                          const std::string& openedFrom, bool replaceOpenedAgreed);

}  // namespace korvane::firmware
