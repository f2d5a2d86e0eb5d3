#include "live/ui/StatusBarView.h"

#include <QHelpEvent>
#include <QPainter>
#include <QProgressBar>
#include <QToolTip>

namespace korvane::live {

namespace {

QColor ToQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// Left edge of a panel in bar pixels.
int PanelLeft(size_t panel) {
    int x = 0;
    for (size_t i = 0; i < panel; ++i) x += kStatusPanelWidths[i];
    return x;
}

constexpr size_t kProgressPanel = 3;

}  // namespace

StatusBarView::StatusBarView(QWidget* parent) : QWidget(parent) {
    setObjectName("StatusBar");
    setFixedHeight(kStatusBarHeight);
    QFont f;
    f.setFamilies({"Tahoma", "Nimbus Sans", "DejaVu Sans"});
    f.setPixelSize(11);
    setFont(f);

    progress_ = new QProgressBar(this);
    progress_->setObjectName("StatusProgressBar");
    progress_->setTextVisible(false);
    progress_->setGeometry(PanelLeft(kProgressPanel), 2, kStatusPanelWidths[kProgressPanel],
                           kStatusBarHeight - 2);
    progress_->hide();

    cells_ = ComposeStatusCells(flags_, {});
}

QSize StatusBarView::sizeHint() const {
    return {PanelLeft(kStatusPanelWidths.size()), kStatusBarHeight};
}

void StatusBarView::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= static_cast<int>(panelTexts_.size())) return;
    if (panelTexts_[panel] == text) return;
    panelTexts_[panel] = text;
    if (panel == 0) cells_ = ComposeStatusCells(flags_, text.toStdString());
    update();
}

QString StatusBarView::PanelText(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(panelTexts_.size())) return {};
    return panelTexts_[panel];
}

void StatusBarView::ShowLinkState(const LinkFlags& flags) {
    if (flags == flags_) return;
    flags_ = flags;
    StatusCells cells = ComposeStatusCells(flags_, panelTexts_[0].toStdString());
    if (cells == cells_) return;
    cells_ = std::move(cells);
    update();
}

QString StatusBarView::ToolTipAt(QPoint pos) const {
    auto inside = [pos](const CellRect& r) {
        return pos.x() >= r.left && pos.x() < r.right && pos.y() >= 0 && pos.y() < r.bottom;
    };
    if (cells_.lambda && inside(cells_.lambda->rect))
        return QString::fromStdString(cells_.lambda->text);
    if (inside(cells_.ecuSession.rect)) return QString::fromStdString(cells_.ecuSession.text);
    if (inside(cells_.ecuPort.rect)) return QString::fromStdString(cells_.ecuPort.text);
    for (size_t i = 0; i < kStatusPanelWidths.size(); ++i) {
        const int left = PanelLeft(i);
        const bool last = i + 1 == kStatusPanelWidths.size();
        if (i != kProgressPanel && pos.x() >= left &&
            (last || pos.x() < left + kStatusPanelWidths[i]))
            return panelTexts_[i];
    }
    return {};
}

bool StatusBarView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

void StatusBarView::PaintCell(QPainter& painter, const StatusCell& cell) const {
    const QRect r(cell.rect.left, cell.rect.top, cell.rect.right - cell.rect.left,
                  cell.rect.bottom - cell.rect.top);
    const QColor fill = ToQColor(cell.fill);
    painter.fillRect(r, fill);
    if (cell.text.empty()) return;
    // The text sits on its own box of the fill colour and may run past the
    // cell, as a port name longer than the cell does.
    const QString text = QString::fromStdString(cell.text);
    const QFontMetrics fm(font());
    const QRect box(cell.textX, cell.textY, fm.horizontalAdvance(text), fm.height());
    painter.fillRect(box, fill);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

void StatusBarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().buttonText().color());

    const QColor dark = palette().mid().color();
    const QColor light = palette().light().color();
    for (size_t i = 0; i < kStatusPanelWidths.size(); ++i) {
        const int left = PanelLeft(i);
        const bool last = i + 1 == kStatusPanelWidths.size();
        const int width =
            last ? std::max(kStatusPanelWidths[i], this->width() - left) : kStatusPanelWidths[i];
        const QRect panel(left, 0, width - 2, height());
        // Sunken panel edge.
        painter.setPen(dark);
        painter.drawLine(panel.topLeft(), panel.topRight());
        painter.drawLine(panel.topLeft(), panel.bottomLeft());
        painter.setPen(light);
        painter.drawLine(panel.bottomLeft(), panel.bottomRight());
        painter.drawLine(panel.topRight(), panel.bottomRight());
        painter.setPen(palette().buttonText().color());
        if (i != kProgressPanel && !panelTexts_[i].isEmpty())
            painter.drawText(panel.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             panelTexts_[i]);
    }

    PaintCell(painter, cells_.ecuPort);
    PaintCell(painter, cells_.ecuSession);
    if (cells_.lambda) PaintCell(painter, *cells_.lambda);
}

}  // namespace korvane::live
