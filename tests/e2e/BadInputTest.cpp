// What a user can get wrong, with the real window, the real workers and the
// simulator: setting values that are no usable number or port, and image
// files that are no image. The program starts, says what is wrong and
// writes nothing into the ECU from a file it refused or finds implausible.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/MainForm.h"
#include "ecu/ECUThread.h"
#include "firmware/FirmwareImage.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/e2e/WindowFixture.h"
#include "tests/support/FormParts.h"

using namespace korvane;
namespace fs = std::filesystem;
using korvane::test::Part;

namespace {

using Bytes = std::vector<uint8_t>;

using korvane::test::ImageBytes;
using korvane::test::WriteAll;

// The demo image with every correction byte zero: the right size, and a
// table that would cut the fuel of a running engine.
Bytes ZeroCorrectionImage() {
    Bytes b = sim::MakeSyntheticFirmware();
    std::fill_n(b.begin() + 0x7CF7, 256, uint8_t{0});
    return b;
}

class BadInput : public korvane::test::WindowTest {
  protected:
    std::atomic<int> ramWrites{0};

    void SetUp() override {
        WindowTest::SetUp();
        sim::Options o = SimulatorOptions();
        o.lc1WarmUp = false;
        o.onRamWrite = [this](uint16_t, size_t) { ++ramWrites; };
        StartSimulator(o);
        ASSERT_FALSE(HasFatalFailure());
        simulator->SetLc1Lambda(1.0);
    }

    // A working config with some values replaced.
    void WriteConfig(const std::map<std::string, std::string>& changed) {
        std::vector<std::pair<std::string, std::string>> lines = {
            {"Ecu Com", (dir / "ecu").string()},
            {"Скорость ECU COM", "38400"},
            {"Таймаут1", "0"},
            {"Таймаут2", "200"},
            {"Быстрый обмен", "да"},
            {"LC-1 Com", (dir / "lc1").string()},
            {"Не настраивать ниже %", "2"},
            {"Писать логи", "нет"},
            {"Интервал коррекции БЦН(мс)", "120000"},
            {"Время перезаписи прошивки(мс)", "500"},
            {"Коэф. обучения соседних РТ", ""},
            {"Интервал обучения соседних РТ", ""},
            {"Датчик кислорода", "УДК"},
            {"Прошивка по умолчанию", "j5ls.bin"},
            {"Загрузить прошивку по умолчанию", "нет"},
        };
        std::string text;
        for (auto& [key, value] : lines) {
            if (const auto it = changed.find(key); it != changed.end()) value = it->second;
            text += key + "=" + value + "\r\n";
        }
        WriteConfigText(text);
    }

