// The worker's passes, run one at a time on the test's thread with a fake
// port and clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "EcuTestSupport.h"
#include "ecu/ECUThread.h"
#include "platform/fakes/FakeClock.h"
#include "platform/fakes/ForwardingSerialPort.h"

using namespace korvane;
using namespace korvane::ecu;
using ecu::test::H;
using ecu::test::WithSum;
using Lines = std::vector<std::string>;

namespace {

// An adapter and ECU with 64 KiB of memory: the session answers are the
// hand-written ones, memory reads and writes work on `ram`.
class Worker : public ::testing::Test {
  protected:
    Worker() {
        ram.resize(0x10000);
        for (size_t i = 0; i < ram.size(); ++i) ram[i] = static_cast<uint8_t>((i * 7) ^ (i >> 8));
        ecu.On(H("81 10 F1 81 03"), H("83 F1 10 C1 6B 8F 3F"));
        ecu.On(H("83 10 F1 10 81 39 4E"), H("82 F1 10 50 81 54"));
        ecu.On(H("82 10 F1 3E 01 C2"), H("81 F1 10 7E 00"));
        ecu.On(H("84 10 F1 30 0F 06 01 CB"), H("84 F1 10 70 0F 06 01 0B"));
        ecu.On(H("81 10 F1 20 A2"), H("81 F1 10 60 E2"));
        ecu.On(H("81 10 F1 82 04"), H("81 F1 10 C2 44"));
        Bytes frame = H("80 F1 10 35 61 0F");
        frame.resize(57, 0x11);
        ecu.On(H("82 10 F1 21 0F B3"), WithSum(frame));
        ecu.OnAny([this](const Bytes& f) { return Memory(f); });
        w.PortName = "/dev/kline";
        w.PortSpeed = "57600";
        w.PortTimeOut = 20;
        w.PortReadTimeOut = 150;
    }

    Bytes Memory(const Bytes& f) {
        const size_t header = (f[0] & 0x3F) ? 3 : 4;
        const Bytes p(f.begin() + header, f.end() - 1);
        if (!memoryAnswers) return {};
        if (p.size() == 5 && p[0] == 0x23) {
            const size_t at = (p[2] << 8) | p[3], n = p[4];
            Bytes a = n + 1 > 63 ? Bytes{0x80, 0xF1, 0x10, static_cast<uint8_t>(n + 1), 0x63}
                                 : Bytes{static_cast<uint8_t>(0x80 + n + 1), 0xF1, 0x10, 0x63};
            a.insert(a.end(), ram.begin() + at, ram.begin() + at + n);
            return WithSum(a);
        }
        if (p.size() > 5 && p[0] == 0x3D) {
            const size_t at = (p[2] << 8) | p[3];
            std::copy(p.begin() + 5, p.end(), ram.begin() + at);
            writes.push_back(at);
            if (closeAtWrite && writes.size() == closeAtWrite) w.Post(EcuCommand::Close());
            return refuseWrites ? H("83 F1 10 7F 3D 11 51") : H("81 F1 10 7D FF");
        }
        return {};
    }

    void Connect() {
        w.Post(ecu::test::OpenAsSet(w));
        w.Pass();
        ASSERT_EQ(w.IsDiagnostic, 1);
        view.Clear();
        writes.clear();
    }
    void Post(EcuCommand command) { ASSERT_NE(w.Post(std::move(command)), 0u); }
    static Bytes Data(int seed, size_t n = 256) {
        Bytes out(n);
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(0x100 * seed + i);
        return out;
    }
    std::vector<Bytes> WriteFrames() const {
        std::vector<Bytes> out;
        for (const Bytes& f : ecu.Frames())
            if (f[(f[0] & 0x3F) ? 3 : 4] == 0x3D) out.push_back(f);
        return out;
    }

    std::vector<uint8_t> ram;
    std::vector<size_t> writes;
    bool memoryAnswers = true;
    bool refuseWrites = false;
    size_t closeAtWrite = 0;  // the user disconnects while this write goes
    platform::FakeClock clock;
    platform::FakeSerialPort port{&clock};
    ecu::test::ScriptedEcu ecu{port};
    ecu::test::RecordingView view;
    platform::DirectUiBridge bridge;
    TECUThread w{bridge, view,
                 [this] { return std::make_unique<platform::ForwardingSerialPort>(port); }, clock};
};

}  // namespace

