#include "firmware/FirmwareImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "firmware/AxisLabels.h"
#include "platform/TextCodec.h"

namespace korvane::firmware {

LoadResult FirmwareImage::LoadFile(const std::string& path) {
    LoadResult result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = platform::SystemReason(errno);
        return result;
    }
    auto fail = [&](const std::string& error) {
        ::close(fd);
        result.error = error;
        return result;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(platform::SystemReason(errno));
    if (S_ISDIR(st.st_mode)) return fail(platform::SystemReason(EISDIR));
    // A device or pipe has no size to check and could stream for ever.
    if (!S_ISREG(st.st_mode)) return fail("это не обычный файл");
    if (st.st_size != static_cast<off_t>(kImageSize)) return fail(SizeError(st.st_size));
    // Read into a buffer first: a read that fails half way must not leave
    // half a file in the image. One byte more than the image tells a file
    // that grew since the size was looked at.
    std::vector<uint8_t> buffer(kImageSize + 1);
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(platform::SystemReason(errno));
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got != kImageSize) return fail(SizeError(static_cast<long long>(got)));
    ::close(fd);
    std::copy_n(buffer.begin(), kImageSize, bytes_.begin());
    result.ok = true;
    result.bytesRead = got;
    return result;
}

bool FirmwareImage::Store(std::size_t address, std::span<const uint8_t> bytes) {
    if (address > kImageSize || bytes.size() > kImageSize - address) return false;
    if (std::equal(bytes.begin(), bytes.end(), bytes_.begin() + address)) return true;
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + address);
    modified_ = true;
    if (listener_) listener_(address, bytes.size());
    return true;
}

std::string SizeError(long long size) {
    return "размер " + std::to_string(size) + " байт, а образ прошивки занимает ровно " +
           std::to_string(kImageSize) + " байт";
}

std::size_t FirmwareImage::Fill(std::span<const uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), kImageSize);
    std::copy_n(bytes.begin(), n, bytes_.begin());
    return n;
}

std::optional<int32_t> FindRpmStep(std::span<const uint8_t, kImageSize> image) {
    // The marker is an instruction that loads the row map's address; the byte
    // after it tells which step the map was built for. The last deciding
    // marker wins.
    static constexpr uint8_t kMarker[] = {0x90, 0x61, 0x3C, 0xE5};
    std::optional<int32_t> step;
    for (std::size_t i = 0; i + 4 < kImageSize; ++i) {
        if (!std::equal(std::begin(kMarker), std::end(kMarker), image.begin() + i)) continue;
        if (image[i + 4] == 0x54) step = 30;
        if (image[i + 4] == 0x55) step = 40;
    }
    return step;
}

// In both maps an entry is 16 x a grid position; integer comparisons stand
// for the division by 16 (k = T / 16 <=> 16k = T, and so on).
AxisLabels RowLabels(std::span<const uint8_t, kGridMapSize> map, int32_t rpmStep) {
    AxisLabels labels;
    int32_t acc = 0;
    int k = 1;
    for (std::size_t j = 1; j <= kGridMapSize; ++j) {
        const int t = map[j - 1];
        if (16 * k == t) {
            if (k < 16) labels[k] = acc;
            ++k;
        } else {
            if (t == 0) labels[0] = acc;
            // The map steps over position k between this entry and the next:
            // the label is the next entry's speed.
            if (j < kGridMapSize && t > 16 && 16 * k > t && 16 * k < map[j]) {
                if (k < 16) labels[k] = acc + rpmStep;
                ++k;
            }
        }
        acc += rpmStep;
    }
    labels[15] = rpmStep == 30 ? 7560 : 8000;
    return labels;
}

AxisLabels ColumnLabels(std::span<const uint8_t, kGridMapSize> map) {
    AxisLabels labels;
    labels[1] = 0;
    int32_t acc = 0;
    int k = 1;
    for (std::size_t j = 1; j <= kGridMapSize; ++j) {
        const int t = map[j - 1];
        if (16 * k == t) {
            if (k < 16) labels[k] = acc;
            ++k;
        } else if (j < kGridMapSize && t > 16 && 16 * k > t && 16 * k < map[j]) {
            // Stepped over: the earlier entry's opening.
            if (k < 16) labels[k] = acc;
            ++k;
        }
        acc += 1;
    }
    labels[0] = 0;
    labels[15] = 100;
    return labels;
}

std::array<int32_t, 16> FillGaps(const AxisLabels& labels) {
    std::array<int32_t, 16> out{};
    int previous = -1;
    for (int i = 0; i < 16; ++i) {
        if (!labels[i]) continue;
        out[i] = *labels[i];
        const int32_t to = *labels[i];
        if (previous < 0) {
            for (int g = 0; g < i; ++g) out[g] = to;
        } else {
            const int32_t from = *labels[previous];
            for (int g = previous + 1; g < i; ++g)
                out[g] = from + static_cast<int32_t>(std::lround(static_cast<double>(to - from) *
                                                                 (g - previous) / (i - previous)));
        }
        previous = i;
    }
    if (previous >= 0)
        for (int g = previous + 1; g < 16; ++g) out[g] = *labels[previous];
    return out;
}

GridLabels Namesstringgrid(std::span<const uint8_t, kImageSize> image) {
    GridLabels result{};
    const auto step = FindRpmStep(image);
    result.signatureFound = step.has_value();
    result.rpmStep = step.value_or(kDefaultRpmStep);
    result.rows = FillGaps(RowLabels(image.subspan<kRpmGridMap, kGridMapSize>(), result.rpmStep));
    result.cols = FillGaps(ColumnLabels(image.subspan<kThrottleGridMap, kGridMapSize>()));
    return result;
}

}  // namespace korvane::firmware
