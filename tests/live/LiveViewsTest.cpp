#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <map>
#include <vector>

#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/FigureCells.h"
#include "live/ui/LiveValueList.h"
#include "live/ui/TrendView.h"
#include "live/ui/UozPointsGrid.h"
#include "plot/ui/PlotWidget.h"

using namespace korvane::live;
namespace plot = korvane::plot;

namespace {

std::vector<uint8_t> Frame(const std::map<size_t, uint8_t>& set, size_t size = 51) {
    std::vector<uint8_t> f(size, 0);
    for (auto [i, b] : set)
        if (i < size) f[i] = b;
    return f;
}

// A running engine: 1960 rpm, throttle 16, 90 °C, AFR 14.7, 14.2 V.
const auto kRunning = Frame({{7, 37},
                             {8, 130},
                             {9, 128},
                             {11, 16},
                             {12, 49},
                             {17, 38},
                             {20, 30},
                             {27, 180},
                             {43, 0xE8},
                             {44, 0x03},
                             {45, 0x20},
                             {46, 0x01}});

struct FigurePlace {
    const char* name;
    int x, y;
    const char* text;
};

TEST(DashboardView, FiguresSitInPlaceInLargeGreenType) {
    DashboardView dash(nullptr);
    EXPECT_EQ(dash.size(), QSize(243, 475));
    LiveDecoder decoder;
    decoder.Tick(kRunning, 1, OxygenSensor::Lc1, {1, 1, 0, 14.0});
    dash.Update(decoder.Values(), OxygenSensor::Lc1, ',');

    const FigurePlace places[] = {
        {"RPMlabel", 25, 36, "1960"},     {"Tlabel", 140, 36, "90"},
        {"DRLabel", 25, 102, "16"},       {"ULabel", 140, 102, "14,2"},
        {"COEFlabel", 25, 160, "0,952"},  {"UOZlabel", 144, 160, "15"},
        {"AFRLClabel", 25, 213, "14,00"}, {"INJlabel", 136, 213, "8"},
        {"AFRlabel", 25, 279, "14,7"},    {"RXXLabel", 140, 279, "38"},
        {"Mlabel", 140, 334, "28,8"},
    };
    for (const FigurePlace& p : places) {
        FigureLabel* label = dash.Figure(p.name);
        ASSERT_NE(label, nullptr) << p.name;
        EXPECT_EQ(label->TextBox().topLeft(), QPoint(p.x, p.y)) << p.name;
        EXPECT_EQ(label->text(), QString::fromUtf8(p.text)) << p.name;
        EXPECT_EQ(label->Colour(), QColor(0, 128, 0)) << p.name;
        EXPECT_TRUE(label->font().bold()) << p.name;
        EXPECT_EQ(label->font().pixelSize(), 43) << p.name;
        // The whole figure fits its box.
        EXPECT_GE(label->TextBox().width(), label->fontMetrics().horizontalAdvance(label->text()))
            << p.name;
    }
}

// Wide figures in every box, separator ',' (the widest texts a running
// engine gives): 10200 rpm, 215 °C, 17,95 V, -64,5°, AFR 21,99, 999,9 kg/h.
const auto kWideFigures = Frame({{8, 255},
                                 {9, 255},
                                 {11, 255},
                                 {12, 255},
                                 {17, 255},
                                 {20, 129},
                                 {27, 255},
                                 {43, 0xE9},
                                 {44, 0x03},
                                 {45, 0x0F},
                                 {46, 0x27}});

TEST(DashboardView, FiguresFitTheirBoxesInEveryInstalledFace) {
    LiveDecoder decoder;
    decoder.Tick(kWideFigures, 1, OxygenSensor::Lc1, {1, 1, 0, 19.99});
    const DashboardView reference(nullptr);
    int faces = 0;
    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::writingSystems(family).contains(QFontDatabase::Latin)) continue;
        ++faces;
        DashboardView dash(nullptr, {family});
        dash.Update(decoder.Values(), OxygenSensor::Lc1, ',');
        for (FigureLabel* f : dash.findChildren<FigureLabel*>()) {
            const std::string where = family.toStdString() + " " + f->objectName().toStdString() +
                                      " " + f->text().toStdString();
            EXPECT_EQ(f->font().pixelSize(), 43) << where;
            EXPECT_TRUE(f->font().bold()) << where;
            EXPECT_EQ(f->TextBox().topLeft(),
                      reference.Figure(qPrintable(f->objectName()))->TextBox().topLeft())
                << where;
            EXPECT_LE(f->fontMetrics().horizontalAdvance(f->text()), f->TextBox().width()) << where;
        }
    }
    EXPECT_GT(faces, 0);
}

