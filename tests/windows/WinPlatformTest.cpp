// The Windows side of the platform layer where it needs no port: the COM
// port list from a made-up device list, port names, system error texts,
// code pages, files under Russian names, and the clock.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/Clock.h"
#include "platform/PortList.h"
#include "platform/SerialPort.h"
#include "platform/TextCodec.h"

using namespace korvane::platform;
namespace fs = std::filesystem;

namespace {

struct ListCase {
    const char* name;
    std::vector<ComDevice> devices;
    std::vector<std::string> announced;
    std::vector<std::string> extra;
    std::vector<std::string> names;
    std::vector<std::string> friendly;
};
void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

// Ports that "open" in the cases below: COM20 and a device path to COM21.
bool FakeOpens(const std::string& name) {
    return name == "COM20" || name == "com20" || name == "\\\\.\\CNCA0";
}

class ComList : public ::testing::TestWithParam<ListCase> {};

}  // namespace

TEST_P(ComList, MergesDevicesAnnouncedAndExtraNamesInNaturalOrder) {
    const auto& c = GetParam();
    const auto r = ComPortList(c.devices, c.announced, c.extra, &FakeOpens);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.names, c.names);
    EXPECT_EQ(r.friendlyNames, c.friendly);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComList,
    ::testing::Values(ListCase{"NothingAtAll", {}, {}, {}, {}, {}},
                      ListCase{"NumbersCompareAsNumbers",
                               {{"COM10", "USB Serial Port (COM10)"},
                                {"COM2", "Communications Port (COM2)"}},
                               {"COM2", "COM10", "COM3", "COM1"},
                               {},
                               {"COM1", "COM2", "COM3", "COM10"},
                               {"", "Communications Port (COM2)", "", "USB Serial Port (COM10)"}},
                      ListCase{"EachPortOnceWhateverItsLetterCase",
                               {{"com5", "USB Serial Port (COM5)"}, {"COM5", "Duplicate (COM5)"}},
                               {"COM5", "com5"},
                               {"COM5", "\\\\.\\COM5", ""},
                               {"COM5"},
                               {"USB Serial Port (COM5)"}},
                      ListCase{"OtherPortsOfTheClassAreLeftOut",
                               {{"LPT1", "Printer Port (LPT1)"}, {"", "No name"}, {"COM0", "Bad"}},
                               {"COM256", "COMx"},
                               {},
                               {},
                               {}},
                      ListCase{"ExtraNamesOnlyWhenTheyOpen",
                               {{"COM3", "USB Serial Port (COM3)"}},
                               {},
                               {"COM21", "com20", "\\\\.\\CNCA0", "COM3"},
                               {"COM3", "COM20", "\\\\.\\CNCA0"},
                               {"USB Serial Port (COM3)", "", ""}}));

TEST(ComPortNames, DevicePaths) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "\\\\.\\COM1"},
        {"com12", "\\\\.\\COM12"},
        {"COM255", "\\\\.\\COM255"},
        {"COM0", ""},
        {"COM256", ""},
        {"COM99999999999999999999", ""},
        {"", ""},
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"CNCB0", "\\\\.\\CNCB0"},
    };
    for (const auto& [name, path] : cases) EXPECT_EQ(DevicePathForPortName(name), path) << name;
    EXPECT_TRUE(IsListablePortName("COM7"));
    EXPECT_TRUE(IsListablePortName("\\\\.\\COM7"));
    EXPECT_FALSE(IsListablePortName("COM100"));
    EXPECT_FALSE(IsListablePortName("LPT1"));
    EXPECT_TRUE(SameDevice("com7", "\\\\.\\COM7"));
    EXPECT_FALSE(SameDevice("COM7", "COM17"));
}

TEST(ComPortNames, ReasonsSayWhatToDo) {
    EXPECT_NE(PortOpenReason(ERROR_FILE_NOT_FOUND).find("порт не найден"), std::string::npos);
    EXPECT_NE(PortOpenReason(ERROR_ACCESS_DENIED).find("занят другой программой"),
              std::string::npos);
    EXPECT_NE(PortOpenReason(ERROR_NOT_SUPPORTED).find("не является последовательным портом"),
              std::string::npos);
    // A code without a text of our own still gives the system's, not a number alone.
    EXPECT_EQ(PortOpenReason(ERROR_OUTOFMEMORY).rfind("Причина: ", 0), 0u);
    // The latency hint points at the driver's port settings.
    const std::string note = LatencyNote("COM5", "COM5", 16, "");
    EXPECT_NE(note.find("16 мс"), std::string::npos);
    EXPECT_NE(note.find("Время ожидания (мс)"), std::string::npos);
    EXPECT_EQ(LatencyNote("COM5", "COM5", 1, ""), "");
    EXPECT_EQ(LatencyNote("COM5", "COM5", std::nullopt, ""), "");
}

