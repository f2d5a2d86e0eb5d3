#include "app/MainForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "app/Session.h"
#include "app/ToolbarIcons.h"
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
#include "live/ui/UozPointsGrid.h"
#include "maps/ui/CalibrationPanel.h"
#include "tuning/ui/TuningPanel.h"
#include "platform/NumberText.h"
#include "platform/TextCodec.h"
#include "platform/qt/HandlerGuard.h"
#include "platform/qt/QtUiBridge.h"
#include "platform/qt/ScreenCapture.h"
#include "logs/ui/DeskActions.h"

namespace korvane::app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Toolbar: button number (as in ToolButtonN) and icon index; 0 = separator.
struct ToolSlot {
    int number;
    int icon;
};
const ToolSlot kToolbar[] = {
    {1, 0},   {2, 1},   {4, 2},   {5, 3},   {0, 0},   {7, 4},   {0, 0},   {8, 5},   {10, 6},
    {0, 0},   {11, 7},  {12, 8},  {0, 0},   {14, 9},  {15, 10}, {0, 0},   {16, 11}, {18, 12},
    {19, 13}, {20, 14}, {0, 0},   {21, 15}, {0, 0},   {23, 16}, {24, 17}, {27, 19}, {0, 0},
    {0, 0},   {0, 0},
};
constexpr int kButtonWidth = 23;
constexpr int kSeparatorWidth = 8;

// Buttons that start disabled.
bool StartsDisabled(int number) {
    switch (number) {
        case 1: case 4: case 5: case 27: return false;
        default: return true;
    }
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

// What the ECU worker shows in the window: log lines and the progress of a
// firmware read. Runs on the UI thread (the worker calls it through the
// bridge).
class TForm1::WorkerLog final : public ecu::LogView {
public:
    explicit WorkerLog(TForm1& form) : form_(form) {}
    void AppendLine(const std::string& line) override {
        // An error line carries its detail after CR LF: two log lines.
        for (const QString& part : Q(line).split(QStringLiteral("\r\n"))) form_.AppendLog(part);
    }
    void ReplaceLastLine(const std::string& line) override { form_.ReplaceLastLogLine(Q(line)); }
    void SetProgress(int maximum, int position) override {
        form_.firmware_->ShowReadProgress(maximum, position);
    }

private:
    TForm1& form_;
};

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
    decimalSeparator_ = (point.size() == 1 && point[0].unicode() < 0x80) ? point[0].toLatin1() : ',';
    bridge_ = std::make_unique<platform::QtUiBridge>(this);
    workerLog_ = std::make_unique<WorkerLog>(*this);
    BuildLayout();
    FormCreate();
}

TForm1::~TForm1() { StopWorkers(); }

void TForm1::StopWorkers() {
    // Workers waiting on the window are released first, so neither can hold
    // up the join.
    bridge_->Release();
    if (ECUThread) ECUThread->Stop();
    if (LAMBDAThread) LAMBDAThread->Stop();
}

live::OxygenSensor TForm1::Sensor() const {
    return live::OxygenSensorFromSetting(settings_.SettingValue("Датчик кислорода"));
}

std::string TForm1::ConfigPath() const { return env_.workDir + "/config.ini"; }

QToolButton* TForm1::ToolButton(int number) const {
    return findChild<QToolButton*>(QStringLiteral("ToolButton%1").arg(number));
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
    LeftArea->setGeometry(1, 32, 715, 476);

    PanelXX = MakePanel(LeftArea, "PanelXX");
    PageControl1 = new QTabWidget(PanelXX);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 205, 715, 271);
    Trend = new live::TrendView(PanelXX);
    Trend->move(0, 0);
    for (const char* page : {"Системные", "Данные", "График"})
        PageControl1->addTab(new QWidget(PageControl1), QString::fromUtf8(page));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
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
    ValueListEditor1->setGeometry(0, 0, 243, 440);
    ValueListEditor1->horizontalHeader()->resizeSection(0, 140);
    ValueListEditor1->onRefused = [this](const QString& text) { ShowError(text); };
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
    timer(Timer3, "Timer3", 1000, &TForm1::Timer3Timer);

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
        b->setGeometry(x, 4, kButtonWidth, 22);
        b->setEnabled(true);
        toolButtons.push_back(b);
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

