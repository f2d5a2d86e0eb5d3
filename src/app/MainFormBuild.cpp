// How the window is put together: its widgets, the toolbar, the timers and
// the feature panels with what each is lent.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <optional>

#include "app/MainForm.h"
#include "app/SessionController.h"
#include "app/ToolbarIcons.h"
#include "app/ValueListEditor.h"
#include "app/ui/LinkWatch.h"
#include "ecu/ECUThread.h"
#include "firmware/AxisLabels.h"
#include "firmware/ui/FirmwareActions.h"
#include "live/ui/DashboardView.h"
#include "live/ui/DiagnosticsView.h"
#include "live/ui/LiveValueList.h"
#include "live/ui/StatusBarView.h"
#include "live/ui/TrendView.h"
#include "live/ui/UozPointsGrid.h"
#include "logs/ui/DeskActions.h"
#include "maps/ui/CalibrationPanel.h"
#include "platform/qt/HandlerGuard.h"
#include "platform/qt/QtText.h"
#include "platform/qt/QtUiBridge.h"
#include "tuning/ui/TuningPanel.h"

namespace korvane::app {

using platform::Q;

namespace {

// Toolbar: button number (as in ToolButtonN) and icon index; 0 = separator.
struct ToolSlot {
    int number;
    int icon;
};
const ToolSlot kToolbar[] = {
    {1, 0},  {2, 1},   {4, 2}, {5, 3},   {0, 0},   {7, 4},   {0, 0},   {8, 5},   {10, 6},  {0, 0},
    {11, 7}, {12, 8},  {0, 0}, {14, 9},  {15, 10}, {0, 0},   {16, 11}, {18, 12}, {19, 13}, {20, 14},
    {0, 0},  {21, 15}, {0, 0}, {23, 16}, {24, 17}, {27, 19}, {0, 0},   {0, 0},   {0, 0},
};
constexpr int kButtonWidth = 23;
constexpr int kSeparatorWidth = 8;

// What each working button does, for a user who cannot guess an icon; the
// buttons without an action say so instead of leaving the user to try them.
QString ToolTipFor(int number) {
    static const std::pair<int, const char*> tips[] = {
        {1, "Подключиться"},     {2, "Отключиться"},          {4, "Настройки"},
        {5, "Журнал"},           {7, "Открыть прошивку"},     {8, "Считать прошивку из ECU"},
        {10, "Начать обучение"}, {11, "Остановить обучение"}, {14, "Таблица обучения"},
        {18, "Панель приборов"}, {19, "Параметры"},           {21, "Калибровки"},
        {27, "Выход"},
    };
    for (const auto& [n, tip] : tips)
        if (n == number) return QString::fromUtf8(tip);
    return QStringLiteral("Зарезервировано: кнопка пока ничего не делает");
}

QFont WindowFont() {
    QFont f(QStringLiteral("Tahoma"), 8);
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    return f;
}

QWidget* MakePanel(QWidget* parent, const char* name) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QString::fromLatin1(name));
    return panel;
}

}  // namespace

void TForm1::CreateWorkers() {
    SessionController::Options o;
    o.bridge = bridge_.get();
    // Log lines and progress at once; the session's and the commands' events
    // not inside another handler.
    auto& e = o.ecuEvents;
    e.appendLine = [this](const std::string& line) {
        // An error line carries its detail after CR LF: two log lines.
        for (const QString& part : Q(line).split(QStringLiteral("\r\n"))) AppendLog(part);
    };
    e.replaceLastLine = [this](const std::string& line) { ReplaceLastLogLine(Q(line)); };
    e.progress = [this](int maximum, int position) {
        firmware_->ShowReadProgress(maximum, position);
    };
    e.sessionUp = [this](uint64_t id) { guard_->RunGuarded([this, id] { SessionUp(id); }); };
    e.connectFailed = [this](uint64_t id) {
        guard_->RunGuarded([this, id] { ConnectFailed(id); });
    };
    e.commandFinished = [this](const ecu::CommandResult& result) {
        guard_->RunGuarded([this, result] { CommandFinished(result); });
    };
    e.synced = [this](const ecu::SyncReport& report) {
        guard_->RunGuarded([this, report] { Synced(report); });
    };
    e.firmwareRead = [this](std::shared_ptr<const ecu::Bytes> image) {
        guard_->RunGuarded([this, image] { firmware_->FirmwareRead(*image); });
    };
    o.log = [this](const std::string& line) { AppendLog(Q(line)); };
    o.workDir = env_.workDir;
    o.lambdaReadTimeoutMs = env_.lambdaReadTimeoutMs;
    o.decimalSeparator = decimalSeparator_;
    o.image = [this] { return std::span<const uint8_t>(image_.Bytes()); };
    session_ = std::make_unique<SessionController>(std::move(o));
    session_->onState = [this](SessionState state) { ShowState(state); };
}

