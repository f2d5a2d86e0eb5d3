// The worker thread against korvane-sim: the window's side is played by
// the test thread, posting commands and reading flags and results.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "EcuTestSupport.h"
#include "ecu/ECUThread.h"
#include "platform/Clock.h"
#include "sim/Simulator.h"

using namespace korvane;
using namespace korvane::ecu;
using Lines = std::vector<std::string>;

namespace {

using ecu::test::WaitFor;

std::vector<uint16_t> WriteAddresses(const std::vector<sim::SeenRequest>& requests) {
    std::vector<uint16_t> out;
    for (const auto& r : requests)
        if (r.data.size() > 5 && r.data[0] == 0x3D) out.push_back((r.data[2] << 8) | r.data[3]);
    return out;
}

class SimWorker : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::Options o;
        o.fast = true;
        o.scenario = "idle";
        sim = std::make_unique<sim::Simulator>(o);
        std::string why;
        ASSERT_TRUE(sim->Start(&why)) << why;
    }
    void TearDown() override { w.Stop(); }

    // The fast exchange takes each answer as soon as it is in, so a long
    // read-back time costs nothing and lets a busy machine be late; the
    // plain exchange gets short pauses (a late byte fails a read for good).
    void Connect(int readPause = 500, int fast = 1) {
        w.PortName = sim->EcuPath();
        w.PortSpeed = "57600";
        w.PortTimeOut = 0;
        w.PortReadTimeOut = readPause;
        w.FastExchange = fast;
        w.Post(ecu::test::OpenAsSet(w));
        ASSERT_TRUE(WaitFor([&] { return w.IsDiagnostic == 1; }))
            << ::testing::PrintToString(view.Lines());
    }
    void Run(EcuCommand command) {
        const std::string word(KindName(command.kind));
        ASSERT_NE(w.Post(std::move(command)), 0u);
        ASSERT_TRUE(WaitFor([&] { return w.Idle(); })) << word;
        EXPECT_EQ(view.LastResult(), word + " ok");
    }
    Bytes SimRam(uint16_t at, size_t n) const {
        const auto ram = sim->Ram();
        return Bytes(ram.begin() + at, ram.begin() + at + static_cast<std::ptrdiff_t>(n));
    }

    std::unique_ptr<sim::Simulator> sim;
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    TECUThread w{bridge, view};
};

}  // namespace

TEST_F(SimWorker, FirmwareReadReturnsTheSimulatorsMemory) {
    std::atomic<int> lastPosition{-1};
    std::atomic<bool> ended{false};
    view.onProgress = [&](int, int position) {
        if (position == 0 && lastPosition > 0) ended = true;
        lastPosition = position;
    };
    w.Start();
    // A late answer is repeated (up to twice); on a machine busy enough to
    // starve the simulator three times in a row the user would connect and
    // read again, and so does the test.
    int attempts = 0;
    for (; attempts < 3 && !view.Image(); ++attempts) {
        if (attempts > 0) {
            w.Post(EcuCommand::Close());
            ASSERT_TRUE(WaitFor([&] { return w.IsComConnected == 0; }));
        }
        Connect(20, 0);
        sim->ClearRequests();
        view.Clear();
        ended = false;
        lastPosition = -1;
        ASSERT_NE(w.Post(EcuCommand::ReadFirmware()), 0u);
        ASSERT_TRUE(WaitFor([&] { return ended.load(); }, 60000));
        ASSERT_TRUE(WaitFor([&] { return w.Idle(); }));
    }
    ASSERT_TRUE(view.Image()) << ::testing::PrintToString(view.Lines());
    if (attempts > 1) std::printf("firmware read needed %d attempts\n", attempts);
    EXPECT_EQ(*view.Image(), sim->Ram());
    const auto requests = sim->Requests();
    const auto reads = std::count_if(requests.begin(), requests.end(),
                                     [](const auto& r) { return r.data[0] == 0x23; });
    const Lines lines = view.Lines();
    const auto count = [&](const char* head) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.rfind(head, 0) == 0; });
    };
    // Each block once, and once more for each repeat a late answer needed;
    // the block line of a repeated read stays in the log.
    const auto repeats = count("ECU: >> Повтор запроса 0x2300");
    EXPECT_EQ(reads, 683 + repeats);
    EXPECT_GE(count("ECU: >> Read ECU RAM - "), 1);
    EXPECT_LE(count("ECU: >> Read ECU RAM - "), 1 + repeats);
    EXPECT_EQ(lines.back(), "ECU: >> Read ECU RAM - 0xFFC0");
    // Polling again afterwards.
    const int32_t polls = w.numlog;
    EXPECT_TRUE(WaitFor([&] { return w.numlog > polls + 2; }));
}

