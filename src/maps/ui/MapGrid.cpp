#include "maps/ui/MapGrid.h"

#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "platform/qt/QtText.h"

namespace korvane::maps {

using platform::Q;

QColor ValueColour(double value, double lowest, double highest) {
    const double t =
        highest > lowest ? std::clamp((value - lowest) / (highest - lowest), 0.0, 1.0) : 0.5;
    // Hue 240 (blue) through green and yellow to 0 (red), light enough for
    // black figures.
    return QColor::fromHsvF(static_cast<float>((1.0 - t) * 240.0 / 360.0), 0.45f, 1.0f);
}

const QPixmap& LiveDot() {
    static const QPixmap dot = [] {
        QPixmap pm(10, 10);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1.5));
        p.setBrush(QColor(20, 20, 20));
        p.drawEllipse(QRectF(1, 1, 8, 8));
        return pm;
    }();
    return dot;
}

MapGrid::MapGrid(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MapGrid"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont f = font();
    f.setPointSizeF(7);
    setFont(f);
}

void MapGrid::SetEditor(Map3dEditor* editor) {
    // A value typed into the table left behind is not applied.
    if (typing_) typing_->hide();
    editor_ = editor;
    live_.reset();
    anchorX_ = anchorY_ = currentX_ = currentY_ = 0;
    if (editor_) editor_->Select(0, 0, 0, 0);
    Layout();
    Refresh();
}

void MapGrid::SetConfirmed(std::vector<bool> confirmed) {
    confirmed_ = std::move(confirmed);
    Invalidate();
}

void MapGrid::SetReference(const std::vector<uint8_t>* baseline,
                           const std::vector<uint8_t>* other) {
    baseline_ = baseline;
    other_ = other;
    Invalidate();
}

void MapGrid::Layout() {
    if (!editor_) return;
    const auto& l = editor_->Layout();
    cellW_ = std::max(26, (width() - headerW_ - 1) / l.nx);
    cellH_ = std::max(15, (height() - headerH_ - 1) / l.ny);
}

void MapGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
    Invalidate();
}

void MapGrid::Invalidate() {
    cacheDirty_ = true;
    update();
}

void MapGrid::Refresh() {
    colours_.clear();
    texts_.clear();
    if (editor_) {
        const auto& l = editor_->Layout();
        std::vector<double> values;
        values.reserve(static_cast<size_t>(l.Cells()));
        for (int y = 0; y < l.ny; ++y)
            for (int x = 0; x < l.nx; ++x) values.push_back(editor_->Value(x, y));
        const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
        for (double v : values) {
            colours_.push_back(ValueColour(v, *lo, *hi));
            texts_.push_back(Q(editor_->Format(v)));
        }
    }
    Invalidate();
}

QRect MapGrid::CellBox(int x, int y) const {
    return {headerW_ + x * cellW_, headerH_ + y * cellH_, cellW_, cellH_};
}

std::pair<int, int> MapGrid::CellAt(QPoint p) const {
    const int x = p.x() < headerW_ ? -1 : (p.x() - headerW_) / cellW_;
    const int y = p.y() < headerH_ ? -1 : (p.y() - headerH_) / cellH_;
    return {x, y};
}

QRect MapGrid::LiveRect(const LivePoint& p) const {
    // The cells around the point and the point itself, with room for the
    // frame's width.
    const int x0 = static_cast<int>(std::floor(p.x)), y0 = static_cast<int>(std::floor(p.y));
    return CellBox(x0, y0).united(CellBox(x0 + 1, y0 + 1)).adjusted(-3, -3, 3, 3);
}

void MapGrid::SetLivePoint(std::optional<LivePoint> point) {
    if (point == live_) return;
    // Only the cells the point leaves and reaches are painted again.
    if (live_) update(LiveRect(*live_));
    live_ = point;
    if (live_) update(LiveRect(*live_));
}