void TForm1::BuildDeskActions(QMenu* fileMenu) {
    logs::ui::DeskActions::Window w;
    w.window = this;
    w.askOpen = [this](const QString& title, const QString& filter) {
        return env_.dialogs->AskOpenFile(this, title, filter);
    };
    w.askSave = [this](const QString& title, const QString& filter) {
        return env_.dialogs->AskSaveFile(this, title, filter);
    };
    w.showError = [this](const QString& text) { env_.dialogs->ShowError(this, text); };
    w.log = [this](const QString& line) { AppendLog(line); };
    w.confirm = [this](const QString& question) { return env_.dialogs->Confirm(this, question); };
    w.setting = [this](const std::string& key) { return settings_.SettingValue(key); };
    w.grid = [this]() -> std::optional<logs::ui::WorkPointGrid> {
        if (!image_.FirmwareLoaded) return std::nullopt;
        const auto labels = firmware::Namesstringgrid(image_.Bytes());
        return logs::ui::WorkPointGrid{labels.rows, labels.cols};
    };
    desk_ = new logs::ui::DeskActions(std::move(w), fileMenu);
}

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("Korvane 1.45.4"));
    setFont(WindowFont());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    auto* fileMenu = menuBar()->addMenu(QStringLiteral("Фаил"));
    fileMenu->setObjectName(QStringLiteral("Fail"));
    BuildDeskActions(fileMenu);

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    topBar_ = BuildTopBar(client);

    // Left view area. The tuning grid panel (PanelGrid) comes first; it is
    // made with the workers it drives (CreateTuningPanel).
    LeftArea = new QStackedWidget(client);
    LeftArea->setObjectName(QStringLiteral("LeftArea"));
    LeftArea->setGeometry(1, 32, 715, 476);

    PanelXX = MakePanel(LeftArea, "PanelXX");
    PageControl1 = new QTabWidget(PanelXX);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 205, 715, 271);
    Trend = new live::TrendView(PanelXX);
    Trend->move(0, 0);
    for (const char* page : {"Системные", "Данные", "График"})
        PageControl1->addTab(new QWidget(PageControl1), QString::fromUtf8(page));
    LeftArea->addWidget(PanelXX);
    // The ignition work-point panel: only its grid's header is ever filled
    // and nothing brings it to the front.
    PanelUOZ = MakePanel(LeftArea, "PanelUOZ");
    StringGrid3 = new live::UozPointsGrid(PanelUOZ);
    StringGrid3->setObjectName(QStringLiteral("StringGrid3"));
    StringGrid3->setGeometry(0, 0, 715, 476);
    LeftArea->addWidget(PanelUOZ);

    // Right view area.
    RightArea = new QStackedWidget(client);
    RightArea->setObjectName(QStringLiteral("RightArea"));
    RightArea->setGeometry(718, 32, 243, 475);
    Eculog = MakePanel(RightArea, "Eculog");
    Memo1 = new QPlainTextEdit(Eculog);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setGeometry(0, 0, 243, 475);
    RightArea->addWidget(Eculog);

    PanelMain = MakePanel(RightArea, "PanelMain");
    Dashboard = new live::DashboardView(PanelMain);
    Dashboard->setGeometry(0, 0, 243, 475);
    RightArea->addWidget(PanelMain);

    PanelSett = MakePanel(RightArea, "PanelSett");
    ValueListEditor1 = new ValueListEditor(settings_, PanelSett);
    ValueListEditor1->setObjectName(QStringLiteral("ValueListEditor1"));
    ValueListEditor1->setGeometry(0, 0, 243, 382);
    ValueListEditor1->onRefused = [this](const QString& text) { ShowError(text); };
    // The log is hidden behind this panel: the outcome of a save or of a
    // failed connect is shown here too.
    SettingsNote = new QLabel(PanelSett);
    SettingsNote->setObjectName(QStringLiteral("SettingsNote"));
    SettingsNote->setGeometry(3, 384, 237, 60);
    SettingsNote->setWordWrap(true);
    SettingsNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SaveButton = new QPushButton(QStringLiteral("Сохранить"), PanelSett);
    SaveButton->setObjectName(QStringLiteral("Сохранить"));
    SaveButton->setGeometry(84, 446, 75, 25);
    connect(SaveButton, &QPushButton::clicked, this, [this] { СохранитьClick(); });
    RightArea->addWidget(PanelSett);

    Paneldia = MakePanel(RightArea, "Paneldia");
    Diagnostics = new live::DiagnosticsView(Paneldia);
    Diagnostics->move(0, 0);
    RightArea->addWidget(Paneldia);

    // Calibrpanel, the map editor's tree side, comes with the editor
    // (CreateCalibrationPanel); the live value list sits below its tree.
    RightArea->setCurrentWidget(Eculog);

    // Status bar across the bottom: six panels, the fourth drawn by the
    // program, with the progress bar over it.
    StatusBar1 = new live::StatusBarView(client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, kClientHeight - live::kStatusBarHeight, kClientWidth,
                            live::kStatusBarHeight);
    StatusProgressBar = StatusBar1->ProgressBar();
    StatusProgressBar->setObjectName(QStringLiteral("StatusProgressBar"));
    StatusProgressBar->hide();

    // Timers, all on the UI thread.
    auto timer = [this](QTimer*& t, const char* name, int ms, void (TForm1::*handler)()) {
        t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(ms);
        if (handler) guard_->Connect(t, [this, handler] { (this->*handler)(); });
    };
    timer(engineTimer, "engineTimer", 50, &TForm1::engineTimerTimer);
    timer(StatusTimerTimerr, "StatusTimerTimerr", 50, &TForm1::StatusTimerTimerrTimer);
    timer(Timer2, "Timer2", 500, &TForm1::Timer2Timer);

    client->adjustSize();
    // Fixed client area below the menu; the window never grows.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    move(0, 0);
}

