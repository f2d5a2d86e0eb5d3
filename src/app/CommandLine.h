// What the command line asks for: the window (with Qt's own options such as
// "-platform"), the analysis of a log without a window, the usage or the
// version.
#pragma once
#include <string>
#include <vector>

namespace korvane::app {

enum class CommandLineAction { Window, Analyze, Help, Version };

// `args` without the program name.
CommandLineAction ParseCommandLine(const std::vector<std::string>& args);
// The usage printed by "--help".
std::string UsageText();
// "korvane 1.45.4".
std::string VersionText();

}  // namespace korvane::app
