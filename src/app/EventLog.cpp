#include "app/EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string_view>

#include "platform/TextCodec.h"

namespace korvane::app {

namespace {

bool Has(std::string_view line, std::string_view part) {
    return line.find(part) != std::string_view::npos;
}
bool StartsWith(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

// Lines that belong to one kind of repeated event, with the lines that
// count an event ("heads"); the others are its detail.
struct Category {
    const char* caption;
    std::initializer_list<const char*> members;
    std::initializer_list<const char*> heads;
};
const Category kCategories[] = {
    {"Ошибка обмена",
     {"ECU: << ОШИБКА Неправильный ответ блока!", "ECU: << ОШИБКА ЧТЕНИЯ RAM!", "Запрос - ",
      "Неверная длина ответа!", "Ошибка №", "ECU: >> Повтор запроса",
      "ECU: << Запись не подтверждена!"},
     {"Ошибка №", "ECU: >> Повтор запроса"}},
    {"Запись ячейки", {"Записываю поправку", "ECU: >>WriteMemory"}, {"ECU: >>WriteMemory"}},
};

const Category* CategoryOf(const std::string& line) {
    for (const Category& c : kCategories)
        for (const char* prefix : c.members)
            if (StartsWith(line, prefix)) return &c;
    return nullptr;
}

bool IsHead(const Category& c, const std::string& line) {
    for (const char* prefix : c.heads)
        if (StartsWith(line, prefix)) return true;
    return false;
}

// Lines that differ only in their numbers (counters, addresses, bytes) are
// of one kind.
std::string KindOf(const std::string& line) {
    std::string kind;
    kind.reserve(line.size());
    bool hex = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        const bool digit = ch >= '0' && ch <= '9';
        const bool hexLetter = (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
        if (ch == 'x' && i > 0 && line[i - 1] == '0') {
            hex = true;
            kind += ch;
            continue;
        }
        if (digit || (hex && hexLetter)) {
            if (kind.empty() || kind.back() != '#') kind += '#';
            continue;
        }
        hex = false;
        kind += ch;
    }
    return kind;
}

const char* const kProblems[] = {
    "ОШИБКА:",
    "ERROR: >>",
    "Связь с ECU не установлена",
    "связь разорвана",
    "ECU не отвечает",
    "Связь с ECU потеряна",
    "Чтение прошивки прервано",
    "Прошивка не сохранена",
    "прошивка не считана",
    "Запись отклонена",
    "Запись не выполнена",
    "не передано",
    "Не являются числами",
    "Не является допустимым",
    "возможны только",
    "Не удаётся",
    "не записан",
    "отказано",
};
const char* const kNotices[] = {
    "Korvane started...",
    "Настройки сохранены",
    "Поправка возвращена",
    "БЦН возвращен",
    "Снимок экрана сохранён",
    "ECU снова отвечает",
    "Связь с ECU восстановлена",
    "Прошивка загружена",
    "Прошивка сохранена",
    "Прошивка считана из ECU",
    "Прошивка по логу",
    "Лог «",
    "Чтение лога",
    "записано только в образ",
    "Записываем УОЗ",
    "УОЗ на ЧН:",
    "LC-1: прогрев",
    "Ячейки заблокированы",
    "Ячейки освобождены",
};

std::string Seconds(int64_t ms) {
    const int64_t s = (ms + 500) / 1000;
    return s >= 1 ? " за " + std::to_string(s) + " с" : std::string();
}

}  // namespace

LogStyle StyleOfLine(const std::string& line) {
    if (CategoryOf(line)) return LogStyle::Plain;
    for (const char* p : kProblems)
        if (Has(line, p)) return LogStyle::Problem;
    for (const char* p : kNotices)
        if (Has(line, p)) return LogStyle::Notice;
    return LogStyle::Plain;
}

bool LogRuns::Append(const std::string& line, int64_t nowMs) {
    lines_.push_back(line);
    const LogStyle style = StyleOfLine(line);
    const Category* category = CategoryOf(line);
    const std::string kind = category ? category->caption : KindOf(line);
    const bool head = category ? IsHead(*category, line) : true;
    if (style == LogStyle::Plain && !runs_.empty()) {
        Run& last = runs_.back();
        if (last.style == LogStyle::Plain && last.kind == kind) {
            if (head) {
                ++last.events;
                last.lastHead = line;
            }
            if (last.events <= 1)
                last.lines.push_back(line);
            else
                last.lines.clear();
            last.lastMs = nowMs;
            return false;
        }
    }
    Run run;
    run.kind = kind;
    run.caption = category ? category->caption : nullptr;
    run.lines.push_back(line);
    run.events = head ? 1 : 0;
    if (head) run.lastHead = line;
    run.firstMs = run.lastMs = nowMs;
    run.style = style;
    runs_.push_back(std::move(run));
    return true;
}

void LogRuns::ReplaceLast(const std::string& line) {
    if (lines_.empty() || runs_.empty()) {
        Append(line, 0);
        return;
    }
    lines_.back() = line;
    Run& last = runs_.back();
    if (!last.lines.empty()) last.lines.back() = line;
    if (!last.lastHead.empty() && !last.caption && KindOf(line) == last.kind) last.lastHead = line;
}

LogRuns::Entry LogRuns::EntryAt(size_t index) const {
    const Run& run = runs_.at(index);
    Entry entry;
    if (run.events <= 1 || run.style != LogStyle::Plain) {
        for (size_t i = 0; i < run.lines.size(); ++i) {
            if (i > 0) entry.text += '\n';
            entry.text += run.lines[i];
        }
        entry.style = run.style;
        return entry;
    }
    entry.text = (run.caption ? std::string(run.caption) : run.lastHead) + " ×" +
                 std::to_string(run.events) + Seconds(run.lastMs - run.firstMs);
    entry.style = LogStyle::Folded;
    return entry;
}

std::vector<std::string> LogRuns::ShownLines() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < runs_.size(); ++i) {
        const std::string text = EntryAt(i).text;
        size_t from = 0;
        for (;;) {
            const size_t nl = text.find('\n', from);
            out.push_back(text.substr(from, nl - from));
            if (nl == std::string::npos) break;
            from = nl + 1;
        }
    }
    return out;
}