TEST_F(Worker, ConnectStartsTheSessionAndPolls) {
    w.Post(ecu::test::OpenAsSet(w));
    w.Pass();
    EXPECT_TRUE(w.Idle());
    EXPECT_EQ(view.Lines(),
              (Lines{"/dev/kline: >> Открытие порта...", "/dev/kline: >> скорость порта - 57600",
                     "ECU: >> Starting Communication", "ECU: >> Starting Diagnostic Session",
                     "ECU: >> Sending \"Tester Present\"", "ECU: >> Switch to RAM"}));
    EXPECT_EQ(w.IsComConnected, 1);
    EXPECT_EQ(w.IsECUConnected, 1);
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(w.numlog, 1);
    EXPECT_EQ(w.DiagnosticInfo.Size(), 51u);
    EXPECT_EQ(port.Speed(), 57600);
    EXPECT_EQ(view.SessionUps(), 1);
    EXPECT_EQ(w.Status().numlog, 1);
    EXPECT_EQ(w.Status().DiagnosticInfo->size(), 51u);
    EXPECT_TRUE(w.Status().LinkUp());

    // Polling passes: the long-diagnostic line once, then one request each.
    view.Clear();
    for (int i = 0; i < 3; ++i) w.Pass();
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Long Diagnostic"}));
    EXPECT_EQ(w.numlog, 4);
    // A poll that gets nothing back still counts; the last frame stays.
    ecu.echo = false;
    w.Pass();
    EXPECT_EQ(w.numlog, 5);
    EXPECT_EQ(w.DiagnosticInfo.Size(), 51u);
    ecu.echo = true;

    // Disconnect, reconnect: no second long-diagnostic line in this run.
    w.Post(EcuCommand::Close());
    w.Pass();
    EXPECT_EQ(w.IsComConnected, 0);
    EXPECT_EQ(ecu.Frames().back(), H("81 10 F1 82 04"));
    EXPECT_EQ(w.PortTimeOut, 100);
    Connect();
    w.Pass();
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(w.numlog, 2);
}

// No ECU behind the adapter: the start is tried three times after the
// K-line's idle time, then the connect gives up and closes the port.
TEST_F(Worker, ConnectWithoutAnEcuTriesThreeStartsThenClosesThePort) {
    w.PortName = "";
    w.PortSpeed = "";
    ecu.On(H("81 10 F1 81 03"), {});
    w.Post(ecu::test::OpenAsSet(w));
    w.Pass();
    const std::string failed =
        "ECU: << ОШИБКА Неправильный ответ блока!\r\nЗапрос - 0x81; Ответ - null; (0xC16B8F)";
    Lines expected = {"COM1: >> Открытие порта...", "COM1: >> скорость порта - 57600"};
    int error = 0;
    for (int start = 1; start <= 3; ++start) {
        if (start > 1)
            expected.push_back("ECU: >> Повторный запуск связи, попытка " + std::to_string(start) +
                               " из 3");
        expected.push_back("ECU: >> Starting Communication");
        for (int attempt = 1; attempt <= 3; ++attempt) {
            if (attempt > 1)
                expected.push_back("ECU: >> Повтор запроса 0x81: попытка " +
                                   std::to_string(attempt) + " из 3");
            expected.push_back(failed);
            expected.push_back("Ошибка №" + std::to_string(++error));
        }
        // said once: the echo came, the ECU kept quiet
        if (start == 1)
            expected.push_back(
                "ECU: << ECU не ответил на StartCommunication. Если ему нужна "
                "быстрая инициализация, попробуйте \"Инициализация "
                "K-line=быстрая\".");
    }
    expected.push_back("ECU: << Связь с ECU не установлена");
    expected.push_back("COM1: >> Закрытие порта...");
    EXPECT_EQ(view.Lines(), expected);
    EXPECT_EQ(w.PortName.Get(), "COM1");
    EXPECT_EQ(w.IsComConnected, 0);
    EXPECT_EQ(w.IsECUConnected, 0);
    EXPECT_EQ(w.IsDiagnostic, 0);
    EXPECT_EQ(view.ConnectFailures(), (Lines{"ECU не отвечает"}));
    EXPECT_EQ(view.SessionUps(), 0);

    // Nothing more goes out, and the next connect starts afresh.
    const size_t frames = ecu.Frames().size();
    w.Pass();
    EXPECT_EQ(ecu.Frames().size(), frames);
    w.Post(ecu::test::OpenAsSet(w));
    w.Pass();
    EXPECT_GT(ecu.Frames().size(), frames);
}

