#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "live/LiveTexts.h"

namespace korvane::live {

// Column 1 of the diagnostics grid as the user reads it, by grid row (row 0,
// the header, is not used). A log line records exactly these texts.
using ShownRowTexts = std::array<std::string, kGridRows>;

// The log files in the session folder.
inline constexpr char kXlsLogName[] = "лог.xls";       // TAB-separated table
inline constexpr char kCsvHeaderName[] = "лог2.csv";   // the CSV header alone
inline constexpr char kCsvLogName[] = "лог2-CSV.csv";  // CSV with a point as separator

// The logs' columns are grid rows 1..37; the 38th caption is never logged.
inline constexpr int kLoggedRows = 37;
// "AFR LC-1": left empty on a line whose mixture reading was not taken.
inline constexpr int kAfrLc1Row = 4;

std::string XlsHeaderLine();
std::string CsvHeaderLine();
// Rows 1..37 joined by TAB, as shown (row 12 is empty: two TABs meet there).
std::string XlsDataLine(const ShownRowTexts& rows);
// The hit count first, then rows 2..37, each with its first "," made ".".
std::string CsvDataLine(const ShownRowTexts& rows, int32_t stationaryHitCount);

// The bytes of a whole log file: CP1251, CR LF after every line, the last
// included, no byte-order mark. False (with the line named) when a line
// holds a character CP1251 has no form for.
bool EncodeLogLines(const std::vector<std::string>& lines, std::string& bytes, std::string& error);

// The live logs of one connection: the lists of lines since connect and the
// files that mirror them. Each new line is appended to the open files, so
// the cost of a line does not grow with the connection, while every file on
// disk holds exactly the bytes its whole list would give. A file that cannot
// be written is reported once; its lines stay in memory and the next write
// that succeeds brings it up to date. All calls come from one thread.
class LiveLogs {
  public:
    // Receives one line per problem (and one when a file is whole again).
    using LogFn = std::function<void(const std::string&)>;

    explicit LiveLogs(LogFn log);
    ~LiveLogs();
    LiveLogs(const LiveLogs&) = delete;
    LiveLogs& operator=(const LiveLogs&) = delete;

    // Connect with logging on: fresh lists with their header lines, saved at
    // once as "лог.xls" and "лог2.csv" in `dateDir`. "лог2-CSV.csv" follows
    // with the first line.
    void Start(const std::string& dateDir);
    // Disconnect: no more lines; the lists stay until the next Start.
    void Stop();
    // A reconnect after the link dropped: the same lists and folder go on.
    void Resume() { enabled_ = !xls_.empty(); }
    bool Enabled() const { return enabled_; }

    // One new poll: a line into each list, then both files brought up to
    // date in `dateDir`, the session folder as it is now. When the folder has
    // changed since the last line (an image load or read), the whole lists
    // are written there and the old folder's files are left as they are.
    // False when a file could not be written (already reported); nothing
    // here is ever repeated for the same poll. Without `mixtureTaken` (the
    // LC-1 reading was refused or the poll brought no valid frame) the
    // "AFR LC-1" cell stays empty: the grid still shows the last accepted
    // value, but a reader of the log must not take it for a measurement.
    bool AppendLine(const ShownRowTexts& rows, int32_t stationaryHitCount,
                    const std::string& dateDir, bool mixtureTaken = true);

    const std::vector<std::string>& XlsLog() const { return xls_; }
    const std::vector<std::string>& CsvLog() const { return csv_; }

  private:
    class File;
    // Brings one file up to date and reports a change of its state.
    bool Save(File& file, const std::string& dir, const char* name,
              const std::vector<std::string>& lines);
    bool SaveCsvHeader();

    LogFn log_;
    bool enabled_ = false;
    std::string dir_;
    std::string headerDir_;          // where "лог2.csv" belongs
    bool csvHeaderPending_ = false;  // "лог2.csv" not written yet
    std::vector<std::string> xls_;
    std::vector<std::string> csv_;
    std::unique_ptr<File> xlsFile_;
    std::unique_ptr<File> csvFile_;
    std::unique_ptr<File> headerFile_;
};

}  // namespace korvane::live
