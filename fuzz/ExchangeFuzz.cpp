// The K-line exchange fed whatever the line delivers: the session start,
// then polls, memory reads and writes, tester presents and the session stop,
// each answered by the next chunk of the input. Echo and answer are only
// ever taken from the bytes that arrived, an exchange reports success only
// for the answer its request expects, a read hands over exactly the bytes
// asked for, and after the eleventh error in a row the link is down and
// sends nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "FuzzCheck.h"
#include "ecu/EcuLink.h"
#include "ecu/Frame.h"
#include "live/FrameDecoder.h"
#include "platform/UiBridge.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/FakeSerialPort.h"
#include "platform/fakes/ForwardingSerialPort.h"

using namespace korvane;
using namespace korvane::ecu;

namespace {

class QuietView final : public LogView {
  public:
    void AppendLine(const std::string& line) override { FUZZ_CHECK(!line.empty()); }
    void ReplaceLastLine(const std::string& line) override { FUZZ_CHECK(!line.empty()); }
    void SetProgress(int, int) override {}
};

// Turns the fast exchange on where the link has one.
template <class Fields>
void SetFastExchange(Fields& fields, bool on) {
    if constexpr (requires { fields.FastExchange; }) fields.FastExchange = on ? 1 : 0;
}

struct Rig {
    platform::FakeClock clock;
    platform::FakeSerialPort port{&clock};
    platform::DirectUiBridge bridge;
    QuietView view;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    EcuLink link{fields, log,
                 [this] { return std::make_unique<platform::ForwardingSerialPort>(port); }, clock};

    // What the line holds for the program, mirrored so the bytes an exchange
    // took can be told afterwards.
    std::deque<uint8_t> queued;
    std::vector<uint8_t> nextChunk;
    size_t frameSize = 0;
    size_t written = 0;

