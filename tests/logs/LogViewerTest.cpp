#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "firmware/FirmwareImage.h"
#include "logs/ui/AnalysisView.h"
#include "logs/ui/DeskActions.h"
#include "logs/ui/LogPlot.h"
#include "logs/ui/LogViewer.h"
#include "logs/ui/LogXYView.h"
#include "sim/Simulator.h"
#include "tests/logs/DriveLog.h"

using namespace korvane;
using namespace korvane::logs;
using namespace korvane::logs::ui;
namespace fs = std::filesystem;

namespace {

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/korvane-viewer-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

drive::DriveImage Synthetic() {
    const auto fw = sim::MakeSyntheticFirmware(1);
    drive::DriveImage image{};
    std::copy(fw.begin(), fw.end(), image.begin());
    return image;
}

// Three minutes of the simulated drive, recorded once for all tests here.
class Viewer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        log_ = drive::RecordDrive(dir_->Path() / "drive", Synthetic(), 3, sim::Mixture::PerCell);
    }
    static void TearDownTestSuite() { delete dir_; }

    static int CountColour(const QImage& image, const QRect& area, QColor colour) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += QColor(image.pixel(x, y)) == colour;
        return n;
    }

    static inline TempDir* dir_ = nullptr;
    static inline fs::path log_;
};

const QColor kRpmColour(200, 30, 30);
const QColor kThrottleColour(20, 110, 210);

TEST_F(Viewer, ShowsTheChosenChannelsInThePlot) {
    LogViewer viewer;
    viewer.resize(1100, 800);
    viewer.show();
    const QRect area = viewer.Plot()->PlotArea().adjusted(1, 1, -1, -1);
    QImage before = viewer.Plot()->grab().toImage();
    EXPECT_EQ(CountColour(before, area, kRpmColour), 0);

    ASSERT_FALSE(viewer.OpenLog(QString::fromStdString(log_.string())));
    EXPECT_EQ(viewer.Picker(0)->currentText(), "Скорость вращения двигателя");
    EXPECT_EQ(viewer.Picker(1)->currentText(), "Положение дроссельной заслонки");
    QImage shown = viewer.Plot()->grab().toImage();
    // Engine speed and throttle drawn across the width of the plot.
    EXPECT_GT(CountColour(shown, area, kRpmColour), area.width());
    EXPECT_GT(CountColour(shown, area, kThrottleColour), area.width());
    for (int x : {area.left() + 2, area.center().x(), area.right() - 2}) {
        int inColumn = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            inColumn += QColor(shown.pixel(x, y)) == kRpmColour;
        EXPECT_GT(inColumn, 0) << x;
    }
    // "—" takes a channel off the plot.
    viewer.Picker(0)->setCurrentIndex(0);
    EXPECT_EQ(CountColour(viewer.Plot()->grab().toImage(), area, kRpmColour), 0);
}

TEST_F(Viewer, TheCursorListFollowsTheCursor) {
    LogViewer viewer;
    viewer.resize(1100, 800);
    viewer.show();
    ASSERT_FALSE(viewer.OpenLog(QString::fromStdString(log_.string())));
    const auto read = ReadLog(log_);
    ASSERT_TRUE(read.ok);
    const int rpm = read.data.ColumnOf("Скорость вращения двигателя");
    LogPlot* plot = viewer.Plot();
    auto listed = [&](int row) { return viewer.CursorList()->item(row, 1)->text(); };
    auto shownAs = [](float v) { return LocaleNumber(double(v), 'g', 7); };

    for (int x : {plot->PlotArea().left() + 30, plot->PlotArea().center().x()}) {
        QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(x, 50));
        const long line = plot->Cursor();
        EXPECT_EQ(line, plot->LineAt(x));
        EXPECT_EQ(listed(rpm), shownAs(read.data.Value(line, rpm))) << line;
    }
    const long at = plot->Cursor();
    QTest::keyClick(plot, Qt::Key_Right);
    EXPECT_EQ(plot->Cursor(), at + 1);
    EXPECT_EQ(listed(rpm), shownAs(read.data.Value(at + 1, rpm)));
    // The ratio row: "AFR LC-1" over the ECU's AFR at that line.
    const float ratio = read.data.Value(at + 1, 3) / read.data.Value(at + 1, 2);
    EXPECT_EQ(viewer.CursorList()->item(read.data.Columns(), 0)->text(), kRatioCaption);
    EXPECT_EQ(listed(read.data.Columns()), shownAs(ratio));

    // Engine speeds are written without grouping, as the grid shows them.
    const auto column = read.data.Column(rpm);
    const long fast =
        std::find_if(column.begin(), column.end(), [](float v) { return v >= 1000; }) -
        column.begin();
    ASSERT_LT(size_t(fast), column.size());
    plot->SetCursor(fast);
    EXPECT_EQ(listed(rpm).toStdString(), std::to_string(int(column[fast])));
}

