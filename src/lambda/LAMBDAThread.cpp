#include "lambda/LAMBDAThread.h"

#include <climits>

#include "platform/NumberText.h"

namespace korvane::lambda {

namespace {

constexpr uint8_t kHeaderHigh = 0xB2;
constexpr uint8_t kHeaderLow = 0x82;
constexpr int kMaxLinkErrorsInRow = 50;
constexpr const char* kOpenCommand = "OpenComPort";
constexpr const char* kCloseCommand = "CloseComPort";

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
    stop_ = true;
    Command.Wake();
    if (thread_.joinable()) thread_.join();
    if (port_ && port_->IsOpen()) port_->Close();
}

void TLAMBDAThread::Execute() {
    while (!stop_) {
        // Closed and nothing to do: only a command can change that, so wait
        // for one instead of polling.
        if (IsComConnected != 1 && Command.Empty()) {
            Command.WaitForWord([this] { return stop_.load(); });
            continue;
        }
        Pass();
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
        clock_.SleepMs(PortTimeOut);
    }
    clock_.SleepMs(1);
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
    AFR = 0.0;
    AFRs.Set("0.00");
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
    if (stop_ || !ReadByte(byte) || byte != kHeaderLow) return;
    std::array<uint8_t, 4> payload{};
    if (stop_) return;
    if (!ReadByte(payload[0])) {
        IsLambdaError = 1;
        IsLambdaConnected = 0;
        return;
    }
    for (size_t i = 1; i < payload.size(); ++i) {
        if (stop_ || !ReadByte(payload[i])) return;
    }
    err = 0;
    const std::string text = DecodeAfr(payload, options_.decimalSeparator);
    const double afr = platform::ParseDecimal(text).value_or(0.0);
    if (afr == 0.0) {
        // Flag first, so a reader of the flags never takes this 0 as a reading.
        IsLambdaError = 1;
        AFRs.Set(text);
        AFR = 0.0;
        LogMessage("LAMBDA:<< Ошибка данных" + std::to_string(err2.load()));
        ++err2;
    } else {
        AFRs.Set(text);
        AFR = afr;
        IsLambdaError = 0;
    }
    IsLambdaConnected = 1;
}

void TLAMBDAThread::LinkError() {
    const int32_t inRow = ++err;
    const int32_t total = ++err2;
    LogMessage("LAMBDA:<< Ошибка связи!(" + std::to_string(inRow) + "/" + std::to_string(total) +
               ")");
    if (inRow > kMaxLinkErrorsInRow) {
        ClosePort();
        IsLambdaConnected = 0;
        IsLambdaError = 0;
    }
}

void TLAMBDAThread::LogMessage(const std::string& line) {
    ui_.RunSync([&] {
        if (appendLog_) appendLog_(line);
    });
}

}  // namespace korvane::lambda
