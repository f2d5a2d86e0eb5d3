#pragma once
// The 64 KiB firmware image the program works on: byte n is the content of
// ECU address n. Loading image files, the tuning grid's axis labels derived
// from two of its tables. No Qt, no widgets.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/ImageSize.h"

namespace korvane::firmware {

using korvane::kImageSize;

// Tables of the image the axis labels come from.
constexpr std::size_t kRpmGridMap = 0x613C;       // engine-speed step m -> grid row x 16
constexpr std::size_t kThrottleGridMap = 0x7208;  // throttle m % -> grid column x 16
constexpr std::size_t kGridMapSize = 256;

// Engine-speed step of the row map when the image carries no step marker.
constexpr int32_t kDefaultRpmStep = 40;

// The outcome of reading an image file.
struct LoadResult {
    bool ok = false;
    std::size_t bytesRead = 0;  // bytes placed into the image from offset 0
    std::string error;          // the system's reason when !ok
    explicit operator bool() const { return ok; }
};

// The reason a file of this many bytes is no image.
std::string SizeError(long long size);

class FirmwareImage {
  public:
    std::span<uint8_t, kImageSize> Bytes() { return bytes_; }
    std::span<const uint8_t, kImageSize> Bytes() const { return bytes_; }

    // Reads an image file: a regular file of exactly kImageSize bytes. Any
    // other file (shorter, longer, a folder, a device) is refused with the
    // reason, its size included, and the image stays as it was: a table
    // taken from a wrong file would reach a running engine. The image
    // changes only when the whole read succeeded. FirmwareLoaded is left to
    // the caller.
    LoadResult LoadFile(const std::string& path);
    // Copies bytes (at most kImageSize) into the image from offset 0; returns
    // how many were copied.
    std::size_t Fill(std::span<const uint8_t> bytes);

    // An edit of the image: copies bytes to address (clipped to the image),
    // marks the image changed since it was loaded or saved, and tells the
    // change listener which range changed (only when a byte differs). Every
    // writer after a load goes through here, so the mark and whoever keeps
    // the ECU in step with the image learn of every change. Returns false
    // (and changes nothing) when the range reaches past the image.
    bool Store(std::size_t address, std::span<const uint8_t> bytes);
    bool Store(std::size_t address, uint8_t byte) { return Store(address, {&byte, 1}); }

    // "Changed since loaded or saved": set by Store, cleared by the loader
    // or the saver of the image (the one that wrote exactly these bytes).
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }

    // Told of every range Store changed: address and length.
    using ChangeListener = std::function<void(std::size_t address, std::size_t length)>;
    void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }

    // The image holds a loaded or read firmware (never cleared again).
    bool FirmwareLoaded = false;
    // The name the periodic save uses inside the working folder.
    std::string FirmwareFileName;
    // Engine-speed step of the row map, from the last label derivation.
    int32_t RpmStep = kDefaultRpmStep;

  private:
    std::array<uint8_t, kImageSize> bytes_{};
    bool modified_ = false;
    ChangeListener listener_;
};

// The tuning grid's axis labels: rows are engine speeds (rpm), columns
// throttle openings (%).
struct GridLabels {
    std::array<int32_t, 16> rows;
    std::array<int32_t, 16> cols;
    int32_t rpmStep;
    bool signatureFound;  // false: rpmStep is kDefaultRpmStep
};

// Derives the labels from the image's two grid maps. Every label is a number
// and positions no map entry reaches are filled from their neighbours.
GridLabels Namesstringgrid(std::span<const uint8_t, kImageSize> image);

}  // namespace korvane::firmware