TEST_F(Viewer, WheelZoomsAboutTheMouseAndADragPans) {
    LogViewer viewer;
    viewer.resize(1100, 800);
    viewer.show();
    ASSERT_FALSE(viewer.OpenLog(QString::fromStdString(log_.string())));
    LogPlot* plot = viewer.Plot();
    const QRect a = plot->PlotArea();
    const QPoint mouse(a.left() + a.width() / 4, 40);
    const long under = plot->LineAt(mouse.x());
    const double span = plot->Last() - plot->First();
    QWheelEvent wheel(mouse, plot->mapToGlobal(mouse), {}, {0, 240}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    EXPECT_NEAR(plot->Last() - plot->First(), span * 0.64, 1);
    EXPECT_NEAR(plot->LineAt(mouse.x()), under, 1);

    const double first = plot->First();
    const long cursor = plot->Cursor();
    QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(a.center().x(), 40));
    QTest::mouseMove(plot, QPoint(a.center().x() - a.width() / 4, 40));
    QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(a.center().x() - a.width() / 4, 40));
    EXPECT_NEAR(plot->First() - first, (plot->Last() - plot->First()) / 4, 2);
    EXPECT_EQ(plot->Cursor(), cursor);  // a drag is no click
    // Never beyond the ends.
    plot->SetView(-500, 10);
    EXPECT_EQ(plot->First(), 0);
}

TEST_F(Viewer, XYViewCountsTheLinesInEachWorkPointCell) {
    LogViewer viewer;
    viewer.resize(1100, 800);
    viewer.show();
    ASSERT_FALSE(viewer.OpenLog(QString::fromStdString(log_.string())));
    EXPECT_EQ(viewer.Picker(4)->currentText(), "Положение дроссельной заслонки");
    EXPECT_EQ(viewer.Picker(5)->currentText(), "Скорость вращения двигателя");
    EXPECT_EQ(viewer.Picker(6)->currentText(), kRatioCaption);
    EXPECT_TRUE(viewer.XY()->Visits().empty());  // no image, no grid

    const auto labels = firmware::Namesstringgrid(Synthetic());
    viewer.SetGrid(WorkPointGrid{labels.rows, labels.cols});
    const auto& visits = viewer.XY()->Visits();
    ASSERT_EQ(visits.size(), 256u);
    // Each line in the cell of its engine speed and throttle.
    const auto read = ReadLog(log_);
    std::vector<int> expected(256);
    auto band = [](const std::array<int32_t, 16>& l, double v) {
        for (int i = 0; i < 16; ++i) {
            const double high = i < 15 ? (l[i] + l[i + 1]) / 2.0 : l[15] + (l[15] - l[14]) / 2.0;
            const double low = i > 0 ? (l[i - 1] + l[i]) / 2.0 : l[0] - (l[1] - l[0]) / 2.0;
            if (v > low && v <= high) return i;
        }
        return -1;
    };
    for (size_t i = 0; i < read.data.Lines(); ++i) {
        const int c = band(labels.cols, read.data.Value(i, 5));
        const int r = band(labels.rows, read.data.Value(i, 6));
        if (c >= 0 && r >= 0) ++expected[c * 16 + r];
    }
    EXPECT_EQ(visits, expected);
    EXPECT_GT(*std::max_element(visits.begin(), visits.end()), 0);
    // Another pair of channels: no grid under them.
    viewer.Picker(4)->setCurrentIndex(viewer.Picker(4)->findText("АЦП ДМРВ"));
    EXPECT_TRUE(viewer.XY()->Visits().empty());
}

