#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "app/Reconnect.h"
#include "app/Session.h"
#include "app/SettingsStore.h"
#include "platform/TextCodec.h"

using namespace korvane::app;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() /
               ("korvane_store_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string File(const char* name) const { return (path / name).string(); }
    static inline int counter = 0;
};

std::string Bytes(const std::string& path) {
    std::string bytes, error;
    korvane::platform::ReadBinaryFile(path, bytes, error);
    return bytes;
}

}  // namespace

TEST(SettingsStore, BuiltInLinesInOrder) {
    SettingsStore s;
    ASSERT_EQ(s.Count(), 22u);
    EXPECT_EQ(s.Line(0), "Тип ECU=обычный");
    EXPECT_EQ(s.Line(1), "Ecu Com=COM1");
    EXPECT_EQ(s.Line(21), "Интервал обучения соседних РТ=");
    EXPECT_EQ(s.SettingValue("Таймаут2"), "150");
    EXPECT_EQ(s.SettingValue("Коэф. обучения соседних РТ"), "");
}

TEST(SettingsStore, LookupIgnoresLetterCaseAndFirstLineWins) {
    SettingsStore s;
    EXPECT_EQ(s.SettingValue("Ecu com"), "COM1");
    EXPECT_EQ(s.SettingValue("ECU COM"), "COM1");
    EXPECT_EQ(s.SettingValue("скорость ecu com"), "10400");  // Cyrillic folded too
    EXPECT_EQ(s.SettingValue("ПИСАТЬ ЛОГИ"), "да");
    EXPECT_EQ(s.SettingValue("Датчик кислорода"), "");  // absent
    EXPECT_EQ(s.SettingValue(""), "");

    s.AppendLine("Ecu Com=COM7");
    s.AppendLine("без знака равенства");
    EXPECT_EQ(s.SettingValue("ecu com"), "COM1");
    EXPECT_EQ(s.SettingValue("без знака равенства"), "");
}

TEST(SettingsStore, SetReplacesFirstMatchOrAppends) {
    SettingsStore s;
    s.AppendLine("Ecu Com=COM7");
    s.SetSettingValue("ECU COM", "/dev/ttyUSB0");
    EXPECT_EQ(s.Line(1), "Ecu Com=/dev/ttyUSB0");  // key keeps its own spelling
    EXPECT_EQ(s.Lines().back(), "Ecu Com=COM7");

    s.SetSettingValue("Карта прошивки", "/maps/demo.xml");
    EXPECT_EQ(s.Lines().back(), "Карта прошивки=/maps/demo.xml");
    EXPECT_EQ(s.SettingValue("карта прошивки"), "/maps/demo.xml");
    s.SetSettingValue("Таймаут1", "a=b");  // the value may hold "="
    EXPECT_EQ(s.SettingValue("Таймаут1"), "a=b");
}

TEST(SettingsStore, SavesDuplicatesAppendedLinesAndValuesExactly) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    SettingsStore s;
    s.AppendLine("Ecu Com=COM9");     // duplicate key: kept
    s.AppendLine("Писать логи=да ");  // trailing blank kept as typed
    s.AppendLine("=");                // an appended row left empty: not written
    s.AppendLine("Новый ключ=1");
    std::string error;
    ASSERT_TRUE(s.Save(path, error)) << error;

    SettingsStore back;
    ASSERT_TRUE(back.Load(path, error)) << error;
    EXPECT_EQ(back.Count(), 25u);
    EXPECT_EQ(back.Line(22), "Ecu Com=COM9");
    EXPECT_EQ(back.Line(23), "Писать логи=да ");
    EXPECT_EQ(back.Line(24), "Новый ключ=1");
    EXPECT_EQ(back.SettingValue("Ecu Com"), "COM1");
    EXPECT_EQ(back.Encoding(), korvane::platform::TextEncoding::Cp1251);
    // Cyrillic in the single-byte code page, CR LF line ends.
    EXPECT_EQ(Bytes(path).substr(0, 17), "\xD2\xE8\xEF ECU=\xEE\xE1\xFB\xF7\xED\xFB\xE9\r\n");
}

