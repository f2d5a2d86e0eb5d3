// The real window with the real workers, connected to the simulator on
// pseudo-terminals: what a user sees when connecting and disconnecting.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/MainForm.h"
#include "app/SettingsStore.h"
#include "app/ValueListEditor.h"
#include "ecu/ECUThread.h"
#include "firmware/ui/FirmwareActions.h"
#include "lambda/LAMBDAThread.h"
#include "live/LiveLogs.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/StatusBarView.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

class Connected : public korvane::test::WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        StartSimulator();
    }
    // The simulator on the fixture's links (again after a test killed it).
    void StartSimulator() {
        sim::Options o = SimulatorOptions();
        o.lc1WarmUp = false;
        WindowTest::StartSimulator(o);
        ASSERT_FALSE(HasFatalFailure());
        simulator->SetLc1Lambda(1.0);
    }

    void WriteConfig(const std::string& sensor, const std::string& pause = "0",
                     const std::string& speed = "38400", const std::string& logs = "нет",
                     const std::string& moreLines = "") {
        const std::string text =
            "Ecu Com=" + (dir / "ecu").string() + "\r\nСкорость ECU COM=" + speed +
            "\r\nТаймаут1=" + pause +
            "\r\nТаймаут2=200\r\nБыстрый обмен=да\r\nLC-1 Com=" + (dir / "lc1").string() +
            "\r\nНе настраивать ниже %=2\r\nПисать логи=" + logs +
            "\r\n"
            "Интервал коррекции БЦН(мс)=120000\r\n"
            "Время перезаписи прошивки(мс)=500\r\n"
            "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
            "Датчик кислорода=" +
            sensor + "\r\nЗагрузить прошивку по умолчанию=нет\r\n" + moreLines;
        WriteConfigText(text);
    }

    bool SawRequest(uint8_t service) const {
        for (const auto& r : simulator->Requests())
            if (!r.data.empty() && r.data[0] == service && r.answered) return true;
        return false;
    }
};

QString Figure(app::TForm1& form, const char* name) {
    return Part<live::DashboardView>(form, "DashboardView")->Figure(name)->text();
}

}  // namespace

TEST_F(Connected, ConnectShowsTheEngineLiveAndDisconnectStopsTheSession) {
    WriteConfig("ШДК LC-1");
    auto form = Open();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    form->ToolButton(1)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Включаемся");
    EXPECT_FALSE(Part<app::ValueListEditor>(*form, "ValueListEditor1")->isEnabled());
    EXPECT_FALSE(form->ToolButton(1)->isEnabled());
    EXPECT_TRUE(form->ToolButton(2)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString() << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->palette().color(QPalette::Window), QColor(255, 0, 0));
    for (int n : {7, 8, 14, 18, 19, 21}) EXPECT_TRUE(form->ToolButton(n)->isEnabled()) << n;
    EXPECT_FALSE(form->ToolButton(10)->isEnabled());  // no firmware image
    EXPECT_TRUE(fs::is_directory(form->DateDir()));
    form->ToolButton(21)->click();  // map mode
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "Calibrpanel"));
    EXPECT_EQ(Part<QStackedWidget>(*form, "LeftArea")->currentWidget(),
              Part<QWidget>(*form, "PanelXX"));
    // No map chosen yet ("Карта прошивки" empty): map mode says so.
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("не задан")) << dialogs.errors[0].toStdString();
    dialogs.errors.clear();
    form->ToolButton(18)->click();
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "PanelMain"));

    // The grid and the dashboard show what the simulated engine sends, and
    // the LC-1's ratio (lambda 1 → 14.70).
    const char sep = form->DecimalSeparator();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Figure(*form, "AFRLClabel") ==
                   QString::fromStdString(platform::FormatFixed(14.7, 2, sep));
        },
        5000))
        << Figure(*form, "AFRLClabel").toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 7).isEmpty();
        },
        5000));
    const auto frame = simulator->DiagnosticFrame();
    const double modelRpm = 40.0 * frame[12];
    const double shownRpm =
        Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 7).toDouble();
    EXPECT_NEAR(shownRpm, modelRpm, 200.0);  // the idle engine wanders a little
    EXPECT_GT(shownRpm, 400.0);
    const double shownThrottle =
        Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 6).toDouble();
    EXPECT_NEAR(shownThrottle, frame[11], 3.0);
    EXPECT_EQ(Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 4).isEmpty(),
              false);
    EXPECT_EQ(Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 12), "");

    // Status bar: port and session green with "ONLINE", LC-1 green.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.text ==
                   "ONLINE";
        },
        2000));
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuPort.fill, live::kGreen);
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.fill,
              live::kGreen);
    ASSERT_TRUE(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().lambda.has_value());
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().lambda->fill, live::kGreen);
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label1")->text().startsWith("FROM ECU:"); }, 2000));

    // Disconnect: the session is stopped on the wire, the cells go yellow,
    // the engine timer stops.
    form->ToolButton(2)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Выключено");
    EXPECT_TRUE(Part<app::ValueListEditor>(*form, "ValueListEditor1")->isEnabled());
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return SawRequest(0x20) && SawRequest(0x82); }, 5000));
    // The session ends first, then the port closes.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuPort.fill ==
                   live::kYellow;
        },
        3000));
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.text, "OFFLINE");
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.fill,
              live::kYellow);
    EXPECT_FALSE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->LambdaWorker().IsComConnected == 0; }, 2000));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // A second connect works the same and logs the long-diagnostic line once.
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000));
    EXPECT_EQ(form->LogLines().count("ECU: >> Long Diagnostic"), 1);
}