// A drive at part load: the view starts at the drive, not at the whole grid,
// shows only the cells it touches with their counts where they fit, and
// zooms and pans like the time plot.
TEST_F(Viewer, XYViewStartsAtTheDriveAndZooms) {
    std::vector<float> throttle, rpm, ratio;
    throttle.push_back(0);  // the first line, engine still off
    rpm.push_back(0);
    ratio.push_back(NAN);
    for (int i = 0; i < 2000; ++i) {
        throttle.push_back(10 + 20.0f * float(i % 100) / 99);
        rpm.push_back(1500 + 1500.0f * float((i * 7) % 100) / 99);
        ratio.push_back(1.0f);
    }
    LogXYView xy;
    xy.resize(700, 500);
    xy.SetData({"ДЗ", throttle}, {"Обороты", rpm}, {"Смесь", ratio}, true);
    const auto labels = firmware::Namesstringgrid(Synthetic());
    xy.SetGrid(WorkPointGrid{labels.rows, labels.cols}, true);
    xy.show();

    const auto home = xy.CurrentView();
    // The drive with a margin, not the grid's 540..9500 rpm: the line of the
    // engine standing still lies far below the rest and does not stretch it;
    // a closed throttle is near enough to count.
    EXPECT_NEAR(home.x0, -1.5, 0.01);
    EXPECT_NEAR(home.x1, 31.5, 0.01);
    EXPECT_NEAR(home.y0, 1425, 0.5);
    EXPECT_NEAR(home.y1, 3075, 0.5);
    const auto cells = xy.ShownCells();
    EXPECT_GT(cells.size(), 0u);
    EXPECT_LT(cells.size(), 64u);
    // Every count shown lies inside its cell: none overlaps another.
    const QFontMetrics fm(xy.font());
    int counts = 0;
    for (const auto& c : cells) {
        const int v = xy.Visits()[c.column * 16 + c.row];
        if (!c.countShown) continue;
        ++counts;
        EXPECT_GT(v, 0);
    }
    EXPECT_GT(counts, 0);

    // The wheel zooms in around the mouse: the point under it stays.
    const QRect a = xy.PlotArea();
    const QPointF at(a.left() + a.width() / 4.0, a.top() + a.height() / 2.0);
    const double xAt = home.x0 + 0.25 * (home.x1 - home.x0);
    QWheelEvent wheel(at, xy.mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&xy, &wheel);
    const auto zoomed = xy.CurrentView();
    EXPECT_NEAR(zoomed.x1 - zoomed.x0, (home.x1 - home.x0) * 0.64, 1e-6);
    EXPECT_NEAR(zoomed.x0 + 0.25 * (zoomed.x1 - zoomed.x0), xAt, 0.05);
    EXPECT_LE(xy.ShownCells().size(), cells.size());

    // A drag to the right shows what lies to the left.
    QTest::mousePress(&xy, Qt::LeftButton, {}, a.center());
    QTest::mouseMove(&xy, a.center() + QPoint(a.width() / 2, 0));
    QTest::mouseRelease(&xy, Qt::LeftButton, {}, a.center() + QPoint(a.width() / 2, 0));
    const auto panned = xy.CurrentView();
    EXPECT_LT(panned.x0, zoomed.x0);
    EXPECT_NEAR(panned.x1 - panned.x0, zoomed.x1 - zoomed.x0, 1e-9);

    // A double click goes back to the start.
    QTest::mouseDClick(&xy, Qt::LeftButton, {}, a.center());
    EXPECT_NEAR(xy.CurrentView().x0, home.x0, 1e-9);
    EXPECT_NEAR(xy.CurrentView().y1, home.y1, 1e-9);
}

TEST_F(Viewer, ABadFileLeavesTheShownLogAndNamesTheLine) {
    LogViewer viewer;
    ASSERT_FALSE(viewer.OpenLog(QString::fromStdString(log_.string())));
    const fs::path bad = dir_->Path() / "bad.xls";
    std::ofstream(bad) << "x\ty\r\n";
    const auto error = viewer.OpenLog(QString::fromStdString(bad.string()));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains("bad.xls") && error->contains("строка 1")) << error->toStdString();
    EXPECT_EQ(viewer.Picker(0)->currentText(), "Скорость вращения двигателя");
    EXPECT_TRUE(viewer.Notes()->text().contains(QString::fromStdString(log_.string())));
}