TEST(SettingsStore, RoundTripKeepsEachEncodingByteForByte) {
    const std::string utf8 = "Ecu Com=COM3\r\nДатчик кислорода=УДК\r\n";
    std::string cp1251;
    ASSERT_TRUE(korvane::platform::Utf8ToCp1251(utf8, cp1251));
    std::string utf16le = "\xFF\xFE";
    for (char c : std::string("Ecu Com=COM3\r\n")) utf16le += std::string{c, '\0'};
    for (const std::string& original : {cp1251, "\xEF\xBB\xBF" + utf8, utf16le}) {
        TempDir dir;
        const auto path = dir.File("config.ini");
        std::string error;
        ASSERT_TRUE(korvane::platform::WriteFileAtomically(path, original, error));
        SettingsStore s;
        ASSERT_TRUE(s.Load(path, error)) << error;
        EXPECT_EQ(s.SettingValue("ecu com"), "COM3");
        fs::remove(path);
        ASSERT_TRUE(s.Save(path, error)) << error;
        EXPECT_EQ(Bytes(path), original);
    }
}

TEST(SettingsStore, FailuresLeaveListAndFileIntact) {
    SettingsStore s;
    std::string error;
    EXPECT_FALSE(s.Load("/nonexistent-korvane/config.ini", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(s.Count(), 22u);  // built-in lines stay
    error.clear();
    EXPECT_FALSE(s.Save("/nonexistent-korvane/config.ini", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(s.Count(), 22u);
}

TEST(SettingsStore, EveryLineReadIsWrittenBack) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    const std::string original = "Ecu Com=COM3\r\n=\r\nбез знака\r\n=\r\n";
    std::string cp1251, error;
    ASSERT_TRUE(korvane::platform::Utf8ToCp1251(original, cp1251));
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(path, cp1251, error));
    SettingsStore s;
    ASSERT_TRUE(s.Load(path, error)) << error;
    s.AppendLine("=");  // a row appended and left blank is still dropped
    ASSERT_TRUE(s.Save(path, error)) << error;
    EXPECT_EQ(Bytes(path), cp1251);
}

// Saving must respect what the user set up around the file: a link keeps
// pointing at its target, which gets the settings; a file keeps its mode;
// a read-only file or a folder is refused and left as it was.
TEST(SettingsStore, SaveKeepsLinksAndModesAndRefusesWhatCannotBeWritten) {
    TempDir dir;
    std::string error;
    SettingsStore s;
    s.SetSettingValue("Ecu Com", "COM7");

    fs::create_directories(dir.path / "real");
    const auto target = dir.File("real/config.ini");
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(target, "Ecu Com=COM1\r\n", error));
    fs::permissions(target, fs::perms(0640));
    const auto link = dir.File("config.ini");
    fs::create_symlink("real/config.ini", link);
    ASSERT_TRUE(s.Save(link, error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0640));
    SettingsStore back;
    ASSERT_TRUE(back.Load(target, error)) << error;
    EXPECT_EQ(back.SettingValue("Ecu Com"), "COM7");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path / "real"), fs::directory_iterator{}), 1)
        << "no temporary file left behind";

    const auto readOnly = dir.File("ro.ini");
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(readOnly, "Ecu Com=COM1\r\n", error));
    fs::permissions(readOnly, fs::perms(0444));
    error.clear();
    EXPECT_FALSE(s.Save(readOnly, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Bytes(readOnly), "Ecu Com=COM1\r\n");
    EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::all, fs::perms(0444));

    const auto folder = dir.File("folder.ini");
    fs::create_directories(folder);
    error.clear();
    EXPECT_FALSE(s.Save(folder, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(s.Load(folder, error)) << "a folder is no empty settings file";
    EXPECT_FALSE(error.empty());
}

TEST(QuietDefaults, MissingTuningControlsArriveWithTheirDefaultsAndSetOnesStay) {
    SettingsStore s;
    s.AppendLine("мин. тож для обучения=");  // present, switched off by its user
    s.AppendLine("Пределы поправки=0.8 1.2");
    AppendQuietDefaults(s);
    EXPECT_EQ(s.SettingValue("Мин. ТОЖ для обучения"), "");
    EXPECT_EQ(s.SettingValue("Пределы поправки"), "0.8 1.2");
    EXPECT_EQ(s.SettingValue("Макс. скорость дросселя %/с"), "20");
    EXPECT_EQ(s.SettingValue("Макс. скорость оборотов об/с"), "1000");
    EXPECT_EQ(s.SettingValue("Макс. шаг поправки %"), "10");
    EXPECT_TRUE(s.HasKey("Заблокированные ячейки"));
    const size_t lines = s.Count();
    AppendQuietDefaults(s);
    EXPECT_EQ(s.Count(), lines);
}

TEST(PickLists, MissingKeysAreAppendedWithTheirFirstChoice) {
    SettingsStore s;
    s.AppendLine("датчик кислорода=УДК");  // present in other letter case
    auto missing = AppendMissingPickListKeys(s);
    EXPECT_EQ(missing, (std::vector<std::string>{"Загрузить прошивку по умолчанию"}));
    EXPECT_EQ(s.SettingValue("Загрузить прошивку по умолчанию"), "нет");
    // Keys added by later versions arrive quietly with their first choice.
    EXPECT_EQ(s.SettingValue("Переподключаться"), "нет");
    // The fast exchange came later than most files: added too, on.
    EXPECT_EQ(s.SettingValue("Быстрый обмен"), "да");
    // No wake-up pattern unless asked for: the start as before.
    EXPECT_EQ(s.SettingValue("Инициализация K-line"), "нет");
    EXPECT_EQ(s.SettingValue("Датчик кислорода"), "УДК");
    EXPECT_TRUE(AppendMissingPickListKeys(s).empty());
}

TEST(ComPorts, NameRuleAndErrors) {
    struct Case {
        bool ok;
        std::vector<std::string> system;
        std::vector<std::string> listed;
        const char* log;
    } cases[] = {
        {true,
         {"COM1", "com3", "COM100", "LPT1", "/dev/ttyUSB0"},
         {"COM1", "com3", "/dev/ttyUSB0"},
         ""},
        {true, {"COM100", "LPT1"}, {}, "ОШИБКА: В вашей системе нет COM портов!"},
        {true, {}, {}, "ОШИБКА: В вашей системе нет COM портов!"},
        {false, {"COM1"}, {}, "ОШИБКА: Невозможно получить список COM портов!"},
    };
    for (const auto& c : cases) {
        SettingsStore s;
        auto r = FindComPorts(c.ok, c.system, s);
        EXPECT_EQ(r.names, c.listed);
        const bool error = std::string(c.log).size() > 0;
        EXPECT_EQ(r.error, error);
        EXPECT_EQ(r.logLines, error ? std::vector<std::string>{c.log} : std::vector<std::string>{});
        EXPECT_EQ(s.SettingValue("Ecu Com"), error ? "ComErr" : "COM1");
    }
}

// "ComErr" stands in for a port while none was found; a save (any lock
// toggle saves) writes the user's port back, until the user picks another.
TEST(ComPorts, ThePlaceholderIsNeverSavedOverTheUsersPort) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    std::string error;
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(
        path, "LC-1 Com=COM2\r\nEcu Com=/dev/ttyUSB0\r\nПисать логи=да\r\n", error));
    SettingsStore s;
    ASSERT_TRUE(s.Load(path, error)) << error;
    ASSERT_TRUE(FindComPorts(true, {}, s).error);
    EXPECT_EQ(s.SettingValue("Ecu Com"), "ComErr");
    s.SetSettingValue("Писать логи", "нет");
    ASSERT_TRUE(s.Save(path, error)) << error;
    EXPECT_EQ(Bytes(path), "LC-1 Com=COM2\r\nEcu Com=/dev/ttyUSB0\r\nПисать логи=нет\r\n");
    // A second failed listing keeps the user's value, not the first placeholder.
    ASSERT_TRUE(FindComPorts(false, {}, s).error);
    ASSERT_TRUE(s.Save(path, error)) << error;
    EXPECT_NE(Bytes(path).find("Ecu Com=/dev/ttyUSB0\r\n"), std::string::npos);
    // A value the user sets is theirs and is saved.
    s.SetValueAt(1, "COM3");
    ASSERT_TRUE(s.Save(path, error)) << error;
    EXPECT_NE(Bytes(path).find("Ecu Com=COM3\r\n"), std::string::npos);
}

