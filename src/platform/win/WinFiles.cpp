#include "platform/win/WinFiles.h"

#include <windows.h>

#include <atomic>
#include <chrono>

#include "platform/TextCodec.h"
#include "platform/win/WinText.h"

namespace korvane::platform {

namespace win {

bool ReplaceFileDurably(const std::string& from, const std::string& to, std::string& error) {
    if (!::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ErrorReason(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace win

namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    bool Close() {
        const bool ok = ::CloseHandle(h) != 0;
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
};

bool IsFolder(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "<name>.XXXXXX" next to the target, six letters or digits, like the
// temporary files of the other systems.
std::string TempNameFor(const std::string& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    unsigned long long x = ticks ^
                           (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                           (static_cast<unsigned long long>(counter++) << 16) ^ attempt;
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        suffix += kChars[(x >> 33) % 62];
    }
    return target + "." + suffix;
}

}  // namespace

bool ReadBinaryFile(const std::string& path, std::string& bytes, std::string& error) {
    const std::wstring wide = win::Widen(path);
    if (IsFolder(wide)) {
        error = SystemReason(EISDIR);
        return false;
    }
    Handle f;
    f.h = ::CreateFileW(wide.c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f.h == INVALID_HANDLE_VALUE) {
        error = win::ErrorReason(::GetLastError());
        return false;
    }
    bytes.clear();
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(f.h, buf, sizeof buf, &n, nullptr)) {
            error = win::ErrorReason(::GetLastError());
            return false;
        }
        if (n == 0) break;
        bytes.append(buf, n);
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    const std::wstring target = win::Widen(path);
    const DWORD attrs = ::GetFileAttributesW(target.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
            error = SystemReason(EISDIR);
            return false;
        }
        // A file the user made read-only is refused, not silently replaced.
        if (attrs & FILE_ATTRIBUTE_READONLY) {
            error = SystemReason(EACCES);
            return false;
        }
    }
    std::string tmp;
    Handle f;
    for (unsigned attempt = 0; attempt < 100 && f.h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = TempNameFor(path, attempt);
        f.h = ::CreateFileW(win::Widen(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f.h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (f.h == INVALID_HANDLE_VALUE) {
        error = win::ErrorReason(::GetLastError());
        return false;
    }
    auto fail = [&](DWORD code) {
        error = win::ErrorReason(code);
        if (f.h != INVALID_HANDLE_VALUE) f.Close();
        ::DeleteFileW(win::Widen(tmp).c_str());
        return false;
    };
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!::WriteFile(f.h, bytes.data() + done, chunk, &n, nullptr))
            return fail(::GetLastError());
        done += n;
    }
    if (!::FlushFileBuffers(f.h)) return fail(::GetLastError());
    if (!f.Close()) return fail(::GetLastError());
    if (!win::ReplaceFileDurably(tmp, path, error)) {
        ::DeleteFileW(win::Widen(tmp).c_str());
        return false;
    }
    return true;
}

}  // namespace korvane::platform
