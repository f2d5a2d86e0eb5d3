// Names of what a connection leaves on disk.
#pragma once
#include <ctime>
#include <string>

namespace korvane::app {

// "dd.mm.yy-hh.mm.ss" of the given local time.
std::string DateDirName(const std::tm& localTime);
// dateDir + "/pic/screenshot_" + n + ".jpg"
std::string ScreenshotPath(const std::string& dateDir, int number);

}  // namespace korvane::app
