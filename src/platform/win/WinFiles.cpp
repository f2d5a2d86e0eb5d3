// The wide-character file reading of the platform layer.
#include <windows.h>

#include "platform/TextCodec.h"
#include "platform/win/WinText.h"

namespace korvane::platform {

namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

bool IsFolder(const std::wstring& path) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

}  // namespace korvane::platform
