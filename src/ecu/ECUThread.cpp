#include "ecu/ECUThread.h"

#include <chrono>

namespace korvane::ecu {

namespace {

constexpr uint8_t kBlock = 0x40;  // one block of a table or curve write
constexpr uint8_t kReadBlock = 0x60;
constexpr int kBetweenBlocksMs = 100;
constexpr int kMaxWriteBytes = 250;  // 5 header bytes + data fit one length byte

struct TableInfo {
    const char* command;
    uint16_t blocks[4];
};
constexpr TableInfo kTables[] = {
    {"remakegbc", {0x75EF, 0x762F, 0x766F, 0x76AF}},
    {"remakeuoz", {0x6DC8, 0x6E08, 0x6E48, 0x6E88}},
    {"remakepopr", {0x7CF7, 0x7D37, 0x7D77, 0x7DB7}},
};

Bytes AddressBytes(uint32_t address) {
    return {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
}

template <size_t N>
Bytes LowBytes(const std::array<int32_t, N>& cells, size_t first, size_t count) {
    Bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(cells[first + i] & 0xFF);
    return out;
}

}  // namespace

TECUThread::TECUThread(platform::UiBridge& ui, LogView& view, PortFactory makePort,
                       platform::Clock& clock)
    : log_(ui, view), link_(*this, log_, std::move(makePort), clock) {}

TECUThread::~TECUThread() {
    Stop();
}

void TECUThread::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TECUThread::Stop() {
    link_.Stopping().Raise();
    Command.Wake();
    if (thread_.joinable()) thread_.join();
}

bool TECUThread::Idle() {
    if (Connected() && IsDiagnostic == 1) return false;
    return Command.Empty() || ErrorComPorts != 0;
}

void TECUThread::Execute() {
    using namespace std::chrono_literals;
    while (!StopRequested()) {
        if (!Idle()) {
            Pass();
            continue;
        }
        // Only the window can give an idle worker something to do, and it
        // does so by posting; wait for that instead of passing idly. The
        // guard against a missing port changes without a post, so while it
        // is set the worker looks again now and then.
        const bool guarded = ErrorComPorts != 0;
        Command.WaitUntil(
            [&](const Mailbox::Entry& e) {
                return link_.Stopping().Raised() || (ErrorComPorts != 0) != guarded ||
                       (!e.word.empty() && !guarded);
            },
            guarded ? std::chrono::milliseconds(500) : Mailbox::kForever);
    }
}

void TECUThread::Pass() {
    const Mailbox::Entry command = Command.Peek();
    if (command.word.empty() || ErrorComPorts != 0) {
        if (Connected() && IsDiagnostic == 1) {
            if (!longDiagnosticShown_) {
                Log("ECU: >> Long Diagnostic");
                longDiagnosticShown_ = true;
            }
            if (PollDiagnostics() && link_.LastValid()) WritePending();
        }
        link_.Pause(1);
        return;
    }

    post_ = command.serial;
    const std::string& word = command.word;
    const bool connected = Connected();
    if (word == "OpenComPort") {
        OpenComPort();
    } else if (word == "CloseComPort") {
        CloseComPort();
    } else if (word == "DiagnosticECU") {
        ClearCommand();
        if (connected) PollDiagnostics();
    } else if (word == "ReadFW") {
        ClearCommand();
        if (connected) {
            Log("ECU: >> Read RAM ");
            ReadFirmware();
        }
    } else if (word == "remake") {
        if (connected) Log("ECU: >>WriteMemory");
        WriteCell();
        PollDiagnostics();
        ClearCommand();
    } else if (word == "correct1DF") {
        if (connected) {
            Log("ECU: >>correct1D");
            link_.Pause(kBetweenBlocksMs);
        }
        WriteValues();
        PollDiagnostics();
        ClearCommand();
    } else if (word == "correct23DF") {
        if (connected) {
            Log("ECU: >>correct23DF");
            link_.Pause(kBetweenBlocksMs);
        }
        WriteCurve();
        PollDiagnostics();
        ClearCommand();
    } else if (word == "remakegbc") {
        WriteTableCommand(kBcn, "ECU: >>WriteGBC");
    } else if (word == "remakeuoz") {
        WriteTableCommand(kIgnition, "ECU: >>WriteUOZ");
    } else if (word == "remakepopr") {
        WriteTableCommand(kCorrection, "ECU: >>WritePopr");
    } else {
        // Not a word of ours: left in the mailbox it would keep the worker
        // spinning and polling off for good.
        ClearCommand();
        Log("ECU: << Неизвестная команда: " + word);
    }
}

void TECUThread::OpenComPort() {
    ClearCommand();
    if (PortName.Get().empty()) PortName = "COM1";
    if (PortSpeed.Get().empty()) PortSpeed = "57600";
    ConnectFailed = 0;
    link_.ResetEchoHint();
    if (!link_.OpenPort() || IsComConnected != 1) return;
    // A flaky line may spoil one answer of the start sequence: start again
    // after the K-line's idle time, a few times, before giving up.
    for (int attempt = 1;; ++attempt) {
        if (link_.StartSession()) {
            IsECUConnected = 1;
            PollDiagnostics();
            ResumePolling();
            return;
        }
        IsECUConnected = 0;
        if (StopRequested() || IsComConnected != 1) break;
        link_.EndFailedStart();
        if (StopRequested() || attempt == kStartAttempts) break;
        Log("ECU: >> Повторный запуск связи, попытка " + std::to_string(attempt + 1) + " из " +
            std::to_string(kStartAttempts));
        link_.Pause(kStartIdleMs);
    }
    if (StopRequested()) return;
    Log("ECU: << Связь с ECU не установлена");
    link_.ClosePort();
    ConnectFailed = 1;
}

void TECUThread::CloseComPort() {
    ClearCommand();
    if (Connected()) link_.StopSession();
    IsECUConnected = 0;
    link_.ClosePort();
}

void TECUThread::WriteTableCommand(Table table, const char* line) {
    bool done = false;
    if (Connected()) {
        Log(line);
        done = WriteTable(table);
        if (!done) {
            link_.Pause(kBetweenBlocksMs);
            done = WriteTable(table);
        }
    } else {
        done = WriteTable(table);
    }
    if (done) {
        PollDiagnostics();
        ClearCommand();
    }
}

bool TECUThread::PollDiagnostics() {
    const bool result = link_.SendRequest({0x21, 0x0F});
    ++numlog;
    return result;
}

void TECUThread::ShowProgress() {
    log_.ShowProgress(progressMax_, progressPos_);
    progressPos_ = 0;
}

void TECUThread::Log(const std::string& line) {
    log_.LogMessage(line);
    keepLastLine_ = false;
}

void TECUThread::ProgressLine(const std::string& line) {
    // The block lines replace each other, but never a warning the user has
    // not had the chance to read.
    if (keepLastLine_) {
        Log(line);
    } else {
        log_.ReplaceLastLogLine(line);
    }
}

Bytes TECUThread::ReadBlock(uint16_t address, uint8_t n) {
    const Bytes where = AddressBytes(address);
    ProgressLine("ECU: >> Read ECU RAM - " + HexText(where));
    const bool ok = link_.Request({0x23, 0x00, where[0], where[1], n});
    // The lines of a repeated read stay for the user to see.
    if (link_.LastRepeats() > 0) keepLastLine_ = true;
    if (!ok) return {};
    return link_.TakeLastReadData();
}

bool TECUThread::WriteBlock(uint16_t address, uint8_t n, const Bytes& bytes) {
    const Bytes where = AddressBytes(address);
    ProgressLine("ECU: >> Write ECU RAM - " + HexText(where));
    Bytes payload = {0x3D, 0x00, where[0], where[1], n};
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    const bool sent = IsComConnected == 1;
    // Writes are idempotent: one whose confirmation was lost is sent again.
    link_.Request(payload);
    const bool confirmed = link_.LastValid();
    if (sent) pending_.Wrote(address, bytes, confirmed);
    if (sent && !confirmed) {
        Log("ECU: << ОШИБКА Запись не выполнена! Адрес - " + HexText(where) + "; байт - " +
            std::to_string(bytes.size()) + "; повтор после следующего ответа ECU");
        keepLastLine_ = true;
    } else if (link_.LastRepeats() > 0) {
        keepLastLine_ = true;
    }
    return confirmed;
}

void TECUThread::WritePending() {
    const int64_t now = link_.GetClock().NowMs();
    // An ECU that keeps refusing a write is asked again once a second, not
    // after every poll.
    if (pending_.Empty() || (pendingTriedAt_ >= 0 && now - pendingTriedAt_ < kPendingEveryMs))
        return;
    pendingTriedAt_ = now;
    const auto blocks = pending_.Blocks();
    Log("ECU: >> Запись отложенных блоков: " + std::to_string(blocks.size()));
    keepLastLine_ = true;
    for (const auto& block : blocks) {
        if (!Connected() || StopRequested()) break;
        WriteBlock(block.address, static_cast<uint8_t>(block.bytes.size()), block.bytes);
    }
}

bool TECUThread::RefuseWrite(uint32_t address, int64_t count, bool fits) {
    if (fits) return false;
    Log("ECU: << ОШИБКА Запись отклонена: за пределами данных или памяти! Адрес - " +
        HexText(AddressBytes(address)) + "; байт - " + std::to_string(count) + ";");
    keepLastLine_ = true;
    return true;
}

bool TECUThread::ReadFirmware() {
    const int32_t remembered = IsDiagnostic;
    uint32_t address = 0;
    Bytes image;
    progressMax_ = kFirmwareBlocks;
    progressPos_ = 0;
    ShowProgress();
    bool ok = false;
    if (IsDiagnostic == 1) {
        IsDiagnostic = 0;
        image.reserve(kFirmwareSize);
        ok = true;
        for (int i = 1; i <= kFirmwareBlocks + 1; ++i) {
            const bool last = i > kFirmwareBlocks;
            if (!last) {
                progressPos_ = i;
                ShowProgress();
            }
            const uint8_t n = last ? 0x40 : kReadBlock;
            // A closing program does not wait for the rest of a long read.
            const Bytes block =
                StopRequested() ? Bytes{} : ReadBlock(static_cast<uint16_t>(address), n);
            if (block.size() != n) {
                progressPos_ = 0;
                ShowProgress();
                ok = false;
                break;
            }
            image.insert(image.end(), block.begin(), block.end());
            address += n;
        }
        if (ok) {
            ReadRam.Set(std::move(image));
            ReadCompleate = 1;
            IsDiagnostic = remembered;
        }
    }
    progressPos_ = 0;
    ShowProgress();
    return ok;
}

bool TECUThread::WriteCell() {
    if (IsDiagnostic != 1) return true;
    const uint32_t address = (adressdata[0] << 8) | adressdata[1];
    // The request says one byte; more cells would not match it.
    if (RefuseWrite(address, numdata, numdata == 1)) return true;
    const int32_t remembered = IsDiagnostic;
    IsDiagnostic = 0;
    WriteBlock(static_cast<uint16_t>(address), 1, LowBytes(data, 0, 1));
    IsDiagnostic = remembered;
    return true;
}

bool TECUThread::WriteValues() {
    const uint32_t address = (adressdata[0] << 8) | adressdata[1];
    const int64_t count = numdata;
    const bool fits = count >= 1 && count <= kMaxWriteBytes && count == numdatastr &&
                      address + count <= kFirmwareSize;
    if (!RefuseWrite(address, count, fits))
        WriteBlock(static_cast<uint16_t>(address), numdatastr,
                   LowBytes(data, 0, static_cast<size_t>(count)));
    ClearCommand();
    PollDiagnostics();
    ResumePolling();
    return true;
}

bool TECUThread::WriteCurve() {
    uint32_t address = (adressdata[0] << 8) | adressdata[1];
    const int64_t blocks = plusrw;
    const bool fits = blocks * kBlock <= kData2Cells && address + blocks * kBlock <= kFirmwareSize;
    if (!RefuseWrite(address, blocks * kBlock, fits)) {
        for (int64_t k = 0; k < blocks; ++k) {
            WriteBlock(static_cast<uint16_t>(address), kBlock,
                       LowBytes(data2, static_cast<size_t>(k * kBlock), kBlock));
            address += kBlock;
            const Bytes next = AddressBytes(address);
            adressdata = {next[0], next[1]};
        }
    }
    ClearCommand();
    ResumePolling();
    return true;
}

bool TECUThread::WriteTable(Table table) {
    TableWrite& write = tables_[table];
    // Each post writes the whole table from its first block: a post that was
    // replaced half way must not make the next one skip blocks.
    if (write.post != post_) {
        write.post = post_;
        write.blocksDone = 0;
    }
    const int c = write.blocksDone;
    WriteBlock(kTables[table].blocks[c], kBlock,
               LowBytes(data, static_cast<size_t>(c) * kBlock, kBlock));
    ++write.blocksDone;
    IsDiagnostic = 0;
    if (write.blocksDone < 4) return false;
    write.blocksDone = 0;
    ClearCommand();
    PollDiagnostics();
    ResumePolling();
    return true;
}

}  // namespace korvane::ecu
