#include "logs/LogReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

#include "live/LiveLogs.h"

namespace korvane::logs {

namespace {

constexpr size_t kChunk = 1 << 20;
// No line of ours comes near this; longer means the file is something else,
// and the carry-over between pieces stays small.
constexpr size_t kMaxLineBytes = 16 << 10;
constexpr float kEmpty = std::numeric_limits<float>::quiet_NaN();

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (i + extra >= s.size() && extra > 0) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += extra + 1;
    }
    return true;
}

std::vector<std::string> Split(std::string_view line, char sep) {
    std::vector<std::string> out;
    size_t at = 0;
    for (;;) {
        const size_t next = line.find(sep, at);
        out.emplace_back(line.substr(at, next == std::string_view::npos ? line.npos : next - at));
        if (next == std::string_view::npos) return out;
        at = next + 1;
    }
}

// One number as the logs write it: digits with a decimal separator (either
// one in the TAB file, a point in the CSV) and an optional exponent. An
// infinity, a NaN or a value beyond the float range is no reading: the
// conversion would be undefined and the views would have to scale it.
// `why` says what is wrong when false.
bool ParseField(std::string_view field, bool commaAllowed, float& out, const char*& why) {
    why = "не число";
    if (field.empty()) {
        out = kEmpty;
        return true;
    }
    char buf[64];
    if (field.size() >= sizeof buf) return false;
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == ',' && commaAllowed) c = '.';
        buf[i] = c;
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(buf, buf + field.size(), v);
    if (ec == std::errc::result_out_of_range) {
        why = "вне пределов числа";
        return false;
    }
    if (ec != std::errc() || end != buf + field.size() || !std::isfinite(v)) return false;
    if (std::fabs(v) > std::numeric_limits<float>::max()) {
        why = "вне пределов числа";
        return false;
    }
    out = static_cast<float>(v);
    return true;
}

std::string LineText(size_t line) {
    return "строка " + std::to_string(line);
}

}  // namespace

int LogData::ColumnOf(std::string_view caption) const {
    for (size_t i = 0; i < captions_.size(); ++i)
        if (captions_[i] == caption) return static_cast<int>(i);
    return -1;
}

// Takes the bytes piece by piece; lines are handled as soon as their end is
// in, so only a part of one line is ever carried over.
class LogParser {
  public:
    explicit LogParser(std::string name) : name_(std::move(name)) {}

    bool Feed(std::string_view bytes) {
        size_t at = 0;
        while (at < bytes.size()) {
            const size_t end = bytes.find('\n', at);
            if (end == std::string_view::npos) {
                carry_.append(bytes.substr(at));
                if (carry_.size() > kMaxLineBytes)
                    return Fail(lineNo_ + 1, "строка слишком длинная, это не лог");
                return true;
            }
            std::string_view line = bytes.substr(at, end - at);
            at = end + 1;
            if (!carry_.empty()) {
                carry_.append(line);
                if (!Line(carry_)) return false;
                carry_.clear();
            } else if (!Line(line)) {
                return false;
            }
        }
        return true;
    }

    LogReadResult Finish() {
        LogReadResult r;
        if (!error_.empty()) {
            r.error = error_;
            return r;
        }
        if (!carry_.empty()) {
            std::string_view rest = carry_;
            if (rest.back() == '\r') rest.remove_suffix(1);
            if (!headerDone_) {
                // A header without its line end is a log cut before its
                // first line; still a log.
                if (!Line(rest)) {
                    r.error = error_;
                    return r;
                }
            } else {
                data_.Notes.push_back(LineText(lineNo_ + 1) +
                                      " оборвана (нет конца строки) и пропущена");
            }
        }
        if (!headerDone_) {
            r.error = "«" + name_ + "»: файл пуст, это не лог";
            return r;
        }
        r.ok = true;
        r.data = std::move(data_);
        return r;
    }

  private:
    bool Fail(size_t line, const std::string& what) {
        if (error_.empty()) error_ = "«" + name_ + "», " + LineText(line) + ": " + what + ".";
        return false;
    }