void TForm1::FormCreate() {
    // 1. Rate label empty, the dashboard's foot panels hidden, run-time
    // state cleared (members start cleared).
    Label1->clear();
    Dashboard->SetFootPanelsVisible(false);

    // 2. Settings from "config.ini"; the built-in lines stay when it cannot
    // be read.
    std::string error;
    if (!settings_.Load(ConfigPath(), error)) {
        // A file that is there but unreadable is kept aside before the
        // first save replaces it with the defaults.
        std::error_code ec;
        configUnreadable_ = std::filesystem::exists(ConfigPath(), ec);
        startupProblems_ << QStringLiteral("Не удаётся открыть файл настроек «%1»: %2. "
                                           "Используются настройки по умолчанию.")
                                .arg(Q(ConfigPath()), Q(error));
    }

    // 3. Buttons that wait for a connection.
    for (auto* b : toolButtons) {
        const int number = b->objectName().mid(10).toInt();
        b->setEnabled(!StartsDisabled(number));
    }

    // 4. The fixed pick lists; a missing key is appended with its first
    // choice so the program stays usable.
    for (const auto& key : AppendMissingPickListKeys(settings_))
        startupProblems_ << QStringLiteral("В настройках не найден параметр «%1»; он добавлен со "
                                           "значением по умолчанию.")
                                .arg(Q(key));
    AppendQuietDefaults(settings_);
    for (const auto& pl : FixedPickLists()) ValueListEditor1->SetPickList(pl.key, pl.choices);
    ValueListEditor1->Reload();

    // 5. The log.
    Memo1->clear();
    AppendLog(QStringLiteral("Korvane started..."));

    // 6. The workers live until the program ends.
    CreateWorkers();

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
    const auto listed = env_.listPorts({settings_.SettingValue("Ecu Com"),
                                        settings_.SettingValue("LC-1 Com")});
    for (const auto& problem : listed.problems) AppendLog(Q(problem));
    const auto result = app::FindComPorts(listed.ok, listed.names, settings_);
    ValueListEditor1->SetPickList("LC-1 Com", result.names);
    ValueListEditor1->SetPickList("Ecu Com", result.names);
    for (const auto& line : result.logLines) AppendLog(Q(line));
    if (result.error) {
        errorComPorts_ = 1;
        ValueListEditor1->Reload();
    }
    if (ECUThread) ECUThread->ErrorComPorts = errorComPorts_;
}

void TForm1::CreateWorkers() {
    ECUThread = std::make_unique<ecu::TECUThread>(*bridge_, *workerLog_);
    ECUThread->Start();
    lambda::LambdaOptions options;
    options.readTimeoutMs = env_.lambdaReadTimeoutMs;
    options.decimalSeparator = decimalSeparator_;
    LAMBDAThread = std::make_unique<lambda::TLAMBDAThread>(
        *bridge_, [this](const std::string& line) { AppendLog(Q(line)); },
        platform::MakePosixSerialPort(), platform::SystemClock::Instance(), options);
    LAMBDAThread->Start();
}

void TForm1::SetStateLabel(const QString& text, const QColor& background) {
    Tuning->SetState(text, background);
}

void TForm1::ShowError(const QString& text) { env_.dialogs->ShowError(this, text); }

void TForm1::Wait(int ms) { guard_->Wait(ms); }

void TForm1::AppendLog(const QString& line) { Memo1->appendPlainText(line); }

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
    const auto listed = env_.listPorts({settings_.SettingValue("Ecu Com"),
                                        settings_.SettingValue("LC-1 Com")});
    if (listed.ok) {
        std::vector<std::string> names;
        for (const auto& name : listed.names)
            if (platform::IsListablePortName(name)) names.push_back(name);
        ValueListEditor1->SetPickList("LC-1 Com", names);
        ValueListEditor1->SetPickList("Ecu Com", names);
    }
    RightArea->setCurrentWidget(PanelSett);
}
void TForm1::ToolButton5Click() { RightArea->setCurrentWidget(Eculog); }
void TForm1::ToolButton14Click() { LeftArea->setCurrentWidget(PanelGrid); }
void TForm1::ToolButton18Click() { RightArea->setCurrentWidget(PanelMain); }
void TForm1::ToolButton19Click() { RightArea->setCurrentWidget(Paneldia); }
void TForm1::ToolButton21Click() {
    // Map mode: the map tree on the right, the tables and the trend on the
    // left. Loading the map description hooks in here.
    RightArea->setCurrentWidget(Calibrpanel);
    LeftArea->setCurrentWidget(PanelXX);
    calibration_->ToolButton21Click();
}

