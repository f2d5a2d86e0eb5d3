// The link and the worker against korvane-sim on a pseudo-terminal, with
// the real serial layer.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "EcuTestSupport.h"
#include "ecu/EcuLink.h"
#include "platform/Clock.h"
#include "sim/Simulator.h"

using namespace korvane;
using namespace korvane::ecu;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

// The simulator in fast mode answers within a millisecond, and the fast
// exchange takes the answer as soon as it is in; the long read-back time
// only lets a busy machine be late without failing an exchange.
constexpr int kReadPause = 500;

sim::Options FastSim() {
    sim::Options o;
    o.fast = true;
    o.scenario = "idle";
    return o;
}

class SimLink : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(sim.Start(&why)) << why;
        fields.PortName = sim.EcuPath();
        fields.PortTimeOut = 0;
        fields.PortReadTimeOut = kReadPause;
        fields.FastExchange = 1;
    }

    sim::Simulator sim{FastSim()};
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    EcuLink link{fields, log, [] { return platform::MakePosixSerialPort(); },
                 platform::SystemClock::Instance()};
};

struct Speed {
    const char* text;
    int baud;
};
void PrintTo(const Speed& c, std::ostream* os) {
    *os << c.text;
}

class SimSession : public SimLink, public ::testing::WithParamInterface<Speed> {};

}  // namespace

TEST_P(SimSession, StartsAtTheChosenSpeedAndStopsAt10400) {
    fields.PortSpeed = GetParam().text;
    ASSERT_TRUE(link.OpenPort());
    ASSERT_TRUE(link.StartSession()) << ::testing::PrintToString(view.Lines());
    EXPECT_EQ(sim.EcuLineSpeed(), GetParam().baud);
    // Polling works at the new speed: the simulator answers only there.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
    EXPECT_EQ(fields.DiagnosticInfo.Size(), 51u);
    EXPECT_EQ(fields.error, 0) << ::testing::PrintToString(view.Lines());

    EXPECT_TRUE(link.StopSession());
    EXPECT_EQ(sim.EcuLineSpeed(), 10400);
    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 10u);
    const std::vector<int> bauds = {
        10400,           10400,           GetParam().baud, GetParam().baud, GetParam().baud,
        GetParam().baud, GetParam().baud, GetParam().baud, GetParam().baud, 10400};
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].baud, bauds[i]) << i;
        EXPECT_TRUE(requests[i].answered) << i;
    }
    EXPECT_EQ(requests.back().data, (Bytes{0x82}));
    link.ClosePort();
    EXPECT_EQ(view.Lines().back(), sim.EcuPath() + ": >> Закрытие порта...");
}

INSTANTIATE_TEST_SUITE_P(Speeds, SimSession,
                         ::testing::Values(Speed{"10400", 10400}, Speed{"38400", 38400},
                                           Speed{"57600", 57600}));

TEST_F(SimLink, StartFailsOnAnUnknownSpeed) {
    fields.PortSpeed = "19200";
    ASSERT_TRUE(link.OpenPort());
    EXPECT_FALSE(link.StartSession());
    const std::string name = sim.EcuPath();
    EXPECT_EQ(view.Lines(),
              (Lines{name + ": >> Открытие порта...", name + ": >> скорость порта - 19200",
                     "ECU: >> Starting Communication", "ECU: >> Starting Diagnostic Session",
                     "ERROR: >> Ошибка при выборе скорости порта!",
                     "«Скорость ECU COM» = «19200»: возможны только 10400, 38400 и 57600.",
                     name + ": >> Закрытие порта..."}));
    EXPECT_EQ(fields.IsComConnected, 0);
}