// A silent ECU: the start is tried three times, then the connect says it
// failed and the window is back in its disconnected state, ports closed.
TEST_F(Connected, SilentEcuEndsTheConnectAfterThreeStartsWithAClearMessage) {
    sim::Faults f;
    f.silence = 1.0;
    simulator->SetFaults(f);
    WriteConfig("УДК", "0", "38400", "да");  // logs on: their headers are written at once
    auto form = Open();
    auto folders = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.is_directory();
        return n;
    };
    const int foldersBefore = folders();
    form->ToolButton(1)->click();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Включаемся");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Связь с ECU не установлена"; },
        10000))
        << form->LogLines().join("|").toStdString();
    const QStringList log = form->LogLines();
    EXPECT_EQ(log.count("ECU: >> Starting Communication"), 3);
    EXPECT_EQ(log.count("ECU: >> Повторный запуск связи, попытка 2 из 3"), 1);
    EXPECT_EQ(log.count("ECU: >> Повторный запуск связи, попытка 3 из 3"), 1);
    EXPECT_EQ(log.count("ECU: << Связь с ECU не установлена"), 1);
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    EXPECT_FALSE(form->ToolButton(2)->isEnabled());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 3000));
    // No session stood: its folder, with nothing but the logs' headers, is
    // gone again, and the settings panel says what happened.
    EXPECT_EQ(folders(), foldersBefore);
    EXPECT_TRUE(Part<QLabel>(*form, "SettingsNote")->text().contains("Связь с ECU не установлена"));
    // The same when the user gives up before the session stands.
    form->ToolButton(1)->click();
    EXPECT_EQ(folders(), foldersBefore + 1);
    form->ToolButton(2)->click();
    EXPECT_EQ(folders(), foldersBefore);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->EcuWorker().Status().IsComConnected == 0; }, 5000));
}

// An adapter that echoes nothing: the log names the likely causes once.
TEST_F(Connected, MissingEchoIsExplainedOnce) {
    sim::Faults f;
    f.noEcho = 1.0;
    simulator->SetFaults(f);
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Связь с ECU не установлена"; },
        10000));
    EXPECT_EQ(form->LogLines().filter("ECU: << Адаптер не вернул эхо").size() +
                  form->LogLines().filter("ECU: << Ничего не пришло в ответ").size(),
              1)
        << form->LogLines().join("|").toStdString();
}

