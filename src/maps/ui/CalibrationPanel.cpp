#include "maps/ui/CalibrationPanel.h"

#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "ecu/ECUThread.h"
#include "firmware/FirmwareImage.h"
#include "maps/ui/CurveChart.h"
#include "maps/ui/Map3dView.h"
#include "platform/NumberText.h"
#include "platform/qt/QtText.h"

namespace korvane::maps {

using platform::Q;

namespace {

std::string S(const QString& s) {
    return s.toStdString();
}

constexpr int kCaptionColumnWidth = 100;
constexpr int kPointColumnWidth = 35;

// The write button's picture: an arrow into a chip.
QIcon WriteIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(3, 10, 10, 5);
    for (int x = 4; x <= 12; x += 2) p.drawLine(x, 15, x, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 30, 30));
    const QPointF arrow[] = {{8, 9}, {3, 4}, {6, 4}, {6, 0}, {10, 0}, {10, 4}, {13, 4}};
    p.drawPolygon(arrow, 7);
    return QIcon(pm);
}

QTableWidgetItem* Cell(QTableWidget* grid, int row, int column) {
    QTableWidgetItem* item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, column, item);
    }
    return item;
}

}  // namespace

CalibrationPanel::CalibrationPanel(Window window, QTabWidget* pages, QWidget* tablePanel,
                                   QWidget* parent)
    : QWidget(parent), w_(std::move(window)) {
    setObjectName(QStringLiteral("Calibrpanel"));
    BuildTreeSide();
    BuildTableSide(pages, tablePanel);

    // A two-axis map takes the place of the trend and the table pages.
    Map3dView::Host host;
    host.image = [this] { return ConstImageBytes(w_.image()); };
    host.store = [this](uint16_t address, std::span<const uint8_t> bytes) {
        StoreRange(address, bytes);
    };
    host.log = w_.log;
    host.history = &history_;
    host.edited = [this] { AfterEdit(); };
    host.undo = [this] { Undo(); };
    host.redo = [this] { Redo(); };
    host.compare = [this] { CompareClick(); };
    host.decimalSeparator = w_.decimalSeparator;
    view3d_ = new Map3dView(std::move(host), tablePanel);
    view3d_->setGeometry(0, 0, 715, 476);
    view3d_->hide();
    const auto image = w_.image();
    baseline_.assign(image.begin(), image.end());
    for (QWidget* area : {static_cast<QWidget*>(tablePanel), static_cast<QWidget*>(this)}) {
        const struct {
            QKeySequence keys;
            void (CalibrationPanel::*run)();
        } shortcuts[] = {{QKeySequence(Qt::CTRL | Qt::Key_Z), &CalibrationPanel::Undo},
                         {QKeySequence(Qt::CTRL | Qt::Key_Y), &CalibrationPanel::Redo}};
        for (const auto& s : shortcuts) {
            auto* shortcut = new QShortcut(s.keys, area);
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, run = s.run] { (this->*run)(); });
        }
    }
}

CalibrationPanel::~CalibrationPanel() = default;

