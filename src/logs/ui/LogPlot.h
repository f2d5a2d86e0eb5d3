#pragma once
// The time plot of a recorded log: up to four channels over the line number,
// each in its own colour with its own vertical scale. The wheel zooms about
// the mouse, a drag pans, a click puts the cursor on a line. Drawing takes
// the smallest and largest value per pixel column, so a whole hour costs no
// more to draw than a minute.
#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>
#include <span>
#include <vector>

namespace korvane::logs::ui {

struct PlotSeries {
    QString caption;
    std::span<const float> values;  // one per line, NaN where empty
    QColor colour;
};

class LogPlot final : public QWidget {
    Q_OBJECT
  public:
    explicit LogPlot(QWidget* parent = nullptr);

    // New log: the whole of it in view, no cursor.
    void SetLines(size_t lines, std::optional<double> secondsPerLine);
    void SetSeries(std::vector<PlotSeries> series);

    // The lines in view, [first, last].
    double First() const { return first_; }
    double Last() const { return last_; }
    void SetView(double first, double last);
    // Zooms by `factor` (< 1 in) about the line at pixel x.
    void Zoom(double factor, int x);

    long Cursor() const { return cursor_; }
    void SetCursor(long line);

    // The plot area inside the widget (without the scales).
    QRect PlotArea() const;
    long LineAt(int x) const;
    int XOf(double line) const;

  signals:
    void cursorMoved(long line);

  protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

  private:
    struct Range {
        float low = 0, high = 1;
    };
    size_t lines_ = 0;
    std::optional<double> secondsPerLine_;
    std::vector<PlotSeries> series_;
    std::vector<Range> ranges_;
    double first_ = 0, last_ = 1;
    long cursor_ = -1;
    int pressX_ = -1;
    double pressFirst_ = 0;
    bool dragged_ = false;
};

// A number as the user's locale writes it, without thousands grouping
// (engine speeds read "2880", as in the diagnostics grid).
QString LocaleNumber(double value, char format, int precision);

// A colour for a mixture ratio: blue rich (0.9 and below), green on target,
// red lean (1.1 and above).
QColor RatioColour(double ratio);

}  // namespace korvane::logs::ui
