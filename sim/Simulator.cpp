#include "sim/Simulator.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/SerialPort.h"
#include "platform/TextCodec.h"
#include "sim/Ecu.h"
#include "sim/EngineModel.h"
#include "sim/EngineRun.h"
#include "sim/Firmware.h"
#include "sim/KLine.h"
#include "sim/Lc1.h"
#include "sim/Pty.h"

namespace korvane::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration;
using std::chrono::milliseconds;

constexpr auto kLateExtra = milliseconds(400);
// Bytes of a request further apart than this start a new frame. Far more
// than a car allows, so a busy test machine never splits a request.
constexpr auto kInterByteLimit = milliseconds(250);
constexpr auto kLc1Period = duration<double, std::milli>(81.92);
constexpr auto kLc1FastPeriod = milliseconds(20);
constexpr int kLc1WarmUpPackets = 40;
constexpr size_t kMaxRequests = 20000;
// A byte sent below this speed is a wake-up pattern, not data: the K-line
// carries data at 1200 baud and above.
constexpr int kSlowestDataBaud = 1200;
constexpr int kWakeUpBaud = 360;
constexpr auto kWakeUpMin = milliseconds(25);
constexpr auto kWakeUpMax = milliseconds(100);

struct Scheduled {
    Clock::time_point due;
    uint64_t order;
    std::vector<uint8_t> bytes;
};

// Bytes waiting to go out of one master, in time order.
struct Outbox {
    std::deque<Scheduled> queue;
    std::vector<uint8_t> ready;  // due, not yet taken by the pty
    uint64_t counter = 0;

    void Add(Clock::time_point due, std::vector<uint8_t> bytes) {
        Scheduled s{due, counter++, std::move(bytes)};
        auto it = std::upper_bound(queue.begin(), queue.end(), s, [](const auto& a, const auto& b) {
            return a.due < b.due || (a.due == b.due && a.order < b.order);
        });
        queue.insert(it, std::move(s));
    }
    void Release(Clock::time_point now) {
        while (!queue.empty() && queue.front().due <= now) {
            ready.insert(ready.end(), queue.front().bytes.begin(), queue.front().bytes.end());
            queue.pop_front();
        }
    }
    void Flush(int fd) {
        while (!ready.empty()) {
            const ssize_t n = ::write(fd, ready.data(), ready.size());
            if (n <= 0) break;
            ready.erase(ready.begin(), ready.begin() + n);
        }
    }
    void Clear() {
        queue.clear();
        ready.clear();
    }
};

}  // namespace