TEST_F(Worker, CommandsWaitWhileNoPortWasFound) {
    w.SetPortGuard(true);
    w.Post(ecu::test::OpenAsSet(w));
    for (int i = 0; i < 3; ++i) w.Pass();
    EXPECT_EQ(w.Pending(), "OpenComPort");
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_TRUE(port.Written().empty());
}

TEST_F(Worker, FirmwareReadCopiesTheWholeMemory) {
    Connect();
    ecu.echo = true;
    const size_t before = ecu.Frames().size();
    Post(EcuCommand::ReadFirmware());
    w.Pass();
    EXPECT_TRUE(w.Idle());
    const auto frames = ecu.Frames();
    ASSERT_EQ(frames.size() - before, 683u);
    EXPECT_EQ(frames[before], H("85 10 F1 23 00 00 00 60 09"));
    EXPECT_EQ(frames[before + 1], H("85 10 F1 23 00 00 60 60 69"));
    EXPECT_EQ(frames.back(), H("85 10 F1 23 00 FF C0 40 A8"));
    ASSERT_TRUE(view.Image());
    EXPECT_EQ(*view.Image(), ram);
    EXPECT_EQ(view.LastResult(), "ReadFW ok");
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Read ECU RAM - 0xFFC0"}));

    const auto progress = view.Progress();
    ASSERT_EQ(progress.size(), 684u);
    EXPECT_EQ(progress.front(), std::make_pair(682, 0));
    EXPECT_EQ(progress[682], std::make_pair(682, 682));
    EXPECT_EQ(progress.back(), std::make_pair(682, 0));
}

TEST_F(Worker, FirmwareReadStopsAtASilentBlock) {
    Connect();
    int reads = 0;
    ecu.OnAny([&](const Bytes& f) {
        if (f[3] == 0x23 && ++reads > 100) return Bytes{};
        return Memory(f);
    });
    Post(EcuCommand::ReadFirmware());
    w.Pass();
    EXPECT_EQ(reads, 103);  // the silent block was asked for three times
    EXPECT_FALSE(view.Image());
    EXPECT_EQ(view.LastResult(), "ReadFW: нет ответа на чтение по адресу 0x2580");
    EXPECT_EQ(view.Progress().back(), std::make_pair(682, 0));
    EXPECT_EQ(view.Lines().back(), "Ошибка №3");
    EXPECT_EQ(view.Lines()[1].rfind("ECU: << ОШИБКА ЧТЕНИЯ RAM!\r\nНеверная длина ответа!", 0), 0u);

    // Polling goes on, so the window sees whether the ECU still answers.
    EXPECT_EQ(w.IsDiagnostic, 1);
    const size_t frames = ecu.Frames().size();
    w.Pass();
    EXPECT_EQ(ecu.Frames().size(), frames + 1);
    EXPECT_EQ(ecu.Frames().back(), H("82 10 F1 21 0F B3"));
}

TEST_F(Worker, TableWritesLandAtTheirAddresses) {
    struct Case {
        CommandKind kind;
        std::vector<size_t> blocks;
    } cases[] = {
        {CommandKind::remakepopr, {0x7CF7, 0x7D37, 0x7D77, 0x7DB7}},
        {CommandKind::remakegbc, {0x75EF, 0x762F, 0x766F, 0x76AF}},
        {CommandKind::remakeuoz, {0x6DC8, 0x6E08, 0x6E48, 0x6E88}},
    };
    Connect();
    for (const auto& c : cases) {
        writes.clear();
        view.Clear();
        ecu.ClearFrames();
        Post(EcuCommand::WriteTable(c.kind, Data(3)));
        const int32_t polls = w.numlog;
        w.Pass();
        EXPECT_EQ(writes, c.blocks) << KindName(c.kind);
        EXPECT_TRUE(w.Idle());
        EXPECT_EQ(w.IsDiagnostic, 1);
        // Two polls after the four blocks, as the wire always had it.
        EXPECT_EQ(w.numlog, polls + 2);
        const auto frames = ecu.Frames();
        ASSERT_EQ(frames.size(), 6u);
        EXPECT_EQ(frames[4], H("82 10 F1 21 0F B3"));
        EXPECT_EQ(frames[5], H("82 10 F1 21 0F B3"));
        EXPECT_EQ(view.LastResult(), std::string(KindName(c.kind)) + " ok");
        for (int cell = 0; cell < 256; ++cell)
            ASSERT_EQ(ram[c.blocks[0] + cell], static_cast<uint8_t>(cell))
                << KindName(c.kind) << cell;
    }
    // The log example: the BCN write ends with its second and fourth block.
    view.Clear();
    Post(EcuCommand::WriteTable(CommandKind::remakegbc, Data(0)));
    w.Pass();
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Write ECU RAM - 0x762F", "ECU: >> Write ECU RAM - 0x76AF"}));
}

