// Program entry: the application, the main window, the message loop; or,
// with "analyze" as the first argument, tuning from a log without a window;
// or the usage or the version.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/MainForm.h"
#include "app/SettingsStore.h"
#include "logs/LogAnalysis.h"

namespace {

// The tuning settings come from "config.ini" in the current folder when it
// is there, as for the window; the built-in lines otherwise.
int Analyze(int argc, char** argv) {
    korvane::app::SettingsStore settings;
    std::string error;
    if (::access("config.ini", F_OK) == 0 && !settings.Load("config.ini", error))
        std::fprintf(stderr, "«config.ini»: %s; используются настройки по умолчанию.\n",
                     error.c_str());
    std::vector<std::string> args(argv + 2, argv + argc);
    std::string out, err;
    const int code = korvane::logs::RunAnalyzeCommand(
        args, [&settings](const std::string& key) { return settings.SettingValue(key); }, out, err);
    std::fputs(out.c_str(), stdout);
    std::fputs(err.c_str(), stderr);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    using korvane::app::CommandLineAction;
    switch (korvane::app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc))) {
        case CommandLineAction::Analyze:
            return Analyze(argc, argv);
        case CommandLineAction::Help:
            std::fputs(korvane::app::UsageText().c_str(), stdout);
            return 0;
        case CommandLineAction::Version:
            std::fputs(korvane::app::VersionText().c_str(), stdout);
            return 0;
        case CommandLineAction::Window:
            break;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    korvane::app::InstallRussianTranslations(app);
    korvane::app::TForm1 form;
    form.show();
    return QApplication::exec();
}
