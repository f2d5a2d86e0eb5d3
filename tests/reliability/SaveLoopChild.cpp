// Saves one kind of file into the folder given, again and again, each save a
// new complete version, until it is killed:
//   korvane_save_loop config FOLDER   "config.ini" through the settings store
//   korvane_save_loop image FOLDER    the image copy through the image saver
//   korvane_save_loop logs FOLDER     a line at a time into the live logs
// Version n of config.ini has every value set to n (its lines are the
// built-in ones and 3000 more, "Строка k"); version n of the image
// has every byte set to n. The versions differ in length where the format
// allows, so a torn file cannot pass for a whole one. Line n of the live
// logs shows row r of the grid as "n,r" (LogRowsFor in SaveLoop.h).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/SettingsStore.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ImageSaver.h"
#include "live/LiveLogs.h"
#include "tests/reliability/SaveLoop.h"

namespace {

constexpr int kExtraConfigLines = 3000;

int SaveConfigs(const std::string& folder) {
    using korvane::app::SettingsStore;
    SettingsStore store;
    // A long file, so a kill lands within the writing of its bytes often.
    for (int k = 0; k < kExtraConfigLines; ++k)
        store.AppendLine("Строка " + std::to_string(k) + "=");
    const std::string path = folder + "/config.ini";
    for (unsigned n = 1;; ++n) {
        // Cyrillic and a length that varies with n.
        std::string value = std::to_string(n);
        for (unsigned k = 0; k < n % 50; ++k) value += "Ж";
        for (size_t i = 0; i < store.Count(); ++i) store.SetValueAt(i, value);
        std::string error;
        if (!store.Save(path, error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
    }
}

int SaveImages(const std::string& folder) {
    using namespace korvane::firmware;
    auto image = std::make_unique<FirmwareImage>();
    ImageSaver saver;
    for (unsigned n = 1;; ++n) {
        for (auto& b : image->Bytes()) b = static_cast<uint8_t>(n);
        const SaveOutcome out = saver.Save(image->Bytes(), folder, "j5ls.bin");
        if (out.kind == SaveOutcome::kFailed) {
            std::fprintf(stderr, "%s: %s\n", out.path.c_str(), out.error.c_str());
            return 1;
        }
    }
}

int AppendLogLines(const std::string& folder) {
    korvane::live::LiveLogs logs([](const std::string& problem) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        std::exit(1);
    });
    logs.Start(folder);
    for (int n = 1;; ++n) logs.AppendLine(korvane::reliability::LogRowsFor(n), n, folder);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "config") return SaveConfigs(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "image") return SaveImages(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "logs") return AppendLogLines(argv[2]);
    std::fprintf(stderr, "usage: %s config|image|logs FOLDER\n", argv[0]);
    return 2;
}
