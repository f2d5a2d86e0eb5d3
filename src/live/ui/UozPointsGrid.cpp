#include "live/ui/UozPointsGrid.h"

#include <QHeaderView>

namespace korvane::live {

UozPointsGrid::UozPointsGrid(QWidget* parent) : QTableWidget(19, 9, parent) {
    setObjectName("StringGrid3");
    QStringList header;
    for (const char* caption : {"Номер", "Параметр столбца", "Параметр колонки", "ЦН", "БЦН", "УОЗ",
                                "Расход", "Результат", ""})
        header << QString::fromUtf8(caption);
    setHorizontalHeaderLabels(header);
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

}  // namespace korvane::live
