#include "platform/TextCodec.h"

#ifdef _WIN32
#include "platform/win/WinText.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace korvane::platform {

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
#ifdef _WIN32
    return win::ConvertCodePage(to, from, in, out);
#else
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    std::string buf(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = buf.data();
    size_t dstLeft = buf.size();
    size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    bool ok = r != static_cast<size_t>(-1) && srcLeft == 0;
    if (ok) ok = ::iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    ::iconv_close(cd);
    if (!ok) return false;
    out.assign(buf.data(), buf.size() - dstLeft);
    return true;
#endif
}

bool HasNonAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

}  // namespace

bool Cp1251ToUtf8(const std::string& in, std::string& out) {
    return Convert("UTF-8", "CP1251", in, out);
}

bool Utf8ToCp1251(const std::string& in, std::string& out) {
    return Convert("CP1251", "UTF-8", in, out);
}

TextReadResult DecodeText(const std::string& bytes) {
    TextReadResult r;
    std::string utf8;
    auto starts = [&](const char* mark, size_t n) {
        return bytes.size() >= n && std::memcmp(bytes.data(), mark, n) == 0;
    };
    bool ok = true;
    if (starts("\xEF\xBB\xBF", 3)) {
        r.file.encoding = TextEncoding::Utf8Bom;
        ok = Convert("UTF-8", "UTF-8", bytes.substr(3), utf8);
    } else if (starts("\xFF\xFE", 2)) {
        r.file.encoding = TextEncoding::Utf16LE;
        ok = Convert("UTF-8", "UTF-16LE", bytes.substr(2), utf8);
    } else if (starts("\xFE\xFF", 2)) {
        r.file.encoding = TextEncoding::Utf16BE;
        ok = Convert("UTF-8", "UTF-16BE", bytes.substr(2), utf8);
    } else if (HasNonAscii(bytes) && Convert("UTF-8", "UTF-8", bytes, utf8)) {
        r.file.encoding = TextEncoding::Utf8;
    } else {
        r.file.encoding = TextEncoding::Cp1251;
        ok = Cp1251ToUtf8(bytes, utf8);
    }
    if (!ok) {
        r.error = "текст не читается в своей кодировке";
        return r;
    }
    r.file.lines = SplitLines(utf8);
    r.ok = true;
    return r;
}

// The files themselves go through the wide-character calls on Windows
// (platform/win/WinFiles.cpp).
#ifndef _WIN32
bool ReadBinaryFile(const std::string& path, std::string& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = SystemReason(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        // A folder opens like a file but reads as nothing: never take it
        // for an empty file.
        error = SystemReason(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return false;
    }
    bytes.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = SystemReason(errno);
            ::close(fd);
            return false;
        }
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}
#endif

TextReadResult ReadTextFile(const std::string& path) {
    std::string bytes, error;
    if (!ReadBinaryFile(path, bytes, error)) {
        TextReadResult r;
        r.error = error;
        return r;
    }
    return DecodeText(bytes);
}

bool EncodeText(const TextFile& file, std::string& bytes, std::string& error) {
    bytes.clear();
    const char* target = "CP1251";
    switch (file.encoding) {
        case TextEncoding::Cp1251:
            break;
        case TextEncoding::Utf8:
            target = "UTF-8";
            break;
        case TextEncoding::Utf8Bom:
            target = "UTF-8";
            bytes = "\xEF\xBB\xBF";
            break;
        case TextEncoding::Utf16LE:
            target = "UTF-16LE";
            bytes = "\xFF\xFE";
            break;
        case TextEncoding::Utf16BE:
            target = "UTF-16BE";
            bytes = "\xFE\xFF";
            break;
    }
    for (size_t i = 0; i < file.lines.size(); ++i) {
        std::string encoded;
        if (!Convert(target, "UTF-8", file.lines[i] + "\r\n", encoded)) {
            error = "строка " + std::to_string(i + 1) +
                    " содержит символы, которых нет в кодировке файла";
            return false;
        }
        bytes += encoded;
    }
    return true;
}

std::string SystemReason(int err) {
    switch (err) {
        case ENOENT:
            return "нет такого файла или папки";
        case EACCES:
        case EPERM:
            return "нет прав доступа";
        case EISDIR:
            return "это папка, а не файл";
        case ENOTDIR:
            return "часть пути не является папкой";
        case EROFS:
            return "файловая система только для чтения";
        case ENOSPC:
            return "нет места на диске";
#ifdef EDQUOT
        case EDQUOT:
            return "превышена квота диска";
#endif
        case EBUSY:
            return "устройство или файл заняты";
        case EEXIST:
            return "файл уже существует";
        case ENAMETOOLONG:
            return "слишком длинное имя";
        case EMFILE:
        case ENFILE:
            return "открыто слишком много файлов";
        case EIO:
            return "ошибка ввода-вывода";
        case ENXIO:
        case ENODEV:
            return "нет такого устройства";
        case ENOTTY:
            return "это не последовательный порт";
        case EINVAL:
            return "недопустимый аргумент";
        default:
            return std::strerror(err);
    }
}

bool WriteTextFile(const std::string& path, const TextFile& file, std::string& error) {
    std::string bytes;
    if (!EncodeText(file, bytes, error)) return false;
    return WriteFileAtomically(path, bytes, error);
}

namespace {

// Decodes one UTF-8 code point at s[i] and advances i; bytes that are not
// valid UTF-8 stand for themselves.
char32_t NextCodePoint(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    const size_t extra = (c >= 0xF0) ? 3 : (c >= 0xE0) ? 2 : (c >= 0xC0) ? 1 : 0;
    if (extra == 0 || i + extra >= s.size()) {
        ++i;
        return c;
    }
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += extra + 1;
    return cp;
}

char32_t Fold(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 32;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;  // А..Я
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;  // Ѐ..Џ, Ё among them
    if (c == 0x490) return 0x491;                   // Ґ
    return c;
}

}  // namespace

bool SameKeyText(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (Fold(NextCodePoint(a, i)) != Fold(NextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

}  // namespace korvane::platform
