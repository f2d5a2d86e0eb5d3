// A recorded live log as any bytes on disk, both kinds and every encoding:
// the reader either refuses it with a message naming the file, or takes
// it with every value a finite float or an empty cell; reading the file in
// pieces gives exactly what parsing the whole text gives.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "logs/LogReader.h"
#include "platform/TextCodec.h"

using namespace korvane;

namespace {

bool SameValues(const logs::LogData& a, const logs::LogData& b) {
    if (a.Columns() != b.Columns() || a.Lines() != b.Lines()) return false;
    for (int col = 0; col < a.Columns(); ++col) {
        const auto x = a.Column(col), y = b.Column(col);
        for (size_t i = 0; i < x.size(); ++i)
            if (std::memcmp(&x[i], &y[i], sizeof(float)) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::Scratch::Dir() + "/лог.xls";

    const logs::LogReadResult whole = logs::ParseLog(bytes, path);
    if (!whole.ok) {
        FUZZ_CHECK(whole.error.rfind("«" + path + "»", 0) == 0);
    } else {
        for (int col = 0; col < whole.data.Columns(); ++col) {
            FUZZ_CHECK(whole.data.Column(col).size() == whole.data.Lines());
            for (const float v : whole.data.Column(col))
                FUZZ_CHECK(std::isnan(v) || std::isfinite(v));
        }
    }

    std::string error;
    FUZZ_CHECK(platform::WriteFileAtomically(path, bytes, error));
    const logs::LogReadResult read = logs::ReadLog(path);
    FUZZ_CHECK(read.ok == whole.ok);
    if (whole.ok) {
        FUZZ_CHECK(SameValues(read.data, whole.data));
        FUZZ_CHECK(read.data.Captions() == whole.data.Captions());
        FUZZ_CHECK(read.data.Kind() == whole.data.Kind());
        FUZZ_CHECK(read.data.Notes == whole.data.Notes);
    } else {
        FUZZ_CHECK(read.error == whole.error);
    }
    return 0;
}
