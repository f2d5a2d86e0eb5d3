#include "app/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "app/Session.h"
#include "app/SessionController.h"
#include "app/ValueListEditor.h"
#include "app/ui/LinkWatch.h"
#include "ecu/ECUThread.h"
#include "firmware/ui/FirmwareActions.h"
#include "lambda/LAMBDAThread.h"
#include "live/StatusCells.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/LiveValueList.h"
#include "live/ui/StatusBarView.h"
#include "live/ui/TrendView.h"
#include "logs/ui/DeskActions.h"
#include "maps/ui/CalibrationPanel.h"
#include "platform/TextCodec.h"
#include "platform/qt/HandlerGuard.h"
#include "platform/qt/QtText.h"
#include "platform/qt/QtUiBridge.h"
#include "platform/qt/ScreenCapture.h"
#include "tuning/ui/TuningPanel.h"

namespace korvane::app {

using platform::Q;

TForm1::TForm1(FormEnvironment env, QWidget* parent) : QMainWindow(parent), env_(std::move(env)) {
    if (env_.dialogs == nullptr) {
        ownDialogs_ = std::make_unique<QtDialogs>();
        env_.dialogs = ownDialogs_.get();
    }
    if (env_.workDir.empty()) env_.workDir = QDir::currentPath().toStdString();
    if (!env_.listPorts)
        env_.listPorts = [](const std::vector<std::string>& extra) {
            return platform::ListSerialPorts(extra);
        };
    guard_ = new platform::HandlerGuard(this);
    if (env_.wait) guard_->SetWaitFunction(env_.wait);
    const QString point = QLocale::system().decimalPoint();
    decimalSeparator_ =
        (point.size() == 1 && point[0].unicode() < 0x80) ? point[0].toLatin1() : ',';
    bridge_ = std::make_unique<platform::QtUiBridge>(this);
    BuildLayout();
    FormCreate();
}

TForm1::~TForm1() {
    StopWorkers();
    ReleaseFolderLock(env_.workDir);
}

void TForm1::StopWorkers() {
    // Workers waiting on the window are released first, so neither can hold
    // up the join.
    bridge_->Release();
    if (session_) session_->StopWorkers();
}

ecu::TECUThread& TForm1::EcuWorker() {
    return session_->Ecu();
}
lambda::TLAMBDAThread& TForm1::LambdaWorker() {
    return session_->Lambda();
}
const std::string& TForm1::DateDir() const {
    return session_->DateDir();
}

live::OxygenSensor TForm1::Sensor() const {
    return live::OxygenSensorFromSetting(settings_.SettingValue("Датчик кислорода"));
}

std::string TForm1::ConfigPath() const {
    return env_.workDir + "/config.ini";
}

QToolButton* TForm1::ToolButton(int number) const {
    return findChild<QToolButton*>(QStringLiteral("ToolButton%1").arg(number));
}

void TForm1::FormCreate() {
    // 1. Rate label empty, the dashboard's foot panels hidden, run-time
    // state cleared (members start cleared).
    Label1->clear();
    Dashboard->SetFootPanelsVisible(false);

    // 2. Settings from "config.ini"; the built-in lines stay when it cannot
    // be read. 4. The fixed pick lists.
    StartupSettings startup = LoadAtStartup(settings_, ConfigPath());
    configUnreadable_ = startup.unreadable;
    for (const auto& problem : startup.problems) startupProblems_ << Q(problem);
    for (const auto& pl : FixedPickLists()) ValueListEditor1->SetPickList(pl.key, pl.choices);
    ValueListEditor1->Reload();

    // 3. Buttons that wait for a connection.
    ShowState(SessionState::Disconnected);

    // 5. The log.
    Memo1->clear();
    logClock_.start();
    AppendLog(QStringLiteral("Korvane started..."));

    // Two programs in one folder would write the same logs and image copies.
    if (const long other = TakeFolderLock(env_.workDir))
        startupProblems_ << QStringLiteral(
                                "В папке «%1» уже работает другая копия Korvane "
                                "(процесс %2): обе будут писать одни и те же логи и "
                                "копии прошивки.")
                                .arg(Q(env_.workDir))
                                .arg(other);

    // 6. The workers live until the program ends.
    CreateWorkers();
    // Every edit of the image names its range; while connected the ECU's
    // RAM follows it, so no writer builds a write of its own.
    image_.SetChangeListener([this](std::size_t address, std::size_t length) {
        session_->ImageChanged(static_cast<uint16_t>(address),
                               image_.Bytes().subspan(address, length));
    });

    CreateTuningPanel();
    // The grid shows the locks at the desk too, and a toggle there keeps
    // the list it was read with.
    tuning_->ReadLocks(true);
    CreateFirmwareActions();
    CreateCalibrationPanel();
    CreateLinkWatch();

    // 8. The port lists.
    FindComPorts();
    StatusTimerTimerr->start();

    if (!startupProblems_.isEmpty())
        QTimer::singleShot(0, this, [this] {
            ShowError(startupProblems_.join(QStringLiteral("\n\n")));
            startupProblems_.clear();
        });
}

void TForm1::FindComPorts() {
    errorComPorts_ = 0;
    const auto listed =
        env_.listPorts({settings_.SettingValue("Ecu Com"), settings_.SettingValue("LC-1 Com")});
    for (const auto& problem : listed.problems) AppendLog(Q(problem));
    const auto result = app::FindComPorts(listed.ok, listed.names, settings_);
    ValueListEditor1->SetPickList("LC-1 Com", result.names);
    ValueListEditor1->SetPickList("Ecu Com", result.names);
    for (const auto& line : result.logLines) AppendLog(Q(line));
    if (result.error) {
        errorComPorts_ = 1;
        ValueListEditor1->Reload();
    }
    if (session_) session_->Ecu().SetPortGuard(errorComPorts_ != 0);
}

void TForm1::ShowState(SessionState state) {
    for (const ButtonState& b : ToolbarButtons(state, image_.FirmwareLoaded))
        if (QToolButton* button = ToolButton(b.number)) button->setEnabled(b.enabled);
    if (auto* saveAs = findChild<QAction*>(QStringLiteral("SaveImageAs")))
        saveAs->setEnabled(SaveImageAsOffered(state, image_.FirmwareLoaded));
    // A read replaces the image whole: an edit made meanwhile would reach
    // only the ECU.
    if (calibration_) calibration_->setEnabled(state != SessionState::ReadingFirmware);
}

void TForm1::SetStateLabel(const QString& text, const QColor& background) {
    tuning_->SetState(text, background);
}

void TForm1::ShowError(const QString& text) {
    env_.dialogs->ShowError(this, text);
}

void TForm1::AppendLog(const QString& line) {
    SyncJournal();
    const std::string text = line.toStdString();
    JournalWritten(journal_.Append(text));
    ShowLastLogEntry(logRuns_.Append(text, logClock_.elapsed()));
    if (session_ && session_->State() == SessionState::Connecting &&
        StyleOfLine(text) == LogStyle::Problem)
        connectProblems_ << line;
}

void TForm1::ReplaceLastLogLine(const QString& line) {
    if (logRuns_.Lines().empty()) return AppendLog(line);
    SyncJournal();
    const std::string text = line.toStdString();
    JournalWritten(journal_.ReplaceLast(text));
    logRuns_.ReplaceLast(text);
    ShowLastLogEntry(false);
}

void TForm1::SyncJournal() {
    const bool holding = !session_ || session_->State() == SessionState::Connecting;
    journal_.SetFolder(holding ? std::string() : session_->DateDir());
}

void TForm1::JournalWritten(bool ok) {
    if (ok || journalFailed_) {
        if (ok) journalFailed_ = false;
        return;
    }
    // Said once; the lines wait and go into the file with the next write
    // that succeeds.
    journalFailed_ = true;
    AppendLog(QStringLiteral("Журнал не записан в «%1»: %2. Строки будут дописаны, когда это "
                             "удастся.")
                  .arg(Q(journal_.Path()), Q(journal_.LastError())));
}

void TForm1::ShowSettingsNote(const QStringList& lines, bool problem) {
    SettingsNote->setText(lines.join(QLatin1Char('\n')));
    SettingsNote->setToolTip(SettingsNote->text());
    SettingsNote->setStyleSheet(problem ? QStringLiteral("color: rgb(170, 0, 0);")
                                        : QStringLiteral("color: rgb(0, 0, 140);"));
}

void TForm1::ShowLastLogEntry(bool added) {
    if (logRuns_.EntryCount() == 0) return;
    const LogRuns::Entry entry = logRuns_.EntryAt(logRuns_.EntryCount() - 1);
    QScrollBar* bar = Memo1->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    QTextDocument* doc = Memo1->document();
    QTextCursor c(doc);
    if (logRuns_.EntryCount() == 1 && added) {
        doc->clear();
        c = QTextCursor(doc);
    } else if (added) {
        c.movePosition(QTextCursor::End);
        c.insertBlock();
    } else {
        QTextBlock first = doc->lastBlock();
        for (int i = 1; i < lastEntryBlocks_ && first.previous().isValid(); ++i)
            first = first.previous();
        c.setPosition(first.position());
        c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        c.removeSelectedText();
    }
    QTextCharFormat format;
    switch (entry.style) {
        case LogStyle::Notice:
            format.setFontWeight(QFont::Bold);
            format.setForeground(QColor(0, 0, 140));
            break;
        case LogStyle::Problem:
            format.setFontWeight(QFont::Bold);
            format.setForeground(QColor(170, 0, 0));
            break;
        case LogStyle::Folded:
            format.setForeground(QColor(110, 110, 110));
            break;
        case LogStyle::Plain:
            break;
    }
    const QStringList parts = Q(entry.text).split(QLatin1Char('\n'));
    c.setBlockCharFormat(format);
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0) c.insertBlock(QTextBlockFormat(), format);
        c.insertText(parts[i], format);
    }
    lastEntryBlocks_ = static_cast<int>(parts.size());
    if (atEnd) bar->setValue(bar->maximum());
}