void MapGrid::PaintBase(QPainter& p) {
    const QRect dirty = rect();
    p.fillRect(dirty, palette().window());
    if (!editor_) return;
    const auto& l = editor_->Layout();
    const maps::CellRect& sel = editor_->Selection();
    const QColor header(232, 232, 232);
    p.setPen(Qt::black);
    for (int x = 0; x < l.nx; ++x) {
        const QRect r(headerW_ + x * cellW_, 0, cellW_, headerH_);
        if (!r.intersects(dirty)) continue;
        const bool selected = x >= sel.x0 && x <= sel.x1;
        p.fillRect(r, selected ? QColor(200, 210, 235) : header);
        p.setPen(QColor(160, 160, 160));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(r, Qt::AlignCenter, Q(editor_->Format(l.XAt(x))));
    }
    for (int y = 0; y < l.ny; ++y) {
        const QRect r(0, headerH_ + y * cellH_, headerW_, cellH_);
        if (!r.intersects(dirty)) continue;
        const bool selected = y >= sel.y0 && y <= sel.y1;
        p.fillRect(r, selected ? QColor(200, 210, 235) : header);
        p.setPen(QColor(160, 160, 160));
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.setPen(Qt::black);
        p.drawText(r.adjusted(2, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter,
                   Q(editor_->Format(l.YAt(y))));
    }
    const int x0 = std::max(0, (dirty.left() - headerW_) / cellW_);
    const int y0 = std::max(0, (dirty.top() - headerH_) / cellH_);
    const int x1 = std::min(l.nx - 1, (dirty.right() - headerW_) / cellW_);
    const int y1 = std::min(l.ny - 1, (dirty.bottom() - headerH_) / cellH_);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const QRect r = CellBox(x, y);
            const size_t k = static_cast<size_t>(y * l.nx + x);
            const bool selected = sel.Contains(x, y);
            QColor c = k < colours_.size() ? colours_[k] : Qt::white;
            if (selected) c = c.darker(135);
            p.fillRect(r, c);
            p.setPen(QColor(150, 150, 150));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            const size_t at = l.Offset(x, y);
            const uint8_t now = Map3dLayout::ByteOf(editor_->Raw(x, y));
            if (baseline_ && (*baseline_)[at] != now) {
                const QPointF tri[] = {QPointF(r.left(), r.top()), QPointF(r.left() + 6, r.top()),
                                       QPointF(r.left(), r.top() + 6)};
                p.setPen(Qt::NoPen);
                const bool confirmed = at < confirmed_.size() && confirmed_[at];
                p.setBrush(confirmed ? QColor(0, 150, 0) : QColor(Qt::black));
                p.drawPolygon(tri, 3);
                p.setBrush(Qt::NoBrush);
            }
            if (other_ && (*other_)[at] != now) {
                p.setPen(QPen(QColor(150, 0, 200), 2));
                p.drawRect(r.adjusted(1, 1, -2, -2));
            }
            p.setPen(selected ? Qt::white : Qt::black);
            if (k < texts_.size()) p.drawText(r.adjusted(1, 0, -2, 0), Qt::AlignCenter, texts_[k]);
        }
    // The selection's outline.
    const QRect selRect = CellBox(sel.x0, sel.y0).united(CellBox(sel.x1, sel.y1));
    if (selRect.intersects(dirty)) {
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(selRect.adjusted(1, 1, -1, -1));
    }
}

