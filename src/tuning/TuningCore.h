#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "live/LiveValues.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningSeams.h"
#include "tuning/TuningTables.h"
#include "tuning/TuningTexts.h"

namespace korvane::tuning {

// Grid header labels as the image gives them: engine speed per row (rpm),
// throttle per column (%).
using GridLabels = std::array<int32_t, kGridSize>;

// The learning core: it owns the tables, finds the work point of every new
// frame, judges stationarity, samples the mixture, processes a cell when
// enough samples are in, and hands the new correction byte to the ECU.
// The view selector's item that shows the change against the loaded image.
inline constexpr int kChangeViewItem = 5;

class TuningCore {
  public:
    static constexpr uint8_t kMaxLearnedBcnByte = 255;

    // `setting` is read at every use; `log` takes the lines about settings
    // (each at most once per connection, see NewConnection).
    TuningCore(SettingLookup setting, LogSink log, TuningView& view, EcuMailbox& mailbox,
               char decimalSeparator = ',');

    TuningTables& Tables() { return *tables_; }
    const TuningTables& Tables() const { return *tables_; }

    // Fills the tables from the image: corrections (and the neighbour
    // predictions) from 0x7CF7, BCN from 0x75EF, ignition from 0x6DC8;
    // counts 0, Ratio 3.0. Keeps the cell tracking. Sets the view selector to
    // its first item and takes the band limits from the labels.
    void addtabl(std::span<const uint8_t, kImageSize> image, const GridLabels& rowLabels,
                 const GridLabels& columnLabels);
    // The image was edited outside the learning (the map editor at the
    // desk): the correction, BCN and ignition tables follow it; the learning
    // marks and the tables as loaded ("Изменение %") stay.
    void TakeTablesFrom(std::span<const uint8_t, kImageSize> image);
    // New grid header labels (the band limits follow them).
    void SetGridLabels(const GridLabels& rowLabels, const GridLabels& columnLabels);

    // One step per new diagnostic frame, with the values decoded for it.
    // A processing writes the cell's new correction byte into `image`.
    // `mixtureUsable` false (the window knows the mixture reading is not to
    // be trusted this frame) lets the frame count for stationarity but stores
    // no sample.
    // A correction byte the worker had queued reached the ECU's RAM (ok) or
    // not; only a written one counts in PRecCount.
    void CellWriteDone(bool ok) {
        if (ok) ++Tables().PRecCount;
    }
    // `seconds` is the frame's time on a steady clock; without it (NaN)
    // the rate filters cannot judge the frame and let it pass.
    void calculations(const live::LiveValues& values, bool NarrowBandMode,
                      std::span<uint8_t, kImageSize> image, bool mixtureUsable = true,
                      double seconds = std::nan(""));

    // The filters and limits (ReadControlSettings) for the frames to come;
    // the filter forgets the frames it has seen.
    void SetControls(const ControlSettings& controls);
    // Why the last frame was held from sampling (None: it was not).
    FilterHold LastHold() const { return hold_; }

    // A new connection: a setting that is still wrong is logged once more.
    void NewConnection() { reported_ = 0; }

    // Band limits, 17 each: -1, the midpoints of the labels, 10200 / 101.
    const std::array<float, kGridSize + 1>& RowBounds() const { return rowBounds_; }
    const std::array<float, kGridSize + 1>& ColBounds() const { return colBounds_; }

  private:
    enum Setting : uint8_t {
        kRpmStationarity,
        kThrottleStationarity,
        kStationaryCycles,
        kCyclesToProcess,
        kCorrectionWeight,
        kNeighbourWeight,
        kSettingCount
    };
    enum Problem : uint8_t { kNotANumber, kOutOfRange };

    // One narrowed band per row or column: lower (excluded), upper (included).
    struct Band {
        long double low = 0;
        long double high = 0;
    };
    using Bands = std::array<Band, kGridSize>;
    static void Narrow(const std::array<float, kGridSize + 1>& bounds, int32_t percent,
                       Bands& bands);

    // False when the step has to stop here (a setting that does not convert).
    bool Hit(int c, int r, const live::LiveValues& v, bool narrowBand,
             std::span<uint8_t, kImageSize> image, bool mixtureUsable);
    void StationaryFrame(int c, int r, const live::LiveValues& v, bool narrowBand,
                         bool mixtureUsable);
    bool Process(int c, int r, std::span<uint8_t, kImageSize> image);
    void ShowCell(int c, int r);
    void StatusLine();

    std::optional<int32_t> IntegerSetting(Setting s);
    std::optional<int32_t> ClampedSetting(Setting s, int32_t low, int32_t high);
    // nullopt with a log line when the text is no number; empty text gives
    // `whenEmpty` when one is given.
    std::optional<double> DecimalSetting(Setting s, std::optional<double> whenEmpty = {});
    void Report(Setting s, Problem p, const std::string& line);

    SettingLookup setting_;
    LogSink log_;
    TuningView& view_;
    EcuMailbox& mailbox_;
    char separator_;
    std::unique_ptr<TuningTables> tables_;

    std::array<float, kGridSize + 1> rowBounds_{};
    std::array<float, kGridSize + 1> colBounds_{};
    double weight_ = 0;  // W of this step

    uint32_t reported_ = 0;  // one bit per setting and problem
    // Last converted text of each decimal setting: the same text converts
    // to the same number, and converting allocates.
    std::array<std::string, kSettingCount> decimalText_{};
    std::array<std::optional<double>, kSettingCount> decimalValue_{};

    LearningFilter filter_;
    CorrectionLimits limits_;
    FilterHold hold_ = FilterHold::None;

    NumberText number_;
    StatusLineText statusLine_;
    std::array<char, 96> cellText_{};  // "3//5"
};

}  // namespace korvane::tuning
