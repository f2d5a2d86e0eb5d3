#pragma once
// The result of tuning from a log, shown as the tuning grid shows its
// tables: engine-speed rows by throttle columns, a selector for the change
// of the correction, the samples, the correction and the BCN; cells with too
// few samples keep the image's values and are greyed. "Сохранить как…"
// writes the suggested image to a new file, never over the one it came from.
#include <QString>
#include <QWidget>
#include <functional>

#include "logs/LogAnalysis.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace korvane::logs::ui {

class AnalysisView final : public QWidget {
    Q_OBJECT
  public:
    struct Files {
        // Empty when the user cancels.
        std::function<QString(const QString& title, const QString& filter)> askSave;
        std::function<void(const QString&)> showError;
        std::function<void(const QString&)> log;
        // A yes/no question before an existing file is replaced.
        std::function<bool(const QString&)> confirm;
    };
    AnalysisView(LogAnalysis analysis, QString logPath, QString imagePath, Files files,
                 QWidget* parent = nullptr);

    QTableWidget* Grid() const { return grid_; }
    QComboBox* Selector() const { return selector_; }
    QLabel* Summary() const { return summary_; }
    QLabel* SavedNote() const { return saved_; }
    const LogAnalysis& Analysis() const { return a_; }
    // "Сохранить как…": true when the new image was written.
    bool SaveAs();
    // Writes the suggested image to `path`; the message when it refuses.
    std::optional<QString> SaveTo(const QString& path);

  private:
    void Fill();

    LogAnalysis a_;
    QString logPath_, imagePath_;
    Files files_;
    QTableWidget* grid_ = nullptr;
    QComboBox* selector_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* saved_ = nullptr;  // where the last save went
};

}  // namespace korvane::logs::ui
