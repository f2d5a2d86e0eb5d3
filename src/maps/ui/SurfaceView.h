#pragma once
// The surface of a two-axis map, drawn with the painter: one filled quad per
// four neighbouring cells, coloured as the grid colours them, seen from a
// direction the user turns by dragging. The live point sits on it.
#include <QPixmap>
#include <QWidget>
#include <optional>

#include "maps/Map3dEditor.h"
#include "maps/ui/MapGrid.h"

namespace korvane::maps {

class SurfaceView final : public QWidget {
    Q_OBJECT
  public:
    explicit SurfaceView(QWidget* parent);

    void SetEditor(Map3dEditor* editor);
    // Cell values changed.
    void Refresh();
    void SetLivePoint(std::optional<LivePoint> point);
    // Degrees: turn about the vertical axis and elevation of the view.
    void SetView(double yaw, double pitch);
    double Yaw() const { return yaw_; }
    double Pitch() const { return pitch_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Screen position of a point in cell units at a value.
    QPointF Project(double x, double y, double value) const;
    double ValueAt(double x, double y) const;
    QRectF MarkerRect(const LivePoint& p) const;
    void Rebuild();

    Map3dEditor* editor_ = nullptr;
    std::vector<double> values_;
    double lo_ = 0, hi_ = 1;
    double yaw_ = -35, pitch_ = 35;
    std::optional<LivePoint> live_;
    QPixmap cache_;
    bool dirty_ = true;
    QPoint dragFrom_;
};

}  // namespace korvane::maps
