#include "firmware/ui/FirmwareActions.h"

#include <QColor>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>

#include "ecu/ECUThread.h"
#include "platform/qt/QtText.h"

namespace korvane::firmware {

using platform::Q;

namespace {

const QString kFilter = QStringLiteral("Обычные прошивки|*.bin|Прошивки инженерника|*.bir");

}  // namespace

FirmwareActions::FirmwareActions(Window window, QObject* parent)
    : QObject(parent), w_(std::move(window)) {}

FirmwareActions::~FirmwareActions() = default;

void FirmwareActions::ShowLabels() {
    const GridLabels labels = Namesstringgrid(w_.image->Bytes());
    w_.image->RpmStep = labels.rpmStep;
    if (!labels.signatureFound)
        w_.log(QStringLiteral("В прошивке не найден шаг оборотов сетки, принят %1 об/мин")
                   .arg(labels.rpmStep));
    w_.showGridLabels(labels);
}

bool FirmwareActions::LoadDefaultFirmware() {
    FirmwareImage& image = *w_.image;
    if (!image.FirmwareLoaded && w_.setting("Загрузить прошивку по умолчанию") == "да") {
        const std::string name = w_.setting("Прошивка по умолчанию");
        const std::string path =
            !name.empty() && name.front() == '/' ? name : w_.workDir() + "/" + name;
        const LoadResult loaded = image.LoadFile(path);
        if (!loaded) {
            w_.showError(QStringLiteral("Файл прошивки «%1» не загружен: %2.")
                             .arg(Q(path), Q(loaded.error)));
            return false;
        }
        ShowLabels();
        Call(addtabl);
        image.FirmwareLoaded = true;
        image.SetModified(false);
        openedPath_ = path;
        w_.log(QStringLiteral("Прошивка загружена") + Q(name));
        Call(imageChanged);
        return true;
    }
    w_.log(image.FirmwareLoaded ? QStringLiteral("Прошивка загружена")
                                : QStringLiteral("Прошивка не загружена"));
    return true;
}

void FirmwareActions::SetDefaultFileName() {
    w_.image->FirmwareFileName = w_.setting("Прошивка по умолчанию");
}

void FirmwareActions::RestartAfterAbandonedLoad() {
    // Nothing changed: live decoding and the saves go on as before.
    w_.engineTimer->start();
    w_.Timer2->start();
}

void FirmwareActions::ToolButton7Click() {
    if (!MayDropImage()) return;
    if (!w_.connected()) return OpenAtDesk();
    w_.Timer2->stop();
    w_.engineTimer->stop();
    w_.wait(600);
    const QString path = w_.askOpenFile(kFilter);
    if (path.isEmpty()) return RestartAfterAbandonedLoad();

    FirmwareImage& image = *w_.image;
    const LoadResult loaded = image.LoadFile(path.toStdString());
    if (!loaded) {
        w_.showError(
            QStringLiteral("Файл прошивки «%1» не загружен: %2.").arg(path, Q(loaded.error)));
        return RestartAfterAbandonedLoad();
    }
    w_.log(QStringLiteral("Прошивка загружена ") + path);
    Call(resetTuningCounters);
    w_.makeDateDir();
    w_.engineTimer->stop();
    Call(stopTuningTimers);
    w_.wait(200);
    ShowLabels();
    Call(addtabl);
    w_.zeroGridValues();
    // Loaded first: without a loaded image there are no tables to send.
    image.FirmwareLoaded = true;
    Call(pishupopr);
    image.SetModified(false);
    openedPath_ = path.toStdString();
    w_.engineTimer->start();
    w_.Timer2->start();
    Call(startTuningTimers);
    Call(imageChanged);
}

void FirmwareActions::OpenAtDesk() {
    const QString path = w_.askOpenFile(kFilter);
    if (path.isEmpty()) return;
    FirmwareImage& image = *w_.image;
    const LoadResult loaded = image.LoadFile(path.toStdString());
    if (!loaded) {
        w_.showError(
            QStringLiteral("Файл прошивки «%1» не загружен: %2.").arg(path, Q(loaded.error)));
        return;
    }
    w_.log(QStringLiteral("Прошивка загружена ") + path);
    Call(resetTuningCounters);
    ShowLabels();
    Call(addtabl);
    w_.zeroGridValues();
    image.FirmwareLoaded = true;
    image.SetModified(false);
    openedPath_ = path.toStdString();
    Call(imageChanged);
}

bool FirmwareActions::MayDropImage() {
    FirmwareImage& image = *w_.image;
    if (!image.FirmwareLoaded || !image.Modified()) return true;
    if (w_.connected() && !w_.dateDir().empty()) {
        SaveFirmwareImage();
        if (!image.Modified()) return true;
    }
    const QString target = Q(openedPath_);
    const QString question = target.isEmpty()
                                 ? QStringLiteral("Сохранить изменения в прошивке?")
                                 : QStringLiteral("Сохранить изменения в «%1»?").arg(target);
    switch (w_.askSaveChanges(question)) {
        case 1:
            w_.log(QStringLiteral("Изменения прошивки не сохранены."));
            return true;
        case 2:
            return false;
        default:
            break;
    }
    if (target.isEmpty()) return SaveImageAsClick();
    // The user asked for this file by answering, so no second question.
    const SaveAsOutcome out = SaveImageAs(image.Bytes(), openedPath_, openedPath_, true);
    if (out.kind != SaveAsOutcome::kSaved) {
        w_.showError(
            QStringLiteral("Не удаётся сохранить прошивку «%1»: %2.").arg(target, Q(out.error)));
        return false;
    }
    image.SetModified(false);
    w_.log(QStringLiteral("Прошивка сохранена в «%1»").arg(target));
    return true;
}

bool FirmwareActions::SaveImageAsClick() {
    if (!w_.image->FirmwareLoaded) return false;
    QString path = w_.askSaveFile(kFilter);
    if (path.isEmpty()) return false;
    path = platform::WithDefaultSuffix(path, QStringLiteral("bin"));
    const auto bytes = w_.image->Bytes();
    // The file dialog does not ask about an existing file: the one question
    // is asked here, saying whether it is the file the image came from.
    const bool opened = SameFile(path.toStdString(), openedPath_);
    if (opened || QFileInfo::exists(path)) {
        const QString question =
            opened ? QStringLiteral(
                         "Из файла «%1» прошивка была открыта. Заменить его "
                         "прошивкой с изменениями?")
                         .arg(path)
                   : QStringLiteral("Файл «%1» уже есть. Заменить его?").arg(path);
        if (!w_.confirm(question)) {
            w_.log(QStringLiteral("Прошивка не сохранена: «%1» оставлен как был.").arg(path));
            return false;
        }
    }
    const SaveAsOutcome out = SaveImageAs(bytes, path.toStdString(), openedPath_, true);
    if (out.kind != SaveAsOutcome::kSaved) {
        w_.showError(
            QStringLiteral("Не удаётся сохранить прошивку «%1»: %2.").arg(path, Q(out.error)));
        return false;
    }
    w_.image->SetModified(false);
    w_.log(QStringLiteral("Прошивка сохранена в «%1»").arg(path));
    return true;
}

void FirmwareActions::ToolButton8Click() {
    if (reading_ || !MayDropImage()) return;
    w_.engineTimer->stop();
    w_.Timer2->stop();
    stateBeforeRead_ = w_.stateText();
    // A command still waiting (a table write of the tuning) is carried out
    // first: the read queues behind it and then runs alone.
    if (w_.ecu->Status().LinkUp() && w_.ecu->Post(ecu::EcuCommand::ReadFirmware()) != 0) {
        reading_ = true;
        w_.showReading(true);
        w_.progressBar->setMaximum(ecu::TECUThread::kFirmwareBlocks);
        w_.progressBar->setValue(0);
        w_.progressBar->show();
        return;
    }
    w_.log(QStringLiteral("Нет связи с ECU, прошивка не считана"));
    BackFromRead();
}

void FirmwareActions::BackFromRead() {
    reading_ = false;
    w_.setStateLabel(stateBeforeRead_, QColor());
    w_.showReading(false);
    w_.engineTimer->start();
    w_.Timer2->start();
}

void FirmwareActions::SessionEnded() {
    if (!reading_) return;
    reading_ = false;
    w_.progressBar->hide();
}

void FirmwareActions::ReadFailed(const std::string& reason) {
    if (!reading_) return;
    w_.log(QStringLiteral("Чтение прошивки прервано: ") + Q(reason));
    w_.progressBar->hide();
    BackFromRead();
}

void FirmwareActions::FirmwareRead(const std::vector<uint8_t>& read) {
    if (!reading_ || read.size() != static_cast<size_t>(kImageSize)) return;
    reading_ = false;
    FirmwareImage& image = *w_.image;
    image.Fill(read);
    image.SetModified(false);
    // The image is the ECU's now, no longer that of the file last opened.
    openedPath_.clear();
    w_.progressBar->hide();
    Call(addtabl);
    image.FirmwareLoaded = true;
    w_.log(QStringLiteral("Прошивка считана из ECU"));
    Call(resetTuningCounters);
    image.FirmwareFileName = "ECUram.bin";
    w_.makeDateDir();
    ShowLabels();
    w_.zeroGridValues();
    w_.setStateLabel(QStringLiteral("Диагностика"), QColor(0, 128, 0));
    w_.showReading(false);
    w_.engineTimer->start();
    // The copy is written now, so the line below tells what is on disk.
    const SaveOutcome saved = SaveFirmwareImage();
    if (saved.kind == SaveOutcome::kSaved || saved.kind == SaveOutcome::kUnchanged)
        w_.log(QStringLiteral("Прошивка сохранена"));
    w_.Timer2->start();
    Call(imageChanged);
}

void FirmwareActions::ShowReadProgress(int maximum, int position) {
    const bool stopped = position == 0 && reading_;
    w_.progressBar->setMaximum(maximum);
    if (!stopped) w_.progressBar->setValue(position);
}

SaveOutcome FirmwareActions::SaveFirmwareImage() {
    const FirmwareImage& image = *w_.image;
    const std::string dateDir = w_.dateDir();
    SaveOutcome out = saver_.Save(image.Bytes(), dateDir, image.FirmwareFileName);
    QString problem;
    switch (out.kind) {
        case SaveOutcome::kSaved:
        case SaveOutcome::kUnchanged:
            // The copy holds exactly these bytes now.
            w_.image->SetModified(false);
            break;
        case SaveOutcome::kNoPlace:
            problem =
                dateDir.empty()
                    ? QStringLiteral("Прошивка не сохранена: нет рабочей папки.")
                    : QStringLiteral("Прошивка не сохранена: «%1» не годится как имя файла в «%2».")
                          .arg(Q(image.FirmwareFileName), Q(dateDir));
            break;
        case SaveOutcome::kFailed:
            problem = QStringLiteral("Не удаётся сохранить прошивку «%1»: %2.")
                          .arg(Q(out.path), Q(out.error));
            break;
    }
    // One line per problem, not one per tick; the next tick tries again.
    if (!problem.isEmpty() && problem != lastSaveProblem_) w_.log(problem);
    lastSaveProblem_ = problem;
    return out;
}

}  // namespace korvane::firmware
