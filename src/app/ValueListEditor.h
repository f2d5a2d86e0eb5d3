#pragma once
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/SettingsStore.h"

namespace korvane::app {

// The settings grid: one row per line of the store, key and value columns.
// Keys with a pick list offer their choices in a drop-down that still takes
// typed text. Rows can be appended (Insert, or Down on the last row) but not
// deleted; a key typed twice is refused.
class ValueListEditor final : public QTableWidget {
    Q_OBJECT
  public:
    ValueListEditor(SettingsStore& store, QWidget* parent);

    void Reload();
    void SetPickList(const std::string& key, const std::vector<std::string>& choices);
    std::vector<std::string> PickListOf(const std::string& key) const;
    void AppendRow();
    // Called with a message when an edit is refused (duplicate key).
    std::function<void(const QString&)> onRefused;

    // The key column's width: its longest key, or wrapped keys where that
    // would leave the values too little room.
    void FitKeyColumn();
    static constexpr int kMinValueWidth = 70;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnItemChanged(QTableWidgetItem* item);

    SettingsStore& store_;
    std::vector<PickList> pickLists_;
    bool loading_ = false;
};

}  // namespace korvane::app