TEST_F(Viewer, MenuEntriesOpenTheViewerAndSaveTheAnalysisOnlyToANewFile) {
    QWidget window;
    QMenu menu;
    QStringList answers, errors, logLines;
    DeskActions::Window w;
    w.window = &window;
    w.askOpen = [&](const QString&, const QString&) {
        return answers.isEmpty() ? QString() : answers.takeFirst();
    };
    w.askSave = w.askOpen;
    w.showError = [&](const QString& e) { errors << e; };
    w.log = [&](const QString& l) { logLines << l; };
    QStringList questions;
    bool replace = false;
    w.confirm = [&](const QString& q) {
        questions << q;
        return replace;
    };
    const std::map<std::string, std::string> settings = {
        {"Стационарность по RPM", "100"},         {"Стационарность по %", "100"},
        {"Стационарность по циклам", "4"},        {"Не настраивать ниже %", "2"},
        {"Количество циклов для обработки", "7"}, {"Весовой коэф. коррекции(%)", "70"}};
    w.setting = [&](const std::string& key) {
        const auto it = settings.find(key);
        return it == settings.end() ? std::string() : it->second;
    };
    w.grid = [] { return std::optional<WorkPointGrid>(); };
    DeskActions desk(w, &menu);
    auto action = [&](const char* name) { return menu.findChild<QAction*>(name); };
    ASSERT_TRUE(action("OpenLog"));
    EXPECT_EQ(action("OpenLog")->text(), "Открыть лог…");
    EXPECT_EQ(action("AnalyzeLog")->text(), "Анализ лога…");

    const QString log = QString::fromStdString(log_.string());
    answers = {log};
    action("OpenLog")->trigger();
    ASSERT_TRUE(desk.Viewer());
    EXPECT_TRUE(desk.Viewer()->isVisible());
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();

    // A file dropped on the window opens in the same viewer.
    const fs::path other = dir_->Path() / "copy.xls";
    fs::copy_file(log_, other, fs::copy_options::overwrite_existing);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(other.string()))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(&window, &drop);
    EXPECT_TRUE(desk.Viewer()->windowTitle().contains("copy.xls"));

    // The analysis: the log, then the image it was recorded with.
    const fs::path imagePath = dir_->Path() / "ecu.bin";
    const auto image = Synthetic();
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), image.size());
    const QString imageFile = QString::fromStdString(imagePath.string());
    answers = {log, imageFile};
    action("AnalyzeLog")->trigger();
    ASSERT_TRUE(desk.Analysis()) << errors.join("\n").toStdString();
    AnalysisView* view = desk.Analysis();
    EXPECT_EQ(view->Selector()->currentText(), "Изменение %");
    const auto& a = view->Analysis();
    ASSERT_GT(a.correctionsChanged + a.bcnChanged, 0);
    int checked = 0;
    for (int c = 0; c < 16; ++c) {
        for (int r = 0; r < 16; ++r) {
            const auto& s = a.cells[tuning::CellIndex(c, r)];
            const QString text = view->Grid()->item(r, c)->text();
            if (s.enough) {
                EXPECT_EQ(text, LocaleNumber(s.ChangePercent(), 'f', 1));
                ++checked;
            } else {
                EXPECT_TRUE(text.isEmpty());
            }
            if (s.samples > 0 && !s.enough) {
                EXPECT_EQ(view->Grid()->item(r, c)->background().color(), QColor(215, 215, 215));
            }
        }
    }
    EXPECT_GT(checked, 0);
    view->Selector()->setCurrentIndex(1);  // the samples
    const int k = a.largestChangeCell;
    EXPECT_EQ(view->Grid()->item(k % 16, k / 16)->text(), QString::number(a.cells[k].samples));

    // Never over the image it started from, also under another name.
    const std::string before(image.begin(), image.end());
    for (const QString& same :
         {imageFile, QString::fromStdString((dir_->Path() / "." / "ecu.bin").string())}) {
        errors.clear();
        answers = {same};
        EXPECT_FALSE(view->SaveAs());
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains("исходная прошивка"));
    }
    // Refused at once, never asked whether to replace first.
    EXPECT_TRUE(questions.isEmpty());
    std::ifstream in(imagePath, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), before);
    // A name typed without an extension gets ".bin"; the window says where
    // the image went.
    const fs::path out = dir_->Path() / "new.bin";
    answers = {QString::fromStdString((dir_->Path() / "new").string())};
    EXPECT_TRUE(view->SaveAs());
    EXPECT_TRUE(view->SavedNote()->text().contains("new.bin"));
    EXPECT_TRUE(questions.isEmpty());
    // Over an existing file: one question, and "no" keeps it.
    std::ofstream(out, std::ios::binary) << "old";
    answers = {QString::fromStdString(out.string())};
    EXPECT_FALSE(view->SaveAs());
    EXPECT_EQ(questions.size(), 1);
    replace = true;
    answers = {QString::fromStdString(out.string())};
    EXPECT_TRUE(view->SaveAs());
    std::ifstream written(out, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(written)), {});
    EXPECT_EQ(bytes, std::string(a.image.begin(), a.image.end()));
    EXPECT_TRUE(logLines.last().contains("new.bin"));

    // A log that is none: one message, no window replaced.
    errors.clear();
    answers = {imageFile, imageFile};
    action("AnalyzeLog")->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("ecu.bin")) << errors[0].toStdString();
    EXPECT_EQ(desk.Analysis(), view);
}

