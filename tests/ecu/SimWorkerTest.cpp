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

template <class Pred>
bool WaitFor(Pred pred, int timeoutMs = 30000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

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
        w.error = 0;
        w.numlog = 0;
        w.Command.Post("OpenComPort");
        ASSERT_TRUE(WaitFor([&] { return w.IsDiagnostic == 1; }))
            << ::testing::PrintToString(view.Lines());
    }
    void Run(const std::string& word) {
        ASSERT_TRUE(WaitFor([&] { return w.Command.PostIfEmpty(word); }));
        ASSERT_TRUE(WaitFor([&] { return w.Command.Empty(); })) << word;
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
    for (; attempts < 3 && w.ReadCompleate != 1; ++attempts) {
        if (attempts > 0) {
            w.Command.Post("CloseComPort");
            ASSERT_TRUE(WaitFor([&] { return w.IsComConnected == 0; }));
        }
        Connect(20, 0);
        sim->ClearRequests();
        view.Clear();
        ended = false;
        lastPosition = -1;
        ASSERT_TRUE(w.Command.PostIfEmpty("ReadFW"));
        ASSERT_TRUE(WaitFor([&] { return ended.load(); }, 60000));
    }
    ASSERT_EQ(w.ReadCompleate, 1) << ::testing::PrintToString(view.Lines());
    if (attempts > 1) std::printf("firmware read needed %d attempts\n", attempts);
    EXPECT_EQ(w.ReadRam.Copy(), sim->Ram());
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
    ASSERT_TRUE(w.Command.PostIfEmpty("ReadFW"));
    ASSERT_TRUE(WaitFor([&] { return w.ReadCompleate == 1; }, 120000))
        << ::testing::PrintToString(view.Lines());
    EXPECT_EQ(w.ReadRam.Copy(), sim->Ram());
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
    for (size_t i = 0; i < w.data.size(); ++i) w.data[i] = static_cast<int32_t>(255 - i);
    Run("remakepopr");
    EXPECT_EQ(WriteAddresses(sim->Requests()),
              (std::vector<uint16_t>{0x7CF7, 0x7D37, 0x7D77, 0x7DB7}));
    Bytes expected(256);
    for (size_t i = 0; i < 256; ++i) expected[i] = static_cast<uint8_t>(255 - i);
    EXPECT_EQ(SimRam(0x7CF7, 256), expected);

    sim->ClearRequests();
    for (size_t i = 0; i < w.data2.size(); ++i) w.data2[i] = static_cast<int32_t>(i * 3);
    w.adressdata = {0x61, 0xF0};
    w.plusrw = 2;
    Run("correct23DF");
    EXPECT_EQ(WriteAddresses(sim->Requests()), (std::vector<uint16_t>{0x61F0, 0x6230}));
    for (size_t i = 0; i < 128; ++i) EXPECT_EQ(SimRam(0x61F0, 128)[i], static_cast<uint8_t>(i * 3));

    w.adressdata = {0x70, 0x00};
    w.numdata = 2;
    w.numdatastr = 2;
    w.data[0] = 0xA5;
    w.data[1] = 0x5A;
    Run("correct1DF");
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
    ASSERT_TRUE(w.Command.PostIfEmpty("ReadFW"));
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }));
    // Let the worker finish its last step, then look.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(view.Progress().back(), std::make_pair(682, 0));
    EXPECT_EQ(w.IsDiagnostic, 0);
    EXPECT_EQ(w.ReadCompleate, 0);
    EXPECT_EQ(w.ReadRam.Size(), 0u);
    EXPECT_EQ(w.IsComConnected, 1);
    // Polling stays off.
    sim->SetFaults({});
    const int32_t polls = w.numlog;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(w.numlog, polls);
}

TEST_F(SimWorker, DisconnectDuringATableWriteAndReconnect) {
    view.onReplace = [&](const std::string& line) {
        if (line == "ECU: >> Write ECU RAM - 0x762F") w.Command.Post("CloseComPort");
    };
    w.Start();
    Connect();
    for (size_t i = 0; i < w.data.size(); ++i) w.data[i] = 1;
    ASSERT_TRUE(w.Command.PostIfEmpty("remakegbc"));
    ASSERT_TRUE(WaitFor([&] { return w.IsComConnected == 0 && w.Command.Empty(); }));
    EXPECT_EQ(w.IsECUConnected, 0);

    view.onReplace = nullptr;
    Connect();
    sim->ClearRequests();
    for (size_t i = 0; i < w.data.size(); ++i) w.data[i] = static_cast<int32_t>(i);
    Run("remakegbc");
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
    worker.Command.Post("OpenComPort");
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
    w.Command.Post("ReadFW");
    ASSERT_TRUE(WaitFor([&] { return w.Command.Empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto t0 = std::chrono::steady_clock::now();
    w.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(w.ReadCompleate, 0);
    EXPECT_EQ(w.ReadRam.Size(), 0u);
    EXPECT_EQ(view.Progress().back(), std::make_pair(682, 0));
}