void TForm1::СохранитьClick() {
    std::string error;
    if (configUnreadable_) {
        const std::string backup = ConfigPath() + ".bak";
        std::error_code ec;
        if (std::filesystem::is_regular_file(ConfigPath(), ec))
            std::filesystem::copy_file(ConfigPath(), backup,
                                       std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            ShowError(QStringLiteral("Не удаётся сохранить копию файла настроек «%1»: %2. "
                                     "Настройки не сохранены.")
                          .arg(Q(backup), Q(platform::SystemReason(ec.value()))));
            return;
        }
    }
    if (!settings_.Save(ConfigPath(), error)) {
        ShowError(QStringLiteral("Не удаётся сохранить файл настроек «%1»: %2.")
                      .arg(Q(ConfigPath()), Q(error)));
        return;
    }
    configUnreadable_ = false;
}

bool TForm1::MakeDateDir(bool quiet) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string path = env_.workDir + "/" + DateDirName(local);
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        const QString text =
            QStringLiteral("Не удаётся создать папку «%1»: %2.").arg(Q(path), Q(platform::SystemReason(ec.value())));
        if (quiet)
            AppendLog(text);
        else
            ShowError(text);
        return false;
    }
    dateDir_ = path;
    return true;
}

void TForm1::Button2Click() {
    if (dateDir_.empty()) {
        ShowError(QStringLiteral("Снимок экрана некуда сохранить: папка сеанса создаётся при "
                                 "подключении или при загрузке прошивки."));
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(dateDir_ + "/pic", ec);
    const std::string path = ScreenshotPath(dateDir_, screenshotCounter_);
    std::string error = ec ? platform::SystemReason(ec.value()) : std::string();
    if (!ec && platform::SaveJpeg(platform::GrabPrimaryScreen(), path, 100, error)) {
        ++screenshotCounter_;
        return;
    }
    ShowError(QStringLiteral("Не удаётся сохранить снимок экрана «%1»: %2.").arg(Q(path), Q(error)));
}

void TForm1::ToolButton27Click() {
    // One exchange's time, then the workers close their ports, then a grace
    // period for them to do it; the log keeps showing their lines meanwhile.
    Wait(ECUThread->PortReadTimeOut + ECUThread->PortTimeOut);
    ECUThread->Command.Post("CloseComPort");
    LAMBDAThread->Command.Post("CloseComPort");
    Wait(4000);
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing is always allowed. A standing session is ended on the wire
    // first (the ECU would otherwise keep it and refuse the next connect for
    // a while), waiting about a second at most for the worker to do it.
    if (ECUThread->IsComConnected == 1) {
        constexpr int kCloseSessionMs = 1500;
        ECUThread->Command.Post("CloseComPort");
        QElapsedTimer waited;
        waited.start();
        while (ECUThread->IsComConnected == 1 && waited.elapsed() < kCloseSessionMs) Wait(20);
    }
    StopWorkers();
    event->accept();
}

std::optional<int> TForm1::IntegerSetting(const char* key) {
    const std::string text = settings_.SettingValue(key);
    const auto v = platform::ParseInteger(text);
    if (v && *v >= INT32_MIN && *v <= INT32_MAX) return static_cast<int>(*v);
    ShowError(QStringLiteral("Параметр «%1»: значение «%2» не является целым числом.")
                  .arg(QString::fromUtf8(key), Q(text)));
    return std::nullopt;
}

namespace {
constexpr int kMaxExchangePauseMs = 10000;
// A timer period of 0 or less would spin the UI thread (and divide the rate
// display by zero): such a value is refused like one that is no number.
std::optional<int> Positive(std::optional<int> v) { return v && *v > 0 ? v : std::nullopt; }
}  // namespace

void TForm1::CreateFirmwareActions() {
    firmware::FirmwareActions::Window w;
    w.image = &image_;
    w.ecu = ECUThread.get();
    w.engineTimer = engineTimer;
    w.Timer2 = Timer2;
    w.progressBar = StatusProgressBar;
    w.ToolButton10 = ToolButton(10);
    w.Label6 = Label6;
    w.log = [this](const QString& line) { AppendLog(line); };
    w.showError = [this](const QString& text) { ShowError(text); };
    w.askOpenFile = [this](const QString& filter) {
        return env_.dialogs->AskOpenFile(this, QStringLiteral("Загрузить прошивку"), filter);
    };
    w.setting = [this](const char* key) { return settings_.SettingValue(key); };
    w.makeDateDir = [this] {
        // Without a new folder the copies must not land in the previous
        // image's folder: saving waits for the next folder instead.
        if (MakeDateDir()) return true;
        dateDir_.clear();
        return false;
    };
    w.dateDir = [this] { return dateDir_; };
    w.workDir = [this] { return env_.workDir; };
    w.showGridLabels = [this](const firmware::GridLabels& labels) { ShowGridLabels(labels); };
    w.zeroGridValues = [this] { Tuning->ZeroGridValues(); };
    w.setStateLabel = [this](const QString& text, const QColor& color) {
        SetStateLabel(text, color);
    };
    w.wait = [this](int ms) { Wait(ms); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    firmware_ = std::make_unique<firmware::FirmwareActions>(std::move(w));
    firmware_->resetTuningCounters = [this] { Tuning->Tables().ResetCounters(); };
    firmware_->stopTuningTimers = [this] { Tuning->StopTuningTimers(); };
    firmware_->addtabl = [this] { Tuning->addtabl(); };
    firmware_->pishupopr = [this] { Tuning->pishupopr(); };
    firmware_->startTuningTimers = [this] { Tuning->StartTuningTimers(); };
    connect(ToolButton(7), &QToolButton::clicked, this, [this] { firmware_->ToolButton7Click(); });
    connect(ToolButton(8), &QToolButton::clicked, this, [this] { firmware_->ToolButton8Click(); });
}

void TForm1::CreateCalibrationPanel() {
    maps::CalibrationPanel::Window w;
    w.ecu = ECUThread.get();
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
    w.runGuarded = [this](std::function<void()> step) { guard_->RunGuarded(std::move(step)); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    w.decimalSeparator = decimalSeparator_;
    calibration_ = new maps::CalibrationPanel(std::move(w), PageControl1, PanelXX, RightArea);
    Calibrpanel = calibration_;
    TreeView = calibration_->TreeView;
    MapButton = calibration_->MapButton;
    ValueListEditor2 = new live::LiveValueList(Calibrpanel);
    ValueListEditor2->setObjectName(QStringLiteral("ValueListEditor2"));
    ValueListEditor2->move(0, 252);
    RightArea->addWidget(Calibrpanel);
}

void TForm1::ShowGridLabels(const firmware::GridLabels& labels) {
    Tuning->ShowGridLabels(labels.rows, labels.cols);
}

void TForm1::CreateTuningPanel() {
    tuning::ui::TuningPanel::Window w;
    w.ecu = ECUThread.get();
    w.engineTimer = engineTimer;
    w.image = [this] { return image_.Bytes(); };
    w.firmwareLoaded = [this] { return image_.FirmwareLoaded; };
    w.log = [this](const QString& line) { AppendLog(line); };
    w.showError = [this](const QString& text) { ShowError(text); };
    w.setting = [this](const std::string& key) { return settings_.SettingValue(key); };
    w.storeSetting = [this](const std::string& key, const std::string& value) {
        settings_.SetSettingValue(key, value);
        ValueListEditor1->Reload();
        СохранитьClick();
    };
    w.confirm = [this](const QString& question) { return env_.dialogs->Confirm(this, question); };
    w.wait = [this](int ms) { Wait(ms); };
    w.connectTimer = [this](QTimer* timer, std::function<void()> handler) {
        guard_->Connect(timer, std::move(handler));
    };
    w.setLabel5 = [this](const QString& text) { Dashboard->Label5()->setText(text); };
    w.setLabel7 = [this](const QString& text) { Dashboard->Label7()->setText(text); };
    w.setStatusPanel5 = [this](const QString& text) { StatusBar1->SetPanelText(5, text); };
    w.grafxx = [this] { grafxx(); };
    w.radioGroup1Index = [this] { return Dashboard->TuningModeIndex(); };
    w.showTuningState = [this](bool tuning) { ShowTuningState(tuning); };
    w.decimalSeparator = decimalSeparator_;
    Tuning = new tuning::ui::TuningPanel(std::move(w), topBar_, LeftArea);
    LeftArea->insertWidget(0, Tuning);
    LeftArea->setCurrentWidget(Tuning);
    PanelGrid = Tuning;
    StringGrid2 = Tuning->StringGrid2;
    Label6 = Tuning->Label6;
    ComboBox1 = Tuning->ComboBox1;
    Timer1 = Tuning->Timer1;
    Timer4 = Tuning->Timer4;
    Timer6 = Tuning->Timer6;
    connect(ToolButton(10), &QToolButton::clicked, this, [this] { Tuning->ToolButton10Click(); });
    connect(ToolButton(11), &QToolButton::clicked, this, [this] { Tuning->ToolButton11Click(); });
}

void TForm1::CreateLinkWatch() {
    LinkWatch::Window w;
    w.ecu = ECUThread.get();
    w.dashboard = Dashboard;
    w.diagnostics = Diagnostics;
    w.guard = guard_;
    w.log = [this](const QString& line) { AppendLog(line); };
    w.connect = [this] { ToolButton1Click(); };
    w.disconnect = [this] { ToolButton2Click(); };
    w.showReconnecting = [this](const QString& state) {
        ToolButton(1)->setEnabled(false);
        ToolButton(2)->setEnabled(true);
        Tuning->SetState(state);
    };
    w.tuningActive = [this] { return Tuning->Tables().TuningActive; };
    w.resumeTuning = [this] { Tuning->ResumeTuning(); };
    linkWatch_ = new LinkWatch(std::move(w), this);
    ReconnectTimer = linkWatch_->ReconnectTimer;
}

void TForm1::ShowTuningState(bool tuning) {
    // The map editor's write button may not change the tables the tuning
    // writes; Button4 and "Управление" are looked up the same way for when
    // the window grows them.
    ToolButton(10)->setEnabled(!tuning);
    ToolButton(11)->setEnabled(tuning);
    if (!tuning) ToolButton(8)->setEnabled(true);
    for (const char* name : {"Button5", "Button4"})
        if (auto* button = findChild<QWidget*>(QString::fromLatin1(name)))
            button->setVisible(!tuning);
    if (auto* box = findChild<QAbstractButton*>(QStringLiteral("CheckBox2"))) {
        if (tuning) box->setChecked(false);
        box->setEnabled(!tuning);
    }
}

// Header lines written at once into the session folder; one line per poll
// follows from the engine tick.
void TForm1::StartLiveLogs() { liveLogs_.Start(dateDir_); }

void TForm1::ToolButton1Click() {
    decoder_.NarrowBandMode = false;
    const auto minThrottle = IntegerSetting("Не настраивать ниже %");
    if (!minThrottle) return;
    Tuning->Tables().MinTuneThrottle = *minThrottle;
    if (!firmware_->LoadDefaultFirmware()) return;
    ToolButton(1)->setEnabled(false);
    ToolButton(2)->setEnabled(true);
    // A setting refused before any port is asked to open leaves nothing to
    // disconnect: the buttons go back to the disconnected state.
    struct ButtonsBack {
        TForm1* form;
        bool armed = true;
        ~ButtonsBack() {
            if (!armed) return;
            form->ToolButton(1)->setEnabled(true);
            form->ToolButton(2)->setEnabled(false);
        }
    } buttonsBack{this};

    auto periodError = [this](const char* key) {
        ShowError(QStringLiteral("Параметр «%1»: значение «%2» должно быть целым числом больше нуля.")
                      .arg(QString::fromUtf8(key), Q(settings_.SettingValue(key))));
    };
    const auto bcn = IntegerSetting("Интервал коррекции БЦН(мс)");
    if (!bcn) return;
    if (!Positive(bcn)) return periodError("Интервал коррекции БЦН(мс)");
    // Empty (as shipped) means neighbour learning is off.
    int neighbourInterval = 0;
    if (!settings_.SettingValue("Интервал обучения соседних РТ").empty()) {
        const auto neighbour = IntegerSetting("Интервал обучения соседних РТ");
        if (!neighbour) return;
        if (!Positive(neighbour)) return periodError("Интервал обучения соседних РТ");
        neighbourInterval = *neighbour;
    }
    Tuning->Connecting(*bcn, neighbourInterval);
    if (const QString refused = Tuning->ReadControls(); !refused.isEmpty())
        return ShowError(refused);
    const auto rewrite = IntegerSetting("Время перезаписи прошивки(мс)");
    if (!rewrite) return;
    if (!Positive(rewrite)) return periodError("Время перезаписи прошивки(мс)");
    Timer2->setInterval(*rewrite);

    const bool withLc1 = settings_.SettingValue("Датчик кислорода") == "ШДК LC-1";
    const std::string ecuPort = settings_.SettingValue("Ecu Com");
    const std::string lc1Port = settings_.SettingValue("LC-1 Com");
    if (withLc1 && platform::SameDevice(ecuPort, lc1Port)) {
        ShowError(QStringLiteral("Параметры «Ecu Com» (%1) и «LC-1 Com» (%2) указывают на одно и то "
                                 "же устройство. Адаптеру K-line и LC-1 нужны разные порты. Два "
                                 "адаптера с одинаковым серийным номером получают одно имя в "
                                 "/dev/serial/by-id: укажите для них /dev/ttyUSB0, /dev/ttyUSB1 "
                                 "или имена из /dev/serial/by-path.")
                      .arg(Q(ecuPort), Q(lc1Port)));
        return;
    }
    // A port that is not there fails to open; the log says which ones are.
    {
        const auto present = env_.listPorts({ecuPort, withLc1 ? lc1Port : std::string()});
        for (const auto& port : {ecuPort, withLc1 ? lc1Port : std::string()}) {
            if (port.empty()) continue;
            if (const auto note = platform::MissingPortNote(port, present.names)) AppendLog(Q(*note));
        }
    }

    ecu::TECUThread& ecu = *ECUThread;
    ecu.error = 0;
    ecu.PortName = settings_.SettingValue("Ecu Com");
    StatusBar1->SetPanelText(0, settings_.SettingValue("Ecu Com"));
    ecu.PortSpeed = settings_.SettingValue("Скорость ECU COM");
    // The exchange pauses: beyond 10 s a worker would sit out whole
    // minutes between requests, and a negative pause stalls the connect.
    auto pauseSetting = [this](const char* key) -> std::optional<int> {
        const auto v = IntegerSetting(key);
        if (v && (*v < 0 || *v > kMaxExchangePauseMs)) {
            ShowError(QStringLiteral("Параметр «%1»: значение «%2» должно быть целым числом от 0 до %3.")
                          .arg(QString::fromUtf8(key), Q(settings_.SettingValue(key)))
                          .arg(kMaxExchangePauseMs));
            return std::nullopt;
        }
        return v;
    };
    const auto pause = pauseSetting("Таймаут1");
    if (!pause) return;
    ecu.PortTimeOut = *pause;
    const auto readPause = pauseSetting("Таймаут2");
    if (!readPause) return;
    ecu.PortReadTimeOut = *readPause;
    ecu.FastExchange = settings_.SettingValue("Быстрый обмен") == "да" ? 1 : 0;
    ecu.FastInit = settings_.SettingValue("Инициализация K-line") == "быстрая" ? 1 : 0;
    ecu.numlog = 0;
    ecu.Command.Post("OpenComPort");
    buttonsBack.armed = false;

    decoder_.ResetForConnect();
    rate_.Reset();
    firmware_->SetDefaultFileName();
    // A reconnect goes on in the folder of the connection it restores.
    const bool automatic = linkWatch_->AutomaticStep();
    if (!(automatic && !dateDir_.empty()) && !MakeDateDir(true)) dateDir_.clear();
    Button2->setEnabled(true);
    Timer3->start();
    if (settings_.SettingValue("Писать логи") == "да") {
        if (automatic)
            liveLogs_.Resume();
        else
            StartLiveLogs();
        LogsEnabled = true;
    }
    linkWatch_->Connecting(settings_.SettingValue("Переподключаться") == "да");
    if (settings_.SettingValue("Датчик кислорода") == "ШДК LC-1") {
        LAMBDAThread->PortName.Set(settings_.SettingValue("LC-1 Com"));
        LAMBDAThread->PortSpeed.Set("19200");
        LAMBDAThread->Command.Post("OpenComPort");
    }
    Tuning->SetState(QStringLiteral("Включаемся"));
    ValueListEditor1->setEnabled(false);
}

void TForm1::Timer3Timer() {
    if (ECUThread->ConnectFailed == 1 && !linkWatch_->Reconnecting()) {
        // The worker gave up after its start attempts and closed the port:
        // back to the disconnected state, and say so where the user looks.
        ECUThread->ConnectFailed = 0;
        ToolButton2Click();
        SetStateLabel(QStringLiteral("Связь с ECU не установлена"), QColor(255, 255, 0));
        return;
    }
    if (ECUThread->IsDiagnostic != 1) return;
    Timer3->stop();
    Tuning->pishupopr();
    linkWatch_->DiagnosticsStarted();
    engineTimer->start();
    SetStateLabel(QStringLiteral("Диагностика"), QColor(255, 0, 0));
    Tuning->SessionReady();
    if (image_.FirmwareLoaded) ToolButton(10)->setEnabled(true);
    for (int n : {14, 18, 19}) ToolButton(n)->setEnabled(true);
    for (int n : {20, 23, 24}) ToolButton(n)->setEnabled(false);
    Timer2->start();
    for (int n : {7, 8, 21}) ToolButton(n)->setEnabled(true);
}

void TForm1::ToolButton2Click() {
    linkWatch_->Disconnecting();
    LogsEnabled = false;
    liveLogs_.Stop();
    ValueListEditor1->setEnabled(true);
    engineTimer->stop();
    Timer2->stop();
    Tuning->Timer4->stop();
    // A disconnect ends a pending connect too: its completion must not
    // start the live timers again once the ports are being closed.
    Timer3->stop();
    Wait(500);
    ECUThread->Command.Post("CloseComPort");
    LAMBDAThread->Command.Post("CloseComPort");
    ToolButton(2)->setEnabled(false);
    ToolButton(1)->setEnabled(true);
    Tuning->SetState(QStringLiteral("Выключено"));
    Tuning->Disconnected();
    for (int n : {7, 8, 10, 11, 12, 14, 15, 16, 18, 19, 20, 21, 23, 24}) ToolButton(n)->setEnabled(false);
}

void TForm1::engineTimerTimer() {
    // One consistent frame per tick: the worker replaces it whole.
    const auto frame = ECUThread->DiagnosticInfo.Get();
    const live::LambdaSnapshot lc{LAMBDAThread->IsComConnected, LAMBDAThread->IsLambdaConnected,
                                  LAMBDAThread->IsLambdaError, LAMBDAThread->AFR};
    const auto sensor = Sensor();
    const auto tick = decoder_.Tick(*frame, ECUThread->numlog, sensor, lc);
    if (tick.frameDecoded) {
        Diagnostics->Update(decoder_.Values(), tick, decimalSeparator_);
        Dashboard->Update(decoder_.Values(), sensor, decimalSeparator_);
    }
    linkWatch_->WatchLinkHealth();
    // A poll that brought nothing leaves the last figures on screen; the
    // tuning and the logs take nothing from them.
    if (tick.newPoll && !linkWatch_->Stale()) {
        if (image_.FirmwareLoaded) {
            // A frame that did not decode, or an LC-1 reading the window did
            // not accept, still counts for the work point but gives no sample.
            const bool mixtureUsable =
                tick.frameDecoded && (decoder_.NarrowBandMode || live::AcceptLambdaReading(lc));
            Tuning->calculations(decoder_.Values(), decoder_.NarrowBandMode, mixtureUsable);
        }
        if (LogsEnabled)
            liveLogs_.AppendLine(Diagnostics->ShownTexts(), Tuning->Tables().StationaryHitCount,
                                 dateDir_);
    }
}

void TForm1::StatusTimerTimerrTimer() {
    live::LinkFlags flags;
    flags.ecuIsComConnected = ECUThread->IsComConnected;
    flags.ecuIsEcuConnected = ECUThread->IsECUConnected;
    flags.lambdaIsComConnected = LAMBDAThread->IsComConnected;
    flags.lambdaIsConnected = LAMBDAThread->IsLambdaConnected;
    flags.lambdaIsError = LAMBDAThread->IsLambdaError;
    flags.lambdaWarmUpPercent = LAMBDAThread->WarmUpPercent;
    flags.lambdaPortName = LAMBDAThread->PortName.Get();
    flags.ecuNoAnswer = linkWatch_->Stale() ? 1 : 0;
    if (!live::EngineTimerMayRun(flags)) engineTimer->stop();
    StatusBar1->ShowLinkState(flags);
    Tuning->LinkLive(flags.ecuIsComConnected == 1 && flags.ecuIsEcuConnected == 1 &&
                     flags.ecuNoAnswer == 0);
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    Label1->setText(Q(rate_.Tick(ECUThread->numlog, decoder_.Polls().FreshTickCount(),
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
