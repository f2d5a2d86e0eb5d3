// The program's settings: the ordered key=value lines of "config.ini", the
// pick lists attached to some keys, and the start-up checks around them.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace korvane::app {

// Case-insensitive comparison of UTF-8 keys (Latin and Cyrillic letters).
bool SameKey(const std::string& a, const std::string& b);

class SettingsStore {
  public:
    SettingsStore();  // holds the built-in lines
    static const std::vector<std::string>& BuiltInLines();

    // The value of the first line whose key matches without regard to
    // letter case; empty text when there is none.
    std::string SettingValue(const std::string& key) const;
    // Replaces the value of the first matching line or appends key=value.
    void SetSettingValue(const std::string& key, const std::string& value);
    bool HasKey(const std::string& key) const;

    // Line access for the editor. A line without "=" has an empty key.
    size_t Count() const { return lines_.size(); }
    const std::string& Line(size_t i) const { return lines_[i]; }
    std::string KeyAt(size_t i) const;
    std::string ValueAt(size_t i) const;
    bool HasSeparator(size_t i) const;
    void SetKeyAt(size_t i, const std::string& key);
    void SetValueAt(size_t i, const std::string& value);
    // A value the program puts in place of the user's while it runs (a port
    // that is not there): read and shown like any other, but Save writes
    // the line as it was, until the user sets a value of their own.
    void SetPlaceholderAt(size_t i, const std::string& value);
    void AppendLine(const std::string& line);
    // Index of another line (not `except`) with the same key, or -1.
    int FindOtherKey(const std::string& key, size_t except) const;
    const std::vector<std::string>& Lines() const { return lines_; }

    // Replaces the whole list with the file's lines. On failure the list is
    // unchanged and error holds the system's reason.
    bool Load(const std::string& path, std::string& error);
    // Writes the whole list in the encoding the file was read in (CP1251 for
    // a list never loaded). Lines appended in the editor and left blank
    // ("=") are not written; every line that was read is. On failure the
    // file is untouched.
    bool Save(const std::string& path, std::string& error) const;
    platform::TextEncoding Encoding() const { return encoding_; }

  private:
    std::vector<std::string> lines_;
    size_t storedLines_ = 0;  // lines read from the file (or built in)
    // Lines holding a placeholder: index -> the line as the user left it.
    std::map<size_t, std::string> placeholders_;
    platform::TextEncoding encoding_ = platform::TextEncoding::Cp1251;
};

// The fixed pick lists, in the order they are attached.
struct PickList {
    std::string key;
    std::vector<std::string> choices;
    // Keys this program added later are appended without a word: a config
    // written before them is not wrong.
    bool reportMissing = true;
};
const std::vector<PickList>& FixedPickLists();

// Keys of the fixed pick lists missing from the store. Each is appended
// with its first choice so the program stays usable; the returned keys are
// what the user is told about (all but those added quietly).
std::vector<std::string> AppendMissingPickListKeys(SettingsStore& store);

// A line whose key the program reads as a number but whose value is none.
struct NotANumber {
    std::string key;
    std::string value;
};
// Every such line, in the list's order; an empty value is allowed where an
// empty setting means "off" (the neighbour learning keys).
std::vector<NotANumber> NumbersThatDoNotConvert(const SettingsStore& store);

// Settings this program added later, with the values a config without
// them gets; appended without a word.
const std::vector<std::pair<std::string, std::string>>& QuietDefaults();
void AppendQuietDefaults(SettingsStore& store);

// The read of "config.ini" at start-up: the built-in lines stay when it
// cannot be read, the fixed pick-list keys and the quiet defaults are
// appended. `problems` are the messages for the user, in order;
// `unreadable` says a file is there that was not read (it is kept aside
// before the first save replaces it).
struct StartupSettings {
    std::vector<std::string> problems;
    bool unreadable = false;
};
StartupSettings LoadAtStartup(SettingsStore& store, const std::string& path);

// "Сохранить": the list is written to `path`; with `keepUnreadable` the file
// there is first copied to path + ".bak" (".bak2", ... when that name is
// taken: a file of the user's is never replaced) and nothing is saved when
// that fails. On success `logLines` says what the log shows (values that are no
// number are named now rather than first at connect).
struct SettingsSave {
    std::string error;  // the message box's text; empty when saved
    std::vector<std::string> logLines;
};
SettingsSave SaveSettings(const SettingsStore& store, const std::string& path, bool keepUnreadable);

// One key saved on its own (a lock toggled in the grid): the file is read
// afresh and only that key changes in it, so what the user has typed in the
// editor but not saved stays out. A missing file is made from the built-in
// lines; one that cannot be read is left alone. Returns the message box's
// text, empty when saved.
std::string SaveOneSetting(const std::string& path, const std::string& key,
                           const std::string& value);

// Names for the port pick lists and what the listing tells the log.
struct ComPortsResult {
    std::vector<std::string> names;     // in the system's order
    std::vector<std::string> logLines;  // error lines, if any
    bool error = false;                 // the ECU worker must refuse commands
};
// `systemNames` are the names the system listed (ok = false when the list
// could not be had). Applies the name rule; on error sets the value of the
// second line (the ECU port line) to "ComErr", a placeholder that is never
// saved over the user's port.
ComPortsResult FindComPorts(bool listOk, const std::vector<std::string>& systemNames,
                            SettingsStore& store);

}  // namespace korvane::app
