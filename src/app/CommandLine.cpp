#include "app/CommandLine.h"

#ifndef KORVANE_VERSION
#error "KORVANE_VERSION comes from the build"
#endif

namespace korvane::app {

CommandLineAction ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) return CommandLineAction::Window;
    const std::string& first = args.front();
    if (first == "analyze") return CommandLineAction::Analyze;
    // Asked for anywhere, the usage wins: nothing is opened for it.
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h" || arg == "-?") return CommandLineAction::Help;
    for (const std::string& arg : args)
        if (arg == "--version" || arg == "-v") return CommandLineAction::Version;
    return CommandLineAction::Window;
}

std::string UsageText() {
    return "Использование:\n"
           "  korvane [параметры Qt]\n"
           "      Окно программы. Работает в текущей папке: там «config.ini», папки\n"
           "      сеансов с логами, копиями прошивки и журналом. Параметры Qt, например\n"
           "      «-platform offscreen», передаются Qt.\n"
           "  korvane analyze ЛОГ ПРОШИВКА -o НОВАЯ.bin\n"
           "      Без окна: поправка и БЦН по записанному логу («лог.xls» или\n"
           "      «лог2-CSV.csv») и прошивке, что была в ECU при записи; новая прошивка\n"
           "      записывается в НОВАЯ.bin. Настройки обучения берутся из «config.ini»\n"
           "      текущей папки, если он есть.\n"
           "  korvane --help      эта справка\n"
           "  korvane --version   версия программы\n";
}

std::string VersionText() {
    return std::string("korvane ") + KORVANE_VERSION + "\n";
}

}  // namespace korvane::app
