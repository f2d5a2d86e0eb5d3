#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/MainForm.h"
#include "app/ValueListEditor.h"
#include "ecu/ECUThread.h"
#include "live/ui/StatusBarView.h"
#include "live/ui/UozPointsGrid.h"
#include "platform/TextCodec.h"
#include "tests/support/FormParts.h"
#include "tuning/ui/TuningPanel.h"

using namespace korvane::app;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

struct Fixture {
    fs::path dir;
    RecordingDialogs dialogs;
    std::vector<std::string> ports = {"/dev/ttyUSB0", "/dev/ttyS0"};
    bool portsOk = true;
    std::vector<std::string> portProblems;
    std::vector<int> waits;
    bool realWait = false;  // the window's own wait instead of the recorder

    Fixture() {
        static int n = 0;
        dir = fs::temp_directory_path() /
              ("korvane_form_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(dir);
    }
    ~Fixture() { fs::remove_all(dir); }

    void WriteConfig(const std::string& utf8) {
        std::string bytes, error;
        korvane::platform::Utf8ToCp1251(utf8, bytes);
        korvane::platform::WriteFileAtomically((dir / "config.ini").string(), bytes, error);
    }

    std::unique_ptr<TForm1> Make() {
        FormEnvironment env;
        env.dialogs = &dialogs;
        env.workDir = dir.string();
        env.listPorts = [this](const std::vector<std::string>&) {
            return korvane::platform::PortListResult{portsOk, ports, portProblems, {}};
        };
        if (!realWait) env.wait = [this](int ms) { waits.push_back(ms); };
        auto form = std::make_unique<TForm1>(env);
        QApplication::processEvents();  // start-up messages are shown once the loop runs
        return form;
    }
};

const char* kFullConfig =
    "Ecu Com=/dev/ttyUSB0\r\nСкорость ECU COM=38400\r\nПисать логи=нет\r\n"
    "Датчик кислорода=УДК\r\nЗагрузить прошивку по умолчанию=нет\r\n";

// The built-in settings (every key a connect reads) with a port that does
// not exist, no logs and no LC-1.
std::string ConnectableConfig() {
    std::string text;
    for (const auto& line : SettingsStore::BuiltInLines()) text += line + "\r\n";
    return text + kFullConfig;
}

}  // namespace

