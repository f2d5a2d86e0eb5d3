#include "ecu/ECUThread.h"

#include <chrono>

namespace korvane::ecu {

namespace {

constexpr uint8_t kBlock = 0x40;  // one block of a table or curve write
constexpr uint8_t kReadBlock = 0x60;
constexpr int kBetweenBlocksMs = 100;
constexpr int kMaxWriteBytes = 250;  // 5 header bytes + data fit one length byte
constexpr int kTableBytes = 4 * kBlock;

struct TableInfo {
    const char* line;
    uint16_t blocks[4];
};
constexpr TableInfo kTables[] = {
    {"ECU: >>WriteGBC", {0x75EF, 0x762F, 0x766F, 0x76AF}},
    {"ECU: >>WriteUOZ", {0x6DC8, 0x6E08, 0x6E48, 0x6E88}},
    {"ECU: >>WritePopr", {0x7CF7, 0x7D37, 0x7D77, 0x7DB7}},
};

Bytes AddressBytes(uint32_t address) {
    return {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
}

const std::string kNoLink = "нет связи с ECU";

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
    queue_.Wake();
    if (thread_.joinable()) thread_.join();
}

EcuStatus TECUThread::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void TECUThread::FlagsChanged() {
    std::lock_guard lock(statusMutex_);
    status_.IsComConnected = IsComConnected;
    status_.IsECUConnected = IsECUConnected;
    status_.IsDiagnostic = IsDiagnostic;
    status_.error = error;
    status_.FreshFrames = FreshFrames;
}

void TECUThread::PublishPoll() {
    auto frame = DiagnosticInfo.Get();
    std::lock_guard lock(statusMutex_);
    status_.numlog = numlog;
    status_.DiagnosticInfo = std::move(frame);
}

bool TECUThread::Sleeping() {
    if (Connected() && IsDiagnostic == 1) return false;
    return !queue_.HasWaiting() || ErrorComPorts != 0;
}

void TECUThread::Execute() {
    using namespace std::chrono_literals;
    while (!StopRequested()) {
        if (!Sleeping()) {
            Pass();
            continue;
        }
        // Only the window can give an idle worker something to do, and it
        // does so by posting; wait for that instead of passing idly. The
        // guard against a missing port changes without a post, so while it
        // is set the worker looks again now and then.
        const bool guarded = ErrorComPorts != 0;
        queue_.WaitUntil(
            [&](bool waiting) {
                return link_.Stopping().Raised() || (ErrorComPorts != 0) != guarded ||
                       (waiting && !guarded);
            },
            guarded ? std::chrono::milliseconds(500) : CommandQueue::kForever);
    }
}

void TECUThread::Pass() {
    std::optional<EcuCommand> command;
    if (ErrorComPorts == 0) command = queue_.Take();
    if (!command) {
        if (Connected() && IsDiagnostic == 1) {
            if (!longDiagnosticShown_) {
                Log("ECU: >> Long Diagnostic");
                longDiagnosticShown_ = true;
            }
            if (PollDiagnostics() && link_.LastValid()) WriteOwed();
        }
        link_.Pause(1);
        FlagsChanged();
        return;
    }
    failure_.clear();
    Run(*command);
    FlagsChanged();
    queue_.Finish(command->id);
    if (command->kind != CommandKind::OpenComPort && command->kind != CommandKind::ImageChanged) {
        if (failure_.empty() && StopRequested() && IsWrite(command->kind))
            failure_ = "программа закрывается";
        log_.CommandFinished({command->kind, command->id, failure_.empty(), failure_});
    }
}

void TECUThread::Run(const EcuCommand& command) {
    const bool connected = Connected();
    // A write without a session would send nothing: say so instead of
    // passing it over in silence.
    if (IsWrite(command.kind) && !connected) {
        failure_ = kNoLink;
        return;
    }
    switch (command.kind) {
        case CommandKind::OpenComPort:
            OpenComPort(command);
            break;
        case CommandKind::ImageChanged:
            for (const RamRange& r : command.ranges) sync_.Want(r.address, r.bytes);
            PublishSync();
            break;
        case CommandKind::CloseComPort:
            CloseComPort();
            break;
        case CommandKind::DiagnosticECU:
            if (connected) PollDiagnostics();
            break;
        case CommandKind::ReadFW:
            if (!connected) {
                failure_ = kNoLink;
                break;
            }
            Log("ECU: >> Read RAM ");
            failure_ = ReadFirmware();
            break;
        case CommandKind::remake:
            Log("ECU: >>WriteMemory");
            WriteCell(command);
            PollDiagnostics();
            break;
        case CommandKind::correct1DF:
            Log("ECU: >>correct1D");
            link_.Pause(kBetweenBlocksMs);
            WriteValues(command);
            PollDiagnostics();
            break;
        case CommandKind::correct23DF:
            Log("ECU: >>correct23DF");
            link_.Pause(kBetweenBlocksMs);
            WriteCurve(command);
            PollDiagnostics();
            break;
        case CommandKind::remakegbc:
            WriteTableCommand(kBcn, command);
            break;
        case CommandKind::remakeuoz:
            WriteTableCommand(kIgnition, command);
            break;
        case CommandKind::remakepopr:
            WriteTableCommand(kCorrection, command);
            break;
    }
}

void TECUThread::OpenComPort(const EcuCommand& command) {
    // What is written from here on belongs to this open's session.
    openId_ = command.id;
    const OpenSettings& settings = command.open;
    PortName = settings.portName.empty() ? std::string("COM1") : settings.portName;
    PortSpeed = settings.portSpeed.empty() ? std::string("57600") : settings.portSpeed;
    PortTimeOut = settings.portTimeOut;
    PortReadTimeOut = settings.portReadTimeOut;
    FastExchange = settings.fastExchange ? 1 : 0;
    FastInit = settings.fastInit ? 1 : 0;
    if (IsComConnected == 1) {
        // Already open (no close came between): the session goes on.
        if (Connected() && IsDiagnostic == 1)
            log_.SessionUp(command.id);
        else
            log_.ConnectFailed("порт уже открыт", command.id);
        return;
    }
    error = 0;
    numlog = 0;
    PublishPoll();
    link_.ResetEchoHint();
    // A new session starts from the image as it was when the connect was
    // asked for; nothing of an earlier session is owed any more.
    sync_.Begin(command.ranges);
    PublishSync();
    if (!link_.OpenPort() || IsComConnected != 1) {
        sync_.Forget();
        PublishSync();
        if (!StopRequested()) log_.ConnectFailed("порт не открыт", command.id);
        return;
    }
    // A flaky line may spoil one answer of the start sequence: start again
    // after the K-line's idle time, a few times, before giving up.
    for (int attempt = 1;; ++attempt) {
        if (link_.StartSession()) {
            IsECUConnected = 1;
            ReadBackKept();
            PollDiagnostics();
            ResumePolling();
            FlagsChanged();
            if (Connected()) {
                log_.SessionUp(command.id);
                return;
            }
            break;
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
    sync_.Forget();
    PublishSync();
    log_.ConnectFailed("ECU не отвечает", command.id);
}

void TECUThread::CloseComPort() {
    if (Connected()) link_.StopSession();
    IsECUConnected = 0;
    link_.ClosePort();
    sync_.Forget();
    PublishSync();
}

void TECUThread::WriteTableCommand(Table table, const EcuCommand& command) {
    if (RefuseWrite(kTables[table].blocks[0], static_cast<int64_t>(command.bytes.size()),
                    command.bytes.size() == kTableBytes)) {
        failure_ = "неверная длина таблицы";
        return;
    }
    // Two blocks, a pause between them, then the other two, as one write.
    for (int half = 0; half < 2; ++half) {
        Log(kTables[table].line);
        WriteTableBlock(table, half * 2, command.bytes);
        link_.Pause(kBetweenBlocksMs);
        WriteTableBlock(table, half * 2 + 1, command.bytes);
    }
    // Two polls after the last block, as the line has always seen it.
    PollDiagnostics();
    ResumePolling();
    PollDiagnostics();
}

void TECUThread::WriteTableBlock(Table table, int block, const Bytes& bytes) {
    (void)WriteBlock(kTables[table].blocks[block], kBlock, bytes.data() + block * kBlock);
    IsDiagnostic = 0;
}

bool TECUThread::PollDiagnostics() {
    const bool result = link_.SendRequest({0x21, 0x0F});
    ++numlog;
    PublishPoll();
    FlagsChanged();
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

TECUThread::Outcome TECUThread::WriteBlock(uint16_t address, uint8_t n, const uint8_t* bytes,
                                           uint8_t* code) {
    const Bytes where = AddressBytes(address);
    ProgressLine("ECU: >> Write ECU RAM - " + HexText(where));
    Bytes payload = {0x3D, 0x00, where[0], where[1], n};
    payload.insert(payload.end(), bytes, bytes + n);
    const bool sent = IsComConnected == 1;
    // Writes are idempotent: one whose confirmation was lost is sent again.
    link_.Request(payload);
    const bool confirmed = sent && link_.LastValid();
    const Bytes& answer = link_.LastAnswer();
    const bool refused =
        sent && !confirmed && answer.size() >= 3 && answer[0] == 0x7F && answer[1] == 0x3D;
    if (refused) {
        // The ECU's own "no": asking again would only get the same answer.
        Log("ECU: << ОШИБКА Запись отклонена ECU! Адрес - " + HexText(where) + "; байт - " +
            std::to_string(n) + "; код - " + HexText(Bytes{answer[2]}) + "; не повторяется");
        keepLastLine_ = true;
        failure_ = "запись отклонена ECU, код " + HexText(Bytes{answer[2]});
        if (code) *code = answer[2];
        return Outcome::Refused;
    }
    if (sent && !confirmed) {
        Log("ECU: << ОШИБКА Запись не выполнена! Адрес - " + HexText(where) + "; байт - " +
            std::to_string(n) + "; повтор после следующего ответа ECU");
        keepLastLine_ = true;
        failure_ = "запись не подтверждена";
    } else if (link_.LastRepeats() > 0) {
        keepLastLine_ = true;
    }
    if (!sent && failure_.empty()) failure_ = kNoLink;
    return confirmed ? Outcome::Confirmed : Outcome::Unconfirmed;
}

void TECUThread::PublishSync() {
    const size_t owed = sync_.OwedBytes();
    std::lock_guard lock(statusMutex_);
    status_.owedBytes = owed;
    status_.refusals = sync_.Refusals();
}

void TECUThread::WriteOwed() {
    const std::vector<SyncWrite> plan = sync_.Plan();
    if (plan.empty()) return;
    for (const SyncWrite& write : plan) {
        // A disconnect must not wait behind the whole plan: what is left
        // stays owed, and a close forgets it anyway.
        if (!Connected() || StopRequested() || queue_.CloseWaiting()) break;
        RunSyncWrite(write);
    }
    PublishSync();
}

void TECUThread::RunSyncWrite(const SyncWrite& write) {
    const char* line = nullptr;
    switch (write.kind) {
        case CommandKind::remake:
            line = "ECU: >>WriteMemory";
            break;
        case CommandKind::correct1DF:
            line = "ECU: >>correct1D";
            break;
        case CommandKind::correct23DF:
            line = "ECU: >>correct23DF";
            break;
        case CommandKind::remakegbc:
            line = kTables[kBcn].line;
            break;
        case CommandKind::remakeuoz:
            line = kTables[kIgnition].line;
            break;
        case CommandKind::remakepopr:
            line = kTables[kCorrection].line;
            break;
        default:
            return;
    }
    const bool table = write.kind == CommandKind::remakegbc ||
                       write.kind == CommandKind::remakeuoz ||
                       write.kind == CommandKind::remakepopr;
    SyncReport report{write.kind, write.blocks.front().address, 0, true, false, 0, openId_};
    Log(line);
    failure_.clear();
    for (size_t k = 0; k < write.blocks.size(); ++k) {
        const SyncBlock& block = write.blocks[k];
        if (!Connected() || StopRequested()) {
            report.confirmed = false;
            break;
        }
        // A table goes as it always has: two blocks, a pause, the other two.
        if (table && k == 2) Log(line);
        if (k > 0 || write.kind == CommandKind::correct1DF ||
            write.kind == CommandKind::correct23DF)
            link_.Pause(kBetweenBlocksMs);
        uint8_t code = 0;
        const Outcome outcome = WriteBlock(block.address, static_cast<uint8_t>(block.bytes.size()),
                                           block.bytes.data(), &code);
        report.length += static_cast<uint32_t>(block.bytes.size());
        if (outcome == Outcome::Confirmed) {
            sync_.Confirmed(block);
        } else if (outcome == Outcome::Refused) {
            sync_.Refused(block, code);
            report.confirmed = false;
            report.refused = true;
            report.code = code;
        } else {
            report.confirmed = false;
        }
    }
    failure_.clear();
    log_.Synced(report);
}

void TECUThread::ReadBackKept() {
    const auto ranges = sync_.ReadBackRanges(kReadBlock);
    if (ranges.empty()) return;
    size_t total = 0;
    for (const auto& r : ranges) total += r.second;
    Log("ECU: >> Сверка RAM с образом: " + std::to_string(total) + " байт");
    for (const auto& [address, n] : ranges) {
        if (!Connected() || StopRequested()) break;
        const Bytes got = ReadBlock(address, static_cast<uint8_t>(n));
        // An unread piece stays owed: the image is written over it.
        if (got.size() == n) sync_.ReadBack(address, got);
    }
    const size_t owed = sync_.OwedBytes();
    Log("ECU: << Сверка RAM: " + (owed == 0 ? std::string("совпадает с образом")
                                            : "отличается байт: " + std::to_string(owed)));
    PublishSync();
}

bool TECUThread::RefuseWrite(uint32_t address, int64_t count, bool fits) {
    if (fits) return false;
    Log("ECU: << ОШИБКА Запись отклонена: за пределами данных или памяти! Адрес - " +
        HexText(AddressBytes(address)) + "; байт - " + std::to_string(count) + ";");
    keepLastLine_ = true;
    return true;
}

std::string TECUThread::ReadFirmware() {
    const int32_t remembered = IsDiagnostic;
    uint32_t address = 0;
    Bytes image;
    progressMax_ = kFirmwareBlocks;
    progressPos_ = 0;
    ShowProgress();
    std::string failure = "ECU не опрашивается";
    if (IsDiagnostic == 1) {
        IsDiagnostic = 0;
        FlagsChanged();
        image.reserve(kFirmwareSize);
        failure.clear();
        for (int i = 1; i <= kFirmwareBlocks + 1; ++i) {
            const bool last = i > kFirmwareBlocks;
            if (!last) {
                progressPos_ = i;
                ShowProgress();
            }
            const uint8_t n = last ? 0x40 : kReadBlock;
            // A closing program does not wait for the rest of a long read.
            if (StopRequested()) {
                failure = "программа закрывается";
            } else {
                const Bytes block = ReadBlock(static_cast<uint16_t>(address), n);
                if (block.size() == n) {
                    image.insert(image.end(), block.begin(), block.end());
                    address += n;
                    continue;
                }
                failure = StopRequested() ? "программа закрывается"
                          : Connected()
                              ? "нет ответа на чтение по адресу " + HexText(AddressBytes(address))
                              : "связь с ECU потеряна на адресе " + HexText(AddressBytes(address));
            }
            progressPos_ = 0;
            ShowProgress();
            break;
        }
        // Polling goes on as before, also after a read that broke off: the
        // window's link watch then sees whether the ECU still answers.
        if (Connected()) IsDiagnostic = remembered;
        FlagsChanged();
        if (failure.empty()) {
            // The read becomes the image: the ECU holds it as it is.
            sync_.Adopt(image);
            PublishSync();
            log_.FirmwareRead(std::make_shared<const Bytes>(std::move(image)));
        }
    }
    progressPos_ = 0;
    ShowProgress();
    return failure;
}

void TECUThread::WriteCell(const EcuCommand& command) {
    if (IsDiagnostic != 1) {
        failure_ = "ECU не опрашивается";
        return;
    }
    // The request says one byte; more cells would not match it.
    if (RefuseWrite(command.address, static_cast<int64_t>(command.bytes.size()),
                    command.bytes.size() == 1)) {
        failure_ = "неверная длина";
        return;
    }
    const int32_t remembered = IsDiagnostic;
    IsDiagnostic = 0;
    WriteBlock(command.address, 1, command.bytes.data());
    IsDiagnostic = remembered;
}

void TECUThread::WriteValues(const EcuCommand& command) {
    const uint32_t address = command.address;
    const auto count = static_cast<int64_t>(command.bytes.size());
    const bool fits = count >= 1 && count <= kMaxWriteBytes && count == command.lengthByte &&
                      address + count <= kFirmwareSize;
    if (!RefuseWrite(address, count, fits))
        WriteBlock(static_cast<uint16_t>(address), command.lengthByte, command.bytes.data());
    else
        failure_ = "за пределами памяти";
    PollDiagnostics();
    ResumePolling();
}

void TECUThread::WriteCurve(const EcuCommand& command) {
    uint32_t address = command.address;
    const auto size = static_cast<int64_t>(command.bytes.size());
    const int64_t blocks = size / kBlock;
    const bool fits =
        size % kBlock == 0 && blocks <= kMaxCurveBlocks && address + size <= kFirmwareSize;
    if (!RefuseWrite(address, size, fits)) {
        for (int64_t k = 0; k < blocks; ++k) {
            WriteBlock(static_cast<uint16_t>(address), kBlock, command.bytes.data() + k * kBlock);
            address += kBlock;
        }
    } else {
        failure_ = "за пределами памяти";
    }
    ResumePolling();
}

}  // namespace korvane::ecu
