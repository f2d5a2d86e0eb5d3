// The LC-1 reader fed an arbitrary byte stream: every reading it publishes
// is 0 (none) or an air/fuel ratio the controller's lambda word can give,
// the text and the number agree, what the flags let the window use is a
// reading, and the loop never stalls on the stream.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "lambda/LAMBDAThread.h"
#include "platform/NumberText.h"
#include "platform/UiBridge.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/FakeSerialPort.h"
#include "platform/fakes/ForwardingSerialPort.h"

using namespace korvane;

namespace {

// AFR = (L + 500) / 1000 * 14.7 for the lambda word L of 0..1539.
constexpr double kMinAfr = 7.35;
constexpr double kMaxAfr = 2039 * 14.7 / 1000;

void CheckDecode(std::span<const uint8_t> four) {
    const std::string dot = lambda::DecodeAfr(four, '.');
    const std::string comma = lambda::DecodeAfr(four, ',');
    if (dot == "0") {
        FUZZ_CHECK(comma == "0");
        return;
    }
    // Only a lambda packet (function 000) with a word below 1540 reads.
    FUZZ_CHECK(((four[0] >> 2) & 0x07) == 0);
    const int word = (four[2] & 0x7F) * 128 + (four[3] & 0x7F);
    FUZZ_CHECK(word < 1540);
    const auto value = platform::ParseDecimal(dot);
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(*value >= kMinAfr - 1e-9 && *value <= kMaxAfr + 0.005);
    FUZZ_CHECK(std::fabs(*value - (word + 500) * 14.7 / 1000) <= 0.005 + 1e-9);
    // Two decimals at most; the separator is the only difference.
    const auto sep = dot.find('.');
    FUZZ_CHECK(sep == std::string::npos || dot.size() - sep - 1 <= 2);
    std::string expected = dot;
    if (sep != std::string::npos) expected[sep] = ',';
    FUZZ_CHECK(comma == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Every four bytes of the input as a packet's payload.
    for (size_t i = 0; i + 4 <= size; i += 4) CheckDecode(std::span<const uint8_t>(data + i, 4));
    FUZZ_CHECK(
        lambda::DecodeAfr(std::span<const uint8_t>(data, std::min<size_t>(size, 3))).empty());

    // The whole input as the stream on the line.
    platform::FakeClock clock;
    platform::FakeSerialPort port{&clock};
    platform::DirectUiBridge bridge;
    lambda::TLAMBDAThread reader(
        bridge, [](const std::string& line) { FUZZ_CHECK(!line.empty()); },
        std::make_unique<platform::ForwardingSerialPort>(port), clock,
        lambda::LambdaOptions{.readTimeoutMs = 1, .decimalSeparator = ','});
    reader.PortName.Set("fuzz");
    reader.PortTimeOut = 1;
    reader.Command.Post("OpenComPort");
    reader.Pass();
    FUZZ_CHECK(reader.IsComConnected == 1);
    port.Feed(std::vector<uint8_t>(data, data + size));

    // Each pass takes at least one byte while there are any, so the stream
    // is through after at most `size` passes; a few more meet the empty line.
    for (size_t pass = 0; pass < size + 3 && reader.IsComConnected == 1; ++pass) {
        const size_t before = port.Pending();
        reader.Pass();
        if (before > 0) FUZZ_CHECK(port.Pending() < before);

        const double afr = reader.AFR;
        FUZZ_CHECK(afr == 0.0 || (afr >= kMinAfr - 1e-9 && afr <= kMaxAfr + 0.005));
        const std::string text = reader.AFRs.Get();
        if (!text.empty()) {
            const auto shown = platform::ParseDecimal(text);
            FUZZ_CHECK(shown.has_value() && *shown == afr);
        }
        // What the window takes as a reading is one; a data error shows 0,
        // and so does a controller warming its sensor (a state, not a reading).
        const bool usable = reader.IsComConnected == 1 && reader.IsLambdaConnected == 1;
        const int32_t warmUp = reader.WarmUpPercent;
        FUZZ_CHECK(warmUp >= -1 && warmUp <= 100);
        if (warmUp >= 0) FUZZ_CHECK(afr == 0.0);
        if (usable && reader.IsLambdaError == 0 && warmUp < 0) FUZZ_CHECK(afr >= kMinAfr - 1e-9);
        if (usable && reader.IsLambdaError == 1) FUZZ_CHECK(afr == 0.0);
        FUZZ_CHECK(reader.err >= 0 && reader.err2 >= reader.err);
    }
    FUZZ_CHECK(port.Pending() == 0 || reader.IsComConnected == 0);
    return 0;
}