TEST(MainWindow, LooksAsLaidOutAtStart) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    auto form = f.Make();
    EXPECT_TRUE(f.dialogs.errors.isEmpty()) << f.dialogs.errors.join("|").toStdString();

    EXPECT_EQ(form->windowTitle(), "Korvane 1.45.4");
    EXPECT_EQ(form->centralWidget()->size(), QSize(964, 523));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());  // fixed size
    EXPECT_LE(form->maximumWidth(), 1280);
    EXPECT_LE(form->maximumHeight(), 800);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    ASSERT_EQ(form->menuBar()->actions().size(), 1);
    EXPECT_EQ(form->menuBar()->actions()[0]->text(), "Фаил");

    // Toolbar order left to right, icon indices, and which start enabled.
    const int order[] = {1, 2, 4, 5, 7, 8, 10, 11, 12, 14, 15, 16, 18, 19, 20, 21, 23, 24, 27};
    const int icons[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19};
    ASSERT_EQ(form->ToolButtons().size(), std::size(order));
    int lastX = 0;
    for (size_t i = 0; i < std::size(order); ++i) {
        QToolButton* b = form->ToolButtons()[i];
        EXPECT_EQ(b->objectName(), QString("ToolButton%1").arg(order[i]));
        EXPECT_EQ(b->property("iconIndex").toInt(), icons[i]);
        EXPECT_GT(b->x(), lastX);
        lastX = b->x();
        // The open button too: an image can be looked at without a car.
        const bool enabled =
            order[i] == 1 || order[i] == 4 || order[i] == 5 || order[i] == 7 || order[i] == 27;
        EXPECT_EQ(b->isEnabled(), enabled) << b->objectName().toStdString();
    }
    // Every button that does something names itself; the others say they
    // are reserved.
    const std::map<int, QString> tips = {{1, "Подключиться"},
                                         {2, "Отключиться"},
                                         {4, "Настройки"},
                                         {5, "Журнал"},
                                         {7, "Открыть прошивку"},
                                         {8, "Считать прошивку из ECU"},
                                         {10, "Начать обучение"},
                                         {11, "Остановить обучение"},
                                         {14, "Таблица обучения"},
                                         {18, "Панель приборов"},
                                         {19, "Параметры"},
                                         {21, "Калибровки"},
                                         {27, "Выход"}};
    for (int n : order) {
        const auto tip = tips.find(n);
        EXPECT_EQ(form->ToolButton(n)->toolTip(),
                  tip == tips.end() ? QString("Зарезервировано: кнопка пока ничего не делает")
                                    : tip->second)
            << n;
    }
    EXPECT_EQ(form->ToolButtons()[0]->x(), 11);
    EXPECT_EQ(form->ToolButtons()[1]->x() - form->ToolButtons()[0]->x(), 23);
    EXPECT_EQ(Part<QComboBox>(*form, "ComboBox1")->x(), 563);
    // "РТ" shows, with no item chosen until the first table fill.
    EXPECT_EQ(Part<QComboBox>(*form, "ComboBox1")->currentIndex(), -1);
    EXPECT_EQ(Part<QComboBox>(*form, "ComboBox1")->placeholderText(), "РТ");
    EXPECT_EQ(Part<QComboBox>(*form, "ComboBox1")->count(), 6);
    EXPECT_TRUE(Part<QLabel>(*form, "Label1")->text().isEmpty());
    EXPECT_EQ(Part<QPushButton>(*form, "Button2")->text(), "Скриншот");
    EXPECT_FALSE(Part<QPushButton>(*form, "Button2")->isEnabled());

    // Panels in front, the state label, the log.
    EXPECT_EQ(Part<QStackedWidget>(*form, "LeftArea")->currentWidget(),
              Part<QWidget>(*form, "PanelGrid"));
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "Eculog"));
    EXPECT_EQ(Part<QStackedWidget>(*form, "LeftArea")->geometry(), QRect(1, 32, 715, 476));
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->geometry(), QRect(718, 32, 243, 475));
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Нет Данных");
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->palette().color(QPalette::Window),
              QColor(255, 255, 0));
    EXPECT_FALSE(
        Part<QTableWidget>(*form, "StringGrid2")->isVisibleTo(Part<QWidget>(*form, "PanelGrid")));
    EXPECT_EQ(form->LogLines(), QStringList{"Korvane started..."});
    EXPECT_EQ(
        Part<korvane::live::UozPointsGrid>(*form, "StringGrid3")->horizontalHeaderItem(7)->text(),
        "Результат");
    EXPECT_NE(Part<QStackedWidget>(*form, "LeftArea")->currentWidget(),
              Part<QWidget>(*form, "PanelUOZ"));
    EXPECT_FALSE(Part<QProgressBar>(*form, "StatusProgressBar")->isVisibleTo(form.get()));
    EXPECT_EQ(Part<korvane::live::StatusBarView>(*form, "StatusBar1")->geometry(),
              QRect(0, 507, 964, 16));

    // The view buttons bring their panels to the front.
    form->ToolButton(4)->click();
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "PanelSett"));
    form->ToolButton(5)->click();
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "Eculog"));
}

