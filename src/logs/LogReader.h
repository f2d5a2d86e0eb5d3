#pragma once
// Recorded live logs read back for the viewer and the analysis: both files a
// connection writes ("лог.xls", TAB-separated with the locale's decimal
// separator; "лог2-CSV.csv", comma-separated with points), in CP1251 or
// UTF-8. Values are kept per column as float, which holds every logged
// figure closely enough and keeps an hour of driving at a few MB.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TextCodec.h"

namespace korvane::logs {

enum class LogKind { Xls, Csv };

// Files larger than this are refused before reading: their values alone
// would take more than half as much memory again.
inline constexpr uint64_t kMaxLogBytes = 256ull << 20;

class LogData {
  public:
    LogKind Kind() const { return kind_; }
    platform::TextEncoding Encoding() const { return encoding_; }
    // The header's captions (UTF-8), one per column.
    const std::vector<std::string>& Captions() const { return captions_; }
    int Columns() const { return static_cast<int>(captions_.size()); }
    size_t Lines() const { return columns_.empty() ? 0 : columns_[0].size(); }
    // NaN where the log holds an empty cell.
    std::span<const float> Column(int column) const { return columns_[column]; }
    float Value(size_t line, int column) const { return columns_[column][line]; }
    // The column with this caption, -1 when there is none.
    int ColumnOf(std::string_view caption) const;

    // Seconds per line, estimated from the session folder's start time and
    // the file's modification time; nullopt when they do not allow it.
    std::optional<double> SecondsPerLine;
    // What the reader left out or guessed, one line each (a cut last line).
    std::vector<std::string> Notes;

  private:
    friend class LogParser;
    LogKind kind_ = LogKind::Xls;
    platform::TextEncoding encoding_ = platform::TextEncoding::Cp1251;
    std::vector<std::string> captions_;
    std::vector<std::vector<float>> columns_;
};

struct LogReadResult {
    bool ok = false;
    LogData data;
    std::string error;  // names the file and, where it applies, the line
};

// Fraction read so far (0..1); false cancels the read.
using LogProgress = std::function<bool(double fraction)>;

// Parses the whole bytes of a log; `name` is how messages name the file.
LogReadResult ParseLog(std::string_view bytes, const std::string& name);
// Reads a file in pieces (memory bounded by the values kept, never the
// whole text), refuses files over kMaxLogBytes and estimates the line rate.
LogReadResult ReadLog(const std::string& path, const LogProgress& progress = {});

// The start time of a session folder named "dd.mm.yy-hh.mm.ss" (local time,
// seconds since the epoch); nullopt for any other name.
std::optional<int64_t> SessionFolderTime(std::string_view folderName);

}  // namespace korvane::logs
