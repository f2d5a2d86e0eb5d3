#include "lambda/LAMBDAThread.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/NumberText.h"

namespace korvane::lambda {

namespace {

constexpr uint8_t kHeaderHigh = 0xB2;
constexpr uint8_t kHeaderLow = 0x82;
constexpr int kMaxLinkErrorsInRow = 50;
constexpr const char* kOpenCommand = "OpenComPort";
constexpr const char* kCloseCommand = "CloseComPort";
// Function code 100: the controller heats its sensor up; the lambda word is
// the heater's temperature in tenths of % of its operating temperature.
constexpr int kWarmUpFunction = 4;

int FunctionCode(const std::array<uint8_t, 4>& payload) {
    return (payload[0] >> 2) & 0x07;
}

// The window reads AFR while this thread replaces it; one lock-free word
// cannot be seen half old, half new.
static_assert(std::atomic<double>::is_always_lock_free);

}  // namespace

std::string DecodeAfr(std::span<const uint8_t> payload, char decimalSeparator) {
    if (payload.size() != 4) return {};
    // Bits 4..2 of the first byte: 000 is a lambda reading; anything else
    // (free-air or heater calibration, warm-up percentage, error code) is not
    // a mixture and must never reach the tuning as one.
    const int functionCode = (payload[0] >> 2) & 0x07;
    const int lambda = (payload[2] & 0x7F) * 128 + (payload[3] & 0x7F);
    if (functionCode != 0 || lambda >= 1540) return "0";
    // AFR = (L + 500) / 1000 * 14.7, so AFR * 100 = (L + 500) * 147 / 100
    // exactly. Rounding that fraction in integers keeps the halves (L = 50,
    // 150, ...) going to the even neighbour instead of whichever way the
    // floating-point error of 14.7 happens to tip them.
    const int64_t n = static_cast<int64_t>(lambda + 500) * 147;
    int64_t hundredths = n / 100;
    const int64_t rest = n % 100;
    if (rest > 50 || (rest == 50 && hundredths % 2 != 0)) ++hundredths;
    return platform::FormatGeneral(static_cast<double>(hundredths) / 100.0, decimalSeparator);
}

TLAMBDAThread::TLAMBDAThread(platform::UiBridge& ui, LogSink appendLog,
                             std::unique_ptr<platform::SerialPort> port, platform::Clock& clock,
                             LambdaOptions options)
    : ui_(ui),
      appendLog_(std::move(appendLog)),
      port_(std::move(port)),
      clock_(clock),
      options_(options) {}

TLAMBDAThread::~TLAMBDAThread() {
    Stop();
}

void TLAMBDAThread::Start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TLAMBDAThread::Stop() {
    stop_.Raise();
    Command.Wake();
    if (thread_.joinable()) thread_.join();
    if (port_ && port_->IsOpen()) port_->Close();
}

LambdaStatus TLAMBDAThread::Status() const {
    std::lock_guard lock(statusMutex_);
    return {IsComConnected, IsLambdaConnected, IsLambdaError, AFR, WarmUpPercent, PortName.Get()};
}

bool TLAMBDAThread::Idle(const Mailbox::Entry& command) const {
    if (!command.word.empty() && ErrorComPorts == 0)
        return command.word != kOpenCommand && command.word != kCloseCommand;
    return IsComConnected != 1;
}

void TLAMBDAThread::Execute() {
    using namespace std::chrono_literals;
    while (!stop_.Raised()) {
        const Mailbox::Entry command = Command.Peek();
        if (!Idle(command)) {
            Pass();
            continue;
        }
        // Only a new word can change that, so wait for one instead of
        // passing idly. The guard changes without a post: while it is set,
        // look again now and then.
        const bool guarded = ErrorComPorts != 0;
        Command.WaitUntil(
            [&](const Mailbox::Entry& e) {
                return stop_.Raised() || (ErrorComPorts != 0) != guarded ||
                       e.serial != command.serial || e.word != command.word;
            },
            guarded ? std::chrono::milliseconds(500) : Mailbox::kForever);
    }
}

void TLAMBDAThread::Pass() {
    const std::string word = Command.Word();
    if (!word.empty() && ErrorComPorts == 0) {
        if (PortTimeOut == 0) PortTimeOut = 10;
        if (word == kOpenCommand) OpenCommand();
        // An unknown word stays in the mailbox and holds up reading.
        if (Command.Word() == kCloseCommand) {
            Command.ClearIf(kCloseCommand);
            ClosePort();
        }
    } else if (IsComConnected == 1) {
        PacketAttempt();
        clock_.Pause(PortTimeOut, stop_);
    }
    clock_.Pause(1, stop_);
}

void TLAMBDAThread::OpenCommand() {
    err = 0;
    err2 = 0;
    Command.ClearIf(kOpenCommand);
    if (IsComConnected == 1) return;
    if (PortName.Get().empty()) PortName.Set("COM3");
    if (PortSpeed.Get().empty()) PortSpeed.Set("19200");
    OpenPort();
}

bool TLAMBDAThread::OpenPort() {
    if (ErrorComPorts != 0 || IsComConnected == 1) return false;
    const std::string name = PortName.Get();
    LogMessage("LAMBDA:>> " + name + " Открытие порта...");
    const std::string openError = "LAMBDA:>> ОШИБКА: Не удаётся открыть порт " + name + " !";
    if (!port_->Open(name)) {
        LogMessage(openError);
        if (const std::string reason = port_->LastError(); !reason.empty())
            LogMessage("LAMBDA:>> " + reason);
        IsComConnected = 0;
        return false;
    }
    const auto speed = platform::ParseInteger(PortSpeed.Get());
    if (!speed || *speed <= 0 || *speed > INT_MAX || !port_->SetSpeed(static_cast<int>(*speed))) {
        LogMessage(openError);
        port_->Close();
        std::lock_guard lock(statusMutex_);
        IsComConnected = 0;
        IsLambdaConnected = 0;
        IsLambdaError = 0;
        return false;
    }
    IsComConnected = 1;
    return true;
}

void TLAMBDAThread::ClosePort() {
    if (IsComConnected != 1) return;
    const std::string name = PortName.Get();
    LogMessage("LAMBDA:>> " + name + " Закрытие порта...");
    if (!port_->Close()) {
        LogMessage("LAMBDA:>> ОШИБКА: Не удаётся закрыть порт " + name + " !");
        return;
    }
    std::lock_guard lock(statusMutex_);
    AFR = 0.0;
    AFRs.Set("0.00");
    WarmUpPercent = -1;
    IsLambdaConnected = 0;
    IsLambdaError = 0;
    IsComConnected = 0;
}

bool TLAMBDAThread::ReadByte(uint8_t& byte) {
    return port_->ReadByte(byte, options_.readTimeoutMs) == 1;
}

void TLAMBDAThread::PacketAttempt() {
    uint8_t byte = 0;
    if (!ReadByte(byte)) {
        LinkError();
        return;
    }
    // Out of step: drop one byte per attempt until a header comes round.
    if (byte != kHeaderHigh) return;
    if (stop_.Raised() || !ReadByte(byte) || byte != kHeaderLow) return;
    std::array<uint8_t, 4> payload{};
    if (stop_.Raised()) return;
    if (!ReadByte(payload[0])) {
        std::lock_guard lock(statusMutex_);
        IsLambdaError = 1;
        IsLambdaConnected = 0;
        return;
    }
    for (size_t i = 1; i < payload.size(); ++i) {
        if (stop_.Raised() || !ReadByte(payload[i])) return;
    }
    err = 0;
    if (FunctionCode(payload) == kWarmUpFunction) {
        WarmUp(payload);
        return;
    }
    const bool warmUpOver = WarmUpPercent >= 0;
    const std::string text = DecodeAfr(payload, options_.decimalSeparator);
    const double afr = platform::ParseDecimal(text).value_or(0.0);
    {
        std::lock_guard lock(statusMutex_);
        WarmUpPercent = -1;
        // A reader of the single fields never takes a 0 as a reading: the
        // error flag is raised before the value and dropped after it.
        if (afr == 0.0) IsLambdaError = 1;
        AFRs.Set(text);
        AFR = afr;
        if (afr != 0.0) IsLambdaError = 0;
        IsLambdaConnected = 1;
    }
    if (warmUpOver) LogMessage("LAMBDA:>> LC-1: прогрев окончен");
    if (afr == 0.0) {
        LogMessage("LAMBDA:<< Ошибка данных" + std::to_string(err2.load()));
        ++err2;
    }
}

void TLAMBDAThread::WarmUp(const std::array<uint8_t, 4>& payload) {
    const int tenths = (payload[2] & 0x7F) * 128 + (payload[3] & 0x7F);
    const int32_t percent = std::clamp(tenths / 10, 0, 100);
    const bool starting = WarmUpPercent < 0;
    {
        // No reading meanwhile: the value is withdrawn before the state says
        // the link is fine.
        std::lock_guard lock(statusMutex_);
        AFR = 0.0;
        AFRs.Set("0");
        WarmUpPercent = percent;
        IsLambdaError = 0;
        IsLambdaConnected = 1;
    }
    if (starting) LogMessage("LAMBDA:>> LC-1: прогрев " + std::to_string(percent) + "%");
}

void TLAMBDAThread::LinkError() {
    const int32_t inRow = ++err;
    const int32_t total = ++err2;
    LogMessage("LAMBDA:<< Ошибка связи!(" + std::to_string(inRow) + "/" + std::to_string(total) +
               ")");
    if (inRow > kMaxLinkErrorsInRow) {
        ClosePort();
        std::lock_guard lock(statusMutex_);
        IsLambdaConnected = 0;
        IsLambdaError = 0;
    }
}

void TLAMBDAThread::LogMessage(const std::string& line) {
    // The sink is copied into the event: the window may take it after the
    // reader is gone.
    if (appendLog_) ui_.Post([log = appendLog_, line] { log(line); });
}

}  // namespace korvane::lambda