TEST(DashboardView, CaptionsAndFiguresShowOnThePanel) {
    DashboardView dash(nullptr);
    dash.SetFootPanelsVisible(false);
    LiveDecoder decoder;
    decoder.Tick(kRunning, 1, OxygenSensor::Lc1, {1, 1, 0, 14.0});
    dash.Update(decoder.Values(), OxygenSensor::Lc1, ',');

    const std::map<QString, QPoint> expected{
        {"Обороты", {25, 28}},     {"Температура", {140, 28}}, {"Дросель", {25, 91}},
        {"Напряжение", {140, 91}}, {"К.корр", {25, 150}},      {"УОЗ", {144, 150}},
        {"LC-1", {25, 205}},       {"В.впрыска", {144, 205}},  {"AFR", {25, 268}},
        {"РХХ", {140, 268}},       {"Воздух", {140, 326}}};
    std::map<QString, QPoint> found;
    for (const auto& c : dash.Captions()) found[c.text] = c.topLeft;
    EXPECT_EQ(found, expected);

    const QImage image = dash.grab().toImage();
    auto inkIn = [&](QRect r, auto isInk) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) n += isInk(image.pixelColor(x, y));
        return n;
    };
    for (const auto& c : dash.Captions()) {
        const int dark =
            inkIn(QRect(c.topLeft, QSize(20, 12)), [](QColor k) { return k.lightness() < 80; });
        EXPECT_GT(dark, 5) << c.text.toStdString();
    }
    for (FigureLabel* f : dash.findChildren<FigureLabel*>()) {
        const int green = inkIn(f->geometry(), [](QColor k) { return k == QColor(0, 128, 0); });
        EXPECT_GT(green, 50) << f->objectName().toStdString();
        // Nothing overlaps a figure, so each repaints alone.
        for (FigureLabel* g : dash.findChildren<FigureLabel*>())
            EXPECT_TRUE(f == g || !f->geometry().intersects(g->geometry()));
        for (const auto& c : dash.Captions())
            EXPECT_FALSE(f->geometry().intersects(c.box)) << c.text.toStdString();
    }
}

TEST(DashboardView, NarrowBandShowsUdkAndTheEcuCorrection) {
    DashboardView dash(nullptr);
    LiveDecoder decoder;
    decoder.Tick(Frame({{9, 128}, {18, 130}}), 1, OxygenSensor::NarrowBand, {});
    dash.Update(decoder.Values(), OxygenSensor::NarrowBand, '.');
    EXPECT_EQ(dash.Figure("AFRLClabel")->text(), QString::fromUtf8("УДК"));
    EXPECT_EQ(dash.Figure("COEFlabel")->text(), "1.008");
}

// The figures are copied from pre-drawn glyph cells where that gives the
// very pixels the text would; wherever it would not, they are drawn as text.
// Either way the picture must be the text's own, in every face, colour and
// surface, at the places a figure starts.
TEST(DashboardView, FiguresFromCellsGiveTheTextsOwnPixels) {
    const char* const texts[] = {"0",     "1960",  "-12,5", "14.70", "100", "0,997",
                                 "88888", "-0.01", "1e+05", "inf",   "УДК", ""};
    const QColor inks[] = {QColor(0, 128, 0), QColor(128, 128, 128)};
    const QImage::Format formats[] = {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied};
    const QColor ground(240, 240, 240);
    int fromCells = 0;
    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::writingSystems(family).contains(QFontDatabase::Latin)) continue;
        // The figure face as the dashboard fits it, narrowed or not.
        const QFont font = DashboardView(nullptr, {family}).Figure("RPMlabel")->font();
        FigureCells cells;
        for (const QColor& ink : inks)
            for (QImage::Format format : formats)
                for (const char* text : texts)
                    for (const QPoint origin : {QPoint(0, 40), QPoint(7, 45)}) {
                        const QString t = QString::fromUtf8(text);
                        auto draw = [&](bool useCells) {
                            QImage image(200, 70, format);
                            image.fill(ground);
                            QPainter p(&image);
                            p.setFont(font);
                            const bool drawn = useCells && cells.Draw(p, origin, t, ink, ground);
                            if (!drawn) {
                                p.setPen(ink);
                                p.drawText(QPointF(origin), t);
                            }
                            fromCells += drawn;
                            return image;
                        };
                        EXPECT_TRUE(draw(true) == draw(false))
                            << family.toStdString() << " " << text << " "
                            << ink.name().toStdString() << " format " << format << " at "
                            << origin.x();
                    }
    }
    // The face the dashboard uses here must not fall back to text for
    // every figure, or the test would compare the text with itself.
    EXPECT_GT(fromCells, 0);
}

