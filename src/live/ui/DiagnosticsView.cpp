#include "live/ui/DiagnosticsView.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace korvane::live {

namespace {
constexpr int kCaptionWidth = 170;
constexpr int kValueWidth = 60;
constexpr int kRowHeight = 20;
}  // namespace

DiagnosticsView::DiagnosticsView(QWidget* parent) : QWidget(parent) {
    setObjectName("Paneldia");
    setFixedSize(240, 428);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    // Row 0 of the grid is the table's header; rows 1..37 are its rows.
    grid_ = new QTableWidget(kGridRows - 1, 2, this);
    grid_->setObjectName("StringGrid1");
    layout->addWidget(grid_);
    grid_->setHorizontalHeaderLabels(
        {QString::fromUtf8("Параметры:"), QString::fromUtf8("Значения:")});
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->horizontalHeader()->setHighlightSections(false);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid_->setColumnWidth(0, kCaptionWidth);
    grid_->setColumnWidth(1, kValueWidth);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setFocusPolicy(Qt::NoFocus);
    grid_->setWordWrap(false);
    grid_->setTextElideMode(Qt::ElideNone);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // The caption column is fixed, drawn like the header.
    const QBrush fixed = palette().button();
    for (int row = 1; row < kGridRows; ++row) {
        auto* caption = new QTableWidgetItem(QString::fromUtf8(DiagnosticCaption(row).data(),
                                                               DiagnosticCaption(row).size()));
        caption->setFlags(Qt::ItemIsEnabled);
        caption->setBackground(fixed);
        caption->setToolTip(caption->text());
        grid_->setItem(row - 1, 0, caption);
        auto* value = new QTableWidgetItem;
        value->setFlags(Qt::ItemIsEnabled);
        grid_->setItem(row - 1, 1, value);
    }
}

void DiagnosticsView::Update(const LiveValues& values, const TickOutcome& tick, char sep) {
    if (!tick.frameDecoded) return;
    const GridTexts texts = ComposeGridTexts(values, tick, sep);
    for (int row = 1; row < kGridRows; ++row) {
        if (!texts[row] || *texts[row] == shown_[row]) continue;
        shown_[row] = *texts[row];
        grid_->item(row - 1, 1)->setText(QString::fromStdString(shown_[row]));
    }
}

QString DiagnosticsView::CellText(int column, int row) const {
    if (column < 0 || column > 1) return {};
    if (row == 0) return grid_->horizontalHeaderItem(column)->text();
    if (row < 1 || row > grid_->rowCount()) return {};
    return grid_->item(row - 1, column)->text();
}

}  // namespace korvane::live