// With the fast exchange each block is taken as soon as it is in, so a long
// read-back time costs nothing and a busy machine no longer fails a block.
TEST_F(SimWorker, FastFirmwareRead) {
    w.Start();
    Connect(2000);
    sim->ClearRequests();
    ASSERT_NE(w.Post(EcuCommand::ReadFirmware()), 0u);
    ASSERT_TRUE(WaitFor([&] { return view.Image() != nullptr; }, 120000))
        << ::testing::PrintToString(view.Lines());
    EXPECT_EQ(*view.Image(), sim->Ram());
    const auto requests = sim->Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const auto& r) { return r.data[0] == 0x23; }),
              683);
    EXPECT_EQ(w.error, 0);
}

TEST_F(SimWorker, WritesLandAtTheirAddresses) {
    w.Start();
    Connect();
    sim->ClearRequests();
    Bytes table(256);
    for (size_t i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
    Run(EcuCommand::WriteTable(CommandKind::remakepopr, table));
    EXPECT_EQ(WriteAddresses(sim->Requests()),
              (std::vector<uint16_t>{0x7CF7, 0x7D37, 0x7D77, 0x7DB7}));
    Bytes expected(256);
    for (size_t i = 0; i < 256; ++i) expected[i] = static_cast<uint8_t>(255 - i);
    EXPECT_EQ(SimRam(0x7CF7, 256), expected);

    sim->ClearRequests();
    Bytes curve(128);
    for (size_t i = 0; i < 128; ++i) curve[i] = static_cast<uint8_t>(i * 3);
    Run(EcuCommand::WriteCurve(0x61F0, curve));
    EXPECT_EQ(WriteAddresses(sim->Requests()), (std::vector<uint16_t>{0x61F0, 0x6230}));
    for (size_t i = 0; i < 128; ++i) EXPECT_EQ(SimRam(0x61F0, 128)[i], static_cast<uint8_t>(i * 3));

    Run(EcuCommand::WriteValue(0x7000, {0xA5, 0x5A}, 2));
    EXPECT_EQ(SimRam(0x7000, 2), (Bytes{0xA5, 0x5A}));
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(w.error, 0);
    const Lines lines = view.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("ECU: << ", 0) == 0; }),
              0);
}

TEST_F(SimWorker, SilenceStopsTheFirmwareRead) {
    std::atomic<bool> silenced{false};
    std::atomic<bool> ended{false};
    view.onProgress = [&](int, int position) {
        if (position == 5) {
            sim::Faults f;
            f.silence = 1;
            sim->SetFaults(f);
            silenced = true;
        }
        if (position == 0 && silenced) ended = true;
    };
    w.Start();
    Connect();
    ASSERT_NE(w.Post(EcuCommand::ReadFirmware()), 0u);
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
    ASSERT_TRUE(WaitFor([&] { return w.Idle(); }));
    EXPECT_EQ(view.Progress().back(), std::make_pair(682, 0));
    EXPECT_FALSE(view.Image());
    EXPECT_EQ(view.LastResult().rfind("ReadFW: нет ответа на чтение по адресу ", 0), 0u)
        << view.LastResult();
    EXPECT_EQ(w.IsComConnected, 1);
    // Polling goes on, so the window's watch sees the ECU back once it is.
    sim->SetFaults({});
    const int32_t fresh = w.Status().FreshFrames;
    EXPECT_TRUE(WaitFor([&] { return w.Status().FreshFrames > fresh; }));
}

