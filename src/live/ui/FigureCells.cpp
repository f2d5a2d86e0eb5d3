#include "live/ui/FigureCells.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <cmath>
#include <numeric>

namespace korvane::live {

namespace {

int CellIndex(QChar c) {
    for (size_t i = 0; i < FigureCells::kCount; ++i)
        if (c == QLatin1Char(FigureCells::kCharacters[i])) return static_cast<int>(i);
    return -1;
}

bool Integral(qreal v) {
    return v == std::round(v);
}

// The surface the painter really draws on: the window's backing store, a
// pixmap or an image all come down to an image of some format.
QImage::Format SurfaceFormat(QPainter& p) {
    const QPaintEngine* engine = p.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster) return QImage::Format_Invalid;
    const QPaintDevice* surface = engine->paintDevice();
    if (surface && surface->devType() == QInternal::Image)
        return static_cast<const QImage*>(surface)->format();
    return QImage::Format_Invalid;
}

// The longest figure is five characters; anything longer is not a figure.
constexpr int kLongestText = 16;

}  // namespace

bool FigureCells::Draw(QPainter& p, QPoint origin, const QString& text, const QColor& ink,
                       const QColor& background) {
    if (text.isEmpty()) return true;  // the ground is all there is
    if (text.size() > kLongestText) return false;
    // Cells are copied pixel for pixel: no scaling, no half-pixel offsets,
    // nothing that blends differently from the text's own drawing.
    const QTransform& world = p.worldTransform();
    if (world.type() > QTransform::TxTranslate || !Integral(world.dx()) || !Integral(world.dy()) ||
        p.opacity() != 1.0 || p.compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    std::array<int, kLongestText> index{};
    const int count = static_cast<int>(text.size());
    for (int i = 0; i < count; ++i)
        if ((index[i] = CellIndex(text[i])) < 0) return false;
    const Set& set = SetFor(p, ink, background);
    if (!set.exact) return false;
    DrawCells(p, set, origin.x() * 64, origin.y(), index.data(), count);
    return true;
}

void FigureCells::DrawCells(QPainter& p, const Set& set, int x64, int baseline, const int* index,
                            int count) {
    // Each glyph where the text would put it: its whole pixel, and the
    // sub-pixel phase its own cell was drawn at.
    for (int i = 0; i < count; ++i) {
        const int phase = x64 & 63;
        const Cell& cell = set.cells[index[i] * set.phases + phase / set.phaseStep];
        if (!cell.image.isNull())
            p.drawImage(QPoint((x64 >> 6) + cell.left, baseline + set.top), cell.image);
        x64 += set.advance[index[i]];
    }
}

const FigureCells::Set& FigureCells::SetFor(QPainter& p, const QColor& ink,
                                            const QColor& background) {
    const QImage::Format format = SurfaceFormat(p);
    const qreal dpr = p.device()->devicePixelRatio();
    const QPainter::RenderHints hints = p.renderHints();
    for (const auto& s : sets_)
        if (s->ink == ink.rgba() && s->background == background.rgba() && s->format == format &&
            s->dpr == dpr && s->hints == hints && s->font == p.font())
            return *s;
    // Two colours (live and stale) in one face on one surface is the usual
    // case; a few more come with a theme or screen change.
    if (sets_.size() >= 8) sets_.erase(sets_.begin());
    sets_.push_back(Build(p.font(), ink.rgba(), background.rgba(), format, dpr, hints));
    return *sets_.back();
}

std::unique_ptr<FigureCells::Set> FigureCells::Build(const QFont& font, QRgb ink, QRgb background,
                                                     QImage::Format format, qreal dpr,
                                                     QPainter::RenderHints hints) {
    auto set = std::make_unique<Set>();
    set->font = font;
    set->ink = ink;
    set->background = background;
    set->format = format;
    set->dpr = dpr;
    set->hints = hints;
    // Only whole device pixels of a 32-bit surface on an opaque ground.
    if (format == QImage::Format_Invalid || QImage(1, 1, format).depth() != 32 || dpr != 1 ||
        qAlpha(background) != 255)
        return set;

    const QFontMetricsF metrics(font);
    int step = 64, widest = 0;
    for (size_t i = 0; i < kCount; ++i) {
        const qreal advance = metrics.horizontalAdvance(QLatin1Char(kCharacters[i])) * 64;
        if (advance <= 0 || !Integral(advance)) return set;
        set->advance[i] = static_cast<int>(advance);
        widest = std::max(widest, set->advance[i] / 64 + 1);
        step = std::gcd(step, set->advance[i] % 64);
    }
    // A face that kerns places glyphs other than by their own advances.
    for (size_t a = 0; a < kCount; ++a)
        for (size_t b = 0; b < kCount; ++b) {
            const QString pair = QString(QLatin1Char(kCharacters[a])) + QLatin1Char(kCharacters[b]);
            if (metrics.horizontalAdvance(pair) * 64 != set->advance[a] + set->advance[b])
                return set;
        }
    // Figures start on whole pixels, so a glyph falls only on the phases
    // the advances reach.
    set->phaseStep = step;
    set->phases = 64 / step;

    auto surface = [&](int width, int height) {
        QImage image(width, height, format);
        image.fill(QColor::fromRgba(background));
        return image;
    };
    auto painter = [&](QPainter& q) {
        q.setRenderHints(hints);
        q.setFont(font);
        q.setPen(QColor::fromRgba(ink));
    };
    const quint32 ground = *reinterpret_cast<const quint32*>(surface(1, 1).constScanLine(0));

    // Each phase: every character alone in its slot, with a margin all round
    // half as wide as the line is high. Ink reaching a slot's edge is ink a
    // cell would cut.
    const int ascent = static_cast<int>(std::ceil(metrics.ascent()));
    const int lineHeight = ascent + static_cast<int>(std::ceil(metrics.descent()));
    const int margin = lineHeight / 2;
    const int slot = widest + 2 * margin;
    const int height = lineHeight + 2 * margin;
    set->top = -ascent - margin;
    set->cells.resize(kCount * set->phases);
    std::vector<std::array<int, 2>> inked(kCount * set->phases);  // first, last column
    for (int k = 0; k < set->phases; ++k) {
        QImage image = surface(slot * static_cast<int>(kCount), height);
        {
            QPainter q(&image);
            painter(q);
            for (size_t i = 0; i < kCount; ++i)
                q.drawText(
                    QPointF(slot * static_cast<int>(i) + margin + k * step / 64.0, margin + ascent),
                    QString(QLatin1Char(kCharacters[i])));
        }
        for (size_t i = 0; i < kCount; ++i) {
            const int from = slot * static_cast<int>(i);
            int first = slot, last = -1;
            for (int y = 0; y < height; ++y) {
                const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y)) + from;
                for (int x = 0; x < slot; ++x)
                    if (line[x] != ground) {
                        if (y == 0 || y == height - 1 || x == 0 || x == slot - 1) return set;
                        first = std::min(first, x);
                        last = std::max(last, x);
                    }
            }
            const size_t at = i * set->phases + k;
            inked[at] = {first - margin, last - margin};
            if (last < first) continue;  // no ink at all
            Cell& cell = set->cells[at];
            cell.left = first - margin;
            cell.image = image.copy(from + first, 0, last - first + 1, height);
            // Opaque cells copy as plain rows, without a per-pixel blend.
            if (cell.image.hasAlphaChannel())
                cell.image = cell.image.convertToFormat(QImage::Format_RGB32);
            // Phases that round to the same glyph image share one cell.
            if (k > 0) {
                const Cell& before = set->cells[at - 1];
                if (before.left == cell.left && before.image == cell.image) cell = before;
            }
        }
    }
    // Cells are copied whole, so two glyphs side by side must not share a
    // column: at every phase, the first's last ink column lies left of the
    // second's first.
    for (size_t a = 0; a < kCount; ++a)
        for (size_t b = 0; b < kCount; ++b)
            for (int k = 0; k < set->phases; ++k) {
                const auto& first = inked[a * set->phases + k];
                const int next = k * step + set->advance[a];
                const auto& second = inked[b * set->phases + (next & 63) / step];
                if (first[1] < first[0] || second[1] < second[0]) continue;
                if (first[1] >= (next >> 6) + second[0]) return set;
            }

    // Last, the text's own drawing against the cells', so that the cells
    // are known to sit where the text's glyphs do: every character beside
    // several others, from a few phases.
    QString row;
    std::vector<int> index;
    int width = 0;
    for (const char* c = "0123456789,.-0-,6.5874-913.2,0"; *c; ++c) {
        row += QLatin1Char(*c);
        index.push_back(CellIndex(QLatin1Char(*c)));
        width += set->advance[index.back()];
    }
    const QSize probe(width / 64 + 2 + 2 * margin, height);
    for (int k : {0, set->phases / 4, set->phases / 2, set->phases - 1}) {
        QImage asText = surface(probe.width(), probe.height());
        {
            QPainter q(&asText);
            painter(q);
            q.drawText(QPointF(margin + k * step / 64.0, margin + ascent), row);
        }
        QImage fromCells = surface(probe.width(), probe.height());
        {
            QPainter q(&fromCells);
            painter(q);
            DrawCells(q, *set, margin * 64 + k * step, margin + ascent, index.data(),
                      static_cast<int>(index.size()));
        }
        if (asText != fromCells) return set;
    }
    set->exact = true;
    return set;
}

}  // namespace korvane::live
