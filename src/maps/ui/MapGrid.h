#pragma once
// The grid of a two-axis map: row and column headers, each cell coloured by
// its value from blue (the table's lowest) to red (its highest), cells
// changed since the image was loaded marked at their upper left corner,
// cells that differ from a compared image framed in violet, the selection,
// the live point and the cells around it. Painted by hand: a map of 64 × 64
// cells is 4096 items, and the live point moves several times a second.
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "maps/Map3dEditor.h"

class QLineEdit;

namespace korvane::maps {

// The live point in cell units (0 … N − 1 on each axis).
struct LivePoint {
    double x = 0, y = 0;
    bool operator==(const LivePoint&) const = default;
};

class MapGrid final : public QWidget {
    Q_OBJECT
  public:
    explicit MapGrid(QWidget* parent);

    // The editor shown, or none. The grid reads the cells from it at paint.
    void SetEditor(Map3dEditor* editor);
    // Image bytes as loaded (changed marks) and a compared image (or null).
    void SetReference(const std::vector<uint8_t>* baseline, const std::vector<uint8_t>* other);
    // Cell values changed: colours and texts are worked out again.
    void Refresh();
    void SetLivePoint(std::optional<LivePoint> point);
    // Image offsets the ECU has confirmed holding: changed cells among them
    // get a green corner instead of the black one.
    void SetConfirmed(std::vector<bool> confirmed);
    std::optional<LivePoint> Live() const { return live_; }

    // The user's keys and operations that the grid cannot run alone.
    std::function<void(const EditResult&)> onEdited;
    std::function<void()> onSelectionChanged;

    QRect CellBox(int x, int y) const;
    // Cell under a widget position, -1 for a header.
    std::pair<int, int> CellAt(QPoint p) const;

    // Runs an operation of the editor and tells whoever listens.
    void Run(const std::function<EditResult(Map3dEditor&)>& op);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void Layout();
    // The grid without the live point, drawn again only when it changed.
    void Invalidate();
    void PaintBase(QPainter& p);
    void StartTyping(const QString& first);
    void FinishTyping();
    QRect LiveRect(const LivePoint& p) const;
    void MoveCurrent(int dx, int dy, bool extend);

    Map3dEditor* editor_ = nullptr;
    const std::vector<uint8_t>* baseline_ = nullptr;
    const std::vector<uint8_t>* other_ = nullptr;
    std::vector<QColor> colours_;
    std::vector<QString> texts_;
    std::optional<LivePoint> live_;
    std::vector<bool> confirmed_;  // per image offset, or empty
    int headerW_ = 46, headerH_ = 18, cellW_ = 30, cellH_ = 18;
    int anchorX_ = 0, anchorY_ = 0, currentX_ = 0, currentY_ = 0;
    bool dragging_ = false;
    QLineEdit* typing_ = nullptr;
    QPixmap cache_;
    bool cacheDirty_ = true;
};

// The live point's dot, drawn once: the painter's ellipse per tick costs
// more than the rest of the live point together.
const QPixmap& LiveDot();

// The colour of a value between the table's lowest and highest: blue to red.
QColor ValueColour(double value, double lowest, double highest);

}  // namespace korvane::maps