QStringList TForm1::LogLines() const {
    QStringList out;
    for (const auto& line : logRuns_.Lines()) out << Q(line);
    return out;
}

QStringList TForm1::ShownLogLines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

QString TForm1::JournalPath() const {
    return Q(journal_.Path());
}

void TForm1::ToolButton4Click() {
    // An adapter plugged in since start-up is offered too.
    const auto listed =
        env_.listPorts({settings_.SettingValue("Ecu Com"), settings_.SettingValue("LC-1 Com")});
    if (listed.ok) {
        std::vector<std::string> names;
        for (const auto& name : listed.names)
            if (platform::IsListablePortName(name)) names.push_back(name);
        ValueListEditor1->SetPickList("LC-1 Com", names);
        ValueListEditor1->SetPickList("Ecu Com", names);
    }
    RightArea->setCurrentWidget(PanelSett);
}
void TForm1::ToolButton5Click() {
    RightArea->setCurrentWidget(Eculog);
}
void TForm1::ToolButton14Click() {
    LeftArea->setCurrentWidget(PanelGrid);
}
void TForm1::ToolButton18Click() {
    RightArea->setCurrentWidget(PanelMain);
}
void TForm1::ToolButton19Click() {
    RightArea->setCurrentWidget(Paneldia);
}
void TForm1::ToolButton21Click() {
    // Map mode: the map tree on the right, the tables and the trend on the
    // left. Loading the map description hooks in here.
    RightArea->setCurrentWidget(Calibrpanel);
    LeftArea->setCurrentWidget(PanelXX);
    calibration_->ToolButton21Click();
}

