#include "live/ui/StatusBarView.h"

#include <QHelpEvent>
#include <QPaintEvent>
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

QRect CellArea(const StatusCell& cell) {
    return QRect(cell.rect.left, cell.rect.top, cell.rect.right - cell.rect.left,
                 cell.rect.bottom - cell.rect.top);
}

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
    if (panel == 0) {
        // The port cell shows this text too.
        cells_ = ComposeStatusCells(flags_, text.toStdString());
        update();
        return;
    }
    // The tuning counters change with every frame: only their panel.
    update(PanelArea(static_cast<size_t>(panel)));
}

QRect StatusBarView::PanelArea(size_t panel) const {
    const int left = PanelLeft(panel);
    const bool last = panel + 1 == kStatusPanelWidths.size();
    const int width = last ? std::max(kStatusPanelWidths[panel], this->width() - left)
                           : kStatusPanelWidths[panel];
    return QRect(left, 0, width, height());
}

QRect StatusBarView::TextBox(const StatusCell& cell) const {
    return QRect(cell.textX, cell.textY,
                 QFontMetrics(font()).horizontalAdvance(ShownCellText(cell)),
                 QFontMetrics(font()).height());
}

QString StatusBarView::ShownCellText(const StatusCell& cell) const {
    return Elided(QString::fromStdString(cell.text), cell.rect.right - cell.textX);
}

QString StatusBarView::ShownPanelText(int panel) const {
    if (panel < 0 || panel >= static_cast<int>(panelTexts_.size())) return {};
    const QRect whole = PanelArea(static_cast<size_t>(panel));
    // The drawing rectangle of paintEvent: 3 pixels in, 4 short of the edge.
    return Elided(panelTexts_[panel], whole.width() - 2 - 5);
}

QString StatusBarView::Elided(const QString& text, int width) const {
    const QFontMetrics fm(font());
    width = std::max(width, 0);
    const QString middle = fm.elidedText(text, Qt::ElideMiddle, width);
    if (middle.size() > 2 || middle == text) return middle;
    // A cell too narrow for both ends and the ellipsis keeps as much of the
    // start as fits ("ONL"); the tooltip has the whole text.
    QString start;
    for (const QChar c : text) {
        if (fm.horizontalAdvance(start + c) > width) break;
        start += c;
    }
    return start;
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

void StatusBarView::PaintCell(QPainter& painter, const StatusCell& cell, const QRect& area) const {
    const QRect r = CellArea(cell);
    // The text sits on its own box of the fill colour, cut to the cell.
    const QRect box = cell.text.empty() ? QRect() : TextBox(cell);
    const QString text = ShownCellText(cell);
    if (!r.intersects(area) && !box.intersects(area)) return;
    const QColor fill = ToQColor(cell.fill);
    painter.fillRect(r, fill);
    if (text.isEmpty()) return;
    painter.fillRect(box, fill);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

void StatusBarView::paintEvent(QPaintEvent* event) {
    // Only what lies in the repainted area is drawn: a new counter text
    // repaints its own panel and lays out no other text.
    const QRect area = event->rect();
    QPainter painter(this);
    painter.fillRect(area, palette().window());
    painter.setPen(palette().buttonText().color());

    const QColor dark = palette().mid().color();
    const QColor light = palette().light().color();
    for (size_t i = 0; i < kStatusPanelWidths.size(); ++i) {
        const QRect whole = PanelArea(i);
        if (!whole.intersects(area)) continue;
        const QRect panel(whole.left(), 0, whole.width() - 2, height());
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
                             ShownPanelText(static_cast<int>(i)));
    }

    PaintCell(painter, cells_.ecuPort, area);
    PaintCell(painter, cells_.ecuSession, area);
    if (cells_.lambda) PaintCell(painter, *cells_.lambda, area);
}

}  // namespace korvane::live
