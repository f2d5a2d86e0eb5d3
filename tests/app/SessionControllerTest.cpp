// The session apart from the window: the connect settings checked whole, and
// which toolbar buttons each state of the session offers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/Session.h"
#include "app/SessionController.h"

using namespace korvane::app;

namespace {

std::map<std::string, std::string> Shipped() {
    return {{"Не настраивать ниже %", "2"},
            {"Интервал коррекции БЦН(мс)", "120000"},
            {"Интервал обучения соседних РТ", ""},
            {"Время перезаписи прошивки(мс)", "500"},
            {"Ecu Com", "COM1"},
            {"Скорость ECU COM", "38400"},
            {"Таймаут1", "20"},
            {"Таймаут2", "150"},
            {"Быстрый обмен", "нет"},
            {"Писать логи", "да"},
            {"Переподключаться", "нет"},
            {"Датчик кислорода", "ШДК LC-1"},
            {"LC-1 Com", "COM2"}};
}

ConnectSettingsParse Parse(const std::map<std::string, std::string>& values) {
    return ParseConnectSettings([&](const std::string& key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    });
}

}  // namespace

TEST(ConnectSettings, ShippedValuesGiveTheConnect) {
    const auto parsed = Parse(Shipped());
    ASSERT_TRUE(parsed.settings) << parsed.error;
    const ConnectSettings& s = *parsed.settings;
    EXPECT_EQ(s.minTuneThrottle, 2);
    EXPECT_EQ(s.bcnIntervalMs, 120000);
    EXPECT_EQ(s.neighbourIntervalMs, 0);  // empty: neighbour learning off
    EXPECT_EQ(s.rewriteMs, 500);
    EXPECT_EQ(s.ecu.portName, "COM1");
    EXPECT_EQ(s.ecu.portSpeed, "38400");
    EXPECT_EQ(s.ecu.portTimeOut, 20);
    EXPECT_EQ(s.ecu.portReadTimeOut, 150);
    EXPECT_FALSE(s.ecu.fastExchange);
    EXPECT_TRUE(s.writeLogs);
    EXPECT_FALSE(s.reconnect);
    EXPECT_TRUE(s.wideband);
    EXPECT_EQ(s.lc1Port, "COM2");
}

struct BadSetting {
    const char* key;
    const char* value;
    const char* message;  // as the window shows it
};
void PrintTo(const BadSetting& c, std::ostream* os) {
    *os << c.key << "=" << c.value;
}

class ConnectSettingsRefused : public ::testing::TestWithParam<BadSetting> {};