TEST_F(Worker, ACloseQueuedBehindATableWriteWaitsForItsFourBlocks) {
    Connect();
    Post(EcuCommand::WriteTable(CommandKind::remakegbc, Data(0)));
    Post(EcuCommand::Close());
    w.Pass();
    EXPECT_EQ(writes, (std::vector<size_t>{0x75EF, 0x762F, 0x766F, 0x76AF}));
    EXPECT_EQ(w.Pending(), "CloseComPort");
    w.Pass();
    EXPECT_EQ(w.IsComConnected, 0);
    EXPECT_EQ(ecu.Frames().back(), H("81 10 F1 82 04"));
    for (int cell = 0; cell < 256; ++cell) ASSERT_EQ(ram[0x75EF + cell], cell);
}

TEST_F(Worker, CurveWriteGoesOutBlockByBlock) {
    Connect();
    Post(EcuCommand::WriteCurve(0x61F0, Data(3, 128)));
    w.Pass();
    EXPECT_EQ(writes, (std::vector<size_t>{0x61F0, 0x6230}));
    for (int i = 0; i < 128; ++i) ASSERT_EQ(ram[0x61F0 + i], static_cast<uint8_t>(i)) << i;
    // The first block line takes the place of the command line.
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Write ECU RAM - 0x6230"}));
    EXPECT_TRUE(w.Idle());
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(view.LastResult(), "correct23DF ok");
}

TEST_F(Worker, ValueAndCellWrites) {
    Connect();
    const int32_t polls = w.numlog;
    Post(EcuCommand::WriteValue(0x1234, {0xAB, 0xCD, 0xFF}, 3));
    w.Pass();
    EXPECT_EQ(WriteFrames(), (std::vector<Bytes>{H("88 10 F1 3D 00 12 34 03 AB CD FF 86")}));
    EXPECT_EQ(w.numlog, polls + 2);
    EXPECT_TRUE(w.Idle());

    // "remake" writes one cell and restores polling as it found it.
    ecu.ClearFrames();
    Post(EcuCommand::WriteCell(0x7CF7, 0x80));
    w.Pass();
    EXPECT_EQ(WriteFrames(), (std::vector<Bytes>{H("86 10 F1 3D 00 7C F7 01 80 B8")}));
    EXPECT_EQ(view.Lines().back(), "ECU: >> Write ECU RAM - 0x7CF7");
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(view.LastResult(), "remake ok");

    // ... and nothing while polling is off, which the result says.
    ecu.ClearFrames();
    w.IsDiagnostic = 0;
    Post(EcuCommand::WriteCell(0x7CF7, 0x80));
    w.Pass();
    EXPECT_TRUE(WriteFrames().empty());
    EXPECT_EQ(w.IsDiagnostic, 0);
    EXPECT_TRUE(w.Idle());
    EXPECT_EQ(view.LastResult(), "remake: ECU не опрашивается");
}

