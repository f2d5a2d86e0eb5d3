#pragma once
// What the learning step touches outside itself: the window's tuning parts
// and the ECU worker's mailbox. The tuning panel implements the view over its
// widgets and ImageMailbox hands the cells to the image; tests and the
// closed-loop run bring their own.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace korvane::tuning {

// The window parts the tuning writes or reads. Texts are UTF-8 and only valid
// during the call. Grid coordinates are those of StringGrid2 (17 × 17): work
// point (c, r) is grid cell (column c + 1, row r + 1), (0, 0) is the status
// cell.
class TuningView {
  public:
    virtual ~TuningView() = default;
    // Selected item of ComboBox1 (0 "РТ" .. 4 "УОЗ"), -1 with none selected.
    virtual int ComboBox1Index() const = 0;
    // Sets ComboBox1 to its first item "РТ" without refilling the grid.
    virtual void SelectFirstView() = 0;
    // Selected item of RadioGroup1; the tuning learns only on item 0
    // ("Поправка и БЦН").
    virtual int RadioGroup1Index() const = 0;
    virtual void SetGridCell(int column, int row, std::string_view text) = 0;
    // Moves the grid's current (red) cell.
    virtual void SetCurrentCell(int column, int row) = 0;
    virtual void SetLabel5(std::string_view text) = 0;
    virtual void SetLabel7(std::string_view text) = 0;
    // The status bar's sixth panel (index 5), the tuning's status line.
    virtual void SetStatusPanel5(std::string_view text) = 0;
    // The trend and value list update of the live views.
    virtual void grafxx() = 0;
};

// The view of a tuning that nobody looks at (a run over a drive log, the
// simulator's closed loop): it stays on "РТ" and the tuning mode on
// "Поправка и БЦН", so the tuning learns.
class UnseenTuningView final : public TuningView {
  public:
    int ComboBox1Index() const override { return 0; }
    void SelectFirstView() override {}
    int RadioGroup1Index() const override { return 0; }
    void SetGridCell(int, int, std::string_view) override {}
    void SetCurrentCell(int, int) override {}
    void SetLabel5(std::string_view) override {}
    void SetLabel7(std::string_view) override {}
    void SetStatusPanel5(std::string_view) override {}
    void grafxx() override {}
};

// Where the writers put their bytes: the image, which tells whoever keeps
// the ECU's RAM in step which range changed.
using ImageStore = std::function<void(uint16_t address, std::span<const uint8_t> bytes)>;

// What became of a single correction byte handed to the ECU worker.
enum class CellWrite {
    Written,  // in the ECU's RAM already
    Queued,   // in the image; TuningCore::CellWriteDone says when the ECU has it
    Dropped,  // never reaches the ECU
};

// The ECU worker as the learning step hands it a single correction byte.
class EcuMailbox {
  public:
    virtual ~EcuMailbox() = default;
    // IsComConnected = 1 and IsECUConnected = 1.
    virtual bool LinkUp() const = 0;
    // "remake" of one byte at the RAM address (high byte first).
    virtual CellWrite PostRemake(std::array<uint8_t, 2> adressdata, uint8_t value) = 0;
};

// A setting's text by key (empty when absent), read at the moment of use.
using SettingLookup = std::function<std::string(const std::string& key)>;
// One line for the log view.
using LogSink = std::function<void(const std::string& line)>;

}  // namespace korvane::tuning