// An unreadable "config.ini" is kept aside before the first save replaces
// it, under a name no file of the user's has.
TEST(SaveSettings, TheCopyOfAnUnreadableFileReplacesNothing) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    std::string error;
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(path,
                                                       "\xFF\xFE"
                                                       "a",
                                                       error));
    fs::permissions(path, fs::perms(0600));
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(dir.File("config.ini.bak"), "mine", error));
    fs::create_symlink(dir.File("nowhere"), dir.File("config.ini.bak2"));
    SettingsStore s;
    const SettingsSave saved = SaveSettings(s, path, true);
    ASSERT_EQ(saved.error, "");
    EXPECT_EQ(Bytes(dir.File("config.ini.bak")), "mine");
    EXPECT_FALSE(fs::exists(dir.File("nowhere")));
    // The copy is as private as the file it keeps.
    EXPECT_EQ(Bytes(dir.File("config.ini.bak3")),
              "\xFF\xFE"
              "a");
    EXPECT_EQ(fs::status(dir.File("config.ini.bak3")).permissions() & fs::perms::all,
              fs::perms(0600));
    ASSERT_FALSE(saved.logLines.empty());
    EXPECT_NE(saved.logLines[0].find("config.ini.bak3"), std::string::npos);
    SettingsStore back;
    EXPECT_TRUE(back.Load(path, error)) << error;
}

