#include "app/SessionController.h"

#include <ctime>
#include <filesystem>
#include <utility>

#include "app/Session.h"
#include "ecu/ECUThread.h"
#include "ecu/RamSync.h"
#include "lambda/LAMBDAThread.h"
#include "platform/NumberText.h"
#include "platform/Paths.h"
#include "platform/PortList.h"
#include "platform/TextCodec.h"

namespace korvane::app {

std::vector<ButtonState> ToolbarButtons(SessionState state, bool firmwareLoaded) {
    const bool session = state == SessionState::Live || state == SessionState::Tuning ||
                         state == SessionState::ReadingFirmware;
    const bool reading = state == SessionState::ReadingFirmware;
    const bool tuning = state == SessionState::Tuning;
    // At the desk: no connection, nothing on its way.
    const bool desk = state == SessionState::Disconnected;
    return {
        {1, desk},   // connect
        {2, !desk},  // disconnect
        {4, true},
        {5, true},
        {7, (session && !reading) || desk},                   // load an image file
        {8, session && !reading},                             // read the image out of the ECU
        {10, state == SessionState::Live && firmwareLoaded},  // tuning start
        {11, tuning},                                         // tuning stop
        {12, false},
        {14, session || (desk && firmwareLoaded)},  // the tuning grid
        {15, false},
        {16, false},
        {18, session},
        {19, session},
        {20, false},
        {21, (session && !reading) || (desk && firmwareLoaded)},  // the map editor
        {23, false},
        {24, false},
        {27, true},
    };
}

bool SaveImageAsOffered(SessionState state, bool firmwareLoaded) {
    return firmwareLoaded && state != SessionState::ReadingFirmware;
}

namespace {

std::string Quoted(const std::string& key, const std::string& value) {
    return "Параметр «" + key + "»: значение «" + value + "»";
}

}  // namespace

ConnectSettingsParse ParseConnectSettings(
    const std::function<std::string(const std::string& key)>& setting) {
    ConnectSettingsParse out;
    ConnectSettings s;
    auto integer = [&](const char* key) -> std::optional<int> {
        const std::string text = setting(key);
        const auto v = platform::ParseInteger(text);
        if (v && *v >= INT32_MIN && *v <= INT32_MAX) return static_cast<int>(*v);
        out.error = Quoted(key, text) + " не является целым числом.";
        return std::nullopt;
    };
    // A timer period of 0 or less would spin the UI thread (and divide the
    // rate display by zero): such a value is refused like one that is no
    // number.
    auto period = [&](const char* key) -> std::optional<int> {
        const auto v = integer(key);
        if (!v) return std::nullopt;
        if (*v > 0) return v;
        out.error = Quoted(key, setting(key)) + " должно быть целым числом больше нуля.";
        return std::nullopt;
    };
    // The exchange pauses: beyond 10 s a worker would sit out whole minutes
    // between requests, and a negative pause stalls the connect.
    auto pause = [&](const char* key) -> std::optional<int> {
        const auto v = integer(key);
        if (!v) return std::nullopt;
        if (*v >= 0 && *v <= kMaxExchangePauseMs) return v;
        out.error = Quoted(key, setting(key)) + " должно быть целым числом от 0 до " +
                    std::to_string(kMaxExchangePauseMs) + ".";
        return std::nullopt;
    };

    const auto minThrottle = integer("Не настраивать ниже %");
    if (!minThrottle) return out;
    s.minTuneThrottle = *minThrottle;
    const auto bcn = period("Интервал коррекции БЦН(мс)");
    if (!bcn) return out;
    s.bcnIntervalMs = *bcn;
    // Empty (as shipped) means neighbour learning is off.
    if (!setting("Интервал обучения соседних РТ").empty()) {
        const auto neighbour = period("Интервал обучения соседних РТ");
        if (!neighbour) return out;
        s.neighbourIntervalMs = *neighbour;
    }
    const auto rewrite = period("Время перезаписи прошивки(мс)");
    if (!rewrite) return out;
    s.rewriteMs = *rewrite;
    s.ecu.portName = setting("Ecu Com");
    s.ecu.portSpeed = setting("Скорость ECU COM");
    const auto before = pause("Таймаут1");
    if (!before) return out;
    s.ecu.portTimeOut = *before;
    const auto after = pause("Таймаут2");
    if (!after) return out;
    s.ecu.portReadTimeOut = *after;
    s.ecu.fastExchange = setting("Быстрый обмен") == "да";
    s.ecu.fastInit = setting("Инициализация K-line") == "быстрая";
    s.writeLogs = setting("Писать логи") == "да";
    s.reconnect = setting("Переподключаться") == "да";
    s.wideband = setting("Датчик кислорода") == "ШДК LC-1";
    s.lc1Port = setting("LC-1 Com");
    if (s.wideband && platform::SameDevice(s.ecu.portName, s.lc1Port)) {
        out.error = "Параметры «Ecu Com» (" + s.ecu.portName + ") и «LC-1 Com» (" + s.lc1Port +
                    ") указывают на одно и то же устройство. Адаптеру K-line и LC-1 нужны "
                    "разные порты. Два адаптера с одинаковым серийным номером получают одно имя "
                    "в /dev/serial/by-id: укажите для них /dev/ttyUSB0, /dev/ttyUSB1 или имена "
                    "из /dev/serial/by-path.";
        return out;
    }
    out.settings = std::move(s);
    return out;
}

std::vector<std::string> MissingPortNotes(const ConnectSettings& settings,
                                          const std::vector<std::string>& present) {
    std::vector<std::string> notes;
    for (const std::string& port :
         {settings.ecu.portName, settings.wideband ? settings.lc1Port : std::string()}) {
        if (port.empty()) continue;
        if (auto note = platform::MissingPortNote(port, present)) notes.push_back(*note);
    }
    return notes;
}

// Hands the worker's events to the window's handlers.
class SessionController::EcuEventSink final : public ecu::LogView {
  public:
    explicit EcuEventSink(const EcuEvents& e) : e_(e) {}
    void AppendLine(const std::string& line) override {
        if (e_.appendLine) e_.appendLine(line);
    }
    void ReplaceLastLine(const std::string& line) override {
        if (e_.replaceLastLine) e_.replaceLastLine(line);
    }
    void SetProgress(int maximum, int position) override {
        if (e_.progress) e_.progress(maximum, position);
    }
    void SessionUp(uint64_t openId) override {
        if (e_.sessionUp) e_.sessionUp(openId);
    }
    void ConnectFailed(const std::string&, uint64_t openId) override {
        if (e_.connectFailed) e_.connectFailed(openId);
    }
    void CommandFinished(const ecu::CommandResult& result) override {
        if (e_.commandFinished) e_.commandFinished(result);
    }
    void Synced(const ecu::SyncReport& report) override {
        if (e_.synced) e_.synced(report);
    }
    void FirmwareRead(std::shared_ptr<const ecu::Bytes> image) override {
        if (e_.firmwareRead) e_.firmwareRead(std::move(image));
    }

