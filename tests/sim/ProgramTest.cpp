// The korvane-sim program: its links, the RAM dump, the write lines and the
// two file commands.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/TextCodec.h"
#include "sim/Firmware.h"
#include "sim/SimTestUtil.h"

namespace korvane::sim::test {
namespace {

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/korvane-sim-prog-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The echo and the whole answer: a program just started (or slowed down by
// a sanitizer) may answer well after the echo.
std::string EchoAndAnswer(Line& line, const Bytes& request, size_t answerBytes) {
    line.Drain();
    line.Send(request);
    return ToHex(line.ReadCount(request.size() + answerBytes, 3000));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(SimProgram, MakesTheFirmwareAndTheMap) {
    TempDir dir;
    const std::string bin = dir / "demo.bin", xml = dir / "demo.xml";
    ASSERT_EQ(std::system((std::string(KORVANE_SIM_PROGRAM) + " make-firmware " + bin).c_str()), 0);
    ASSERT_EQ(std::system((std::string(KORVANE_SIM_PROGRAM) + " make-map " + xml).c_str()), 0);
    const auto image = MakeSyntheticFirmware(1);
    EXPECT_EQ(ReadAll(bin), std::string(image.begin(), image.end()));
    EXPECT_EQ(ReadAll(xml), MakeDemoMapCp1251(image));
}

TEST(SimProgram, RefusesBadOptionsAndTakesGoodOnes) {
    const struct {
        const char* args;
        bool ok;
    } cases[] = {
        {"--bogus", false}, {"--p2", false},       {"--p2 x", false},
        {"--p2 -1", false}, {"--p2 60001", false}, {"--p2 200 --help", true},
    };
    for (const auto& c : cases) {
        const std::string command =
            std::string(KORVANE_SIM_PROGRAM) + " " + c.args + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()) == 0, c.ok) << c.args;
    }
}

TEST(SimProgram, RunsUntilTerminatedThenRemovesLinksAndDumpsRam) {
    TempDir dir;
    const std::string ecu = dir / "ecu", lc1 = dir / "lc1", dump = dir / "ram.bin",
                      out = dir / "out.txt";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen(out.c_str(), "w", stdout);
        ::execl(KORVANE_SIM_PROGRAM, KORVANE_SIM_PROGRAM, "--ecu", ecu.c_str(), "--lc1",
                lc1.c_str(), "--fast", "--dump-ram", dump.c_str(), "--report", "--faults",
                "lc1error=0", "--lc1-delay", "250", "--mixture", "cell",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !(Exists(ecu) && Exists(lc1)); ++i) SleepMs(10);
    ASSERT_TRUE(Exists(ecu) && Exists(lc1));
    {
        Line line(ecu, 10400);
        EXPECT_EQ(EchoAndAnswer(line, Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"), 5),
                  "87 10 F1 3D 00 7C F7 02 AA 55 39 81 F1 10 7D FF");
        Line lambda(lc1, 19200);
        EXPECT_FALSE(lambda.ReadFor(100).empty());
    }
    // SIGUSR1 prints the report and the simulator goes on.
    ::kill(pid, SIGUSR1);
    for (int i = 0; i < 200 && ReadAll(out).find("cells visited in") == std::string::npos; ++i)
        SleepMs(10);
    EXPECT_NE(ReadAll(out).find("cells visited in"), std::string::npos);
    {
        Line line(ecu, 10400);
        EXPECT_EQ(EchoAndAnswer(line, Hex("82 10 F1 3E 01 C2"), 5),
                  "82 10 F1 3E 01 C2 81 F1 10 7E 00");
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(Exists(ecu));
    EXPECT_FALSE(Exists(lc1));
    const std::string ram = ReadAll(dump);
    ASSERT_EQ(ram.size(), 65536u);
    EXPECT_EQ(static_cast<uint8_t>(ram[0x7CF7]), 0xAA);
    EXPECT_EQ(static_cast<uint8_t>(ram[0x7CF8]), 0x55);
    const std::string text = ReadAll(out);
    EXPECT_NE(text.find("write 0x7CF7 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("per-cell mixture, LC-1 delay 250 ms"), std::string::npos) << text;
    EXPECT_NE(text.find("of 256 cells within 1 %"), std::string::npos) << text;
    // The report on SIGUSR1 and the one on exit.
    EXPECT_NE(text.find("cells visited in"), text.rfind("cells visited in")) << text;
}

TEST(SimProgram, EngineOptionsAreCheckedBeforeAnythingStarts) {
    const struct {
        const char* args;
        bool ok;
    } cases[] = {
        {"--lc1-delay", false},
        {"--lc1-delay -1", false},
        {"--lc1-delay 5001", false},
        {"--lc1-delay 2x", false},
        {"--mixture", false},
        {"--mixture smooth", false},
        {"--lc1-delay 5000 --mixture cell --help", true},
        {"--lc1-delay 0 --mixture interpolated --help", true},
        {"--init", false},
        {"--init slow", false},
        {"--init fast --help", true},
        {"--init none --help", true},
    };
    for (const auto& c : cases) {
        const std::string command =
            std::string(KORVANE_SIM_PROGRAM) + " " + c.args + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status)) << c.args;
        EXPECT_EQ(WEXITSTATUS(status), c.ok ? 0 : 2) << c.args;
    }
}

}  // namespace
}  // namespace korvane::sim::test