struct Simulator::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          engine(ScenarioOf(options.scenario), options.seed, options.mixture, options.lc1DelayMs),
          ram(MakeSyntheticFirmware(options.seed)),
          flash(ram),
          ecuRng(0xFA17ULL ^ (static_cast<uint64_t>(options.seed) << 16)),
          lc1Rng(0x1C1ULL ^ (static_cast<uint64_t>(options.seed) << 16)) {}

    static Scenario ScenarioOf(const std::string& text) {
        Scenario s = Scenario::Drive;
        ParseScenario(text, s);
        return s;
    }

    Options options;

    mutable std::mutex mutex;  // everything below that the public calls see
    EngineRun engine;
    std::vector<uint8_t> ram;
    std::vector<uint8_t> flash;  // what the RAM holds after a restart
    Clock::time_point cutUntil{};
    std::deque<SeenRequest> requests;
    Faults faults;
    double lc1Lambda = 0;
    int heldColumn = -1, heldRow = -1;  // kept across Start
    int ecuSpeed = kDefaultBaud;
    Clock::time_point started = Clock::now();
    Clock::time_point lastRequest = Clock::now();
    // Separate streams, so the faults an ECU request meets depend only on
    // the seed and the requests before it, not on the LC-1's timing.
    uint64_t ecuRng, lc1Rng;

    // Thread side only.
    PtyDevice ecu, lc1;
    int wake = -1;
    std::thread thread;
    std::atomic<bool> stopping{false};
    bool running = false;
    Outbox ecuOut, lc1Out;
    std::vector<uint8_t> frame;  // request being received
    Clock::time_point frameFirst{};
    Clock::time_point frameLast{};
    int frameBaud = 0;
    int frameWakeUpMs = -1;
    bool frameEcho = true;
    // The last wake-up pattern not yet followed by a request.
    std::optional<Clock::time_point> wakeUpAt;
    std::vector<std::string> notes;  // for onNote, outside the lock
    Clock::time_point lc1Next{};
    int lc1Packets = 0;
    int lc1Errors = 0;

    static double Roll(uint64_t& rng) {  // uniform in [0, 1)
        uint64_t z = (rng += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
    static bool Happens(uint64_t& rng, double probability) {
        return probability > 0 && Roll(rng) < probability;
    }

    double Seconds(Clock::time_point t) const { return duration<double>(t - started).count(); }

    EngineState StateAt(Clock::time_point t) const { return engine.StateAt(Seconds(t)); }

    double LambdaAt(int column, int row) const { return engine.CellMixture(column, row, ram); }

    // Under the lock: the engine runs up to t with the memory as it is.
    void Advance(Clock::time_point t) { engine.AdvanceTo(Seconds(t), ram); }

    std::array<uint8_t, 51> FrameAt(Clock::time_point t) {
        Advance(t);
        return engine.FrameAt(Seconds(t), ram);
    }

    // Without requests for a while an ECU ends its session and listens at the
    // initial speed again, so a program that vanished mid-session can start
    // anew.
    void EndIdleSession(Clock::time_point now) {
        if (ecuSpeed != kDefaultBaud && options.sessionTimeoutMs > 0 &&
            now - lastRequest > milliseconds(options.sessionTimeoutMs))
            ecuSpeed = kDefaultBaud;
    }

    void Record(const std::vector<uint8_t>& data, int baud, bool answered,
                std::optional<Clock::time_point> answerAt = std::nullopt) {
        if (requests.size() >= kMaxRequests) requests.pop_front();
        requests.push_back(
            {data, baud, answered, frameFirst, answerAt.value_or(frameFirst), frameWakeUpMs});
    }

    // With fast init a StartCommunication counts only right after its
    // wake-up pattern; says what it saw either way.
    bool StartAccepted(const kline::Frame& f) {
        if (f.data.empty() || f.data[0] != 0x81) return true;
        const bool inTime =
            frameWakeUpMs >= kWakeUpMin.count() && frameWakeUpMs <= kWakeUpMax.count();
        const bool accepted = !options.fastInit || inTime;
        std::string line = "StartCommunication";
        line += frameWakeUpMs < 0 ? " without a wake-up before it"
                                  : " " + std::to_string(frameWakeUpMs) + " ms after the wake-up";
        if (options.fastInit && !inTime) line += " (25..100 ms needed)";
        line += accepted ? ": answered" : ": not answered";
        notes.push_back(line);
        return accepted;
    }

    struct WriteNote {
        uint16_t address;
        size_t length;
    };

    // A WriteMemoryByAddress into the refused range.
    bool RefusedWrite(const std::vector<uint8_t>& data) const {
        if (faults.refuseTo < faults.refuseFrom || data.size() < 6 || data[0] != 0x3D) return false;
        const size_t from = static_cast<size_t>(data[2]) << 8 | data[3];
        const size_t to = from + (data.size() - 5);  // one past the last byte
        return from <= faults.refuseTo && faults.refuseFrom < to;
    }

    // One complete frame from the program. Returns the memory write it made.
    bool SpeedMatches(int line, int expected) const {
        if (line == expected) return true;
        static constexpr int kStandard[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        const bool standard =
            std::find(std::begin(kStandard), std::end(kStandard), expected) != std::end(kStandard);
        return options.customSpeedAs38400 && line == 38400 && !standard;
    }

    std::optional<WriteNote> HandleFrame(Clock::time_point now) {
        const kline::Frame f = kline::Decode(frame.data(), frame.size());
        if (!kline::IsRequestForEcu(f)) return std::nullopt;
        std::lock_guard lock(mutex);
        EndIdleSession(now);
        if (!SpeedMatches(frameBaud, ecuSpeed)) {
            Record(f.data, frameBaud, false);
            return std::nullopt;
        }
        lastRequest = now;
        if (!StartAccepted(f)) {
            Record(f.data, frameBaud, false);
            return std::nullopt;
        }
        if (Happens(ecuRng, faults.silence)) {
            Record(f.data, frameBaud, false);
            return std::nullopt;
        }
        EcuAnswer answer;
        if (RefusedWrite(f.data)) {
            answer.data = {0x7F, 0x3D, faults.refuseCode};
        } else if (Happens(ecuRng, faults.negative)) {
            answer.data = {0x7F, f.data[0], 0x11};
        } else {
            answer = AnswerRequest(f.data, ram, [&] { return FrameAt(now); });
        }
        if (answer.data.empty()) {
            Record(f.data, frameBaud, false);
            if (answer.speedAfter) ecuSpeed = answer.speedAfter;
            return std::nullopt;
        }
        std::vector<uint8_t> out = kline::EncodeAnswer(answer.data);
        if (Happens(ecuRng, faults.noChecksum)) out.back() = static_cast<uint8_t>(out.back() + 1);
        auto due = now;
        if (!options.fast) {
            const double wire = 10.0 * static_cast<double>(frame.size() + out.size()) / ecuSpeed;
            due += milliseconds(std::max(options.p2Ms, 0)) +
                   std::chrono::duration_cast<Clock::duration>(duration<double>(wire));
        }
        if (Happens(ecuRng, faults.late)) due += kLateExtra;
        ecuOut.Add(due, std::move(out));
        Record(f.data, frameBaud, true, due);
        if (answer.speedAfter) ecuSpeed = answer.speedAfter;
        if (answer.wrote) return WriteNote{answer.writeAddress, answer.writeLength};
        return std::nullopt;
    }

    void ReadEcu(Clock::time_point now) {
        uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(ecu.Master(), buf, sizeof buf);
            if (n <= 0) break;
            bool cut = false;
            {
                std::lock_guard lock(mutex);
                cut = now < cutUntil;
            }
            if (cut) {
                frame.clear();
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (!frame.empty() && now - frameLast > kInterByteLimit) frame.clear();
                if (frame.empty()) {
                    // The speed the program has set when its request begins.
                    frameBaud = platform::LineSpeedOf(ecu.Master());
                    if (frameBaud > 0 && frameBaud < kSlowestDataBaud) {
                        WakeUpByte(buf[i], frameBaud, now);
                        continue;
                    }
                    frameFirst = now;
                    frameWakeUpMs =
                        wakeUpAt
                            ? static_cast<int>(
                                  std::chrono::duration_cast<milliseconds>(now - *wakeUpAt).count())
                            : -1;
                    wakeUpAt.reset();
                    std::lock_guard lock(mutex);
                    frameEcho = !Happens(ecuRng, faults.noEcho);
                }
                if (frameEcho) ecuOut.Add(now, {buf[i]});
                frame.push_back(buf[i]);
                frameLast = now;
                const size_t total = kline::FrameLength(frame.data(), frame.size());
                if (total != 0 && frame.size() >= total) {
                    const auto note = HandleFrame(now);
                    frame.clear();
                    if (note && options.onRamWrite) options.onRamWrite(note->address, note->length);
                }
                TellNotes();
            }
        }
    }

    // A byte below the data rates: the low part of a wake-up pattern when
    // it is a zero at 360 baud. The adapter echoes it like any byte.
    void WakeUpByte(uint8_t byte, int baud, Clock::time_point now) {
        ecuOut.Add(now, {byte});
        char line[96];
        if (byte == 0x00 && baud == kWakeUpBaud) {
            wakeUpAt = now;
            std::snprintf(line, sizeof line, "wake-up: 0x00 at %d baud", baud);
        } else {
            wakeUpAt.reset();
            std::snprintf(line, sizeof line, "no wake-up: 0x%02X at %d baud", byte, baud);
        }
        notes.emplace_back(line);
        TellNotes();
    }

    void TellNotes() {
        if (notes.empty()) return;
        std::vector<std::string> lines;
        lines.swap(notes);
        if (options.onNote)
            for (const auto& line : lines) options.onNote(line);
    }

    void SendLc1(Clock::time_point now) {
        std::array<uint8_t, 6> packet{};
        bool send = true;
        {
            std::lock_guard lock(mutex);
            const int index = lc1Packets++;
            if (Happens(lc1Rng, faults.lc1Silence)) {
                send = false;
            } else if (options.lc1WarmUp && index < kLc1WarmUpPackets) {
                const int tenths = 1000 * (index + 1) / kLc1WarmUpPackets;
                packet = lc1::Packet(lc1::kWarmUp, tenths);
            } else if (Happens(lc1Rng, faults.lc1Error)) {
                // Either an error report from the controller or a garbled
                // reading; both carry a word that no lambda can have, so a
                // reader that looks only at the word still sees the fault.
                packet = (lc1Errors++ % 2 == 0) ? lc1::Packet(lc1::kErrorCode, 0x3F00 + 4)
                                                : lc1::Packet(lc1::kLambda, 0x3F00);
            } else {
                double lambda = lc1Lambda;
                if (lambda <= 0) {
                    Advance(now);
                    lambda = Lc1Measured(engine.SensorLambda(), options.seed,
                                         static_cast<uint64_t>(index));
                }
                packet = lc1::Packet(lc1::kLambda, lc1::LambdaWord(lambda));
            }
        }
        // Nobody listening: the bytes go nowhere, as on a real line.
        if (send && lc1.InUse()) lc1Out.Add(now, {packet.begin(), packet.end()});
    }

    void Run() {
        const auto period = options.fast ? Clock::duration(kLc1FastPeriod)
                                         : std::chrono::duration_cast<Clock::duration>(kLc1Period);
        lc1Next = Clock::now() + period;
        while (!stopping.load()) {
            auto now = Clock::now();
            auto next = std::min(lc1Next, now + milliseconds(200));
            if (!ecuOut.queue.empty()) next = std::min(next, ecuOut.queue.front().due);
            const int timeout = static_cast<int>(
                std::max<int64_t>(0, std::chrono::duration_cast<milliseconds>(next - now).count() +
                                         (next > now ? 1 : 0)));
            pollfd fds[5] = {
                {wake, POLLIN, 0},
                {ecu.Master(), static_cast<short>(POLLIN | (ecuOut.ready.empty() ? 0 : POLLOUT)),
                 0},
                {lc1.Master(), static_cast<short>(POLLIN | (lc1Out.ready.empty() ? 0 : POLLOUT)),
                 0},
                {ecu.WatchFd(), POLLIN, 0},
                {lc1.WatchFd(), POLLIN, 0},
            };
            ::poll(fds, 5, timeout);
            if (stopping.load()) break;
            now = Clock::now();
            // Opens and closes first, so a freshly opened port is cleaned
            // before anything is written for it.
            ecu.HandleWatchEvents();
            lc1.HandleWatchEvents();
            ReadEcu(now);
            uint8_t sink[256];
            while (::read(lc1.Master(), sink, sizeof sink) > 0) {
            }
            while (lc1Next <= now) {
                SendLc1(now);
                lc1Next += period;
                if (now - lc1Next > 10 * period) lc1Next = now + period;
            }
            {
                std::lock_guard lock(mutex);
                EndIdleSession(now);
                Advance(now);  // the time spent in each cell counts without a listener too
            }
            ecuOut.Release(now);
            lc1Out.Release(now);
            if (!ecu.InUse()) ecuOut.ready.clear();
            if (!lc1.InUse()) lc1Out.ready.clear();
            ecuOut.Flush(ecu.Master());
            lc1Out.Flush(lc1.Master());
        }
    }
};

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
    impl_->faults = impl_->options.faults;
}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    Impl& d = *impl_;
    if (d.running) return true;
    Scenario scenario;
    if (!ParseScenario(d.options.scenario, scenario)) {
        if (error) *error = "unknown scenario: " + d.options.scenario;
        return false;
    }
    if (d.options.lc1DelayMs < 0 || d.options.lc1DelayMs > EngineRun::kMaxLc1DelayMs) {
        if (error)
            *error = "LC-1 delay must be 0 .. " + std::to_string(EngineRun::kMaxLc1DelayMs) +
                     " ms: " + std::to_string(d.options.lc1DelayMs);
        return false;
    }
    if (!d.options.firmwarePath.empty()) {
        std::string bytes, why;
        if (!platform::ReadBinaryFile(d.options.firmwarePath, bytes, why)) {
            if (error) *error = d.options.firmwarePath + ": " + why;
            return false;
        }
        if (bytes.size() != kImageSize) {
            if (error)
                *error = d.options.firmwarePath + ": " + std::to_string(bytes.size()) +
                         " bytes, a firmware image has 65536";
            return false;
        }
        std::lock_guard lock(d.mutex);
        d.ram.assign(bytes.begin(), bytes.end());
        d.flash = d.ram;
    }
    if (!d.ecu.Open(d.options.ecuLink, error)) return false;
    if (!d.lc1.Open(d.options.lc1Link, error)) {
        d.ecu.Close();
        return false;
    }
    d.wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    {
        std::lock_guard lock(d.mutex);
        d.ecuSpeed = kDefaultBaud;
        d.started = d.lastRequest = Clock::now();
        // A new run: the model's clock and the visit statistics start at 0,
        // a held cell stays held.
        EngineRun fresh(scenario, d.options.seed, d.options.mixture, d.options.lc1DelayMs);
        fresh.Hold(d.heldColumn, d.heldRow);
        d.engine = std::move(fresh);
    }
    d.ecuOut.Clear();
    d.lc1Out.Clear();
    d.frame.clear();
    d.wakeUpAt.reset();
    d.notes.clear();
    d.lc1Packets = 0;
    d.stopping = false;
    d.thread = std::thread([&d] { d.Run(); });
    d.running = true;
    return true;
}

