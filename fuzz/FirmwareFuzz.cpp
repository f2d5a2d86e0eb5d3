// Image files of any length and content: the loader places the file's first
// 64 KiB from offset 0 and leaves the rest of the image alone; the grid
// labels derived from any image are numbers within what the maps can say.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "firmware/FirmwareImage.h"
#include "platform/TextCodec.h"

using namespace korvane;
using namespace korvane::firmware;

namespace {

void CheckLabels(const FirmwareImage& image) {
    const GridLabels labels = Namesstringgrid(image.Bytes());
    FUZZ_CHECK(labels.rpmStep == 30 || labels.rpmStep == 40);
    FUZZ_CHECK(labels.signatureFound || labels.rpmStep == kDefaultRpmStep);
    // A row is an engine speed the map reaches: at most 256 steps; the last
    // row is the fixed top speed of the step.
    const int32_t topRpm = 256 * labels.rpmStep;
    for (int32_t rpm : labels.rows) FUZZ_CHECK(rpm >= 0 && rpm <= topRpm);
    FUZZ_CHECK(labels.rows[15] == (labels.rpmStep == 30 ? 7560 : 8000));
    // A column is an opening in % the map reaches: 0..255 entries.
    for (int32_t pct : labels.cols) FUZZ_CHECK(pct >= 0 && pct <= 255);
    FUZZ_CHECK(labels.cols[0] == 0 && labels.cols[15] == 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The image on the heap: 64 KiB is too much for a fuzzer's stack frame.
    auto image = std::make_unique<FirmwareImage>();
    std::fill(image->Bytes().begin(), image->Bytes().end(), uint8_t{0xA5});

    // The input as an image file.
    const std::string path = fuzz::Scratch::Dir() + "/image.bin";
    std::string error;
    FUZZ_CHECK(platform::WriteFileAtomically(
        path, std::string(reinterpret_cast<const char*>(data), size), error));
    // Only a whole image loads; anything else leaves the image as it was.
    const LoadResult loaded = image->LoadFile(path);
    const size_t placed = std::min(size, kImageSize);
    if (size == kImageSize) {
        FUZZ_CHECK(loaded.ok && loaded.error.empty() && loaded.bytesRead == kImageSize);
        FUZZ_CHECK(std::equal(data, data + size, image->Bytes().begin()));
    } else {
        FUZZ_CHECK(!loaded.ok && !loaded.error.empty() && loaded.bytesRead == 0);
        FUZZ_CHECK(std::all_of(image->Bytes().begin(), image->Bytes().end(),
                               [](uint8_t b) { return b == 0xA5; }));
    }
    CheckLabels(*image);

    // The input as the two grid maps and a patch of code around the step
    // marker's usual place, which is where the labels come from.
    FuzzedDataProvider in(data, size);
    auto grid = std::make_unique<FirmwareImage>();
    const auto rows = in.ConsumeBytes<uint8_t>(kGridMapSize);
    const auto cols = in.ConsumeBytes<uint8_t>(kGridMapSize);
    const auto code = in.ConsumeRemainingBytes<uint8_t>();
    std::copy(rows.begin(), rows.end(), grid->Bytes().begin() + kRpmGridMap);
    std::copy(cols.begin(), cols.end(), grid->Bytes().begin() + kThrottleGridMap);
    std::copy_n(code.begin(), std::min<size_t>(code.size(), 0x400), grid->Bytes().begin() + 0x0A40);
    CheckLabels(*grid);
    // Bytes handed over whole take at most one image's worth.
    FUZZ_CHECK(grid->Fill(std::span<const uint8_t>(data, size)) == placed);
    FUZZ_CHECK(std::equal(data, data + placed, grid->Bytes().begin()));
    return 0;
}