namespace {

// An ECU that wants the fast-init wake-up, played by the simulator program:
// with "Инициализация K-line=быстрая" the connect stands and the simulator
// saw the pattern; with "нет" it keeps quiet and the log says what to try.
struct InitCase {
    const char* name;
    const char* init;
    bool connects;
};

class ConnectedFastInit : public Connected, public ::testing::WithParamInterface<InitCase> {
  protected:
    pid_t simPid = -1;
    void StartProgramWithFastInit() {
        simulator.reset();
        simPid = ::fork();
        ASSERT_GE(simPid, 0);
        if (simPid == 0) {
            const std::string ecu = (dir / "ecu").string(), lc1 = (dir / "lc1").string(),
                              out = (dir / "sim.out").string();
            if (!std::freopen(out.c_str(), "w", stdout)) ::_exit(126);
            ::execl(KORVANE_SIM_PROGRAM, KORVANE_SIM_PROGRAM, "--ecu", ecu.c_str(), "--lc1",
                    lc1.c_str(), "--fast", "--scenario", "idle", "--no-warmup", "--init", "fast",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !fs::exists(dir / "ecu"); ++i) QTest::qWait(10);
        ASSERT_TRUE(fs::exists(dir / "ecu"));
    }
    std::string SimulatorOutput() {
        if (simPid > 0) {
            ::kill(simPid, SIGTERM);
            ::waitpid(simPid, nullptr, 0);
            simPid = -1;
        }
        std::ifstream in(dir / "sim.out");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void TearDown() override {
        SimulatorOutput();
        Connected::TearDown();
    }
};

}  // namespace

TEST_P(ConnectedFastInit, ConnectsOnlyWithTheWakeUp) {
    const auto& c = GetParam();
    StartProgramWithFastInit();
    WriteConfig("УДК", "0", "38400", "нет", std::string("Инициализация K-line=") + c.init + "\r\n");
    auto form = Open();
    form->ToolButton(1)->click();
    const QString state = c.connects ? "Диагностика" : "Связь с ECU не установлена";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Part<QLabel>(*form, "Label6")->text() == state; }, 10000))
        << form->LogLines().join("|").toStdString();
    const QStringList log = form->LogLines();
    const QString hint =
        "ECU: << ECU не ответил на StartCommunication. Если ему нужна быстрая "
        "инициализация, попробуйте \"Инициализация K-line=быстрая\".";
    EXPECT_EQ(log.count(hint), c.connects ? 0 : 1) << log.join("|").toStdString();
    EXPECT_EQ(log.count("ECU: >> Fast Init") > 0, c.connects);
    form->ToolButton(2)->click();
    form.reset();

    const std::string seen = SimulatorOutput();
    if (c.connects) {
        EXPECT_NE(seen.find("init: wake-up: 0x00 at 360 baud"), std::string::npos) << seen;
        EXPECT_NE(seen.find("ms after the wake-up: answered"), std::string::npos) << seen;
    } else {
        EXPECT_EQ(seen.find("wake-up: 0x00"), std::string::npos) << seen;
        EXPECT_NE(seen.find("init: StartCommunication without a wake-up before it (25..100 ms "
                            "needed): not answered"),
                  std::string::npos)
            << seen;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ConnectedFastInit,
                         ::testing::Values(InitCase{"Fast", "быстрая", true},
                                           InitCase{"None", "нет", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The K-line and the LC-1 named as one device (here through a second link,
// as two adapters with one serial number end up): refused before any port
// opens, with a message that names both.
TEST_F(Connected, BothAdaptersOnOneDeviceAreRefused) {
    fs::create_symlink(fs::read_symlink(dir / "ecu"), dir / "same");
    WriteConfig("ШДК LC-1");
    {
        app::SettingsStore s;
        std::string error;
        ASSERT_TRUE(s.Load((dir / "config.ini").string(), error));
        s.SetSettingValue("LC-1 Com", (dir / "same").string());
        ASSERT_TRUE(s.Save((dir / "config.ini").string(), error)) << error;
    }
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("указывают на одно и то же устройство"));
    EXPECT_TRUE(dialogs.errors[0].contains(QString::fromStdString((dir / "same").string())));
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    EXPECT_FALSE(form->ToolButton(2)->isEnabled());
    EXPECT_TRUE(form->LogLines().filter("Открытие порта").isEmpty());
}

// A port that is not there: the log says so with the ports that are, and
// the connect fails as any port that does not open.
TEST_F(Connected, MissingPortIsSaidWithThePortsPresent) {
    WriteConfig("ШДК LC-1");
    const std::string absent = (dir / "gone").string();
    {
        app::SettingsStore s;
        std::string error;
        ASSERT_TRUE(s.Load((dir / "config.ini").string(), error));
        s.SetSettingValue("Ecu Com", absent);
        ASSERT_TRUE(s.Save((dir / "config.ini").string(), error)) << error;
    }
    auto form = Open();
    form->ToolButton(1)->click();
    const QString lc1 = QString::fromStdString((dir / "lc1").string());
    const QStringList notes = form->LogLines().filter(
        QString::fromStdString("Порт " + absent + " не найден. Есть порты: "));
    ASSERT_EQ(notes.size(), 1) << form->LogLines().join("|").toStdString();
    EXPECT_TRUE(notes[0].contains(lc1)) << notes[0].toStdString();
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return form->LogLines().contains(
                QString::fromStdString("ОШИБКА: Не удаётся открыть порт " + absent + " !"));
        },
        3000));
    form->ToolButton(2)->click();
}

