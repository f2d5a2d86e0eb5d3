// The real window with the real workers, connected to the simulator on
// pseudo-terminals: what a user sees when connecting and disconnecting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "app/MainForm.h"
#include "app/ValueListEditor.h"
#include "ecu/ECUThread.h"
#include "lambda/LAMBDAThread.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/StatusBarView.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

class Connected : public ::testing::Test {
protected:
    fs::path dir;
    std::unique_ptr<sim::Simulator> simulator;
    app::RecordingDialogs dialogs;

    void SetUp() override {
        static int n = 0;
        dir = fs::temp_directory_path() /
              ("korvane_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(dir);
        sim::Options o;
        o.ecuLink = (dir / "ecu").string();
        o.lc1Link = (dir / "lc1").string();
        o.fast = true;
        o.lc1WarmUp = false;
        o.scenario = "idle";
        simulator = std::make_unique<sim::Simulator>(o);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
        simulator->SetLc1Lambda(1.0);
    }
    void TearDown() override {
        simulator.reset();
        fs::remove_all(dir);
    }

    void WriteConfig(const std::string& sensor, const std::string& pause = "0",
                     const std::string& speed = "38400") {
        const std::string text = "Ecu Com=" + (dir / "ecu").string() + "\r\nСкорость ECU COM=" +
                                 speed + "\r\nТаймаут1=" + pause +
                                 "\r\nТаймаут2=5\r\nLC-1 Com=" + (dir / "lc1").string() +
                                 "\r\nНе настраивать ниже %=2\r\nПисать логи=нет\r\n"
                                 "Интервал коррекции БЦН(мс)=120000\r\n"
                                 "Время перезаписи прошивки(мс)=500\r\n"
                                 "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
                                 "Датчик кислорода=" + sensor +
                                 "\r\nЗагрузить прошивку по умолчанию=нет\r\n";
        std::string bytes, error;
        platform::Utf8ToCp1251(text, bytes);
        ASSERT_TRUE(platform::WriteFileAtomically((dir / "config.ini").string(), bytes, error));
    }

    std::unique_ptr<app::TForm1> Open() {
        app::FormEnvironment env;
        env.dialogs = &dialogs;
        env.workDir = dir.string();
        env.lambdaReadTimeoutMs = 100;
        auto form = std::make_unique<app::TForm1>(env);
        form->show();
        QApplication::processEvents();
        return form;
    }

    bool SawRequest(uint8_t service) const {
        for (const auto& r : simulator->Requests())
            if (!r.data.empty() && r.data[0] == service && r.answered) return true;
        return false;
    }
};

QString Figure(app::TForm1& form, const char* name) { return form.Dashboard->Figure(name)->text(); }

}  // namespace