void CalibrationPanel::BuildTreeSide() {
    resize(243, 475);
    Label9 = new QLabel(this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setGeometry(2, 0, 241, 16);
    TreeView = new QTreeWidget(this);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setHeaderHidden(true);
    TreeView->setGeometry(0, 17, 243, 233);
    // A click on another item changes the selection first; that shows it,
    // and the click itself must not show it (and its errors) a second time.
    TreeView->viewport()->installEventFilter(this);
    connect(TreeView, &QTreeWidget::currentItemChanged, this, [this] {
        changedSincePress_ = true;
        TreeViewChange();
    });
    connect(TreeView, &QTreeWidget::itemClicked, this, [this] {
        if (!changedSincePress_) TreeViewClick();
    });
    connect(TreeView, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { TreeViewExpanding(item); });
    MapButton = new QPushButton(QStringLiteral("Карта"), this);
    MapButton->setObjectName(QStringLiteral("Карта"));
    MapButton->setGeometry(0, 448, 75, 25);
    connect(MapButton, &QPushButton::clicked, this, [this] { acLoadExecute(); });
}

void CalibrationPanel::BuildTableSide(QTabWidget* pages, QWidget* tablePanel) {
    QWidget* system = pages->widget(0);
    QWidget* data = pages->widget(1);
    QWidget* chart = pages->widget(2);

    ValueListEditor = new QTableWidget(0, 2, system);
    ValueListEditor->setObjectName(QStringLiteral("ValueListEditor"));
    ValueListEditor->setHorizontalHeaderLabels(
        {QStringLiteral("Ключ"), QStringLiteral("Значение")});
    ValueListEditor->setGeometry(0, 0, 400, 200);
    ValueListEditor->hide();

    GroupBox1 = new QGroupBox(QStringLiteral("Параметры"), data);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 290, 112);
    const struct {
        const char* caption;
        const char* name;
        QLineEdit** edit;
    } boxes[] = {{"Максимальное значение:", "EditMax", &EditMax},
                 {"Текущее значение:", "Editpoint", &Editpoint},
                 {"Минимальное значение:", "EditMin", &EditMin}};
    int y = 22;
    for (const auto& b : boxes) {
        auto* label = new QLabel(QString::fromUtf8(b.caption), GroupBox1);
        label->setGeometry(10, y + 3, 150, 16);
        *b.edit = new QLineEdit(GroupBox1);
        (*b.edit)->setObjectName(QString::fromLatin1(b.name));
        (*b.edit)->setGeometry(165, y, 115, 22);
        y += 28;
    }
    GroupBox1->hide();

    StringGrid4 = new QTableWidget(2, 2, data);
    StringGrid4->setObjectName(QStringLiteral("StringGrid4"));
    StringGrid4->setGeometry(0, 0, 709, 64);
    StringGrid4->horizontalHeader()->hide();
    StringGrid4->verticalHeader()->hide();
    StringGrid4->verticalHeader()->setDefaultSectionSize(24);
    StringGrid4->horizontalHeader()->setDefaultSectionSize(kPointColumnWidth);
    StringGrid4->horizontalHeader()->setMinimumSectionSize(kPointColumnWidth);
    StringGrid4->setColumnWidth(0, kCaptionColumnWidth);
    StringGrid4->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A narrow cell shows the first digits rather than an ellipsis.
    StringGrid4->setWordWrap(false);
    StringGrid4->setTextElideMode(Qt::ElideNone);
    StringGrid4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid4->hide();

    DBChart1 = new CurveChart(chart);
    DBChart1->setGeometry(0, 0, 709, 222);
    DBChart1->onDragPoint = [this](int index) { ChartTool1DragPoint(DBChart1, index); };
    Label17 = new QLabel(chart);
    Label17->setObjectName(QStringLiteral("Label17"));
    Label17->setGeometry(8, 224, 300, 16);

    Button5 = new QToolButton(tablePanel);
    Button5->setObjectName(QStringLiteral("Button5"));
    Button5->setIcon(WriteIcon());
    Button5->setIconSize(QSize(16, 16));
    Button5->setToolTip(QStringLiteral("Записать таблицу в ECU"));
    // At the lower right of the table pages, above them.
    const QRect area = pages->geometry();
    Button5->setGeometry(area.right() - 31, area.bottom() - 29, 28, 26);
    Button5->raise();
    connect(Button5, &QToolButton::clicked, this, [this] { Button5Click(); });
}

bool CalibrationPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TreeView->viewport() && event->type() == QEvent::MouseButtonPress)
        changedSincePress_ = false;
    return QWidget::eventFilter(watched, event);
}

bool CalibrationPanel::LinkUp() const {
    return w_.ecu->Status().LinkUp();
}

bool CalibrationPanel::LoadMap(const std::string& path) {
    const LoadResult r = doc_.LoadFile(path);
    if (!r.ok) {
        w_.showError(
            QStringLiteral("Не удаётся загрузить карту «%1»: %2.").arg(Q(path), Q(r.error)));
        return false;
    }
    return true;
}

void CalibrationPanel::acLoadExecute() {
    const QString file =
        w_.askOpenFile(QStringLiteral("Карта прошивки"), QStringLiteral("Все файлы (*)"));
    if (!file.isEmpty()) {
        if (!LoadMap(S(file))) return;
        w_.setSetting("Карта прошивки", S(file));
    }
    acRefreshExecute();
}

void CalibrationPanel::ToolButton21Click() {
    Label17->clear();
    if (LoadMap(w_.setting("Карта прошивки"))) RebuildTree();
}