// Closing the window while connected ends the session on the wire, so the
// ECU is free for the next connect at once.
TEST_F(Connected, ClosingWhileConnectedEndsTheSessionOnTheWire) {
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString();
    form->close();
    // The window closes once the worker reports the close done.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 3000));
    EXPECT_TRUE(SawRequest(0x20));
    EXPECT_TRUE(SawRequest(0x82));
}

// A worker busy with a long command (a firmware read with 50 ms before
// each of its 683 requests takes half a minute) cannot keep the window
// open: the close waits behind the read for a bounded time, then the window
// closes and the read is stopped.
TEST_F(Connected, ClosingDuringAFirmwareReadClosesWithinTheGracePeriod) {
    WriteConfig("УДК", "50");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString();
    form->ToolButton(8)->click();
    ASSERT_TRUE(form->Firmware().Reading());
    form->close();
    QTest::qWait(300);
    EXPECT_TRUE(form->isVisible());  // still waiting for the close's turn
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
    EXPECT_FALSE(form->LogLines().contains("Прошивка считана из ECU"));
}

// The car goes away mid-session (nothing comes back, not even the
// adapter's echo, so no poll counts as an error): within two seconds the window says so
// and greys the figures instead of showing the last ones as live; when it
// answers again everything comes back.
TEST_F(Connected, SilenceMidSessionIsShownAndLiveDataComesBack) {
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.text ==
                   "ONLINE";
        },
        2000));

    sim::Faults gone;
    gone.silence = 1.0;
    gone.noEcho = 1.0;
    simulator->SetFaults(gone);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->LogLines().contains("ECU не отвечает"); }, 2500))
        << form->LogLines().join("|").toStdString();
    // The bar follows on its next tick.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.text ==
                   "НЕТ ОТВЕТА";
        },
        500));
    EXPECT_EQ(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.fill,
              live::kYellow);
    EXPECT_EQ(Part<live::DashboardView>(*form, "DashboardView")->Figure("RPMlabel")->Colour(),
              QColor(128, 128, 128));
    const int polls = form->EcuWorker().Status().numlog;
    QTest::qWait(500);
    EXPECT_GT(form->EcuWorker().Status().numlog, polls);  // still polling
    EXPECT_EQ(form->LogLines().count("ECU не отвечает"), 1);

    simulator->SetFaults(sim::Faults{});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->LogLines().contains("ECU снова отвечает"); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Part<live::StatusBarView>(*form, "StatusBar1")->Cells().ecuSession.text ==
                   "ONLINE";
        },
        500));
    EXPECT_EQ(Part<live::DashboardView>(*form, "DashboardView")->Figure("RPMlabel")->Colour(),
              QColor(0, 128, 0));
    form->ToolButton(2)->click();
}

// The simulator is killed mid-session (its links vanish, as an adapter
// pulled out does): with reconnecting on, the window disconnects, tries
// again every 3 s and, once the simulator is back, is live again without a
// touch.
TEST_F(Connected, ReconnectsOnItsOwnWhenTheCarComesBack) {
    WriteConfig("УДК");
    {
        app::SettingsStore s;
        std::string error;
        ASSERT_TRUE(s.Load((dir / "config.ini").string(), error));
        s.SetSettingValue("Переподключаться", "да");
        ASSERT_TRUE(s.Save((dir / "config.ini").string(), error)) << error;
    }
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString();
    const std::string folder = form->DateDir();

    simulator.reset();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return form->LogLines().contains("Связь с ECU потеряна: переподключение каждые 3 с");
        },
        4000))
        << form->LogLines().join("|").toStdString();
    EXPECT_TRUE(form->ToolButton(2)->isEnabled());  // the user can still stop it
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !form->LogLines().filter("Переподключение к ECU, попытка").isEmpty(); },
        5000));

    StartSimulator();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return form->LogLines().contains("Связь с ECU восстановлена"); }, 15000))
        << form->LogLines().join("|").toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 3000));
    EXPECT_EQ(form->DateDir(), folder);  // the session's folder carries on
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    form->ToolButton(2)->click();
    const int attempts = form->LogLines().filter("Переподключение к ECU, попытка").size();
    QTest::qWait(4000);
    EXPECT_EQ(form->LogLines().filter("Переподключение к ECU, попытка").size(), attempts);
}