void Simulator::Stop() {
    Impl& d = *impl_;
    if (!d.running) return;
    d.stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(d.wake, &one, sizeof one);
    d.thread.join();
    ::close(d.wake);
    d.wake = -1;
    d.ecu.Close();
    d.lc1.Close();
    d.running = false;
}

std::string Simulator::EcuPath() const {
    return impl_->ecu.Path();
}
std::string Simulator::Lc1Path() const {
    return impl_->lc1.Path();
}

std::vector<uint8_t> Simulator::Ram() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->ram;
}

void Simulator::WriteRam(uint16_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(impl_->mutex);
    for (size_t i = 0; i < bytes.size() && address + i < kImageSize; ++i)
        impl_->ram[address + i] = bytes[i];
}

std::vector<SeenRequest> Simulator::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return {impl_->requests.begin(), impl_->requests.end()};
}

void Simulator::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

int Simulator::EcuLineSpeed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->ecuSpeed;
}

void Simulator::SetFaults(const Faults& faults) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults = faults;
}

void Simulator::CutLine(std::chrono::milliseconds length) {
    std::lock_guard lock(impl_->mutex);
    impl_->cutUntil = Clock::now() + length;
}

void Simulator::RestartEcu() {
    std::lock_guard lock(impl_->mutex);
    impl_->ram = impl_->flash;
    impl_->ecuSpeed = kDefaultBaud;
}

