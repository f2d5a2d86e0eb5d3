// korvane-sim: the ECU behind its K-line adapter and the LC-1 controller on
// pseudo-terminals, for demonstrations, tests and practice without a car.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/TextCodec.h"
#include "sim/EngineRun.h"
#include "sim/Simulator.h"

using korvane::sim::Faults;
using korvane::sim::Options;
using korvane::sim::Simulator;

namespace {

const char kHelp[] =
    "korvane-sim: simulated ECU (K-line, ISO 14230) and LC-1 wideband controller on\n"
    "pseudo-terminals, for Korvane without a car.\n"
    "\n"
    "Usage:\n"
    "  korvane-sim --ecu PATH --lc1 PATH [options]   run until Ctrl+C (SIGINT/SIGTERM)\n"
    "  korvane-sim make-firmware OUT.bin [--seed N]  write the synthetic 64 KiB image\n"
    "  korvane-sim make-map OUT.xml                  write the demo map description (CP1251)\n"
    "\n"
    "Options:\n"
    "  --ecu PATH          symbolic link to publish for the ECU's port\n"
    "  --lc1 PATH          symbolic link to publish for the LC-1's port\n"
    "  --fast              answer at once (no P2 pause or wire time), LC-1 every 20 ms\n"
    "  --p2 MS             the ECU answers MS ms after a request (default 25; a slow\n"
    "                      ECU, to see a late answer count as missing)\n"
    "  --scenario NAME     idle | sweep | drive (default drive)\n"
    "  --seed N            seed of the engine model and the faults (default 1)\n"
    "  --firmware FILE     load ECU memory from a 65536-byte image (default: synthetic)\n"
    "  --dump-ram FILE     write ECU memory to FILE on exit\n"
    "  --faults LIST       k=p,... with p from 0 to 1; k one of silence, nochecksum,\n"
    "                      noecho, negative, late, lc1silence, lc1error; and\n"
    "                      refuse=AAAA-BBBB (hex): writes there are answered 7F 3D 31\n"
    "  --no-warmup         the LC-1 sends readings from the start\n"
    "  --custom-speed-38400\n"
    "                      a line at 38400 baud also counts for 10400 (the custom-\n"
    "                      divisor convention; Wine sets 10400 on a pseudo-terminal so)\n"
    "  --init KIND         none (default): StartCommunication is answered as it comes;\n"
    "                      fast: only after the fast-init wake-up (a zero byte at 360\n"
    "                      baud whose start came 25..100 ms before the request)\n"
    "  --lc1-delay MS      the LC-1 reading trails the mixture by MS on average (gas\n"
    "                      transport, then the sensor's lag; 0 .. 5000, default 0)\n"
    "  --mixture MODEL     interpolated (default): the mixture follows the correction\n"
    "                      table between cell centres, as the ECU uses it; cell: one\n"
    "                      mixture per cell from its own correction byte\n"
    "  --report            print each cell's distance from lambda 1, and the time spent\n"
    "                      in each visited cell, on exit (and on SIGUSR1)\n"
    "  SIGUSR2             the ECU restarts: session ended, RAM back at the flash values\n"
    "  --help              this text\n"
    "\n"
    "Every write into ECU memory is printed as \"write 0xADDR LEN\"; every wake-up\n"
    "pattern and StartCommunication seen as a line starting with \"init:\".\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "korvane-sim: %s\n(see korvane-sim --help)\n", why.c_str());
    return 2;
}

bool ParseSeed(const char* text, uint32_t& seed) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (!*text || *end || v > 0xFFFFFFFFul) return false;
    seed = static_cast<uint32_t>(v);
    return true;
}

// Whole milliseconds, 0 to a minute.
bool ParsePause(const char* text, int& ms) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < 0 || v > 60000) return false;
    ms = static_cast<int>(v);
    return true;
}

bool ParseFaults(const std::string& list, Faults& f, std::string& why) {
    size_t pos = 0;
    while (pos <= list.size()) {
        const size_t comma = list.find(',', pos);
        const std::string item =
            list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? list.size() + 1 : comma + 1;
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            why = "fault without a value: " + item;
            return false;
        }
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        if (key == "refuse") {
            // refuse=7D00-7D3F: writes into that range get 7F 3D 31.
            unsigned from = 0, to = 0;
            char tail = 0;
            if (std::sscanf(value.c_str(), "%x-%x%c", &from, &to, &tail) != 2 || from > to ||
                to > 0xFFFF) {
                why = "refuse takes a hex address range, as refuse=7D00-7D3F: " + item;
                return false;
            }
            f.refuseFrom = static_cast<uint16_t>(from);
            f.refuseTo = static_cast<uint16_t>(to);
            continue;
        }
        char* end = nullptr;
        const double p = std::strtod(value.c_str(), &end);
        if (value.empty() || *end || !(p >= 0 && p <= 1)) {
            why = "fault probability must be a number from 0 to 1: " + item;
            return false;
        }
        if (key == "silence")
            f.silence = p;
        else if (key == "nochecksum")
            f.noChecksum = p;
        else if (key == "noecho")
            f.noEcho = p;
        else if (key == "negative")
            f.negative = p;
        else if (key == "late")
            f.late = p;
        else if (key == "lc1silence")
            f.lc1Silence = p;
        else if (key == "lc1error")
            f.lc1Error = p;
        else {
            why = "unknown fault: " + key;
            return false;
        }
    }
    return true;
}

