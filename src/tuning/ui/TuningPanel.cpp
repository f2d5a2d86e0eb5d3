#include "tuning/ui/TuningPanel.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

#include "ecu/ECUThread.h"
#include "platform/qt/QtText.h"
#include "tuning/ImageMailbox.h"
#include "tuning/TuningGrid.h"
#include "tuning/WorkerEcu.h"

namespace korvane::tuning::ui {

using platform::Q;

namespace {

constexpr int kGridCells = kGridSize + 1;
constexpr int kColumnWidth = 41;  // 40 and the grid line
constexpr int kRowHeight = 25;    // 24 and the grid line

QFont PanelFont(int points, bool bold) {
    QFont f(QStringLiteral("Tahoma"), points, bold ? QFont::Bold : QFont::Normal);
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    return f;
}

// A small padlock in the cell's lower right corner, below the baseline of
// its text, so it hides no digit however wide the number is.
void DrawLock(QPainter* p, const QRect& cell, int baseline) {
    const int top = std::max(baseline + 2, cell.bottom() - 10);
    const QRect body(cell.right() - 11, top + 4, 8, 5);
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(QPen(QColor(70, 70, 70), 1));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRect(body.left() + 2, body.top() - 3, 4, 3));  // shackle
    p->setBrush(QColor(70, 70, 70));
    p->drawRect(body);
    p->restore();
}

// StringGrid2DrawCell: the header cells as fixed cells, the work points in
// the colour of their learning (or of their change, in "Изменение %"), the
// current work point red, locked cells grey with a padlock, the cells the
// tuner has selected framed. Each work-point cell's look is noted as it is
// painted, so the periodic colour refresh repaints only the cells whose look
// changed since.
class GridDelegate final : public QStyledItemDelegate {
  public:
    GridDelegate(QTableWidget* grid, const TuningTables& tables, std::function<int()> viewItem,
                 PaintedLooks& painted)
        : QStyledItemDelegate(grid),
          grid_(grid),
          tables_(tables),
          viewItem_(std::move(viewItem)),
          painted_(painted) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QString text = index.data().toString();
        const QRect rect = option.rect;
        const QFontMetrics& fm = option.fontMetrics;
        if (index.row() == 0 || index.column() == 0) {
            p->fillRect(rect, option.palette.button());
            p->setPen(option.palette.buttonText().color());
            p->drawText(QPoint(rect.left() + 2, rect.top() + 2 + fm.ascent()), text);
            return;
        }
        const int c = index.column() - 1, r = index.row() - 1;
        const bool current = index == grid_->currentIndex();
        const int item = viewItem_();
        const CellLook look = CellAppearance(tables_, c, r, item, current);
        painted_.Note(c, r, look);
        p->fillRect(rect, look.background
                              ? QColor(look.background->r, look.background->g, look.background->b)
                              : option.palette.base().color());
        p->setPen(option.palette.text().color());
        const int baseline = rect.top() + fm.ascent();
        p->drawText(QPoint(rect.left() + 5, baseline), text);
        if (look.locked) DrawLock(p, rect, baseline);
        if (look.currentFrame) {
            p->setPen(QPen(QColor(255, 0, 0), 1));
            p->setBrush(Qt::NoBrush);
            p->drawRect(rect.adjusted(0, 0, -1, -1));
        }
        if (option.state & QStyle::State_Selected) {
            p->setPen(QPen(QColor(0, 0, 160), 1, Qt::DotLine));
            p->setBrush(Qt::NoBrush);
            p->drawRect(rect.adjusted(2, 2, -3, -3));
        }
    }

  private:
    QTableWidget* grid_;
    const TuningTables& tables_;
    std::function<int()> viewItem_;  // the selector's item, -1 with none
    PaintedLooks& painted_;
};

}  // namespace

class TuningPanel::TimerAdapter final : public TimerControl {
  public:
    explicit TimerAdapter(QTimer* t) : t_(t) {}
    bool Active() const override { return t_->isActive(); }
    void Start() override { t_->start(); }
    void Stop() override { t_->stop(); }
    int Interval() const override { return t_->interval(); }
    void SetInterval(int ms) override { t_->setInterval(ms); }

  private:
    QTimer* t_;
};

