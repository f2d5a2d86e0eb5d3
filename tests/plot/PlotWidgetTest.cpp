#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "plot/ui/PlotWidget.h"

using namespace korvane::plot;

namespace {

// The rectangles the widget was asked to repaint.
class PaintLog : public QObject {
  public:
    std::vector<QRect> rects;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};

// A draggable curve with markers on the left scale (0..10) and a plain line
// on the right one (0..100), five points each.
class Plot : public ::testing::Test {
  protected:
    Plot() {
        plot.resize(400, 250);
        curve = plot.AddSeries({.colour = QColor(220, 30, 30),
                                .width = 2,
                                .markers = true,
                                .markerBorder = QColor(220, 30, 30),
                                .draggable = true});
        line = plot.AddSeries({.colour = QColor(0, 0, 255), .width = 3, .scale = Scale::Right});
        plot.SetXRange({-0.5, 4.5}, 1);
        plot.SetYRange(Scale::Left, {0, 10});
        plot.SetYRange(Scale::Right, {0, 100});
        plot.SetPoints(curve, {1, 3, 5, 7, 9});
        plot.SetPoints(line, {80, 20, 30, 40, 50});
        plot.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&plot));
        QApplication::processEvents();
        plot.installEventFilter(&paints);
    }
    // Lets pending repaints pass, then starts the log afresh.
    void Settle() {
        QApplication::processEvents();
        paints.rects.clear();
    }
    // Any pixel of `colour` within two pixels of `at`.
    static bool ColourNear(const QImage& image, QPointF at, QColor colour) {
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy)
                if (image.pixelColor(at.toPoint() + QPoint(dx, dy)) == colour) return true;
        return false;
    }

    PlotWidget plot;
    PaintLog paints;
    int curve = -1, line = -1;
};

TEST_F(Plot, EachSeriesOnItsOwnScaleWithTheCursorOnTop) {
    const QRect a = plot.PlotArea();
    // Point 1: 3 of 10 on the left, 20 of 100 on the right.
    const QPointF onLeft = plot.PointPosition(curve, 1);
    const QPointF onRight = plot.PointPosition(line, 1);
    EXPECT_DOUBLE_EQ(onLeft.x(), onRight.x());
    EXPECT_NEAR(onLeft.y(), a.bottom() - 0.3 * a.height(), 1.5);
    EXPECT_NEAR(onRight.y(), a.bottom() - 0.2 * a.height(), 1.5);
    plot.SetCursor(2.0);
    const QImage image = plot.grab().toImage();
    EXPECT_TRUE(ColourNear(image, onLeft, QColor(220, 30, 30)));
    EXPECT_TRUE(ColourNear(image, onRight, QColor(0, 0, 255)));
    // The right scale's first point lies high, the left one's low.
    EXPECT_TRUE(ColourNear(image, plot.PointPosition(line, 0), QColor(0, 0, 255)));
    const int x = qRound(plot.PointPosition(curve, 2).x());
    int black = 0;
    for (int y = a.top() + 1; y < a.bottom(); ++y) black += image.pixelColor(x, y) == Qt::black;
    EXPECT_GT(black, a.height() / 4);  // dashed

    plot.SetCursor(std::nullopt);
    const QImage without = plot.grab().toImage();
    black = 0;
    for (int y = a.top() + 1; y < a.bottom(); ++y) black += without.pixelColor(x, y) == Qt::black;
    EXPECT_EQ(black, 0);
}

// A plain line drawn again elsewhere leaves no trace where it was, also
// after a repaint of part of the plot and after new scales.
TEST_F(Plot, APlainLineMovesWithoutATrace) {
    const QColor blue(0, 0, 255);
    auto blueAt = [&](double value, int index) {
        const QImage image = plot.grab().toImage();
        const QRect a = plot.PlotArea();
        const int x = qRound(a.left() + (index + 0.5) * a.width() / 5.0);
        const int y = qRound(a.bottom() - value / 100 * a.height());
        return ColourNear(image, QPointF(x, y), blue);
    };
    plot.SetPoints(line, {80, 80, 80, 80, 80});
    ASSERT_TRUE(blueAt(80, 2));
    plot.SetPoints(line, {20, 20, 20, 20, 20});
    EXPECT_TRUE(blueAt(20, 2));
    EXPECT_FALSE(blueAt(80, 2));
    // Part of the plot repainted (one curve point moved), then all of it.
    plot.SetPoint(curve, 2, 6);
    QApplication::processEvents();
    plot.SetPoints(line, {50, 50, 50, 50, 50});
    EXPECT_TRUE(blueAt(50, 2));
    EXPECT_FALSE(blueAt(20, 2));
    EXPECT_FALSE(blueAt(20, 0));
    plot.SetYRange(Scale::Right, {0, 100.5});
    EXPECT_FALSE(blueAt(20, 4));
}