std::vector<int> CalibrationPanel::NodePath(QTreeWidgetItem* item) const {
    std::vector<int> path;
    for (; item; item = item->parent())
        path.insert(path.begin(), item->data(0, Qt::UserRole).toInt());
    return path;
}

void CalibrationPanel::RebuildTree() {
    CurrentMapNode = NodeByPath(doc_.Document(), NodePath(TreeView->currentItem()));
    int reselect = -1;
    {
        // Emptying the tree changes the selection; that is no click.
        const QSignalBlocker block(TreeView);
        TreeView->clear();
        items_.clear();
        reselect = tree_.RebuildTree(doc_.Document(), CurrentMapNode);
        items_.reserve(tree_.items.size());
        for (const TreeItem& t : tree_.items) {
            auto* item = t.parent < 0 ? new QTreeWidgetItem(TreeView)
                                      : new QTreeWidgetItem(items_[static_cast<size_t>(t.parent)]);
            item->setText(0, Q(t.caption));
            item->setData(0, Qt::UserRole, t.data);
            items_.push_back(item);
        }
        if (reselect >= 0)
            for (QTreeWidgetItem* p = items_[static_cast<size_t>(reselect)]->parent(); p;
                 p = p->parent())
                p->setExpanded(true);
    }
    if (reselect >= 0) TreeView->setCurrentItem(items_[static_cast<size_t>(reselect)]);
    MarkComparedTables();
}

void CalibrationPanel::TreeViewExpanding(QTreeWidgetItem* item) {
    TreeView->setCurrentItem(item);
}

void CalibrationPanel::TreeViewClick() {
    Label17->clear();
    CurrentMapNode = pugi::xml_node();
    QTreeWidgetItem* item = TreeView->currentItem();
    if (!item) return;
    CurrentMapNode = NodeByPath(doc_.Document(), NodePath(item));
    const std::string name = CurrentMapNode ? NodeName(CurrentMapNode) : S(item->text(0));
    Label9->setText(Q(name));
    attributes_ = AttributeList(name, NodeAttributes(CurrentMapNode));
    ValueListEditor->setRowCount(0);
    for (const auto& [key, value] : attributes_.Rows()) {
        const int row = ValueListEditor->rowCount();
        ValueListEditor->insertRow(row);
        ValueListEditor->setItem(row, 0, new QTableWidgetItem(Q(key)));
        ValueListEditor->setItem(row, 1, new QTableWidgetItem(Q(value)));
    }
    DBChart1->Clear();
    tabl();
}

void CalibrationPanel::tabl() {
    if (IsMap3d(attributes_)) {
        view3d_->ShowMap(ReadMap3d(attributes_));
        view3d_->SetReference(&baseline_, other_.empty() ? nullptr : &other_);
        view3d_->show();
        view3d_->raise();
        if (w_.mapViewShown) w_.mapViewShown(true);
        return;
    }
    if (view3d_->isVisible() && w_.mapViewShown) w_.mapViewShown(false);
    view3d_->hide();
    ShowTableDisplay(ShowTable(attributes_, w_.image(), w_.decimalSeparator));
}

void CalibrationPanel::ShowTableDisplay(const TableDisplay& d) {
    if (!d.error.empty()) {
        // A refused table shows nothing: figures left from the table before
        // would stand under this one's name.
        Editpoint->clear();
        EditMax->clear();
        EditMin->clear();
        StringGrid4->clearContents();
        StringGrid4->setColumnCount(0);
        DBChart1->Clear();
        w_.showError(Q(d.error));
        return;
    }
    if (d.kind == TableKind::Single) {
        StringGrid4->hide();
        GroupBox1->show();
        if (d.editMax) EditMax->setText(Q(*d.editMax));
        if (d.editMin) EditMin->setText(Q(*d.editMin));
        if (d.editPoint) Editpoint->setText(Q(*d.editPoint));
    } else if (d.kind == TableKind::Curve) {
        StringGrid4->show();
        GroupBox1->hide();
        if (d.columns) {
            StringGrid4->setColumnCount(*d.columns);
            StringGrid4->setRowCount(2);
            StringGrid4->setColumnWidth(0, kCaptionColumnWidth);
            for (int c = 1; c < *d.columns; ++c) StringGrid4->setColumnWidth(c, kPointColumnWidth);
        }
        if (d.xCaption) Cell(StringGrid4, 0, 0)->setText(Q(*d.xCaption));
        if (d.yCaption) Cell(StringGrid4, 1, 0)->setText(Q(*d.yCaption));
        for (size_t i = 0; i < d.headers.size(); ++i)
            Cell(StringGrid4, 0, static_cast<int>(i) + 1)->setText(Q(d.headers[i]));
        for (size_t i = 0; i < d.values.size(); ++i)
            Cell(StringGrid4, 1, static_cast<int>(i) + 1)->setText(Q(d.values[i]));
        if (d.chartFilled) {
            QStringList labels;
            for (const auto& h : d.headers) labels << Q(h);
            DBChart1->SetPoints(d.points, labels);
        }
        if (d.xTitle || d.yTitle)
            DBChart1->SetAxisTitles(Q(d.xTitle.value_or("")), Q(d.yTitle.value_or("")));
    }
}

