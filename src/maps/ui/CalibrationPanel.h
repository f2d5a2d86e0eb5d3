#pragma once
// The map editor: the map tree on the right (this widget, "Calibrpanel"),
// the table pages "Данные" and "График" and the write button on the left.
// Owns the map document, the tree's node list, the attribute list of the
// element shown and the curve write timer; the window lends the rest.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "live/LiveValues.h"
#include "maps/Map3dEditor.h"
#include "maps/MapDocument.h"
#include "maps/MapNumbers.h"
#include "maps/TableCodec.h"
#include "maps/WriteBack.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;

namespace korvane::ecu {
class EcuCommands;
}

namespace korvane::maps {

class CurveChart;
class Map3dView;

class CalibrationPanel final : public QWidget {
    Q_OBJECT
  public:
    // What the window lends. Every function must be set.
    struct Window {
        ecu::EcuCommands* ecu = nullptr;
        QTimer* engineTimer = nullptr;
        std::function<ImageBytes()> image;
        // Every edit of the image goes through here; while connected the
        // ECU's RAM follows it, so the panel builds no write of its own.
        std::function<void(uint16_t address, std::span<const uint8_t> bytes)> store;
        std::function<void(const QString&)> log;
        std::function<void(const QString&)> showError;
        // An open-file dialog; empty when cancelled.
        std::function<QString(const QString& title, const QString& filter)> askOpenFile;
        std::function<std::string(const char* key)> setting;
        std::function<void(const char* key, const std::string& value)> setSetting;
        // SaveFirmwareImage.
        std::function<void()> saveImage;
        // Whether a connection stands or is being made. Without one the write
        // button stores into the image only (the log says so): no ECU, no
        // copy, the live view untouched. Unset: always connected.
        std::function<bool()> connected;
        // A two-axis map's view covers the trend and the table pages while
        // shown (may be unset): the window stops drawing what lies under it.
        std::function<void(bool shown)> mapViewShown;
        // The image was changed by a write at the desk (may be unset).
        std::function<void()> imageEdited;
        // Runs a step now, or once the handler that is waiting has finished.
        std::function<void(std::function<void()>)> runGuarded;
        // Connects a timer so its handler never runs inside another's wait.
        std::function<void(QTimer*, std::function<void()>)> connectTimer;
        char decimalSeparator = ',';
    };

    // Builds the tree side into itself (243 × 475) and the table side into
    // the pages "Системные", "Данные" and "График" of `pages` and into
    // `tablePanel` (the write button).
    CalibrationPanel(Window window, QTabWidget* pages, QWidget* tablePanel, QWidget* parent);
    ~CalibrationPanel() override;

    // Handlers named after their component and event.
    void acLoadExecute();      // the button "Карта"
    void ToolButton21Click();  // map mode: load the configured map without a dialog
    void acRefreshExecute() { RebuildTree(); }
    void RebuildTree();
    void TreeViewClick();
    void TreeViewChange() { TreeViewClick(); }
    void TreeViewExpanding(QTreeWidgetItem* item);
    void tabl();
    void ChartTool1DragPoint(QObject* Sender, int Index);
    void Button5Click();
    // A value or curve stored into the image while connected: the ECU's
    // RAM follows the image; these say so in the log and resume the live
    // view.
    void correct1D();
    void correct2D(const std::string& adrf, const std::string& adrs, const std::string& len,
                   const std::string& data);

    // Two-axis maps. Another image was loaded: the undo steps and the
    // changed marks start afresh.
    void ImageReloaded();
    // The engine view's tick: the live point of the map shown.
    void ShowLive(const live::LiveValues& values);
    void HideLive();
    // What the ECU has confirmed holding (address, length ranges), for the
    // grid's marks.
    void ShowConfirmed(const std::vector<std::pair<uint16_t, uint16_t>>& ranges);
    // Undo and redo over every table edited here (Ctrl+Z, Ctrl+Y).
    void Undo();
    void Redo();
    // "Сравнить с образом…": a second image; the tables that differ are
    // marked in the tree.
    void CompareClick();
    const EditHistory& History() const { return history_; }
    Map3dView* View3d() const { return view3d_; }

    std::vector<int> NodePath(QTreeWidgetItem* item) const;
    int CurrentNodeListIndex() const { return tree_.CurrentNodeListIndex(CurrentMapNode); }
    const MapDocument& Document() const { return doc_; }
    const MapTree& Tree() const { return tree_; }
    const AttributeList& Attributes() const { return attributes_; }
    // The tree item showing the element at this path of names ("A/B"), or
    // nullptr.
    QTreeWidgetItem* ItemByNames(const QString& path) const;

    pugi::xml_node CurrentMapNode;

    // Components.
    QLabel* Label9 = nullptr;
    QTreeWidget* TreeView = nullptr;
    QPushButton* MapButton = nullptr;
    QTableWidget* ValueListEditor = nullptr;  // the attribute list, hidden
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* EditMax = nullptr;
    QLineEdit* Editpoint = nullptr;
    QLineEdit* EditMin = nullptr;
    QTableWidget* StringGrid4 = nullptr;
    CurveChart* DBChart1 = nullptr;
    QLabel* Label17 = nullptr;
    QToolButton* Button5 = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool LoadMap(const std::string& path);
    void ShowTableDisplay(const TableDisplay& d);
    void BuildTreeSide();
    void BuildTableSide(QTabWidget* pages, QWidget* tablePanel);
    bool LinkUp() const;
    bool AtDesk() const { return w_.connected && !w_.connected(); }
    // Runs the step of a handler `ms` later, never inside another handler.

    // Edits of the image from here: stored, and (for now) handed to the ECU.
    void StoreRange(uint16_t address, std::span<const uint8_t> bytes);
    void AfterEdit();
    void MarkComparedTables();

    Window w_;
    EditHistory history_;
    std::vector<uint8_t> baseline_;  // the image as loaded
    std::vector<uint8_t> other_;     // the compared image; empty: none
    Map3dView* view3d_ = nullptr;
    MapDocument doc_;
    MapTree tree_;
    std::vector<QTreeWidgetItem*> items_;  // one per tree_.items entry
    AttributeList attributes_;
    bool changedSincePress_ = false;
};

}  // namespace korvane::maps
