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
                "lc1error=0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !(Exists(ecu) && Exists(lc1)); ++i) SleepMs(10);
    ASSERT_TRUE(Exists(ecu) && Exists(lc1));
    {
        Line line(ecu, 10400);
        EXPECT_EQ(ToHex(line.Exchange(Hex("87 10 F1 3D 00 7C F7 02 AA 55 39"))),
                  "87 10 F1 3D 00 7C F7 02 AA 55 39 81 F1 10 7D FF");
        Line lambda(lc1, 19200);
        EXPECT_FALSE(lambda.ReadFor(100).empty());
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
    EXPECT_NE(text.find("of 256 cells within 1 %"), std::string::npos) << text;
}

}  // namespace
}  // namespace korvane::sim::test
