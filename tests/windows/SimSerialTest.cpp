// The Windows serial side against korvane-sim: scripts/wine-sim-test.sh
// starts the simulator, links its ECU pseudo-terminal into the Wine prefix
// as a COM port and runs this with
//   KORVANE_SIM_COM       the port ("COM7"),
//   KORVANE_SIM_FIRMWARE  the image the simulator's memory starts with,
//   KORVANE_SIM_WRITTEN   where to leave the table written (two bytes of
//                         address, then the bytes) for the script to find in
//                         the simulator's memory once it has ended.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "EcuTestSupport.h"
#include "ecu/ECUThread.h"
#include "ecu/EcuLink.h"
#include "platform/Clock.h"
#include "platform/PortList.h"
#include "platform/TextCodec.h"

using namespace korvane;
using namespace korvane::ecu;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

using ecu::test::WaitFor;

class SimPort : public ::testing::Test {
  protected:
    void SetUp() override {
        port = Env("KORVANE_SIM_COM");
        if (port.empty()) GTEST_SKIP() << "run by scripts/wine-sim-test.sh";
    }
    std::string port;
};

class SimSpeed : public SimPort, public ::testing::WithParamInterface<const char*> {};

}  // namespace

// The simulator answers only at the speed the line was set to, so a poll
// answered proves the DCB took it (10400 is no standard rate).
TEST_P(SimSpeed, ConnectsPollsAndStopsAtEachSpeed) {
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    fields.PortName = port;
    fields.PortSpeed = GetParam();
    fields.PortTimeOut = 0;
    fields.PortReadTimeOut = 500;
    fields.FastExchange = 1;
    EcuLink link{fields, log, [] { return platform::MakeSystemSerialPort(); },
                 platform::SystemClock::Instance()};
    ASSERT_TRUE(link.OpenPort()) << ::testing::PrintToString(view.Lines());
    ASSERT_TRUE(link.StartSession()) << ::testing::PrintToString(view.Lines());
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
    EXPECT_EQ(fields.DiagnosticInfo.Size(), 51u);
    EXPECT_EQ(fields.error, 0) << ::testing::PrintToString(view.Lines());
    EXPECT_TRUE(link.StopSession());
    link.ClosePort();
    EXPECT_EQ(view.Lines().back(), port + ": >> Закрытие порта...");
}

INSTANTIATE_TEST_SUITE_P(Speeds, SimSpeed, ::testing::Values("10400", "38400", "57600"));

TEST_F(SimPort, SecondOpenIsRefusedAsBusy) {
    auto first = platform::MakeSystemSerialPort();
    ASSERT_TRUE(first->Open(port)) << first->LastError();
    auto second = platform::MakeSystemSerialPort();
    EXPECT_FALSE(second->Open(port));
    EXPECT_NE(second->LastError().find("занят"), std::string::npos) << second->LastError();
    EXPECT_TRUE(first->Close());
    EXPECT_TRUE(second->Open(port)) << second->LastError();
}

// The port linked into the prefix is in the list a user picks from.
TEST_F(SimPort, LinkedPortIsListed) {
    const auto list = platform::ListSerialPorts({port});
    EXPECT_NE(std::find(list.names.begin(), list.names.end(), port), list.names.end())
        << ::testing::PrintToString(list.names);
    EXPECT_FALSE(platform::MissingPortNote(port, list.names).has_value());
}

// The whole memory read, then a table written: the script finds the bytes
// in the simulator's memory.
TEST_F(SimPort, ReadsTheFirmwareAndWritesATable) {
    std::string expected, error;
    ASSERT_TRUE(platform::ReadBinaryFile(Env("KORVANE_SIM_FIRMWARE"), expected, error)) << error;
    ASSERT_EQ(expected.size(), 65536u);

    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    TECUThread w{bridge, view};
    w.Start();
    w.PortName = port;
    w.PortSpeed = "57600";
    w.PortTimeOut = 0;
    w.PortReadTimeOut = 2000;
    w.FastExchange = 1;
    w.Post(ecu::test::OpenAsSet(w));
    ASSERT_TRUE(WaitFor([&] { return w.IsDiagnostic == 1; }))
        << ::testing::PrintToString(view.Lines());

    ASSERT_NE(w.Post(EcuCommand::ReadFirmware()), 0u);
    ASSERT_TRUE(WaitFor([&] { return view.Image() != nullptr; }, 180000))
        << ::testing::PrintToString(view.Lines());
    EXPECT_TRUE(*view.Image() == Bytes(expected.begin(), expected.end()));
    ASSERT_TRUE(WaitFor([&] { return w.Idle(); }));

    Bytes table(256);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_NE(w.Post(EcuCommand::WriteTable(CommandKind::remakepopr, table)), 0u);
    ASSERT_TRUE(WaitFor([&] { return w.Idle(); }));
    EXPECT_EQ(view.LastResult(), "remakepopr ok") << ::testing::PrintToString(view.Lines());
    EXPECT_EQ(w.error, 0);
    // Closed as a user would: the ECU's session ends and it listens at
    // 10400 again.
    ASSERT_NE(w.Post(EcuCommand::Close()), 0u);
    ASSERT_TRUE(WaitFor([&] { return w.IsComConnected == 0 && w.Idle(); }));
    w.Stop();

    std::string written = {'\x7C', '\xF7'};
    written.append(table.begin(), table.end());
    ASSERT_TRUE(platform::WriteFileAtomically(Env("KORVANE_SIM_WRITTEN"), written, error)) << error;
}