TEST(MainWindow, StartsUsableWithoutConfigAndWithoutPorts) {
    Fixture f;
    f.ports.clear();
    auto form = f.Make();
    ASSERT_EQ(f.dialogs.errors.size(), 1);  // one message gathers every start-up problem
    const QString msg = f.dialogs.errors[0];
    EXPECT_TRUE(msg.contains(QString::fromStdString((f.dir / "config.ini").string())));
    EXPECT_TRUE(msg.contains("Датчик кислорода"));
    EXPECT_TRUE(msg.contains("Загрузить прошивку по умолчанию"));
    EXPECT_EQ(form->Settings().SettingValue("Таймаут1"), "20");  // built-in lines stay
    EXPECT_EQ(form->Settings().SettingValue("Датчик кислорода"), "ШДК LC-1");
    EXPECT_EQ(form->Settings().SettingValue("Ecu Com"), "ComErr");
    EXPECT_EQ(form->ErrorComPorts(), 1);
    EXPECT_EQ(form->LogLines(),
              (QStringList{"Korvane started...", "ОШИБКА: В вашей системе нет COM портов!"}));
    // The editor shows the values as the store holds them.
    EXPECT_EQ(Part<korvane::app::ValueListEditor>(*form, "ValueListEditor1")->item(1, 1)->text(),
              "ComErr");
    EXPECT_EQ(form->EcuWorker().ErrorComPorts, 1);

    // An adapter plugged in afterwards: the connect looks for the ports
    // again and lifts the guard, so the worker may open one.
    f.ports = {"/dev/ttyUSB0"};
    form->ToolButton(1)->click();
    EXPECT_EQ(form->ErrorComPorts(), 0);
    EXPECT_EQ(form->EcuWorker().ErrorComPorts, 0);
    form->ToolButton(2)->click();

    Fixture g;
    g.portsOk = false;
    g.WriteConfig(kFullConfig);
    auto other = g.Make();
    EXPECT_TRUE(other->LogLines().contains("ОШИБКА: Невозможно получить список COM портов!"));
    EXPECT_EQ(other->ErrorComPorts(), 1);
}

// The pick lists are made again when the settings panel opens, so an
// adapter plugged in after start-up is offered; a by-id link left by an
// adapter that is gone is said once at start-up.
TEST(MainWindow, PortPickListsFollowAdaptersPluggedInLater) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    f.portProblems = {"Порт /dev/serial/by-id/gone: ссылка указывает на отсутствующее устройство"};
    auto form = f.Make();
    EXPECT_EQ(form->LogLines().count(QString::fromStdString(f.portProblems[0])), 1);
    const std::string ftdi = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    f.ports = {ftdi, "/dev/ttyUSB0", "/dev/ttyS0", "LPT1"};
    form->ToolButton(4)->click();
    const std::vector<std::string> offered = {ftdi, "/dev/ttyUSB0", "/dev/ttyS0"};
    EXPECT_EQ(Part<korvane::app::ValueListEditor>(*form, "ValueListEditor1")->PickListOf("Ecu Com"),
              offered);
    EXPECT_EQ(
        Part<korvane::app::ValueListEditor>(*form, "ValueListEditor1")->PickListOf("LC-1 Com"),
        offered);
    EXPECT_EQ(Part<QStackedWidget>(*form, "RightArea")->currentWidget(),
              Part<QWidget>(*form, "PanelSett"));
    EXPECT_EQ(form->LogLines().count(QString::fromStdString(f.portProblems[0])), 1);
}

