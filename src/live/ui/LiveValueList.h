#pragma once
#include <QWidget>
#include <array>
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

    void Update(const LiveValues& values, OxygenSensor sensor, char decimalSeparator);

    // The value shown for a key ("Обороты", "LC-1", ...); empty if unknown.
    QString ValueOf(const QString& key) const;
    QTableWidget* Grid() const { return grid_; }

  private:
    QTableWidget* grid_ = nullptr;
    std::array<std::string, 10> shown_;
};

}  // namespace korvane::live
