#pragma once
#include <QPainter>
#include <QStyledItemDelegate>

namespace korvane::live {

// Plain text on a plain cell, the first column shaded as a fixed column. The
// style's full item painting costs several times more, and the live grids
// repaint many values a second.
class PlainCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.column() == 0) p->fillRect(option.rect, option.palette.button());
        p->setPen(option.palette.text().color());
        p->drawText(option.rect.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    index.data().toString());
    }
};

}  // namespace korvane::live