// A single key saved on its own changes that key in the file as it is on
// disk and nothing else: not the other lines, not their encoding.
TEST(SaveOneSetting, ChangesOnlyItsKeyInTheFileOnDisk) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    std::string cp1251, error;
    ASSERT_TRUE(korvane::platform::Utf8ToCp1251(
        "Ecu Com=COM3\r\nзаблокированные ячейки=3 x\r\nТаймаут1=20\r\nбез знака\r\n", cp1251));
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(path, cp1251, error));
    EXPECT_EQ(SaveOneSetting(path, "Заблокированные ячейки", "3 5 x"), "");
    std::string expected;
    ASSERT_TRUE(korvane::platform::Utf8ToCp1251(
        "Ecu Com=COM3\r\nзаблокированные ячейки=3 5 x\r\nТаймаут1=20\r\nбез знака\r\n", expected));
    EXPECT_EQ(Bytes(path), expected);

    // A key the file lacks is appended.
    EXPECT_EQ(SaveOneSetting(path, "Пределы поправки", "0.8 1.2"), "");
    SettingsStore back;
    ASSERT_TRUE(back.Load(path, error)) << error;
    EXPECT_EQ(back.Count(), 5u);
    EXPECT_EQ(back.SettingValue("Пределы поправки"), "0.8 1.2");
}

