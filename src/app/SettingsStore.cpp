#include "app/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/NumberText.h"
#include "platform/Paths.h"
#include "platform/PortList.h"

namespace korvane::app {

bool SameKey(const std::string& a, const std::string& b) {
    return platform::SameKeyText(a, b);
}

const std::vector<std::string>& SettingsStore::BuiltInLines() {
    static const std::vector<std::string> lines = {
        "Тип ECU=обычный",
        "Ecu Com=COM1",
        "Скорость ECU COM=10400",
        "Таймаут1=20",
        "Таймаут2=150",
        "LC-1 Com=COM2",
        "Таймаут LC-1=80",
        "Протокол обмена=KWP2000",
        "Загрузить последнюю прошивку=да",
        "Прошивка по умолчанию=j5ls.bin",
        "Интервал обновления экрана=100",
        "Стационарность по RPM=100",
        "Стационарность по %=100",
        "Стационарность по циклам=4",
        "Не настраивать ниже %=2",
        "Количество циклов для обработки=7",
        "Весовой коэф. коррекции(%)=70",
        "Писать логи=да",
        "Интервал коррекции БЦН(мс)=120000",
        "Время перезаписи прошивки(мс)=500",
        "Коэф. обучения соседних РТ=",
        "Интервал обучения соседних РТ=",
    };
    return lines;
}

SettingsStore::SettingsStore() : lines_(BuiltInLines()), storedLines_(lines_.size()) {}

std::string SettingsStore::KeyAt(size_t i) const {
    const auto& l = lines_[i];
    auto eq = l.find('=');
    return eq == std::string::npos ? std::string() : l.substr(0, eq);
}

std::string SettingsStore::ValueAt(size_t i) const {
    const auto& l = lines_[i];
    auto eq = l.find('=');
    return eq == std::string::npos ? std::string() : l.substr(eq + 1);
}

bool SettingsStore::HasSeparator(size_t i) const {
    return lines_[i].find('=') != std::string::npos;
}

void SettingsStore::SetKeyAt(size_t i, const std::string& key) {
    lines_[i] = key + "=" + ValueAt(i);
    if (auto p = placeholders_.find(i); p != placeholders_.end()) {
        const auto eq = p->second.find('=');
        p->second =
            key + "=" + (eq == std::string::npos ? std::string() : p->second.substr(eq + 1));
    }
}

void SettingsStore::SetPlaceholderAt(size_t i, const std::string& value) {
    const auto p = placeholders_.find(i);
    std::string original = p != placeholders_.end() ? p->second : lines_[i];
    SetValueAt(i, value);
    placeholders_[i] = std::move(original);
}

void SettingsStore::SetValueAt(size_t i, const std::string& value) {
    placeholders_.erase(i);
    if (HasSeparator(i)) {
        lines_[i] = KeyAt(i) + "=" + value;
    } else {
        // A line without "=" is all key as the user sees it.
        lines_[i] = lines_[i] + "=" + value;
    }
}

void SettingsStore::AppendLine(const std::string& line) {
    lines_.push_back(line);
}

int SettingsStore::FindOtherKey(const std::string& key, size_t except) const {
    if (key.empty()) return -1;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (i != except && HasSeparator(i) && SameKey(KeyAt(i), key)) return static_cast<int>(i);
    return -1;
}

std::string SettingsStore::SettingValue(const std::string& key) const {
    if (key.empty()) return {};
    for (size_t i = 0; i < lines_.size(); ++i)
        if (HasSeparator(i) && SameKey(KeyAt(i), key)) return ValueAt(i);
    return {};
}

bool SettingsStore::HasKey(const std::string& key) const {
    return !key.empty() && FindOtherKey(key, lines_.size()) >= 0;
}

void SettingsStore::SetSettingValue(const std::string& key, const std::string& value) {
    int i = FindOtherKey(key, lines_.size());
    if (i >= 0) {
        SetValueAt(static_cast<size_t>(i), value);
    } else {
        lines_.push_back(key + "=" + value);
    }
}

bool SettingsStore::Load(const std::string& path, std::string& error) {
    auto r = platform::ReadTextFile(path);
    if (!r.ok) {
        error = r.error;
        return false;
    }
    lines_ = std::move(r.file.lines);
    storedLines_ = lines_.size();
    placeholders_.clear();
    encoding_ = r.file.encoding;
    return true;
}

bool SettingsStore::Save(const std::string& path, std::string& error) const {
    platform::TextFile file;
    file.encoding = encoding_;
    // Every line read is written back as it was; only rows appended in the
    // editor and left blank are dropped.
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (auto p = placeholders_.find(i); p != placeholders_.end())
            file.lines.push_back(p->second);
        else if (i < storedLines_ || lines_[i] != "=")
            file.lines.push_back(lines_[i]);
    }
    return platform::WriteTextFile(path, file, error);
}