TEST_F(Connected, ConnectShowsTheEngineLiveAndDisconnectStopsTheSession) {
    WriteConfig("ШДК LC-1");
    auto form = Open();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    form->ToolButton(1)->click();
    EXPECT_EQ(form->Label6->text(), "Включаемся");
    EXPECT_FALSE(form->ValueListEditor1->isEnabled());
    EXPECT_FALSE(form->ToolButton(1)->isEnabled());
    EXPECT_TRUE(form->ToolButton(2)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Label6->text() == "Диагностика"; }, 10000)) << form->LogLines().join("|").toStdString() << dialogs.errors.join("|").toStdString();
    EXPECT_EQ(form->Label6->palette().color(QPalette::Window), QColor(255, 0, 0));
    for (int n : {7, 8, 14, 18, 19, 21}) EXPECT_TRUE(form->ToolButton(n)->isEnabled()) << n;
    EXPECT_FALSE(form->ToolButton(10)->isEnabled());  // no firmware image
    EXPECT_TRUE(fs::is_directory(form->DateDir()));
    form->ToolButton(21)->click();  // map mode
    EXPECT_EQ(form->RightArea->currentWidget(), form->Calibrpanel);
    EXPECT_EQ(form->LeftArea->currentWidget(), form->PanelXX);
    form->ToolButton(18)->click();
    EXPECT_EQ(form->RightArea->currentWidget(), form->PanelMain);

    // The grid and the dashboard show what the simulated engine sends, and
    // the LC-1's ratio (lambda 1 → 14.70).
    const char sep = form->DecimalSeparator();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return Figure(*form, "AFRLClabel") == QString::fromStdString(platform::FormatFixed(14.7, 2, sep));
    }, 5000)) << Figure(*form, "AFRLClabel").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Diagnostics->CellText(1, 7).isEmpty(); }, 5000));
    const auto frame = simulator->DiagnosticFrame();
    const double modelRpm = 40.0 * frame[12];
    const double shownRpm = form->Diagnostics->CellText(1, 7).toDouble();
    EXPECT_NEAR(shownRpm, modelRpm, 200.0);  // the idle engine wanders a little
    EXPECT_GT(shownRpm, 400.0);
    const double shownThrottle = form->Diagnostics->CellText(1, 6).toDouble();
    EXPECT_NEAR(shownThrottle, frame[11], 3.0);
    EXPECT_EQ(form->Diagnostics->CellText(1, 4).isEmpty(), false);
    EXPECT_EQ(form->Diagnostics->CellText(1, 12), "");

    // Status bar: port and session green with "ONLINE", LC-1 green.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusBar1->Cells().ecuSession.text == "ONLINE"; }, 2000));
    EXPECT_EQ(form->StatusBar1->Cells().ecuPort.fill, live::kGreen);
    EXPECT_EQ(form->StatusBar1->Cells().ecuSession.fill, live::kGreen);
    ASSERT_TRUE(form->StatusBar1->Cells().lambda.has_value());
    EXPECT_EQ(form->StatusBar1->Cells().lambda->fill, live::kGreen);
    EXPECT_TRUE(form->engineTimer->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Label1->text().startsWith("FROM ECU:"); }, 2000));

    // Disconnect: the session is stopped on the wire, the cells go yellow,
    // the engine timer stops.
    form->ToolButton(2)->click();
    EXPECT_EQ(form->Label6->text(), "Выключено");
    EXPECT_TRUE(form->ValueListEditor1->isEnabled());
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return SawRequest(0x20) && SawRequest(0x82); }, 5000));
    // The session ends first, then the port closes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->StatusBar1->Cells().ecuPort.fill == live::kYellow; }, 3000));
    EXPECT_EQ(form->StatusBar1->Cells().ecuSession.text, "OFFLINE");
    EXPECT_EQ(form->StatusBar1->Cells().ecuSession.fill, live::kYellow);
    EXPECT_FALSE(form->engineTimer->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->LambdaWorker().IsComConnected == 0; }, 2000));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();

    // A second connect works the same and logs the long-diagnostic line once.
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Label6->text() == "Диагностика"; }, 10000));
    EXPECT_EQ(form->LogLines().count("ECU: >> Long Diagnostic"), 1);
}

TEST_F(Connected, SilentEcuLeavesTheWindowConnectingUntilDisconnect) {
    sim::Faults f;
    f.silence = 1.0;
    simulator->SetFaults(f);
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    QTest::qWait(2500);
    EXPECT_EQ(form->Label6->text(), "Включаемся");
    EXPECT_TRUE(form->Timer3->isActive());
    EXPECT_EQ(form->EcuWorker().IsDiagnostic, 0);
    EXPECT_TRUE(form->LogLines().contains("ECU: >> Starting Communication"));
    EXPECT_TRUE(form->LogLines().filter("Ошибка №").size() >= 1);
    form->ToolButton(2)->click();
    EXPECT_EQ(form->Label6->text(), "Выключено");
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().IsComConnected == 0; }, 3000));
}

TEST_F(Connected, NarrowBandSensorStartsNoLc1) {
    WriteConfig("УДК");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Label6->text() == "Диагностика"; }, 10000)) << form->LogLines().join("|").toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Figure(*form, "AFRLClabel") == "УДК"; }, 3000));
    EXPECT_EQ(form->LambdaWorker().IsComConnected, 0);
    EXPECT_FALSE(form->StatusBar1->Cells().lambda.has_value());
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
    // Stopped before the worker was told anything; the user can disconnect.
    EXPECT_TRUE(form->EcuWorker().Command.Empty());
    EXPECT_FALSE(form->Timer3->isActive());
    EXPECT_TRUE(form->ToolButton(2)->isEnabled());
    form->ToolButton(2)->click();
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    QTest::qWait(300);
    EXPECT_EQ(form->EcuWorker().IsComConnected, 0);
}