TEST(MainWindow, SettingsEditorEditsSavesAndRefusesDuplicates) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    auto form = f.Make();
    auto* editor = Part<korvane::app::ValueListEditor>(*form, "ValueListEditor1");
    EXPECT_EQ(editor->horizontalHeaderItem(0)->text(), "Параметры");
    EXPECT_EQ(editor->horizontalHeaderItem(1)->text(), "Значения");
    EXPECT_EQ(editor->PickListOf("ecu com"),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyS0"}));
    EXPECT_EQ(editor->PickListOf("Скорость ECU COM"),
              (std::vector<std::string>{"10400", "38400", "57600"}));

    editor->item(1, 1)->setText("57600");  // "Скорость ECU COM"
    EXPECT_EQ(form->Settings().SettingValue("Скорость ECU COM"), "57600");

    editor->item(1, 0)->setText("ECU COM");  // would duplicate line 0's key
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_TRUE(f.dialogs.errors[0].contains("ECU COM"));
    EXPECT_EQ(editor->item(1, 0)->text(), "Скорость ECU COM");
    EXPECT_EQ(form->Settings().Line(1), "Скорость ECU COM=57600");

    // Insert appends a row; its key and value go to the end of the file.
    editor->setFocus();
    editor->setCurrentCell(0, 0);
    QTest::keyClick(editor, Qt::Key_Insert);
    const int row = editor->rowCount() - 1;
    editor->item(row, 0)->setText("Мой ключ");
    editor->item(row, 1)->setText("42");
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(editor->rowCount(), row + 1);  // rows are never deleted

    editor->item(2, 1)->setText("abc");  // "Писать логи": no number expected
    form->Settings().AppendLine("Таймаут2=15O");
    form->Settings().AppendLine("Весовой коэф. коррекции(%)=");
    Part<QPushButton>(*form, "Сохранить")->click();
    // Saved as typed; the values that are no number named in one line.
    EXPECT_EQ(form->LogLines().mid(form->LogLines().size() - 2),
              (QStringList{"Не являются числами: «Таймаут2» = «15O»; «Весовой коэф. "
                           "коррекции(%)» = «»",
                           "Настройки сохранены"}));
    editor->item(2, 1)->setText("нет");
    form->Settings().SetSettingValue("Таймаут2", "150");
    form->Settings().SetSettingValue("Весовой коэф. коррекции(%)", "70");
    Part<QPushButton>(*form, "Сохранить")->click();
    EXPECT_EQ(form->LogLines().last(), "Настройки сохранены");
    EXPECT_FALSE(form->LogLines().at(form->LogLines().size() - 2).startsWith("Не являются"));
    // The panel says how the save went, under the list, with the log hidden.
    EXPECT_EQ(Part<QLabel>(*form, "SettingsNote")->text(), "Настройки сохранены");
    // A session speed the ECU does not know is named at once.
    form->Settings().SetSettingValue("Скорость ECU COM", "12345");
    Part<QPushButton>(*form, "Сохранить")->click();
    EXPECT_EQ(form->LogLines().at(form->LogLines().size() - 2),
              "Не является допустимым значением: «Скорость ECU COM» = «12345» (возможны 10400, "
              "38400, 57600)");
    EXPECT_TRUE(Part<QLabel>(*form, "SettingsNote")->text().contains("12345"));
    form->Settings().SetSettingValue("Скорость ECU COM", "57600");
    Part<QPushButton>(*form, "Сохранить")->click();
    std::string bytes, error, expected;
    ASSERT_TRUE(korvane::platform::ReadBinaryFile((f.dir / "config.ini").string(), bytes, error));
    korvane::platform::Utf8ToCp1251(
        "Ecu Com=/dev/ttyUSB0\r\nСкорость ECU COM=57600\r\nПисать логи=нет\r\n"
        "Датчик кислорода=УДК\r\nЗагрузить прошивку по умолчанию=нет\r\n"
        "Переподключаться=нет\r\nБыстрый обмен=да\r\nИнициализация K-line=нет\r\n"
        "Заблокированные ячейки=\r\n"
        "Мин. ТОЖ для обучения=60\r\nМакс. скорость дросселя %/с=20\r\n"
        "Макс. скорость оборотов об/с=1000\r\nМакс. шаг поправки %=10\r\n"
        "Пределы поправки=0.7 1.3\r\nМой ключ=42\r\nТаймаут2=150\r\n"
        "Весовой коэф. коррекции(%)=70\r\n",
        expected);
    EXPECT_EQ(bytes, expected);

    // A file that cannot be written: a message with the path; the list stays.
    fs::remove(f.dir / "config.ini");
    fs::create_directory(f.dir / "config.ini");  // a folder where the file should be
    Part<QPushButton>(*form, "Сохранить")->click();
    ASSERT_EQ(f.dialogs.errors.size(), 2);
    EXPECT_TRUE(f.dialogs.errors[1].contains("config.ini"));
    EXPECT_EQ(form->Settings().SettingValue("Мой ключ"), "42");
}

TEST(MainWindow, ScreenshotsNeedAWorkingFolderAndAreNumberedAcrossFolders) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    auto form = f.Make();
    form->show();
    form->Button2Click();
    ASSERT_EQ(f.dialogs.errors.size(), 1);
    EXPECT_EQ(form->ScreenshotCounter(), 0);

    ASSERT_TRUE(form->MakeDateDir());
    const std::string first = form->DateDir();
    form->Button2Click();
    ASSERT_EQ(f.dialogs.errors.size(), 1) << f.dialogs.errors.last().toStdString();
    EXPECT_EQ(form->ScreenshotCounter(), 1);
    EXPECT_EQ(form->LogLines().last(),
              QString::fromStdString("Снимок экрана сохранён: " + first + "/pic/screenshot_0.jpg"));
    QTest::qWait(1100);  // the folder name has one-second resolution
    ASSERT_TRUE(form->MakeDateDir());
    ASSERT_NE(form->DateDir(), first);
    form->Button2Click();
    EXPECT_TRUE(fs::exists(first + "/pic/screenshot_0.jpg"));
    EXPECT_TRUE(fs::exists(form->DateDir() + "/pic/screenshot_1.jpg"));
    std::string bytes, error;
    korvane::platform::ReadBinaryFile(first + "/pic/screenshot_0.jpg", bytes, error);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");  // a JPEG
}

