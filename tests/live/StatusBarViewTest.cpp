#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QProgressBar>
#include <QScreen>

#include "live/ui/StatusBarView.h"

using namespace korvane::live;

namespace {

class StatusBarViewTest : public ::testing::Test {
  protected:
    StatusBarViewTest() : bar(nullptr) {
        bar.resize(964, kStatusBarHeight);
        bar.SetPanelText(0, QString("COM3"));
    }
    QColor PixelAt(int x, int y) { return bar.grab().toImage().pixelColor(x, y); }
    StatusBarView bar;
};

TEST_F(StatusBarViewTest, ProgressBarLiesHiddenOverTheFourthPanel) {
    QProgressBar* p = bar.ProgressBar();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parentWidget(), &bar);
    EXPECT_EQ(p->geometry(), QRect(84, 2, 549, 14));
    EXPECT_TRUE(p->isHidden());
    EXPECT_EQ(bar.height(), 16);
}

TEST_F(StatusBarViewTest, CellsPaintTheLinkState) {
    // Probe pixels inside each cell but clear of its text.
    const QPoint a(2, 14), b(54, 14), c(82, 14);
    const QColor plain = PixelAt(c.x(), c.y());

    bar.ShowLinkState({0, 0, 0, 0, 0, ""});
    EXPECT_EQ(PixelAt(a.x(), a.y()), QColor(255, 255, 0));
    EXPECT_EQ(PixelAt(b.x(), b.y()), QColor(255, 255, 0));
    EXPECT_EQ(PixelAt(c.x(), c.y()), plain);

    bar.ShowLinkState({1, 1, 1, 1, 0, "/dev/pts/4"});
    EXPECT_EQ(PixelAt(a.x(), a.y()), QColor(0, 128, 0));
    EXPECT_EQ(PixelAt(b.x(), b.y()), QColor(0, 128, 0));
    EXPECT_EQ(PixelAt(c.x(), c.y()), QColor(0, 128, 0));

    bar.ShowLinkState({1, 1, 1, 1, 1, "/dev/pts/4"});
    EXPECT_EQ(PixelAt(c.x(), c.y()), QColor(255, 0, 0));
    EXPECT_EQ(bar.Cells().lambda->text, "LC-1 ERR");

    bar.ShowLinkState({1, 0, 0, 0, 0, ""});
    EXPECT_EQ(PixelAt(b.x(), b.y()), QColor(255, 255, 0));
    EXPECT_EQ(PixelAt(c.x(), c.y()), plain);
}

TEST_F(StatusBarViewTest, PanelTextsAndPortNameInCellA) {
    bar.SetPanelText(5, std::string("GBCRec//PRec/Analis//All:1//2//3//4"));
    EXPECT_EQ(bar.PanelText(5), "GBCRec//PRec/Analis//All:1//2//3//4");
    EXPECT_EQ(bar.Cells().ecuPort.text, "COM3");
    bar.SetPanelText(0, QString("COM7"));
    EXPECT_EQ(bar.Cells().ecuPort.text, "COM7");
    bar.ShowLinkState({1, 1, 1, 1, 0, "/dev/serial/by-id/lc1"});
    EXPECT_EQ(bar.ToolTipAt({10, 8}), "COM7");
    EXPECT_EQ(bar.ToolTipAt({40, 8}), "ONLINE");
    EXPECT_EQ(bar.ToolTipAt({70, 8}), "LC-1 /dev/serial/by-id/lc1");
    EXPECT_EQ(bar.ToolTipAt({900, 8}), "GBCRec//PRec/Analis//All:1//2//3//4");
    EXPECT_EQ(bar.ToolTipAt({300, 8}), "");
    // A text wider than its cell or panel is cut in the middle and shown
    // whole in the tooltip.
    const QString port = "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0";
    bar.SetPanelText(0, port);
    const QString counters =
        "BCN:12//Ячеек:518//Выборок:41234//Шагов:97//Обороты>1000/с "
        "ДЗ>20%/с ТОЖ<60 и ещё очень длинный хвост текста";
    bar.SetPanelText(5, counters);
    const QFontMetrics fm(bar.font());
    const auto& cell = bar.Cells().ecuPort;
    const QString shown = bar.ShownCellText(cell);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(port.left(1)));
    EXPECT_LE(fm.horizontalAdvance(shown), cell.rect.right - cell.textX);
    EXPECT_EQ(bar.ToolTipAt({10, 8}), port);
    const QString panel = bar.ShownPanelText(5);
    EXPECT_TRUE(panel.startsWith("BCN:12")) << panel.toStdString();
    EXPECT_TRUE(panel.endsWith("текста")) << panel.toStdString();
    EXPECT_LT(panel.size(), counters.size());
    EXPECT_EQ(bar.ToolTipAt({900, 8}), counters);
    // A cell too narrow for the ellipsis keeps the start of its text.
    const QString state = bar.ShownCellText(bar.Cells().ecuSession);
    EXPECT_FALSE(state.isEmpty());
    EXPECT_TRUE(QString("ONLINE").startsWith(state)) << state.toStdString();
    EXPECT_EQ(bar.ToolTipAt({40, 8}), "ONLINE");
    // A text that fits is drawn as it is.
    bar.SetPanelText(5, QString("BCN:1"));
    EXPECT_EQ(bar.ShownPanelText(5), "BCN:1");
    bar.SetPanelText(9, QString("ignored"));
    EXPECT_EQ(bar.PanelText(9), QString());
}

// Collects what a widget repaints.
struct PaintSpy final : QObject {
    QRegion painted;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

// A new counter text repaints its own panel only, and the bar on screen is
// then what a whole repaint draws, a long LC-1 port name running across
// the panels included.
TEST_F(StatusBarViewTest, CounterTextRepaintsItsPanelAndTheScreenMatchesAWholeRepaint) {
    const std::string longPort =
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" + std::string(100, 'x');
    int countersLeft = 0;
    for (size_t i = 0; i < 5; ++i) countersLeft += kStatusPanelWidths[i];
    const QRect counters(countersLeft, 0, 964 - countersLeft, kStatusBarHeight);
    bar.ShowLinkState({1, 1, 1, 1, 0, longPort});
    bar.show();
    QApplication::processEvents();
    ASSERT_GT(bar.Cells().lambda->textX +
                  QFontMetrics(bar.font())
                      .horizontalAdvance(QString::fromStdString(bar.Cells().lambda->text)),
              countersLeft + 10)
        << "the port name must reach into the counters' panel";
    PaintSpy spy;
    bar.installEventFilter(&spy);
    auto onScreen = [&] {
        return QGuiApplication::primaryScreen()
            ->grabWindow(bar.winId(), 0, 0, bar.width(), bar.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    for (const char* text :
         {"GBCRec//PRec/Analis//All:0//0//0//1", "GBCRec//PRec/Analis//All:0//1//2//3", ""}) {
        spy.painted = QRegion();
        bar.SetPanelText(5, std::string(text));
        QApplication::processEvents();
        EXPECT_EQ(spy.painted, QRegion(counters)) << text;
        EXPECT_EQ(onScreen(), bar.grab().toImage().convertToFormat(QImage::Format_RGB32)) << text;
    }
    // The port name shows in cell A too: the whole bar follows it.
    spy.painted = QRegion();
    bar.SetPanelText(0, QString("COM9"));
    QApplication::processEvents();
    EXPECT_EQ(spy.painted, QRegion(bar.rect()));
    EXPECT_EQ(onScreen(), bar.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

}  // namespace