void MapGrid::paintEvent(QPaintEvent* event) {
    if (cacheDirty_ || cache_.size() != size()) {
        cache_ = QPixmap(size());
        QPainter base(&cache_);
        PaintBase(base);
        cacheDirty_ = false;
    }
    QPainter p(this);
    p.drawPixmap(event->rect(), cache_, event->rect());
    if (!editor_) return;
    const auto& l = editor_->Layout();
    if (live_) {
        const int lx = static_cast<int>(std::floor(live_->x)),
                  ly = static_cast<int>(std::floor(live_->y));
        const int hx = std::min(lx + 1, l.nx - 1), hy = std::min(ly + 1, l.ny - 1);
        const QRect frame = CellBox(lx, ly).united(CellBox(hx, hy));
        // Filled strips: a wide or dashed pen goes through the stroker,
        // which costs more than the rest of the tick's drawing here.
        auto frameOf = [&p](const QRect& r, int w, const QColor& c) {
            p.fillRect(r.left(), r.top(), r.width(), w, c);
            p.fillRect(r.left(), r.bottom() - w + 1, r.width(), w, c);
            p.fillRect(r.left(), r.top(), w, r.height(), c);
            p.fillRect(r.right() - w + 1, r.top(), w, r.height(), c);
        };
        frameOf(frame, 2, Qt::black);
        frameOf(frame.adjusted(2, 2, -2, -2), 1, Qt::white);
        const QPoint centre(headerW_ + static_cast<int>((live_->x + 0.5) * cellW_),
                            headerH_ + static_cast<int>((live_->y + 0.5) * cellH_));
        p.drawPixmap(centre - QPoint(5, 5), LiveDot());
    }
}

void MapGrid::mousePressEvent(QMouseEvent* event) {
    if (!editor_) return;
    FinishTyping();
    setFocus();
    const auto& l = editor_->Layout();
    const auto [x, y] = CellAt(event->position().toPoint());
    if (x >= l.nx || y >= l.ny) return;
    if (x < 0 && y < 0) {
        editor_->SelectAll();
    } else if (x < 0) {
        editor_->Select(0, y, l.nx - 1, y);  // a whole row by its header
        anchorX_ = 0, anchorY_ = currentY_ = y, currentX_ = l.nx - 1;
    } else if (y < 0) {
        editor_->Select(x, 0, x, l.ny - 1);
        anchorY_ = 0, anchorX_ = currentX_ = x, currentY_ = l.ny - 1;
    } else {
        if (!(event->modifiers() & Qt::ShiftModifier)) anchorX_ = x, anchorY_ = y;
        currentX_ = x, currentY_ = y;
        editor_->Select(anchorX_, anchorY_, x, y);
        dragging_ = true;
    }
    Invalidate();
    if (onSelectionChanged) onSelectionChanged();
}

void MapGrid::mouseMoveEvent(QMouseEvent* event) {
    if (!editor_ || !dragging_ || !(event->buttons() & Qt::LeftButton)) return;
    const auto& l = editor_->Layout();
    auto [x, y] = CellAt(event->position().toPoint());
    x = std::clamp(x, 0, l.nx - 1), y = std::clamp(y, 0, l.ny - 1);
    if (x == currentX_ && y == currentY_) return;
    currentX_ = x, currentY_ = y;
    editor_->Select(anchorX_, anchorY_, x, y);
    Invalidate();
    if (onSelectionChanged) onSelectionChanged();
}

void MapGrid::MoveCurrent(int dx, int dy, bool extend) {
    const auto& l = editor_->Layout();
    currentX_ = std::clamp(currentX_ + dx, 0, l.nx - 1);
    currentY_ = std::clamp(currentY_ + dy, 0, l.ny - 1);
    if (!extend) anchorX_ = currentX_, anchorY_ = currentY_;
    editor_->Select(anchorX_, anchorY_, currentX_, currentY_);
    Invalidate();
    if (onSelectionChanged) onSelectionChanged();
}

void MapGrid::Run(const std::function<EditResult(Map3dEditor&)>& op) {
    if (!editor_) return;
    const EditResult r = op(*editor_);
    if (r.changed > 0) Refresh();
    if (onEdited) onEdited(r);
}

