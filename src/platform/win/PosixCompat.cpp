#include "platform/win/PosixCompat.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/win/WinText.h"

int mkostemp(char* pathTemplate, int flags) {
    const size_t len = std::strlen(pathTemplate);
    if (len < 6 || std::strcmp(pathTemplate + len - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return -1;
    }
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    LARGE_INTEGER seed{};
    ::QueryPerformanceCounter(&seed);
    unsigned long long x = static_cast<unsigned long long>(seed.QuadPart) ^
                           (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^
                           ::GetCurrentThreadId();
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = len - 6; i < len; ++i) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            pathTemplate[i] = kChars[(x >> 33) % 62];
        }
        const std::wstring wide = korvane::platform::win::Widen(pathTemplate);
        const int fd = ::_wopen(wide.c_str(), flags | _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY,
                                _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

char* realpath(const char* path, char* resolved) {
    wchar_t full[PATH_MAX];
    const std::wstring wide = korvane::platform::win::Widen(path);
    if (::_wfullpath(full, wide.c_str(), PATH_MAX) == nullptr) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    const DWORD attrs = ::GetFileAttributesW(full);
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return nullptr;
    }
    std::string narrow = korvane::platform::win::Narrow(full);
    // The rest of the program splits paths at "/".
    for (char& c : narrow)
        if (c == '\\') c = '/';
    if (narrow.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    std::memcpy(resolved, narrow.c_str(), narrow.size() + 1);
    return resolved;
}
