// "config.ini" as any bytes on disk: the loader either refuses the file
// (and keeps the lines it had) or takes it; what it took, saved and read
// again, gives the same lines in the same encoding, and looking a key up
// finds the first line that carries it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "app/SettingsStore.h"
#include "platform/TextCodec.h"

using namespace korvane;

namespace {

bool WriteRaw(const std::string& path, const std::string& bytes) {
    std::string error;
    return platform::WriteFileAtomically(path, bytes, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::Scratch::Dir() + "/config.ini";
    FUZZ_CHECK(WriteRaw(path, bytes));

    app::SettingsStore store;
    const auto builtIn = store.Lines();
    std::string error;
    if (!store.Load(path, error)) {
        // Refused: a reason for the user, and the lines stay as they were.
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(store.Lines() == builtIn);
        FUZZ_CHECK(!platform::DecodeText(bytes).ok);
        return 0;
    }
    const auto lines = store.Lines();
    for (const auto& line : lines) {
        FUZZ_CHECK(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
    }

    // Every key finds the value of its first line, whatever the letter case.
    for (size_t i = 0; i < store.Count() && i < 64; ++i) {
        if (!store.HasSeparator(i)) continue;
        const std::string key = store.KeyAt(i);
        if (key.empty()) continue;
        FUZZ_CHECK(app::SameKey(key, key));
        const int first = store.FindOtherKey(key, store.Count());
        FUZZ_CHECK(first >= 0 && static_cast<size_t>(first) <= i);
        FUZZ_CHECK(store.SettingValue(key) == store.ValueAt(static_cast<size_t>(first)));
    }

    // Saved and read again: the same lines, the same encoding.
    FUZZ_CHECK(store.Save(path, error));
    app::SettingsStore again;
    FUZZ_CHECK(again.Load(path, error));
    FUZZ_CHECK(again.Lines() == lines);
    FUZZ_CHECK(again.Encoding() == store.Encoding());

    // A start-up completes the pick lists and the editor may change a
    // value; every encoding holds our Cyrillic keys, so the save succeeds
    // and keeps the encoding.
    const auto missing = app::AppendMissingPickListKeys(again);
    for (const auto& key : missing) FUZZ_CHECK(again.HasKey(key));
    again.SetSettingValue("Писать логи", "да");
    FUZZ_CHECK(again.SettingValue("ПИСАТЬ ЛОГИ") == "да");
    FUZZ_CHECK(again.Save(path, error));
    app::SettingsStore third;
    FUZZ_CHECK(third.Load(path, error));
    FUZZ_CHECK(third.Lines() == again.Lines());
    FUZZ_CHECK(third.Encoding() == store.Encoding());
    return 0;
}