TEST_F(SimLink, StartFailsOnASilentLine) {
    fields.PortSpeed = "57600";
    sim::Faults faults;
    faults.silence = 1;
    sim.SetFaults(faults);
    ASSERT_TRUE(link.OpenPort());
    view.Clear();
    EXPECT_FALSE(link.StartSession());
    const std::string missing =
        "ECU: << ОШИБКА Неправильный ответ блока!\r\nЗапрос - 0x81; Ответ - null; (0xC16B8F)";
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Starting Communication", missing, "Ошибка №1",
                     "ECU: >> Повтор запроса 0x81: попытка 2 из 3", missing, "Ошибка №2",
                     "ECU: >> Повтор запроса 0x81: попытка 3 из 3", missing, "Ошибка №3",
                     "ECU: << ECU не ответил на StartCommunication. Если ему нужна быстрая "
                     "инициализация, попробуйте \"Инициализация K-line=быстрая\"."}));

    // Not even the adapter answers: only the hint at the likely cause.
    faults.noEcho = 1;
    sim.SetFaults(faults);
    view.Clear();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.StartSession());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(200));
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Starting Communication",
                                   "ECU: >> Повтор запроса 0x81: попытка 2 из 3",
                                   "ECU: >> Повтор запроса 0x81: попытка 3 из 3",
                                   "ECU: << Ничего не пришло в ответ: адаптер K-line не подключён, "
                                   "выбран не тот порт или нет питания."}));
    EXPECT_EQ(fields.error, 3);
}

// An ECU with its P2 and the wire time of every byte, as on a car.
class SimLineTiming : public ::testing::Test {
  protected:
    void Start(int p2Ms) {
        sim::Options o;
        o.scenario = "idle";
        o.p2Ms = p2Ms;
        sim = std::make_unique<sim::Simulator>(o);
        std::string why;
        ASSERT_TRUE(sim->Start(&why)) << why;
        fields.PortName = sim->EcuPath();
        fields.PortSpeed = "38400";
    }

    std::unique_ptr<sim::Simulator> sim;
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    UiLog log{bridge, view};
    EcuLinkFields fields;
    EcuLink link{fields, log, [] { return platform::MakePosixSerialPort(); },
                 platform::SystemClock::Instance()};
};

// The fast exchange takes every answer of a session and its polls, and the
// ECU always gets its quiet time ("Таймаут1") after its answer.
TEST_F(SimLineTiming, FastExchangeKeepsTheQuietTime) {
    ASSERT_NO_FATAL_FAILURE(Start(25));
    fields.PortTimeOut = 20;
    fields.PortReadTimeOut = 150;
    fields.FastExchange = 1;
    ASSERT_TRUE(link.OpenPort());
    ASSERT_TRUE(link.StartSession()) << ::testing::PrintToString(view.Lines());
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(link.SendRequest({0x21, 0x0F}));
    EXPECT_EQ(fields.DiagnosticInfo.Size(), 51u);
    EXPECT_EQ(fields.error, 0) << ::testing::PrintToString(view.Lines());
    const auto requests = sim->Requests();
    ASSERT_EQ(requests.size(), 10u);
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].answered) << i;
        if (i > 0) {
            EXPECT_GE(requests[i].at - requests[i - 1].answerAt, 20ms) << i;
        }
    }
}

// A slow ECU (P2 200 ms, "Таймаут2" 100 ms): the answer counts as missing
// once the read-back time is over, with or without the fast exchange, and
// is not taken for the next exchange's answer when it comes at last.
TEST_F(SimLineTiming, LateAnswerCountsAsMissingAndIsNotTakenLater) {
    ASSERT_NO_FATAL_FAILURE(Start(200));
    fields.PortTimeOut = 0;
    fields.PortReadTimeOut = 100;
    for (int32_t fast : {0, 1}) {
        SCOPED_TRACE(fast);
        fields.FastExchange = fast;
        fields.error = 0;
        ASSERT_TRUE(link.OpenPort());
        view.Clear();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(link.SendRequest({0x81}));
        // The link's clock counts whole milliseconds.
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 99ms);
        EXPECT_EQ(view.Lines(),
                  (Lines{"ECU: << ОШИБКА Неправильный ответ блока!\r\nЗапрос - 0x81; Ответ - "
                         "null; (0xC16B8F)",
                         "Ошибка №1"}));
        std::this_thread::sleep_for(250ms);  // the answer is in by now
        view.Clear();
        // The right answer waiting there belongs to the first request: this
        // one's own answer is late again.
        EXPECT_FALSE(link.SendRequest({0x81}));
        EXPECT_EQ(view.Lines(),
                  (Lines{"ECU: << ОШИБКА Неправильный ответ блока!\r\nЗапрос - 0x81; Ответ - "
                         "null; (0xC16B8F)",
                         "Ошибка №2"}));
        link.ClosePort();
        std::this_thread::sleep_for(300ms);  // the second late answer goes nowhere
    }
}
