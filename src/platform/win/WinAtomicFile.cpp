#include <windows.h>
// windows.h first: io.h's _open_osfhandle needs its types.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/AtomicFileSystem.h"
#include "platform/TextCodec.h"
#include "platform/win/WinText.h"

namespace korvane::platform::atomicfs {

namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    HANDLE Release() {
        const HANDLE r = h;
        h = INVALID_HANDLE_VALUE;
        return r;
    }
};

std::time_t ToTime(const FILETIME& ft) {
    // 100 ns ticks since 1601 to seconds since 1970.
    const unsigned long long ticks =
        (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr unsigned long long kEpochDiff = 116444736000000000ULL;
    return ticks < kEpochDiff ? 0 : static_cast<std::time_t>((ticks - kEpochDiff) / 10000000ULL);
}

}  // namespace

// Links on Windows need rights a user rarely has; a save through one
// replaces the link itself.
std::string ResolveLinks(const std::string& path) {
    return path;
}

bool CheckTarget(const std::string& target, unsigned& /*mode*/, std::string& error) {
    const DWORD attrs = ::GetFileAttributesW(win::Widen(target).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return true;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        error = SystemReason(EISDIR);
        return false;
    }
    if (attrs & FILE_ATTRIBUTE_READONLY) {
        error = SystemReason(EACCES);
        return false;
    }
    return true;
}

NewFile ReplaceWithNewFile(const std::string& tmp, const std::string& target,
                           const std::string& bytes, unsigned /*mode*/, int* keepOpen,
                           std::string& error) {
    const std::wstring wideTmp = win::Widen(tmp);
    Handle f;
    // Shared for deleting so that the file can be renamed while it stays
    // open for the live logs; not inherited by child processes.
    f.h = ::CreateFileW(wideTmp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f.h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFile::NameTaken;
        error = win::ErrorReason(code);
        return NewFile::Failed;
    }
    auto fail = [&](DWORD code) {
        error = win::ErrorReason(code);
        if (f.h != INVALID_HANDLE_VALUE) ::CloseHandle(f.Release());
        ::DeleteFileW(wideTmp.c_str());
        return NewFile::Failed;
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
    if (!keepOpen && !::CloseHandle(f.Release())) return fail(::GetLastError());
    if (!::MoveFileExW(wideTmp.c_str(), win::Widen(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(::GetLastError());
    if (keepOpen) {
        // The C library's descriptor takes the handle over; every write
        // goes to the end.
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(f.h), _O_APPEND | _O_BINARY);
        if (fd < 0) {
            // The new content is in place already; only the descriptor for
            // the lines to come is missing.
            error = SystemReason(EMFILE);
            return NewFile::Failed;
        }
        f.Release();
        *keepOpen = fd;
    }
    return NewFile::Replaced;
}

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessGone(long pid) {
    if (pid <= 0) return true;
    Handle p;
    p.h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!p.h) {
        p.h = INVALID_HANDLE_VALUE;
        // Another user's process that we may not look at is still alive.
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    }
    DWORD code = 0;
    return ::GetExitCodeProcess(p.h, &code) && code != STILL_ACTIVE;
}

// A user's own folders hold only their files, so every plain file counts as
// theirs; folders and reparse points (links, junctions) never do.
std::vector<PlainFile> OwnPlainFiles(const std::string& folder) {
    std::vector<PlainFile> files;
    std::wstring pattern = win::Widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        files.push_back({win::Narrow(data.cFileName), ToTime(data.ftLastWriteTime)});
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return files;
}

void RemoveFile(const std::string& path) {
    ::DeleteFileW(win::Widen(path).c_str());
}

}  // namespace korvane::platform::atomicfs