// With no session there is nothing to end on the wire: exit closes at once,
// without a wait.
TEST(MainWindow, ExitWithoutASessionClosesAtOnce) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    auto form = f.Make();
    form->show();
    form->ToolButton(27)->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(f.waits.empty());
}

// The worker's answer to a connect (here: the port did not open) comes after
// the user disconnected: it must neither complete the connect nor change
// what the window shows.
TEST(MainWindow, DisconnectDuringAPendingConnectLeavesEveryTimerStopped) {
    Fixture f;
    f.realWait = true;
    f.WriteConfig(ConnectableConfig());
    auto form = f.Make();
    form->Settings().SetSettingValue("Ecu Com", (f.dir / "no-such-port").string());
    form->ToolButton1Click();
    form->ToolButton2Click();
    QTest::qWait(300);
    for (QTimer* t : {Part<QTimer>(*form, "engineTimer"), Part<QTimer>(*form, "Timer1"),
                      Part<QTimer>(*form, "Timer2"), Part<QTimer>(*form, "Timer4")})
        EXPECT_FALSE(t->isActive()) << t->objectName().toStdString();
    EXPECT_EQ(Part<QLabel>(*form, "Label6")->text(), "Выключено");
}

// A port that cannot be opened (missing, or held by another program) ends
// the connect: the window is back in its disconnected state by itself.
TEST(MainWindow, AConnectWhosePortDoesNotOpenReturnsToDisconnected) {
    Fixture f;
    f.realWait = true;
    f.WriteConfig(ConnectableConfig());
    auto form = f.Make();
    form->Settings().SetSettingValue("Ecu Com", (f.dir / "no-such-port").string());
    form->ToolButton1Click();
    EXPECT_FALSE(form->ToolButton(1)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Part<QLabel>(*form, "Label6")->text() == "Связь с ECU не установлена"; },
        3000))
        << form->LogLines().join("|").toStdString();
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    EXPECT_FALSE(form->ToolButton(2)->isEnabled());
    EXPECT_FALSE(Part<QTimer>(*form, "engineTimer")->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->EcuWorker().Idle(); }, 2000));
}

TEST(MainWindow, ExchangePausesOutsideTheirRangeAreRefusedAtConnect) {
    struct Case {
        const char* key;
        const char* value;
    } cases[] = {
        {"Таймаут1", "-1"}, {"Таймаут1", "30000"}, {"Таймаут2", "-5"}, {"Таймаут2", "2147483647"}};
    for (const auto& c : cases) {
        Fixture f;
        f.WriteConfig(ConnectableConfig());
        auto form = f.Make();
        form->Settings().SetSettingValue(c.key, c.value);
        form->ToolButton1Click();
        ASSERT_EQ(f.dialogs.errors.size(), 1) << c.key << "=" << c.value;
        EXPECT_TRUE(f.dialogs.errors[0].contains(QString::fromUtf8(c.key)));
        EXPECT_TRUE(f.dialogs.errors[0].contains(QString::fromUtf8(c.value)));
        QTest::qWait(50);  // time for a worker to act on a command, had one been posted
        EXPECT_FALSE(form->LogLines().join("\n").contains("порт")) << c.key << "=" << c.value;
    }
}

