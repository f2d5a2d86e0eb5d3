#pragma once
// The autotuning's whole-table changes: the tables the ECU's RAM should hold
// at session start and after an image load, the periodic BCN and neighbour
// rewrites, the start/stop of the tuning and the part-load ignition step.
// They change the image only; the ECU's RAM follows the image (ecu/RamSync),
// and the counts and lines that say a table is in the ECU follow the ECU's
// confirmation (Synced). No widgets: the window hands in its timers, its
// waits and its log through the small interfaces below.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ecu/Command.h"
#include "ecu/HandOver.h"
#include "tuning/TuningSeams.h"
#include "tuning/TuningTables.h"

namespace korvane::tuning {

using ImageSpan = std::span<uint8_t, kImageSize>;

// The control byte the ECU gets when the tuning starts.
inline constexpr uint16_t kTuningByteAddress = 0x608A;
inline constexpr uint8_t kTuningByteValue = 150;

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
    WriteBack(TuningTables& tables, ImageSpan image, ImageStore store, EcuWriter& ecu,
              WriteBackHost& host, WriteBackTimers timers);

    // Intervals from the settings, taken at connect. A neighbour interval of
    // 0 (the setting left empty) keeps neighbour learning off.
    void SetIntervals(int bcnMs, int neighbourMs);
    int BcnInterval() const { return bcnInterval_; }
    int NeighbourInterval() const { return neighbourInterval_; }

    // The tables of the image the ECU's RAM should hold (correction, BCN,
    // ignition), for a session's start or an image loaded into one. An
    // implausible correction table (CheckCorrectionTable) is left out and
    // the log says why; BCN and ignition from an implausible image
    // (TuningTables::SourceImage) likewise. The BCN and neighbour rewrites
    // also change nothing taken from an implausible image.
    std::vector<ecu::RamRange> pishupopr();
    // A write of the synchroniser ended: a confirmed BCN write counts in
    // GbcRecCount (a single cell counts through TuningCore::CellWriteDone),
    // and the lines of
    // «Вернуть поправку» wait for the ECU's confirmation of their table.
    void Synced(const ecu::SyncReport& report);
    // A disconnect or another image: a restore still waiting for the ECU
    // will not be confirmed any more, so its lines are dropped.
    void ForgetRestoreLines();

    // Tuning start, in the steps the window interleaves with its widgets:
    // the control byte, then the flag, then the rewrite timers.
    void WriteTuningStartByte();
    void ActivateTuning() { tables_.TuningActive = true; }
    // While the link is not live (down, or the ECU has stopped answering)
    // the tuning's rewrites (Timer4, Timer6) take nothing over; what falls
    // due meanwhile is taken over at the first tick with a live link.
    void SetLinkLive(bool live) { linkLive_ = live; }
    // Neighbour learning from "Коэф. обучения соседних РТ" (also at an image
    // load) and Timer4. An empty text means off; text that is no number
    // returns false and changes nothing.
    bool ApplyNeighbourLearning(const std::string& coefficientText);
    bool StartRewriteTimers(const std::string& coefficientText);
    void StopTuning();

    void Timer4Timer();  // BCN rewrite
    void Timer6Timer();  // neighbour rewrite

    // "УОЗ на ЧН": inner columns follow the air charge between the outer ones,
    // in the tables only: a preview the user confirms with WriteIgnition.
    // Rows that have no slope keep their values.
    void PartLoadIgnition();
    // The ignition table of the tables into the image (and so the ECU while
    // a session stands); its line only when it goes to the ECU.
    void WriteIgnition();

    // "Вернуть поправку": the correction and BCN tables as the image held
    // them at its load (TuningTables::LoadedCorrection, LoadedBcn) go into
    // the image (and so the ECU) and the tables (their cells start afresh:
    // no samples, no processings). Nothing is restored from an implausible
    // image (TuningTables::SourceImage) or without a session. Each table's
    // "возвращен" line follows the ECU's confirmation. Returns the tables
    // restored (0 or 2).
    int RestoreLoaded();

    // The bytes each write sends, as the tables hold them now.
    TableBytes BcnBytes() const;
    TableBytes CorrectionBytes() const;
    TableBytes ImageTable(uint16_t address) const;
    TableBytes IgnitionBytes() const;

  private:
    bool LinkUp() const { return ecu_.LinkUp(); }
    // The rewrites of the tuning wait while the link is not live.
    bool LiveLink() const { return linkLive_ && LinkUp(); }
    // Waits in short steps until the worker has finished its command; logs
    // and returns false when it does not within kMailboxWaitMs.
    bool WaitForFreeMailbox(const std::string& what);
    void StoreInImage(uint16_t address, const TableBytes& bytes);
    // The image's second BCN copy: the ECU's RAM has only ever been given
    // the first, so the copy changes in the image alone.
    void StoreBcnCopy(const TableBytes& bytes);

    TuningTables& tables_;
    ImageSpan image_;
    ImageStore store_;
    EcuWriter& ecu_;
    WriteBackHost& host_;
    WriteBackTimers timers_;
    int bcnInterval_ = 0;
    int neighbourInterval_ = 0;
    // Logs why a table is not written when check finds it implausible.
    bool Refused(const std::string& what, const CorrectionCheck& check);

    bool linkLive_ = true;
    // «Вернуть поправку»'s lines, logged when the ECU confirms the table.
    std::string restoredCorrectionLine_;
    std::string restoredBcnLine_;
    // The refusal of an implausible image has been logged.
    bool bcnRefused_ = false;
    bool neighbourRefused_ = false;
};

}  // namespace korvane::tuning
