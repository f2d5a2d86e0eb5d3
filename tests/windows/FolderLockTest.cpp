// The lock file of a running instance on Windows: process ids and whether
// the process still runs come from the system's process calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "app/Session.h"
#include "platform/TextCodec.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& p) {
    const auto s = p.u8string();
    return std::string(s.begin(), s.end());
}

std::string LockText(const std::string& dir) {
    std::string text, error;
    platform::ReadBinaryFile(dir + "/korvane.lock", text, error);
    return text;
}

}  // namespace

TEST(FolderLock, RunningHolderKeepsItAndAGoneOneIsTakenOver) {
    fs::path folder = fs::temp_directory_path() / fs::path(u8"korvane_замок_");
    folder += std::to_wstring(::GetCurrentProcessId());
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string dir = Utf8(folder);
    const std::string self = std::to_string(::GetCurrentProcessId()) + "\n";
    std::string error;

    EXPECT_EQ(app::TakeFolderLock(dir), 0);
    EXPECT_EQ(LockText(dir), self);
    EXPECT_EQ(app::TakeFolderLock(dir), 0);  // our own lock again

    // Another program that runs: a copy of this one, held suspended.
    wchar_t exe[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(exe, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                 nullptr, &si, &pi));
    const std::string other = std::to_string(pi.dwProcessId) + "\n";
    ASSERT_TRUE(platform::WriteFileAtomically(dir + "/korvane.lock", other, error)) << error;
    EXPECT_EQ(app::TakeFolderLock(dir), static_cast<long>(pi.dwProcessId));
    EXPECT_EQ(LockText(dir), other);
    app::ReleaseFolderLock(dir);  // not ours: stays
    EXPECT_EQ(LockText(dir), other);

    // Once it has ended the lock is taken over.
    ::TerminateProcess(pi.hProcess, 1);
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    EXPECT_EQ(app::TakeFolderLock(dir), 0);
    EXPECT_EQ(LockText(dir), self);
    app::ReleaseFolderLock(dir);
    EXPECT_FALSE(fs::exists(folder / "korvane.lock"));
    fs::remove_all(folder);
}