QWidget* TForm1::BuildTopBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("TopBar"));
    bar->setGeometry(0, 0, kClientWidth, 30);
    int x = 11;
    for (const auto& slot : kToolbar) {
        if (slot.number == 0) {
            x += kSeparatorWidth;
            continue;
        }
        auto* b = new QToolButton(bar);
        b->setObjectName(QStringLiteral("ToolButton%1").arg(slot.number));
        b->setIcon(ToolbarIcon(slot.icon));
        b->setIconSize(QSize(16, 16));
        b->setAutoRaise(true);
        b->setProperty("iconIndex", slot.icon);
        b->setToolTip(ToolTipFor(slot.number));
        b->setGeometry(x, 4, kButtonWidth, 22);
        b->setEnabled(true);
        toolButtons_.push_back(b);
        x += kButtonWidth;
    }
    connect(ToolButton(1), &QToolButton::clicked, this, [this] { ToolButton1Click(); });
    connect(ToolButton(2), &QToolButton::clicked, this, [this] { ToolButton2Click(); });
    connect(ToolButton(4), &QToolButton::clicked, this, [this] { ToolButton4Click(); });
    connect(ToolButton(5), &QToolButton::clicked, this, [this] { ToolButton5Click(); });
    connect(ToolButton(14), &QToolButton::clicked, this, [this] { ToolButton14Click(); });
    connect(ToolButton(18), &QToolButton::clicked, this, [this] { ToolButton18Click(); });
    connect(ToolButton(19), &QToolButton::clicked, this, [this] { ToolButton19Click(); });
    connect(ToolButton(21), &QToolButton::clicked, this, [this] { ToolButton21Click(); });
    connect(ToolButton(27), &QToolButton::clicked, this, [this] { ToolButton27Click(); });

    Label1 = new QLabel(bar);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(720, 8, 165, 16);

    Button2 = new QPushButton(QStringLiteral("Скриншот"), bar);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(888, 4, 70, 22);
    Button2->setEnabled(false);
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    return bar;
}

