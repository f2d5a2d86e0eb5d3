// The LC-1 sends error packets for a while during a logged session: the
// grid keeps showing the last reading, but the log's "AFR LC-1" cells of
// that stretch are empty, so nothing reading the log takes the frozen
// value for a measurement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/MainForm.h"
#include "live/LiveLogs.h"
#include "logs/LogReader.h"
#include "tests/e2e/WindowFixture.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

class RefusedReadings : public korvane::test::WindowTest {};

TEST_F(RefusedReadings, AStretchOfLc1ErrorsLeavesItsLogCellsEmpty) {
    MakeDemoFiles();
    if (HasFatalFailure()) return;
    sim::Options o = SimulatorOptions();
    o.lc1WarmUp = false;
    StartSimulator(o);
    if (HasFatalFailure()) return;
    simulator->SetLc1Lambda(1.0);
    WriteConfigText("Ecu Com=" + (dir / "ecu").string() +
                    "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nТаймаут2=200\r\n"
                    "Быстрый обмен=да\r\nLC-1 Com=" +
                    (dir / "lc1").string() +
                    "\r\nНе настраивать ниже %=2\r\nПисать логи=да\r\n"
                    "Интервал коррекции БЦН(мс)=120000\r\nВремя перезаписи прошивки(мс)=1000\r\n"
                    "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
                    "Датчик кислорода=ШДК LC-1\r\nПрошивка по умолчанию=demo.bin\r\n"
                    "Загрузить прошивку по умолчанию=да\r\n");
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(WaitUntilLive(*form, 20000))
        << form->LogLines().join("|").toStdString() << dialogs.errors.join("|").toStdString();
    const fs::path log = fs::path(form->DateDir()) / live::kXlsLogName;
    const auto lc1Values = [&] {
        const auto r = logs::ReadLog(log.string());
        std::vector<float> v;
        if (!r.ok) return v;
        const auto column = r.data.Column(r.data.ColumnOf("AFR LC-1"));
        return std::vector<float>(column.begin(), column.end());
    };
    const auto taken = [](const std::vector<float>& v) {
        return std::count_if(v.begin(), v.end(), [](float x) { return !std::isnan(x); });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return taken(lc1Values()) >= 20; }, 10000));

    simulator->SetFaults({.lc1Error = 1});
    QTest::qWait(1500);
    const size_t before = lc1Values().size();
    simulator->SetFaults({});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto v = lc1Values();
            return v.size() > before &&
                   taken(std::vector<float>(v.begin() + before, v.end())) >= 20;
        },
        10000));
    form->ToolButton(2)->click();

    // Taken, then a run of empty cells, then taken again; every value in
    // the log is a reading the window accepted (the row shows the reading
    // before its poll, so the very first one is the grid's starting 0).
    const auto v = lc1Values();
    size_t longestGap = 0, gap = 0;
    bool first = true;
    for (const float x : v) {
        gap = std::isnan(x) ? gap + 1 : 0;
        longestGap = std::max(longestGap, gap);
        if (std::isnan(x)) continue;
        if (!(first && x == 0)) {
            EXPECT_NEAR(x, 14.7, 0.2);
        }
        first = false;
    }
    EXPECT_GE(longestGap, 10u);
    EXPECT_FALSE(std::isnan(v.back()));
}

}  // namespace
