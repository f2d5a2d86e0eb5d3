// The reader's loop stepped pass by pass on a fake port and clock: exact
// log lines, flags and counters, and how long each pass may wait.
#include <gtest/gtest.h>

#include <vector>

#include "LambdaTestSupport.h"
#include "lambda/LAMBDAThread.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/FakeSerialPort.h"

using namespace korvane;
using korvane::lambda::TLAMBDAThread;
using Lines = std::vector<std::string>;

namespace {

const Lines kNone{};

class LambdaReader : public ::testing::Test {
  protected:
    LambdaReader() {
        auto fake = std::make_unique<platform::FakeSerialPort>(&clock);
        port = fake.get();
        reader = std::make_unique<TLAMBDAThread>(
            bridge, [this](const std::string& l) { log.Append(l); }, std::move(fake), clock);
    }

    void Open(const std::string& name = "COM2", const std::string& speed = "19200") {
        reader->PortName.Set(name);
        reader->PortSpeed.Set(speed);
        reader->Command.Post("OpenComPort");
        reader->Pass();
        log.TakeNew();
    }

    // Runs one pass and returns how long it took on the fake clock.
    int64_t TimedPass() {
        const int64_t t0 = clock.NowMs();
        reader->Pass();
        return clock.NowMs() - t0;
    }

