// korvane-sim: a K-line adapter with an ECU behind it and an LC-1 wideband
// controller, on pseudo-terminals, driven by a small engine model. Used by
// the korvane-sim program, by the demo run and, in-process, by the tests.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/EngineModel.h"

namespace korvane::sim {

// Fault kinds that can be switched on with a probability per request (ECU)
// or per packet (LC-1). 0 = off, 1 = always.
struct Faults {
    double silence = 0;     // ECU: no answer (the echo still comes)
    double noChecksum = 0;  // ECU: answer with a wrong checksum
    double noEcho = 0;      // adapter: the echo of the request is missing
    double negative = 0;    // ECU: 7F <service> 11 instead of the answer
    double late = 0;        // ECU: answer delivered well after its P2 pause
    double lc1Silence = 0;  // LC-1: packet not sent
    double lc1Error = 0;    // LC-1: packet with a non-zero function code or broken payload
    // ECU: a memory write that touches refuseFrom..refuseTo (inclusive) is
    // answered 7F 3D refuseCode and changes nothing, like RAM the ECU does
    // not let the tester write. Off while refuseTo < refuseFrom.
    uint16_t refuseFrom = 1, refuseTo = 0;
    uint8_t refuseCode = 0x31;
};

struct Options {
    std::string ecuLink;             // symbolic link to publish for the ECU side ("" = none)
    std::string lc1Link;             // symbolic link for the LC-1 side ("" = none)
    bool fast = false;               // no P2 pause or wire time, LC-1 at a high rate
    int p2Ms = 25;                   // the ECU's pause before it answers (not in fast mode)
    bool lc1WarmUp = true;           // LC-1 starts with its warm-up phase
    std::string firmwarePath;        // 64 KiB image to load; "" = the built-in synthetic image
    std::string scenario = "drive";  // idle | sweep | drive
    uint32_t seed = 1;
    // How the mixture follows the correction table (see Mixture).
    Mixture mixture = Mixture::Interpolated;
    // How far the LC-1's reading trails the mixture, in ms (0 .. 5000):
    // gas transport plus the sensor's lag. 0 = the mixture of the moment.
    int lc1DelayMs = 0;
    Faults faults;
    // A session with no request for this long ends by itself and the ECU
    // listens at 10400 baud again (0 = never).
    int sessionTimeoutMs = 5000;
    // The ECU answers StartCommunication only after the fast-init wake-up:
    // a zero byte at 360 baud (below 1200 baud: no data rate of the K-line)
    // whose start came 25..100 ms before the request's first byte.
    bool fastInit = false;
    // A line showing 38400 baud also counts for a non-standard speed such
    // as 10400: the old custom-divisor convention of Linux serial drivers,
    // by which Wine sets such speeds (a pseudo-terminal then shows 38400).
    bool customSpeedAs38400 = false;
    // Called on the simulator's thread after every memory write by the
    // program (WriteMemoryByAddress), outside the simulator's lock.
    std::function<void(uint16_t address, size_t length)> onRamWrite;
    // Called on the simulator's thread with a line about each wake-up
    // pattern and each start of communication it saw, outside the lock.
    std::function<void(const std::string& line)> onNote;
};

// One request as the simulated ECU received it (service bytes without the
// header and checksum), with the line speed it came at and whether it was
// answered. Only frames with a sound checksum, addressed to the ECU, are
// recorded; the list keeps the latest 20 000.
struct SeenRequest {
    std::vector<uint8_t> data;
    int baud = 0;
    bool answered = false;
    // When its first byte reached the ECU and when the answer's last byte
    // was due to reach the program (the same as `at` when unanswered).
    std::chrono::steady_clock::time_point at{};
    std::chrono::steady_clock::time_point answerAt{};
    // Milliseconds from the last wake-up pattern to this request's first
    // byte, when one came after the previous request; -1 otherwise.
    int wakeUpMs = -1;
};

class Simulator {
  public:
    explicit Simulator(Options options);
    ~Simulator();  // stops and removes the links
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pseudo-terminals, publishes the links and starts the thread.
    bool Start(std::string* error = nullptr);
    void Stop();

    // Device paths the program opens (the links when given, else the slaves).
    std::string EcuPath() const;
    std::string Lc1Path() const;

    // Thread-safe views and controls for tests and the command line.
    std::vector<uint8_t> Ram() const;  // 65 536 bytes
    void WriteRam(uint16_t address, const std::vector<uint8_t>& bytes);
    std::vector<SeenRequest> Requests() const;
    void ClearRequests();
    int EcuLineSpeed() const;  // the speed the simulated ECU expects now
    void SetFaults(const Faults& faults);
    // The line is cut for this long: the adapter hears nothing and echoes
    // nothing, the ECU answers nothing.
    void CutLine(std::chrono::milliseconds length);
    // The ECU restarts (ignition off and on): its session ends, it listens
    // at 10400 baud again and its RAM holds the flash values it started
    // with.
    void RestartEcu();
    void SetLc1Lambda(double lambda);  // fixed lambda for the LC-1; <= 0 = the engine model's
    // The model's mixture at a cell's centre.
    double TrueLambdaAtCell(int column, int row) const;

    // Keeps the engine in one work-point cell (column = throttle band, row =
    // engine-speed band); (-1, -1) lets the scenario drive again.
    void HoldCell(int column, int row);
    // The cell the engine is in now, as {column, row}.
    std::pair<int, int> CurrentCell() const;
    // The 51 bytes a diagnostic request would get now.
    std::vector<uint8_t> DiagnosticFrame() const;
    // How far each cell's centre is from lambda 1 with the correction table
    // now in RAM, as a 16 x 16 text table with a summary line; then, for each
    // cell the engine has visited, the time spent there and its |lambda - 1|.
    std::string Report() const;
    // CPU time the simulator's own thread has used since Start, in seconds.
    double ThreadCpuSeconds() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Builds the synthetic 64 KiB image (tables at the addresses the program
// expects, consistent with the engine model) and the demo map description.
std::vector<uint8_t> MakeSyntheticFirmware(uint32_t seed = 1);
std::string MakeDemoMapCp1251(const std::vector<uint8_t>& firmware);

}  // namespace korvane::sim