TEST(DashboardView, TuningFootPanelsHideAndKeepTheFirstMode) {
    DashboardView dash(nullptr);
    dash.show();
    dash.SetFootPanelsVisible(false);
    EXPECT_FALSE(dash.findChild<QWidget*>("Panel1")->isVisible());
    EXPECT_FALSE(dash.findChild<QWidget*>("Panel2")->isVisible());
    EXPECT_EQ(dash.TuningModeIndex(), 0);
    EXPECT_EQ(dash.CheckBox1()->text(), QString::fromUtf8("настраивать УОЗ"));
}

TEST(DiagnosticsView, ShowsEveryRowButTwelveAndNeverRow38) {
    DiagnosticsView view(nullptr);
    QTableView* grid = view.Grid();
    EXPECT_EQ(grid->model()->rowCount() + 1, 38);
    EXPECT_EQ(grid->columnWidth(0), 170);
    EXPECT_EQ(grid->columnWidth(1), 60);
    EXPECT_EQ(view.CellText(0, 0), QString::fromUtf8("Параметры:"));
    EXPECT_EQ(view.CellText(1, 0), QString::fromUtf8("Значения:"));
    EXPECT_EQ(view.CellText(0, 1), QString::fromUtf8("Рабочая точка RPM_GBC_3D"));
    EXPECT_EQ(view.CellText(0, 37), QString::fromUtf8("Часовой расход топлива"));
    EXPECT_TRUE(grid->model()
                    ->match(grid->model()->index(0, 0), Qt::DisplayRole,
                            QString::fromUtf8("Путевой расход"), -1, Qt::MatchExactly)
                    .isEmpty());

    LiveDecoder decoder;
    const TickOutcome tick = decoder.Tick(kRunning, 1, OxygenSensor::NarrowBand, {});
    view.Update(decoder.Values(), tick, ',');
    EXPECT_EQ(view.CellText(1, 7), "1960");
    EXPECT_EQ(view.CellText(1, 3), "14,7");
    EXPECT_EQ(view.CellText(1, 5), "0,5");
    EXPECT_EQ(view.CellText(1, 37), "0");
    EXPECT_EQ(view.CellText(1, 12), "");
    for (int row = 1; row <= 37; ++row)
        EXPECT_EQ(view.CellText(1, row).isEmpty(), row == 12) << row;
}

TEST(DiagnosticsView, KeepsItsTextsWhenAFrameIsRefusedOrRow5NotRenewed) {
    DiagnosticsView view(nullptr);
    LiveDecoder decoder;
    view.Update(decoder.Values(), decoder.Tick(kRunning, 1, OxygenSensor::Lc1, {1, 1, 0, 14.7}),
                ',');
    EXPECT_EQ(view.CellText(1, 5), "1");
    view.Update(decoder.Values(),
                decoder.Tick(Frame({{12, 100}}, 50), 2, OxygenSensor::Lc1, {1, 1, 0, 14.7}), ',');
    EXPECT_EQ(view.CellText(1, 7), "1960");
    // A refused LC-1 reading leaves row 5 as it was.
    view.Update(decoder.Values(),
                decoder.Tick(Frame({{9, 0}}), 3, OxygenSensor::Lc1, {1, 1, 0, 25.0}), ',');
    EXPECT_EQ(view.CellText(1, 3), "7,35");
    EXPECT_EQ(view.CellText(1, 5), "1");
    EXPECT_EQ(view.CellText(1, 4), "14,7");
    // A log line takes these texts: exactly what the user reads.
    for (int row = 1; row <= 37; ++row)
        EXPECT_EQ(QString::fromStdString(view.ShownTexts()[row]), view.CellText(1, row)) << row;
}

class TrendViewTest : public ::testing::Test {
  protected:
    TrendViewTest() : trend(nullptr) { trend.show(); }
    void Feed(int updates, OxygenSensor sensor = OxygenSensor::Lc1) {
        for (int i = 0; i < updates; ++i) {
            values.Rpm = 800 + 40 * (n % 50);
            values.IgnAdvance = n % 30;
            ++n;
            trend.Update(values, sensor);
        }
    }
    std::vector<double> Ys(int series) { return trend.Chart()->Points(series); }
    static constexpr int kLeft = TrendView::kLeftSeries, kRight = TrendView::kRightSeries;
    TrendView trend;
    LiveValues values;
    int n = 0;
};