TuningPanel::TuningPanel(Window window, QWidget* toolStrip, QWidget* parent)
    : QWidget(parent), w_(std::move(window)) {
    setObjectName(QStringLiteral("PanelGrid"));
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(200);
    Timer4 = new QTimer(this);
    Timer4->setObjectName(QStringLiteral("Timer4"));
    Timer6 = new QTimer(this);
    Timer6->setObjectName(QStringLiteral("Timer6"));

    engine_ = std::make_unique<TimerAdapter>(w_.engineTimer);
    bcn_ = std::make_unique<TimerAdapter>(Timer4);
    neighbour_ = std::make_unique<TimerAdapter>(Timer6);
    clock_.start();
    mailbox_ =
        std::make_unique<ImageMailbox>([this] { return w_.ecu->Status().LinkUp(); }, w_.store);
    writer_ = std::make_unique<WorkerEcu>(*w_.ecu);
    TuningView& view = *this;
    WriteBackHost& host = *this;
    core_ = std::make_unique<TuningCore>([this](const std::string& key) { return w_.setting(key); },
                                         [this](const std::string& line) { w_.log(Q(line)); }, view,
                                         *mailbox_, w_.decimalSeparator);
    writeBack_ = std::make_unique<WriteBack>(core_->Tables(), w_.image(), w_.store, *writer_, host,
                                             WriteBackTimers{*engine_, *bcn_, *neighbour_});

    BuildWidgets(toolStrip);
    w_.connectTimer(Timer1, [this] { Timer1Timer(); });
    w_.connectTimer(Timer4, [this] { Timer4Timer(); });
    w_.connectTimer(Timer6, [this] { Timer6Timer(); });
}

TuningPanel::~TuningPanel() = default;

void TuningPanel::BuildWidgets(QWidget* toolStrip) {
    Label6 = new QLabel(this);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setFont(PanelFont(10, true));
    Label6->setAutoFillBackground(true);
    Label6->move(5, 0);
    SetState(QStringLiteral("Нет Данных"), QColor(255, 255, 0));

    StringGrid2 = new QTableWidget(kGridCells, kGridCells, this);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setGeometry(4, 19, 710, 428);
    StringGrid2->horizontalHeader()->hide();
    StringGrid2->verticalHeader()->hide();
    StringGrid2->horizontalHeader()->setMinimumSectionSize(1);
    StringGrid2->verticalHeader()->setMinimumSectionSize(1);
    StringGrid2->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
    StringGrid2->verticalHeader()->setDefaultSectionSize(kRowHeight);
    StringGrid2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Cells are selected to lock them (Space); a click gives the grid the
    // keyboard, the window's shortcuts stay where they were otherwise.
    StringGrid2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StringGrid2->setFocusPolicy(Qt::ClickFocus);
    StringGrid2->setItemDelegate(new GridDelegate(
        StringGrid2, core_->Tables(), [this] { return ComboBox1 ? ComboBox1->currentIndex() : -1; },
        painted_));
    StringGrid2->installEventFilter(this);
    StringGrid2->viewport()->installEventFilter(this);
    for (int r = 0; r < kGridCells; ++r)
        for (int c = 0; c < kGridCells; ++c) StringGrid2->setItem(r, c, new QTableWidgetItem);
    ZeroGridValues();
    StringGrid2->selectionModel()->setCurrentIndex(StringGrid2->model()->index(0, 0),
                                                   QItemSelectionModel::NoUpdate);
    StringGrid2->hide();

    RestoreButton = new QPushButton(QStringLiteral("Вернуть поправку"), this);
    RestoreButton->setObjectName(QStringLiteral("RestoreButton"));
    RestoreButton->setGeometry(4, 450, 130, 23);
    RestoreButton->setToolTip(QStringLiteral(
        "Записать в ECU и в прошивку таблицы поправки и БЦН, какими они были при загрузке"));
    RestoreButton->setEnabled(false);
    connect(RestoreButton, &QPushButton::clicked, this, [this] { RestoreButtonClick(); });

    Panel5 = new QWidget(this);
    Panel5->setObjectName(QStringLiteral("Panel5"));
    Panel5->setGeometry(592, 447, 120, 30);
    Button6 = new QPushButton(QStringLiteral("УОЗ на ЧН"), Panel5);
    Button6->setObjectName(QStringLiteral("Button6"));
    Button6->setGeometry(41, 3, 75, 23);
    Button7 = new QPushButton(Panel5);
    Button7->setObjectName(QStringLiteral("Button7"));
    Button7->setGeometry(87, 3, 23, 23);
    Button7->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    Button7->setToolTip(QStringLiteral("Записать УОЗ в ECU"));
    Button7->hide();
    Panel5->hide();
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    connect(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });

    ComboBox1 = new QComboBox(toolStrip);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(563, 4, 144, 22);
    for (const char* item : kGridItems) ComboBox1->addItem(QString::fromUtf8(item));
    // "РТ" shows before anything is chosen.
    ComboBox1->setPlaceholderText(QString::fromUtf8(kGridItems[0]));
    ComboBox1->setCurrentIndex(-1);
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
}

