#pragma once
// The window's firmware actions: the default image at connect, loading an
// image file, reading the image out of the ECU, the periodic save. What it
// touches is lent by the window; the read's outcome comes back as the
// worker's events.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "firmware/ImageSaver.h"

class QColor;
class QProgressBar;
class QTimer;

namespace korvane::ecu {
class EcuCommands;
}

namespace korvane::firmware {

class FirmwareActions final : public QObject {
    Q_OBJECT
  public:
    // What the window lends. Every function must be set.
    struct Window {
        FirmwareImage* image = nullptr;
        ecu::EcuCommands* ecu = nullptr;
        QTimer* engineTimer = nullptr;
        QTimer* Timer2 = nullptr;
        QProgressBar* progressBar = nullptr;
        // The state label's text, and the window's state around a read
        // (true while it runs; false when it ended either way).
        std::function<QString()> stateText;
        std::function<void(bool reading)> showReading;
        std::function<void(const QString&)> log;
        std::function<void(const QString&)> showError;
        // An open-file dialog; empty when cancelled.
        std::function<QString(const QString& filter)> askOpenFile;
        // A save-file dialog; empty when cancelled.
        std::function<QString(const QString& filter)> askSaveFile;
        // A yes/no question; true for yes.
        std::function<bool(const QString& question)> confirm;
        // "Save the changes?": 0 yes (save), 1 no (drop them), 2 cancel.
        std::function<int(const QString& question)> askSaveChanges;
        // Whether a connection stands or is being made; without one an image
        // is opened and edited at the desk, with no ECU, timers or copies.
        std::function<bool()> connected;
        std::function<std::string(const char* key)> setting;
        // A new date-stamped working folder; false when it could not be made
        // (the window has said so).
        std::function<bool()> makeDateDir;
        std::function<std::string()> dateDir;
        // The window's working directory: relative image names start there.
        std::function<std::string()> workDir;
        std::function<void(const GridLabels&)> showGridLabels;
        // "0" into the 16 x 16 value cells of the tuning grid.
        std::function<void()> zeroGridValues;
        std::function<void(const QString&, const QColor&)> setStateLabel;
        // A wait on the UI thread that runs no other timer handler.
        std::function<void(int ms)> wait;
        // Connects a timer so its handler never runs inside another's wait.
        std::function<void(QTimer*, std::function<void()>)> connectTimer;
    };

    explicit FirmwareActions(Window window, QObject* parent = nullptr);
    ~FirmwareActions() override;

    // Seams for the tuning feature; each does nothing until it is set.
    std::function<void()> resetTuningCounters;  // the learning counters to 0
    std::function<void()> stopTuningTimers;     // Timer4, Timer6
    std::function<void()> addtabl;              // tuning tables from the image
    std::function<void()> pishupopr;            // a loaded image's tables to the ECU's RAM
    // Timer4 and, per "Коэф. обучения соседних РТ", Timer6 with neighbour
    // learning.
    std::function<void()> startTuningTimers;
    // The image was filled afresh (a file, the default image, a read).
    std::function<void()> imageChanged;

    // The default image inside the connect sequence. False: the file could
    // not be read, the user has been told and the connect stops here.
    bool LoadDefaultFirmware();
    // At connect, after the worker has been told: the name saves use.
    void SetDefaultFileName();

    void ToolButton7Click();  // load an image file
    void ToolButton8Click();  // read the image out of the ECU
    // "Сохранить прошивку как…": the image into a file the user names; the
    // file it was opened from only after asking. True when written.
    bool SaveImageAsClick();
    // Before the image is dropped (the window closes, another image is
    // opened, the ECU's is read): edits not saved anywhere are offered for
    // saving. While connected the session's copy is written first and no
    // question is needed when that worked. False: the user cancelled, or
    // the save they asked for failed (they have been told); keep the image.
    bool MayDropImage();
    // The image file last opened (a load or the default image); "" if none.
    const std::string& OpenedPath() const { return openedPath_; }
    // The worker's events of a read: the image, or why there is none.
    void FirmwareRead(const std::vector<uint8_t>& image);
    void ReadFailed(const std::string& reason);
    bool Reading() const { return reading_; }
    // The session ended: a read still on its way is no longer taken over.
    void SessionEnded();
    // The worker's progress report. A read that fails drops its position
    // to 0; the bar then keeps the block where it stopped.
    void ShowReadProgress(int maximum, int position);
    // Writes the image into the working folder (each Timer2 tick, after a
    // table write). A failure is logged once until a save succeeds again.
    SaveOutcome SaveFirmwareImage();

    const ImageSaver& Saver() const { return saver_; }

  private:
    void ShowLabels();
    // The image file at the desk: taken over with its tables and labels,
    // nothing sent, started or saved.
    void OpenAtDesk();
    void RestartAfterAbandonedLoad();
    // The window goes on as before the read.
    void BackFromRead();
    static void Call(const std::function<void()>& f) {
        if (f) f();
    }

    Window w_;
    ImageSaver saver_;
    QString lastSaveProblem_;
    bool reading_ = false;
    QString stateBeforeRead_;
    std::string openedPath_;
};

}  // namespace korvane::firmware
