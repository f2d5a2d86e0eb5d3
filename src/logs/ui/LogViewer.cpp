#include "logs/ui/LogViewer.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "logs/ui/LogPlot.h"

namespace korvane::logs::ui {

namespace {

const QColor kColours[4] = {QColor(200, 30, 30), QColor(20, 110, 210), QColor(20, 150, 60),
                            QColor(160, 80, 200)};
const char* const kDefaultPlot[4] = {"Скорость вращения двигателя",
                                     "Положение дроссельной заслонки", "AFR LC-1",
                                     "Соотношение воздух/топливо"};
constexpr char kRpm[] = "Скорость вращения двигателя";
constexpr char kThrottle[] = "Положение дроссельной заслонки";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Value(float v) {
    return std::isnan(v) ? QString() : LocaleNumber(double(v), 'g', 7);
}

}  // namespace

LogViewer::LogViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("LogViewer"));
    setWindowTitle(QStringLiteral("Просмотр лога"));
    resize(1180, 820);

    auto* top = new QWidget(this);
    auto* topRow = new QGridLayout(top);
    topRow->setContentsMargins(4, 4, 4, 0);
    for (int i = 0; i < 4; ++i) {
        pickers_[i] = new QComboBox(top);
        pickers_[i]->setObjectName(QStringLiteral("PlotChannel%1").arg(i + 1));
        auto* swatch = new QLabel(QStringLiteral("■"), top);
        swatch->setStyleSheet(QStringLiteral("color: %1").arg(kColours[i].name()));
        topRow->addWidget(swatch, 0, i * 2);
        topRow->addWidget(pickers_[i], 0, i * 2 + 1, 1, 1);
        topRow->setColumnStretch(i * 2 + 1, 1);
        connect(pickers_[i], &QComboBox::currentIndexChanged, this, [this] { PlotChannels(); });
    }

    plot_ = new LogPlot(this);
    plot_->setObjectName(QStringLiteral("LogPlot"));
    list_ = new QTableWidget(0, 2, this);
    list_->setObjectName(QStringLiteral("CursorList"));
    list_->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("Значение")});
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setMinimumWidth(330);
    cursorLabel_ = new QLabel(this);
    cursorLabel_->setObjectName(QStringLiteral("CursorLine"));

    auto* side = new QWidget(this);
    auto* sideBox = new QVBoxLayout(side);
    sideBox->setContentsMargins(0, 0, 0, 0);
    sideBox->addWidget(cursorLabel_);
    sideBox->addWidget(list_);

    auto* xyBox = new QWidget(this);
    auto* xyRow = new QGridLayout(xyBox);
    xyRow->setContentsMargins(0, 0, 0, 0);
    const char* const xyNames[3] = {"X:", "Y:", "Цвет:"};
    for (int i = 0; i < 3; ++i) {
        pickers_[4 + i] = new QComboBox(xyBox);
        pickers_[4 + i]->setObjectName(QStringLiteral("XYChannel%1").arg(i + 1));
        xyRow->addWidget(new QLabel(QString::fromUtf8(xyNames[i]), xyBox), 0, i * 2);
        xyRow->addWidget(pickers_[4 + i], 0, i * 2 + 1);
        xyRow->setColumnStretch(i * 2 + 1, 1);
        connect(pickers_[4 + i], &QComboBox::currentIndexChanged, this, [this] { XYChannels(); });
    }
    xy_ = new LogXYView(xyBox);
    xy_->setObjectName(QStringLiteral("LogXY"));
    xyRow->addWidget(xy_, 1, 0, 1, 6);

    auto* upper = new QSplitter(Qt::Horizontal, this);
    upper->addWidget(plot_);
    upper->addWidget(side);
    upper->setStretchFactor(0, 3);
    upper->setStretchFactor(1, 1);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(upper);
    split->addWidget(xyBox);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("LogNotes"));
    notes_->setWordWrap(true);

    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(4, 4, 4, 4);
    box->addWidget(top);
    box->addWidget(split, 1);
    box->addWidget(notes_);

    connect(plot_, &LogPlot::cursorMoved, this, &LogViewer::ShowCursor);
}

LogViewer::~LogViewer() = default;

std::optional<QString> LogViewer::OpenLog(const QString& path) {
    LogReadResult r = ReadLog(path.toStdString());
    if (!r.ok) return Q(r.error);
    ShowLog(std::move(r.data), path);
    return std::nullopt;
}