const std::vector<PickList>& FixedPickLists() {
    static const std::vector<PickList> lists = {
        {"Скорость ECU COM", {"10400", "38400", "57600"}},
        {"Писать логи", {"нет", "да"}},
        {"Датчик кислорода", {"ШДК LC-1", "УДК"}},
        {"Загрузить прошивку по умолчанию", {"нет", "да"}},
        {"Переподключаться", {"нет", "да"}, false},
        {"Быстрый обмен", {"да", "нет"}, false},
        {"Инициализация K-line", {"нет", "быстрая"}, false},
    };
    return lists;
}

std::vector<std::string> AppendMissingPickListKeys(SettingsStore& store) {
    std::vector<std::string> missing;
    for (const auto& pl : FixedPickLists()) {
        if (store.HasKey(pl.key)) continue;
        if (pl.reportMissing) missing.push_back(pl.key);
        store.AppendLine(pl.key + "=" + pl.choices.front());
    }
    return missing;
}

std::vector<NotANumber> NumbersThatDoNotConvert(const SettingsStore& store) {
    struct NumericKey {
        const char* key;
        bool decimal;
        bool emptyAllowed;
    };
    static const NumericKey keys[] = {
        {"Таймаут1", false, false},
        {"Таймаут2", false, false},
        {"Стационарность по RPM", false, false},
        {"Стационарность по %", false, false},
        {"Стационарность по циклам", false, false},
        {"Не настраивать ниже %", false, false},
        {"Количество циклов для обработки", false, false},
        {"Весовой коэф. коррекции(%)", true, false},
        {"Интервал коррекции БЦН(мс)", false, false},
        {"Время перезаписи прошивки(мс)", false, false},
        {"Коэф. обучения соседних РТ", true, true},
        {"Интервал обучения соседних РТ", false, true},
        // The learning filters: empty means off.
        {"Мин. ТОЖ для обучения", true, true},
        {"Макс. скорость дросселя %/с", true, true},
        {"Макс. скорость оборотов об/с", true, true},
        {"Макс. шаг поправки %", true, true},
    };
    std::vector<NotANumber> out;
    for (size_t i = 0; i < store.Count(); ++i) {
        if (!store.HasSeparator(i)) continue;
        const std::string key = store.KeyAt(i);
        for (const NumericKey& k : keys) {
            if (!SameKey(key, k.key)) continue;
            const std::string value = store.ValueAt(i);
            const bool ok = (value.empty() && k.emptyAllowed) ||
                            (k.decimal ? platform::ParseDecimal(value).has_value()
                                       : platform::ParseInteger(value).has_value());
            if (!ok) out.push_back({key, value});
            break;
        }
    }
    return out;
}

const std::vector<std::pair<std::string, std::string>>& QuietDefaults() {
    static const std::vector<std::pair<std::string, std::string>> defaults = {
        {"Заблокированные ячейки", ""},        {"Мин. ТОЖ для обучения", "60"},
        {"Макс. скорость дросселя %/с", "20"}, {"Макс. скорость оборотов об/с", "1000"},
        {"Макс. шаг поправки %", "10"},        {"Пределы поправки", "0.7 1.3"},
    };
    return defaults;
}

void AppendQuietDefaults(SettingsStore& store) {
    for (const auto& [key, value] : QuietDefaults())
        if (!store.HasKey(key)) store.AppendLine(key + "=" + value);
}

ComPortsResult FindComPorts(bool listOk, const std::vector<std::string>& systemNames,
                            SettingsStore& store) {
    ComPortsResult r;
    if (!listOk) {
        r.logLines.push_back("ОШИБКА: Невозможно получить список COM портов!");
        r.error = true;
    } else {
        for (const auto& name : systemNames)
            if (platform::IsListablePortName(name)) r.names.push_back(name);
        if (r.names.empty()) {
            r.logLines.push_back("ОШИБКА: В вашей системе нет COM портов!");
            r.error = true;
        }
    }
    if (r.error && store.Count() >= 2) store.SetPlaceholderAt(1, "ComErr");
    return r;
}

StartupSettings LoadAtStartup(SettingsStore& store, const std::string& path) {
    StartupSettings out;
    std::string error;
    if (!store.Load(path, error)) {
        std::error_code ec;
        out.unreadable = std::filesystem::exists(platform::Utf8Path(path), ec);
        out.problems.push_back("Не удаётся открыть файл настроек «" + path + "»: " + error +
                               ". Используются настройки по умолчанию.");
    }
    // A missing key is appended with its first choice so the program stays
    // usable.
    for (const auto& key : AppendMissingPickListKeys(store))
        out.problems.push_back("В настройках не найден параметр «" + key +
                               "»; он добавлен со значением по умолчанию.");
    AppendQuietDefaults(store);
    return out;
}