TEST_F(Plot, OnlyDraggablePointsAreDraggedAndTheOwnerSetsTheValue) {
    QSignalSpy dragged(&plot, &PlotWidget::pointDragged);
    QSignalSpy finished(&plot, &PlotWidget::dragFinished);
    const QRect a = plot.PlotArea();

    // The line's point (not draggable) far from any curve point: nothing.
    const QPoint onLine = plot.PointPosition(line, 0).toPoint();
    ASSERT_EQ(plot.PointAt(onLine), std::nullopt);
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, onLine);
    QTest::mouseMove(&plot, onLine + QPoint(0, -20));
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, onLine + QPoint(0, -20));
    EXPECT_EQ(dragged.count(), 0);
    EXPECT_EQ(finished.count(), 0);

    // A curve point picked a few pixels off and moved up by a fifth of the
    // height: the value under the mouse is two more (of 0..10).
    const QPoint from = plot.PointPosition(curve, 2).toPoint() + QPoint(3, 2);
    ASSERT_EQ(plot.PointAt(from), (std::pair<int, int>{curve, 2}));
    QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(&plot, from - QPoint(0, a.height() / 5));
    ASSERT_EQ(dragged.count(), 1);
    EXPECT_EQ(dragged[0][0].toInt(), curve);
    EXPECT_EQ(dragged[0][1].toInt(), 2);
    EXPECT_NEAR(dragged[0][2].toDouble(), 6.9, 0.1);  // 2 up, less the 2 pixels below
    EXPECT_EQ(plot.Points(curve)[2], 5);              // the widget leaves the value to its owner
    plot.SetPoint(curve, 2, dragged[0][2].toDouble());
    EXPECT_NEAR(plot.PointPosition(curve, 2).y(), from.y() - a.height() / 5, 1.0);
    // Far past the frame: still a value, on the same scale.
    QTest::mouseMove(&plot, from - QPoint(0, 10 * a.height()));
    EXPECT_GT(dragged.back()[2].toDouble(), 90);
    QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, from);
    EXPECT_EQ(finished.count(), 1);
    // After the release a move drags nothing.
    QTest::mouseMove(&plot, from - QPoint(0, 5));
    EXPECT_EQ(dragged.count(), 2);
}

TEST_F(Plot, NewPointsRepaintThePlotAreaAndNewScalesEverything) {
    const QRect a = plot.PlotArea();
    Settle();
    plot.SetPoints(line, {10, 90, 10, 90, 10});
    QApplication::processEvents();
    ASSERT_FALSE(paints.rects.empty());
    for (const QRect& r : paints.rects) EXPECT_TRUE(a.adjusted(-8, -8, 8, 8).contains(r)) << r.x();

    // One point: the strip from its left to its right neighbour.
    Settle();
    plot.SetPoint(curve, 2, 6);
    QApplication::processEvents();
    ASSERT_FALSE(paints.rects.empty());
    for (const QRect& r : paints.rects) {
        EXPECT_LT(r.width(), a.width() / 2 + 20);
        EXPECT_LE(r.left(), plot.PointPosition(curve, 1).x());
        EXPECT_GE(r.right(), plot.PointPosition(curve, 3).x());
    }

    // A new range moves ticks and labels: the whole widget.
    Settle();
    plot.SetYRange(Scale::Right, {0, 200});
    QApplication::processEvents();
    ASSERT_FALSE(paints.rects.empty());
    EXPECT_EQ(paints.rects.back(), plot.rect());
    // The same range again is no change.
    Settle();
    plot.SetYRange(Scale::Right, {0, 200});
    QApplication::processEvents();
    EXPECT_TRUE(paints.rects.empty());
}

TEST_F(Plot, TheRightButtonPansOnlyWhenAllowed) {
    const QRect a = plot.PlotArea();
    auto pan = [&](int dx) {
        const QPoint at = a.center();
        QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, at);
        QMouseEvent move(QEvent::MouseMove, QPointF(at + QPoint(dx, 0)),
                         plot.mapToGlobal(QPointF(at + QPoint(dx, 0))), Qt::NoButton,
                         Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(&plot, &move);
        QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, at + QPoint(dx, 0));
    };
    pan(-50);
    EXPECT_EQ(plot.XRange(), (Range{-0.5, 4.5}));
    plot.SetPannable(true);
    pan(-50);  // dragged left: later points come into view
    const double shift = 50.0 * 5 / a.width();
    EXPECT_NEAR(plot.XRange().lo, -0.5 + shift, 1e-9);
    EXPECT_NEAR(plot.XRange().hi, 4.5 + shift, 1e-9);
}

}  // namespace