void TuningPanel::SetState(const QString& text, std::optional<QColor> background) {
    Label6->setText(text);
    QPalette pal = Label6->palette();
    if (background) pal.setColor(QPalette::Window, *background);
    pal.setColor(QPalette::WindowText, QColor(128, 128, 0));
    Label6->setPalette(pal);
    Label6->adjustSize();
}

void TuningPanel::LinkLive(bool live) {
    writeBack_->SetLinkLive(live);
    const bool paused = Tables().TuningActive && !live;
    if (paused == paused_) return;
    paused_ = paused;
    if (paused) {
        resumeBackground_ = Label6->palette().color(QPalette::Window);
        SetState(QStringLiteral("Обучение приостановлено: нет связи"), QColor(255, 255, 0));
    } else if (Tables().TuningActive) {
        SetState(QStringLiteral("Идет обучение"), resumeBackground_);
    }
}

void TuningPanel::SetCellText(int gridColumn, int gridRow, const QString& text) {
    QTableWidgetItem* item = StringGrid2->item(gridRow, gridColumn);
    if (item->text() != text) item->setText(text);
}

// --- The window's steps ----------------------------------------------------

void TuningPanel::Connecting(int bcnIntervalMs, int neighbourIntervalMs) {
    writeBack_->SetIntervals(bcnIntervalMs, neighbourIntervalMs);
    core_->NewConnection();
}

void TuningPanel::SessionReady() {
    Timer1->start();
    StringGrid2->show();
    UpdateRestoreButton();
}

void TuningPanel::Disconnected() {
    writeBack_->ForgetRestoreLines();
    Tables().TuningActive = false;
    Timer4->stop();
    RestoreButton->setEnabled(false);
}

void TuningPanel::calculations(const live::LiveValues& values, bool narrowBand,
                               bool mixtureUsable) {
    core_->calculations(values, narrowBand, w_.image(), mixtureUsable,
                        static_cast<double>(clock_.nsecsElapsed()) / 1e9);
}

QString TuningPanel::ReadControls() {
    const auto read = ReadControlSettings([this](const char* key) { return w_.setting(key); });
    if (!read.error.empty()) return Q(read.error);
    core_->SetControls(read.settings);
    ReadLocks(true);
    return {};
}

void TuningPanel::ReadLocks(bool logProblem) {
    const auto locks = ParseLockList(w_.setting(kLockedCellsKey));
    if (logProblem && !locks.problem.empty()) w_.log(Q(locks.problem));
    Tables().Locked = locks.locks;
    StringGrid2->viewport()->update();
}

QString TuningPanel::CellName(int k) const {
    // Row header: engine speed; column header: throttle.
    const QTableWidgetItem* rpm = StringGrid2->item(k % kGridSize + 1, 0);
    const QTableWidgetItem* throttle = StringGrid2->item(0, k / kGridSize + 1);
    if (!rpm || !throttle || rpm->text().isEmpty() || throttle->text().isEmpty())
        return QStringLiteral("№%1").arg(k);
    return QStringLiteral("%1 об/мин × %2 %").arg(rpm->text(), throttle->text());
}

void TuningPanel::ToggleLocks(const std::vector<int>& cells) {
    if (cells.empty()) return;
    // The list is taken from the settings as they are now, so a toggle
    // changes only its own cells, whatever the grid was shown with.
    const LockListParse stored = ParseLockList(w_.setting(kLockedCellsKey));
    LockSet locked = stored.locks;
    // A selection that is all locked is freed; otherwise all of it is locked.
    const bool lock = std::any_of(cells.begin(), cells.end(), [&](int k) { return !locked[k]; });
    QStringList changed;
    for (const int k : cells) {
        if (locked[k] != lock) changed << CellName(k);
        locked[k] = lock;
    }
    Tables().Locked = locked;
    if (!changed.isEmpty()) {
        const bool one = changed.size() == 1;
        const QString what = lock ? (one ? QStringLiteral("Заблокирована ячейка")
                                         : QStringLiteral("Заблокированы ячейки"))
                                  : (one ? QStringLiteral("Разблокирована ячейка")
                                         : QStringLiteral("Разблокированы ячейки"));
        w_.log(QStringLiteral("%1: %2.").arg(what, changed.join(QStringLiteral(", "))));
    }
    // Entries that are no index stay in the text for the user to mend.
    if (w_.storeSetting)
        w_.storeSetting(kLockedCellsKey, FormatLockList(locked, stored.unreadable));
    StringGrid2->viewport()->update();
}

