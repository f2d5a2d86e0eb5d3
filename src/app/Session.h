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

namespace korvane::app {

// "korvane.lock" in the working folder holds the process id of the Korvane
// that works there. Takes the lock and returns 0, or returns the id of
// another running process that holds it (the lock is then left alone). A
// lock whose process is gone is taken over.
long TakeFolderLock(const std::string& workDir);
// Removes the lock if it is this process's own.
void ReleaseFolderLock(const std::string& workDir);

}  // namespace korvane::app
