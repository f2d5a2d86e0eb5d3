#pragma once
// The map editor's panel in a window of its own: a worker whose thread is not
// started, a plain engine timer, the simulator's demo image with its map
// written to a fresh folder, and the window's callbacks recording what the
// panel asked for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "maps/ui/CalibrationPanel.h"
#include "sim/Firmware.h"
#include "tests/support/RecordingEcu.h"

namespace korvane::test {

class PanelFixture : public ::testing::Test {
  protected:
    // prefix: the temporary folder's name, one per test file.
    explicit PanelFixture(std::string prefix) : prefix_(std::move(prefix)) {}

    std::filesystem::path dir;
    RecordingEcu worker;
    // The image's changes as its store was told of them (the ECU's RAM
    // follows those; the panel posts nothing itself).
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> stored;
    std::vector<uint8_t> image = sim::MakeSyntheticFirmware(1);
    QWidget window;
    QTabWidget* pages = nullptr;
    QWidget* tablePanel = nullptr;
    QTimer engineTimer;
    QStringList log, errors, answers;
    std::map<std::string, std::string> settings;
    int saves = 0;
    bool connected = true;  // false: at the desk, no connection
    int deskEdits = 0;
    std::vector<bool> viewShown;
    maps::CalibrationPanel* panel = nullptr;

    void SetUp() override {
        static int n = 0;
        dir = std::filesystem::temp_directory_path() /
              (prefix_ + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "demo.xml", std::ios::binary) << sim::MakeDemoMapCp1251(image);
        window.resize(964, 523);
        tablePanel = new QWidget(&window);
        tablePanel->setGeometry(0, 0, 715, 476);
        pages = new QTabWidget(tablePanel);
        pages->setGeometry(0, 205, 715, 271);
        for (const char* page : {"Системные", "Данные", "График"})
            pages->addTab(new QWidget(pages), QString::fromUtf8(page));
        maps::CalibrationPanel::Window w;
        w.ecu = &worker;
        w.engineTimer = &engineTimer;
        w.image = [this] { return maps::ImageBytes(image.data(), maps::kImageSize); };
        w.store = [this](uint16_t address, std::span<const uint8_t> bytes) {
            std::copy(bytes.begin(), bytes.end(), image.begin() + address);
            stored.emplace_back(address, std::vector<uint8_t>(bytes.begin(), bytes.end()));
        };
        w.log = [this](const QString& line) { log << line; };
        w.showError = [this](const QString& text) { errors << text; };
        w.askOpenFile = [this](const QString&, const QString&) {
            return answers.isEmpty() ? QString() : answers.takeFirst();
        };
        w.setting = [this](const char* key) { return settings[key]; };
        w.setSetting = [this](const char* key, const std::string& v) { settings[key] = v; };
        w.saveImage = [this] { ++saves; };
        w.connected = [this] { return connected; };
        w.imageEdited = [this] { ++deskEdits; };
        w.mapViewShown = [this](bool shown) { viewShown.push_back(shown); };
        w.runGuarded = [](std::function<void()> step) { step(); };
        w.connectTimer = [this](QTimer* t, std::function<void()> f) {
            QObject::connect(t, &QTimer::timeout, &window, std::move(f));
        };
        w.decimalSeparator = '.';
        panel = new maps::CalibrationPanel(w, pages, tablePanel, &window);
        panel->setGeometry(718, 32, 243, 475);
        window.show();
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Loads a map through the panel's own button and its open dialog.
    void Load(const std::filesystem::path& map) {
        answers << QString::fromStdString(map.string());
        panel->MapButton->click();
        ASSERT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
    }

  private:
    std::string prefix_;
};

}  // namespace korvane::test