void CalibrationPanel::ChartTool1DragPoint(QObject* Sender, int Index) {
    (void)Sender;
    const QString text = Q(platform::FormatGeneral(DBChart1->Value(Index), w_.decimalSeparator));
    Cell(StringGrid4, 1, Index + 1)->setText(text);
    Label17->setText(text);
}

void CalibrationPanel::Button5Click() {
    const bool desk = AtDesk();
    if (!desk && (!LinkUp() || !w_.engineTimer->isActive())) return;
    // At the desk the live view is not running and stays as it is.
    auto resumeLiveView = [this, desk] {
        if (!desk) w_.engineTimer->start();
    };
    if (!desk) w_.engineTimer->stop();
    ValueBoxes boxes{S(Editpoint->text()), S(EditMax->text()), S(EditMin->text())};
    std::vector<std::string> cells;
    for (int c = 1; c < StringGrid4->columnCount(); ++c) {
        const QTableWidgetItem* item = StringGrid4->item(1, c);
        cells.push_back(item ? S(item->text()) : std::string());
    }
    const PreparedWrite p = PrepareTableWrite(attributes_, boxes, cells);
    if (!p.error.empty()) {
        // Nothing stored or handed over; the live view goes on.
        resumeLiveView();
        w_.showError(Q(p.error));
        return;
    }
    const TableWrite& write = p.write;
    if (write.editPoint) Editpoint->setText(Q(*write.editPoint));
    if (write.kind != TableKind::None) {
        // The write is one undoable step like the edits of a map.
        const auto image = w_.image();
        const size_t from = write.address;
        const size_t to = std::min(kImageSize, from + write.bytes.size());
        EditRange range{write.address, {image.begin() + from, image.begin() + to}, {}};
        w_.store(write.address, write.bytes);
        range.after.assign(image.begin() + from, image.begin() + to);
        if (range.after != range.before)
            history_.Push({"«" + attributes_.Element() + "»: запись", {std::move(range)}});
        // The boxes, the grid and the chart show what was written, and the
        // log says where that differs from what was typed.
        const TableDisplay shown = ShowTable(attributes_, w_.image(), w_.decimalSeparator);
        for (const std::string& line : WriteAdjustments(attributes_, boxes, cells, shown))
            w_.log(Q(line));
        ShowTableDisplay(shown);
    }
    if (desk) {
        if (write.kind != TableKind::None) {
            w_.log(QStringLiteral("«%1»: нет связи с ECU, записано только в образ прошивки.")
                       .arg(Q(attributes_.Element())));
            if (w_.imageEdited) w_.imageEdited();
        }
    } else if (write.kind == TableKind::Single) {
        correct1D();
    } else if (write.kind == TableKind::Curve) {
        correct2D(write.adrf, write.adrs, write.lenText, write.dataText);
    } else {
        w_.engineTimer->start();
    }
    // The copy in the session folder follows; at the desk there is none
    // ("Сохранить прошивку как…" writes the image where the user says).
    if (!desk) w_.saveImage();
    if (!write.notices.empty()) {
        QStringList lines;
        for (const auto& n : write.notices) lines << Q(n);
        w_.showError(lines.join(QLatin1Char('\n')));
    }
}

void CalibrationPanel::correct1D() {
    w_.engineTimer->start();
}

