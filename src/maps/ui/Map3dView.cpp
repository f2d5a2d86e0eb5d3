#include "maps/ui/Map3dView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "live/LiveTexts.h"
#include "maps/ui/MapGrid.h"
#include "maps/ui/SurfaceView.h"
#include "platform/qt/QtText.h"

namespace korvane::maps {

using platform::Q;

namespace {

// The diagnostic row whose caption the axis names, 0 for none.
int RowOfCaption(const std::string& caption) {
    if (caption.empty()) return 0;
    for (int row = 1; row <= live::kCaptionCount; ++row)
        if (live::DiagnosticCaption(row) == caption) return row;
    return 0;
}

// Where a live value lies on an axis, in cell units; none for an axis by
// index, which names no physical value.
std::optional<double> AxisPosition(double value, double first, double last, int n, bool byIndex) {
    if (byIndex || first == last || !std::isfinite(value)) return std::nullopt;
    return std::clamp((value - first) / (last - first) * (n - 1), 0.0, n - 1.0);
}

}  // namespace

Map3dView::Map3dView(Host host, QWidget* parent) : QWidget(parent), h_(std::move(host)) {
    setObjectName(QStringLiteral("Map3dView"));
    setAutoFillBackground(true);
    auto* bar = new QWidget(this);
    bar->setGeometry(0, 0, 715, 28);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(2);
    amount_ = new QLineEdit(bar);
    amount_->setObjectName(QStringLiteral("Map3dAmount"));
    amount_->setFixedWidth(64);
    amount_->setToolTip(QStringLiteral("Число для «=», «+» и «×%»"));
    row->addWidget(amount_);
    auto run = [this](std::function<EditResult(Map3dEditor&)> op) {
        return [this, op] { grid_->Run(op); };
    };
    auto withAmount = [this](std::function<EditResult(Map3dEditor&, double)> op) {
        return [this, op] {
            if (const auto v = Amount()) grid_->Run([&](Map3dEditor& e) { return op(e, *v); });
        };
    };
    row->addWidget(Button("Map3dSet", QStringLiteral("="), QStringLiteral("Задать значение"),
                          withAmount([](Map3dEditor& e, double v) { return e.SetValue(v); })));
    row->addWidget(Button("Map3dAdd", QStringLiteral("+"), QStringLiteral("Прибавить"),
                          withAmount([](Map3dEditor& e, double v) { return e.AddValue(v); })));
    row->addWidget(Button("Map3dScale", QStringLiteral("×%"),
                          QStringLiteral("Умножить на (100 + число) %"),
                          withAmount([](Map3dEditor& e, double v) { return e.ScalePercent(v); })));
    row->addSpacing(8);
    row->addWidget(Button("Map3dRows", QStringLiteral("↔"),
                          QStringLiteral("Интерполировать по строкам"),
                          run([](Map3dEditor& e) { return e.InterpolateRows(); })));
    row->addWidget(Button("Map3dColumns", QStringLiteral("↕"),
                          QStringLiteral("Интерполировать по столбцам"),
                          run([](Map3dEditor& e) { return e.InterpolateColumns(); })));
    row->addWidget(Button("Map3dArea", QStringLiteral("▦"),
                          QStringLiteral("Интерполировать область по четырём углам"),
                          run([](Map3dEditor& e) { return e.InterpolateArea(); })));
    row->addWidget(Button("Map3dSmooth", QStringLiteral("Сгладить"),
                          QStringLiteral("Каждую ячейку — к среднему соседей"),
                          run([](Map3dEditor& e) { return e.Smooth(); })));
    row->addSpacing(8);
    row->addWidget(Button("Map3dUndo", QStringLiteral("↶"), QStringLiteral("Отменить (Ctrl+Z)"),
                          [this] { h_.undo(); }));
    row->addWidget(Button("Map3dRedo", QStringLiteral("↷"), QStringLiteral("Повторить (Ctrl+Y)"),
                          [this] { h_.redo(); }));
    row->addSpacing(8);
    row->addWidget(Button("Map3dCompare", QStringLiteral("Сравнить с образом…"),
                          QStringLiteral("Открыть второй образ прошивки для сравнения"),
                          [this] { h_.compare(); }));
    take_ = Button("Map3dTake", QStringLiteral("Взять из образа"),
                   QStringLiteral("Скопировать выбранные ячейки из образа для сравнения"), [this] {
                       if (other_)
                           grid_->Run([this](Map3dEditor& e) {
                               return e.TakeFrom(ConstImageBytes(other_->data(), kImageSize));
                           });
                   });
    take_->setEnabled(false);
    row->addWidget(take_);
    row->addStretch();

    grid_ = new MapGrid(this);
    grid_->setGeometry(0, 30, 500, 446);
    grid_->onEdited = [this](const EditResult& r) { Edited(r); };
    grid_->onSelectionChanged = [this] { ShowCurrent(); };
    surface_ = new SurfaceView(this);
    surface_->setGeometry(504, 30, 211, 220);
    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("Map3dInfo"));
    info_->setGeometry(506, 254, 207, 220);
    info_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    info_->setWordWrap(true);
    reason_ = new QLabel(this);
    reason_->setObjectName(QStringLiteral("Map3dReason"));
    reason_->setGeometry(8, 40, 700, 120);
    reason_->setWordWrap(true);
    reason_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    reason_->hide();
}

