#include "app/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
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
}

void TForm1::SetStateLabel(const QString& text, const QColor& background) {
    tuning_->SetState(text, background);
}

void TForm1::ShowError(const QString& text) {
    env_.dialogs->ShowError(this, text);
}

void TForm1::AppendLog(const QString& line) {
    Memo1->appendPlainText(line);
}

void TForm1::ReplaceLastLogLine(const QString& line) {
    QTextDocument* doc = Memo1->document();
    if (doc->isEmpty()) {
        AppendLog(line);
        return;
    }
    QTextCursor c(doc->lastBlock());
    c.select(QTextCursor::BlockUnderCursor);
    c.movePosition(QTextCursor::StartOfBlock);
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    c.insertText(line);
}

QStringList TForm1::LogLines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
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
    if (!saved.error.empty()) return ShowError(Q(saved.error));
    configUnreadable_ = false;
    for (const auto& line : saved.logLines) AppendLog(Q(line));
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

void TForm1::closeEvent(QCloseEvent* event) {
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
    Disconnect(false);
}

void TForm1::Connect(bool automatic) {
    decoder_.NarrowBandMode = false;
    const ConnectSettingsParse parsed = ParseConnectSettings(
        [this](const std::string& key) { return settings_.SettingValue(key); });
    // A setting refused before any port is asked to open leaves nothing to
    // disconnect: the window stays as it was.
    if (!parsed.settings) return ShowError(Q(parsed.error));
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
    SetStateLabel(QStringLiteral("Связь с ECU не установлена"), QColor(255, 255, 0));
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
    tuning_->Synced(report);
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
    // A link that came back by itself while tuning: the tuning goes on.
    if (restoring && session_->TuningBeforeDrop()) tuning_->ResumeTuning();
}

void TForm1::Disconnect(bool automatic) {
    if (!automatic) linkWatch_->Disconnecting();
    session_->Disconnect();
    firmware_->SessionEnded();
    ValueListEditor1->setEnabled(true);
    engineTimer->stop();
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
        if (image_.FirmwareLoaded) {
            // A frame that did not decode, or an LC-1 reading the window did
            // not accept, still counts for the work point but gives no sample.
            const bool mixtureUsable =
                tick.frameDecoded && (decoder_.NarrowBandMode || live::AcceptLambdaReading(lc));
            tuning_->calculations(decoder_.Values(), decoder_.NarrowBandMode, mixtureUsable);
        }
        session_->LogFrame(Diagnostics->ShownTexts(), tuning_->Tables().StationaryHitCount);
    }
}

void TForm1::StatusTimerTimerrTimer() {
    const live::LinkFlags flags = session_->LinkFlags(linkWatch_->Stale());
    if (!live::EngineTimerMayRun(flags)) engineTimer->stop();
    StatusBar1->ShowLinkState(flags);
    tuning_->LinkLive(flags.ecuIsComConnected == 1 && flags.ecuIsEcuConnected == 1 &&
                      flags.ecuNoAnswer == 0);
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
}

}  // namespace korvane::app
