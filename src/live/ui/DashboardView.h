#pragma once
#include <QWidget>
#include <array>

#include "live/LiveTexts.h"
#include "live/LiveTick.h"
#include "live/LiveValues.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace korvane::live {

// The dashboard of large figures (243 × 475): eleven values under their
// captions, and at its foot the two small tuning panels that the window
// hides at start-up (their radio group still tells the tuning what to tune).
class DashboardView : public QWidget {
    Q_OBJECT
public:
    explicit DashboardView(QWidget* parent);

    // One engine tick with a decoded frame. Only figures whose text changed
    // are touched.
    void Update(const LiveValues& values, OxygenSensor sensor, char decimalSeparator);

    // The figure under "К.корр", "LC-1" and so on, by its object name
    // ("RPMlabel", "COEFlabel", ...).
    QLabel* Figure(const char* objectName) const;

    // The foot panels "Panel1" and "Panel2".
    void SetFootPanelsVisible(bool visible);
    // 0 "Поправка и БЦН", 1 "УОЗ ", 2 "Фаза".
    int TuningModeIndex() const;
    // The two labels the tuning writes its correction and ratio into.
    QLabel* Label5() const { return label5_; }
    QLabel* Label7() const { return label7_; }
    QCheckBox* CheckBox1() const { return checkBox_; }
    QPushButton* Button3() const { return button_; }

private:
    struct FigureSlot {
        QLabel* label = nullptr;
        std::string DashboardTexts::*text = nullptr;
        std::string shown;
    };
    std::array<FigureSlot, 11> figures_{};
    QFrame* panel1_ = nullptr;
    QFrame* panel2_ = nullptr;
    QButtonGroup* modes_ = nullptr;
    QCheckBox* checkBox_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* label5_ = nullptr;
    QLabel* label7_ = nullptr;
};

}  // namespace korvane::live
