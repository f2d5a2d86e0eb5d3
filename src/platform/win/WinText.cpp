#include "platform/win/WinText.h"

#include <windows.h>

#include <cstring>

namespace korvane::platform::win {

namespace {

constexpr UINT kCp1251 = 1251;

bool ToWide(UINT codePage, const std::string& in, std::wstring& out) {
    out.clear();
    if (in.empty()) return true;
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(),
                                        static_cast<int>(in.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(),
                                 static_cast<int>(in.size()), out.data(), n) == n;
}

bool FromWide(UINT codePage, const std::wstring& in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    // UTF-8 refuses lone surrogates itself; a single-byte page must be told
    // to report characters it lacks instead of writing "?".
    BOOL usedDefault = FALSE;
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int n = ::WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()),
                                        nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) return false;
    out.resize(static_cast<size_t>(n));
    return ::WideCharToMultiByte(codePage, flags, in.data(), static_cast<int>(in.size()),
                                 out.data(), n, nullptr, used) == n &&
           !usedDefault;
}

bool Utf16ToWide(const std::string& in, bool bigEndian, std::wstring& out) {
    if (in.size() % 2 != 0) return false;
    out.resize(in.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto hi = static_cast<unsigned char>(in[2 * i + (bigEndian ? 0 : 1)]);
        const auto lo = static_cast<unsigned char>(in[2 * i + (bigEndian ? 1 : 0)]);
        out[i] = static_cast<wchar_t>(hi << 8 | lo);
    }
    // Unpaired surrogates are no text.
    std::string check;
    return FromWide(CP_UTF8, out, check);
}

std::string WideToUtf16(const std::wstring& in, bool bigEndian) {
    std::string out(in.size() * 2, '\0');
    for (size_t i = 0; i < in.size(); ++i) {
        const auto c = static_cast<unsigned>(in[i]);
        out[2 * i + (bigEndian ? 0 : 1)] = static_cast<char>(c >> 8);
        out[2 * i + (bigEndian ? 1 : 0)] = static_cast<char>(c & 0xFF);
    }
    return out;
}

bool Decode(const char* from, const std::string& in, std::wstring& wide) {
    if (std::strcmp(from, "UTF-8") == 0) return ToWide(CP_UTF8, in, wide);
    if (std::strcmp(from, "CP1251") == 0) return ToWide(kCp1251, in, wide);
    if (std::strcmp(from, "UTF-16LE") == 0) return Utf16ToWide(in, false, wide);
    if (std::strcmp(from, "UTF-16BE") == 0) return Utf16ToWide(in, true, wide);
    return false;
}

bool Encode(const char* to, const std::wstring& wide, std::string& out) {
    if (std::strcmp(to, "UTF-8") == 0) return FromWide(CP_UTF8, wide, out);
    if (std::strcmp(to, "CP1251") == 0) return FromWide(kCp1251, wide, out);
    if (std::strcmp(to, "UTF-16LE") == 0 || std::strcmp(to, "UTF-16BE") == 0) {
        std::string check;
        if (!FromWide(CP_UTF8, wide, check)) return false;
        out = WideToUtf16(wide, std::strcmp(to, "UTF-16BE") == 0);
        return true;
    }
    return false;
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                              n);
    return out;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                              nullptr, nullptr);
    return out;
}

bool ConvertCodePage(const char* to, const char* from, const std::string& in, std::string& out) {
    std::wstring wide;
    if (!Decode(from, in, wide)) return false;
    std::string converted;
    if (!Encode(to, wide, converted)) return false;
    out = std::move(converted);
    return true;
}

std::string ErrorReason(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "нет такого файла или папки";
        case ERROR_ACCESS_DENIED:
            return "нет прав доступа";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "файл занят другой программой";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "нет места на диске";
        case ERROR_WRITE_PROTECT:
            return "диск защищён от записи";
        case ERROR_FILENAME_EXCED_RANGE:
            return "слишком длинное имя";
        case ERROR_INVALID_NAME:
            return "недопустимое имя файла";
        case ERROR_DIRECTORY:
            return "это папка, а не файл";
        case ERROR_BAD_COMMAND:
        case ERROR_INVALID_PARAMETER:
            return "недопустимый аргумент";
        default:
            break;
    }
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (n > 0 && text != nullptr) {
        reason = Narrow(std::wstring(text, n));
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                                   reason.back() == ' ' || reason.back() == '.'))
            reason.pop_back();
    }
    if (text != nullptr) ::LocalFree(text);
    if (reason.empty()) reason = "системная ошибка " + std::to_string(code);
    return reason;
}

}  // namespace korvane::platform::win