namespace {

#ifdef _WIN32
// Keeps the file at `path` under `backup`, a name that must be free: the
// copy is made only when nothing has that name, so a file that appears
// meanwhile under it is never replaced. Returns the reason of a failure,
// empty when kept; nameTaken says the name was in use.
std::string KeepAside(const std::string& path, const std::string& backup, bool& nameTaken) {
    std::error_code ec;
    nameTaken = false;
    std::filesystem::copy_file(platform::Utf8Path(path), platform::Utf8Path(backup),
                               std::filesystem::copy_options::none, ec);
    if (!ec) return {};
    nameTaken = ec == std::errc::file_exists;
    return platform::SystemReason(ec.value());
}
#else
bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Keeps the file at `path` under `backup`, a name that must be free: made in
// one step (a second link to the file, or a copy created exclusively with
// the file's mode), so a file that appears meanwhile under that name is
// never replaced. Returns the reason of a failure, empty when kept;
// nameTaken says the name was in use.
std::string KeepAside(const std::string& path, const std::string& backup, bool& nameTaken) {
    nameTaken = false;
    if (::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, backup.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {};
    if (errno == EEXIST) {
        nameTaken = true;
        return platform::SystemReason(EEXIST);
    }
    // A folder that allows no second link (a network share, a FAT stick).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return platform::SystemReason(errno);
    std::string bytes, error;
    if (!platform::ReadBinaryFile(path, bytes, error)) return error;
    const mode_t mode = st.st_mode & 07777;
    const int fd = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        nameTaken = errno == EEXIST;
        return platform::SystemReason(errno);
    }
    // The umask took bits off at the open; the copy has the file's own mode.
    if (::fchmod(fd, mode) != 0 || !WriteAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(backup.c_str());
        return platform::SystemReason(err);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(backup.c_str());
        return platform::SystemReason(err);
    }
    return {};
}
#endif

}  // namespace

SettingsSave SaveSettings(const SettingsStore& store, const std::string& path,
                          bool keepUnreadable) {
    SettingsSave out;
    if (keepUnreadable) {
        // The copy never replaces a file of the user's: the first free name
        // of "config.ini.bak", "config.ini.bak2", ...
        std::error_code ec;
        if (std::filesystem::is_regular_file(platform::Utf8Path(path), ec)) {
            std::string backup = path + ".bak";
            bool taken = false;
            std::string error = KeepAside(path, backup, taken);
            for (int n = 2; taken && n < 1000; ++n) {
                backup = path + ".bak" + std::to_string(n);
                error = KeepAside(path, backup, taken);
            }
            if (!error.empty()) {
                out.error = "Не удаётся сохранить копию файла настроек «" + backup + "»: " + error +
                            ". Настройки не сохранены.";
                return out;
            }
            out.logLines.push_back("Файл настроек, который не удалось прочитать, сохранён как «" +
                                   backup + "»");
        }
    }
    std::string error;
    if (!store.Save(path, error)) {
        out.error = "Не удаётся сохранить файл настроек «" + path + "»: " + error + ".";
        return out;
    }
    // Saved as typed.
    std::string wrong;
    for (const NotANumber& n : NumbersThatDoNotConvert(store))
        wrong += (wrong.empty() ? "«" : "; «") + n.key + "» = «" + n.value + "»";
    if (!wrong.empty()) out.logLines.push_back("Не являются числами: " + wrong);
    // The session speed has three values the ECU knows; any other refuses
    // the connect, so it is named now.
    const std::string speed = store.SettingValue("Скорость ECU COM");
    if (speed != "10400" && speed != "38400" && speed != "57600")
        out.logLines.push_back("Не является допустимым значением: «Скорость ECU COM» = «" + speed +
                               "» (возможны 10400, 38400, 57600)");
    out.logLines.push_back("Настройки сохранены");
    return out;
}

std::string SaveOneSetting(const std::string& path, const std::string& key,
                           const std::string& value) {
    SettingsStore disk;
    std::string error;
    if (!disk.Load(path, error)) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            return "Не удаётся открыть файл настроек «" + path + "»: " + error + ". Параметр «" +
                   key + "» не сохранён.";
        AppendMissingPickListKeys(disk);
        AppendQuietDefaults(disk);
    }
    disk.SetSettingValue(key, value);
    if (!disk.Save(path, error))
        return "Не удаётся сохранить файл настроек «" + path + "»: " + error + ".";
    return {};
}

}  // namespace korvane::app
