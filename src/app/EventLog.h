// The window's log, apart from its widget: every line as it was logged, the
// shorter list the panel shows (a run of lines of one kind folded into one
// line with a count), and the copy of every line in the session folder.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::app {

// How the panel shows a line: an action of the user or a state change, a
// refusal or failure the user must see, or neither.
enum class LogStyle { Plain, Notice, Problem, Folded };

LogStyle StyleOfLine(const std::string& line);

// Folds runs of lines of one kind: a noisy line's exchange errors, an
// absent LC-1's complaints, the cell writes of the tuning. A run of one
// event shows its lines as they are; from the second event on it shows as
// one line, "Ошибка обмена ×37 за 12 с". Notices and problems never fold
// and end any run. All calls come from one thread.
class LogRuns {
  public:
    struct Entry {
        std::string text;  // as shown; several lines joined by '\n'
        LogStyle style = LogStyle::Plain;
    };

    // One line logged at `nowMs` (any monotonic clock). True when it made a
    // new entry, false when it changed the last one.
    bool Append(const std::string& line, int64_t nowMs);
    // The last line logged is replaced (a progress line): the last entry
    // changes, its count does not.
    void ReplaceLast(const std::string& line);

    const std::vector<std::string>& Lines() const { return lines_; }
    size_t EntryCount() const { return runs_.size(); }
    Entry EntryAt(size_t index) const;
    // The shown list as lines.
    std::vector<std::string> ShownLines() const;

  private:
    struct Run {
        std::string kind;
        const char* caption = nullptr;   // a fixed caption, or the last head line
        std::vector<std::string> lines;  // kept while the run holds one event
        std::string lastHead;
        int events = 0;
        int64_t firstMs = 0;
        int64_t lastMs = 0;
        LogStyle style = LogStyle::Plain;
    };
    std::vector<std::string> lines_;
    std::vector<Run> runs_;
};

// Every logged line, in order, in "журнал.txt" in the session folder:
// UTF-8 (a path or a port name may hold any character) with CR LF. Lines
// logged while there is no folder wait and go first into the next one; a
// file that cannot be written keeps its lines waiting for the next write
// that succeeds. The file always equals the lines written so far: a
// replaced last line is cut off the file and written anew.
class LogJournal {
  public:
    static constexpr char kFileName[] = "журнал.txt";

    // The folder lines go to from now on; "" holds them back.
    void SetFolder(const std::string& folder);
    // False when the file could not be written (the line waits).
    bool Append(const std::string& line);
    bool ReplaceLast(const std::string& line);
    // The system's reason of the last failed write.
    const std::string& LastError() const { return error_; }
    std::string Path() const;
    size_t Waiting() const { return waiting_.size(); }

  private:
    bool Flush();
    std::string folder_;
    std::vector<std::string> waiting_;
    // The file's size before its last line, while that line is in it.
    std::optional<uint64_t> lastLineStart_;
    std::string error_;
};

}  // namespace korvane::app
