#include "live/ui/DiagnosticsView.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include "live/ui/PlainCellDelegate.h"

namespace korvane::live {

namespace {
constexpr int kCaptionWidth = 170;
constexpr int kValueWidth = 60;
constexpr int kRowHeight = 20;
constexpr int kDataRows = kGridRows - 1;  // row 0 is the header

}  // namespace

// Captions and values of rows 1..37 (model rows 0..36).
class DiagnosticsModel : public QAbstractTableModel {
  public:
    explicit DiagnosticsModel(QObject* parent) : QAbstractTableModel(parent) {
        for (int row = 1; row < kGridRows; ++row) {
            const std::string_view c = DiagnosticCaption(row);
            captions_[row - 1] = QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size()));
        }
    }
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kDataRows;
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        const QString& text = index.column() == 0 ? captions_[index.row()] : values_[index.row()];
        if (role == Qt::DisplayRole) return text;
        if (role == Qt::ToolTipRole && index.column() == 0) return text;
        if (role == Qt::ForegroundRole && index.column() == 1 && stale_)
            return QColor(128, 128, 128);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return section == 0 ? QString::fromUtf8("Параметры:") : QString::fromUtf8("Значения:");
    }
    Qt::ItemFlags flags(const QModelIndex&) const override { return Qt::ItemIsEnabled; }

    // Grid row 1..37.
    void SetValue(int gridRow, QString text) {
        const int r = gridRow - 1;
        values_[r] = std::move(text);
        changedFirst_ = std::min(changedFirst_, r);
        changedLast_ = std::max(changedLast_, r);
    }
    // Values no longer live are shown in grey.
    void SetStale(bool stale) {
        if (stale == stale_) return;
        stale_ = stale;
        emit dataChanged(index(0, 1), index(kDataRows - 1, 1), {Qt::ForegroundRole});
    }
    void Publish() {
        if (changedLast_ < 0) return;
        emit dataChanged(index(changedFirst_, 1), index(changedLast_, 1), {Qt::DisplayRole});
        changedFirst_ = kDataRows;
        changedLast_ = -1;
    }

  private:
    bool stale_ = false;
    std::array<QString, kDataRows> captions_;
    std::array<QString, kDataRows> values_;
    int changedFirst_ = kDataRows;
    int changedLast_ = -1;
};

DiagnosticsView::DiagnosticsView(QWidget* parent) : QWidget(parent) {
    setObjectName("DiagnosticsView");
    setFixedSize(240, 428);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    model_ = new DiagnosticsModel(this);
    grid_ = new QTableView(this);
    grid_->setObjectName("StringGrid1");
    grid_->setModel(model_);
    grid_->setItemDelegate(new PlainCellDelegate(grid_));
    layout->addWidget(grid_);
    QHeaderView* header = grid_->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setHighlightSections(false);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grid_->setColumnWidth(0, kCaptionWidth);
    grid_->setColumnWidth(1, kValueWidth);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::NoSelection);
    grid_->setFocusPolicy(Qt::NoFocus);
    grid_->setWordWrap(false);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

DiagnosticsView::~DiagnosticsView() = default;

void DiagnosticsView::Update(const LiveValues& values, const TickOutcome& tick, char sep) {
    if (!tick.frameDecoded) return;
    std::optional<double> row5 = tick.correctionRow;
    if (!row5 && pending_) row5 = pending_->tick.correctionRow;
    pending_ = Pending{values, tick, sep};
    pending_->tick.correctionRow = row5;
    if (isVisible()) CatchUp();
}

void DiagnosticsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    CatchUp();
}

void DiagnosticsView::CatchUp() const {
    if (!pending_) return;
    const Pending p = *pending_;
    pending_.reset();
    const GridTexts texts = ComposeGridTexts(p.values, p.tick, p.decimalSeparator);
    for (int row = 1; row < kGridRows; ++row) {
        if (!texts[row] || *texts[row] == shown_[row]) continue;
        shown_[row] = *texts[row];
        model_->SetValue(row, QString::fromStdString(shown_[row]));
    }
    model_->Publish();
}

QString DiagnosticsView::CellText(int column, int row) const {
    CatchUp();
    if (column < 0 || column > 1) return {};
    if (row == 0) return model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    if (row < 1 || row > model_->rowCount({})) return {};
    return model_->index(row - 1, column).data().toString();
}

void DiagnosticsView::SetStale(bool stale) {
    model_->SetStale(stale);
}

}  // namespace korvane::live