void TForm1::CreateFirmwareActions() {
    firmware::FirmwareActions::Window w;
    w.image = &image_;
    w.ecu = &session_->Ecu();
    w.engineTimer = engineTimer;
    w.Timer2 = Timer2;
    w.progressBar = StatusProgressBar;
    w.stateText = [this] { return tuning_->Label6->text(); };
    w.showReading = [this](bool reading) {
        if (reading) {
            tuning_->SetState(QStringLiteral("Считаю прошивку"));
            session_->SetState(SessionState::ReadingFirmware);
        } else if (session_->State() == SessionState::ReadingFirmware) {
            session_->SetState(tuning_->Tables().TuningActive ? SessionState::Tuning
                                                              : SessionState::Live);
        }
    };
    w.log = [this](const QString& line) { AppendLog(line); };
    w.showError = [this](const QString& text) { ShowError(text); };
    w.askOpenFile = [this](const QString& filter) {
        return env_.dialogs->AskOpenFile(this, QStringLiteral("Загрузить прошивку"), filter);
    };
    w.askSaveFile = [this](const QString& filter) {
        return env_.dialogs->AskSaveFile(this, QStringLiteral("Сохранить прошивку как…"), filter);
    };
    w.confirm = [this](const QString& question) { return env_.dialogs->Confirm(this, question); };
    w.askSaveChanges = [this](const QString& question) {
        switch (env_.dialogs->AskSaveChanges(this, question)) {
            case SaveChanges::Save:
                return 0;
            case SaveChanges::Discard:
                return 1;
            case SaveChanges::Cancel:
                break;
        }
        return 2;
    };
    w.connected = [this] { return session_->State() != SessionState::Disconnected; };
    w.setting = [this](const char* key) { return settings_.SettingValue(key); };
    // Without a new folder the copies must not land in the previous image's
    // folder: saving waits for the next folder instead (a failed one is
    // forgotten).
    w.makeDateDir = [this] { return MakeDateDir(); };
    w.dateDir = [this] { return session_->DateDir(); };
    w.workDir = [this] { return env_.workDir; };
    w.showGridLabels = [this](const firmware::GridLabels& labels) { ShowGridLabels(labels); };
    w.zeroGridValues = [this] { tuning_->ZeroGridValues(); };
    w.setStateLabel = [this](const QString& text, const QColor& color) {
        if (color.isValid())
            SetStateLabel(text, color);
        else
            tuning_->SetState(text);
    };
    w.wait = [this](int ms) { guard_->Wait(ms); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    firmware_ = std::make_unique<firmware::FirmwareActions>(std::move(w));
    firmware_->resetTuningCounters = [this] { tuning_->Tables().ResetCounters(); };
    firmware_->stopTuningTimers = [this] { tuning_->StopTuningTimers(); };
    firmware_->addtabl = [this] { tuning_->addtabl(); };
    // An image loaded into a session: the ECU's RAM follows its tables and
    // everything else it followed, now with the new image's bytes.
    firmware_->pishupopr = [this] {
        for (const ecu::RamRange& r : tuning_->pishupopr())
            session_->ImageChanged(r.address, r.bytes);
        session_->ImageReplaced();
    };
    firmware_->startTuningTimers = [this] { tuning_->StartTuningTimers(); };
    // What the image offers follows it; at the desk the grid shows it.
    firmware_->imageChanged = [this] {
        calibration_->ImageReloaded();
        UpdateTitle();
        ShowState(session_->State());
        desk_->ImageChanged();
        if (session_->State() == SessionState::Disconnected) tuning_->ShowAtDesk();
    };
    QMenu* fileMenu = menuBar()->findChild<QMenu*>(QStringLiteral("Fail"));
    auto* saveAs = fileMenu->addAction(QStringLiteral("Сохранить прошивку как…"));
    saveAs->setObjectName(QStringLiteral("SaveImageAs"));
    connect(saveAs, &QAction::triggered, this, [this] {
        firmware_->SaveImageAsClick();
        UpdateTitle();
    });
    ShowState(session_->State());
    // A question before the image is dropped may have saved it.
    connect(ToolButton(7), &QToolButton::clicked, this, [this] {
        firmware_->ToolButton7Click();
        UpdateTitle();
    });
    connect(ToolButton(8), &QToolButton::clicked, this, [this] {
        firmware_->ToolButton8Click();
        UpdateTitle();
    });
}

void TForm1::CreateCalibrationPanel() {
    maps::CalibrationPanel::Window w;
    w.store = [this](uint16_t address, std::span<const uint8_t> bytes) {
        // The read's image replaces this one whole, while the ECU would
        // already hold the edit.
        if (session_->State() == SessionState::ReadingFirmware) {
            AppendLog(QStringLiteral("Идет чтение прошивки из ECU: правка в образ не внесена."));
            return;
        }
        image_.Store(address, bytes);
    };
    w.ecu = &session_->Ecu();
    w.engineTimer = engineTimer;
    w.image = [this] { return image_.Bytes(); };
    w.log = [this](const QString& line) { AppendLog(line); };
    w.showError = [this](const QString& text) { ShowError(text); };
    w.askOpenFile = [this](const QString& title, const QString& filter) {
        return env_.dialogs->AskOpenFile(this, title, filter);
    };
    w.setting = [this](const char* key) { return settings_.SettingValue(key); };
    w.setSetting = [this](const char* key, const std::string& value) {
        settings_.SetSettingValue(key, value);
        ValueListEditor1->Reload();
    };
    w.saveImage = [this] { firmware_->SaveFirmwareImage(); };
    w.connected = [this] { return session_->State() != SessionState::Disconnected; };
    w.mapViewShown = [this](bool shown) { Trend->setVisible(!shown); };
    w.imageEdited = [this] {
        UpdateTitle();
        ShowGridLabels(firmware::Namesstringgrid(image_.Bytes()));
        tuning_->ImageEditedAtDesk();
        desk_->ImageChanged();
    };
    w.runGuarded = [this](std::function<void()> step) { guard_->RunGuarded(std::move(step)); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    w.decimalSeparator = decimalSeparator_;
    calibration_ = new maps::CalibrationPanel(std::move(w), PageControl1, PanelXX, RightArea);
    Calibrpanel = calibration_;
    ValueListEditor2 = new live::LiveValueList(Calibrpanel);
    ValueListEditor2->setObjectName(QStringLiteral("ValueListEditor2"));
    ValueListEditor2->move(0, 252);
    RightArea->addWidget(Calibrpanel);
}

void TForm1::ShowGridLabels(const firmware::GridLabels& labels) {
    tuning_->ShowGridLabels(labels.rows, labels.cols);
}

void TForm1::CreateTuningPanel() {
    tuning::ui::TuningPanel::Window w;
    w.store = [this](uint16_t address, std::span<const uint8_t> bytes) {
        image_.Store(address, bytes);
    };
    w.ecu = &session_->Ecu();
    w.engineTimer = engineTimer;
    w.image = [this] { return image_.Bytes(); };
    w.firmwareLoaded = [this] { return image_.FirmwareLoaded; };
    w.log = [this](const QString& line) { AppendLog(line); };
    w.showError = [this](const QString& text) { ShowError(text); };
    w.setting = [this](const std::string& key) { return settings_.SettingValue(key); };
    w.wait = [this](int ms) { guard_->Wait(ms); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    w.setLabel5 = [this](const QString& text) { Dashboard->Label5()->setText(text); };
    w.setLabel7 = [this](const QString& text) { Dashboard->Label7()->setText(text); };
    w.setStatusPanel5 = [this](const QString& text) { StatusBar1->SetPanelText(5, text); };
    w.grafxx = [this] { grafxx(); };
    w.radioGroup1Index = [this] { return Dashboard->TuningModeIndex(); };
    w.showTuningState = [this](bool tuning) { ShowTuningState(tuning); };
    // Only this key goes to the file: other edits in the settings editor are
    // the user's to save or not.
    w.storeSetting = [this](const std::string& key, const std::string& value) {
        settings_.SetSettingValue(key, value);
        ValueListEditor1->Reload();
        const std::string error = SaveOneSetting(ConfigPath(), key, value);
        if (!error.empty()) ShowError(Q(error));
    };
    w.imageEdited = [this] {
        image_.SetModified(true);
        UpdateTitle();
    };
    w.confirm = [this](const QString& question) { return env_.dialogs->Confirm(this, question); };
    w.decimalSeparator = decimalSeparator_;
    tuning_ = new tuning::ui::TuningPanel(std::move(w), topBar_, LeftArea);
    LeftArea->insertWidget(0, tuning_);
    LeftArea->setCurrentWidget(tuning_);
    PanelGrid = tuning_;
    connect(ToolButton(10), &QToolButton::clicked, this, [this] { tuning_->ToolButton10Click(); });
    connect(ToolButton(11), &QToolButton::clicked, this, [this] { tuning_->ToolButton11Click(); });
}

void TForm1::CreateLinkWatch() {
    LinkWatch::Window w;
    w.ecu = &session_->Ecu();
    w.portName = [this] { return session_->Settings().ecu.portName; };
    w.dashboard = Dashboard;
    w.diagnostics = Diagnostics;
    w.guard = guard_;
    w.log = [this](const QString& line) { AppendLog(line); };
    w.connect = [this] { Connect(true); };
    w.connectPending = [this] { return session_->ConnectPending(); };
    w.disconnect = [this] { Disconnect(true); };
    w.dropped = [this] { session_->RememberTuning(tuning_->Tables().TuningActive); };
    linkWatch_ = new LinkWatch(std::move(w), this);
}

}  // namespace korvane::app
