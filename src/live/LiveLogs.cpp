#include "live/LiveLogs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace korvane::live {

namespace {

std::string JoinCaptions(char sep) {
    std::string line;
    for (int row = 1; row <= kLoggedRows; ++row) {
        if (row > 1) line += sep;
        line += DiagnosticCaption(row);
    }
    return line;
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Appends one line in CP1251 with its CR LF. Data lines are plain ASCII and
// skip the converter; the headers are Cyrillic.
bool AppendEncoded(const std::string& line, std::string& out) {
    if (IsAscii(line)) {
        out += line;
    } else {
        std::string encoded;
        if (!platform::Utf8ToCp1251(line, encoded)) return false;
        out += encoded;
    }
    out += "\r\n";
    return true;
}

bool WriteAll(int fd, const std::string& bytes, std::string& error) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = platform::SystemReason(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string XlsHeaderLine() {
    return JoinCaptions('\t');
}
std::string CsvHeaderLine() {
    return JoinCaptions(',');
}

std::string XlsDataLine(const ShownRowTexts& rows) {
    std::string line;
    line.reserve(256);
    for (int row = 1; row <= kLoggedRows; ++row) {
        if (row > 1) line += '\t';
        line += rows[row];
    }
    return line;
}

std::string CsvDataLine(const ShownRowTexts& rows, int32_t stationaryHitCount) {
    std::string line = std::to_string(stationaryHitCount);
    line.reserve(256);
    for (int row = 2; row <= kLoggedRows; ++row) {
        line += ',';
        const size_t at = line.size();
        line += rows[row];
        const size_t comma = line.find(',', at);
        if (comma != std::string::npos) line[comma] = '.';
    }
    return line;
}

bool EncodeLogLines(const std::vector<std::string>& lines, std::string& bytes, std::string& error) {
    bytes.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!AppendEncoded(lines[i], bytes)) {
            error = "строка " + std::to_string(i + 1) + " содержит символы, которых нет в CP1251";
            return false;
        }
    }
    return true;
}

// One log file kept equal to its list. It stays open between lines; a line
// is appended only while the file on disk is still the one written here,
// with the size written here. Anything else (a first write, another folder,
// a failed write, a file replaced or cut by someone else) rewrites it whole.
class LiveLogs::File {
  public:
    ~File() { Close(); }

    bool Sync(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
        if (fd_ >= 0 && path == path_ && written_ <= lines.size() && Unchanged())
            return Append(lines, error);
        return Rewrite(path, lines, error);
    }

    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    std::string reportedPath;  // the failure already told, "" when none

  private:
    bool Unchanged() const {
        struct stat st {};
        return ::stat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_ &&
               st.st_size == size_;
    }

    bool Append(const std::vector<std::string>& lines, std::string& error) {
        std::string bytes;
        for (size_t i = written_; i < lines.size(); ++i) {
            if (!AppendEncoded(lines[i], bytes)) {
                error =
                    "строка " + std::to_string(i + 1) + " содержит символы, которых нет в CP1251";
                return false;
            }
        }
        if (!WriteAll(fd_, bytes, error)) {
            // Part of the line may be on disk: the next save starts afresh.
            Close();
            return false;
        }
        written_ = lines.size();
        size_ += static_cast<off_t>(bytes.size());
        return true;
    }

    // Written beside the file and renamed over it, so a reader never sees
    // half a log; the descriptor then stays open for the following lines.
    bool Rewrite(const std::string& path, const std::vector<std::string>& lines,
                 std::string& error) {
        Close();
        // The folder is looked at before the lists are encoded: while it is
        // missing, a long list costs nothing per line.
        const std::filesystem::path folder = platform::Utf8Path(path).parent_path();
        std::error_code ec;
        if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
            // The session folder could not be made at connect (read-only,
            // full) or was removed: try again with every line.
            std::filesystem::create_directories(folder, ec);
            if (ec) {
                error = platform::SystemReason(ec.value());
                return false;
            }
        }
        std::string bytes;
        if (!EncodeLogLines(lines, bytes, error)) return false;
        const int fd = platform::WriteFileAtomicallyKeepOpen(path, bytes, error);
        if (fd < 0) return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            error = platform::SystemReason(errno);
            ::close(fd);
            return false;
        }
        fd_ = fd;
        path_ = path;
        written_ = lines.size();
        size_ = static_cast<off_t>(bytes.size());
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        return true;
    }

    int fd_ = -1;
    std::string path_;
    size_t written_ = 0;  // lines of the list in the file
    off_t size_ = 0;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

LiveLogs::LiveLogs(LogFn log)
    : log_(std::move(log)),
      xlsFile_(std::make_unique<File>()),
      csvFile_(std::make_unique<File>()),
      headerFile_(std::make_unique<File>()) {}

LiveLogs::~LiveLogs() = default;

void LiveLogs::Start(const std::string& dateDir) {
    // A new connection: the files of the previous one are let go as they are.
    xlsFile_ = std::make_unique<File>();
    csvFile_ = std::make_unique<File>();
    headerFile_ = std::make_unique<File>();
    xls_ = {XlsHeaderLine()};
    csv_ = {CsvHeaderLine()};
    dir_ = dateDir;
    headerDir_ = dateDir;
    enabled_ = true;
    Save(*xlsFile_, dir_, kXlsLogName, xls_);
    csvHeaderPending_ = true;
    SaveCsvHeader();
}

void LiveLogs::Stop() {
    enabled_ = false;
    xlsFile_->Close();
    csvFile_->Close();
}

bool LiveLogs::AppendLine(const ShownRowTexts& rows, int32_t stationaryHitCount,
                          const std::string& dateDir, bool mixtureTaken) {
    if (!enabled_) return false;
    if (mixtureTaken) {
        xls_.push_back(XlsDataLine(rows));
        csv_.push_back(CsvDataLine(rows, stationaryHitCount));
    } else {
        ShownRowTexts shown = rows;
        shown[kAfrLc1Row].clear();
        xls_.push_back(XlsDataLine(shown));
        csv_.push_back(CsvDataLine(shown, stationaryHitCount));
    }
    dir_ = dateDir;
    bool ok = Save(*xlsFile_, dir_, kXlsLogName, xls_);
    ok = Save(*csvFile_, dir_, kCsvLogName, csv_) && ok;
    if (csvHeaderPending_) ok = SaveCsvHeader() && ok;
    return ok;
}

bool LiveLogs::SaveCsvHeader() {
    // Written once per connection, into the connect's folder; retried with
    // the following lines while it fails.
    if (!Save(*headerFile_, headerDir_, kCsvHeaderName, {csv_.front()})) return false;
    headerFile_->Close();
    csvHeaderPending_ = false;
    return true;
}

bool LiveLogs::Save(File& file, const std::string& dir, const char* name,
                    const std::vector<std::string>& lines) {
    std::string error;
    bool ok = false;
    std::string path;
    if (dir.empty()) {
        // No session folder (its creation failed): never write beside the
        // root of the file system instead.
        path = name;
        error = "папка сеанса не создана";
    } else {
        path = dir + "/" + name;
        ok = file.Sync(path, lines, error);
    }
    if (!ok) {
        if (file.reportedPath != path)
            log_("Не удаётся записать лог «" + path + "»: " + error + ".");
        file.reportedPath = path;
        return false;
    }
    if (!file.reportedPath.empty()) {
        log_("Лог «" + path + "» снова записан полностью.");
        file.reportedPath.clear();
    }
    return true;
}

}  // namespace korvane::live
