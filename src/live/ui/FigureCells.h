#pragma once
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>
#include <memory>
#include <vector>

namespace korvane::live {

// The dashboard's figures drawn from pre-drawn glyph cells.
//
// Every figure changes with every poll, and drawing it as text shapes it
// and blends each glyph's coverage into the panel anew, which is most of a
// tick's time. The figures are made of a dozen characters, so each glyph is
// drawn once per sub-pixel phase it can fall on, in the figure's colour on
// the panel's plain background, and the columns its ink covers are kept; a
// figure is then a row of cell copies at the places the text's own advances
// give. Cells are used only where they give the text's very pixels: for each
// face, colour and surface this is checked once by drawing every pair of
// characters at every phase both ways (a face that kerns, glyphs whose ink
// shares a pixel column, ink beyond the cell, a scaled surface all fail the
// check), and the text is drawn as text otherwise.
class FigureCells {
  public:
    // The characters that have cells.
    static constexpr char kCharacters[] = "0123456789,.-";
    static constexpr size_t kCount = sizeof(kCharacters) - 1;

    // Draws `text` with its baseline's left end at `origin`, in the
    // painter's font and `ink`, on a plain `background` the caller has
    // already filled. Returns false, having drawn nothing, when the cells
    // cannot give the text's own pixels: the caller draws it as text.
    bool Draw(QPainter& p, QPoint origin, const QString& text, const QColor& ink,
              const QColor& background);

  private:
    struct Cell {
        QImage image;  // the ink's columns, the line's height and a margin
        int left = 0;  // the first column, from the glyph's whole-pixel place
    };
    struct Set {
        QFont font;
        QRgb ink = 0, background = 0;
        QImage::Format format = QImage::Format_Invalid;
        qreal dpr = 1;
        QPainter::RenderHints hints;
        bool exact = false;
        int top = 0;         // the cells' first row, from the baseline
        int phaseStep = 64;  // in 1/64 pixel: the phases the advances reach
        int phases = 1;
        std::array<int, kCount> advance{};  // in 1/64 pixel
        std::vector<Cell> cells;            // by character, then phase
    };
    const Set& SetFor(QPainter& p, const QColor& ink, const QColor& background);
    static std::unique_ptr<Set> Build(const QFont& font, QRgb ink, QRgb background,
                                      QImage::Format format, qreal dpr,
                                      QPainter::RenderHints hints);
    // `x64` in 1/64 pixel: the probe starts at every phase.
    static void DrawCells(QPainter& p, const Set& set, int x64, int baseline, const int* index,
                          int count);
    std::vector<std::unique_ptr<Set>> sets_;
};

}  // namespace korvane::live
