#include "app/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
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
#include "live/ui/StatusBarView.h"
#include "platform/qt/QtUiBridge.h"
#include "platform/qt/ScreenCapture.h"

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
    if (!env_.wait)
        env_.wait = [](int ms) {
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < ms)
                QApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                                QEventLoop::WaitForMoreEvents,
                                            static_cast<int>(ms - t.elapsed()));
        };
    bridge_ = std::make_unique<platform::QtUiBridge>(this);
    BuildLayout();
    FormCreate();
}

TForm1::~TForm1() { bridge_->Release(); }

std::string TForm1::ConfigPath() const { return env_.workDir + "/config.ini"; }

QToolButton* TForm1::ToolButton(int number) const {
    return findChild<QToolButton*>(QStringLiteral("ToolButton%1").arg(number));
}

void TForm1::BuildLayout() {
    setWindowTitle(QStringLiteral("Korvane 1.45.4"));
    setFont(WindowFont());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    auto* fileMenu = menuBar()->addMenu(QStringLiteral("Фаил"));
    fileMenu->setObjectName(QStringLiteral("Fail"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    BuildTopBar(client);

    // Left view area.
    LeftArea = new QStackedWidget(client);
    LeftArea->setGeometry(1, 32, 715, 476);
    PanelGrid = MakePanel(LeftArea, "PanelGrid");
    StringGrid2 = new QTableWidget(17, 17, PanelGrid);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setGeometry(0, 0, 715, 476);
    StringGrid2->hide();
    Label6 = new QLabel(QStringLiteral("Нет Данных"), PanelGrid);
    Label6->setObjectName(QStringLiteral("Label6"));
    QFont stateFont(QStringLiteral("Tahoma"), 10, QFont::Bold);
    stateFont.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    Label6->setFont(stateFont);
    Label6->setAutoFillBackground(true);
    Label6->move(0, 0);
    SetStateLabel(QStringLiteral("Нет Данных"), QColor(255, 255, 0));
    LeftArea->addWidget(PanelGrid);

    PanelXX = MakePanel(LeftArea, "PanelXX");
    PageControl1 = new QTabWidget(PanelXX);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 205, 715, 271);
    for (const char* page : {"Системные", "Данные", "График"})
        PageControl1->addTab(new QWidget(PageControl1), QString::fromUtf8(page));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
    LeftArea->addWidget(PanelXX);
    LeftArea->setCurrentWidget(PanelGrid);

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
    RightArea->addWidget(Paneldia);

    Calibrpanel = MakePanel(RightArea, "Calibrpanel");
    TreeView = new QTreeWidget(Calibrpanel);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setHeaderHidden(true);
    TreeView->setGeometry(0, 0, 243, 250);
    MapButton = new QPushButton(QStringLiteral("Карта"), Calibrpanel);
    MapButton->setObjectName(QStringLiteral("Карта"));
    MapButton->setGeometry(0, 448, 75, 25);
    RightArea->addWidget(Calibrpanel);
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
    connect(ToolButton(4), &QToolButton::clicked, this, [this] { ToolButton4Click(); });
    connect(ToolButton(5), &QToolButton::clicked, this, [this] { ToolButton5Click(); });
    connect(ToolButton(14), &QToolButton::clicked, this, [this] { ToolButton14Click(); });
    connect(ToolButton(18), &QToolButton::clicked, this, [this] { ToolButton18Click(); });
    connect(ToolButton(19), &QToolButton::clicked, this, [this] { ToolButton19Click(); });
    connect(ToolButton(27), &QToolButton::clicked, this, [this] { ToolButton27Click(); });

    ComboBox1 = new QComboBox(bar);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(563, 4, 144, 22);
    ComboBox1->addItems({QStringLiteral("РТ"), QStringLiteral("Поправка "),
                         QStringLiteral("Коррекция"), QStringLiteral("БЦН"), QStringLiteral("УОЗ")});
    ComboBox1->setCurrentIndex(0);

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
    // 1. Rate label empty, run-time state cleared (members start cleared).
    Label1->clear();

    // 2. Settings from "config.ini"; the built-in lines stay when it cannot
    // be read.
    std::string error;
    if (!settings_.Load(ConfigPath(), error)) {
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
    for (const auto& pl : FixedPickLists()) ValueListEditor1->SetPickList(pl.key, pl.choices);
    ValueListEditor1->Reload();

    // 5. The log.
    Memo1->clear();
    AppendLog(QStringLiteral("Korvane started..."));

    // 8. The port lists.
    FindComPorts();

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
    const auto result = app::FindComPorts(listed.ok, listed.names, settings_);
    ValueListEditor1->SetPickList("LC-1 Com", result.names);
    ValueListEditor1->SetPickList("Ecu Com", result.names);
    for (const auto& line : result.logLines) AppendLog(Q(line));
    if (result.error) {
        errorComPorts_ = 1;
        ValueListEditor1->Reload();
    }
}

void TForm1::SetStateLabel(const QString& text, const QColor& background) {
    Label6->setText(text);
    QPalette pal = Label6->palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, QColor(128, 128, 0));
    Label6->setPalette(pal);
    Label6->adjustSize();
}

void TForm1::ShowError(const QString& text) { env_.dialogs->ShowError(this, text); }

void TForm1::Wait(int ms) { env_.wait(ms); }

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

void TForm1::ToolButton4Click() { RightArea->setCurrentWidget(PanelSett); }
void TForm1::ToolButton5Click() { RightArea->setCurrentWidget(Eculog); }
void TForm1::ToolButton14Click() { LeftArea->setCurrentWidget(PanelGrid); }
void TForm1::ToolButton18Click() { RightArea->setCurrentWidget(PanelMain); }
void TForm1::ToolButton19Click() { RightArea->setCurrentWidget(Paneldia); }

void TForm1::СохранитьClick() {
    std::string error;
    if (!settings_.Save(ConfigPath(), error))
        ShowError(QStringLiteral("Не удаётся сохранить файл настроек «%1»: %2.")
                      .arg(Q(ConfigPath()), Q(error)));
}

bool TForm1::MakeDateDir() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string path = env_.workDir + "/" + DateDirName(local);
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        ShowError(QStringLiteral("Не удаётся создать папку «%1»: %2.").arg(Q(path), Q(ec.message())));
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
    std::string error = ec ? ec.message() : std::string();
    if (!ec && platform::SaveJpeg(platform::GrabPrimaryScreen(), path, 100, error)) {
        ++screenshotCounter_;
        return;
    }
    ShowError(QStringLiteral("Не удаётся сохранить снимок экрана «%1»: %2.").arg(Q(path), Q(error)));
}

void TForm1::ToolButton27Click() {
    // One exchange's time, then the workers close their ports, then a grace
    // period for them to do it; the log keeps showing their lines meanwhile.
    Wait(0);
    Wait(4000);
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing is always allowed. Workers still waiting on the window are
    // released so none can hold up the end of the program.
    bridge_->Release();
    event->accept();
}

}  // namespace korvane::app