TEST_F(Worker, WritesBeyondTheCellsOrTheMemoryAreRefused) {
    const EcuCommand cases[] = {
        EcuCommand::WriteCurve(0x61F0, Bytes(16 * 64)),   // more than 15 blocks
        EcuCommand::WriteCurve(0xFFC0, Bytes(2 * 64)),    // past 0xFFFF
        EcuCommand::WriteCurve(0x1000, Bytes(100)),       // no whole block
        EcuCommand::WriteValue(0xFFF0, Bytes(32), 32),    // past 0xFFFF
        EcuCommand::WriteValue(0x1000, Bytes(256), 0),    // length byte disagrees
        EcuCommand::WriteValue(0x1000, Bytes(251), 251),  // more than one request carries
        EcuCommand::WriteValue(0x1000, Bytes{}, 0xFB),    // nothing to write
        EcuCommand::WriteTable(CommandKind::remakegbc, Bytes(255)),
        EcuCommand::Of(CommandKind::remake, 0x1000, Bytes(300)),
    };
    Connect();
    for (const auto& c : cases) {
        ecu.ClearFrames();
        view.Clear();
        Post(c);
        w.Pass();
        const std::string what =
            std::string(KindName(c.kind)) + " " + std::to_string(c.bytes.size());
        EXPECT_TRUE(WriteFrames().empty()) << what;
        EXPECT_TRUE(w.Idle());
        const Lines lines = view.Lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("ECU: << ОШИБКА Запись отклонена", 0) == 0;
        })) << what;
        ASSERT_EQ(view.Results().size(), 1u) << what;
        EXPECT_FALSE(view.Results()[0].ok) << what;
    }
    EXPECT_EQ(w.error, 0);
}

TEST_F(Worker, UnconfirmedWritesAreLoggedAndKept) {
    Connect();
    refuseWrites = true;
    Post(EcuCommand::WriteTable(CommandKind::remakepopr, Data(0)));
    w.Pass();
    // A refusal is an answer: it is not repeated.
    const Lines lines = view.Lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "ECU: >> Write ECU RAM - 0x7CF7");
    EXPECT_EQ(lines[1].rfind("ECU: << Запись не подтверждена! Запрос - 0x3D007CF740000102", 0), 0u);
    EXPECT_TRUE(lines[1].ends_with("; Ответ - 0x7F3D11;")) << lines[1];
    EXPECT_EQ(lines[2],
              "ECU: << ОШИБКА Запись отклонена ECU! Адрес - 0x7CF7; байт - 64; код - 0x11; "
              "не повторяется");
    EXPECT_EQ(lines[3], "ECU: >> Write ECU RAM - 0x7D37");
    EXPECT_EQ(lines[6], "ECU: >> Write ECU RAM - 0x7D77");
    EXPECT_EQ(w.error, 0);
    EXPECT_TRUE(w.Idle());
    EXPECT_EQ(view.LastResult(), "remakepopr: запись отклонена ECU, код 0x11");

    // A silent ECU: the write goes out three times, the answer shows as null.
    memoryAnswers = false;
    view.Clear();
    ecu.ClearFrames();
    Post(EcuCommand::WriteCell(0x2000, 0));
    w.Pass();
    const std::string unconfirmed =
        "ECU: << Запись не подтверждена! Запрос - 0x3D0020000100; Ответ - null;";
    EXPECT_EQ(view.Lines(),
              (Lines{"ECU: >> Write ECU RAM - 0x2000", unconfirmed,
                     "ECU: >> Повтор запроса 0x3D0020000100: попытка 2 из 3", unconfirmed,
                     "ECU: >> Повтор запроса 0x3D0020000100: попытка 3 из 3", unconfirmed,
                     "ECU: << ОШИБКА Запись не выполнена! Адрес - 0x2000; байт - 1; повтор "
                     "после следующего ответа ECU"}));
    EXPECT_EQ(WriteFrames().size(), 3u);
}

