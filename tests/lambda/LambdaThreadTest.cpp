// The reader on its own thread: what the window reads while it runs, the
// real byte time-out on a pseudo-terminal, and ending the thread.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "LambdaTestSupport.h"
#include "lambda/LAMBDAThread.h"
#include "platform/fakes/CountingClock.h"
#include "platform/fakes/FakeSerialPort.h"

using namespace korvane;
using namespace std::chrono_literals;
using korvane::lambda::TLAMBDAThread;
using korvane::lambda::test::WaitFor;

namespace {

// Like the window's bridge while its UI thread is busy elsewhere: posted
// actions queue up until the test runs them; an action that insists on
// waiting for the UI thread waits until the bridge is released.
class HeldUiBridge final : public platform::UiBridge {
  public:
    void RunSync(const std::function<void()>&) override {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return released_; });
    }
    void Post(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        if (!released_) held_.push_back(std::move(fn));
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }
    // Runs what was posted so far, in order.
    void RunHeld() {
        std::vector<std::function<void()>> held;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
        }
        for (auto& fn : held) fn();
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::function<void()>> held_;
    bool released_ = false;
};

// The reader hands its log lines over and reads on: a window that takes
// them late never holds up a reading, and gets them in order.
TEST(LambdaThread, ReadsOnWhileItsLogLinesWaitForTheWindow) {
    HeldUiBridge bridge;
    lambda::test::LogRecorder log;
    auto fake = std::make_unique<platform::FakeSerialPort>(&platform::SystemClock::Instance());
    auto* port = fake.get();
    TLAMBDAThread reader(bridge, [&](const std::string& l) { log.Append(l); }, std::move(fake),
                         platform::SystemClock::Instance(), {.readTimeoutMs = 20});
    // A packet with a data error (its line waits too), then 14.7.
    port->Feed({0xB2, 0x82, 0x43, 0x13, 0x0F, 0x7F, 0xB2, 0x82, 0x43, 0x13, 0x03, 0x74});
    reader.PortName.Set("COM2");
    reader.Start();
    reader.Command.Post("OpenComPort");
    const bool readOn = WaitFor([&] { return reader.Status().AFR == 14.7; }, 3s);
    bridge.RunHeld();
    const auto lines = log.Lines();
    bridge.Release();
    reader.Stop();
    ASSERT_TRUE(readOn);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "LAMBDA:>> COM2 Открытие порта...");
    EXPECT_EQ(lines[1], "LAMBDA:<< Ошибка данных0");
    EXPECT_FALSE(port->IsOpen());
}

// With nothing to do (port closed, or a word it does not carry out holding
// reading up) the reader waits for the next word instead of waking up.
TEST(LambdaThread, IdleReaderWaitsForAWord) {
    platform::DirectUiBridge bridge;
    platform::CountingClock clock;
    auto fake = std::make_unique<platform::FakeSerialPort>(&platform::SystemClock::Instance());
    auto* port = fake.get();
    TLAMBDAThread reader(bridge, nullptr, std::move(fake), clock, {.readTimeoutMs = 20});
    reader.Start();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(clock.sleeps, 1);

    reader.Command.Post("ReadAll");
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(clock.sleeps, 1);
    EXPECT_EQ(reader.Command.Word(), "ReadAll");

    // The next word is taken at once.
    reader.Command.Post("OpenComPort");
    EXPECT_TRUE(WaitFor([&] { return reader.IsComConnected == 1; }, 2s));
    EXPECT_TRUE(port->IsOpen());
    reader.Stop();
}

