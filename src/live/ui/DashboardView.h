#pragma once
#include <QStringList>
#include <QWidget>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "live/LiveValues.h"
#include "live/ui/FigureCells.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QPaintEvent;
class QPushButton;

namespace korvane::live {

class DashboardView;

// One large figure: green, bold, 43 pixels, its text box at a fixed place.
// It covers the part of its box clear of caption ink and paints all of it
// itself, so a new figure repaints nothing else.
class FigureLabel : public QWidget {
    Q_OBJECT
  public:
    FigureLabel(DashboardView* panel, QRect textBox, QRect area);
    // The text box in panel coordinates: where the figure is placed.
    QRect TextBox() const { return textBox_; }
    void setText(const QString& text);
    QString text() const;
    QColor Colour() const { return colour_; }
    void SetColour(const QColor& colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    DashboardView* panel_;
    QRect textBox_;
    QString text_;
    QColor colour_{0, 128, 0};
};

// The dashboard of large figures (243 × 475): eleven values under their
// captions, and at its foot the two small tuning panels that the window
// hides at start-up (their radio group still tells the tuning what to tune).
class DashboardView : public QWidget {
    Q_OBJECT
  public:
    // The figures take the first of `figureFamilies` the machine has; by
    // default Times New Roman or the nearest serif face.
    explicit DashboardView(QWidget* parent, const QStringList& figureFamilies = {});

    // One engine tick with a decoded frame. Only figures whose text changed
    // are repainted. Out of sight the panel only keeps the values; its
    // figures take them when it is shown or a figure is read.
    void Update(const LiveValues& values, OxygenSensor sensor, char decimalSeparator);

    // A figure by its object name ("RPMlabel", "COEFlabel", ...).
    FigureLabel* Figure(const char* objectName) const;

    struct Caption {
        QString text;
        QPoint topLeft;
        QRect box;  // the ink's extent
    };
    const std::vector<Caption>& Captions() const { return captions_; }

    // Grey figures while the ECU does not answer, green when live.
    void SetStale(bool stale);

    // The foot panels "Panel1" and "Panel2".
    void SetFootPanelsVisible(bool visible);
    // 0 "Поправка и БЦН", 1 "УОЗ ", 2 "Фаза".
    int TuningModeIndex() const;
    // The two labels the tuning writes its correction and ratio into.
    QLabel* Label5() const { return label5_; }
    QLabel* Label7() const { return label7_; }
    QCheckBox* CheckBox1() const { return checkBox_; }
    QPushButton* Button3() const { return button_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    friend class FigureLabel;
    // Brings the figures up to the last values given.
    void CatchUp();
    struct Pending {
        LiveValues values;
        OxygenSensor sensor;
        char decimalSeparator;
    };
    std::optional<Pending> pending_;
    // Background and captions within `area` (panel coordinates). True when
    // the area is plain background, in `background`.
    bool PaintPanel(QPainter& p, const QRect& area, QColor* background = nullptr) const;
    FigureCells cells_;

    struct FigureSlot {
        FigureLabel* label = nullptr;
        std::string DashboardTexts::*text = nullptr;
        std::string shown;
    };
    std::array<FigureSlot, 11> figures_{};
    std::vector<Caption> captions_;
    QFont captionFont_;
    int captionAscent_ = 0;
    QFrame* panel1_ = nullptr;
    QFrame* panel2_ = nullptr;
    QButtonGroup* modes_ = nullptr;
    QCheckBox* checkBox_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* label5_ = nullptr;
    QLabel* label7_ = nullptr;
};

}  // namespace korvane::live