void LogViewer::ShowLog(LogData data, const QString& name) {
    log_ = std::make_unique<LogData>(std::move(data));
    const int afr = log_->ColumnOf("Соотношение воздух/топливо");
    const int lc1 = log_->ColumnOf("AFR LC-1");
    ratio_.assign(log_->Lines(), NAN);
    for (size_t i = 0; i < log_->Lines() && afr >= 0 && lc1 >= 0; ++i) {
        const float a = log_->Value(i, afr), l = log_->Value(i, lc1);
        if (a > 0 && l > 0) ratio_[i] = l / a;
    }
    setWindowTitle(QStringLiteral("Просмотр лога — %1").arg(QFileInfo(name).fileName()));
    QStringList notes;
    notes << QStringLiteral("«%1»: строк %2, %3")
                 .arg(name)
                 .arg(log_->Lines())
                 .arg(log_->SecondsPerLine
                          ? QStringLiteral("около %1 с на строку")
                                .arg(LocaleNumber(*log_->SecondsPerLine, 'f', 3))
                          : QStringLiteral("время не известно, ось — номера строк"));
    for (const auto& n : log_->Notes) notes << Q(n);
    notes_->setText(notes.join(QStringLiteral("; ")));

    list_->setRowCount(log_->Columns() + 1);
    for (int c = 0; c <= log_->Columns(); ++c) {
        list_->setItem(c, 0,
                       new QTableWidgetItem(c < log_->Columns() ? Q(log_->Captions()[c])
                                                                : QString(kRatioCaption)));
        list_->setItem(c, 1, new QTableWidgetItem());
    }
    plot_->SetLines(log_->Lines(), log_->SecondsPerLine);
    FillPickers();
    PlotChannels();
    XYChannels();
    cursorLabel_->clear();
}

void LogViewer::SetGrid(std::optional<WorkPointGrid> grid) {
    grid_ = grid;
    XYChannels();
}

void LogViewer::FillPickers() {
    QStringList items;
    for (const auto& c : log_->Captions()) items << Q(c);
    items << QString(kRatioCaption);
    auto fill = [&](QComboBox* box, bool none, const QString& choice) {
        const QSignalBlocker block(box);
        box->clear();
        if (none) box->addItem(QStringLiteral("—"));
        box->addItems(items);
        const int at = box->findText(choice);
        box->setCurrentIndex(at >= 0 ? at : 0);
    };
    for (int i = 0; i < 4; ++i) fill(pickers_[i], true, QString::fromUtf8(kDefaultPlot[i]));
    fill(pickers_[4], false, QString::fromUtf8(kThrottle));
    fill(pickers_[5], false, QString::fromUtf8(kRpm));
    fill(pickers_[6], false, QString(kRatioCaption));
}

std::span<const float> LogViewer::Channel(int item) const {
    if (!log_ || item < 0) return {};
    if (item < log_->Columns()) return log_->Column(item);
    return ratio_;
}

void LogViewer::PlotChannels() {
    if (!log_) return;
    std::vector<PlotSeries> series;
    for (int i = 0; i < 4; ++i) {
        const int item = pickers_[i]->currentIndex() - 1;  // after "—"
        if (item < 0) continue;
        series.push_back({pickers_[i]->currentText(), Channel(item), kColours[i]});
    }
    plot_->SetSeries(std::move(series));
}

void LogViewer::XYChannels() {
    if (!log_) return;
    auto axis = [&](int i) {
        return LogXYView::Axis{pickers_[i]->currentText(), Channel(pickers_[i]->currentIndex())};
    };
    const bool ratio = pickers_[6]->currentIndex() == log_->Columns();
    xy_->SetData(axis(4), axis(5), axis(6), ratio);
    const bool applies = pickers_[4]->currentText() == QString::fromUtf8(kThrottle) &&
                         pickers_[5]->currentText() == QString::fromUtf8(kRpm);
    xy_->SetGrid(grid_, applies);
}

void LogViewer::ShowCursor(long line) {
    if (!log_ || line < 0 || size_t(line) >= log_->Lines()) return;
    QString where = QStringLiteral("Строка %1").arg(line + 2);  // as a spreadsheet numbers it
    if (log_->SecondsPerLine)
        where += QStringLiteral(", %1 с").arg(LocaleNumber(line * *log_->SecondsPerLine, 'f', 1));
    cursorLabel_->setText(where);
    for (int c = 0; c < log_->Columns(); ++c)
        list_->item(c, 1)->setText(Value(log_->Value(line, c)));
    list_->item(log_->Columns(), 1)->setText(Value(ratio_[line]));
}

}  // namespace korvane::logs::ui