// The locks are read with the settings: at the desk the grid holds them
// before any connect, and a toggle there adds its one cell to the saved
// list instead of replacing it.
TEST(MainWindow, ALockToggledAtTheDeskKeepsTheSavedList) {
    Fixture f;
    f.WriteConfig(std::string(kFullConfig) + "Заблокированные ячейки=3 17 200\r\n");
    auto form = f.Make();
    form->show();
    QApplication::processEvents();
    auto& tuning = form->Tuning();
    for (const int k : {3, 17, 200}) EXPECT_TRUE(tuning.Tables().Locked[k]) << k;
    QTableWidget* grid = Part<QTableWidget>(*form, "StringGrid2");
    // Half-way through changing other settings: the toggle saves the lock only.
    form->Settings().SetSettingValue("Ecu Com", "COM9");
    form->Settings().SetSettingValue("Скорость ECU COM", "57600");
    // Column 0, row 5: k 5.
    QTest::mouseClick(grid->viewport(), Qt::RightButton, {},
                      grid->visualItemRect(grid->item(6, 1)).center());
    SettingsStore saved;
    std::string error;
    ASSERT_TRUE(saved.Load((f.dir / "config.ini").string(), error)) << error;
    EXPECT_EQ(saved.SettingValue("Заблокированные ячейки"), "3 5 17 200");
    EXPECT_EQ(saved.SettingValue("Ecu Com"), "/dev/ttyUSB0");
    EXPECT_EQ(saved.SettingValue("Скорость ECU COM"), "38400");
    EXPECT_EQ(form->Settings().SettingValue("Заблокированные ячейки"), "3 5 17 200");
    EXPECT_EQ(form->Settings().SettingValue("Ecu Com"), "COM9");
    EXPECT_EQ(form->Settings().SettingValue("Скорость ECU COM"), "57600");
    EXPECT_TRUE(form->LogLines().filter("Заблокирована ячейка").size() == 1)
        << form->LogLines().join("|").toStdString();
}

// A "config.ini" the program could not read is kept aside as
// "config.ini.bak" before the first save replaces it; a folder in its place
// is reported at start like any unreadable file.
TEST(MainWindow, UnreadableConfigIsKeptAsBackupBeforeTheFirstSave) {
    {
        Fixture f;
        const std::string garbage =
            "\xFF\xFE"
            "a";  // a UTF-16 mark and half a character
        std::string error;
        korvane::platform::WriteFileAtomically((f.dir / "config.ini").string(), garbage, error);
        auto form = f.Make();
        ASSERT_EQ(f.dialogs.errors.size(), 1);
        EXPECT_TRUE(f.dialogs.errors[0].contains("config.ini"));
        form->СохранитьClick();
        std::string backup;
        ASSERT_TRUE(
            korvane::platform::ReadBinaryFile((f.dir / "config.ini.bak").string(), backup, error));
        EXPECT_EQ(backup, garbage);
        SettingsStore saved;
        ASSERT_TRUE(saved.Load((f.dir / "config.ini").string(), error)) << error;
        EXPECT_EQ(saved.SettingValue("Ecu Com"), form->Settings().SettingValue("Ecu Com"));
    }
    {
        Fixture f;
        fs::create_directories(f.dir / "config.ini");
        auto form = f.Make();
        ASSERT_EQ(f.dialogs.errors.size(), 1);
        EXPECT_TRUE(f.dialogs.errors[0].contains("config.ini"));
        EXPECT_TRUE(f.dialogs.errors[0].contains("папка")) << f.dialogs.errors[0].toStdString();
    }
}

// Another running Korvane in the same folder would write the same logs and
// image copies: the start says so once, naming its process; a lock left by
// a program that is gone says nothing.
TEST(MainWindow, AnotherKorvaneInTheSameFolderIsNamedAtStart) {
    for (const bool running : {true, false}) {
        Fixture f;
        f.WriteConfig(kFullConfig);
        pid_t holder = ::getppid();
        if (!running) {
            holder = ::fork();
            if (holder == 0) ::_exit(0);
            ::waitpid(holder, nullptr, 0);
        }
        std::ofstream(f.dir / "korvane.lock") << holder << "\n";
        auto form = f.Make();
        QTest::qWait(50);
        const QStringList named = f.dialogs.errors.filter("уже работает другая копия Korvane");
        if (running) {
            ASSERT_EQ(named.size(), 1);
            EXPECT_TRUE(named[0].contains(QString::number(holder)));
        } else {
            EXPECT_TRUE(named.isEmpty());
        }
    }
}