    bool Line(std::string_view line) {
        ++lineNo_;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() > kMaxLineBytes) return Fail(lineNo_, "строка слишком длинная, это не лог");
        if (!headerDone_) return Header(line);
        if (line.empty()) return true;  // a blank line carries nothing
        return Data(line);
    }

    bool Header(std::string_view line) {
        using platform::TextEncoding;
        if (line.starts_with("\xEF\xBB\xBF")) {
            line.remove_prefix(3);
            data_.encoding_ = TextEncoding::Utf8Bom;
        }
        if (line.find('\0') != std::string_view::npos)
            return Fail(lineNo_, "двоичные данные вместо заголовка лога");
        std::string text;
        if (data_.encoding_ == TextEncoding::Utf8Bom) {
            text = line;
        } else if (ValidUtf8(line)) {
            text = line;
            data_.encoding_ = TextEncoding::Utf8;
        } else if (!platform::Cp1251ToUtf8(std::string(line), text)) {
            return Fail(lineNo_, "заголовок не читается ни как UTF-8, ни как CP1251");
        }
        std::string expected;
        if (text.find('\t') != std::string::npos) {
            data_.kind_ = LogKind::Xls;
            sep_ = '\t';
            expected = live::XlsHeaderLine();
        } else {
            data_.kind_ = LogKind::Csv;
            sep_ = ',';
            expected = live::CsvHeaderLine();
        }
        if (text != expected) {
            auto got = Split(text, sep_);
            const auto want = Split(expected, sep_);
            if (got.size() != want.size())
                return Fail(lineNo_, "заголовок не лога: " + std::to_string(got.size()) +
                                         " столбцов вместо " + std::to_string(want.size()));
            for (size_t i = 0; i < want.size(); ++i)
                if (got[i] != want[i])
                    return Fail(lineNo_, "заголовок не лога: столбец " + std::to_string(i + 1) +
                                             " «" + got[i] + "» вместо «" + want[i] + "»");
        }
        data_.captions_ = Split(expected, sep_);
        data_.columns_.assign(data_.captions_.size(), {});
        headerDone_ = true;
        return true;
    }

    bool Data(std::string_view line) {
        const size_t n = data_.columns_.size();
        float values[64];
        size_t at = 0;
        for (size_t col = 0; col < n; ++col) {
            size_t end = line.find(sep_, at);
            const bool last = col + 1 == n;
            if (last != (end == std::string_view::npos)) {
                return Fail(lineNo_, std::to_string(Split(line, sep_).size()) +
                                         " столбцов вместо " + std::to_string(n));
            }
            if (last) end = line.size();
            const std::string_view field = line.substr(at, end - at);
            const char* why = "";
            if (!ParseField(field, data_.kind_ == LogKind::Xls, values[col], why))
                return Fail(lineNo_, "столбец " + std::to_string(col + 1) + " («" +
                                         data_.captions_[col] + "»): «" +
                                         std::string(field.substr(0, 40)) + "» " + why);
            at = end + 1;
        }
        for (size_t col = 0; col < n; ++col) data_.columns_[col].push_back(values[col]);
        return true;
    }

  private:
    std::string name_;
    LogData data_;
    std::string carry_;
    std::string error_;
    size_t lineNo_ = 0;
    bool headerDone_ = false;
    char sep_ = '\t';
};

LogReadResult ParseLog(std::string_view bytes, const std::string& name) {
    LogParser parser(name);
    parser.Feed(bytes);
    return parser.Finish();
}

std::optional<int64_t> SessionFolderTime(std::string_view n) {
    // dd.mm.yy-hh.mm.ss
    if (n.size() != 17) return std::nullopt;
    static constexpr char kShape[] = "00.00.00-00.00.00";
    for (size_t i = 0; i < n.size(); ++i) {
        const bool digit = kShape[i] == '0';
        if (digit != (n[i] >= '0' && n[i] <= '9')) return std::nullopt;
        if (!digit && n[i] != kShape[i]) return std::nullopt;
    }
    auto two = [&](size_t at) { return (n[at] - '0') * 10 + (n[at + 1] - '0'); };
    std::tm tm{};
    tm.tm_mday = two(0);
    tm.tm_mon = two(3) - 1;
    tm.tm_year = 100 + two(6);
    tm.tm_hour = two(9);
    tm.tm_min = two(12);
    tm.tm_sec = two(15);
    tm.tm_isdst = -1;
    if (tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_mon > 11 || tm.tm_hour > 23 || tm.tm_min > 59 ||
        tm.tm_sec > 60)
        return std::nullopt;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<int64_t>(t);
}

LogReadResult ReadLog(const std::string& path, const LogProgress& progress) {
    LogReadResult r;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        r.error = "«" + path + "»: " + platform::SystemReason(errno) + ".";
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        r.error = "«" + path + "»: это не обычный файл.";
        ::close(fd);
        return r;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size > kMaxLogBytes) {
        r.error = "«" + path + "»: файл слишком большой (" + std::to_string(size >> 20) +
                  " МБ, наибольший читаемый лог — " + std::to_string(kMaxLogBytes >> 20) + " МБ).";
        ::close(fd);
        return r;
    }
    LogParser parser(path);
    std::string buf(kChunk, '\0');
    uint64_t done = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            r.error = "«" + path + "»: " + platform::SystemReason(errno) + ".";
            ::close(fd);
            return r;
        }
        if (n == 0) break;
        done += static_cast<uint64_t>(n);
        if (!parser.Feed(std::string_view(buf.data(), static_cast<size_t>(n)))) break;
        if (progress && !progress(size ? std::min(1.0, double(done) / double(size)) : 1.0)) {
            r.error = "«" + path + "»: чтение прервано.";
            ::close(fd);
            return r;
        }
    }
    ::close(fd);
    r = parser.Finish();
    if (!r.ok) return r;

    // The folder is named after the connect; the file was last written with
    // its last line. Rates outside what a poll loop can give mean the file
    // was copied or touched since.
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    char real[PATH_MAX];
    if (::realpath(dir.c_str(), real)) {
        std::string_view folder = real;
        folder = folder.substr(folder.find_last_of('/') + 1);
        const auto start = SessionFolderTime(folder);
        const size_t lines = r.data.Lines();
        if (start && lines >= 2) {
            const double seconds = static_cast<double>(st.st_mtime - *start);
            const double rate = seconds > 0 ? lines / seconds : 0;
            if (rate >= 0.2 && rate <= 200) r.data.SecondsPerLine = seconds / lines;
        }
    }
    return r;
}

}  // namespace korvane::logs
