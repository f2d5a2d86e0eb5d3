#include "app/ValueListEditor.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>

namespace korvane::app {

namespace {

class PickListDelegate final : public QStyledItemDelegate {
  public:
    explicit PickListDelegate(ValueListEditor* editor)
        : QStyledItemDelegate(editor), editor_(editor) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        // Keys wrap; a value (a port path) stays on its line, cut in the
        // middle, with its tooltip.
        if (index.column() == 1) option->features &= ~QStyleOptionViewItem::WrapText;
    }

  public:
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (index.column() == 1) {
            const auto key = editor_->item(index.row(), 0);
            const auto choices =
                editor_->PickListOf(key ? key->text().toStdString() : std::string());
            if (!choices.empty()) {
                auto* box = new QComboBox(parent);
                box->setEditable(true);
                box->setInsertPolicy(QComboBox::NoInsert);
                for (const auto& c : choices) box->addItem(QString::fromStdString(c));
                return box;
            }
        }
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setEditorData(QWidget* w, const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            box->setEditText(index.data(Qt::EditRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(w, index);
    }
    void setModelData(QWidget* w, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            model->setData(index, box->currentText(), Qt::EditRole);
            return;
        }
        QStyledItemDelegate::setModelData(w, model, index);
    }

  private:
    ValueListEditor* editor_;
};

}  // namespace

ValueListEditor::ValueListEditor(SettingsStore& store, QWidget* parent)
    : QTableWidget(parent), store_(store) {
    setColumnCount(2);
    setHorizontalHeaderLabels({QStringLiteral("Параметры"), QStringLiteral("Значения")});
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setStretchLastSection(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setItemDelegate(new PickListDelegate(this));
    // Keys that differ only at their end ("Стационарность по …") stay
    // apart when cut in the middle; the tooltip shows the whole key.
    setTextElideMode(Qt::ElideMiddle);
    setWordWrap(true);
    // The key column makes room for the values: nothing to scroll sideways.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QTableWidget::itemChanged, this, &ValueListEditor::OnItemChanged);
    Reload();
}

void ValueListEditor::Reload() {
    loading_ = true;
    setRowCount(static_cast<int>(store_.Count()));
    for (size_t i = 0; i < store_.Count(); ++i) {
        const QString key =
            QString::fromStdString(store_.HasSeparator(i) ? store_.KeyAt(i) : store_.Line(i));
        auto* keyItem = new QTableWidgetItem(key);
        keyItem->setToolTip(key);
        setItem(static_cast<int>(i), 0, keyItem);
        const QString value = QString::fromStdString(store_.ValueAt(i));
        auto* valueItem = new QTableWidgetItem(value);
        valueItem->setToolTip(value);
        setItem(static_cast<int>(i), 1, valueItem);
    }
    FitKeyColumn();
    loading_ = false;
}

void ValueListEditor::FitKeyColumn() {
    // The key column takes its longest key, leaving the values at least a
    // short number's room; a key longer than that wraps onto a second line.
    const int room = viewport()->width() > 100 ? viewport()->width() : width() - 20;
    const int widest = sizeHintForColumn(0) + 6;
    setColumnWidth(0, std::clamp(widest, 60, std::max(60, room - kMinValueWidth)));
    resizeRowsToContents();
}

void ValueListEditor::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    FitKeyColumn();
}

void ValueListEditor::SetPickList(const std::string& key, const std::vector<std::string>& choices) {
    for (auto& pl : pickLists_) {
        if (SameKey(pl.key, key)) {
            pl.choices = choices;
            return;
        }
    }
    pickLists_.push_back({key, choices});
}

std::vector<std::string> ValueListEditor::PickListOf(const std::string& key) const {
    for (const auto& pl : pickLists_)
        if (SameKey(pl.key, key)) return pl.choices;
    return {};
}

void ValueListEditor::AppendRow() {
    store_.AppendLine("=");
    loading_ = true;
    const int row = rowCount();
    insertRow(row);
    setItem(row, 0, new QTableWidgetItem());
    setItem(row, 1, new QTableWidgetItem());
    loading_ = false;
    setCurrentCell(row, 0);
}

void ValueListEditor::keyPressEvent(QKeyEvent* event) {
    if (isEnabled() && (event->key() == Qt::Key_Insert ||
                        (event->key() == Qt::Key_Down && currentRow() == rowCount() - 1))) {
        AppendRow();
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() & Qt::ControlModifier) return;
    QTableWidget::keyPressEvent(event);
}

void ValueListEditor::OnItemChanged(QTableWidgetItem* item) {
    if (loading_) return;
    const size_t row = static_cast<size_t>(item->row());
    if (row >= store_.Count()) return;
    const std::string text = item->text().toStdString();
    if (item->column() == 0) {
        if (store_.FindOtherKey(text, row) >= 0) {
            loading_ = true;
            item->setText(QString::fromStdString(store_.HasSeparator(row) ? store_.KeyAt(row)
                                                                          : store_.Line(row)));
            loading_ = false;
            if (onRefused)
                onRefused(QStringLiteral("Параметр «%1» уже есть в списке.")
                              .arg(QString::fromStdString(text)));
            return;
        }
        store_.SetKeyAt(row, text);
        loading_ = true;
        item->setToolTip(item->text());
        loading_ = false;
    } else {
        store_.SetValueAt(row, text);
        loading_ = true;
        item->setToolTip(item->text());
        loading_ = false;
    }
}

}  // namespace korvane::app
