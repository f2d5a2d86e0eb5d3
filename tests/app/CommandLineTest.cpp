// What the command line asks for: only "--help" and "--version" keep the
// window shut; Qt's own options still open it.
#include <gtest/gtest.h>

#include "app/CommandLine.h"

using namespace korvane::app;

TEST(CommandLine, ChoosesTheAction) {
    using A = CommandLineAction;
    const std::pair<std::vector<std::string>, A> cases[] = {
        {{}, A::Window},
        {{"-platform", "offscreen"}, A::Window},
        {{"analyze", "лог.xls", "ecu.bin", "-o", "new.bin"}, A::Analyze},
        // "--help" after "analyze" belongs to the analysis, which prints its
        // own usage.
        {{"analyze", "--help"}, A::Analyze},
        {{"--help"}, A::Help},
        {{"-h"}, A::Help},
        {{"-platform", "xcb", "--help"}, A::Help},
        {{"--version"}, A::Version},
        {{"--version", "--help"}, A::Help},
    };
    for (const auto& [args, action] : cases) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(ParseCommandLine(args), action) << joined;
    }
}

TEST(CommandLine, TheUsageNamesTheWindowTheAnalysisAndTheOptions) {
    const std::string usage = UsageText();
    for (const char* part : {"korvane [параметры Qt]", "korvane analyze ЛОГ ПРОШИВКА -o НОВАЯ.bin",
                             "--help", "--version", "config.ini"})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    EXPECT_EQ(VersionText(), "korvane 1.45.4\n");
}