    platform::FakeClock clock;
    platform::DirectUiBridge bridge;
    lambda::test::LogRecorder log;
    platform::FakeSerialPort* port = nullptr;
    std::unique_ptr<TLAMBDAThread> reader;
};

TEST_F(LambdaReader, OpenComPort) {
    struct Case {
        const char* name;
        const char* speed;
        bool failOpen;
        const char* openedName;  // "" = not open afterwards
        int speedSet;
        Lines lines;
    };
    const Case cases[] = {
        {"", "", false, "COM3", 19200, {"LAMBDA:>> COM3 Открытие порта..."}},
        {"/dev/pts/7",
         "19200",
         false,
         "/dev/pts/7",
         19200,
         {"LAMBDA:>> /dev/pts/7 Открытие порта..."}},
        {"COM2",
         "19200",
         true,
         "",
         0,
         {"LAMBDA:>> COM2 Открытие порта...", "LAMBDA:>> ОШИБКА: Не удаётся открыть порт COM2 !",
          "LAMBDA:>> отказ (тест)"}},
        {"COM2",
         "abc",
         false,
         "",
         0,
         {"LAMBDA:>> COM2 Открытие порта...", "LAMBDA:>> ОШИБКА: Не удаётся открыть порт COM2 !"}},
        {"COM2",
         "0",
         false,
         "",
         0,
         {"LAMBDA:>> COM2 Открытие порта...", "LAMBDA:>> ОШИБКА: Не удаётся открыть порт COM2 !"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.speed);
        auto fake = std::make_unique<platform::FakeSerialPort>(&clock);
        fake->failOpen = c.failOpen;
        auto* raw = fake.get();
        lambda::test::LogRecorder lines;
        TLAMBDAThread r(
            bridge, [&](const std::string& l) { lines.Append(l); }, std::move(fake), clock);
        r.PortName.Set(c.name);
        r.PortSpeed.Set(c.speed);
        r.Command.Post("OpenComPort");
        r.Pass();
        const bool opened = *c.openedName != '\0';
        EXPECT_EQ(lines.Lines(), c.lines);
        EXPECT_EQ(r.IsComConnected, opened ? 1 : 0);
        EXPECT_EQ(raw->IsOpen(), opened);
        if (opened) {
            EXPECT_EQ(raw->OpenedName(), c.openedName);
        }
        EXPECT_EQ(raw->Speed(), c.speedSet);
        EXPECT_TRUE(r.Command.Empty());
        EXPECT_EQ(r.PortTimeOut, 10);
    }
}

// One scripted stream, pass by pass: what each pass publishes, logs and
// waits. A pass that meets a time-out waits one byte time-out (300 ms) and
// the two pauses; any other pass only the pauses (10 + 1 ms).
TEST_F(LambdaReader, StreamPassByPass) {
    Open();
    struct Step {
        const char* what;
        std::vector<uint8_t> feed;
        int passes;
        double afr;
        const char* afrText;
        int connected, error, errInRow, errTotal;
        Lines lines;
        int64_t waitedMs;
        int warmUp = -1;
    };
    const Step steps[] = {
        {"good packet",
         {0xB2, 0x82, 0x43, 0x13, 0x03, 0x74},
         1,
         14.7,
         "14.7",
         1,
         0,
         0,
         0,
         kNone,
         11},
        {"silence", {}, 1, 14.7, "14.7", 1, 0, 1, 1, {"LAMBDA:<< Ошибка связи!(1/1)"}, 311},
        {"silence again", {}, 1, 14.7, "14.7", 1, 0, 2, 2, {"LAMBDA:<< Ошибка связи!(2/2)"}, 311},
        // One stray byte per pass; B2 followed by anything but 82 drops both.
        {"noise, then L = 1539",
         {0x00, 0xB2, 0x00, 0xB2, 0x82, 0x43, 0x13, 0x0C, 0x03},
         3,
         29.97,
         "29.97",
         1,
         0,
         0,
         2,
         kNone,
         33},
        {"header, then silence", {0xB2, 0x82}, 1, 29.97, "29.97", 0, 1, 0, 2, kNone, 311},
        {"cut after the first payload byte",
         {0xB2, 0x82, 0x43},
         1,
         29.97,
         "29.97",
         0,
         1,
         0,
         2,
         kNone,
         311},
        {"L = 1540",
         {0xB2, 0x82, 0x43, 0x13, 0x0C, 0x04},
         1,
         0,
         "0",
         1,
         1,
         0,
         3,
         {"LAMBDA:<< Ошибка данных2"},
         11},
        // Warm-up (function 100, the word in tenths of %): a state with one
        // line as it begins and one as the readings begin, no error.
        {"warm-up begins",
         {0xB2, 0x82, 0x53, 0x13, 0x03, 0x74},
         1,
         0,
         "0",
         1,
         0,
         0,
         3,
         {"LAMBDA:>> LC-1: прогрев 50%"},
         11,
         50},
        {"warm-up goes on",
         {0xB2, 0x82, 0x53, 0x13, 0x05, 0x00},
         1,
         0,
         "0",
         1,
         0,
         0,
         3,
         kNone,
         11,
         64},
        {"warm-up after a time-out",
         {},
         1,
         0,
         "0",
         1,
         0,
         1,
         4,
         {"LAMBDA:<< Ошибка связи!(1/4)"},
         311,
         64},
        {"good packet, top bits set",
         {0xB2, 0x82, 0x43, 0x13, 0x83, 0xF4},
         1,
         14.7,
         "14.7",
         1,
         0,
         0,
         4,
         {"LAMBDA:>> LC-1: прогрев окончен"},
         11},
        // An error code (function 110) is an error.
        {"error code",
         {0xB2, 0x82, 0x5B, 0x13, 0x00, 0x04},
         1,
         0,
         "0",
         1,
         1,
         0,
         5,
         {"LAMBDA:<< Ошибка данных4"},
         11},
        {"time-out after the error",
         {},
         1,
         0,
         "0",
         1,
         1,
         1,
         6,
         {"LAMBDA:<< Ошибка связи!(1/6)"},
         311},
        {"L = 0", {0xB2, 0x82, 0x43, 0x13, 0x00, 0x00}, 1, 7.35, "7.35", 1, 0, 0, 6, kNone, 11},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        port->Feed(s.feed);
        int64_t waited = 0;
        for (int i = 0; i < s.passes; ++i) waited += TimedPass();
        EXPECT_EQ(reader->AFR.load(), s.afr);
        EXPECT_EQ(reader->AFRs.Get(), s.afrText);
        EXPECT_EQ(reader->IsLambdaConnected, s.connected);
        EXPECT_EQ(reader->IsLambdaError, s.error);
        EXPECT_EQ(reader->err, s.errInRow);
        EXPECT_EQ(reader->err2, s.errTotal);
        EXPECT_EQ(log.TakeNew(), s.lines);
        EXPECT_EQ(waited, s.waitedMs);
        EXPECT_EQ(reader->WarmUpPercent, s.warmUp);
        EXPECT_EQ(reader->IsComConnected, 1);
    }
    EXPECT_EQ(port->Pending(), 0u);
}

// Fifty time-outs in a row leave the port open; the 51st closes it. A
// complete packet in between starts the row again, but not the total.
TEST_F(LambdaReader, ClosesAfterTheFiftyFirstTimeOutInARow) {
    Open();
    for (int i = 0; i < 30; ++i) reader->Pass();
    port->Feed({0xB2, 0x82, 0x43, 0x13, 0x03, 0x74});
    reader->Pass();
    EXPECT_EQ(reader->err, 0);
    for (int i = 0; i < 50; ++i) reader->Pass();
    EXPECT_EQ(reader->IsComConnected, 1);
    EXPECT_EQ(reader->err, 50);
    EXPECT_EQ(reader->AFR.load(), 14.7);
    log.TakeNew();

    reader->Pass();
    EXPECT_EQ(log.TakeNew(),
              (Lines{"LAMBDA:<< Ошибка связи!(51/81)", "LAMBDA:>> COM2 Закрытие порта..."}));
    EXPECT_EQ(reader->IsComConnected, 0);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(reader->IsLambdaConnected, 0);
    EXPECT_EQ(reader->IsLambdaError, 0);
    EXPECT_EQ(reader->AFR.load(), 0.0);
    EXPECT_EQ(reader->AFRs.Get(), "0.00");

    // Idle until the next "OpenComPort", which starts the counts afresh.
    const int64_t t0 = clock.NowMs();
    for (int i = 0; i < 5; ++i) reader->Pass();
    EXPECT_EQ(clock.NowMs() - t0, 5);
    EXPECT_TRUE(log.TakeNew().empty());
    Open();
    EXPECT_EQ(reader->IsComConnected, 1);
    EXPECT_EQ(reader->err2, 0);
}

TEST_F(LambdaReader, SecondOpenOnlyResetsTheCounters) {
    Open();
    reader->Pass();
    reader->Pass();
    ASSERT_EQ(reader->err2, 2);
    log.TakeNew();
    reader->Command.Post("OpenComPort");
    reader->Pass();
    EXPECT_TRUE(log.TakeNew().empty());
    EXPECT_EQ(reader->err, 0);
    EXPECT_EQ(reader->err2, 0);
    EXPECT_EQ(reader->IsComConnected, 1);
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(LambdaReader, CloseComPort) {
    struct Case {
        const char* what;
        bool open;
        bool failClose;
        Lines lines;
        int connectedAfter;
    };
    const Case cases[] = {
        {"open port", true, false, {"LAMBDA:>> COM2 Закрытие порта..."}, 0},
        {"port not open", false, false, kNone, 0},
        {"close fails",
         true,
         true,
         {"LAMBDA:>> COM2 Закрытие порта...", "LAMBDA:>> ОШИБКА: Не удаётся закрыть порт COM2 !"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.open) {
            Open();
            port->Feed({0xB2, 0x82, 0x43, 0x13, 0x03, 0x74});
            reader->Pass();
        }
        port->failClose = c.failClose;
        reader->Command.Post("CloseComPort");
        reader->Pass();
        EXPECT_TRUE(reader->Command.Empty());
        EXPECT_EQ(log.TakeNew(), c.lines);
        EXPECT_EQ(reader->IsComConnected, c.connectedAfter);
        if (c.connectedAfter == 1) {
            // Nothing cleared; reading goes on.
            EXPECT_EQ(reader->IsLambdaConnected, 1);
            EXPECT_EQ(reader->AFR.load(), 14.7);
            port->Feed({0xB2, 0x82, 0x43, 0x13, 0x00, 0x00});
            reader->Pass();
            EXPECT_EQ(reader->AFR.load(), 7.35);
            port->failClose = false;
            reader->Command.Post("CloseComPort");
            reader->Pass();
            log.TakeNew();
        } else {
            EXPECT_EQ(reader->IsLambdaConnected, 0);
            EXPECT_EQ(reader->IsLambdaError, 0);
            EXPECT_EQ(reader->AFR.load(), 0.0);
        }
        EXPECT_EQ(reader->IsComConnected, 0);
    }
}

// A word the reader does not know holds reading up while it stays in the
// mailbox; with the guard set, commands are ignored and reading goes on.
TEST_F(LambdaReader, WordsThatAreNotCarriedOut) {
    Open();
    port->Feed({0xB2, 0x82, 0x43, 0x13, 0x03, 0x74});
    reader->Command.Post("ReadAll");
    reader->Pass();
    EXPECT_EQ(reader->Command.Word(), "ReadAll");
    EXPECT_EQ(port->Pending(), 6u);

    reader->ErrorComPorts = 1;
    reader->Command.Post("CloseComPort");
    reader->Pass();
    EXPECT_EQ(reader->Command.Word(), "CloseComPort");
    EXPECT_EQ(reader->IsComConnected, 1);
    EXPECT_EQ(reader->AFR.load(), 14.7);
    EXPECT_TRUE(log.TakeNew().empty());
}

}  // namespace