bool TuningPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == StringGrid2->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            const QModelIndex index = StringGrid2->indexAt(mouse->position().toPoint());
            if (index.isValid() && index.row() > 0 && index.column() > 0)
                ToggleLocks({CellIndex(index.column() - 1, index.row() - 1)});
            return true;
        }
    }
    if (watched == StringGrid2 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        std::vector<int> cells;
        for (const QModelIndex& index : StringGrid2->selectionModel()->selectedIndexes())
            if (index.row() > 0 && index.column() > 0)
                cells.push_back(CellIndex(index.column() - 1, index.row() - 1));
        std::sort(cells.begin(), cells.end());
        ToggleLocks(cells);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TuningPanel::UpdateRestoreButton() {
    RestoreButton->setEnabled(w_.firmwareLoaded() && writer_->LinkUp());
}

void TuningPanel::addtabl() {
    // Another image: a restore of the one before is no longer awaited.
    writeBack_->ForgetRestoreLines();
    core_->addtabl(w_.image(), rowLabels_, columnLabels_);
}

void TuningPanel::ShowGridLabels(const GridLabels& rows, const GridLabels& columns) {
    for (int i = 0; i < kGridSize; ++i) {
        SetCellText(0, i + 1, QString::number(rows[i]));
        SetCellText(i + 1, 0, QString::number(columns[i]));
    }
    rowLabels_ = rows;
    columnLabels_ = columns;
    core_->SetGridLabels(rows, columns);
}

void TuningPanel::ZeroGridValues() {
    for (int r = 1; r < kGridCells; ++r)
        for (int c = 1; c < kGridCells; ++c) SetCellText(c, r, QStringLiteral("0"));
}

void TuningPanel::RefillGrid() {
    const int item = ComboBox1->currentIndex();
    if (item >= 0)
        for (int c = 0; c < kGridSize; ++c)
            for (int r = 0; r < kGridSize; ++r)
                if (auto text = RefillText(Tables(), c, r, item, w_.decimalSeparator))
                    SetCellText(c + 1, r + 1, Q(*text));
    StringGrid2->viewport()->update();
}

void TuningPanel::ShowAtDesk() {
    StringGrid2->show();
    StringGrid2->viewport()->update();
}

void TuningPanel::ImageEditedAtDesk() {
    core_->TakeTablesFrom(w_.image());
    RefillGrid();
}

void TuningPanel::StartTuningTimers() {
    Timer4->start();
    const std::string kN = w_.setting("Коэф. обучения соседних РТ");
    if (!writeBack_->ApplyNeighbourLearning(kN))
        w_.showError(QStringLiteral("Параметр «Коэф. обучения соседних РТ»: значение «%1» не "
                                    "является числом.")
                         .arg(Q(kN)));
}

void TuningPanel::StopTuningTimers() {
    Timer4->stop();
    Timer6->stop();
}

// --- Handlers --------------------------------------------------------------

std::vector<ecu::RamRange> TuningPanel::pishupopr() {
    // Without a firmware the image is zeros: a correction table of zeros
    // would cut the fuel of a running engine.
    if (!w_.firmwareLoaded()) return {};
    return writeBack_->pishupopr();
}

void TuningPanel::Synced(const ecu::SyncReport& report) {
    if (report.confirmed && report.kind == ecu::CommandKind::remake) core_->CellWriteDone(true);
    writeBack_->Synced(report);
}

void TuningPanel::ToolButton10Click() {
    SetState(QStringLiteral("Идет обучение"));
    writeBack_->WriteTuningStartByte();
    writeBack_->ActivateTuning();
    w_.showTuningState(true);
    const std::string kN = w_.setting("Коэф. обучения соседних РТ");
    if (!writeBack_->StartRewriteTimers(kN))
        w_.showError(QStringLiteral("Параметр «Коэф. обучения соседних РТ»: значение «%1» не "
                                    "является числом.")
                         .arg(Q(kN)));
}

void TuningPanel::ResumeTuning() {
    SetState(QStringLiteral("Идет обучение"));
    writeBack_->WriteTuningStartByte();
    writeBack_->ActivateTuning();
    w_.showTuningState(true);
    Timer4->start();
}

void TuningPanel::ToolButton11Click() {
    SetState(QStringLiteral("Диагностика"), QColor(0, 128, 0));
    writeBack_->StopTuning();
    w_.showTuningState(false);
}

void TuningPanel::Timer1Timer() {
    UpdateRestoreButton();
    // A hidden grid is painted whole when it shows.
    if (!w_.firmwareLoaded() || !StringGrid2->isVisible()) return;
    const QModelIndex current = StringGrid2->currentIndex();
    const int item = ComboBox1->currentIndex();
    QRegion changed;
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r) {
            const bool isCurrent = current.row() == r + 1 && current.column() == c + 1;
            if (painted_.Shown(c, r, CellAppearance(Tables(), c, r, item, isCurrent))) continue;
            changed += StringGrid2->visualRect(StringGrid2->model()->index(r + 1, c + 1));
        }
    if (!changed.isEmpty()) StringGrid2->viewport()->update(changed);
}

