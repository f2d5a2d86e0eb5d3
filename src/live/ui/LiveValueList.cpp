#include "live/ui/LiveValueList.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "live/Trend.h"
#include "live/ui/PlainCellDelegate.h"

namespace korvane::live {

LiveValueList::LiveValueList(QWidget* parent) : QWidget(parent) {
    setObjectName("ValueListEditor2");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    grid_ = new QTableWidget(static_cast<int>(kValueListKeys.size()), 2, this);
    layout->addWidget(grid_);
    grid_->setHorizontalHeaderLabels(
        {QString::fromUtf8("Параметры"), QString::fromUtf8("Значения")});
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(18);
    grid_->setColumnWidth(0, 125);
    grid_->setColumnWidth(1, 97);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setFocusPolicy(Qt::NoFocus);
    grid_->setItemDelegate(new PlainCellDelegate(grid_));
    for (int row = 0; row < grid_->rowCount(); ++row) {
        const std::string_view key = kValueListKeys[row];
        auto* k = new QTableWidgetItem(QString::fromUtf8(key.data(), static_cast<int>(key.size())));
        k->setFlags(Qt::ItemIsEnabled);
        grid_->setItem(row, 0, k);
        auto* v = new QTableWidgetItem;
        v->setFlags(Qt::ItemIsEnabled);
        grid_->setItem(row, 1, v);
    }
    // All ten rows in view, no scroll bar.
    const int frame = 2 * grid_->frameWidth();
    resize(243, grid_->horizontalHeader()->sizeHint().height() + 18 * grid_->rowCount() + frame);
}

void LiveValueList::Update(const LiveValues& values, OxygenSensor sensor, char sep) {
    pending_ = Pending{values, sensor, sep};
    if (isVisible()) CatchUp();
}

void LiveValueList::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    CatchUp();
}

void LiveValueList::CatchUp() const {
    if (!pending_) return;
    const Pending p = *pending_;
    pending_.reset();
    const auto texts = ComposeValueList(p.values, p.sensor, p.decimalSeparator);
    // One repaint over the changed values: a repaint per cell would draw
    // each neighbour cell again with it.
    QRect changed;
    {
        const QSignalBlocker quiet(grid_->model());
        for (size_t row = 0; row < texts.size(); ++row) {
            if (texts[row] == shown_[row]) continue;
            shown_[row] = texts[row];
            QTableWidgetItem* item = grid_->item(static_cast<int>(row), 1);
            item->setText(QString::fromStdString(shown_[row]));
            changed |= grid_->visualItemRect(item);
        }
    }
    if (!changed.isNull()) grid_->viewport()->update(changed);
}

QString LiveValueList::ValueOf(const QString& key) const {
    CatchUp();
    for (int row = 0; row < grid_->rowCount(); ++row)
        if (grid_->item(row, 0)->text() == key) return grid_->item(row, 1)->text();
    return {};
}

}  // namespace korvane::live