// The synchroniser in the worker: a session reads back what it looks after
// and writes only what differs; the image's later changes follow after a
// good poll, what the line lost goes again, what the ECU refused does not.
TEST_F(Worker, TheEcuRamFollowsTheImage) {
    constexpr uint16_t kBcn = 0x75EF, kCorrection = 0x7CF7;
    Bytes bcn(ram.begin() + kBcn, ram.begin() + kBcn + 256);
    Bytes correction(ram.begin() + kCorrection, ram.begin() + kCorrection + 256);
    bcn[70] ^= 0xFF;  // the ECU lost a learned BCN byte: block 2 differs
    EcuCommand open = ecu::test::OpenAsSet(w);
    open.ranges = {{kBcn, bcn}, {kCorrection, correction}};
    const uint64_t openId = w.Post(std::move(open));
    w.Pass();
    ASSERT_EQ(view.SessionUps(), 1);
    EXPECT_TRUE(writes.empty());  // read back first, written after a good poll
    EXPECT_EQ(w.Status().owedBytes, 1u);
    w.Pass();
    EXPECT_EQ(writes, (std::vector<size_t>{kBcn + 64}));
    EXPECT_TRUE(std::equal(bcn.begin(), bcn.end(), ram.begin() + kBcn));
    EXPECT_EQ(w.Status().owedBytes, 0u);
    ASSERT_EQ(view.Reports().size(), 1u);
    EXPECT_TRUE(view.Reports()[0].confirmed);
    EXPECT_EQ(view.Reports()[0].kind, CommandKind::remakegbc);
    EXPECT_EQ(view.Reports()[0].openId, openId);  // the window tells sessions apart by it

    // One learned cell: one single-byte write.
    writes.clear();
    view.Clear();
    Post(EcuCommand::ImageChanged(kCorrection + 5, {0x80}));
    w.Pass();
    w.Pass();
    EXPECT_EQ(writes, (std::vector<size_t>{kCorrection + 5}));
    EXPECT_EQ(ram[kCorrection + 5], 0x80);
    EXPECT_EQ(view.Lines(), (Lines{"ECU: >> Write ECU RAM - 0x7CFC"}));
    EXPECT_EQ(view.Reports().at(0).kind, CommandKind::remake);

    // A silent ECU: the write stays owed and goes again once it answers.
    writes.clear();
    memoryAnswers = false;
    Post(EcuCommand::ImageChanged(kCorrection + 6, {0x81}));
    w.Pass();
    w.Pass();  // the poll is answered, the write is not
    EXPECT_EQ(w.Status().owedBytes, 1u);
    memoryAnswers = true;
    w.Pass();
    EXPECT_EQ(ram[kCorrection + 6], 0x81);
    EXPECT_EQ(w.Status().owedBytes, 0u);

    // A refusal: logged once with the code, never sent again this session.
    writes.clear();
    view.Clear();
    refuseWrites = true;
    Post(EcuCommand::ImageChanged(0x5000, {1, 2}));
    for (int i = 0; i < 4; ++i) w.Pass();
    EXPECT_EQ(writes.size(), 1u);
    const Lines lines = view.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "ECU: << ОШИБКА Запись отклонена ECU! Адрес - 0x5000; байт - 2; код - "
                         "0x11; не повторяется"),
              1);
    ASSERT_EQ(w.Status().refusals.size(), 1u);
    EXPECT_EQ(w.Status().refusals[0], (Refusal{0x5000, 2, 0x11}));
    ASSERT_FALSE(view.Reports().empty());
    EXPECT_TRUE(view.Reports().back().refused);
    EXPECT_EQ(view.Reports().back().code, 0x11);
    refuseWrites = false;
    EXPECT_EQ(w.IsDiagnostic, 1);  // polling goes on
}

// A refusal is the ECU answering: a plan of many refused blocks, sent with
// no poll in between, must not read as a silent ECU and end the session
// (a reconnect would forget the refusals and send the same blocks again).
TEST_F(Worker, ARunOfRefusalsKeepsTheSession) {
    Connect();
    const int ups = view.SessionUps();
    refuseWrites = true;
    constexpr int kBlocks = 16;  // some 4 s of refused writes at these pauses
    for (int i = 0; i < kBlocks; ++i)
        Post(EcuCommand::ImageChanged(static_cast<uint16_t>(0x5000 + 0x100 * i), {1, 2}));
    // One pass takes each change, then the polls: the first sends the plan.
    for (int i = 0; i < kBlocks + 4; ++i) w.Pass();
    EXPECT_EQ(w.IsDiagnostic, 1);
    EXPECT_EQ(w.IsECUConnected, 1);
    EXPECT_EQ(view.SessionUps(), ups);  // no reconnect
    EXPECT_EQ(writes.size(), static_cast<size_t>(kBlocks));
    const Lines lines = view.Lines();
    for (int i = 0; i < kBlocks; ++i) {
        const std::string refused = "ECU: << ОШИБКА Запись отклонена ECU! Адрес - " +
                                    HexText(Bytes{static_cast<uint8_t>(0x50 + i), 0x00}) +
                                    "; байт - 2; код - 0x11; не повторяется";
        EXPECT_EQ(std::count(lines.begin(), lines.end(), refused), 1) << refused;
    }
    for (const std::string& line : lines)
        EXPECT_EQ(line.find("связь разорвана"), std::string::npos) << line;
    EXPECT_EQ(w.Status().refusals.size(), static_cast<size_t>(kBlocks));
}