TEST_F(TrendViewTest, ChartHoldsAtMost41PointsOnTwoAxes) {
    const plot::PlotWidget& chart = *trend.Chart();
    EXPECT_EQ(chart.Style(kLeft).colour, QColor(130, 155, 254));
    EXPECT_EQ(chart.Style(kRight).colour, QColor(252, 209, 36));
    EXPECT_EQ(chart.Style(kLeft).width, 4);
    EXPECT_EQ(chart.Style(kLeft).scale, plot::Scale::Left);
    EXPECT_EQ(chart.Style(kRight).scale, plot::Scale::Right);

    Feed(41);
    EXPECT_EQ(Ys(kLeft).size(), 41u);
    const auto before = Ys(kLeft);
    Feed(1);
    EXPECT_EQ(Ys(kLeft).size(), 41u);
    EXPECT_EQ(Ys(kLeft), before);
    Feed(1);
    EXPECT_EQ(Ys(kLeft).size(), 41u);
    EXPECT_EQ(Ys(kLeft).back(), 800 + 40 * 41);
    EXPECT_EQ(chart.XRange(), (plot::Range{0, 40}));
    // Both selectors start on engine speed: the series carry the same numbers.
    EXPECT_EQ(Ys(kLeft), Ys(kRight));
    // The axes keep every point in view.
    const auto ys = Ys(kLeft);
    EXPECT_LE(chart.YRange(plot::Scale::Left).lo, *std::min_element(ys.begin(), ys.end()));
    EXPECT_GE(chart.YRange(plot::Scale::Left).hi, *std::max_element(ys.begin(), ys.end()));
}

TEST_F(TrendViewTest, ANewSelectionRetitlesAtOnceAndScrollsIn) {
    Feed(41);
    trend.ComboBox3()->setCurrentIndex(0);  // "УОЗ"
    Feed(1);
    EXPECT_EQ(trend.Chart()->YTitle(plot::Scale::Left), QString::fromUtf8("УОЗ"));
    EXPECT_EQ(trend.Chart()->YTitle(plot::Scale::Right), QString::fromUtf8("Обороты"));
    // Still the engine speed history on the left until it scrolls out.
    EXPECT_EQ(Ys(kLeft).back(), 800 + 40 * 40);
    Feed(1);
    EXPECT_EQ(Ys(kLeft).back(), 41 % 30);
}

TEST_F(TrendViewTest, AHiddenChartCatchesUpWhenShown) {
    Feed(10);
    trend.hide();
    Feed(40);
    EXPECT_EQ(Ys(kLeft).size(), 10u);
    trend.show();
    EXPECT_EQ(Ys(kLeft), std::vector<double>(trend.History().ShownLeft().begin(),
                                             trend.History().ShownLeft().end()));
    EXPECT_EQ(Ys(kLeft).size(), 41u);
    Feed(1);
    EXPECT_EQ(Ys(kLeft).back(), 800 + 40 * 49);
}

TEST_F(TrendViewTest, Lc1SelectorPlotsTheEcuRatioWithANarrowBandSensor) {
    trend.ComboBox4()->setCurrentIndex(5);  // "LC-1"
    values.Afr = 14.7;
    values.AfrLc1 = 13.1;
    Feed(1, OxygenSensor::NarrowBand);
    Feed(1, OxygenSensor::Lc1);
    EXPECT_EQ(Ys(kRight), (std::vector<double>{14.7, 13.1}));
}

TEST(LiveValueList, TenKeysWithTheirValues) {
    LiveValueList list(nullptr);
    EXPECT_EQ(list.Grid()->rowCount(), 10);
    EXPECT_EQ(list.Grid()->columnWidth(0), 125);
    EXPECT_EQ(list.Grid()->columnWidth(1), 97);
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("Обороты")), "");
    list.show();
    EXPECT_FALSE(list.Grid()->verticalScrollBar()->isVisible());

    LiveDecoder decoder;
    decoder.Tick(kRunning, 1, OxygenSensor::Lc1, {1, 1, 0, 13.0});
    list.Update(decoder.Values(), OxygenSensor::NarrowBand, ',');
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("Обороты")), "1960");
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("LC-1")), "14,7");
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("Напряжение")), "14,2");
    list.Update(decoder.Values(), OxygenSensor::Lc1, ',');
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("LC-1")), "13");
    EXPECT_EQ(list.ValueOf(QString::fromUtf8("К.коррекции")), "0,884");
}