void MapGrid::keyPressEvent(QKeyEvent* event) {
    if (!editor_) return QWidget::keyPressEvent(event);
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool keypad = event->modifiers() & Qt::KeypadModifier;
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(Q(editor_->Copy()));
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        const std::string text = QApplication::clipboard()->text().toStdString();
        return Run([&](Map3dEditor& e) { return e.Paste(text); });
    }
    if (event->matches(QKeySequence::SelectAll)) {
        editor_->SelectAll();
        Invalidate();
        if (onSelectionChanged) onSelectionChanged();
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
            return MoveCurrent(-1, 0, shift);
        case Qt::Key_Right:
            return MoveCurrent(1, 0, shift);
        case Qt::Key_Up:
            return MoveCurrent(0, -1, shift);
        case Qt::Key_Down:
            return MoveCurrent(0, 1, shift);
        // "=" and "-" are one raw step; with Shift ("+", "_" on the main
        // keys, or Shift on the keypad) a tenth of the range.
        case Qt::Key_Equal:
            return Run([](Map3dEditor& e) { return e.Step(true, false); });
        case Qt::Key_Plus:
            return Run([&](Map3dEditor& e) { return e.Step(true, !keypad || shift); });
        case Qt::Key_Minus:
            return Run([&](Map3dEditor& e) { return e.Step(false, keypad && shift); });
        case Qt::Key_Underscore:
            return Run([](Map3dEditor& e) { return e.Step(false, true); });
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_F2:
            return StartTyping(QString());
        default:
            break;
    }
    const QString text = event->text();
    if (text.size() == 1 &&
        (text[0].isDigit() || text[0] == QLatin1Char(',') || text[0] == QLatin1Char('.')))
        return StartTyping(text);
    QWidget::keyPressEvent(event);
}

void MapGrid::StartTyping(const QString& first) {
    if (!typing_) {
        typing_ = new QLineEdit(this);
        typing_->setObjectName(QStringLiteral("MapGridEdit"));
        connect(typing_, &QLineEdit::returnPressed, this, [this] { FinishTyping(); });
    }
    typing_->setGeometry(CellBox(currentX_, currentY_).adjusted(-8, -2, 8, 2));
    typing_->setText(first.isEmpty() ? Q(editor_->Text(currentX_, currentY_)) : first);
    typing_->show();
    typing_->setFocus();
    if (first.isEmpty()) typing_->selectAll();
}

void MapGrid::FinishTyping() {
    if (!typing_ || !typing_->isVisible()) return;
    const std::string text = typing_->text().toStdString();
    typing_->hide();
    setFocus();
    if (!editor_ || text.empty()) return;
    const auto v = ParseNumber(text);
    if (!v) {
        EditResult r;
        r.refused = true;
        r.log.push_back("«" + editor_->Layout().name + "»: «" + text +
                        "» не является числом. Ничего не изменено.");
        if (onEdited) onEdited(r);
        return;
    }
    Run([&](Map3dEditor& e) { return e.SetValue(static_cast<double>(*v)); });
}

bool MapGrid::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Escape leaves the typed value unused.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && typing_ && typing_->isVisible()) {
            typing_->hide();
            return true;
        }
    }
    if (event->type() == QEvent::ToolTip && editor_) {
        auto* help = static_cast<QHelpEvent*>(event);
        const auto [x, y] = CellAt(help->pos());
        const auto& l = editor_->Layout();
        if (x >= 0 && y >= 0 && x < l.nx && y < l.ny) {
            QString tip =
                QStringLiteral("%1 = %2, %3 = %4: %5")
                    .arg(Q(l.xCaption.empty() ? "X" : l.xCaption), Q(editor_->Format(l.XAt(x))),
                         Q(l.yCaption.empty() ? "Y" : l.yCaption), Q(editor_->Format(l.YAt(y))),
                         Q(editor_->Text(x, y)));
            if (other_) {
                const double o = editor_->Map().Value(l.RawOf((*other_)[l.Offset(x, y)]));
                tip +=
                    QStringLiteral("\nВ образе для сравнения: %1, разница %2")
                        .arg(Q(editor_->Format(o)), Q(editor_->Format(editor_->Value(x, y) - o)));
            }
            QToolTip::showText(help->globalPos(), tip, this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace korvane::maps