void CalibrationPanel::correct2D(const std::string& adrf, const std::string& adrs,
                                 const std::string& len, const std::string& data) {
    w_.log(Q(CurveLogLine({adrf, adrs, len, data})));
    w_.engineTimer->start();
}

QTreeWidgetItem* CalibrationPanel::ItemByNames(const QString& path) const {
    QTreeWidgetItem* found = nullptr;
    for (const QString& name : path.split(QLatin1Char('/'))) {
        QTreeWidgetItem* next = nullptr;
        const int count = found ? found->childCount() : TreeView->topLevelItemCount();
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem* c = found ? found->child(i) : TreeView->topLevelItem(i);
            if (c->text(0) == name) next = c;
        }
        if (!next) return nullptr;
        found = next;
    }
    return found;
}

void CalibrationPanel::StoreRange(uint16_t address, std::span<const uint8_t> bytes) {
    // While connected the ECU's RAM follows the image by itself.
    w_.store(address, bytes);
}

void CalibrationPanel::AfterEdit() {
    if (AtDesk() && w_.imageEdited) w_.imageEdited();
    MarkComparedTables();
}

void CalibrationPanel::ImageReloaded() {
    history_.Clear();
    const auto image = w_.image();
    baseline_.assign(image.begin(), image.end());
    if (view3d_->isVisible()) tabl();
    MarkComparedTables();
}

void CalibrationPanel::Undo() {
    const std::string what =
        history_.Undo([this](uint16_t a, std::span<const uint8_t> b) { StoreRange(a, b); });
    if (what.empty()) return;
    w_.log(QStringLiteral("Отменено: %1").arg(Q(what)));
    view3d_->ImageChanged();
    if (!view3d_->isVisible() && attributes_.Has("graf")) tabl();
    AfterEdit();
}

void CalibrationPanel::Redo() {
    const std::string what =
        history_.Redo([this](uint16_t a, std::span<const uint8_t> b) { StoreRange(a, b); });
    if (what.empty()) return;
    w_.log(QStringLiteral("Повторено: %1").arg(Q(what)));
    view3d_->ImageChanged();
    if (!view3d_->isVisible() && attributes_.Has("graf")) tabl();
    AfterEdit();
}

void CalibrationPanel::ShowLive(const live::LiveValues& values) {
    if (view3d_->isVisible()) view3d_->ShowLive(values);
}

void CalibrationPanel::HideLive() {
    view3d_->HideLive();
}

void CalibrationPanel::ShowConfirmed(const std::vector<std::pair<uint16_t, uint16_t>>& ranges) {
    view3d_->ShowConfirmed(ranges);
}

void CalibrationPanel::CompareClick() {
    const QString file =
        w_.askOpenFile(QStringLiteral("Образ для сравнения"), QStringLiteral("Все файлы (*)"));
    if (file.isEmpty()) return;
    firmware::FirmwareImage second;
    const firmware::LoadResult loaded = second.LoadFile(S(file));
    if (!loaded) {
        w_.showError(
            QStringLiteral("Образ для сравнения «%1» не открыт: %2").arg(file, Q(loaded.error)));
        return;
    }
    other_.assign(second.Bytes().begin(), second.Bytes().end());
    w_.log(QStringLiteral("Сравнение с образом «%1».").arg(file));
    MarkComparedTables();
    if (view3d_->isVisible()) view3d_->SetReference(&baseline_, &other_);
}

void CalibrationPanel::MarkComparedTables() {
    const bool comparing = !other_.empty();
    const ConstImageBytes mine = w_.image();
    const ConstImageBytes other = comparing ? ConstImageBytes(other_.data(), kImageSize) : mine;
    for (QTreeWidgetItem* item : items_) {
        const pugi::xml_node node = NodeByPath(doc_.Document(), NodePath(item));
        bool differs = false;
        if (comparing && node)
            differs =
                TableDiffers(AttributeList(NodeName(node), NodeAttributes(node)), mine, other);
        item->setForeground(0, differs ? QBrush(QColor(150, 0, 200)) : QBrush());
        item->setToolTip(
            0, differs ? QStringLiteral("Отличается от образа для сравнения") : QString());
        item->setData(0, Qt::UserRole + 1, differs);
    }
}

}  // namespace korvane::maps