    static bool Connected(app::TForm1& form) { return WaitUntilLive(form); }
    static bool LogHas(app::TForm1& form, const QString& part, int ms) {
        return QTest::qWaitFor([&] { return !form.LogLines().filter(part).isEmpty(); }, ms);
    }
};

// --- Settings ----------------------------------------------------------------

struct SettingCase {
    const char* name;
    const char* key;
    const char* value;
    bool inDialog;         // refused with a message box, else reported in the log
    const char* fragment;  // what the message or a log line holds
    const char* sensor = "УДК";
};
void PrintTo(const SettingCase& c, std::ostream* os) {
    *os << c.name;
}

class BadSetting : public BadInput, public ::testing::WithParamInterface<SettingCase> {};

// The window opens whatever the value, the connect refuses it or reports
// it, and the window can be put back to disconnected and used again.
TEST_P(BadSetting, StartsAndTheConnectRefusesOrReportsIt) {
    const SettingCase& c = GetParam();
    WriteConfig({{c.key, c.value}, {"Датчик кислорода", c.sensor}});
    auto form = Open();
    ASSERT_TRUE(form->isVisible());
    form->ToolButton(1)->click();
    const QString fragment = QString::fromUtf8(c.fragment);
    if (c.inDialog) {
        ASSERT_EQ(dialogs.errors.size(), 1) << form->LogLines().join("|").toStdString();
        EXPECT_TRUE(dialogs.errors[0].contains(QString::fromUtf8(c.key)))
            << dialogs.errors[0].toStdString();
        EXPECT_TRUE(dialogs.errors[0].contains(fragment)) << dialogs.errors[0].toStdString();
        EXPECT_TRUE(form->EcuWorker().Pending().empty());
    } else {
        EXPECT_TRUE(LogHas(*form, fragment, 8000)) << form->LogLines().join("|").toStdString();
        form->ToolButton(2)->click();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->ToolButton(1)->isEnabled(); }, 5000));
    EXPECT_EQ(ramWrites.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadSetting,
    ::testing::Values(
        SettingCase{"EcuPortBeyondAnInt", "Ecu Com", "COM99999999999", false,
                    "Не удаётся открыть порт COM99999999999"},
        SettingCase{"EcuPortBeyondAnyNumber", "Ecu Com", "COM99999999999999999999999", false,
                    "Не удаётся открыть порт COM99999999999999999999999"},
        SettingCase{"EcuPortZero", "Ecu Com", "COM0", false, "устройство не найдено"},
        SettingCase{"Lc1PortBeyondAnInt", "LC-1 Com", "COM4294967296", false,
                    "LAMBDA:>> ОШИБКА: Не удаётся открыть порт COM4294967296 !", "ШДК LC-1"},
        SettingCase{"SpeedHuge", "Скорость ECU COM", "99999999999", false,
                    "Ошибка при выборе скорости порта"},
        SettingCase{"PauseHuge", "Таймаут1", "99999999999999999999", true,
                    "«99999999999999999999»"},
        SettingCase{"PauseNegative", "Таймаут2", "-5", true, "от 0 до 10000"},
        SettingCase{"PauseText", "Таймаут2", "abc", true, "«abc»"},
        SettingCase{"RewriteEmpty", "Время перезаписи прошивки(мс)", "", true, "«»"},
        SettingCase{"BcnNegative", "Интервал коррекции БЦН(мс)", "-1", true, "больше нуля"},
        SettingCase{"ThrottleHuge", "Не настраивать ниже %", "9999999999", true,
                    "не является целым числом"},
        SettingCase{"NeighbourZero", "Интервал обучения соседних РТ", "0", true, "больше нуля"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Image files -------------------------------------------------------------

struct ImageCase {
    const char* name;
    long size;  // -1: a folder
};
void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.name;
}

// Makes the case's file (or folder) in dir; returns its path.
fs::path MakeImageFile(const fs::path& dir, const ImageCase& c) {
    const fs::path path = dir / (std::string(c.name) + ".bin");
    if (c.size < 0) {
        fs::create_directory(path);
    } else {
        Bytes bytes = sim::MakeSyntheticFirmware(7);
        bytes.resize(static_cast<size_t>(c.size), 0x80);
        WriteAll(path, bytes);
    }
    return path;
}

void ExpectRefusalNames(const QString& message, const fs::path& path, const ImageCase& c) {
    EXPECT_TRUE(message.contains(QString::fromStdString(path.string()))) << message.toStdString();
    const QString why =
        c.size < 0 ? QStringLiteral("это папка") : QStringLiteral("размер %1 байт").arg(c.size);
    EXPECT_TRUE(message.contains(why)) << message.toStdString();
}

class BadImage : public BadInput, public ::testing::WithParamInterface<ImageCase> {};

// As the default image: the connect stops at the message, nothing loaded,
// nothing reaches the ECU.
TEST_P(BadImage, DefaultLoadRefusesItAndTheConnectStops) {
    const ImageCase& c = GetParam();
    const fs::path path = MakeImageFile(dir, c);
    WriteConfig({{"Загрузить прошивку по умолчанию", "да"},
                 {"Прошивка по умолчанию", path.filename().string()}});
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    ExpectRefusalNames(dialogs.errors[0], path, c);
    EXPECT_FALSE(form->Image().FirmwareLoaded);
    EXPECT_EQ(ImageBytes(*form), Bytes(firmware::kImageSize, 0));
    EXPECT_TRUE(form->ToolButton(1)->isEnabled());
    QTest::qWait(300);
    EXPECT_EQ(ramWrites.load(), 0);
}

// Chosen in the dialog while connected with a sound image: the image stays
// as it was and the ECU gets nothing.
TEST_P(BadImage, OpenDialogRefusesItAndKeepsTheImage) {
    const ImageCase& c = GetParam();
    const fs::path path = MakeImageFile(dir, c);
    WriteAll(dir / "j5ls.bin", sim::MakeSyntheticFirmware());
    WriteConfig({{"Загрузить прошивку по умолчанию", "да"}});
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(Connected(*form)) << form->LogLines().join("|").toStdString();
    // The session start read the tables back; the ECU holds the image's.
    EXPECT_TRUE(form->LogLines().contains("ECU: << Сверка RAM: совпадает с образом"))
        << form->LogLines().join("|").toStdString();
    QTest::qWait(500);
    const int before = ramWrites.load();
    const Bytes image = ImageBytes(*form);

    dialogs.fileAnswers << QString::fromStdString(path.string());
    form->ToolButton(7)->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    ExpectRefusalNames(dialogs.errors[0], path, c);
    EXPECT_EQ(ImageBytes(*form), image);
    EXPECT_TRUE(Part<QTimer>(*form, "engineTimer")->isActive());
    QTest::qWait(500);
    EXPECT_EQ(ramWrites.load(), before);
    form->ToolButton(2)->click();
}

INSTANTIATE_TEST_SUITE_P(Files, BadImage,
                         ::testing::Values(ImageCase{"Empty", 0}, ImageCase{"Short", 1000},
                                           ImageCase{"OneByteShort", 65535},
                                           ImageCase{"Long", 70000}, ImageCase{"Folder", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

// A whole image whose correction table no engine could run on loads (the
// user may want to look at it) but its tables never reach the ECU: one line
// says why, at connect and again when it is chosen in the dialog. A sound
// image chosen next goes in.
TEST_F(BadInput, ImplausibleImageLoadsButItsTablesAreNotWritten) {
    WriteAll(dir / "j5ls.bin", ZeroCorrectionImage());
    WriteConfig({{"Загрузить прошивку по умолчанию", "да"}});
    auto form = Open();
    form->ToolButton(1)->click();
    ASSERT_TRUE(Connected(*form)) << form->LogLines().join("|").toStdString();
    EXPECT_TRUE(form->Image().FirmwareLoaded);
    ASSERT_TRUE(LogHas(*form, "Поправка не записана: в таблице поправки прошивки 256 из 256", 3000))
        << form->LogLines().join("|").toStdString();
    QTest::qWait(500);
    EXPECT_EQ(ramWrites.load(), 0);
    const Bytes ram = simulator->Ram(), sound = sim::MakeSyntheticFirmware();
    EXPECT_TRUE(
        std::equal(ram.begin() + 0x7CF7, ram.begin() + 0x7CF7 + 256, sound.begin() + 0x7CF7))
        << "the ECU keeps its table";

    // The same kind of file through the dialog.
    WriteAll(dir / "zeros.bin", ZeroCorrectionImage());
    dialogs.fileAnswers << QString::fromStdString((dir / "zeros.bin").string());
    form->ToolButton(7)->click();
    EXPECT_EQ(form->LogLines().filter("Поправка не записана: в таблице поправки").size(), 2);
    QTest::qWait(300);
    EXPECT_EQ(ramWrites.load(), 0);

    // A sound one does go in.
    WriteAll(dir / "sound.bin", sim::MakeSyntheticFirmware(3));
    dialogs.fileAnswers << QString::fromStdString((dir / "sound.bin").string());
    form->ToolButton(7)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ramWrites.load() > 0; }, 5000));
    const Bytes sound3 = sim::MakeSyntheticFirmware(3);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const Bytes now = simulator->Ram();
            return std::equal(now.begin() + 0x7CF7, now.begin() + 0x7CF7 + 256,
                              sound3.begin() + 0x7CF7);
        },
        5000));

    // A bad one after it: the ECU keeps the sound table the session wrote.
    dialogs.fileAnswers << QString::fromStdString((dir / "zeros.bin").string());
    form->ToolButton(7)->click();
    EXPECT_EQ(form->LogLines().filter("Поправка не записана: в таблице поправки").size(), 3);
    QTest::qWait(1000);
    const Bytes after = simulator->Ram();
    EXPECT_TRUE(
        std::equal(after.begin() + 0x7CF7, after.begin() + 0x7CF7 + 256, sound3.begin() + 0x7CF7))
        << "a correction table of zeros reached the ECU";
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join("|").toStdString();
    form->ToolButton(2)->click();
}

}  // namespace
