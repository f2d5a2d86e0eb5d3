#pragma once
// The log entries of the window's "Фаил" menu: "Открыть лог…" (also a log
// file dropped on the window) opens the viewer, "Анализ лога…" asks for a
// log and the image that was in the ECU while it was recorded and shows the
// suggested tables.
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "logs/LogReader.h"
#include "logs/ui/LogXYView.h"

class QMenu;
class QWidget;

namespace korvane::logs::ui {

class AnalysisView;
class LogViewer;

class DeskActions final : public QObject {
    Q_OBJECT
  public:
    struct Window {
        QWidget* window = nullptr;  // parent of the new windows, takes the drops
        std::function<QString(const QString& title, const QString& filter)> askOpen;
        std::function<QString(const QString& title, const QString& filter)> askSave;
        std::function<void(const QString&)> showError;
        std::function<void(const QString&)> log;
        std::function<bool(const QString& question)> confirm;
        std::function<std::string(const std::string& key)> setting;
        // The work-point grid of the image now loaded, nullopt without one.
        std::function<std::optional<WorkPointGrid>()> grid;
        // Logs of at least this many bytes are read under a progress dialog
        // (4 MB: about a quarter of an hour of driving); it shows once the
        // read has taken this long, or is expected to.
        uint64_t progressFromBytes = 4u << 20;
        int progressAfterMs = 500;
    };
    DeskActions(Window window, QMenu* fileMenu);

    // "Открыть лог…": false when cancelled or refused (with a message).
    bool OpenLogClicked();
    bool OpenLog(const QString& path);
    // "Анализ лога…".
    bool AnalyzeLogClicked();
    // The image now loaded has changed: the viewer's grid follows.
    void ImageChanged();

    LogViewer* Viewer() const;
    AnalysisView* Analysis() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Reads a log, a large one under a progress dialog that can be
    // cancelled; nullopt when the user cancelled.
    std::optional<LogReadResult> Read(const QString& path);

    Window w_;
    QPointer<LogViewer> viewer_;
    QPointer<AnalysisView> analysis_;
};

}  // namespace korvane::logs::ui