TEST(ComPort, MissingPortFailsWithItsReasonAndIsNoted) {
    auto port = MakeSystemSerialPort();
    EXPECT_FALSE(port->Open("COM200"));
    EXPECT_FALSE(port->IsOpen());
    EXPECT_NE(port->LastError().find("порт не найден"), std::string::npos) << port->LastError();
    EXPECT_FALSE(port->Open(""));
    EXPECT_EQ(port->BytesWaiting(), -1);
    const auto note = MissingPortNote("COM200", {"COM1", "COM3"});
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(*note, "Порт COM200 не найден. Есть порты: COM1, COM3.");
}

TEST(CodePages, Cp1251AndUtf8BothWays) {
    const std::pair<std::string, std::string> cases[] = {
        {"Ecu Com=COM1", "Ecu Com=COM1"},
        {"\xCF\xE8\xF1\xE0\xF2\xFC \xEB\xEE\xE3\xE8", "Писать логи"},
        {"\xA8\xB8\xB9", "Ёё№"},
        {"\x88", "€"},
        {"", ""},
    };
    for (const auto& [cp1251, utf8] : cases) {
        std::string out;
        EXPECT_TRUE(Cp1251ToUtf8(cp1251, out)) << utf8;
        EXPECT_EQ(out, utf8);
        EXPECT_TRUE(Utf8ToCp1251(utf8, out)) << utf8;
        EXPECT_EQ(out, cp1251);
    }
    std::string out = "kept";
    // No CP1251 form, or no UTF-8 at all: refused, never a "?" in its place.
    EXPECT_FALSE(Utf8ToCp1251("漢字", out));
    EXPECT_FALSE(Utf8ToCp1251("\xD0", out));
    EXPECT_EQ(out, "kept");
    const auto r = DecodeText(std::string("\xFF\xFE\x1F\x04\x40\x04\r\x00\n\x00", 10));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.file.encoding, TextEncoding::Utf16LE);
    EXPECT_EQ(r.file.lines, std::vector<std::string>{"Пр"});
    // A lone surrogate is no text.
    EXPECT_FALSE(DecodeText(std::string("\xFF\xFE\x00\xD8", 4)).ok);
}

namespace {

class RussianFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() / fs::path(u8"korvane_проверка_");
        root += std::to_wstring(::GetCurrentProcessId());
        fs::remove_all(root);
        ASSERT_TRUE(fs::create_directories(root / fs::path(u8"Прошивки")));
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(root, ec))
            ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(root, ec);
    }
    std::string Utf8(const fs::path& p) const {
        const auto s = p.u8string();
        return std::string(s.begin(), s.end());
    }
    std::vector<std::string> Entries(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(Utf8(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
};

}  // namespace

TEST_F(RussianFolder, AtomicWriteCreatesAndReplacesAndLeavesNothingElse) {
    const fs::path folder = root / fs::path(u8"Прошивки");
    const std::string file = Utf8(folder / fs::path(u8"калибровка №1.bin"));
    std::string error;
    const std::string first("\x00\r\n\x1A\xFFпервая", 12);
    ASSERT_TRUE(WriteFileAtomically(file, first, error)) << error;
    std::string back;
    ASSERT_TRUE(ReadBinaryFile(file, back, error)) << error;
    EXPECT_EQ(back, first);  // bytes, never text mode
    ASSERT_TRUE(WriteFileAtomically(file, "вторая", error)) << error;
    ASSERT_TRUE(ReadBinaryFile(file, back, error)) << error;
    EXPECT_EQ(back, "вторая");
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"калибровка №1.bin"});

    TextFile text;
    text.lines = {"Ecu Com=COM7", "Писать логи=да"};
    const std::string ini = Utf8(folder / fs::path(u8"настройки.ini"));
    ASSERT_TRUE(WriteTextFile(ini, text, error)) << error;
    ASSERT_TRUE(ReadBinaryFile(ini, back, error));
    EXPECT_EQ(back, "Ecu Com=COM7\r\n\xCF\xE8\xF1\xE0\xF2\xFC \xEB\xEE\xE3\xE8=\xE4\xE0\r\n");
    const auto read = ReadTextFile(ini);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.file.lines, text.lines);
}

TEST_F(RussianFolder, RefusalsLeaveTheOldFileAsItWas) {
    const fs::path folder = root / fs::path(u8"Прошивки");
    const std::string file = Utf8(folder / fs::path(u8"только чтение.bin"));
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file, "old", error)) << error;
    ASSERT_TRUE(::SetFileAttributesW((folder / fs::path(u8"только чтение.bin")).c_str(),
                                     FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteFileAtomically(file, "new", error));
    EXPECT_EQ(error, "нет прав доступа");
    std::string back;
    ASSERT_TRUE(ReadBinaryFile(file, back, error));
    EXPECT_EQ(back, "old");

    EXPECT_FALSE(WriteFileAtomically(Utf8(folder), "x", error));
    EXPECT_EQ(error, "это папка, а не файл");
    EXPECT_FALSE(ReadBinaryFile(Utf8(folder), back, error));
    EXPECT_EQ(error, "это папка, а не файл");
    EXPECT_FALSE(ReadBinaryFile(Utf8(folder / fs::path(u8"нет такого.bin")), back, error));
    EXPECT_EQ(error, "нет такого файла или папки");
    EXPECT_FALSE(WriteFileAtomically(Utf8(root / fs::path(u8"нет папки") / "a.bin"), "x", error));
    EXPECT_EQ(error, "нет такого файла или папки");
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"только чтение.bin"});
}

