#pragma once
#include <QPainter>
#include <QStyledItemDelegate>

namespace korvane::live {

// Plain text on a plain cell, the first column shaded as a fixed column and
// the second holding values. The style's full item painting costs several
// times more, and the live grids repaint many values a second.
class PlainCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString text = index.data().toString();
        p->setPen(option.palette.text().color());
        if (index.column() == 0) {
            p->fillRect(option.rect, option.palette.button());
            // Captions that differ only at their end ("Скорость вращения
            // двигателя", "… на ХХ") stay apart when cut in the middle.
            const QRect r = option.rect.adjusted(3, 0, -2, 0);
            p->drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                        option.fontMetrics.elidedText(text, Qt::ElideMiddle, r.width()));
            return;
        }
        // Values repaint often: draw at a baseline, which skips the line
        // layout; the last column has nothing to its right to spill into.
        const QFontMetrics& fm = option.fontMetrics;
        const int baseline =
            option.rect.top() + (option.rect.height() + fm.ascent() - fm.descent()) / 2;
        p->drawText(QPoint(option.rect.left() + 3, baseline), text);
    }
};

}  // namespace korvane::live
