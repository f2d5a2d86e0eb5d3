#include "app/Session.h"

#include <cstdio>

namespace korvane::app {

std::string DateDirName(const std::tm& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%02d-%02d.%02d.%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string ScreenshotPath(const std::string& dateDir, int number) {
    return dateDir + "/pic/screenshot_" + std::to_string(number) + ".jpg";
}

}  // namespace korvane::app
