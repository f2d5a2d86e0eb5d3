#include "live/ui/DashboardView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace korvane::live {

namespace {

struct FigureSpec {
    const char* caption;
    int captionX, captionY;
    const char* name;
    int x, y;
    std::string DashboardTexts::*text;
    // The widest text the figure shows in ordinary running: '0' stands for
    // any digit, ',' for the decimal separator.
    const char* widest;
};

constexpr std::array<FigureSpec, 11> kFigures{{
    {"Обороты", 25, 28, "RPMlabel", 25, 36, &DashboardTexts::rpm, "00000"},
    {"Температура", 140, 28, "Tlabel", 140, 36, &DashboardTexts::coolant, "000"},
    {"Дросель", 25, 91, "DRLabel", 25, 102, &DashboardTexts::throttle, "000"},
    {"Напряжение", 140, 91, "ULabel", 140, 102, &DashboardTexts::battery, "00,00"},
    {"К.корр", 25, 150, "COEFlabel", 25, 160, &DashboardTexts::coef, "0,000"},
    {"УОЗ", 144, 150, "UOZlabel", 144, 160, &DashboardTexts::ignition, "-00,0"},
    {"LC-1", 25, 205, "AFRLClabel", 25, 213, &DashboardTexts::afrLc1, "00,00"},
    {"В.впрыска", 144, 205, "INJlabel", 136, 213, &DashboardTexts::injection, "00,00"},
    {"AFR", 25, 268, "AFRlabel", 25, 279, &DashboardTexts::afr, "00,00"},
    {"РХХ", 140, 268, "RXXLabel", 140, 279, &DashboardTexts::iac, "000"},
    {"Воздух", 140, 326, "Mlabel", 140, 334, &DashboardTexts::airMass, "000,0"},
}};

constexpr int kWidth = 243;
constexpr int kHeight = 475;
constexpr int kFootPanelsTop = 388;
// Where a 43-pixel Times New Roman line puts its baseline in the text box.
// Held fixed so the figures sit where they should whatever face stands in.
constexpr int kFigureBaseline = 38;

QFont FigureFont(const QStringList& families) {
    QFont f;
    f.setFamilies(families.isEmpty() ? QStringList{"Times New Roman", "Nimbus Roman",
                                                   "Liberation Serif", "DejaVu Serif"}
                                     : families);
    f.setPixelSize(43);
    f.setBold(true);
    return f;
}

// Each figure's box: from its place to the next figure on its row (or the
// panel's edge), as tall as the face reaches below the baseline.
QRect FigureBox(const FigureSpec& s, const QFontMetrics& fm) {
    int right = kWidth;
    for (const FigureSpec& other : kFigures)
        if (other.y == s.y && other.x > s.x) right = std::min(right, other.x);
    const int bottom = std::min(s.y + kFigureBaseline + fm.descent() + 1, kFootPanelsTop);
    return QRect(s.x, s.y, right - s.x, bottom - s.y);
}

// The widest text a figure shows, in this face: its widest digit in every
// digit place and the wider of the two separators.
int WidestAdvance(const FigureSpec& s, const QFontMetrics& fm) {
    int digit = 0;
    for (char d = '0'; d <= '9'; ++d) digit = std::max(digit, fm.horizontalAdvance(QChar(d)));
    const int separator =
        std::max(fm.horizontalAdvance(QChar(',')), fm.horizontalAdvance(QChar('.')));
    int width = 0;
    for (const char* c = s.widest; *c; ++c)
        width += *c == '0' ? digit : *c == ',' ? separator : fm.horizontalAdvance(QChar(*c));
    return width;
}

// The faces that stand in for Times New Roman on a machine without it are
// often wider (DejaVu Serif by a third). Such a face is condensed just
// enough for every figure's widest text to fit its box; a face that fits
// already keeps its own proportions.
QFont FittedFigureFont(QFont f) {
    for (int stretch = 100; stretch > 1;) {
        f.setStretch(stretch);
        const QFontMetrics fm(f);
        int fitting = stretch;
        for (const FigureSpec& s : kFigures) {
            const int need = WidestAdvance(s, fm);
            const int room = FigureBox(s, fm).width();
            if (need > room) fitting = std::min(fitting, stretch * room / need);
        }
        if (fitting == stretch) return f;
        // The face's rounding may leave a pixel over; try again from there.
        stretch = std::min(fitting, stretch - 1);
    }
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

FigureLabel::FigureLabel(DashboardView* panel, QRect textBox, QRect area)
    : QWidget(panel), panel_(panel), textBox_(textBox) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(area);
}

void FigureLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void FigureLabel::SetColour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

QString FigureLabel::text() const {
    panel_->CatchUp();
    return text_;
}

void FigureLabel::paintEvent(QPaintEvent* event) {
    panel_->CatchUp();  // a hidden panel may be drawn into an image
    QPainter p(this);
    p.save();
    p.translate(-pos());
    QColor background;
    const bool plain = panel_->PaintPanel(p, event->rect().translated(pos()), &background);
    p.restore();
    const QPoint origin(0, textBox_.top() + kFigureBaseline - y());
    if (plain && panel_->cells_.Draw(p, origin, text_, colour_, background)) return;
    p.setPen(colour_);
    p.drawText(QPointF(origin), text_);
}

DashboardView::DashboardView(QWidget* parent, const QStringList& figureFamilies) : QWidget(parent) {
    setObjectName("DashboardView");
    setFixedSize(kWidth, kHeight);

    const QFont figureFont = FittedFigureFont(FigureFont(figureFamilies));
    const QFontMetrics figureMetrics(figureFont);
    captionFont_ = CaptionFont();
    captionAscent_ = QFontMetrics(captionFont_).ascent();
    setAutoFillBackground(false);

    const QFontMetrics captionMetrics(captionFont_);
    for (const FigureSpec& s : kFigures) {
        const QString caption = QString::fromUtf8(s.caption);
        // The caption's ink, one pixel to spare.
        const QRect ink = captionMetrics.tightBoundingRect(caption)
                              .translated(s.captionX, s.captionY + captionAscent_)
                              .adjusted(-1, -1, 1, 1);
        captions_.push_back({caption, QPoint(s.captionX, s.captionY), ink});
    }

    for (size_t i = 0; i < kFigures.size(); ++i) {
        const FigureSpec& s = kFigures[i];
        const QRect box = FigureBox(s, figureMetrics);
        // The widget keeps clear of the caption ink above and below its box
        // (the figure's own ink lies between), so a new figure repaints
        // neither the captions nor the panel.
        QRect area = box;
        for (const Caption& c : captions_) {
            if (!c.box.intersects(area)) continue;
            if (c.box.top() < box.top())
                area.setTop(c.box.bottom() + 1);
            else
                area.setBottom(c.box.top() - 1);
        }
        auto* label = new FigureLabel(this, box, area);
        label->setObjectName(s.name);
        label->setFont(figureFont);
        figures_[i] = {label, s.text, {}};
    }

    // The tuning controls at the foot.
    panel1_ = new QFrame(this);
    panel1_->setObjectName("Panel1");
    panel1_->setFrameShape(QFrame::StyledPanel);
    panel1_->setGeometry(4, kFootPanelsTop, 235, 36);
    checkBox_ = new QCheckBox(QString::fromUtf8("настраивать УОЗ"), panel1_);
    checkBox_->setObjectName("CheckBox1");
    checkBox_->move(6, 8);
    checkBox_->adjustSize();
    button_ = new QPushButton(panel1_);
    button_->setObjectName("Button3");
    button_->setGeometry(160, 6, 70, 24);

    panel2_ = new QFrame(this);
    panel2_->setObjectName("Panel2");
    panel2_->setFrameShape(QFrame::StyledPanel);
    panel2_->setGeometry(4, 426, 235, 47);
    auto* group = new QGroupBox(panel2_);
    group->setObjectName("RadioGroup1");
    group->setGeometry(2, 2, 150, 43);
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
    pending_ = Pending{values, sensor, sep};
    if (isVisible()) CatchUp();
}

void DashboardView::CatchUp() {
    if (!pending_) return;
    const Pending p = *pending_;
    pending_.reset();
    const DashboardTexts texts = ComposeDashboardTexts(p.values, p.sensor, p.decimalSeparator);
    for (FigureSlot& f : figures_) {
        const std::string& text = texts.*f.text;
        if (text == f.shown) continue;
        f.shown = text;
        f.label->setText(QString::fromStdString(text));
    }
}

FigureLabel* DashboardView::Figure(const char* objectName) const {
    for (const auto& f : figures_)
        if (f.label->objectName() == QLatin1String(objectName)) return f.label;
    return nullptr;
}

void DashboardView::SetFootPanelsVisible(bool visible) {
    panel1_->setVisible(visible);
    panel2_->setVisible(visible);
}

int DashboardView::TuningModeIndex() const {
    return modes_->checkedId();
}

void DashboardView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    CatchUp();
}

void DashboardView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    PaintPanel(p, event->rect());
}

bool DashboardView::PaintPanel(QPainter& p, const QRect& area, QColor* background) const {
    const QBrush& brush = palette().window();
    p.fillRect(area, brush);
    if (background) *background = brush.color();
    bool plain = brush.style() == Qt::SolidPattern;
    bool fontSet = false;
    for (const Caption& c : captions_) {
        if (!area.intersects(c.box)) continue;
        if (!fontSet) p.save(), p.setFont(captionFont_), p.setPen(Qt::black), fontSet = true;
        p.drawText(QPointF(c.topLeft.x(), c.topLeft.y() + captionAscent_), c.text);
        plain = false;
    }
    if (fontSet) p.restore();
    return plain;
}

void DashboardView::SetStale(bool stale) {
    const QColor colour = stale ? QColor(128, 128, 128) : QColor(0, 128, 0);
    for (const auto& slot : figures_)
        if (slot.label) slot.label->SetColour(colour);
}

}  // namespace korvane::live