Map3dView::~Map3dView() = default;

QToolButton* Map3dView::Button(const char* name, const QString& text, const QString& tip,
                               std::function<void()> action) {
    auto* b = new QToolButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setToolTip(tip);
    connect(b, &QToolButton::clicked, this, [action = std::move(action)] { action(); });
    return b;
}

std::optional<double> Map3dView::Amount() {
    const auto v = ParseNumber(amount_->text().trimmed().toStdString());
    if (!v) {
        h_.log(QStringLiteral("«%1» не является числом. Ничего не изменено.").arg(amount_->text()));
        return std::nullopt;
    }
    return static_cast<double>(*v);
}

void Map3dView::ShowMap(const Map3dRead& read) {
    grid_->SetEditor(nullptr);
    surface_->SetEditor(nullptr);
    editor_.reset();
    xRow_ = yRow_ = 0;
    if (!read.map) {
        // The reason stands where the grid would be; nothing can be edited.
        reason_->setText(Q(read.error));
        reason_->show();
        grid_->hide();
        surface_->hide();
        info_->clear();
        return;
    }
    reason_->hide();
    grid_->show();
    surface_->show();
    editor_ = std::make_unique<Map3dEditor>(*read.map, h_.image, h_.store, *h_.history,
                                            h_.decimalSeparator);
    xRow_ = RowOfCaption(editor_->Layout().xParameter);
    yRow_ = RowOfCaption(editor_->Layout().yParameter);
    grid_->SetEditor(editor_.get());
    surface_->SetEditor(editor_.get());
    ShowCurrent();
}

void Map3dView::SetReference(const std::vector<uint8_t>* baseline,
                             const std::vector<uint8_t>* other) {
    other_ = other;
    take_->setEnabled(other != nullptr);
    grid_->SetReference(baseline, other);
    ShowCurrent();
}

void Map3dView::ImageChanged() {
    grid_->Refresh();
    surface_->Refresh();
    ShowCurrent();
}

void Map3dView::Edited(const EditResult& r) {
    for (const std::string& line : r.log) h_.log(Q(line));
    if (r.changed > 0) {
        surface_->Refresh();
        if (h_.edited) h_.edited();
    }
    ShowCurrent();
}

void Map3dView::ShowCurrent() {
    if (!editor_) return;
    const auto& l = editor_->Layout();
    const CellRect& s = editor_->Selection();
    QString text =
        QStringLiteral("%1\n%2 = %3, %4 = %5: %6")
            .arg(Q(l.zCaption), Q(l.xCaption.empty() ? "X" : l.xCaption),
                 Q(editor_->Format(l.XAt(s.x0))), Q(l.yCaption.empty() ? "Y" : l.yCaption),
                 Q(editor_->Format(l.YAt(s.y0))), Q(editor_->Text(s.x0, s.y0)));
    if (s.Width() > 1 || s.Height() > 1)
        text += QStringLiteral("\nВыбрано %1 × %2").arg(s.Width()).arg(s.Height());
    if (other_) {
        const double o = editor_->Map().Value(l.RawOf((*other_)[l.Offset(s.x0, s.y0)]));
        text += QStringLiteral("\nВ образе для сравнения: %1, разница %2")
                    .arg(Q(editor_->Format(o)), Q(editor_->Format(editor_->Value(s.x0, s.y0) - o)));
        int differ = 0;
        for (int y = 0; y < l.ny; ++y)
            for (int x = 0; x < l.nx; ++x)
                differ += (*other_)[l.Offset(x, y)] != Map3dLayout::ByteOf(editor_->Raw(x, y));
        text += QStringLiteral("\nОтличается ячеек: %1").arg(differ);
    }
    info_->setText(text);
}

void Map3dView::ShowLive(const live::LiveValues& values) {
    if (!editor_ || xRow_ == 0 || yRow_ == 0) return;
    const auto& l = editor_->Layout();
    const auto vx = live::RowValue(values, xRow_), vy = live::RowValue(values, yRow_);
    std::optional<LivePoint> point;
    if (vx && vy) {
        const auto px = AxisPosition(*vx, l.xFirst, l.xLast, l.nx, l.xByIndex);
        const auto py = AxisPosition(*vy, l.yFirst, l.yLast, l.ny, l.yByIndex);
        if (px && py) point = LivePoint{*px, *py};
    }
    grid_->SetLivePoint(point);
    surface_->SetLivePoint(point);
}

void Map3dView::HideLive() {
    grid_->SetLivePoint(std::nullopt);
    surface_->SetLivePoint(std::nullopt);
}

void Map3dView::ShowConfirmed(const std::vector<std::pair<uint16_t, uint16_t>>& ranges) {
    std::vector<bool> confirmed(kImageSize, false);
    for (const auto& [address, length] : ranges)
        for (size_t k = address; k < std::min<size_t>(kImageSize, size_t{address} + length); ++k)
            confirmed[k] = true;
    grid_->SetConfirmed(std::move(confirmed));
}

}  // namespace korvane::maps
