#include "ecu/EcuLink.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace korvane::ecu {

namespace {

bool StartsWith(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> head) {
    return bytes.size() >= head.size() && std::equal(head.begin(), head.end(), bytes.begin());
}

bool Equals(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> other) {
    return bytes.size() == other.size() && std::equal(other.begin(), other.end(), bytes.begin());
}

std::string HexOf(std::initializer_list<uint8_t> bytes) {
    return HexText(std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

}  // namespace

std::optional<uint8_t> SpeedByteFor(const std::string& portSpeed) {
    if (portSpeed == "10400") return 0x0A;
    if (portSpeed == "38400") return 0x26;
    if (portSpeed == "57600") return 0x39;
    return std::nullopt;
}

EcuLink::EcuLink(EcuLinkFields& fields, UiLog& log, PortFactory makePort, platform::Clock& clock)
    : f_(fields), log_(log), makePort_(std::move(makePort)), clock_(clock) {}

EcuLink::~EcuLink() {
    if (port_) port_->Close();
}

bool EcuLink::OpenPort() {
    if (f_.ErrorComPorts != 0 || f_.IsComConnected == 1) return false;
    const std::string name = PortNameText();
    log_.LogMessage(name + ": >> Открытие порта...");
    const std::string openError = "ОШИБКА: Не удаётся открыть порт " + name + " !";
    port_ = makePort_ ? makePort_() : nullptr;
    if (!port_ || !port_->Open(name)) {
        const std::string reason = port_ ? port_->LastError() : std::string();
        port_.reset();
        log_.LogMessage(openError);
        if (!reason.empty()) log_.LogMessage(reason);
        f_.IsComConnected = 0;
        f_.FlagsChanged();
        return false;
    }
    log_.LogMessage(name + ": >> скорость порта - " + f_.PortSpeed.Get());
    // The session switches to the chosen speed later; the line always
    // starts at the K-line's own rate.
    if (!port_->SetSpeed(kOpeningSpeed)) {
        log_.LogMessage(openError);
        port_->Close();
        port_.reset();
        f_.IsDiagnostic = 0;
        f_.IsECUConnected = 0;
        f_.IsComConnected = 0;
        f_.FlagsChanged();
        return false;
    }
    // A USB adapter that holds received bytes back slows every exchange;
    // said, and the connect goes on.
    if (const std::string note = port_->OpenNote(); !note.empty()) log_.LogMessage(note);
    f_.IsComConnected = 1;
    f_.FlagsChanged();
    quietFrom_ = -1;
    requestFollowsWakeUp_ = false;
    return true;
}

void EcuLink::ClosePort() {
    f_.IsDiagnostic = 0;
    if (f_.IsComConnected != 1) return;
    const std::string name = PortNameText();
    log_.LogMessage(name + ": >> Закрытие порта...");
    if (port_ && !port_->Close()) {
        log_.LogMessage("ОШИБКА: Не удаётся закрыть порт " + name + " !");
        return;
    }
    port_.reset();
    f_.IsDiagnostic = 0;
    f_.IsECUConnected = 0;
    f_.IsComConnected = 0;
    f_.FlagsChanged();
}

bool EcuLink::SetLineSpeed(int baud) {
    return port_ && port_->SetSpeed(baud);
}

bool EcuLink::WriteBytes(std::span<const uint8_t> bytes) {
    if (!port_) return false;
    bool ok = false;
    for (uint8_t b : bytes) ok = port_->WriteByte(b);
    return ok;
}

bool EcuLink::ReadAvailable(Bytes& out) {
    out.clear();
    if (!port_) return false;
    const int waiting = port_->BytesWaiting();
    if (waiting <= 0) return false;
    std::array<uint8_t, kMaxRead> buf{};
    const int got = port_->ReadNow(buf.data(), std::min(waiting, kMaxRead));
    if (got <= 0) return false;
    out.assign(buf.begin(), buf.begin() + got);
    return true;
}

void EcuLink::PauseBeforeRequest() {
    if (std::exchange(requestFollowsWakeUp_, false)) return;
    const int64_t pause = f_.PortTimeOut;
    if (f_.FastExchange == 1 && quietFrom_ >= 0) {
        // The ECU's quiet time runs from the end of its last answer, which
        // the fast read saw the moment it came; time spent since counts.
        // The clock counts whole ms: one more keeps the quiet time whole.
        Pause(quietFrom_ + pause + 1 - clock_.NowMs());
    } else {
        Pause(pause);
    }
}

bool EcuLink::ReadAnswer(size_t sentSize, int32_t readPause, Bytes& received) {
    received.clear();
    const int64_t until = clock_.NowMs() + std::max<int32_t>(readPause, 0);
    std::array<uint8_t, kMaxRead> buf{};
    for (;;) {
        // As much as the receive buffer of one plain read would hold; what
        // comes later stays for the next exchange, as with the plain read.
        const int waiting = port_->BytesWaiting();
        if (waiting < 0) break;
        const int room = kMaxRead - static_cast<int>(received.size());
        if (waiting > 0 && room > 0) {
            const int got = port_->ReadNow(buf.data(), std::min(waiting, room));
            if (got < 0) break;
            received.insert(received.end(), buf.begin(), buf.begin() + got);
        }
        if (received.size() >= kMaxRead) break;
        if (received.size() > sentSize) {
            const auto answer = std::span<const uint8_t>(received).subspan(sentSize);
            const size_t size = DeclaredFrameSize(answer);
            if (size != 0 && answer.size() >= size) break;
        }
        const int64_t left = until - clock_.NowMs();
        if (left <= 0) break;
        const int r =
            port_->WaitForInput(static_cast<int>(std::min<int64_t>(left, INT32_MAX)), &stopping_);
        if (r < 0 || stopping_.Raised()) break;
    }
    return !received.empty();
}

bool EcuLink::SendRequest(std::span<const uint8_t> payload) {
    lastAnswer_.clear();
    lastEchoOk_ = false;
    lastReceivedAny_ = false;
    if (f_.PortReadTimeOut == 0) f_.PortReadTimeOut = kDefaultReadPause;
    const int32_t readPause = f_.PortReadTimeOut;
    PauseBeforeRequest();
    // A worker that is ending sends nothing more.
    if (stopping_.Raised()) return false;

    const bool open = f_.IsComConnected == 1 && port_ != nullptr;
    Bytes sent = BuildFrame(payload);
    const bool sendable = open && !sent.empty();
    if (sendable) {
        if (!WriteBytes(sent)) sent.clear();
        // A write only queues the bytes: the read-back time starts once
        // they have left, so it means the same at every speed and length.
        port_->Drain();
    }

    Bytes received;
    bool got = false;
    if (sendable && !sent.empty() && f_.FastExchange == 1) {
        got = ReadAnswer(sent.size(), readPause, received);
    } else {
        Pause(readPause);
        // A closed port is never touched, and a payload no frame can carry
        // was not sent, so there is nothing to read back.
        if (sendable) got = ReadAvailable(received);
    }
    quietFrom_ = clock_.NowMs();
    if (!got) return false;
    lastReceivedAny_ = true;

    const auto echo = ParseFrame(received);
    if (!echo ||
        !std::equal(echo->data.begin(), echo->data.end(), payload.begin(), payload.end())) {
        return false;
    }
    lastEchoOk_ = true;
    const size_t sentSize = sent.size();
    if (sentSize > 0 && received.size() > sentSize) {
        auto answer = ParseFrame(std::span<const uint8_t>(received).subspan(sentSize));
        if (answer) lastAnswer_ = std::move(answer->data);
    }
    return Validate(payload, lastAnswer_);
}

bool EcuLink::ExpectExactly(std::span<const uint8_t> payload, const Bytes& answer,
                            std::initializer_list<uint8_t> expected, bool resultOnError) {
    if (Equals(answer, expected)) return true;
    ReportError(1, "Запрос - " + HexText(payload) + "; Ответ - " + HexText(answer) + "; (" +
                       HexOf(expected) + ")");
    return resultOnError;
}

bool EcuLink::Validate(std::span<const uint8_t> payload, const Bytes& answer) {
    if (Equals(payload, {0x81})) return ExpectExactly(payload, answer, {0xC1, 0x6B, 0x8F}, false);
    if (Equals(payload, {0x82})) return ExpectExactly(payload, answer, {0xC2}, false);
    // A wrong answer to the session start is logged, and the session goes
    // on at the new speed all the same.
    if (StartsWith(payload, {0x10, 0x81}))
        return ExpectExactly(payload, answer, {0x50, 0x81}, true);
    if (Equals(payload, {0x20})) return ExpectExactly(payload, answer, {0x60}, false);
    if (Equals(payload, {0x3E, 0x01})) return ExpectExactly(payload, answer, {0x7E}, false);
    if (Equals(payload, {0x30, 0x0F, 0x06, 0x01}))
        return ExpectExactly(payload, answer, {0x70, 0x0F, 0x06, 0x01}, false);
    if (StartsWith(payload, {0x21, 0x0F})) {
        f_.DiagnosticInfo.Set(answer.size() >= 3 ? Bytes(answer.begin() + 2, answer.end())
                                                 : Bytes{});
        if (StartsWith(answer, {0x61, 0x0F}) && answer.size() == 53) {
            ++f_.FreshFrames;
        } else {
            ReportError(1, "Запрос - " + HexText(payload) + "; Ответ - " + HexText(answer) + "; (" +
                               HexOf({0x61, 0x0F}) + ")");
        }
        return true;
    }
    if (StartsWith(payload, {0x23, 0x00})) {
        if (payload.size() < 5) return false;
        const size_t n = payload[4];
        if (!StartsWith(answer, {0x63}) || answer.size() != n + 1) {
            ReportError(2, "Неверная длина ответа! Запрос - " + HexText(payload) + "; Ответ - " +
                               HexText(answer) + ";");
            return false;
        }
        if (n > 0x60) return false;
        // Kept for every address, 0xF300 included: the firmware read passes
        // that address too and needs its bytes.
        lastReadData_.assign(answer.begin() + 1, answer.end());
        return true;
    }
    return false;
}

void EcuLink::ReportError(int code, const std::string& detail) {
    std::string line =
        code == 2 ? "ECU: << ОШИБКА ЧТЕНИЯ RAM!" : "ECU: << ОШИБКА Неправильный ответ блока!";
    const int32_t count = ++f_.error;
    if (!detail.empty()) line += "\r\n" + detail;
    log_.LogMessage(line);
    log_.LogMessage("Ошибка №" + std::to_string(count));
    if (count > kMaxErrors) {
        f_.IsDiagnostic = 0;
        f_.IsECUConnected = 0;
        ClosePort();
    }
    f_.FlagsChanged();
}

bool EcuLink::WakeUp() {
    if (f_.IsComConnected != 1 || !port_) return false;
    log_.LogMessage("ECU: >> Fast Init");
    const int64_t start = clock_.NowMs();
    bool ok = port_->SetSpeed(kWakeUpBaud) && port_->WriteByte(0x00);
    port_->Drain();
    // A USB adapter reports the byte gone as soon as it holds it: a new
    // speed set before the byte has left the wire would cut the low time.
    Pause(start + kWakeUpByteMs - clock_.NowMs());
    ok = port_->SetSpeed(kOpeningSpeed) && ok;
    Pause(start + kWakeUpLowMs + kWakeUpHighMs - clock_.NowMs());
    if (!ok) log_.LogMessage("ECU: << ОШИБКА быстрой инициализации: " + port_->LastError());
    // The adapter's echo of the pattern, or what the line made of it, is no
    // part of the answer to come. A line that never stops talking is not
    // waited out.
    Bytes dropped;
    for (int i = 0; i < 16 && ReadAvailable(dropped); ++i) {
    }
    requestFollowsWakeUp_ = true;
    return ok;
}

bool EcuLink::StartSession() {
    if (f_.FastInit == 1) WakeUp();
    log_.LogMessage("ECU: >> Starting Communication");
    const bool started = SendRequest({0x81});
    // The adapter echoed the request but the ECU kept quiet: many ECUs
    // answer only after the fast-init wake-up. Said once per connect.
    if (lastEchoOk_ && lastAnswer_.empty() && f_.FastInit != 1 && !initHintShown_) {
        initHintShown_ = true;
        log_.LogMessage(
            "ECU: << ECU не ответил на StartCommunication. Если ему нужна быстрая "
            "инициализация, попробуйте \"Инициализация K-line=быстрая\".");
    }
    // Without the adapter's echo nothing else can work: say what is likely
    // wrong, once per connect.
    if (!lastEchoOk_ && !echoHintShown_) {
        echoHintShown_ = true;
        log_.LogMessage(lastReceivedAny_
                            ? "ECU: << Адаптер не вернул эхо запроса: адаптер без эха или "
                              "неверная скорость порта."
                            : "ECU: << Ничего не пришло в ответ: адаптер K-line не подключён, "
                              "выбран не тот порт или нет питания.");
    }
    Pause(200);
    if (!started) return false;

    log_.LogMessage("ECU: >> Starting Diagnostic Session");
    const std::string speedText = f_.PortSpeed.Get();
    const auto speedByte = SpeedByteFor(speedText);
    if (!speedByte) {
        log_.LogMessage("ERROR: >> Ошибка при выборе скорости порта!");
        ClosePort();
        return false;
    }
    const bool session = SendRequest({0x10, 0x81, *speedByte});
    SetLineSpeed(speedText == "57600" ? 57600 : speedText == "38400" ? 38400 : 10400);
    if (!session) return false;

    log_.LogMessage("ECU: >> Sending \"Tester Present\"");
    if (!SendRequest({0x3E, 0x01})) return false;

    log_.LogMessage("ECU: >> Switch to RAM");
    if (!SendRequest({0x30, 0x0F, 0x06, 0x01})) return false;

    return SendRequest({0x23, 0x00, 0xF3, 0x00, 0x08});
}

bool EcuLink::StopSession() {
    f_.IsDiagnostic = 0;
    log_.LogMessage("ECU: >> Stop Diagnostic Session");
    f_.PortTimeOut = 100;
    f_.PortReadTimeOut = 100;
    bool result = SendRequest({0x20});
    if (result) {
        SetLineSpeed(kOpeningSpeed);
        log_.LogMessage("ECU: >> Stop Communication");
        result = SendRequest({0x82});
    }
    return result;
}

}  // namespace korvane::ecu
