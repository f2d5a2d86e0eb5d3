// Renders the trend chart and the map editor's curve chart with fixed data
// into PNG files, so two builds can be compared by eye:
//   plot_shots OUTPUT_PREFIX   ->  PREFIX-trend.png, PREFIX-curve.png
//   plot_shots --side-by-side LEFT.png RIGHT.png OUT.png
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "live/ui/TrendView.h"
#include "maps/ui/CurveChart.h"

using namespace korvane;

namespace {

// Two pictures next to each other on white, with a gap between.
int SideBySide(const QString& left, const QString& right, const QString& out) {
    const QImage a(left), b(right);
    if (a.isNull() || b.isNull()) return 1;
    constexpr int kGap = 16;
    QImage both(a.width() + kGap + b.width(), std::max(a.height(), b.height()),
                QImage::Format_RGB32);
    both.fill(Qt::white);
    QPainter p(&both);
    p.drawImage(0, 0, a);
    p.drawImage(a.width() + kGap, 0, b);
    p.end();
    return both.save(out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--side-by-side")
        return SideBySide(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                          QString::fromLocal8Bit(argv[4]));
    if (argc < 2) {
        std::fputs("usage: plot_shots OUTPUT_PREFIX\n", stderr);
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);

    live::TrendView trend(nullptr);
    trend.ComboBox3()->setCurrentIndex(0);  // ignition advance on the left, speed on the right
    trend.show();
    live::LiveValues v;
    for (int i = 0; i < 60; ++i) {
        v.Rpm = 1800 + 900 * std::sin(i * 0.21) + 40 * (i % 3);
        v.IgnAdvance = 22 + 9 * std::sin(i * 0.33 + 1) - 0.4 * (i % 4);
        trend.Update(v, live::OxygenSensor::Lc1);
        QApplication::processEvents();
    }
    QApplication::processEvents();
    const bool trendSaved = trend.grab().save(prefix + "-trend.png");

    maps::CurveChart curve(nullptr);
    curve.resize(709, 222);
    curve.show();
    std::vector<double> values;
    QStringList labels;
    for (int i = 0; i < 16; ++i) {
        values.push_back(std::round((1.9 - 0.9 * (1 - std::exp(-i * 0.35))) * 128) / 128.0);
        labels << QString::number(-40 + 10 * i);
    }
    curve.SetPoints(values, labels);
    curve.SetAxisTitles(QString::fromUtf8("Температура"), QString::fromUtf8("Коэффициент"));
    QApplication::processEvents();
    const bool curveSaved = curve.grab().save(prefix + "-curve.png");
    return trendSaved && curveSaved ? 0 : 1;
}
