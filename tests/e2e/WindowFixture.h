#pragma once
// What the end-to-end tests share: a folder of their own, the simulator on
// links in it, a config written there as the program reads it, and the real
// window opened on that folder with recording dialogs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "platform/TextCodec.h"
#include "sim/Simulator.h"
#include "tests/support/FormParts.h"

namespace korvane::test {

// A whole file's bytes (none when it cannot be read).
inline std::vector<uint8_t> ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The window's image as it stands.
inline std::vector<uint8_t> ImageBytes(app::TForm1& form) {
    const auto span = form.Image().Bytes();
    return {span.begin(), span.end()};
}

class WindowTest : public ::testing::Test {
  protected:
    std::filesystem::path dir;
    std::unique_ptr<sim::Simulator> simulator;
    app::RecordingDialogs dialogs;

    void SetUp() override {
        static int n = 0;
        dir = std::filesystem::temp_directory_path() /
              ("korvane_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        simulator.reset();
        std::filesystem::remove_all(dir);
    }

    // The demo's image "demo.bin" and map "demo.xml" in the folder, made by
    // the simulator program as run.sh makes them. A fatal failure when not.
    void MakeDemoFiles() {
        for (const std::string what : {"make-firmware demo.bin", "make-map demo.xml"}) {
            const std::string command =
                "cd '" + dir.string() + "' && '" KORVANE_SIM_PROGRAM "' " + what + " > /dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
    }

    // The simulator's links in the folder ("ecu", "lc1"), answers as soon as
    // they are due, the engine at idle.
    sim::Options SimulatorOptions() const {
        sim::Options o;
        o.ecuLink = (dir / "ecu").string();
        o.lc1Link = (dir / "lc1").string();
        o.fast = true;
        o.scenario = "idle";
        return o;
    }
    // A fatal failure when it does not start.
    void StartSimulator(const sim::Options& o) {
        simulator = std::make_unique<sim::Simulator>(o);
        std::string error;
        ASSERT_TRUE(simulator->Start(&error)) << error;
    }

    // The demo's files, the simulator running and a "config.ini" for a quick
    // session with the narrow-band sensor that loads "demo.bin" at start;
    // extra: lines added at its end. A fatal failure when a step fails.
    void StartDemoSession(const std::string& extra = {}) {
        MakeDemoFiles();
        if (HasFatalFailure()) return;
        StartSimulator(SimulatorOptions());
        if (HasFatalFailure()) return;
        WriteConfigText("Ecu Com=" + (dir / "ecu").string() +
                        "\r\nСкорость ECU COM=38400\r\nТаймаут1=0\r\nТаймаут2=200\r\n"
                        "Быстрый обмен=да\r\nLC-1 Com=" +
                        (dir / "lc1").string() +
                        "\r\nНе настраивать ниже %=2\r\nПисать логи=нет\r\n"
                        "Интервал коррекции БЦН(мс)=120000\r\nВремя перезаписи прошивки(мс)=100\r\n"
                        "Коэф. обучения соседних РТ=\r\nИнтервал обучения соседних РТ=\r\n"
                        "Датчик кислорода=УДК\r\nПрошивка по умолчанию=demo.bin\r\n"
                        "Загрузить прошивку по умолчанию=да\r\n" +
                        extra);
    }

    // The learnable cell (throttle above "Не настраивать ниже %") whose
    // mixture is furthest from lambda 1 with the image's corrections.
    std::pair<int, int> WorstCell() const {
        std::pair<int, int> worst{2, 0};
        double error = 0;
        for (int c = 2; c < 16; ++c)
            for (int r = 0; r < 16; ++r)
                if (const double e = std::fabs(simulator->TrueLambdaAtCell(c, r) - 1); e > error) {
                    error = e;
                    worst = {c, r};
                }
        return worst;
    }

    // "config.ini" with these lines, CP1251 on disk as a user's would be.
    void WriteConfigText(const std::string& utf8) {
        std::string bytes, error;
        platform::Utf8ToCp1251(utf8, bytes);
        ASSERT_TRUE(platform::WriteFileAtomically((dir / "config.ini").string(), bytes, error))
            << error;
    }

    // The window on the folder, shown, its start-up done. The LC-1's byte
    // time-out is short so a silent sensor shows quickly.
    std::unique_ptr<app::TForm1> Open() {
        app::FormEnvironment env;
        env.dialogs = &dialogs;
        env.workDir = dir.string();
        env.lambdaReadTimeoutMs = 100;
        auto form = std::make_unique<app::TForm1>(env);
        form->show();
        QApplication::processEvents();
        return form;
    }

    // The window's state label, "Диагностика" once a session stands.
    static QString StateText(const app::TForm1& form) {
        return Part<QLabel>(form, "Label6")->text();
    }
    static bool WaitUntilLive(const app::TForm1& form, int ms = 10000) {
        return QTest::qWaitFor([&] { return StateText(form) == "Диагностика"; }, ms);
    }
};

}  // namespace korvane::test
