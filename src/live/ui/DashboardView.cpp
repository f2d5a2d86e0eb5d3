#include "live/ui/DashboardView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace korvane::live {

namespace {

struct FigureSpec {
    const char* caption;
    int captionX, captionY;
    const char* name;
    int x, y;
    std::string DashboardTexts::*text;
};

constexpr std::array<FigureSpec, 11> kFigures{{
    {"Обороты", 25, 28, "RPMlabel", 25, 36, &DashboardTexts::rpm},
    {"Температура", 140, 28, "Tlabel", 140, 36, &DashboardTexts::coolant},
    {"Дросель", 25, 91, "DRLabel", 25, 102, &DashboardTexts::throttle},
    {"Напряжение", 140, 91, "ULabel", 140, 102, &DashboardTexts::battery},
    {"К.корр", 25, 150, "COEFlabel", 25, 160, &DashboardTexts::coef},
    {"УОЗ", 144, 150, "UOZlabel", 144, 160, &DashboardTexts::ignition},
    {"LC-1", 25, 205, "AFRLClabel", 25, 213, &DashboardTexts::afrLc1},
    {"В.впрыска", 144, 205, "INJlabel", 136, 213, &DashboardTexts::injection},
    {"AFR", 25, 268, "AFRlabel", 25, 279, &DashboardTexts::afr},
    {"РХХ", 140, 268, "RXXLabel", 140, 279, &DashboardTexts::iac},
    {"Воздух", 140, 326, "Mlabel", 140, 334, &DashboardTexts::airMass},
}};

constexpr int kWidth = 243;
constexpr int kHeight = 475;
constexpr int kFigureHeight = 52;

QFont FigureFont() {
    QFont f;
    f.setFamilies({"Times New Roman", "Nimbus Roman", "Liberation Serif", "DejaVu Serif"});
    f.setPixelSize(43);
    f.setBold(true);
    return f;
}

QFont CaptionFont() {
    QFont f;
    f.setFamilies({"Tahoma", "Nimbus Sans", "DejaVu Sans"});
    f.setPixelSize(11);
    f.setBold(true);
    return f;
}

}  // namespace

DashboardView::DashboardView(QWidget* parent) : QWidget(parent) {
    setObjectName("PanelMain");
    setFixedSize(kWidth, kHeight);

    const QFont figureFont = FigureFont();
    const QFont captionFont = CaptionFont();
    QPalette green = palette();
    green.setColor(QPalette::WindowText, QColor(0, 128, 0));
    QPalette black = palette();
    black.setColor(QPalette::WindowText, Qt::black);

    for (size_t i = 0; i < kFigures.size(); ++i) {
        const FigureSpec& s = kFigures[i];
        // Figures first, so the captions stay on top where they overlap the
        // figure's empty upper edge.
        auto* label = new QLabel(this);
        label->setObjectName(s.name);
        label->setFont(figureFont);
        label->setPalette(green);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A fixed box: a new figure never relayouts the panel.
        label->setGeometry(s.x, s.y, kWidth - s.x, kFigureHeight);
        figures_[i] = {label, s.text, {}};
    }
    for (const FigureSpec& s : kFigures) {
        auto* caption = new QLabel(QString::fromUtf8(s.caption), this);
        caption->setFont(captionFont);
        caption->setPalette(black);
        caption->move(s.captionX, s.captionY);
        caption->adjustSize();
    }

    // The tuning controls at the foot.
    panel1_ = new QFrame(this);
    panel1_->setObjectName("Panel1");
    panel1_->setFrameShape(QFrame::StyledPanel);
    panel1_->setGeometry(4, 380, 235, 40);
    checkBox_ = new QCheckBox(QString::fromUtf8("настраивать УОЗ"), panel1_);
    checkBox_->setObjectName("CheckBox1");
    checkBox_->move(6, 10);
    button_ = new QPushButton(panel1_);
    button_->setObjectName("Button3");
    button_->setGeometry(160, 8, 70, 24);

    panel2_ = new QFrame(this);
    panel2_->setObjectName("Panel2");
    panel2_->setFrameShape(QFrame::StyledPanel);
    panel2_->setGeometry(4, 422, 235, 50);
    auto* group = new QGroupBox(panel2_);
    group->setObjectName("RadioGroup1");
    group->setGeometry(2, 2, 150, 46);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(0);
    modes_ = new QButtonGroup(this);
    int id = 0;
    for (const char* item : {"Поправка и БЦН", "УОЗ ", "Фаза"}) {
        auto* radio = new QRadioButton(QString::fromUtf8(item), group);
        layout->addWidget(radio);
        modes_->addButton(radio, id++);
    }
    modes_->button(0)->setChecked(true);
    label5_ = new QLabel(panel2_);
    label5_->setObjectName("Label5");
    label5_->setGeometry(158, 6, 72, 16);
    label7_ = new QLabel(panel2_);
    label7_->setObjectName("Label7");
    label7_->setGeometry(158, 28, 72, 16);
}

void DashboardView::Update(const LiveValues& values, OxygenSensor sensor, char sep) {
    const DashboardTexts texts = ComposeDashboardTexts(values, sensor, sep);
    for (FigureSlot& f : figures_) {
        const std::string& text = texts.*f.text;
        if (text == f.shown) continue;
        f.shown = text;
        f.label->setText(QString::fromStdString(text));
    }
}

QLabel* DashboardView::Figure(const char* objectName) const {
    for (const auto& f : figures_)
        if (f.label->objectName() == QLatin1String(objectName)) return f.label;
    return nullptr;
}

void DashboardView::SetFootPanelsVisible(bool visible) {
    panel1_->setVisible(visible);
    panel2_->setVisible(visible);
}

int DashboardView::TuningModeIndex() const { return modes_->checkedId(); }

}  // namespace korvane::live
