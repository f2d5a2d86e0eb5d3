#include "live/ui/TrendView.h"

#include <QComboBox>
#include <QFrame>

#include "plot/ui/PlotWidget.h"

namespace korvane::live {

namespace {

constexpr int kChartWidth = 577;
constexpr int kChartHeight = 201;
constexpr int kSelectorPanelWidth = 130;

QComboBox* MakeSelector(QWidget* parent, const char* name) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    for (std::string_view item : kTrendItems)
        box->addItem(QString::fromUtf8(item.data(), static_cast<int>(item.size())));
    box->setCurrentIndex(kTrendDefaultItem);
    return box;
}

// Fits a scale to its points on round ticks (steps of 1, 2 or 5 times a
// power of ten, three to seven ticks); the scale is only touched when the
// points need another range, so most updates repaint the lines alone.
void FitScale(plot::PlotWidget* plot, plot::Scale scale, const std::vector<double>& points) {
    if (auto fit = plot::FitRounded(points, plot->YRange(scale)))
        plot->SetYRange(scale, fit->range, fit->step);
}

}  // namespace

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
    setObjectName("TrendView");
    setFixedSize(kChartWidth + kSelectorPanelWidth, kChartHeight);

    plot_ = new plot::PlotWidget(this);
    plot_->setObjectName("Chart2");
    plot_->setGeometry(0, 0, kChartWidth, kChartHeight);
    plot_->SetLabelPixelSize(11);
    plot_->SetTitlePixelSize(11);
    plot_->SetPannable(true);  // the right button drags it sideways
    // Plain thick lines: smoothing them costs several times the rest of the
    // chart, and it repaints on every trend update.
    plot_->AddSeries({.colour = QColor(130, 155, 254), .width = 4, .scale = plot::Scale::Left});
    plot_->AddSeries({.colour = QColor(252, 209, 36), .width = 4, .scale = plot::Scale::Right});
    plot_->SetXRange({0, TrendHistory::kShown - 1}, 10);
    plot_->SetYRange(plot::Scale::Left, {0, 1});
    plot_->SetYRange(plot::Scale::Right, {0, 1});

    auto* panel = new QFrame(this);
    panel->setObjectName("TrendSelectors");
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(kChartWidth, 0, kSelectorPanelWidth, kChartHeight);
    left_ = MakeSelector(panel, "ComboBox3");
    left_->setGeometry(5, 8, kSelectorPanelWidth - 10, 22);
    right_ = MakeSelector(panel, "ComboBox4");
    right_->setGeometry(5, 38, kSelectorPanelWidth - 10, 22);
}

void TrendView::Update(const LiveValues& values, OxygenSensor sensor) {
    // The history and the scale titles follow every update, seen or not.
    const double leftValue = TrendItemValue(left_->currentIndex(), values, sensor);
    const double rightValue = TrendItemValue(right_->currentIndex(), values, sensor);
    history_.Push(leftValue, rightValue);
    plot_->SetYTitle(plot::Scale::Left, left_->currentText());
    plot_->SetYTitle(plot::Scale::Right, right_->currentText());

    if (!isVisible()) {
        stale_ = true;
        return;
    }
    ShowSeries();
}

void TrendView::ShowSeries() {
    plot_->SetPoints(kLeftSeries, history_.ShownLeft());
    plot_->SetPoints(kRightSeries, history_.ShownRight());
    FitScale(plot_, plot::Scale::Left, history_.ShownLeft());
    FitScale(plot_, plot::Scale::Right, history_.ShownRight());
    stale_ = false;
}

void TrendView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) ShowSeries();
}

}  // namespace korvane::live
