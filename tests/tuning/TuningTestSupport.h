#pragma once
// A tuning core with a recording view, a scripted ECU mailbox, settings in a
// map and an image, plus helpers that feed it frames.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "live/LiveValues.h"
#include "tuning/TuningCore.h"

namespace korvane::tuning::test {

class RecordingView : public TuningView {
  public:
    int combo = 0;
    int radio = 0;
    std::map<std::pair<int, int>, std::string> cells;  // (column, row) -> text
    std::pair<int, int> current{-1, -1};
    std::string label5, label7, status;
    int grafxxCalls = 0;
    int firstViewSelections = 0;

    int ComboBox1Index() const override { return combo; }
    void SelectFirstView() override { ++firstViewSelections, combo = 0; }
    int RadioGroup1Index() const override { return radio; }
    void SetGridCell(int column, int row, std::string_view text) override {
        cells[{column, row}] = std::string(text);
    }
    void SetCurrentCell(int column, int row) override { current = {column, row}; }
    void SetLabel5(std::string_view t) override { label5 = t; }
    void SetLabel7(std::string_view t) override { label7 = t; }
    void SetStatusPanel5(std::string_view t) override { status = t; }
    void grafxx() override { ++grafxxCalls; }
    std::string Cell(int column, int row) const {
        auto it = cells.find({column, row});
        return it == cells.end() ? "<unset>" : it->second;
    }
};

struct Remake {
    std::array<uint8_t, 2> address;
    uint8_t value;
    friend bool operator==(const Remake&, const Remake&) = default;
};

class ScriptedMailbox : public EcuMailbox {
  public:
    bool link = true;
    bool busy = false;
    std::vector<Remake> posts;
    bool LinkUp() const override { return link; }
    // A busy worker queues the byte; an idle one writes it at once.
    CellWrite PostRemake(std::array<uint8_t, 2> a, uint8_t v) override {
        posts.push_back({a, v});
        return busy ? CellWrite::Queued : CellWrite::Written;
    }
};

// Row labels (rpm) and column labels (%) of a typical image.
inline constexpr GridLabels kRowLabels{570,  690,  810,  930,  1050, 1170, 1290, 1410,
                                       1530, 1650, 1770, 1890, 2010, 2130, 2250, 7560};
inline constexpr GridLabels kColumnLabels{0,  7,  13, 20, 27, 33, 40, 47,
                                          53, 60, 67, 73, 80, 87, 93, 100};

// Work point at the centre of cell (c, r).
inline double RpmOfRow(int r) {
    return kRowLabels[static_cast<size_t>(r)];
}
inline double ThrottleOfColumn(int c) {
    return kColumnLabels[static_cast<size_t>(c)];
}

class TuningFixture : public ::testing::Test {
  protected:
    std::map<std::string, std::string> settings{
        {"Стационарность по RPM", "100"},         {"Стационарность по %", "100"},
        {"Стационарность по циклам", "4"},        {"Не настраивать ниже %", "2"},
        {"Количество циклов для обработки", "7"}, {"Весовой коэф. коррекции(%)", "70"},
        {"Коэф. обучения соседних РТ", ""},
    };
    std::vector<std::string> log;
    RecordingView view;
    ScriptedMailbox mailbox;
    std::vector<uint8_t> imageBytes = std::vector<uint8_t>(kImageSize, 0);
    TuningCore core{[this](const std::string& key) {
                        auto it = settings.find(key);
                        return it == settings.end() ? std::string() : it->second;
                    },
                    [this](const std::string& line) { log.push_back(line); }, view, mailbox};
    TuningTables& t = core.Tables();
    bool narrowBand = false;

    std::span<uint8_t, kImageSize> Image() { return std::span<uint8_t, kImageSize>(imageBytes); }

    // An image whose corrections are all 1.0 (byte 128) and BCN 120 (45).
    void FillTables(uint8_t correction = 128) {
        for (int k = 0; k < kCellCount; ++k) {
            imageBytes[kCorrectionAddress + k] = correction;
            imageBytes[kBcnAddress + k] = 45;
            imageBytes[kIgnitionAddress + k] = 40;
        }
        core.addtabl(Image(), kRowLabels, kColumnLabels);
    }
    void StartTuning(int32_t minThrottle = 2) {
        t.TuningActive = true;
        t.MinTuneThrottle = minThrottle;
    }

    // One frame with the work point at (rpm, throttle) and the mixture
    // ratio `ratio` (LC-1 AFR over the ECU's 14.7).
    void Frame(double rpm, double throttle, double ratio = 1.0, double air = 100) {
        live::LiveValues v;
        v.Rpm = rpm;
        v.ThrottlePos = throttle;
        v.Afr = 14.7;
        v.AfrLc1 = ratio * 14.7;
        v.InjTimeCorrection = ratio;
        v.CyclicAirFlow = air;
        core.calculations(v, narrowBand, Image());
    }
    void FrameInCell(int c, int r, double ratio = 1.0, double air = 100, int times = 1) {
        for (int i = 0; i < times; ++i) Frame(RpmOfRow(r), ThrottleOfColumn(c), ratio, air);
    }
    // Enters the cell and waits through the frames that are not yet
    // stationary (default: 1 entering + 4).
    void Settle(int c, int r) { FrameInCell(c, r, 1.0, 100, 5); }
};

}  // namespace korvane::tuning::test