TEST_F(SimWorker, DisconnectDuringATableWriteAndReconnect) {
    view.onReplace = [&](const std::string& line) {
        if (line == "ECU: >> Write ECU RAM - 0x762F") w.Post(EcuCommand::Close());
    };
    w.Start();
    Connect();
    sim->ClearRequests();
    ASSERT_NE(w.Post(EcuCommand::WriteTable(CommandKind::remakegbc, Bytes(256, 1))), 0u);
    ASSERT_TRUE(WaitFor([&] { return w.IsComConnected == 0 && w.Idle(); }));
    EXPECT_EQ(w.IsECUConnected, 0);
    // The close waited for the whole table, then ended the session.
    EXPECT_EQ(WriteAddresses(sim->Requests()),
              (std::vector<uint16_t>{0x75EF, 0x762F, 0x766F, 0x76AF}));

    view.onReplace = nullptr;
    Connect();
    sim->ClearRequests();
    Bytes table(256);
    for (size_t i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
    Run(EcuCommand::WriteTable(CommandKind::remakegbc, table));
    EXPECT_EQ(WriteAddresses(sim->Requests()),
              (std::vector<uint16_t>{0x75EF, 0x762F, 0x766F, 0x76AF}));
    for (size_t i = 0; i < 256; ++i) ASSERT_EQ(SimRam(0x75EF, 256)[i], static_cast<uint8_t>(i));
}

namespace {

// A window that is closing: actions wait until it lets go, then return
// without running.
class ClosingWindow final : public platform::UiBridge {
  public:
    void RunSync(const std::function<void()>& fn) override {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ || allowed_ > 0; });
        --waiting_;
        if (released_) return;
        --allowed_;
        lock.unlock();
        fn();
    }
    void Allow(int n) {
        std::lock_guard lock(mutex_);
        allowed_ += n;
        changed_.notify_all();
    }
    void WaitForWaiter() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_ > 0; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    int allowed_ = 0;
    bool released_ = false;
};

}  // namespace

TEST_F(SimWorker, StopsWhileTheWindowCloses) {
    ClosingWindow window;
    TECUThread worker(window, view);
    worker.PortName = sim->EcuPath();
    worker.PortTimeOut = 0;
    worker.PortReadTimeOut = 5;
    worker.Start();
    worker.Post(ecu::test::OpenAsSet(worker));
    window.WaitForWaiter();  // the first log line of the connect is waiting
    window.Release();
    const auto t0 = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(SimWorker, StopsDuringAFirmwareRead) {
    // A read in progress does not hold a closing program for minutes.
    w.Start();
    Connect();
    w.PortReadTimeOut = 20;
    w.Post(EcuCommand::ReadFirmware());
    ASSERT_TRUE(WaitFor([&] { return !view.Progress().empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto t0 = std::chrono::steady_clock::now();
    w.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_FALSE(view.Image());
    EXPECT_EQ(view.LastResult(), "ReadFW: программа закрывается");
    EXPECT_EQ(view.Progress().back(), std::make_pair(682, 0));
}

// Connects and disconnects posted faster than the worker takes them (a
// close waiting while the next open comes): every session started on the
// wire is ended on the wire, and the port ends closed.
struct SequenceCase {
    const char* name;
    std::vector<char> steps;  // 'o' open, 'c' close, 'w' a cell write
};
void PrintTo(const SequenceCase& c, std::ostream* os) {
    *os << c.name;
}

class CloseNeverLost : public SimWorker, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(CloseNeverLost, EverySessionStartedIsEnded) {
    w.PortName = sim->EcuPath();
    w.PortSpeed = "57600";
    w.PortTimeOut = 0;
    w.PortReadTimeOut = 500;
    w.FastExchange = 1;
    w.Start();
    int opens = 0;
    for (char step : GetParam().steps) {
        if (step == 'o') {
            ++opens;
            ASSERT_NE(w.Post(ecu::test::OpenAsSet(w)), 0u);
        } else if (step == 'c') {
            ASSERT_NE(w.Post(EcuCommand::Close()), 0u);
        } else {
            ASSERT_NE(w.Post(EcuCommand::WriteCell(0x7000, 0x42)), 0u);
        }
    }
    ASSERT_TRUE(WaitFor([&] { return w.Idle(); }, 30000));
    const auto requests = sim->Requests();
    auto count = [&](uint8_t service) {
        return std::count_if(requests.begin(), requests.end(), [&](const auto& r) {
            return !r.data.empty() && r.data[0] == service;
        });
    };
    // An open still waiting when a close comes is dropped (nobody waits for
    // it any more); every one that started a session ended it.
    const auto started = count(0x10);
    EXPECT_LE(started, opens) << ::testing::PrintToString(view.Lines());
    EXPECT_EQ(count(0x20), started);
    EXPECT_EQ(count(0x82), started);
    EXPECT_EQ(w.Status().IsComConnected, 0);
    EXPECT_EQ(view.SessionUps(), started);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CloseNeverLost,
    ::testing::Values(SequenceCase{"OpenClose", {'o', 'c'}},
                      SequenceCase{"TwiceInARow", {'o', 'c', 'o', 'c'}},
                      SequenceCase{"ThreeTimes", {'o', 'c', 'o', 'c', 'o', 'c'}},
                      SequenceCase{"WithAWriteBetween", {'o', 'w', 'c', 'o', 'w', 'c'}}),
    [](const auto& info) { return std::string(info.param.name); });