TEST_P(ConnectSettingsRefused, WithTheMessageNamingKeyAndValue) {
    auto values = Shipped();
    values[GetParam().key] = GetParam().value;
    const auto parsed = Parse(values);
    EXPECT_FALSE(parsed.settings);
    EXPECT_EQ(parsed.error, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConnectSettingsRefused,
    ::testing::Values(
        BadSetting{"Не настраивать ниже %", "2O",
                   "Параметр «Не настраивать ниже %»: значение «2O» не является целым числом."},
        BadSetting{"Не настраивать ниже %", "99999999999",
                   "Параметр «Не настраивать ниже %»: значение «99999999999» не является целым "
                   "числом."},
        BadSetting{"Интервал коррекции БЦН(мс)", "0",
                   "Параметр «Интервал коррекции БЦН(мс)»: значение «0» должно быть целым числом "
                   "больше нуля."},
        BadSetting{"Интервал обучения соседних РТ", "-5",
                   "Параметр «Интервал обучения соседних РТ»: значение «-5» должно быть целым "
                   "числом больше нуля."},
        BadSetting{"Время перезаписи прошивки(мс)", "",
                   "Параметр «Время перезаписи прошивки(мс)»: значение «» не является целым "
                   "числом."},
        BadSetting{"Таймаут1", "-1",
                   "Параметр «Таймаут1»: значение «-1» должно быть целым числом от 0 до 10000."},
        BadSetting{"Таймаут2", "30000",
                   "Параметр «Таймаут2»: значение «30000» должно быть целым числом от 0 до "
                   "10000."},
        BadSetting{"Таймаут2", "abc",
                   "Параметр «Таймаут2»: значение «abc» не является целым числом."},
        // "COM1" is /dev/ttyS0: one device under two names.
        BadSetting{"LC-1 Com", "/dev/ttyS0",
                   "Параметры «Ecu Com» (COM1) и «LC-1 Com» (/dev/ttyS0) указывают на одно и то "
                   "же устройство. Адаптеру K-line и LC-1 нужны разные порты. Два адаптера с "
                   "одинаковым серийным номером получают одно имя в /dev/serial/by-id: укажите "
                   "для них /dev/ttyUSB0, /dev/ttyUSB1 или имена из /dev/serial/by-path."}));

TEST(ConnectSettings, OneDeviceForBothIsFineWithoutTheWideband) {
    auto values = Shipped();
    values["LC-1 Com"] = "COM1";
    values["Датчик кислорода"] = "УДК";
    const auto parsed = Parse(values);
    ASSERT_TRUE(parsed.settings) << parsed.error;
    EXPECT_FALSE(parsed.settings->wideband);
}

TEST(ConnectSettings, EdgesOfTheRangesAreTaken) {
    auto values = Shipped();
    values["Таймаут1"] = "0";
    values["Таймаут2"] = "10000";
    values["Интервал обучения соседних РТ"] = "1";
    const auto parsed = Parse(values);
    ASSERT_TRUE(parsed.settings) << parsed.error;
    EXPECT_EQ(parsed.settings->ecu.portTimeOut, 0);
    EXPECT_EQ(parsed.settings->ecu.portReadTimeOut, 10000);
    EXPECT_EQ(parsed.settings->neighbourIntervalMs, 1);
}

// Which buttons each state enables: "+" enabled, "-" disabled, in the
// order 1 2 4 5 7 8 10 11 12 14 15 16 18 19 20 21 23 24 27, and whether
// "Сохранить прошивку как…" is offered.
struct StateButtons {
    SessionState state;
    bool firmwareLoaded;
    const char* enabled;
    bool saveAs;
};
void PrintTo(const StateButtons& c, std::ostream* os) {
    *os << static_cast<int>(c.state) << (c.firmwareLoaded ? " loaded" : "");
}

class Toolbar : public ::testing::TestWithParam<StateButtons> {};

TEST_P(Toolbar, EnablesWhatTheStateOffers) {
    std::string shown;
    for (const ButtonState& b : ToolbarButtons(GetParam().state, GetParam().firmwareLoaded))
        shown += b.enabled ? '+' : '-';
    EXPECT_EQ(shown, GetParam().enabled);
    EXPECT_EQ(SaveImageAsOffered(GetParam().state, GetParam().firmwareLoaded), GetParam().saveAs);
}

INSTANTIATE_TEST_SUITE_P(
    States, Toolbar,
    ::testing::Values(
        // At the desk an image can be opened; once one is, the tuning grid
        // and the map editor show it.
        StateButtons{SessionState::Disconnected, false, "+-+++-------------+", false},
        StateButtons{SessionState::Disconnected, true, "+-+++----+-----+--+", true},
        // The connect's own steps run with the image actions closed.
        StateButtons{SessionState::Connecting, false, "-+++--------------+", false},
        StateButtons{SessionState::Connecting, true, "-+++--------------+", true},
        StateButtons{SessionState::Reconnecting, true, "-+++--------------+", true},
        StateButtons{SessionState::Live, false, "-+++++---+--++-+--+", false},
        StateButtons{SessionState::Live, true, "-++++++--+--++-+--+", true},
        StateButtons{SessionState::Tuning, true, "-+++++-+-+--++-+--+", true},
        // A read out of the ECU fills the image: nothing else touches it.
        StateButtons{SessionState::ReadingFirmware, true, "-+++-----+--++----+", false}));

namespace {

struct LockDir {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("korvane_lock_" + std::to_string(::getpid()));
    LockDir() { std::filesystem::create_directories(path); }
    ~LockDir() { std::filesystem::remove_all(path); }
    std::string Dir() const { return path.string(); }
    void Write(const std::string& text) const { std::ofstream(path / "korvane.lock") << text; }
    std::string Read() const {
        std::ifstream in(path / "korvane.lock");
        std::string text;
        std::getline(in, text);
        return text;
    }
};

long DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

}  // namespace

TEST(FolderLock, AnotherRunningProgramIsNamedAndAStaleLockIsTakenOver) {
    const std::string self = std::to_string(::getpid());
    struct Case {
        const char* name;
        std::string lock;  // "" : no lock file
        long holder;       // expected answer
    } cases[] = {
        {"none", "", 0},
        {"running", std::to_string(::getppid()) + "\n", static_cast<long>(::getppid())},
        {"gone", std::to_string(DeadPid()) + "\n", 0},
        {"garbage", "not a number", 0},
        {"own", self + "\n", 0},
    };
    for (const Case& c : cases) {
        LockDir dir;
        if (!c.lock.empty()) dir.Write(c.lock);
        EXPECT_EQ(TakeFolderLock(dir.Dir()), c.holder) << c.name;
        if (c.holder != 0) {
            EXPECT_EQ(dir.Read() + "\n", c.lock) << c.name;  // left alone
            ReleaseFolderLock(dir.Dir());
            EXPECT_TRUE(std::filesystem::exists(dir.path / "korvane.lock")) << c.name;
        } else {
            EXPECT_EQ(dir.Read(), self) << c.name;
            ReleaseFolderLock(dir.Dir());
            EXPECT_FALSE(std::filesystem::exists(dir.path / "korvane.lock")) << c.name;
        }
    }
}