  private:
    const EcuEvents& e_;
};

SessionController::SessionController(Options options)
    : options_(std::move(options)),
      ecuEvents_(std::make_unique<EcuEventSink>(options_.ecuEvents)),
      logs_(options_.log) {
    ecu_ = std::make_unique<ecu::TECUThread>(*options_.bridge, *ecuEvents_);
    ecu_->Start();
    lambda::LambdaOptions lambdaOptions;
    lambdaOptions.readTimeoutMs = options_.lambdaReadTimeoutMs;
    lambdaOptions.decimalSeparator = options_.decimalSeparator;
    lambda_ = std::make_unique<lambda::TLAMBDAThread>(
        *options_.bridge, options_.log, platform::MakeSystemSerialPort(),
        platform::SystemClock::Instance(), lambdaOptions);
    lambda_->Start();
}

SessionController::~SessionController() {
    StopWorkers();
}

void SessionController::StopWorkers() {
    if (ecu_) ecu_->Stop();
    if (lambda_) lambda_->Stop();
}

void SessionController::SetState(SessionState state) {
    state_ = state;
    if (onState) onState(state);
}

void SessionController::TuningChanged(bool tuning) {
    if (state_ == SessionState::Live || state_ == SessionState::Tuning)
        SetState(tuning ? SessionState::Tuning : SessionState::Live);
}

int SessionController::ExchangeMs() const {
    const int read = settings_.ecu.portReadTimeOut == 0 ? ecu::EcuLink::kDefaultReadPause
                                                        : settings_.ecu.portReadTimeOut;
    return settings_.ecu.portTimeOut + read;
}

void SessionController::Connect(const ConnectSettings& settings, bool automatic,
                                std::vector<ecu::RamRange> kept) {
    settings_ = settings;
    if (!automatic) followed_.assign(kImageSize, false);
    if (automatic) {
        // Only what `kept` does not already hold, so no byte goes twice.
        std::vector<bool> inKept(kImageSize, false);
        for (const ecu::RamRange& r : kept)
            for (size_t k = 0; k < r.bytes.size() && r.address + k < kImageSize; ++k)
                inKept[r.address + k] = true;
        for (ecu::RamRange& r : Followed()) {
            size_t k = 0;
            while (k < r.bytes.size()) {
                if (inKept[r.address + k]) {
                    ++k;
                    continue;
                }
                size_t end = k;
                while (end < r.bytes.size() && !inKept[r.address + end]) ++end;
                kept.push_back({static_cast<uint16_t>(r.address + k),
                                ecu::Bytes(r.bytes.begin() + static_cast<std::ptrdiff_t>(k),
                                           r.bytes.begin() + static_cast<std::ptrdiff_t>(end))});
                k = end;
            }
        }
    }
    for (const ecu::RamRange& r : kept) Follow(r.address, r.bytes.size());
    openId_ = ecu_->Post(ecu::EcuCommand::Open(settings.ecu, std::move(kept)));
    connectPending_ = true;
    // A reconnect goes on in the folder of the connection it restores.
    std::string error;
    folderFromConnect_ = false;
    if (!(automatic && !dateDir_.empty())) {
        previousDateDir_ = dateDir_;
        folderFromConnect_ = MakeDateDir(error);
        if (!folderFromConnect_) options_.log(error);
    }
    if (settings.writeLogs) {
        if (automatic)
            logs_.Resume();
        else
            logs_.Start(dateDir_);
        logsEnabled_ = true;
    }
    if (settings.wideband) {
        lambda_->PortName.Set(settings.lc1Port);
        lambda_->PortSpeed.Set("19200");
        lambda_->Command.Post("OpenComPort");
    }
    SetState(automatic ? SessionState::Reconnecting : SessionState::Connecting);
}

void SessionController::ImageChanged(uint16_t address, std::span<const uint8_t> bytes) {
    if (state_ == SessionState::Disconnected || bytes.empty()) return;
    // Kept even when the worker has no session to take it (a reconnect
    // between attempts): the next attempt sends it.
    Follow(address, bytes.size());
    ecu_->Post(ecu::EcuCommand::ImageChanged(address, ecu::Bytes(bytes.begin(), bytes.end())));
}

void SessionController::Follow(uint16_t address, size_t length) {
    if (followed_.size() != kImageSize) followed_.assign(kImageSize, false);
    // The tuning tables are not kept here: their own check decides, at each
    // connect and load, whether the image's tables may go into a running
    // engine at all.
    auto inTable = [](size_t at) {
        for (const ecu::RamTable& t : ecu::kRamTables)
            if (at >= t.address && at < t.address + ecu::kRamTableBytes) return true;
        return false;
    };
    for (size_t k = 0; k < length && address + k < kImageSize; ++k)
        if (!inTable(address + k)) followed_[address + k] = true;
}

std::vector<ecu::RamRange> SessionController::Followed() const {
    std::vector<ecu::RamRange> out;
    if (!options_.image || followed_.size() != kImageSize) return out;
    const std::span<const uint8_t> image = options_.image();
    if (image.size() < kImageSize) return out;
    for (size_t a = 0; a < kImageSize;) {
        if (!followed_[a]) {
            ++a;
            continue;
        }
        size_t end = a;
        while (end < kImageSize && followed_[end]) ++end;
        out.push_back({static_cast<uint16_t>(a),
                       ecu::Bytes(image.begin() + static_cast<std::ptrdiff_t>(a),
                                  image.begin() + static_cast<std::ptrdiff_t>(end))});
        a = end;
    }
    return out;
}

void SessionController::ImageReplaced() {
    if (state_ == SessionState::Disconnected) return;
    for (const ecu::RamRange& r : Followed())
        ecu_->Post(ecu::EcuCommand::ImageChanged(r.address, r.bytes));
}

bool SessionController::TakeSessionUp(uint64_t openId) {
    if (!connectPending_ || openId != openId_) return false;
    connectPending_ = false;
    return true;
}

bool SessionController::TakeConnectFailed(uint64_t openId) {
    return TakeSessionUp(openId);
}

void SessionController::Disconnect(bool automatic) {
    if (!automatic) followed_.assign(kImageSize, false);
    logsEnabled_ = false;
    logs_.Stop();
    connectPending_ = false;
    ecu_->Post(ecu::EcuCommand::Close());
    lambda_->Command.Post("CloseComPort");
}

void SessionController::LogFrame(const live::ShownRowTexts& rows, int32_t stationaryHitCount,
                                 bool mixtureTaken) {
    if (logsEnabled_) logs_.AppendLine(rows, stationaryHitCount, dateDir_, mixtureTaken);
}

void SessionController::DropUnusedFolder() {
    if (!folderFromConnect_) return;
    folderFromConnect_ = false;
    // A log with a line beyond its header is kept, and so is anything else
    // that landed in the folder.
    namespace fs = std::filesystem;
    std::error_code ec;
    if (settings_.writeLogs) {
        if (logs_.XlsLog().size() > 1 || logs_.CsvLog().size() > 1) return;
        for (const char* name : {live::kXlsLogName, live::kCsvHeaderName, live::kCsvLogName})
            fs::remove(dateDir_ + "/" + name, ec);
    }
    if (!fs::remove(dateDir_, ec) || ec) return;  // not empty: it stays
    dateDir_ = previousDateDir_;
}

live::LinkFlags SessionController::LinkFlags(bool ecuStale) const {
    const ecu::EcuStatus ecu = ecu_->Status();
    const lambda::LambdaStatus lambda = lambda_->Status();
    live::LinkFlags flags;
    flags.ecuIsComConnected = ecu.IsComConnected;
    flags.ecuIsEcuConnected = ecu.IsECUConnected;
    flags.lambdaIsComConnected = lambda.IsComConnected;
    flags.lambdaIsConnected = lambda.IsLambdaConnected;
    flags.lambdaIsError = lambda.IsLambdaError;
    flags.lambdaWarmUpPercent = lambda.WarmUpPercent;
    flags.lambdaPortName = lambda.PortName;
    flags.ecuNoAnswer = ecuStale ? 1 : 0;
    return flags;
}

bool SessionController::EndSession(std::function<void()> stopped) {
    if (endingClose_ != 0) {
        stopped_ = std::move(stopped);
        return true;
    }
    // A worker held by the port guard takes no command; with no port open
    // and nothing queued there is nothing on the wire to end either.
    if (ecu_->Status().IsComConnected != 1 && ecu_->Idle()) return false;
    logsEnabled_ = false;
    logs_.Stop();
    connectPending_ = false;
    lambda_->Command.Post("CloseComPort");
    endingClose_ = ecu_->Post(ecu::EcuCommand::Close());
    if (endingClose_ == 0) return false;
    stopped_ = std::move(stopped);
    return true;
}

void SessionController::CommandFinished(const ecu::CommandResult& result) {
    if (endingClose_ == 0 || result.id != endingClose_) return;
    endingClose_ = 0;
    if (auto stopped = std::exchange(stopped_, nullptr)) stopped();
}

bool SessionController::MakeDateDir(std::string& error) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string path = options_.workDir + "/" + DateDirName(local);
    std::error_code ec;
    std::filesystem::create_directories(platform::Utf8Path(path), ec);
    // A folder that cannot be made now (read-only, full) stays the session
    // folder: the logs and the image copies make it with their next write.
    dateDir_ = path;
    if (ec) {
        error = "Не удаётся создать папку «" + path + "»: " + platform::SystemReason(ec.value()) +
                ". Логи и копии прошивки будут записаны, когда это удастся.";
        return false;
    }
    return true;
}

}  // namespace korvane::app