std::string LogJournal::Path() const {
    return folder_.empty() ? std::string() : folder_ + "/" + kFileName;
}

void LogJournal::SetFolder(const std::string& folder) {
    if (folder == folder_) return;
    folder_ = folder;
    lastLineStart_.reset();
    if (!folder_.empty() && !waiting_.empty()) Flush();
}

bool LogJournal::Append(const std::string& line) {
    waiting_.push_back(line);
    return folder_.empty() || Flush();
}

bool LogJournal::ReplaceLast(const std::string& line) {
    if (!waiting_.empty()) {
        waiting_.back() = line;
        return folder_.empty() || Flush();
    }
    if (lastLineStart_) {
        const auto start = static_cast<off_t>(*lastLineStart_);
        if (::truncate(Path().c_str(), start) != 0) {
            error_ = platform::SystemReason(errno);
            // The old line stays in the file; the new one follows it.
        }
        lastLineStart_.reset();
    }
    return Append(line);
}

bool LogJournal::Flush() {
    if (waiting_.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const std::string path = Path();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = platform::SystemReason(errno);
        return false;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::string bytes;
    uint64_t lastStart = 0;
    for (const std::string& line : waiting_) {
        lastStart = static_cast<uint64_t>(size) + bytes.size();
        bytes += line;
        bytes += "\r\n";
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (done < bytes.size()) {
        error_ = platform::SystemReason(errno == 0 ? ENOSPC : errno);
        // No half line stays behind: the lines wait whole for the next try.
        if (size >= 0 && ::ftruncate(fd, size) != 0) error_ += "; " + platform::SystemReason(errno);
        ::close(fd);
        return false;
    }
    ::close(fd);
    waiting_.clear();
    lastLineStart_ = lastStart;
    error_.clear();
    return true;
}

}  // namespace korvane::app
