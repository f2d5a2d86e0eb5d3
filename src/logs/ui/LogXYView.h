#pragma once
// One channel of a log against another, each point coloured by a third,
// over the work-point grid of the loaded image with the lines spent in each
// cell, so the tuner sees where the drive went and where it ran lean or rich.
#include <QImage>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace korvane::logs::ui {

// Engine speed per row and throttle per column, as the tuning grid shows them.
struct WorkPointGrid {
    std::array<int32_t, 16> rpm{};
    std::array<int32_t, 16> throttle{};
};

class LogXYView final : public QWidget {
    Q_OBJECT
  public:
    explicit LogXYView(QWidget* parent = nullptr);

    struct Axis {
        QString caption;
        std::span<const float> values;
    };
    // `ratioColours`: the colour channel is a mixture ratio (fixed scale
    // around 1); otherwise its own range runs from blue to red.
    void SetData(Axis x, Axis y, Axis colour, bool ratioColours);
    // The grid is drawn when x is throttle and y engine speed.
    void SetGrid(std::optional<WorkPointGrid> grid, bool applies);

    // Lines of the log in each cell [column][row] (empty without the grid).
    const std::vector<int>& Visits() const { return visits_; }
    QRect PlotArea() const;

    // The part of the plane in view. It starts at the range of the data
    // with a margin; the wheel zooms around the mouse, a drag pans, a double
    // click goes back to the start.
    struct View {
        double x0, x1, y0, y1;
    };
    View CurrentView() const { return {x0_, x1_, y0_, y1_}; }
    void SetView(View view);
    void ResetView();
    // factor < 1 zooms in, keeping the point under `at` where it is.
    void Zoom(double factor, QPointF at);
    // The cells drawn in the current view, with the ones that show their
    // count (the count fits inside the cell).
    struct ShownCell {
        int column, row;
        bool countShown;
    };
    std::vector<ShownCell> ShownCells() const;

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

  private:
    void Rebuild();
    // Draws the points of the current view into points_.
    void RenderPoints();
    QPointF ToPixel(double x, double y) const;
    QRectF CellRect(int column, int row) const;

    Axis x_, y_, colour_;
    bool ratioColours_ = true;
    std::optional<WorkPointGrid> grid_;
    bool gridApplies_ = false;
    double x0_ = 0, x1_ = 1, y0_ = 0, y1_ = 1;  // in view
    View home_{0, 1, 0, 1};                     // the data's range with a margin
    float colourLow_ = 0.9f, colourHigh_ = 1.1f;
    std::optional<QPointF> press_;
    View pressView_{0, 1, 0, 1};
    std::array<double, 17> colBounds_{}, rowBounds_{};
    std::vector<int> visits_;
    QImage points_;
};

}  // namespace korvane::logs::ui
