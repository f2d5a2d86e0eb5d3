#include "platform/TextCodec.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace korvane::platform {

namespace {

bool Convert(const char* to, const char* from, const std::string& in, std::string& out) {
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

bool ReadBinaryFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) {
        error = "ошибка чтения";
        return false;
    }
    bytes = ss.str();
    return true;
}

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
        case TextEncoding::Cp1251: break;
        case TextEncoding::Utf8: target = "UTF-8"; break;
        case TextEncoding::Utf8Bom: target = "UTF-8"; bytes = "\xEF\xBB\xBF"; break;
        case TextEncoding::Utf16LE: target = "UTF-16LE"; bytes = "\xFF\xFE"; break;
        case TextEncoding::Utf16BE: target = "UTF-16BE"; bytes = "\xFE\xFF"; break;
    }
    for (size_t i = 0; i < file.lines.size(); ++i) {
        std::string encoded;
        if (!Convert(target, "UTF-8", file.lines[i] + "\r\n", encoded)) {
            error = "строка " + std::to_string(i + 1) + " содержит символы, которых нет в кодировке файла";
            return false;
        }
        bytes += encoded;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool WriteTextFile(const std::string& path, const TextFile& file, std::string& error) {
    std::string bytes;
    if (!EncodeText(file, bytes, error)) return false;
    return WriteFileAtomically(path, bytes, error);
}

}  // namespace korvane::platform
