#pragma once
#include <QWidget>
#include <array>
#include <optional>
#include <string>

#include "live/LiveTick.h"
#include "live/LiveValues.h"

class QTableWidget;

namespace korvane::live {

// The short list of live values beside the map tree: ten keys, their values
// refreshed with each trend update.
class LiveValueList : public QWidget {
    Q_OBJECT
  public:
    explicit LiveValueList(QWidget* parent);

    // Out of sight the list only keeps the values; its cells take them when
    // it is shown or read.
    void Update(const LiveValues& values, OxygenSensor sensor, char decimalSeparator);

    // The value shown for a key ("Обороты", "LC-1", ...); empty if unknown.
    QString ValueOf(const QString& key) const;
    QTableWidget* Grid() const { return grid_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Brings the cells up to the last values given.
    void CatchUp() const;

    QTableWidget* grid_ = nullptr;
    mutable std::array<std::string, 10> shown_;
    struct Pending {
        LiveValues values;
        OxygenSensor sensor;
        char decimalSeparator;
    };
    mutable std::optional<Pending> pending_;
};

}  // namespace korvane::live