// The log panel folds a noisy line's errors, keeps what the user did on its
// own and marked, and every line stays available unfolded; at the desk, with
// no session folder, the lines wait for the journal.
TEST(MainWindow, TheLogPanelFoldsRunsAndMarksWhatMatters) {
    Fixture f;
    f.WriteConfig(kFullConfig);
    auto form = f.Make();
    for (int n = 1; n <= 5; ++n) {
        form->AppendLog("ECU: << ОШИБКА Неправильный ответ блока!");
        form->AppendLog("Запрос - 0x21 0x0F; Ответ - null; (0x61 0x0F)");
        form->AppendLog(QString("Ошибка №%1").arg(n));
    }
    form->AppendLog("Настройки сохранены");
    const QStringList shown = form->ShownLogLines();
    ASSERT_EQ(shown.size(), 3) << shown.join("|").toStdString();
    EXPECT_EQ(shown[0], "Korvane started...");
    EXPECT_TRUE(shown[1].startsWith("Ошибка обмена ×5")) << shown[1].toStdString();
    EXPECT_EQ(shown[2], "Настройки сохранены");
    EXPECT_EQ(form->LogLines().size(), 1 + 15 + 1);
    EXPECT_EQ(form->LogLines()[15], "Ошибка №5");
    // The notice is bold; the folded run is not.
    auto* memo = Part<QPlainTextEdit>(*form, "Memo1");
    const QTextBlock last = memo->document()->lastBlock();
    ASSERT_FALSE(last.textFormats().isEmpty());
    EXPECT_EQ(last.textFormats().first().format.fontWeight(), QFont::Bold);
    EXPECT_NE(last.previous().textFormats().first().format.fontWeight(), QFont::Bold);
    // A progress line replaces itself, in the panel and in the kept lines.
    form->AppendLog("ECU: >> Read ECU RAM - 0x00 0x00");
    form->ReplaceLastLogLine("ECU: >> Read ECU RAM - 0x00 0x60");
    EXPECT_EQ(form->LogLines().last(), "ECU: >> Read ECU RAM - 0x00 0x60");
    EXPECT_EQ(form->ShownLogLines().last(), "ECU: >> Read ECU RAM - 0x00 0x60");
    EXPECT_EQ(form->ShownLogLines().size(), 4);
    // No session folder at the desk: nothing is written anywhere yet.
    EXPECT_TRUE(form->JournalPath().isEmpty());
    for (const auto& entry : fs::directory_iterator(f.dir)) EXPECT_FALSE(entry.is_directory());
}

// Qt's own dialogs speak Russian once its translations are loaded.
TEST(MainWindow, StandardDialogsSpeakRussian) {
    QTranslator* translator = InstallRussianTranslations(*qApp);
    ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
    QMessageBox box(QMessageBox::Question, "Korvane", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Нет");
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    ConfigureFileDialog(dialog, "Обычные прошивки|*.bin", true);
    auto* lookIn = dialog.findChild<QLabel*>("lookInLabel");
    ASSERT_NE(lookIn, nullptr);
    EXPECT_NE(lookIn->text(), "Look in:");
    // The file types' column, which the system names in English, is left out.
    auto* view = dialog.findChild<QTreeView*>("treeView");
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isColumnHidden(2));
    EXPECT_FALSE(view->isColumnHidden(0));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    // The other tests see Qt's texts as they were.
    QCoreApplication::removeTranslator(translator);
}

// Every key of the settings list can be read: its column is as wide as the
// longest key, or the key wraps, and the values keep their room.
TEST(MainWindow, SettingsKeysAreReadWhole) {
    Fixture f;
    f.WriteConfig(ConnectableConfig());
    auto form = f.Make();
    form->show();
    form->ToolButton(4)->click();
    auto* editor = Part<ValueListEditor>(*form, "ValueListEditor1");
    QApplication::processEvents();
    const QFontMetrics fm(editor->font());
    EXPECT_GE(editor->columnWidth(1), ValueListEditor::kMinValueWidth - 20);
    for (int row = 0; row < editor->rowCount(); ++row) {
        const QString key = editor->item(row, 0)->text();
        const bool fits = fm.horizontalAdvance(key) + 6 <= editor->columnWidth(0);
        const bool wrapped = editor->rowHeight(row) >= 2 * fm.height();
        EXPECT_TRUE(fits || wrapped) << key.toStdString();
        EXPECT_EQ(editor->item(row, 0)->toolTip(), key);
    }
}
