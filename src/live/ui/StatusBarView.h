#pragma once
#include <QString>
#include <QWidget>
#include <array>
#include <string>

#include "live/StatusCells.h"

class QProgressBar;

namespace korvane::live {

// The window's status bar: six panels (28, 28, 28, 549, 100, 200 pixels,
// the last one reaching the right edge), 16 pixels high. Cells A, B and C
// paint the state of the ECU port, the ECU session and the LC-1 link from the
// flags of the last ShowLinkState; panel 3 is left to the firmware-read
// progress bar lying on top of it.
class StatusBarView : public QWidget {
    Q_OBJECT
  public:
    explicit StatusBarView(QWidget* parent);

    // Hidden until a firmware read runs; the window shows, fills and hides it.
    QProgressBar* ProgressBar() { return progress_; }

    // Plain text of panel 0..5 (panel 0: the ECU port name, panel 5: the
    // tuning counters). Panel 3 never draws its text.
    void SetPanelText(int panel, const QString& text);
    void SetPanelText(int panel, const std::string& utf8) {
        SetPanelText(panel, QString::fromStdString(utf8));
    }
    QString PanelText(int panel) const;

    // Called by the status timer; repaints only when a cell changes.
    void ShowLinkState(const LinkFlags& flags);
    const StatusCells& Cells() const { return cells_; }

    QSize sizeHint() const override;

    // The whole text under a point: the cells are narrower than a port name.
    QString ToolTipAt(QPoint pos) const;
    // What a cell or a panel draws: its text, cut in the middle ("/de…if00")
    // where it would not fit, so the start and the end both stay readable.
    QString ShownCellText(const StatusCell& cell) const;
    QString ShownPanelText(int panel) const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // Draws a cell when it or its text reaches into `area`.
    void PaintCell(class QPainter& painter, const StatusCell& cell, const QRect& area) const;
    QRect PanelArea(size_t panel) const;
    // Where a cell's text and its box of fill colour lie.
    QRect TextBox(const StatusCell& cell) const;
    QString Elided(const QString& text, int width) const;

    std::array<QString, kStatusPanelWidths.size()> panelTexts_;
    LinkFlags flags_;
    StatusCells cells_;
    QProgressBar* progress_ = nullptr;
};

}  // namespace korvane::live
