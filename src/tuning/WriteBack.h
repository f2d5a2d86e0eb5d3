#pragma once
// Whole-table writes of the autotuning into the ECU's RAM: the correction
// table at session start and after an image load, the periodic BCN and
// neighbour rewrites with their retry rule, the start/stop of the tuning and
// the part-load ignition step. No widgets: the window hands in its timers,
// its waits and its log through the small interfaces below.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ecu/HandOver.h"
#include "tuning/TuningTables.h"

namespace korvane::tuning {

using ImageSpan = std::span<uint8_t, kImageSize>;

// The control byte the ECU gets when the tuning starts.
inline constexpr uint16_t kTuningByteAddress = 0x608A;
inline constexpr uint8_t kTuningByteValue = 150;

// A rewrite timer's interval while a failed hand-over waits to be retried.
inline constexpr int kRetryIntervalMs = 1000;
// How long a write that must not be dropped waits for the worker to finish
// the command it holds.
using ecu::kMailboxWaitMs;
using ecu::kMailboxWaitSliceMs;

using TableBytes = std::array<uint8_t, 256>;

// Raw bytes of the 256-byte tables; values that do not fit a byte are held
// at its limits rather than wrapped into another value.
uint8_t CorrectionByte(float correction);  // nearest integer to value × 128
uint8_t BcnByte(float airCharge);          // nearest integer to value × 3 / 8
uint8_t IgnitionByte(float degrees);       // nearest integer to value × 2, 0 .. 127.5°
inline constexpr float kMaxIgnitionDegrees = 127.5f;

// The ECU worker as the write-back sees it.
class EcuWriter {
  public:
    virtual ~EcuWriter() = default;
    // The port is open and a session stands.
    virtual bool LinkUp() const = 0;
    // The command word the worker still holds, "" when it is free.
    virtual std::string Pending() const = 0;
    // Fills the address, the byte cells and (for a value write) the length
    // byte, then posts the word; only when the mailbox is empty.
    virtual bool PostIfEmpty(const std::string& word, uint16_t address,
                             std::span<const uint8_t> bytes,
                             std::optional<uint8_t> lengthByte = std::nullopt) = 0;
};

// A timer of the window: the engine timer and the two rewrite timers.
class TimerControl {
  public:
    virtual ~TimerControl() = default;
    virtual bool Active() const = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual int Interval() const = 0;
    virtual void SetInterval(int ms) = 0;
};

// What else the write-back needs from the window.
class WriteBackHost {
  public:
    virtual ~WriteBackHost() = default;
    // Waits on the UI thread without running other handlers.
    virtual void Wait(int ms) = 0;
    virtual void Log(const std::string& line) = 0;
    // A neighbour rewrite changed the cell's correction and counts.
    virtual void CellRewritten(int column, int row) = 0;
};

struct WriteBackTimers {
    TimerControl& engine;
    TimerControl& bcn;        // Timer4
    TimerControl& neighbour;  // Timer6
};

class WriteBack {
  public:
    WriteBack(TuningTables& tables, ImageSpan image, EcuWriter& ecu, WriteBackHost& host,
              WriteBackTimers timers);

    // Intervals from the settings, taken at connect. A neighbour interval of
    // 0 (the setting left empty) keeps neighbour learning off.
    void SetIntervals(int bcnMs, int neighbourMs);
    int BcnInterval() const { return bcnInterval_; }
    int NeighbourInterval() const { return neighbourInterval_; }

    // The whole correction table from the image into the ECU; an
    // implausible one (CheckCorrectionTable) is not sent and the log says
    // why. The BCN and neighbour rewrites likewise send nothing taken from
    // an implausible image (TuningTables::SourceImage).
    void pishupopr();

    // Tuning start, in the steps the window interleaves with its widgets:
    // the control byte, then the flag, then the rewrite timers.
    void WriteTuningStartByte();
    void ActivateTuning() { tables_.TuningActive = true; }
    // While the link is not live (down, or the ECU has stopped answering)
    // the tuning's rewrites (Timer4, Timer6) write nothing; what falls due
    // meanwhile goes out at the first tick with a live link.
    void SetLinkLive(bool live) { linkLive_ = live; }
    // Neighbour learning from "Коэф. обучения соседних РТ" (also at an image
    // load) and Timer4. An empty text means off; text that is no number
    // returns false and changes nothing.
    bool ApplyNeighbourLearning(const std::string& coefficientText);
    bool StartRewriteTimers(const std::string& coefficientText);
    void StopTuning();

    void Timer4Timer();  // BCN rewrite
    void Timer6Timer();  // neighbour rewrite

    // "УОЗ на ЧН": inner columns follow the air charge between the outer ones;
    // the image takes the new bytes. Rows that have no slope keep their values.
    void PartLoadIgnition();
    // Writes the ignition table from the image into the ECU.
    void WriteIgnition();

    // "Вернуть поправку": the correction and BCN tables as the image held
    // them at its load (TuningTables::LoadedCorrection, LoadedBcn) go to the
    // ECU's RAM, then into the image and the tables (their cells start
    // afresh: no samples, no processings). Nothing is restored from an
    // implausible image (TuningTables::SourceImage). A table the worker could not
    // take stays as it was, and the log says so. Returns the tables restored
    // (0, 1 or 2).
    int RestoreLoaded();

    // The bytes each write sends, as the tables hold them now.
    TableBytes BcnBytes() const;
    TableBytes CorrectionBytes() const;
    TableBytes ImageTable(uint16_t address) const;

  private:
    bool LinkUp() const { return ecu_.LinkUp(); }
    // The rewrites of the tuning wait while the link is not live.
    bool LiveLink() const { return linkLive_ && LinkUp(); }
    // Waits in short steps until the worker has finished its command; logs
    // and returns false when it does not within kMailboxWaitMs.
    bool WaitForFreeMailbox(const std::string& what);
    void StoreInImage(uint16_t address, const TableBytes& bytes);

    TuningTables& tables_;
    ImageSpan image_;
    EcuWriter& ecu_;
    WriteBackHost& host_;
    WriteBackTimers timers_;
    int bcnInterval_ = 0;
    int neighbourInterval_ = 0;
    // Logs why a table is not written when check finds it implausible.
    bool Refused(const std::string& what, const CorrectionCheck& check);

    // A rewrite whose values were taken over but never reached the worker
    // (a busy worker, the link went down on the way) is owed at the next
    // tick, whatever the timer's interval.
    bool bcnOwed_ = false;
    bool neighbourOwed_ = false;
    bool linkLive_ = true;
    // The refusal of an implausible image has been logged.
    bool bcnRefused_ = false;
    bool neighbourRefused_ = false;
};

}  // namespace korvane::tuning