// Views out of sight keep only the values; shown or read, they must say
// exactly what views in sight said after the same ticks: a refused frame
// keeps the texts, a refused LC-1 reading keeps row 5 from an earlier tick.
class HiddenViews : public ::testing::Test {
  protected:
    HiddenViews() {
        for (QWidget* w : std::initializer_list<QWidget*>{&hiddenDash, &hiddenGrid, &hiddenList})
            w->hide();
        top.show();
    }
    void Feed(std::initializer_list<std::pair<std::vector<uint8_t>, double>> ticks) {
        for (const auto& [frame, lc1] : ticks) {
            const TickOutcome t = decoder.Tick(frame, ++numlog, OxygenSensor::Lc1, {1, 1, 0, lc1});
            if (t.frameDecoded)
                for (DashboardView* d : {&seenDash, &hiddenDash})
                    d->Update(decoder.Values(), OxygenSensor::Lc1, ',');
            for (DiagnosticsView* g : {&seenGrid, &hiddenGrid}) g->Update(decoder.Values(), t, ',');
            for (LiveValueList* l : {&seenList, &hiddenList})
                l->Update(decoder.Values(), OxygenSensor::Lc1, ',');
        }
    }
    // What the widgets themselves hold, as their painting reads it.
    static QString GridCell(const DiagnosticsView& g, int row) {
        return g.Grid()->model()->index(row - 1, 1).data().toString();
    }
    QWidget top;
    DashboardView seenDash{&top}, hiddenDash{&top};
    DiagnosticsView seenGrid{&top}, hiddenGrid{&top};
    LiveValueList seenList{&top}, hiddenList{&top};
    LiveDecoder decoder;
    int32_t numlog = 0;
};

TEST_F(HiddenViews, ShowWhatViewsInSightShow) {
    Feed({{kRunning, 14.0}});  // LC-1 taken: row 5 written
    const QString row5 = seenGrid.CellText(1, 5);
    Feed({{Frame({{12, 60}, {9, 0}}), 25.0},  // LC-1 refused: row 5 kept
          {Frame({{12, 70}}, 50), 14.5},      // frame refused: nothing written
          {Frame({{12, 80}, {27, 3}}), 8.0}});
    EXPECT_EQ(seenGrid.CellText(1, 5), row5);
    EXPECT_EQ(seenGrid.CellText(1, 7), "3200");
    EXPECT_NE(GridCell(hiddenGrid, 7), "3200");  // not drawn while out of sight

    for (QWidget* w : std::initializer_list<QWidget*>{&hiddenDash, &hiddenGrid, &hiddenList})
        w->show();
    for (int row = 1; row <= 37; ++row)
        EXPECT_EQ(GridCell(hiddenGrid, row), GridCell(seenGrid, row)) << row;
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(hiddenList.Grid()->item(row, 1)->text(), seenList.Grid()->item(row, 1)->text())
            << row;
    for (FigureLabel* f : seenDash.findChildren<FigureLabel*>())
        EXPECT_EQ(hiddenDash.Figure(qPrintable(f->objectName()))->text(), f->text())
            << f->objectName().toStdString();
}

TEST_F(HiddenViews, ReadWhileOutOfSight) {
    Feed({{kRunning, 14.0}, {Frame({{12, 60}, {9, 0}}), 25.0}, {Frame({{12, 70}}, 50), 14.5}});
    for (int row = 1; row <= 37; ++row)
        EXPECT_EQ(hiddenGrid.CellText(1, row), seenGrid.CellText(1, row)) << row;
    for (std::string_view key : kValueListKeys) {
        const QString k = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
        EXPECT_EQ(hiddenList.ValueOf(k), seenList.ValueOf(k)) << key;
    }
    for (FigureLabel* f : seenDash.findChildren<FigureLabel*>())
        EXPECT_EQ(hiddenDash.Figure(qPrintable(f->objectName()))->text(), f->text())
            << f->objectName().toStdString();
    EXPECT_FALSE(hiddenGrid.isVisible());
}

TEST(UozPointsGrid, HeaderOnly) {
    UozPointsGrid grid(nullptr);
    EXPECT_EQ(grid.columnCount(), 9);
    EXPECT_EQ(grid.rowCount() + 1, 20);
    const char* expected[] = {"Номер", "Параметр столбца", "Параметр колонки", "ЦН", "БЦН",
                              "УОЗ",   "Расход",           "Результат"};
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(grid.horizontalHeaderItem(c)->text(), QString::fromUtf8(expected[c])) << c;
}

}  // namespace