// Counts the log progress dialogs that show, and cancels them when asked,
// as the user's click on "Отмена" would.
class ProgressWatch final : public QObject {
  public:
    int shown = 0;
    bool cancel = false;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && o->objectName() == "LogProgress") {
            ++shown;
            if (cancel)
                if (auto* dialog = qobject_cast<QProgressDialog*>(o))
                    QTimer::singleShot(0, dialog, &QProgressDialog::cancel);
        }
        return false;
    }
};

TEST_F(Viewer, ALargeLogReadsUnderAProgressDialogThatCanBeCancelled) {
    // About 5 MB: the recorded drive's lines over and over under one header.
    std::ifstream in(log_, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t body = text.find("\r\n") + 2;
    const fs::path big = dir_->Path() / "big.xls";
    {
        std::ofstream out(big, std::ios::binary);
        out << text.substr(0, body);
        for (size_t written = 0; written < (5u << 20); written += text.size() - body)
            out << text.substr(body);
    }
    QWidget window;
    QMenu menu;
    QStringList errors, logLines;
    DeskActions::Window w;
    w.window = &window;
    w.askOpen = [](const QString&, const QString&) { return QString(); };
    w.askSave = w.askOpen;
    w.showError = [&](const QString& e) { errors << e; };
    w.log = [&](const QString& l) { logLines << l; };
    w.setting = [](const std::string&) { return std::string(); };
    w.grid = [] { return std::optional<WorkPointGrid>(); };
    w.progressFromBytes = 2u << 20;
    w.progressAfterMs = 0;
    DeskActions desk(w, &menu);
    ProgressWatch watch;
    qApp->installEventFilter(&watch);

    // A small log opens without a dialog.
    const QString small = QString::fromStdString(log_.string());
    ASSERT_TRUE(desk.OpenLog(small)) << errors.join("|").toStdString();
    EXPECT_EQ(watch.shown, 0);

    // Cancelled: the viewer keeps the log it showed, and no error box.
    watch.cancel = true;
    EXPECT_FALSE(desk.OpenLog(QString::fromStdString(big.string())));
    EXPECT_EQ(watch.shown, 1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    ASSERT_FALSE(logLines.isEmpty());
    EXPECT_TRUE(logLines.last().contains("отменено")) << logLines.last().toStdString();
    EXPECT_TRUE(desk.Viewer()->Notes()->text().contains(small));
    EXPECT_FALSE(desk.Viewer()->windowTitle().contains("big.xls"));

    // Read to the end: the large log is shown.
    watch.cancel = false;
    EXPECT_TRUE(desk.OpenLog(QString::fromStdString(big.string())));
    qApp->removeEventFilter(&watch);
    EXPECT_EQ(watch.shown, 2);
    EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    EXPECT_TRUE(desk.Viewer()->windowTitle().contains("big.xls"));
}

}  // namespace