// A disconnect asked for in the middle of a write plan ends it at the next
// write, not after the whole plan.
TEST_F(Worker, ACloseCutsAWritePlanShort) {
    Connect();
    constexpr int kRanges = 8;
    for (int i = 0; i < kRanges; ++i)
        Post(EcuCommand::ImageChanged(static_cast<uint16_t>(0x5000 + 0x100 * i), {1, 2}));
    for (int i = 0; i < kRanges; ++i) w.Pass();
    ASSERT_EQ(w.Status().owedBytes, 2u * kRanges);
    ASSERT_TRUE(writes.empty());
    closeAtWrite = 2;
    w.Pass();  // the poll, then the plan until the close
    EXPECT_EQ(writes.size(), 2u);
    w.Pass();
    EXPECT_EQ(w.IsComConnected, 0);
    EXPECT_EQ(writes.size(), 2u);
}

// A close forgets: what the first session still owed never reaches the ECU
// of the next one.
TEST_F(Worker, NothingOwedOutlivesAClose) {
    Connect();
    memoryAnswers = false;
    Post(EcuCommand::ImageChanged(0x7CF7, {0x55}));
    w.Pass();
    w.Pass();
    ASSERT_EQ(w.Status().owedBytes, 1u);
    w.Post(EcuCommand::Close());
    w.Pass();
    EXPECT_EQ(w.Status().owedBytes, 0u);
    memoryAnswers = true;
    writes.clear();
    Connect();
    for (int i = 0; i < 3; ++i) w.Pass();
    EXPECT_TRUE(writes.empty());
    EXPECT_NE(ram[0x7CF7], 0x55);
}

TEST_F(Worker, CommandsWithoutALinkEndWithoutTouchingThePort) {
    const EcuCommand cases[] = {
        EcuCommand::ReadFirmware(),
        EcuCommand::WriteValue(0x1000, {1}, 1),
        EcuCommand::WriteCurve(0x1000, Bytes(64)),
        EcuCommand::WriteCell(0x1000, 1),
        EcuCommand::WriteTable(CommandKind::remakeuoz, Bytes(256)),
    };
    for (const auto& c : cases) {
        Post(c);
        w.Pass();
        EXPECT_TRUE(w.Idle()) << KindName(c.kind);
        EXPECT_EQ(view.LastResult(), std::string(KindName(c.kind)) + ": нет связи с ECU");
    }
    Post(EcuCommand::Poll());
    w.Pass();
    EXPECT_EQ(view.LastResult(), "DiagnosticECU ok");
    EXPECT_TRUE(port.Written().empty());
    EXPECT_TRUE(view.Lines().empty());
    EXPECT_EQ(w.IsDiagnostic, 0);
    EXPECT_FALSE(view.Image());
}

TEST_F(Worker, ACommandPostedDuringAWriteIsNotLost) {
    Connect();
    ecu.OnAny([this](const Bytes& f) {
        if (f[3] == 0x3D) w.Post(EcuCommand::Close());
        return Memory(f);
    });
    Post(EcuCommand::WriteValue(0x1000, {1}, 1));
    w.Pass();
    EXPECT_EQ(w.Pending(), "CloseComPort");
    w.Pass();
    EXPECT_EQ(w.IsComConnected, 0);
}

// The queue's rule per kind, on commands posted faster than a worker takes
// them: what waits afterwards, in order.
struct QueueCase {
    const char* name;
    std::vector<EcuCommand> posts;
    std::vector<std::string> waiting;  // "kind@address"
    std::vector<bool> accepted;
};
void PrintTo(const QueueCase& c, std::ostream* os) {
    *os << c.name;
}

class QueueRules : public ::testing::TestWithParam<QueueCase> {};