TEST_F(Connected, NarrowBandSensorStartsNoLc1) {
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Диагностика"; }, 10000))
        << form->LogLines().join("|").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Figure(*form, "AFRLClabel") == "УДК"; }, 3000));
    EXPECT_EQ(form->LambdaWorker().IsComConnected, 0);
    EXPECT_FALSE(Part<live::StatusBarView>(*form, "StatusBar1")->Cells().lambda.has_value());
    EXPECT_TRUE(form->Decoder().NarrowBandMode);
    form->ToolButton(2)->click();
}

TEST_F(Connected, SettingThatIsNoIntegerStopsTheConnectWithAMessage) {
    WriteConfig("ШДК LC-1", "2O");  // a letter O typed for a zero
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("Таймаут1"));
    EXPECT_TRUE(dialogs.errors[0].contains("«2O»"));
    // Stopped before the worker was told anything: nothing to disconnect,
    // the window is back in its disconnected state and can connect again.
    EXPECT_TRUE(form->EcuWorker().Idle());
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    EXPECT_FALSE(form->ToolButton(2)->isEnabled());
    QTest::qWait(300);
    EXPECT_EQ(form->EcuWorker().Status().IsComConnected, 0);
}

namespace {

std::vector<std::string> LogLinesOf(const fs::path& file) {
    const auto r = platform::ReadTextFile(file.string());
    EXPECT_TRUE(r.ok) << file << ": " << r.error;
    EXPECT_EQ(r.file.encoding, platform::TextEncoding::Cp1251) << file;
    return r.file.lines;
}

}  // namespace

// With "Писать логи=да" the connect writes the header files at once, every
// poll the engine tick handles adds one line with the grid as shown, and the
// disconnect ends the lines. A connect with "нет" writes no log file.
TEST_F(Connected, LiveLogsRecordEveryHandledPollUntilDisconnect) {
    WriteConfig("УДК", "0", "38400", "да");
    auto form = Open();
    form->ToolButton(1)->click();
    const fs::path session = form->DateDir();
    EXPECT_EQ(LogLinesOf(session / "лог.xls"), std::vector<std::string>{live::XlsHeaderLine()});
    EXPECT_EQ(LogLinesOf(session / "лог2.csv"), std::vector<std::string>{live::CsvHeaderLine()});
    EXPECT_FALSE(fs::exists(session / "лог2-CSV.csv"));

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->Decoder().Polls().FreshTickCount() >= 8; }, 10000));
    form->ToolButton(2)->click();
    const int handled = form->Decoder().Polls().FreshTickCount();

    // One line per handled poll, never two; the last one is what the grid
    // shows now that the engine timer has stopped.
    const auto xls = LogLinesOf(session / "лог.xls");
    const auto csv = LogLinesOf(session / "лог2-CSV.csv");
    ASSERT_EQ(xls.size(), static_cast<size_t>(handled + 1));
    ASSERT_EQ(csv.size(), static_cast<size_t>(handled + 1));
    std::string shown, shownCsv = "0";
    for (int row = 1; row <= 37; ++row) {
        std::string text =
            Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, row).toStdString();
        // With the narrow-band sensor no LC-1 reading is taken: the log
        // leaves its cell empty, whatever the grid still shows there.
        if (row == 4) text.clear();
        shown += (row > 1 ? "\t" : "") + text;
        if (row == 1) continue;
        if (auto comma = text.find(','); comma != std::string::npos) text[comma] = '.';
        shownCsv += "," + text;
    }
    EXPECT_EQ(xls.back(), shown);
    EXPECT_EQ(csv.back(), shownCsv);
    EXPECT_FALSE(Part<live::DiagnosticsView>(*form, "DiagnosticsView")->CellText(1, 7).isEmpty());
    EXPECT_EQ(LogLinesOf(session / "лог2.csv").size(), 1u);

    // Nothing more after the disconnect.
    const auto size = fs::file_size(session / "лог.xls");
    QTest::qWait(300);
    EXPECT_EQ(fs::file_size(session / "лог.xls"), size);

    // The next connection, logging off, in a folder of its own.
    form->Settings().SetSettingValue("Писать логи", "нет");
    QTest::qWait(1100);
    form->ToolButton(1)->click();
    const fs::path quiet = form->DateDir();
    ASSERT_NE(quiet, session);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->Decoder().Polls().FreshTickCount() >= 3; }, 10000));
    form->ToolButton(2)->click();
    EXPECT_TRUE(fs::is_directory(quiet));
    // No live log there, only the journal of the window's log.
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(quiet))
        files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<fs::path>{fs::path("журнал.txt")});
    EXPECT_EQ(fs::file_size(session / "лог.xls"), size);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
}