TEST(SaveOneSetting, AMissingFileIsMadeAndAnUnreadableOneLeftAlone) {
    TempDir dir;
    const auto path = dir.File("config.ini");
    ASSERT_EQ(SaveOneSetting(path, "Заблокированные ячейки", "7"), "");
    SettingsStore made;
    std::string error;
    ASSERT_TRUE(made.Load(path, error)) << error;
    EXPECT_EQ(made.SettingValue("Заблокированные ячейки"), "7");
    EXPECT_EQ(made.SettingValue("Ecu Com"), SettingsStore().SettingValue("Ecu Com"));

    const std::string garbage =
        "\xFF\xFE"
        "a";
    ASSERT_TRUE(korvane::platform::WriteFileAtomically(path, garbage, error));
    const std::string refused = SaveOneSetting(path, "Заблокированные ячейки", "8");
    EXPECT_NE(refused.find("config.ini"), std::string::npos) << refused;
    EXPECT_NE(refused.find("Заблокированные ячейки"), std::string::npos) << refused;
    EXPECT_EQ(Bytes(path), garbage);
}

TEST(Session, NamesOfDateDirAndScreenshots) {
    std::tm t{};
    t.tm_mday = 5;
    t.tm_mon = 0;
    t.tm_year = 126;
    t.tm_hour = 7;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(DateDirName(t), "05.01.26-07.03.09");
    EXPECT_EQ(ScreenshotPath("/w/05.01.26-07.03.09", 12),
              "/w/05.01.26-07.03.09/pic/screenshot_12.jpg");
}

// The link drops: disconnect at once, then an attempt every 3 s until the
// session stands; the user's disconnect ends it all.
TEST(Reconnector, DisconnectsThenTriesEveryThreeSecondsUntilTheSessionStands) {
    using A = Reconnector::Action;
    Reconnector r;
    EXPECT_EQ(r.Tick(0, false, true), A::None);  // not armed: nothing happens
    r.Arm(0);
    const struct {
        int64_t ms;
        bool up, dropped;
        A action;
    } steps[] = {
        {1000, true, false, A::None},       {2000, false, true, A::Disconnect},
        {3000, false, true, A::None},       {5000, false, true, A::Connect},
        {6000, false, false, A::None},      {7500, false, false, A::Disconnect},
        {7600, false, true, A::None},       {8000, false, true, A::Connect},
        {8500, false, true, A::Disconnect},  // the port is still gone
        {11000, false, true, A::Connect},   {12000, true, false, A::Restored},
        {13000, true, false, A::None},
    };
    for (const auto& s : steps) EXPECT_EQ(r.Tick(s.ms, s.up, s.dropped), s.action) << s.ms;
    EXPECT_EQ(r.Attempts(), 3);
    EXPECT_FALSE(r.Reconnecting());
    EXPECT_EQ(r.Tick(14000, false, true), A::Disconnect);
    EXPECT_TRUE(r.Reconnecting());
    r.Disarm();
    EXPECT_EQ(r.Tick(20000, false, true), A::None);
}

// An attempt whose open the worker has not answered yet (a start that waits
// out the ECU's session time-out) is never overtaken by the next one.
TEST(Reconnector, AnAttemptStillWaitingForItsAnswerIsNotOvertaken) {
    using A = Reconnector::Action;
    Reconnector r;
    r.Arm(0);
    EXPECT_EQ(r.Tick(1000, false, true), A::Disconnect);
    EXPECT_EQ(r.Tick(4000, false, true), A::Connect);
    for (int64_t ms : {5000, 7000, 9000, 11000})
        EXPECT_EQ(r.Tick(ms, false, false, true), A::None) << ms;
    EXPECT_EQ(r.Attempts(), 1);
    EXPECT_EQ(r.Tick(12000, true, false, false), A::Restored);
    // Answered without a session: closed once its time is up.
    EXPECT_EQ(r.Tick(13000, false, true), A::Disconnect);
    EXPECT_EQ(r.Tick(16000, false, true), A::Connect);
    EXPECT_EQ(r.Tick(16500, false, false, true), A::None);
    EXPECT_EQ(r.Tick(17000, false, false, false), A::None);
    EXPECT_EQ(r.Tick(18600, false, false, false), A::Disconnect);
}