TEST_P(QueueRules, KeepOrderAndDropOnlyWhatTheRuleSays) {
    const QueueCase& c = GetParam();
    CommandQueue q;
    std::vector<bool> accepted;
    for (const EcuCommand& p : c.posts) accepted.push_back(q.Post(p) != 0);
    EXPECT_EQ(accepted, c.accepted);
    std::vector<std::string> waiting;
    std::vector<Bytes> curveBytes;
    while (auto taken = q.Take()) {
        waiting.push_back(std::string(KindName(taken->kind)) + "@" +
                          std::to_string(taken->address));
        if (taken->kind == CommandKind::correct23DF) curveBytes.push_back(taken->bytes);
        q.Finish(taken->id);
    }
    EXPECT_EQ(waiting, c.waiting);
    EXPECT_TRUE(q.Idle());
    if (std::string(c.name) == "NewerCurveForTheSameAddressReplacesTheOlder") {
        EXPECT_EQ(curveBytes, (std::vector<Bytes>{Bytes(64, 2), Bytes(64, 3)}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Queue, QueueRules,
    ::testing::Values(
        QueueCase{"CloseThenOpenBothRunInOrder",
                  {EcuCommand::Close(), EcuCommand::Open({})},
                  {"CloseComPort@0", "OpenComPort@0"},
                  {true, true}},
        // Opens nobody waits for any more: a close drops them, so it never
        // waits behind them, and of several opens only the newest waits.
        QueueCase{
            "ACloseDropsTheOpensStillWaiting",
            {EcuCommand::Open({}), EcuCommand::Close(), EcuCommand::Open({}), EcuCommand::Close()},
            {"CloseComPort@0", "CloseComPort@0"},
            {true, true, true, true}},
        QueueCase{"AtMostOneOpenWaits",
                  {EcuCommand::Open({}), EcuCommand::Open({}), EcuCommand::Open({})},
                  {"OpenComPort@0"},
                  {true, true, true}},
        QueueCase{"ImageChangesKeepTheirPlaceAroundADroppedOpen",
                  {EcuCommand::Open({}), EcuCommand::ImageChanged(0x7CF7, {1}), EcuCommand::Close(),
                   EcuCommand::Open({}), EcuCommand::ImageChanged(0x7CF8, {2})},
                  {"ImageChanged@0", "CloseComPort@0", "OpenComPort@0", "ImageChanged@0"},
                  {true, true, true, true, true}},
        QueueCase{"WritesKeepTheirOrderBehindAClose",
                  {EcuCommand::WriteCell(1, 1), EcuCommand::Close(), EcuCommand::WriteCell(2, 2),
                   EcuCommand::WriteTable(CommandKind::remakegbc, Bytes(256))},
                  {"remake@1", "CloseComPort@0", "remake@2", "remakegbc@0"},
                  {true, true, true, true}},
        QueueCase{
            "ASecondFirmwareReadIsRefused",
            {EcuCommand::ReadFirmware(), EcuCommand::WriteCell(1, 1), EcuCommand::ReadFirmware()},
            {"ReadFW@0", "remake@1"},
            {true, true, false}},
        QueueCase{"NewerCurveForTheSameAddressReplacesTheOlder",
                  {EcuCommand::WriteCurve(0x100, Bytes(64, 1)),
                   EcuCommand::WriteCurve(0x200, Bytes(64, 3)),
                   EcuCommand::WriteCurve(0x100, Bytes(64, 2))},
                  {"correct23DF@256", "correct23DF@512"},
                  {true, true, true}},
        QueueCase{"APollWaitingTakesNoSecond",
                  {EcuCommand::Poll(), EcuCommand::Poll(), EcuCommand::WriteCell(1, 1),
                   EcuCommand::Poll()},
                  {"DiagnosticECU@0", "remake@1"},
                  {true, false, true, false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Queue, ACommandRunningCountsAsPendingUntilFinished) {
    CommandQueue q;
    q.Post(EcuCommand::ReadFirmware());
    q.Post(EcuCommand::WriteCell(1, 1));
    auto read = q.Take();
    ASSERT_TRUE(read);
    EXPECT_EQ(q.Pending(), "ReadFW");
    // A read runs alone: no second one while it runs.
    EXPECT_EQ(q.Post(EcuCommand::ReadFirmware()), 0u);
    q.Finish(read->id);
    EXPECT_EQ(q.Pending(), "remake");
    q.Finish(q.Take()->id);
    EXPECT_TRUE(q.Idle());
    EXPECT_EQ(q.Pending(), "");
}
