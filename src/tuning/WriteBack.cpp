#include "tuning/WriteBack.h"

#include <algorithm>
#include <utility>

#include "platform/NumberText.h"

namespace korvane::tuning {

namespace {

uint8_t ToByte(long double raw) {
    const int64_t v = platform::RoundHalfEven(raw);
    return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

constexpr int kGrid = 16;
constexpr int kStartByteWaitMs = 200;

// The learning step keeps corrections within these; a neighbour prediction
// taken over is held to them too, so its byte is one the ECU can use.
constexpr float kMinCorrection = 0.25f;
constexpr float kMaxCorrection = 1.95f;

}  // namespace

uint8_t CorrectionByte(float correction) {
    return ToByte(static_cast<long double>(correction) * 128);
}

uint8_t BcnByte(float airCharge) {
    return ToByte(static_cast<long double>(airCharge) * 3 / 8);
}

uint8_t IgnitionByte(float degrees) {
    const float held = std::clamp(degrees, 0.0f, kMaxIgnitionDegrees);
    return ToByte(static_cast<long double>(held) * 2);
}

WriteBack::WriteBack(TuningTables& tables, ImageSpan image, ImageStore store, EcuWriter& ecu,
                     WriteBackHost& host, WriteBackTimers timers)
    : tables_(tables),
      image_(image),
      store_(std::move(store)),
      ecu_(ecu),
      host_(host),
      timers_(timers) {}

void WriteBack::SetIntervals(int bcnMs, int neighbourMs) {
    bcnInterval_ = bcnMs;
    neighbourInterval_ = neighbourMs;
    timers_.bcn.SetInterval(bcnMs);
    if (neighbourMs > 0) timers_.neighbour.SetInterval(neighbourMs);
}

TableBytes WriteBack::ImageTable(uint16_t address) const {
    TableBytes out{};
    std::copy_n(image_.begin() + address, out.size(), out.begin());
    return out;
}

void WriteBack::StoreInImage(uint16_t address, const TableBytes& bytes) {
    store_(address, bytes);
}

void WriteBack::StoreBcnCopy(const TableBytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image_.begin() + kBcnCopyAddress);
}

// A locked cell keeps the byte the image holds, whatever the tables say.
TableBytes WriteBack::BcnBytes() const {
    TableBytes out{};
    for (int c = 0; c < kGrid; ++c)
        for (int r = 0; r < kGrid; ++r) {
            const int k = c * kGrid + r;
            out[k] = tables_.Locked[k] ? image_[kBcnAddress + k]
                                       : BcnByte(tables_.BcnTable[c][r].Learned);
        }
    return out;
}

TableBytes WriteBack::CorrectionBytes() const {
    TableBytes out{};
    for (int c = 0; c < kGrid; ++c)
        for (int r = 0; r < kGrid; ++r) {
            const int k = c * kGrid + r;
            out[k] = tables_.Locked[k] ? image_[kCorrectionAddress + k]
                                       : CorrectionByte(tables_.WorkPointCells[c][r].Correction);
        }
    return out;
}

bool WriteBack::WaitForFreeMailbox(const std::string& what) {
    return ecu::WaitForEmptyMailbox(
        {[this] { return ecu_.Pending(); }, [this] { return LinkUp(); },
         [this](int ms) { host_.Wait(ms); }, [this](const std::string& line) { host_.Log(line); }},
        what);
}

bool WriteBack::Refused(const std::string& what, const CorrectionCheck& check) {
    if (check.Plausible()) return false;
    host_.Log(what + ": " + CorrectionProblem(check) + "; в ECU оставлена его таблица");
    return true;
}

std::vector<ecu::RamRange> WriteBack::pishupopr() {
    std::vector<ecu::RamRange> out;
    auto range = [&](uint16_t address) {
        const TableBytes bytes = ImageTable(address);
        return ecu::RamRange{address, ecu::Bytes(bytes.begin(), bytes.end())};
    };
    if (!Refused("Поправка не записана", CheckCorrectionTable(ImageTable(kCorrectionAddress)))) {
        host_.Log("Записываю поправку");
        out.push_back(range(kCorrectionAddress));
    }
    if (!Refused("GBC не записано", tables_.SourceImage)) {
        out.push_back(range(kBcnAddress));
        out.push_back(range(kIgnitionAddress));
    }
    return out;
}

void WriteBack::Synced(const ecu::SyncReport& report) {
    if (!report.confirmed) return;
    auto touches = [&](uint16_t address) {
        return report.address < address + kCellCount && address < report.address + report.length;
    };
    if (report.kind == ecu::CommandKind::remakegbc) ++tables_.GbcRecCount;
    if (!restoredCorrectionLine_.empty() && touches(kCorrectionAddress))
        host_.Log(std::exchange(restoredCorrectionLine_, {}));
    if (!restoredBcnLine_.empty() && touches(kBcnAddress))
        host_.Log(std::exchange(restoredBcnLine_, {}));
}

void WriteBack::ForgetRestoreLines() {
    restoredCorrectionLine_.clear();
    restoredBcnLine_.clear();
}

void WriteBack::WriteTuningStartByte() {
    if (LinkUp()) {
        timers_.engine.Stop();
        host_.Wait(kStartByteWaitMs);
    }
    if (LinkUp() && WaitForFreeMailbox("Байт начала обучения не записан") && LinkUp()) {
        const uint8_t value[] = {kTuningByteValue};
        ecu_.PostIfEmpty("correct1DF", kTuningByteAddress, value, uint8_t{1});
    }
    host_.Wait(kStartByteWaitMs);
    timers_.engine.Start();
}

bool WriteBack::ApplyNeighbourLearning(const std::string& coefficientText) {
    double kN = 0;
    if (!coefficientText.empty()) {
        const auto v = platform::ParseDecimal(coefficientText);
        if (!v) return false;
        kN = *v;
    }
    // Without an interval there is no rewrite to bring the predictions over.
    if (kN > 0 && neighbourInterval_ > 0) {
        timers_.neighbour.Start();
        tables_.NeighbourLearning = true;
    } else {
        tables_.NeighbourLearning = false;
        timers_.neighbour.Stop();
    }
    return true;
}

bool WriteBack::StartRewriteTimers(const std::string& coefficientText) {
    if (!ApplyNeighbourLearning(coefficientText)) return false;
    timers_.bcn.Start();
    return true;
}

void WriteBack::StopTuning() {
    tables_.TuningActive = false;
    timers_.neighbour.Stop();
    timers_.bcn.Stop();
}

void WriteBack::Timer4Timer() {
    timers_.bcn.Stop();
    if (LiveLink() && timers_.engine.Active() && tables_.TuningActive) {
        int changed = 0;
        for (int c = 0; c < kGrid; ++c)
            for (int r = 0; r < kGrid; ++r) {
                auto& cell = tables_.BcnTable[c][r];
                if (!tables_.Locked[c * kGrid + r] && cell.Learned != cell.Current) {
                    ++changed;
                    cell.Current = cell.Learned;
                }
            }
        const TableBytes bytes = BcnBytes();
        // Values taken over while the image was implausible are owed once
        // a sound image lets them through.
        if (changed > 0 || (bcnRefused_ && bytes != ImageTable(kBcnAddress))) {
            if (!tables_.SourceImage.Plausible()) {
                // Said once per image: every tick would repeat it.
                if (!bcnRefused_) Refused("GBC не записано", tables_.SourceImage);
                bcnRefused_ = true;
            } else {
                host_.Log("Перезаписываю GBC(Новых= " + std::to_string(changed) + ")");
                StoreInImage(kBcnAddress, bytes);
                StoreBcnCopy(bytes);
                bcnRefused_ = false;
            }
        }
    }
    timers_.bcn.Start();
}

void WriteBack::Timer6Timer() {
    timers_.neighbour.Stop();
    if (LiveLink() && timers_.engine.Active() && tables_.TuningActive) {
        int changed = 0;
        for (int c = 0; c < kGrid; ++c)
            for (int r = 0; r < kGrid; ++r) {
                auto& cell = tables_.WorkPointCells[c][r];
                float& wanted = tables_.NeighbourCorrections[c][r];
                if (!tables_.Locked[c * kGrid + r] && cell.Correction != wanted) {
                    wanted = std::clamp(wanted, kMinCorrection, kMaxCorrection);
                    cell.Correction = wanted;
                    cell.SampleCount = 0;
                    cell.RewriteCount += 1;
                    ++changed;
                    host_.CellRewritten(c, r);
                }
            }
        const TableBytes bytes = CorrectionBytes();
        if (changed > 0 || (neighbourRefused_ && bytes != ImageTable(kCorrectionAddress))) {
            if (!tables_.SourceImage.Plausible()) {
                if (!neighbourRefused_) Refused("РТ не записаны", tables_.SourceImage);
                neighbourRefused_ = true;
            } else {
                host_.Log("Перезаписываю соседнии РТ= (" + std::to_string(changed) + ")");
                StoreInImage(kCorrectionAddress, bytes);
                neighbourRefused_ = false;
            }
        }
    }
    timers_.neighbour.Start();
}

int WriteBack::RestoreLoaded() {
    if (!LinkUp()) return 0;
    // The loaded tables are the image's: an implausible image gives nothing back.
    if (Refused("Поправка не возвращена", tables_.SourceImage)) return 0;
    TableBytes correction{}, bcn{};
    std::copy(tables_.LoadedCorrection.begin(), tables_.LoadedCorrection.end(), correction.begin());
    std::copy(tables_.LoadedBcn.begin(), tables_.LoadedBcn.end(), bcn.begin());
    auto differing = [this](uint16_t address, const TableBytes& bytes) {
        const TableBytes now = ImageTable(address);
        int n = 0;
        for (size_t k = 0; k < bytes.size(); ++k) n += now[k] != bytes[k];
        return n;
    };
    const int correctionCells = differing(kCorrectionAddress, correction);
    const int bcnCells = differing(kBcnAddress, bcn);

    // The lines wait for the ECU's confirmation; a table that was the
    // loaded one already has nothing to wait for.
    restoredCorrectionLine_ = "Поправка возвращена к загруженной прошивке (ячеек изменено: " +
                              std::to_string(correctionCells) + ")";
    restoredBcnLine_ =
        "БЦН возвращен к загруженной прошивке (ячеек изменено: " + std::to_string(bcnCells) + ")";
    StoreInImage(kCorrectionAddress, correction);
    for (int c = 0; c < kGrid; ++c)
        for (int r = 0; r < kGrid; ++r) {
            WorkPointCell& cell = tables_.WorkPointCells[c][r];
            cell.Correction = static_cast<float>(correction[c * kGrid + r] / 128.0L);
            tables_.NeighbourCorrections[c][r] = cell.Correction;
            cell.SampleCount = 0;
            cell.Ratio = 3.0f;
            cell.RewriteCount = 0;
        }
    if (correctionCells == 0) host_.Log(std::exchange(restoredCorrectionLine_, {}));
    StoreInImage(kBcnAddress, bcn);
    StoreBcnCopy(bcn);
    for (int c = 0; c < kGrid; ++c)
        for (int r = 0; r < kGrid; ++r) {
            const float v = static_cast<float>(bcn[c * kGrid + r] * 8.0L / 3);
            tables_.BcnTable[c][r] = {v, v};
        }
    if (bcnCells == 0) host_.Log(std::exchange(restoredBcnLine_, {}));
    return 2;
}

void WriteBack::PartLoadIgnition() {
    auto& ign = tables_.IgnitionTable;
    const auto& bcn = tables_.BcnTable;
    std::string flatRows;
    for (int r = 0; r < kGrid; ++r) {
        const long double i0 = ign[0][r], i15 = ign[15][r];
        const long double b0 = bcn[0][r].Current, b15 = bcn[15][r].Current;
        if (b15 == b0) {
            flatRows += (flatRows.empty() ? "" : ", ") + std::to_string(r + 1);
            continue;
        }
        for (int c = 1; c < kGrid - 1; ++c) {
            const long double b = bcn[c][r].Current;
            const long double v = i0 + (b - b0) * (i15 - i0) / (b15 - b0);
            ign[c][r] = std::clamp(static_cast<float>(v), 0.0f, kMaxIgnitionDegrees);
        }
    }
    if (!flatRows.empty())
        host_.Log("УОЗ на ЧН: строки " + flatRows +
                  " не пересчитаны: БЦН в крайних столбцах одинаков");
}

TableBytes WriteBack::IgnitionBytes() const {
    TableBytes bytes{};
    for (int c = 0; c < kGrid; ++c)
        for (int r = 0; r < kGrid; ++r)
            bytes[c * kGrid + r] = IgnitionByte(tables_.IgnitionTable[c][r]);
    return bytes;
}

void WriteBack::WriteIgnition() {
    // The image is the ECU's RAM to be: a running engine gets the table
    // only now, once the user has seen it and asked for it.
    if (LinkUp()) host_.Log("Записываем УОЗ на ЧН");
    StoreInImage(kIgnitionAddress, IgnitionBytes());
}

}  // namespace korvane::tuning