namespace {

// Sets a file's or folder's last write time to this many seconds ago.
void SetAge(const fs::path& p, int seconds) {
    const HANDLE h = ::CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << p;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= static_cast<ULONGLONG>(seconds) * 10000000ULL;
    FILETIME then{t.LowPart, t.HighPart};
    EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &then)) << p;
    ::CloseHandle(h);
}

}  // namespace

// The cleanup after a save on Windows: old leftovers of our own saves of
// the same file go, whatever their process; everything else in the folder
// stays as it was.
TEST_F(RussianFolder, SavingRemovesOnlyOurOwnLeftovers) {
    const fs::path folder = root / fs::path(u8"Прошивки");
    const std::string target = "калибровка №1.bin";
    // Windows process ids are multiples of four: an odd one is nobody's.
    const long gone = 4243;
    const long alive = static_cast<long>(::GetCurrentProcessId());
    struct Beside {
        std::string name;
        bool folder;
        int ageSeconds;
        bool removed;
    };
    const Beside kBeside[] = {
        {target + ".backup", false, 24 * 3600, false},
        {"." + target + ".aZ09xY", false, 24 * 3600, false},
        {TempFileName(target, gone, 1), false, 5, false},
        {TempFileName(target, gone, 3), false, 2 * kStaleTempSeconds, true},
        {TempFileName(target, alive, 1), false, 5, false},
        {TempFileName(target, alive, 2), false, 2 * kStaleTempSeconds, true},
        {TempFileName("другой.bin", gone, 1), false, 24 * 3600, false},
        {TempFileName(target, gone, 2), true, 24 * 3600, false},
    };
    for (const Beside& b : kBeside) {
        const fs::path p = folder / fs::path(std::u8string(b.name.begin(), b.name.end()));
        if (b.folder) {
            ASSERT_TRUE(fs::create_directory(p));
        } else {
            std::string error;
            ASSERT_TRUE(WriteFileAtomically(Utf8(p), "bytes of " + b.name, error)) << error;
        }
        SetAge(p, b.ageSeconds);
    }
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(Utf8(folder / fs::path(u8"калибровка №1.bin")), "new", error))
        << error;
    std::vector<std::string> expected{"калибровка №1.bin"};
    for (const Beside& b : kBeside) {
        if (!b.removed) expected.push_back(b.name);
        std::string back;
        if (!b.removed && !b.folder) {
            ASSERT_TRUE(ReadBinaryFile(Utf8(folder) + "\\" + b.name, back, error)) << b.name;
            EXPECT_EQ(back, "bytes of " + b.name);
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(folder), expected);
}

// The live logs: the whole file is put in place, then lines are appended
// through the descriptor, in binary mode.
TEST_F(RussianFolder, KeptOpenTheNewFileTakesAppendedBytes) {
    const fs::path folder = root / fs::path(u8"Прошивки");
    const std::string file = Utf8(folder / fs::path(u8"лог.csv"));
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(file, "old content that is longer", error)) << error;
    const int fd = WriteFileAtomicallyKeepOpen(file, "head\r\n", error);
    ASSERT_GE(fd, 0) << error;
    EXPECT_EQ(::_write(fd, "line\n", 5), 5);
    struct _stat64 st {};
    ASSERT_EQ(::_fstat64(fd, &st), 0);
    EXPECT_EQ(st.st_size, 11);
    EXPECT_EQ(::_close(fd), 0);
    std::string back;
    ASSERT_TRUE(ReadBinaryFile(file, back, error)) << error;
    EXPECT_EQ(back, "head\r\nline\n");
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"лог.csv"});
}

TEST(WindowsClock, MonotonicAndPausesEndWhenStopped) {
    auto& clock = SystemClock::Instance();
    int64_t last = clock.NowMs();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(clock.Pause(30, StopSignal()));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(29));
    EXPECT_GE(clock.NowMs() - last, 29);
    for (int i = 0; i < 1000; ++i) {
        const int64_t now = clock.NowMs();
        ASSERT_GE(now, last);
        last = now;
    }

    StopSignal stop;
    ASSERT_NE(stop.Event(), nullptr);
    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Raise();
    });
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_FALSE(clock.Pause(20000, stop));
    EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(5));
    raiser.join();
    EXPECT_FALSE(clock.Pause(10, stop));  // raised already: at once
}
