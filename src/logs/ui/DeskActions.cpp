#include "logs/ui/DeskActions.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QWidget>
#include <filesystem>

#include "logs/LogAnalysis.h"
#include "logs/ui/AnalysisView.h"
#include "logs/ui/LogViewer.h"
#include "platform/TextCodec.h"

namespace korvane::logs::ui {

namespace {

const QString kLogFilter = QStringLiteral("Логи|*.xls *.csv|Все файлы|*");

QString DroppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QUrl url = mime->urls().first();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

DeskActions::DeskActions(Window window, QMenu* fileMenu)
    : QObject(window.window), w_(std::move(window)) {
    auto* open = fileMenu->addAction(QStringLiteral("Открыть лог…"));
    open->setObjectName(QStringLiteral("OpenLog"));
    connect(open, &QAction::triggered, this, [this] { OpenLogClicked(); });
    auto* analyze = fileMenu->addAction(QStringLiteral("Анализ лога…"));
    analyze->setObjectName(QStringLiteral("AnalyzeLog"));
    connect(analyze, &QAction::triggered, this, [this] { AnalyzeLogClicked(); });
    w_.window->setAcceptDrops(true);
    w_.window->installEventFilter(this);
}

LogViewer* DeskActions::Viewer() const {
    return viewer_;
}
AnalysisView* DeskActions::Analysis() const {
    return analysis_;
}

bool DeskActions::OpenLogClicked() {
    const QString path = w_.askOpen(QStringLiteral("Открыть лог…"), kLogFilter);
    return !path.isEmpty() && OpenLog(path);
}

std::optional<LogReadResult> DeskActions::Read(const QString& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path.toStdString(), ec);
    // Small files (and anything the reader will refuse) read without a dialog.
    if (ec || size < w_.progressFromBytes || size > kMaxLogBytes)
        return ReadLog(path.toStdString());
    QProgressDialog dialog(QStringLiteral("Чтение лога «%1»…").arg(QFileInfo(path).fileName()),
                           QStringLiteral("Отмена"), 0, 1000, w_.window);
    dialog.setObjectName(QStringLiteral("LogProgress"));
    dialog.setWindowTitle(QStringLiteral("Открыть лог…"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(w_.progressAfterMs);
    dialog.setAutoClose(false);
    dialog.setValue(0);
    bool cancelled = false;
    LogReadResult r = ReadLog(path.toStdString(), [&](double fraction) {
        // A modal dialog serves the window's events as its value moves, the
        // cancel button among them.
        dialog.setValue(static_cast<int>(fraction * 1000));
        cancelled = dialog.wasCanceled();
        return !cancelled;
    });
    if (cancelled) {
        if (w_.log) w_.log(QStringLiteral("Чтение лога «%1» отменено.").arg(path));
        return std::nullopt;
    }
    return r;
}

bool DeskActions::OpenLog(const QString& path) {
    auto read = Read(path);
    if (!read) return false;
    LogReadResult& r = *read;
    if (!r.ok) {
        w_.showError(QString::fromStdString(r.error));
        return false;
    }
    if (!viewer_) {
        viewer_ = new LogViewer(w_.window);
        viewer_->setAttribute(Qt::WA_DeleteOnClose);
        // An image loaded meanwhile brings its grid when the viewer is
        // looked at again.
        viewer_->installEventFilter(this);
    }
    viewer_->ShowLog(std::move(r.data), path);
    viewer_->SetGrid(w_.grid());
    viewer_->show();
    viewer_->raise();
    if (w_.log) w_.log(QStringLiteral("Лог «%1» открыт.").arg(path));
    return true;
}

void DeskActions::ImageChanged() {
    if (viewer_) viewer_->SetGrid(w_.grid());
}

bool DeskActions::AnalyzeLogClicked() {
    const QString logPath = w_.askOpen(QStringLiteral("Анализ лога: лог"), kLogFilter);
    if (logPath.isEmpty()) return false;
    const QString imagePath =
        w_.askOpen(QStringLiteral("Анализ лога: прошивка, что была в ECU при записи"),
                   QStringLiteral("Прошивка|*.bin *.bir|Все файлы|*"));
    if (imagePath.isEmpty()) return false;
    const auto read = Read(logPath);
    if (!read) return false;
    const LogReadResult& log = *read;
    if (!log.ok) {
        w_.showError(QString::fromStdString(log.error));
        return false;
    }
    std::string bytes, error;
    if (!platform::ReadBinaryFile(imagePath.toStdString(), bytes, error)) {
        w_.showError(QStringLiteral("«%1»: %2.").arg(imagePath, QString::fromStdString(error)));
        return false;
    }
    if (bytes.size() != tuning::kImageSize) {
        w_.showError(QStringLiteral("«%1»: %2 байт, а прошивка занимает 65536.")
                         .arg(imagePath)
                         .arg(bytes.size()));
        return false;
    }
    std::array<uint8_t, tuning::kImageSize> image{};
    std::copy(bytes.begin(), bytes.end(), image.begin());
    LogAnalysis a = AnalyzeLog(log.data, image, w_.setting);
    for (const auto& line : a.log)
        if (w_.log) w_.log(QString::fromStdString(line));
    if (!a.ok) {
        w_.showError(QString::fromStdString(a.error));
        return false;
    }
    if (analysis_) analysis_->close();
    analysis_ = new AnalysisView(std::move(a), logPath, imagePath,
                                 {w_.askSave, w_.showError, w_.log, w_.confirm}, w_.window);
    analysis_->setAttribute(Qt::WA_DeleteOnClose);
    analysis_->show();
    return true;
}

bool DeskActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewer_ && event->type() == QEvent::WindowActivate) ImageChanged();
    if (watched == w_.window) {
        if (event->type() == QEvent::DragEnter) {
            auto* e = static_cast<QDragEnterEvent*>(event);
            if (!DroppedFile(e->mimeData()).isEmpty()) {
                e->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* e = static_cast<QDropEvent*>(event);
            const QString path = DroppedFile(e->mimeData());
            if (!path.isEmpty()) {
                e->acceptProposedAction();
                OpenLog(path);
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace korvane::logs::ui
