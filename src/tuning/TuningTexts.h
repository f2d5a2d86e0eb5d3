#pragma once
// Number texts of the tuning step, written into a buffer of the caller so
// that a frame allocates nothing. They read exactly like the platform's
// general form and fixed patterns.
#include <array>
#include <cstdint>
#include <string_view>

namespace korvane::tuning {

class NumberText {
  public:
    // Fixed pattern with `decimals` digits ("0.0", "0.000").
    std::string_view Fixed(double value, int decimals, char decimalSeparator);
    // The general form; whole numbers (the counts the grid shows) are
    // written without allocating.
    std::string_view General(double value, char decimalSeparator);

  private:
    std::string_view Copy(std::string_view text);
    // Wide enough for the largest double in a fixed pattern.
    std::array<char, 352> buf_{};
};

// "GBCRec//PRec/Analis//All:2//15/120//4000".
class StatusLineText {
  public:
    std::string_view Format(int32_t gbcRec, int32_t pRec, int32_t analis, int32_t all);

  private:
    std::array<char, 96> buf_{};
};

}  // namespace korvane::tuning
