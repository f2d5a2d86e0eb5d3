#pragma once
// The map editor's view of a two-axis map: the operations' bar, the grid,
// the surface and a line about the current cell. In place of the tables'
// pages and the trend while such a map is picked in the tree.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "live/LiveValues.h"
#include "maps/Map3dEditor.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace korvane::maps {

class MapGrid;
class SurfaceView;

class Map3dView final : public QWidget {
    Q_OBJECT
  public:
    struct Host {
        std::function<ConstImageBytes()> image;
        StoreBytes store;  // an edit of the image (and what follows it)
        std::function<void(const QString&)> log;
        EditHistory* history = nullptr;
        std::function<void()> edited;  // after a change made here
        std::function<void()> undo, redo;
        std::function<void()> compare;  // "Сравнить с образом…"
        char decimalSeparator = ',';
    };
    Map3dView(Host host, QWidget* parent);
    ~Map3dView() override;

    // The map, or the reason it cannot be shown in place of the grid.
    void ShowMap(const Map3dRead& read);
    // The image as loaded (changed marks) and a compared image, or null.
    void SetReference(const std::vector<uint8_t>* baseline, const std::vector<uint8_t>* other);
    // The image's bytes changed elsewhere (undo, redo, another image).
    void ImageChanged();
    // The live values of the engine view's tick: the point on the grid and
    // the surface, for a map whose axes name live values.
    void ShowLive(const live::LiveValues& values);
    void HideLive();
    // Ranges the ECU has confirmed holding (address, length), as whoever
    // keeps the ECU in step with the image reports them; changed cells
    // within them are marked green. Replaces what was confirmed before.
    void ShowConfirmed(const std::vector<std::pair<uint16_t, uint16_t>>& ranges);

    Map3dEditor* Editor() { return editor_.get(); }
    MapGrid* Grid() const { return grid_; }
    SurfaceView* Surface() const { return surface_; }
    QLabel* Reason() const { return reason_; }

  private:
    QToolButton* Button(const char* name, const QString& text, const QString& tip,
                        std::function<void()> action);
    void Edited(const EditResult& r);
    void ShowCurrent();
    // The amount box as a number; logs and returns none when it is not one.
    std::optional<double> Amount();

    Host h_;
    std::unique_ptr<Map3dEditor> editor_;
    MapGrid* grid_ = nullptr;
    SurfaceView* surface_ = nullptr;
    QLabel* reason_ = nullptr;
    QLabel* info_ = nullptr;
    QLineEdit* amount_ = nullptr;
    QToolButton* take_ = nullptr;
    const std::vector<uint8_t>* other_ = nullptr;
    int xRow_ = 0, yRow_ = 0;  // diagnostic rows of the axes' live values, 0: none
};

}  // namespace korvane::maps
