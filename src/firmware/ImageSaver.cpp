#include "firmware/ImageSaver.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace korvane::firmware {

std::string ImageSaver::TargetPath(const std::string& dateDir, const std::string& fileName) {
    if (dateDir.empty()) return {};
    const std::string name = platform::PathText(platform::Utf8Path(fileName).filename());
    if (name.empty() || name == "." || name == "..") return {};
    return dateDir + "/" + name;
}

SaveOutcome ImageSaver::Save(std::span<const uint8_t, kImageSize> image, const std::string& dateDir,
                             const std::string& fileName) {
    SaveOutcome out;
    out.path = TargetPath(dateDir, fileName);
    if (out.path.empty()) {
        out.kind = SaveOutcome::kNoPlace;
        return out;
    }
    // Skipped only while the file is still there whole: one removed by hand
    // is written again.
    std::error_code ec;
    if (out.path == lastPath_ &&
        std::filesystem::file_size(platform::Utf8Path(out.path), ec) == kImageSize && !ec &&
        std::equal(image.begin(), image.end(), lastBytes_.begin())) {
        out.kind = SaveOutcome::kUnchanged;
        return out;
    }
    const std::string bytes(image.begin(), image.end());
    // A session folder that could not be made when it was named is made
    // now, so the copies catch up once the disk lets them.
    std::filesystem::create_directories(platform::Utf8Path(dateDir), ec);
    if (!platform::WriteFileAtomically(out.path, bytes, out.error)) {
        out.kind = SaveOutcome::kFailed;
        return out;
    }
    out.kind = SaveOutcome::kSaved;
    lastPath_ = out.path;
    std::copy(image.begin(), image.end(), lastBytes_.begin());
    return out;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa = {};
    struct stat sb = {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const auto pa = std::filesystem::weakly_canonical(platform::Utf8Path(a), ea);
    const auto pb = std::filesystem::weakly_canonical(platform::Utf8Path(b), eb);
    return !ea && !eb && pa == pb;
}

SaveAsOutcome SaveImageAs(std::span<const uint8_t, kImageSize> image, const std::string& path,
                          const std::string& openedFrom, bool replaceOpenedAgreed) {
    SaveAsOutcome out;
    if (!replaceOpenedAgreed && SameFile(path, openedFrom)) {
        out.kind = SaveAsOutcome::kAskFirst;
        return out;
    }
    if (platform::WriteFileAtomically(path, std::string(image.begin(), image.end()), out.error))
        out.kind = SaveAsOutcome::kSaved;
    return out;
}

}  // namespace korvane::firmware
