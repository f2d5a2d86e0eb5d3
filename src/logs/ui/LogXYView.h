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

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

  private:
    void Rebuild();
    QPointF ToPixel(double x, double y) const;

    Axis x_, y_, colour_;
    bool ratioColours_ = true;
    std::optional<WorkPointGrid> grid_;
    bool gridApplies_ = false;
    double x0_ = 0, x1_ = 1, y0_ = 0, y1_ = 1;
    std::array<double, 17> colBounds_{}, rowBounds_{};
    std::vector<int> visits_;
    QImage points_;
};

}  // namespace korvane::logs::ui
