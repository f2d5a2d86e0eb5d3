// The reader with the real serial layer against the simulated LC-1 on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <cmath>

#include "LambdaTestSupport.h"
#include "lambda/LAMBDAThread.h"
#include "sim/Simulator.h"

using namespace korvane;
using korvane::lambda::TLAMBDAThread;
using korvane::lambda::test::WaitFor;

namespace {

sim::Options Lc1Options(bool warmUp, sim::Faults faults = {}) {
    sim::Options options;
    options.lc1WarmUp = warmUp;
    options.faults = faults;
    // One mixture per cell, so a held cell reads the same wherever its noise
    // puts the work point.
    options.mixture = sim::Mixture::PerCell;
    return options;
}

class LambdaOnSim : public ::testing::Test {
  protected:
    void Start(sim::Options options, int readTimeoutMs = 300) {
        options.fast = true;
        sim = std::make_unique<sim::Simulator>(options);
        std::string why;
        ASSERT_TRUE(sim->Start(&why)) << why;
        reader = std::make_unique<TLAMBDAThread>(
            bridge, [this](const std::string& l) { log.Append(l); },
            platform::MakePosixSerialPort(), platform::SystemClock::Instance(),
            lambda::LambdaOptions{.readTimeoutMs = readTimeoutMs});
        reader->PortName.Set(sim->Lc1Path());
        reader->PortSpeed.Set("19200");
        reader->Start();
        Open();
    }
    void Open() {
        reader->Command.Post("OpenComPort");
        ASSERT_TRUE(WaitFor([&] { return reader->IsComConnected == 1; }));
    }
    bool Receiving() const {
        return reader->IsComConnected == 1 && reader->IsLambdaConnected == 1 &&
               reader->IsLambdaError == 0;
    }
    bool Reads(double afr) const { return Receiving() && reader->AFR.load() == afr; }
    std::vector<std::string> LinesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : log.Lines())
            if (l.rfind(prefix, 0) == 0) out.push_back(l);
        return out;
    }

    platform::DirectUiBridge bridge;
    lambda::test::LogRecorder log;
    std::unique_ptr<sim::Simulator> sim;
    std::unique_ptr<TLAMBDAThread> reader;
};

TEST_F(LambdaOnSim, SteadyMixtureGivesItsAfr) {
    ASSERT_NO_FATAL_FAILURE(Start(Lc1Options(false)));
    struct Case {
        double lambda;
        double afr;
    };
    // 1.25 is an exact half (18.375) that goes to the even hundredth.
    for (const Case c : {Case{1.0, 14.7}, Case{0.9, 13.23}, Case{1.25, 18.38}, Case{0.7, 10.29}}) {
        sim->SetLc1Lambda(c.lambda);
        EXPECT_TRUE(WaitFor([&] { return Reads(c.afr); })) << c.lambda << " " << reader->AFR;
    }
    EXPECT_TRUE(LinesStartingWith("LAMBDA:<<").empty());
}

TEST_F(LambdaOnSim, EngineModelMixture) {
    ASSERT_NO_FATAL_FAILURE(Start(Lc1Options(false)));
    sim->HoldCell(5, 8);
    ASSERT_TRUE(WaitFor([&] { return sim->CurrentCell() == std::pair{5, 8}; }));
    const double expected = 14.7 * sim->TrueLambdaAtCell(5, 8);
    // The model adds a little sensor noise.
    EXPECT_TRUE(WaitFor([&] {
        return Receiving() && std::fabs(reader->AFR.load() - expected) < 0.06;
    })) << reader->AFR
        << " vs " << expected;
}

// A controller that is warming up sends a temperature in the lambda word:
// never a reading and no error either, but a state with a line as it
// begins and one as the readings begin.
TEST_F(LambdaOnSim, WarmUpIsAStateNotAnError) {
    ASSERT_NO_FATAL_FAILURE(Start(Lc1Options(true)));
    sim->SetLc1Lambda(1.0);
    ASSERT_TRUE(WaitFor([&] { return reader->WarmUpPercent >= 0; }));
    EXPECT_EQ(reader->IsLambdaConnected, 1);
    EXPECT_EQ(reader->IsLambdaError, 0);
    EXPECT_EQ(reader->AFR.load(), 0.0);
    ASSERT_TRUE(WaitFor([&] { return Reads(14.7); }));
    EXPECT_EQ(reader->WarmUpPercent, -1);
    const auto warmUp = LinesStartingWith("LAMBDA:>> LC-1: прогрев ");
    ASSERT_EQ(warmUp.size(), 2u);
    EXPECT_EQ(warmUp[1], "LAMBDA:>> LC-1: прогрев окончен");
    EXPECT_TRUE(LinesStartingWith("LAMBDA:<<").empty());
    EXPECT_EQ(reader->err2, 0);
}

TEST_F(LambdaOnSim, ErrorPacketsAndRecovery) {
    ASSERT_NO_FATAL_FAILURE(Start(Lc1Options(false, {.lc1Error = 1})));
    sim->SetLc1Lambda(1.0);
    ASSERT_TRUE(WaitFor([&] { return reader->err2 >= 4; }));
    EXPECT_EQ(reader->IsComConnected, 1);
    EXPECT_EQ(reader->IsLambdaConnected, 1);
    EXPECT_EQ(reader->IsLambdaError, 1);
    EXPECT_EQ(reader->AFR.load(), 0.0);
    EXPECT_EQ(reader->AFRs.Get(), "0");
    sim->SetFaults({});
    EXPECT_TRUE(WaitFor([&] { return Reads(14.7); }));
    const auto lines = LinesStartingWith("LAMBDA:<<");
    ASSERT_GE(lines.size(), 4u);
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], "LAMBDA:<< Ошибка данных" + std::to_string(i));
}

// A silent line: link errors, a line that comes back, then silence until the
// 51st time-out in a row closes the port. A short byte time-out keeps it
// quick.
TEST_F(LambdaOnSim, SilenceClosesAfterFiftyOneTimeOuts) {
    ASSERT_NO_FATAL_FAILURE(Start(Lc1Options(false), 60));
    sim->SetLc1Lambda(1.0);
    ASSERT_TRUE(WaitFor([&] { return Reads(14.7); }));

    sim->SetFaults({.lc1Silence = 1});
    ASSERT_TRUE(WaitFor([&] { return reader->err >= 3; }));
    EXPECT_EQ(reader->IsComConnected, 1);
    sim->SetFaults({});
    ASSERT_TRUE(WaitFor([&] { return Reads(14.7) && reader->err == 0; }));
    const int32_t before = reader->err2;
    ASSERT_GE(before, 3);

    sim->SetFaults({.lc1Silence = 1});
    ASSERT_TRUE(WaitFor([&] { return reader->IsComConnected == 0; }, std::chrono::seconds(20)));
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "LAMBDA:<< Ошибка связи!(51/" + std::to_string(before + 51) + ")");
    EXPECT_EQ(lines.back(), "LAMBDA:>> " + sim->Lc1Path() + " Закрытие порта...");
    EXPECT_EQ(reader->IsLambdaConnected, 0);
    EXPECT_EQ(reader->IsLambdaError, 0);
    EXPECT_EQ(reader->AFR.load(), 0.0);
    EXPECT_EQ(reader->AFRs.Get(), "0.00");

    sim->SetFaults({});
    Open();
    EXPECT_TRUE(WaitFor([&] { return Reads(14.7); }));
    EXPECT_EQ(reader->err2, 0);
}

}  // namespace