// Up and dropped as the reconnect sees them: a port that closes while a
// connect is still coming up is no drop; one that closes under a session
// that stood is; a vanished device always is.
TEST(LinkDrop, ADropNeedsASessionThatStoodOrAVanishedDevice) {
    struct Step {
        int32_t diagnostic, com;
        bool gone;
        bool up, dropped;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"connect still coming up", {{0, 0, false, false, false}, {0, 1, false, false, false}}},
        {"port closed under a standing session",
         {{1, 1, false, true, false}, {0, 1, false, false, false}, {0, 0, false, false, true}}},
        {"polling on but port not open is not up", {{1, 0, false, false, false}}},
        {"device gone before the session stood", {{0, 0, true, false, true}}},
        {"device gone under a standing session", {{1, 1, true, true, true}}},
    };
    for (const auto& c : cases) {
        LinkDrop drop;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const auto& s = c.steps[i];
            const auto look = drop.Observe(s.diagnostic, s.com, s.gone);
            EXPECT_EQ(look.sessionUp, s.up) << c.name << ", step " << i;
            EXPECT_EQ(look.dropped, s.dropped) << c.name << ", step " << i;
        }
    }
    // The port closed to try again: the next attempt's closed port is no
    // drop until its session stands.
    LinkDrop drop;
    drop.Observe(1, 1, false);
    drop.Reset();
    EXPECT_FALSE(drop.Observe(0, 0, false).dropped);
    EXPECT_TRUE(drop.Observe(1, 1, false).sessionUp);
    EXPECT_TRUE(drop.Observe(0, 0, false).dropped);
}

// The keys read as numbers whose value is none, as «Сохранить» names them.
TEST(NumericKeys, ValuesThatAreNoNumberAreNamedInListOrder) {
    struct Case {
        const char* line;
        bool named;
    } cases[] = {
        {"Таймаут2=abc", true},
        {"таймаут1=20 ", true},  // a blank is no digit, in any letter case of the key
        {"Интервал коррекции БЦН(мс)=99999999999999999999", true},
        {"Время перезаписи прошивки(мс)=", true},
        {"Стационарность по циклам=4", false},
        {"Стационарность по RPM=-100", false},  // a number; its range is checked where used
        {"Весовой коэф. коррекции(%)=70,5", false},
        {"Весовой коэф. коррекции(%)=7O", true},
        {"Коэф. обучения соседних РТ=", false},  // empty means off
        {"Коэф. обучения соседних РТ=x", true},
        {"Интервал обучения соседних РТ=", false},
        {"Писать логи=может быть", false},  // no number expected
        {"Мой ключ=abc", false},
    };
    for (const Case& c : cases) {
        SettingsStore s;
        for (size_t i = 0; i < s.Count(); ++i) s.SetValueAt(i, s.KeyAt(i) == "Тип ECU" ? "x" : "1");
        s.SetSettingValue("Коэф. обучения соседних РТ", "");
        s.SetSettingValue("Интервал обучения соседних РТ", "");
        s.SetSettingValue("Весовой коэф. коррекции(%)", "70");
        // The line under test replaces its key's line or comes last.
        const std::string line = c.line;
        const std::string key = line.substr(0, line.find('='));
        const int at = s.FindOtherKey(key, s.Count());
        if (at >= 0)
            s.SetValueAt(static_cast<size_t>(at), line.substr(line.find('=') + 1));
        else
            s.AppendLine(line);
        const auto wrong = NumbersThatDoNotConvert(s);
        ASSERT_EQ(wrong.size(), c.named ? 1u : 0u) << c.line;
        if (c.named) {
            EXPECT_TRUE(SameKey(wrong[0].key, key)) << c.line;
            EXPECT_EQ(wrong[0].value, line.substr(line.find('=') + 1)) << c.line;
        }
    }
    SettingsStore two;
    two.SetSettingValue("Таймаут2", "a");
    two.SetSettingValue("Таймаут1", "b");
    const auto wrong = NumbersThatDoNotConvert(two);
    ASSERT_EQ(wrong.size(), 2u);
    EXPECT_EQ(wrong[0].key, "Таймаут1");  // the list's order
    EXPECT_EQ(wrong[1].key, "Таймаут2");
}