void Simulator::SetLc1Lambda(double lambda) {
    std::lock_guard lock(impl_->mutex);
    impl_->lc1Lambda = lambda;
}

double Simulator::TrueLambdaAtCell(int column, int row) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->LambdaAt(column, row);
}

void Simulator::HoldCell(int column, int row) {
    std::lock_guard lock(impl_->mutex);
    const bool inside = column >= 0 && column < kGridSize && row >= 0 && row < kGridSize;
    impl_->heldColumn = inside ? column : -1;
    impl_->heldRow = inside ? row : -1;
    impl_->Advance(Clock::now());  // the time so far on the old path
    impl_->engine.Hold(impl_->heldColumn, impl_->heldRow);
}

std::pair<int, int> Simulator::CurrentCell() const {
    std::lock_guard lock(impl_->mutex);
    const EngineState s = impl_->StateAt(Clock::now());
    return {s.column, s.row};
}

std::vector<uint8_t> Simulator::DiagnosticFrame() const {
    std::lock_guard lock(impl_->mutex);
    const auto f = impl_->engine.FrameAt(impl_->Seconds(Clock::now()), impl_->ram);
    return {f.begin(), f.end()};
}

std::string Simulator::Report() const {
    std::lock_guard lock(impl_->mutex);
    std::string out =
        "Mixture error at each cell's centre, % from lambda 1 (rows: rpm, columns: throttle %)\n";
    char buf[64];
    out += "  rpm |";
    for (int c = 0; c < kGridSize; ++c) {
        std::snprintf(buf, sizeof buf, "%6d", Grid::ThrottleLabels()[c]);
        out += buf;
    }
    out += "\n";
    int within = 0;
    double worst = 0;
    for (int r = 0; r < kGridSize; ++r) {
        std::snprintf(buf, sizeof buf, "%5d |", Grid::RpmLabels()[r]);
        out += buf;
        for (int c = 0; c < kGridSize; ++c) {
            const double e = (impl_->LambdaAt(c, r) - 1.0) * 100.0;
            std::snprintf(buf, sizeof buf, "%+6.1f", e);
            out += buf;
            if (std::fabs(e) <= 1.0) ++within;
            worst = std::max(worst, std::fabs(e));
        }
        out += "\n";
    }
    std::snprintf(buf, sizeof buf, "%d of 256 cells within 1 %%; worst %.1f %%\n", within, worst);
    out += buf;
    impl_->Advance(Clock::now());
    out += VisitedCellsReport(impl_->engine.Stats(),
                              [&](int c, int r) { return impl_->LambdaAt(c, r); });
    return out;
}

double Simulator::ThreadCpuSeconds() const {
    if (!impl_->running) return 0;
    clockid_t id{};
    timespec ts{};
    if (::pthread_getcpuclockid(impl_->thread.native_handle(), &id) != 0 ||
        ::clock_gettime(id, &ts) != 0)
        return 0;
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

}  // namespace korvane::sim
