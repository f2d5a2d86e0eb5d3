#include "app/Session.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <process.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/NumberText.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

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

namespace {

std::string LockPath(const std::string& workDir) {
    return workDir + "/korvane.lock";
}

long LockHolder(const std::string& path) {
    std::string text, error;
    if (!platform::ReadBinaryFile(path, text, error)) return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const auto pid = platform::ParseInteger(text);
    if (!pid || *pid <= 0 || *pid > INT32_MAX) return 0;
    return static_cast<long>(*pid);
}

bool Running(long pid) {
#ifdef _WIN32
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool alive = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return alive;
#else
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

}  // namespace

long TakeFolderLock(const std::string& workDir) {
    const std::string path = LockPath(workDir);
    const long holder = LockHolder(path);
    if (holder != 0 && holder != ::getpid() && Running(holder)) return holder;
    std::string error;
    platform::WriteFileAtomically(path, std::to_string(::getpid()) + "\n", error);
    return 0;
}

void ReleaseFolderLock(const std::string& workDir) {
    const std::string path = LockPath(workDir);
    if (LockHolder(path) != ::getpid()) return;
    std::error_code ec;
    std::filesystem::remove(platform::Utf8Path(path), ec);
}

}  // namespace korvane::app
