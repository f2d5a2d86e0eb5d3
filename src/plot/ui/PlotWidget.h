#pragma once
// A plot of line series over a shared horizontal axis, each series on the
// left or the right value scale. The frame, grid, tick labels and titles are
// drawn once into a picture and copied on each repaint; only the lines,
// markers and cursor are drawn anew, and a change of points repaints only
// the plot area. Points can be picked and dragged vertically (series marked
// draggable), the right button pans sideways (when allowed).
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <vector>

#include "plot/PlotMath.h"
#include "plot/PlotRaster.h"

namespace korvane::plot {

enum class Scale { Left, Right };

struct SeriesStyle {
    QColor colour = Qt::black;
    int width = 1;
    Scale scale = Scale::Left;
    bool antialiased = false;
    // A square marker on each point, `markerSize` pixels wide.
    bool markers = false;
    int markerSize = 7;
    QColor markerBorder = Qt::black;
    bool draggable = false;
};

class PlotWidget : public QWidget {
    Q_OBJECT
  public:
    explicit PlotWidget(QWidget* parent = nullptr);

    // Series: point k of a series lies at x = k.
    int AddSeries(const SeriesStyle& style);
    int SeriesCount() const { return static_cast<int>(series_.size()); }
    const SeriesStyle& Style(int series) const { return series_.at(series).style; }
    void SetPoints(int series, std::vector<double> values);
    void SetPoint(int series, int index, double value);
    const std::vector<double>& Points(int series) const { return series_.at(series).values; }

    // The horizontal axis: its range and either numbers every `step` or a
    // label at given positions (category labels).
    void SetXRange(Range range, double step);
    Range XRange() const { return x_.range; }
    void SetXLabels(std::vector<std::pair<double, QString>> labels);
    // A value scale; step 0 chooses round ticks for the height.
    void SetYRange(Scale scale, Range range, double step = 0);
    Range YRange(Scale scale) const { return Y(scale).range; }
    void SetShown(Scale scale, bool shown);
    void SetXTitle(const QString& title);
    void SetYTitle(Scale scale, const QString& title);
    QString XTitle() const { return x_.title; }
    QString YTitle(Scale scale) const { return Y(scale).title; }
    void SetLabelPixelSize(int pixels);
    void SetTitlePixelSize(int pixels);
    // Moves the horizontal range by whole pixels (right button drag).
    void SetPannable(bool pannable) { pannable_ = pannable; }

    // A vertical line at x, none when empty.
    void SetCursor(std::optional<double> x);
    std::optional<double> Cursor() const { return cursor_; }

    // Where things lie, in the widget's pixels.
    QRect PlotArea() const;
    QPointF PointPosition(int series, int index) const;
    // The draggable point within the grab radius of `pos`: {series, index}.
    std::optional<std::pair<int, int>> PointAt(QPointF pos) const;
    double ValueAtY(Scale scale, double y) const;
    double ValueAtX(double x) const;

  signals:
    // A dragged point follows the mouse: `value` is where the mouse is on
    // the point's scale (NaN when the scale has no height). The owner
    // decides what value the point takes (SetPoint).
    void pointDragged(int series, int index, double value);
    // The button let go of a dragged point.
    void dragFinished(int series, int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Axis {
        Range range;
        double step = 0;
        QString title;
        bool shown = true;
        std::vector<std::pair<double, QString>> labels;  // x only, when set
    };
    struct Series {
        SeriesStyle style;
        std::vector<double> values;
    };
    const Axis& Y(Scale s) const { return s == Scale::Left ? left_ : right_; }
    Axis& Y(Scale s) { return s == Scale::Left ? left_ : right_; }
    LinearMap XMap() const;
    LinearMap YMap(Scale s) const;
    // The axis's tick step: its own, or a round one for its length.
    static double Step(const Axis& axis, int lengthPixels, int pixelsPerStep);
    QString TickText(double value, double step) const;
    // The frame, grid, ticks and titles changed: the picture is made again
    // and the whole widget repainted.
    void Restyle();
    void Layout();
    void PaintStill();
    // Smoothed lines and markers, through the painter.
    void PaintSeries(QPainter& p, const Series& s) const;
    // Lines without smoothing, written into frame_ within `clip`.
    void PaintPlainLines(const QRect& clip);
    // Makes frame_ the picture again within `device` (image pixels).
    void RestoreFrame(const QRect& device);

    std::vector<Series> series_;
    Axis x_, left_, right_;
    int labelPixels_ = 10, titlePixels_ = 11;
    std::optional<double> cursor_;
    QRect plot_;
    QImage still_;
    // The picture with the plain lines written in, as last shown, and per
    // pixel column the rows those lines cover.
    QImage frame_;
    std::vector<ColumnSpan> lines_;
    bool frameValid_ = false;
    bool stillValid_ = false;
    bool pannable_ = false;
    std::optional<std::pair<int, int>> dragged_;
    std::optional<double> panFrom_;
};

}  // namespace korvane::plot