TEST(LambdaThread, WindowSeesOnlyWholeReadings) {
    platform::DirectUiBridge bridge;
    lambda::test::LogRecorder log;
    auto fake = std::make_unique<platform::FakeSerialPort>(&platform::SystemClock::Instance());
    auto* port = fake.get();
    TLAMBDAThread reader(bridge, [&](const std::string& l) { log.Append(l); }, std::move(fake),
                         platform::SystemClock::Instance(), {.readTimeoutMs = 20});
    // Four readings in turn: 7.35, 14.7, 18.49 and 29.97.
    const std::vector<std::vector<uint8_t>> packets{{0xB2, 0x82, 0x43, 0x13, 0x00, 0x00},
                                                    {0xB2, 0x82, 0x43, 0x13, 0x03, 0x74},
                                                    {0xB2, 0x82, 0x43, 0x13, 0x05, 0x76},
                                                    {0xB2, 0x82, 0x43, 0x13, 0x0C, 0x03}};
    const std::set<double> valid{0.0, 7.35, 14.7, 18.49, 29.97};
    for (int i = 0; i < 40; ++i) port->Feed(packets[static_cast<size_t>(i) % packets.size()]);
    reader.Start();
    reader.PortName.Set("COM2");
    reader.PortSpeed.Set("19200");
    reader.Command.Post("OpenComPort");
    std::set<double> seen;
    while (port->Pending() > 0) {
        const double afr = reader.AFR.load();
        ASSERT_EQ(valid.count(afr), 1u) << afr;
        seen.insert(afr);
        (void)reader.AFRs.Get();
    }
    ASSERT_TRUE(WaitFor([&] { return reader.AFR.load() == 29.97; }));
    EXPECT_GE(seen.size(), 3u);
    EXPECT_EQ(reader.IsLambdaConnected, 1);
    EXPECT_EQ(reader.IsLambdaError, 0);

    reader.Command.Post("CloseComPort");
    ASSERT_TRUE(WaitFor([&] { return reader.IsComConnected == 0; }));
    EXPECT_EQ(reader.AFR.load(), 0.0);
    EXPECT_EQ(reader.AFRs.Get(), "0.00");
    reader.Stop();
    // Between the last packet and the close the line may time out; nothing
    // else may be logged.
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "LAMBDA:>> COM2 Открытие порта...");
    EXPECT_EQ(lines.back(), "LAMBDA:>> COM2 Закрытие порта...");
    EXPECT_EQ(lines.size(), 2 + log.CountStartingWith("LAMBDA:<< Ошибка связи"));
}

// On a real line that stays silent, each pass gives up after 300 ms and
// logs a link error; the pauses after it add 11 ms.
TEST(LambdaThread, ByteTimeOutIs300MsOnARealPort) {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    platform::DirectUiBridge bridge;
    lambda::test::LogRecorder log;
    {
        TLAMBDAThread reader(bridge, [&](const std::string& l) { log.Append(l); });
        reader.PortName.Set(name);
        reader.PortSpeed.Set("19200");
        reader.Start();
        reader.Command.Post("OpenComPort");
        ASSERT_TRUE(WaitFor([&] { return log.CountStartingWith("LAMBDA:<< Ошибка связи") >= 4; }));
        EXPECT_EQ(platform::LineSpeedOf(master), 19200);
        // Ends while it waits for a byte.
        reader.Stop();
        EXPECT_EQ(reader.IsComConnected, 1);
    }
    const auto lines = log.Lines();
    const auto times = log.Times();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[1], "LAMBDA:<< Ошибка связи!(1/1)");
    // The shortest of three passes: a busy machine can only lengthen one.
    int64_t shortest = INT64_MAX;
    for (size_t i = 2; i < 5; ++i) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]).count();
        shortest = std::min<int64_t>(shortest, ms);
    }
    EXPECT_NEAR(static_cast<double>(shortest - 11), 300.0, 50.0);
    ::close(master);
}

// Bytes that trickle in with pauses shorter than the time-out still make a
// packet; a pause longer than it after the header breaks the packet off.
TEST(LambdaThread, PacketSpreadOverPausesOnARealPort) {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    auto send = [&](std::vector<uint8_t> bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    platform::DirectUiBridge bridge;
    TLAMBDAThread reader(bridge, {});
    reader.PortName.Set(name);
    reader.Start();
    reader.Command.Post("OpenComPort");
    ASSERT_TRUE(WaitFor([&] { return reader.IsComConnected == 1; }));

    send({0xB2});
    std::this_thread::sleep_for(100ms);
    send({0x82, 0x43});
    std::this_thread::sleep_for(100ms);
    send({0x13, 0x03, 0x74});
    EXPECT_TRUE(
        WaitFor([&] { return reader.AFR.load() == 14.7 && reader.IsLambdaConnected == 1; }));

    send({0xB2, 0x82});
    EXPECT_TRUE(
        WaitFor([&] { return reader.IsLambdaError == 1 && reader.IsLambdaConnected == 0; }));
    send({0xB2, 0x82, 0x43, 0x13, 0x00, 0x00});
    EXPECT_TRUE(WaitFor([&] {
        return reader.AFR.load() == 7.35 && reader.IsLambdaConnected == 1 &&
               reader.IsLambdaError == 0;
    }));
    reader.Stop();
    ::close(master);
}

}  // namespace
