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
    errorsInRow_ = 0;
    failingSince_ = -1;
    startLeftSession_ = false;
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

void EcuLink::DiscardWaiting() {
    Bytes stale;
    // Bounded: a line that never stops talking must not hold the exchange.
    for (int i = 0; i < 16 && ReadAvailable(stale); ++i) {
    }
}

bool EcuLink::ReadAnswer(std::span<const uint8_t> sent, uint8_t serviceId, int32_t readPause,
                         Bytes& received) {
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
        if (received.size() > sent.size() && ScanAnswer(received, sent, serviceId).complete) break;
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
    lastSent_ = false;
    lastValid_ = false;
    if (f_.PortReadTimeOut == 0) f_.PortReadTimeOut = kDefaultReadPause;
    const int32_t readPause = f_.PortReadTimeOut;
    PauseBeforeRequest();
    // A worker that is ending sends nothing more.
    if (stopping_.Raised()) return false;

    const bool open = f_.IsComConnected == 1 && port_ != nullptr;
    Bytes sent = BuildFrame(payload);
    const bool sendable = open && !sent.empty();
    const uint8_t serviceId = payload.empty() ? 0 : payload[0];
    const int64_t sentAt = clock_.NowMs();
    if (sendable) {
        // An answer that came after its exchange had ended (a slow ECU,
        // the answer to a request now being repeated) must not be taken
        // for this request's answer.
        DiscardWaiting();
        if (!WriteBytes(sent)) sent.clear();
        lastSent_ = !sent.empty();
        // A write only queues the bytes: the read-back time starts once
        // they have left, so it means the same at every speed and length.
        port_->Drain();
    }

    Bytes received;
    bool got = false;
    if (sendable && !sent.empty() && f_.FastExchange == 1) {
        got = ReadAnswer(sent, serviceId, readPause, received);
    } else {
        Pause(readPause);
        // A closed port is never touched, and a payload no frame can carry
        // was not sent, so there is nothing to read back.
        if (sendable) got = ReadAvailable(received);
    }
    quietFrom_ = clock_.NowMs();
    if (!got) {
        if (lastSent_) TrackHealth(sentAt);
        return false;
    }
    lastReceivedAny_ = true;

    AnswerScan scan = ScanAnswer(received, sent, serviceId);
    if (!scan.echo) {
        TrackHealth(sentAt);
        return false;
    }
    lastEchoOk_ = true;
    lastAnswer_ = std::move(scan.answer);
    const int32_t errorsBefore = f_.error;
    const bool result = Validate(payload, lastAnswer_);
    lastValid_ = f_.error == errorsBefore && !lastAnswer_.empty() &&
                 lastAnswer_[0] == static_cast<uint8_t>(serviceId + 0x40);
    // The ECU's own "no" to this request is still an answer: the line and
    // the ECU are alive, so a run of refusals must not end the session.
    const bool refusal = f_.error == errorsBefore && lastAnswer_.size() == 3 &&
                         lastAnswer_[0] == 0x7F && lastAnswer_[1] == serviceId;
    TrackHealth(sentAt, refusal);
    return result;
}

void EcuLink::TrackHealth(int64_t sentAt, bool refusal) {
    if (lastValid_) {
        errorsInRow_ = 0;
        failingSince_ = -1;
        return;
    }
    if (refusal) {
        failingSince_ = -1;
        return;
    }
    if (failingSince_ < 0) failingSince_ = sentAt;
    // The start has its own attempts; these limits guard a standing session.
    if (f_.IsECUConnected != 1 || f_.IsComConnected != 1) return;
    if (clock_.NowMs() - failingSince_ >= kNoAnswerLimitMs)
        GiveUp("ECU: << Нет правильного ответа от ECU " + std::to_string(kNoAnswerLimitMs / 1000) +
               " с: связь разорвана");
}

void EcuLink::GiveUp(const std::string& why) {
    log_.LogMessage(why);
    f_.IsDiagnostic = 0;
    f_.IsECUConnected = 0;
    ClosePort();
}

bool EcuLink::Request(std::span<const uint8_t> payload) {
    lastRepeats_ = 0;
    const bool write = !payload.empty() && payload[0] == 0x3D;
    for (int attempt = 1;; ++attempt) {
        const bool result = SendRequest(payload);
        // The exchange never counts a write as an error; still, a write the
        // ECU did not confirm must not pass unseen, since the table in RAM
        // is then not what the program believes.
        if (write && lastSent_ && !lastValid_)
            log_.LogMessage("ECU: << Запись не подтверждена! Запрос - " + HexText(payload) +
                            "; Ответ - " + HexText(lastAnswer_) + ";");
        const bool answered = !lastAnswer_.empty();
        if (answered || !lastSent_ || attempt > kRepeats || stopping_.Raised() ||
            f_.IsComConnected != 1)
            return result;
        ++lastRepeats_;
        log_.LogMessage("ECU: >> Повтор запроса " + HexText(payload) + ": попытка " +
                        std::to_string(attempt + 1) + " из " + std::to_string(kRepeats + 1));
    }
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
    ++errorsInRow_;
    if (!detail.empty()) line += "\r\n" + detail;
    log_.LogMessage(line);
    log_.LogMessage("Ошибка №" + std::to_string(count));
    if (errorsInRow_ > kMaxErrors && f_.IsECUConnected == 1 && f_.IsComConnected == 1)
        GiveUp("ECU: << " + std::to_string(errorsInRow_) + " ошибок подряд: связь разорвана");
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
    startLeftSession_ = false;
    if (f_.FastInit == 1) WakeUp();
    log_.LogMessage("ECU: >> Starting Communication");
    const bool started = Request({0x81});
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
        log_.LogMessage("«Скорость ECU COM» = «" + speedText +
                        "»: возможны только 10400, 38400 и 57600.");
        ClosePort();
        return false;
    }
    const bool session = Request({0x10, 0x81, *speedByte});
    SetLineSpeed(speedText == "57600" ? 57600 : speedText == "38400" ? 38400 : 10400);
    startLeftSession_ = true;
    if (!session) return false;

    log_.LogMessage("ECU: >> Sending \"Tester Present\"");
    if (!Request({0x3E, 0x01})) return false;

    log_.LogMessage("ECU: >> Switch to RAM");
    if (!Request({0x30, 0x0F, 0x06, 0x01})) return false;

    if (!Request({0x23, 0x00, 0xF3, 0x00, 0x08})) return false;
    startLeftSession_ = false;
    return true;
}

void EcuLink::EndFailedStart() {
    if (!std::exchange(startLeftSession_, false) || f_.IsComConnected != 1) return;
    log_.LogMessage("ECU: >> Stop Communication");
    if (!Request({0x82}) && !stopping_.Raised()) {
        log_.LogMessage("ECU: << ECU не подтвердил Stop Communication: ожидание конца его сеанса " +
                        std::to_string(kP3MaxMs / 1000) + " с");
        Pause(kP3MaxMs);
    }
    SetLineSpeed(kOpeningSpeed);
}

bool EcuLink::StopSession() {
    f_.IsDiagnostic = 0;
    log_.LogMessage("ECU: >> Stop Diagnostic Session");
    f_.PortTimeOut = 100;
    f_.PortReadTimeOut = 100;
    bool result = Request({0x20});
    if (result) {
        SetLineSpeed(kOpeningSpeed);
        log_.LogMessage("ECU: >> Stop Communication");
        result = Request({0x82});
    }
    return result;
}

}  // namespace korvane::ecu