void TuningPanel::Timer4Timer() {
    writeBack_->Timer4Timer();
}
void TuningPanel::Timer6Timer() {
    writeBack_->Timer6Timer();
}

void TuningPanel::Button6Click() {
    // A preview in the grid: the image (and the ECU) wait for Button7.
    writeBack_->PartLoadIgnition();
    Button7->show();
    Button6->hide();
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r)
            SetCellText(c + 1, r + 1, Q(IgnitionText(Tables(), c, r, w_.decimalSeparator)));
}

void TuningPanel::Button7Click() {
    const auto image = w_.image();
    const auto table = image.subspan(kIgnitionAddress, kCellCount);
    const std::vector<uint8_t> before(table.begin(), table.end());
    const bool linkUp = mailbox_->LinkUp();
    writeBack_->WriteIgnition();
    // Without the ECU the table goes into the image only.
    if (!linkUp)
        w_.log(QStringLiteral("«УОЗ на ЧН»: нет связи с ECU, записано только в образ прошивки."));
    if (!std::equal(before.begin(), before.end(), table.begin()) && w_.imageEdited)
        w_.imageEdited();
    Button6->show();
    Button7->hide();
}

void TuningPanel::RestoreButtonClick() {
    if (!w_.firmwareLoaded()) return;
    const QString question = QStringLiteral(
        "Вернуть таблицы поправки и БЦН к загруженной прошивке? Всё, чему обучились с "
        "тех пор, будет записано в ECU заново по прошивке.");
    if (w_.confirm && !w_.confirm(question)) return;
    if (writeBack_->RestoreLoaded() == 0) return;
    RefillGrid();
}

void TuningPanel::ComboBox1Change() {
    Panel5->hide();
    const int item = ComboBox1->currentIndex();
    if (item < 0) return;
    for (int c = 0; c < kGridSize; ++c)
        for (int r = 0; r < kGridSize; ++r)
            if (auto text = RefillText(Tables(), c, r, item, w_.decimalSeparator))
                SetCellText(c + 1, r + 1, Q(*text));
    if (item == kItemIgnition) Panel5->show();
}

// --- TuningView ------------------------------------------------------------

int TuningPanel::ComboBox1Index() const {
    return ComboBox1->currentIndex();
}

void TuningPanel::SelectFirstView() {
    // A programmatic choice: no refill (activated() is the user's).
    ComboBox1->setCurrentIndex(kItemRt);
}

int TuningPanel::RadioGroup1Index() const {
    return w_.radioGroup1Index ? w_.radioGroup1Index() : 0;
}

void TuningPanel::SetGridCell(int column, int row, std::string_view text) {
    SetCellText(column, row, Q(text));
}

void TuningPanel::SetCurrentCell(int column, int row) {
    // The work point moves without touching the cells the tuner selected.
    if (StringGrid2->currentRow() != row || StringGrid2->currentColumn() != column)
        StringGrid2->selectionModel()->setCurrentIndex(StringGrid2->model()->index(row, column),
                                                       QItemSelectionModel::NoUpdate);
}

void TuningPanel::SetLabel5(std::string_view text) {
    w_.setLabel5(Q(text));
}
void TuningPanel::SetLabel7(std::string_view text) {
    w_.setLabel7(Q(text));
}
void TuningPanel::SetStatusPanel5(std::string_view text) {
    w_.setStatusPanel5(Q(text));
}
void TuningPanel::grafxx() {
    w_.grafxx();
}

// --- WriteBackHost -----------------------------------------------------------

void TuningPanel::Wait(int ms) {
    w_.wait(ms);
}
void TuningPanel::Log(const std::string& line) {
    w_.log(Q(line));
}

void TuningPanel::CellRewritten(int column, int row) {
    if (auto text =
            RewrittenText(Tables(), column, row, ComboBox1->currentIndex(), w_.decimalSeparator))
        SetCellText(column + 1, row + 1, Q(*text));
}

}  // namespace korvane::tuning::ui
