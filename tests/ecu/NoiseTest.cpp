// Whatever comes down the line, the codec and the exchange read no byte
// that did not arrive and never take noise for an answer.
#include <gtest/gtest.h>

#include <random>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"

using namespace korvane;
using namespace korvane::ecu;

TEST(Noise, ParsingNeverReachesBeyondTheBytesGiven) {
    std::mt19937 rng(20261210);
    for (int i = 0; i < 20000; ++i) {
        Bytes bytes(rng() % 300);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        // Half of them start like an answer, so the length rules get exercised.
        if (!bytes.empty() && i % 2) bytes[0] = static_cast<uint8_t>(0x80 | (rng() % 0x40));
        const auto frame = ParseFrame(bytes);
        if (!frame) continue;
        ASSERT_LE(frame->size, bytes.size());
        ASSERT_LT(frame->data.size(), frame->size);
        uint8_t sum = 0;
        for (size_t k = 0; k + 1 < frame->size; ++k) sum = static_cast<uint8_t>(sum + bytes[k]);
        ASSERT_EQ(sum, bytes[frame->size - 1]);
    }
}

TEST(Noise, ExchangeWithNoiseForAnAnswerFailsCleanly) {
    std::mt19937 rng(42);
    ecu::test::FakeLinkRig rig;  // its scripted ECU is replaced by the noise below
    auto& port = rig.port;
    auto& fields = rig.fields;
    auto& link = rig.link;
    fields.PortName = "COM3";
    fields.PortSpeed = "38400";
    fields.PortTimeOut = 0;
    fields.PortReadTimeOut = 5;

    const Bytes request = {0x21, 0x0F};
    const size_t frameSize = BuildFrame(request).size();
    size_t written = 0;
    bool echo = true;
    port.onWrite = [&](uint8_t b) {
        if (echo) port.Feed({b});
        if (++written % frameSize == 0) {
            Bytes noise(rng() % 80);
            for (auto& x : noise) x = static_cast<uint8_t>(rng());
            port.Feed(noise);
        }
    };
    int withEcho = 0;
    for (int i = 0; i < 2000; ++i) {
        if (fields.IsComConnected == 0) {
            ASSERT_TRUE(link.OpenPort());
        }
        fields.error = 0;
        echo = (i % 7) != 0;  // now and then the adapter's echo is missing too
        written = 0;
        Bytes drain(256);
        while (port.ReadNow(drain.data(), 256) > 0) {
        }
        const int32_t errors = fields.error;
        if (link.SendRequest(request)) {
            ++withEcho;
            // The echo was right, the noise after it was no answer: the
            // fault is counted and no frame the live view would decode is
            // left behind.
            EXPECT_EQ(fields.error, errors + 1);
            ASSERT_NE(fields.DiagnosticInfo.Size(), 51u);
        }
    }
    EXPECT_GT(withEcho, 1000);
}