bool ParseDelayMs(const char* text, int& ms) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < 0 || v > korvane::sim::EngineRun::kMaxLc1DelayMs) return false;
    ms = static_cast<int>(v);
    return true;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::string why;
    if (korvane::platform::WriteFileAtomically(path, bytes, why)) return true;
    std::fprintf(stderr, "korvane-sim: %s: %s\n", path.c_str(), why.c_str());
    return false;
}

int MakeFirmware(int argc, char** argv) {
    if (argc < 3) return Usage("make-firmware needs the output file");
    uint32_t seed = 1;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            if (!ParseSeed(argv[++i], seed)) return Usage("bad seed");
        } else {
            return Usage(std::string("unknown argument: ") + argv[i]);
        }
    }
    const auto image = korvane::sim::MakeSyntheticFirmware(seed);
    return WriteFile(argv[2], std::string(image.begin(), image.end())) ? 0 : 1;
}

int MakeMap(int argc, char** argv) {
    if (argc != 3) return Usage("make-map needs the output file");
    return WriteFile(argv[2],
                     korvane::sim::MakeDemoMapCp1251(korvane::sim::MakeSyntheticFirmware()))
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "make-firmware") == 0) return MakeFirmware(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "make-map") == 0) return MakeMap(argc, argv);

    Options options;
    std::string dumpRam;
    bool report = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--fast") {
            options.fast = true;
        } else if (a == "--report") {
            report = true;
        } else if (a == "--lc1-delay" || a == "--mixture") {
            const char* v = value(a.c_str());
            if (!v) return Usage(a + " needs a value");
            if (a == "--lc1-delay" && !ParseDelayMs(v, options.lc1DelayMs))
                return Usage(std::string("LC-1 delay must be 0 .. 5000 ms: ") + v);
            if (a == "--mixture" && !korvane::sim::ParseMixture(v, options.mixture))
                return Usage(std::string("unknown mixture model: ") + v);
        } else if (a == "--init") {
            const char* v = value(a.c_str());
            if (!v) return Usage(a + " needs a value");
            if (std::strcmp(v, "fast") == 0)
                options.fastInit = true;
            else if (std::strcmp(v, "none") == 0)
                options.fastInit = false;
            else
                return Usage(std::string("--init takes none or fast: ") + v);
        } else if (a == "--no-warmup") {
            options.lc1WarmUp = false;
        } else if (a == "--custom-speed-38400") {
            options.customSpeedAs38400 = true;
        } else if (a == "--ecu" || a == "--lc1" || a == "--scenario" || a == "--seed" ||
                   a == "--firmware" || a == "--dump-ram" || a == "--faults" || a == "--p2") {
            const char* v = value(a.c_str());
            if (!v) return Usage(a + " needs a value");
            if (a == "--ecu")
                options.ecuLink = v;
            else if (a == "--lc1")
                options.lc1Link = v;
            else if (a == "--scenario")
                options.scenario = v;
            else if (a == "--firmware")
                options.firmwarePath = v;
            else if (a == "--dump-ram")
                dumpRam = v;
            else if (a == "--p2") {
                if (!ParsePause(v, options.p2Ms)) return Usage(std::string("bad --p2: ") + v);
            } else if (a == "--seed") {
                if (!ParseSeed(v, options.seed)) return Usage(std::string("bad seed: ") + v);
            } else {
                std::string why;
                if (!ParseFaults(v, options.faults, why)) return Usage(why);
            }
        } else {
            return Usage("unknown argument: " + a);
        }
    }
    options.onRamWrite = [](uint16_t address, size_t length) {
        std::printf("write 0x%04X %zu\n", static_cast<unsigned>(address), length);
        std::fflush(stdout);
    };
    options.onNote = [](const std::string& line) {
        std::printf("init: %s\n", line.c_str());
        std::fflush(stdout);
    };

    // A closed stdout must not end the simulator in the middle of a session.
    std::signal(SIGPIPE, SIG_IGN);
    // The signals are taken by sigwait below; every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Simulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "korvane-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("ECU  (K-line, 10400 baud at start): %s\n", sim.EcuPath().c_str());
    std::printf("LC-1 (19200 baud): %s\n", sim.Lc1Path().c_str());
    std::printf("scenario %s, seed %u%s%s, %s mixture, LC-1 delay %d ms; Ctrl+C ends\n",
                options.scenario.c_str(), static_cast<unsigned>(options.seed),
                options.fast ? ", fast" : "", options.fastInit ? ", fast init" : "",
                options.mixture == korvane::sim::Mixture::PerCell ? "per-cell" : "interpolated",
                options.lc1DelayMs);
    std::fflush(stdout);

    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig == SIGUSR1) {
            std::fputs(sim.Report().c_str(), stdout);
            std::fflush(stdout);
            continue;
        }
        if (sig == SIGUSR2) {
            sim.RestartEcu();
            std::puts("ECU restarted: RAM back at the flash values");
            std::fflush(stdout);
            continue;
        }
        break;
    }
    sim.Stop();
    int rc = 0;
    if (!dumpRam.empty()) {
        const auto ram = sim.Ram();
        if (!WriteFile(dumpRam, std::string(ram.begin(), ram.end()))) rc = 1;
    }
    if (report) std::fputs(sim.Report().c_str(), stdout);
    std::fflush(stdout);
    return rc;
}