    Rig() {
        port.onWrite = [this](uint8_t) {
            // The adapter and the ECU speak once the whole request is out.
            if (++written == frameSize) {
                port.Feed(nextChunk);
                queued.insert(queued.end(), nextChunk.begin(), nextChunk.end());
            }
        };
    }
};

// Runs one request against `chunk` and checks what the link made of it.
void Exchange(Rig& rig, const Bytes& payload, std::vector<uint8_t> chunk) {
    const Bytes frame = BuildFrame(payload);
    const bool wasOpen = rig.fields.IsComConnected == 1;
    const int32_t errorsBefore = rig.fields.error;
    rig.frameSize = frame.size();
    rig.written = 0;
    rig.nextChunk = std::move(chunk);
    const size_t writtenBefore = rig.port.Written().size();
    const size_t queuedBefore = rig.queued.size();
    rig.link.TakeLastReadData();

    const bool ok = rig.link.SendRequest(payload);

    // The bytes this exchange took off the line.
    const size_t left = rig.port.Pending();
    FUZZ_CHECK(left <= rig.queued.size());
    const size_t taken = rig.queued.size() - left;
    const Bytes received(rig.queued.begin(), rig.queued.begin() + static_cast<ptrdiff_t>(taken));
    rig.queued.erase(rig.queued.begin(), rig.queued.begin() + static_cast<ptrdiff_t>(taken));

    if (!wasOpen) {
        // A closed link writes and reads nothing and reports failure.
        FUZZ_CHECK(!ok);
        FUZZ_CHECK(rig.port.Written().size() == writtenBefore);
        FUZZ_CHECK(taken == 0 && queuedBefore == rig.queued.size());
        return;
    }
    FUZZ_CHECK(rig.port.Written().size() == writtenBefore + frame.size());

    const Bytes& answer = rig.link.LastAnswer();
    if (!rig.link.LastEchoOk()) {
        FUZZ_CHECK(!ok);
        FUZZ_CHECK(answer.empty());
        return;
    }
    // The echo is the sent frame among the bytes that arrived (what came
    // before it belongs to no request of this exchange).
    const auto echoAt = std::search(received.begin(), received.end(), frame.begin(), frame.end());
    FUZZ_CHECK(echoAt != received.end());
    if (!answer.empty()) {
        // The answer is a whole, sound frame among the received bytes after
        // the echo.
        bool found = false;
        const size_t from = static_cast<size_t>(echoAt - received.begin()) + frame.size();
        for (size_t at = from; at < received.size() && !found; ++at) {
            const auto f = ParseFrame(std::span<const uint8_t>(received).subspan(at));
            found = f && f->data == answer;
        }
        FUZZ_CHECK(found);
    }

    const auto is = [&](std::initializer_list<uint8_t> expected) {
        return answer.size() == expected.size() &&
               std::equal(expected.begin(), expected.end(), answer.begin());
    };
    const uint8_t service = payload[0];
    if (ok) {
        switch (service) {
            case 0x81:
                FUZZ_CHECK(is({0xC1, 0x6B, 0x8F}));
                break;
            case 0x82:
                FUZZ_CHECK(is({0xC2}));
                break;
            case 0x20:
                FUZZ_CHECK(is({0x60}));
                break;
            case 0x3E:
                FUZZ_CHECK(is({0x7E}));
                break;
            case 0x30:
                FUZZ_CHECK(is({0x70, 0x0F, 0x06, 0x01}));
                break;
            case 0x23: {
                const size_t n = payload[4];
                FUZZ_CHECK(n <= 0x60);
                FUZZ_CHECK(answer.size() == n + 1 && answer[0] == 0x63);
                const Bytes data = rig.link.TakeLastReadData();
                FUZZ_CHECK(data.size() == n);
                FUZZ_CHECK(std::equal(data.begin(), data.end(), answer.begin() + 1));
                break;
            }
            case 0x3D:
                FUZZ_CHECK(false);
                break;  // no answer confirms a write here
            default:
                break;
        }
    } else if (service == 0x23) {
        FUZZ_CHECK(rig.link.TakeLastReadData().empty());
    }
    if (service == 0x21) {
        // The frame store holds the answer's data after 61 0F, or nothing.
        const Bytes info = rig.fields.DiagnosticInfo.Copy();
        if (answer.size() >= 3) {
            FUZZ_CHECK(info.size() == answer.size() - 2);
            FUZZ_CHECK(std::equal(info.begin(), info.end(), answer.begin() + 2));
        } else {
            FUZZ_CHECK(info.empty());
        }
        live::LiveValues values;
        if (live::DecodeFrame(info, values)) {
            FUZZ_CHECK(info.size() == live::kDiagnosticFrameSize);
            FUZZ_CHECK(values.Afr >= 7.35 && values.Afr <= 21.99);
            FUZZ_CHECK(values.Rpm >= 0 && values.Rpm <= 40.0 * 255);
            FUZZ_CHECK(values.IgnAdvance >= -127.5 && values.IgnAdvance <= 63.5);
            FUZZ_CHECK(std::isfinite(values.FuelPerHour) && std::isfinite(values.CyclicAirFlow));
        } else {
            FUZZ_CHECK(info.size() != live::kDiagnosticFrameSize);
        }
    }
    // Errors only grow, and past the limit of errors in a row the link is
    // down.
    FUZZ_CHECK(rig.fields.error >= errorsBefore);
    if (rig.link.ErrorsInRow() > EcuLink::kMaxErrors) {
        FUZZ_CHECK(rig.fields.IsComConnected == 0 && rig.fields.IsECUConnected == 0);
        FUZZ_CHECK(rig.link.Port() == nullptr);
    }
}

std::vector<uint8_t> NextChunk(FuzzedDataProvider& in) {
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Rig rig;
    static const char* const kSpeeds[] = {"10400", "38400", "57600", "9600", ""};
    rig.fields.PortName = "fuzz";
    rig.fields.PortSpeed = kSpeeds[in.ConsumeIntegralInRange<size_t>(0, 4)];
    rig.fields.PortTimeOut = 0;
    rig.fields.PortReadTimeOut = 1;
    SetFastExchange(rig.fields, in.ConsumeBool());
    FUZZ_CHECK(rig.link.OpenPort());
    rig.fields.IsECUConnected = 1;

    // The session start's five requests, in the order the link sends them.
    const Bytes start[] = {{0x81},
                           {0x10, 0x81, 0x26},
                           {0x3E, 0x01},
                           {0x30, 0x0F, 0x06, 0x01},
                           {0x23, 0x00, 0xF3, 0x00, 0x08}};
    if (in.ConsumeBool()) {
        for (const Bytes& request : start) Exchange(rig, request, NextChunk(in));
    }

    while (in.remaining_bytes() > 0) {
        // A dropped link is opened again, as a reconnect does.
        if (rig.fields.IsComConnected == 0 && in.ConsumeBool()) {
            rig.fields.error = 0;
            FUZZ_CHECK(rig.link.OpenPort());
            rig.fields.IsECUConnected = 1;
        }
        Bytes request;
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
                request = {0x21, 0x0F};
                break;
            case 1: {
                const auto address = in.ConsumeIntegral<uint16_t>();
                request = {0x23, 0x00, static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address), in.ConsumeIntegral<uint8_t>()};
                break;
            }
            case 2: {
                const auto address = in.ConsumeIntegral<uint16_t>();
                const auto n = in.ConsumeIntegralInRange<uint8_t>(1, 0x40);
                request = {0x3D, 0x00, static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address), n};
                request.resize(5 + n, 0x80);
                break;
            }
            case 3:
                request = {0x3E, 0x01};
                break;
            case 4:
                request = {0x20};
                break;
            case 5:
                request = {0x82};
                break;
            case 6:
                request = {0x81};
                break;
            default:
                request = start[in.ConsumeIntegralInRange<size_t>(1, 3)];
                break;
        }
        Exchange(rig, request, NextChunk(in));
    }
    return 0;
}