void TForm1::СохранитьClick() {
    const SettingsSave saved = SaveSettings(settings_, ConfigPath(), configUnreadable_);
    if (!saved.error.empty()) {
        ShowSettingsNote({Q(saved.error)}, true);
        return ShowError(Q(saved.error));
    }
    configUnreadable_ = false;
    QStringList lines;
    for (const auto& line : saved.logLines) {
        AppendLog(Q(line));
        lines << Q(line);
    }
    ShowSettingsNote(lines, lines.size() > 1);
    tuning_->ReadLocks(false);
}

bool TForm1::MakeDateDir(bool quiet) {
    std::string error;
    if (session_->MakeDateDir(error)) return true;
    if (quiet)
        AppendLog(Q(error));
    else
        ShowError(Q(error));
    return false;
}

void TForm1::Button2Click() {
    if (session_->DateDir().empty()) {
        ShowError(
            QStringLiteral("Снимок экрана некуда сохранить: папка сеанса создаётся при "
                           "подключении или при загрузке прошивки."));
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(session_->DateDir() + "/pic", ec);
    const std::string path = ScreenshotPath(session_->DateDir(), screenshotCounter_);
    std::string error = ec ? platform::SystemReason(ec.value()) : std::string();
    if (!ec && platform::SaveJpeg(platform::GrabPrimaryScreen(), path, 100, error)) {
        ++screenshotCounter_;
        AppendLog(QStringLiteral("Снимок экрана сохранён: %1").arg(Q(path)));
        return;
    }
    ShowError(
        QStringLiteral("Не удаётся сохранить снимок экрана «%1»: %2.").arg(Q(path), Q(error)));
}

void TForm1::ToolButton27Click() {
    // The workers close their ports (the log keeps showing their lines
    // meanwhile), then the window closes; a worker that takes longer than
    // the grace period is stopped where it is.
    closeGraceMs_ = kExitGraceMs;
    close();
}

void TForm1::UpdateTitle() {
    const QString title = image_.FirmwareLoaded && image_.Modified()
                              ? QStringLiteral("Korvane 1.45.4 *")
                              : QStringLiteral("Korvane 1.45.4");
    if (windowTitle() != title) setWindowTitle(title);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Edits of the image are offered for saving once, before anything ends.
    if (!closeReady_ && !closing_ && !firmware_->MayDropImage()) {
        UpdateTitle();
        event->ignore();
        return;
    }
    // Closing is always allowed. A standing session is ended on the wire
    // first (the ECU would otherwise keep it and refuse the next connect for
    // a while): the window closes when the worker reports the close done,
    // or when the grace period is over, whichever comes first.
    if (!closeReady_ && session_->EndSession([this] { CloseNow(); })) {
        if (!closing_) {
            closing_ = true;
            QTimer::singleShot(closeGraceMs_, this, [this] { CloseNow(); });
        }
        event->ignore();
        return;
    }
    closeReady_ = true;
    StopWorkers();
    event->accept();
}

void TForm1::CloseNow() {
    if (closeReady_) return;
    closeReady_ = true;
    close();
}

void TForm1::ShowTuningState(bool tuning) {
    // The map editor's write button may not change the tables the tuning
    // writes.
    calibration_->Button5->setVisible(!tuning);
    session_->TuningChanged(tuning);
}

void TForm1::ToolButton1Click() {
    Connect(false);
}
void TForm1::ToolButton2Click() {
    // A connect given up before its session stood leaves no folder behind.
    const bool connecting = session_->State() == SessionState::Connecting;
    Disconnect(false);
    if (!connecting) return;
    session_->DropUnusedFolder();
    SyncJournal();
}

void TForm1::Connect(bool automatic) {
    decoder_.NarrowBandMode = false;
    const ConnectSettingsParse parsed = ParseConnectSettings(
        [this](const std::string& key) { return settings_.SettingValue(key); });
    // A setting refused before any port is asked to open leaves nothing to
    // disconnect: the window stays as it was.
    if (!parsed.settings) {
        ShowSettingsNote({Q(parsed.error)}, true);
        return ShowError(Q(parsed.error));
    }
    connectProblems_.clear();
    const ConnectSettings& s = *parsed.settings;
    tuning_->Tables().MinTuneThrottle = s.minTuneThrottle;
    if (!firmware_->LoadDefaultFirmware()) return;
    tuning_->Connecting(s.bcnIntervalMs, s.neighbourIntervalMs);
    if (const QString refused = tuning_->ReadControls(); !refused.isEmpty())
        return ShowError(refused);
    Timer2->setInterval(s.rewriteMs);

    // A port that is not there fails to open; the log says which ones are.
    const auto present = env_.listPorts({s.ecu.portName, s.wideband ? s.lc1Port : std::string()});
    for (const auto& note : MissingPortNotes(s, present.names)) AppendLog(Q(note));
    // The ports are looked for at each connect: an adapter plugged in since
    // the start (when none was there) lifts the guard set then.
    if (errorComPorts_ != 0 && present.ok && !present.names.empty()) {
        errorComPorts_ = 0;
        session_->Ecu().SetPortGuard(false);
    }
    StatusBar1->SetPanelText(0, s.ecu.portName);
    session_->Connect(s, automatic, tuning_->pishupopr());
    decoder_.ResetForConnect();
    rate_.Reset();
    firmware_->SetDefaultFileName();
    Button2->setEnabled(true);
    linkWatch_->Connecting(!automatic && s.reconnect);
    tuning_->SetState(QStringLiteral("Включаемся"));
    ValueListEditor1->setEnabled(false);
}

void TForm1::ConnectFailed(uint64_t openId) {
    if (!session_->TakeConnectFailed(openId)) return;
    // The port did not open or the ECU did not answer (the worker closed the
    // port again): back to the disconnected state, and say so where the user
    // looks. While reconnecting the link watch tries again.
    if (session_->State() == SessionState::Reconnecting) return;
    Disconnect(false);
    session_->DropUnusedFolder();
    SyncJournal();
    SetStateLabel(QStringLiteral("Связь с ECU не установлена"), QColor(255, 255, 0));
    QStringList note = connectProblems_.mid(std::max<qsizetype>(0, connectProblems_.size() - 2));
    if (note.isEmpty() || !note.last().contains(QStringLiteral("Связь с ECU не установлена")))
        note << QStringLiteral("Связь с ECU не установлена");
    ShowSettingsNote(note, true);
}

void TForm1::CommandFinished(const ecu::CommandResult& result) {
    using ecu::CommandKind;
    session_->CommandFinished(result);
    switch (result.kind) {
        case CommandKind::ReadFW:
            if (!result.ok) firmware_->ReadFailed(result.reason);
            break;
        default:
            break;
    }
}

void TForm1::Synced(const ecu::SyncReport& report) {
    // A write of a session given up since says nothing about this one.
    if (report.openId == session_->OpenId()) tuning_->Synced(report);
    ShowEcuFollows();
}

void TForm1::SessionUp(uint64_t openId) {
    if (!session_->TakeSessionUp(openId)) return;
    const bool restoring = session_->State() == SessionState::Reconnecting;
    linkWatch_->DiagnosticsStarted();
    engineTimer->start();
    SetStateLabel(QStringLiteral("Диагностика"), QColor(255, 0, 0));
    tuning_->SessionReady();
    Timer2->start();
    session_->SetState(SessionState::Live);
    SyncJournal();
    // A link that came back by itself while tuning: the tuning goes on.
    if (restoring && session_->TuningBeforeDrop()) tuning_->ResumeTuning();
}

void TForm1::Disconnect(bool automatic) {
    if (!automatic) linkWatch_->Disconnecting();
    session_->Disconnect(automatic);
    firmware_->SessionEnded();
    calibration_->HideLive();  // no engine, no live point
    ValueListEditor1->setEnabled(true);
    engineTimer->stop();
    // The copy takes the edits since the last tick with it: at the desk
    // the image then counts as saved only when it is.
    if (Timer2->isActive() && image_.FirmwareLoaded) firmware_->SaveFirmwareImage();
    Timer2->stop();
    tuning_->Timer4->stop();
    tuning_->Disconnected();
    if (automatic) {
        // Between attempts the window stays connected for the user: the
        // disconnect button stops the attempts.
        tuning_->SetState(QStringLiteral("Переподключение..."));
        session_->SetState(SessionState::Reconnecting);
    } else {
        tuning_->SetState(QStringLiteral("Выключено"));
        session_->SetState(SessionState::Disconnected);
    }
}

void TForm1::engineTimerTimer() {
    // One consistent frame and its poll count per tick.
    const ecu::EcuStatus status = session_->Ecu().Status();
    const lambda::LambdaStatus lambda = session_->Lambda().Status();
    const live::LambdaSnapshot lc{lambda.IsComConnected, lambda.IsLambdaConnected,
                                  lambda.IsLambdaError, lambda.AFR};
    const auto sensor = Sensor();
    const auto tick = decoder_.Tick(*status.DiagnosticInfo, status.numlog, sensor, lc);
    if (tick.frameDecoded) {
        Diagnostics->Update(decoder_.Values(), tick, decimalSeparator_);
        Dashboard->Update(decoder_.Values(), sensor, decimalSeparator_);
    }
    linkWatch_->WatchLinkHealth(status);
    // A poll that brought nothing leaves the last figures on screen; the
    // tuning and the logs take nothing from them.
    if (tick.newPoll && !linkWatch_->Stale()) {
        // A frame that did not decode, or an LC-1 reading the window did not
        // accept, still counts for the work point but gives no sample.
        const bool mixtureUsable =
            tick.frameDecoded && (decoder_.NarrowBandMode || live::AcceptLambdaReading(lc));
        if (image_.FirmwareLoaded)
            tuning_->calculations(decoder_.Values(), decoder_.NarrowBandMode, mixtureUsable);
        // The log keeps "AFR LC-1" only for a reading taken on this tick: with
        // a narrow-band sensor the held value is a leftover of an earlier
        // session, and the log's analysis must not pool it.
        session_->LogFrame(Diagnostics->ShownTexts(), tuning_->Tables().StationaryHitCount,
                           tick.lc1Taken);
    }
}

void TForm1::StatusTimerTimerrTimer() {
    const live::LinkFlags flags = session_->LinkFlags(linkWatch_->Stale());
    if (!live::EngineTimerMayRun(flags)) engineTimer->stop();
    StatusBar1->ShowLinkState(flags);
    tuning_->LinkLive(flags.ecuIsComConnected == 1 && flags.ecuIsEcuConnected == 1 &&
                      flags.ecuNoAnswer == 0);
    // Every writer of the image sets the mark; the caption follows here.
    UpdateTitle();
    ShowEcuFollows();
}

void TForm1::ShowEcuFollows() {
    const ecu::EcuStatus status = session_->Ecu().Status();
    const std::string text =
        status.LinkUp() ? ecu::FollowText(status.owedBytes, status.refusals) : std::string();
    if (StatusBar1->PanelText(4) != Q(text)) StatusBar1->SetPanelText(4, text);
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    Label1->setText(Q(rate_.Tick(session_->Ecu().Status().numlog, decoder_.Polls().FreshTickCount(),
                                 Timer2->interval(), decimalSeparator_)));
    if (image_.FirmwareLoaded) firmware_->SaveFirmwareImage();
    Timer2->start();
}

void TForm1::grafxx() {
    const auto sensor = Sensor();
    Trend->Update(decoder_.Values(), sensor);
    ValueListEditor2->Update(decoder_.Values(), sensor, decimalSeparator_);
    calibration_->ShowLive(decoder_.Values());
}

}  // namespace korvane::app
