#include "chart/ChartPicture.h"

#include "chart/ChartView.h"

#include <QFontMetrics>
#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

// Drawing a dense trace runs about a third faster with the newer vector
// instructions; the loader picks the version this processor can run. (Not in
// sanitizer builds: the picking runs before the sanitizer is set up.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) &&                     \
    !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define CHART_FAST_PATH __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define CHART_FAST_PATH
#endif

namespace
{

constexpr qreal MarkerSize = 5.0;
/// Side of the square dot of a lone point without markers, in pixels (at
/// least the pen's width).
constexpr int LoneDotSize = 3;
/// Segments narrower than this many pixels are drawn as bars.
constexpr double SteepSegment = 2.5;
/// Legend: distance from the plot area's corner, inner margin, swatch
/// length and the gap after it, in pixels.
constexpr int LegendOffset = 6;
constexpr int LegendPadding = 4;
constexpr int LegendSwatch = 18;
constexpr int LegendGap = 5;
const QColor LegendFrame(0x90, 0x90, 0x90);
const QColor LegendText(0x20, 0x20, 0x20);

/// The pixels of the picture while it is drawn.
struct Canvas {
    uchar *bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    qreal ratio;
    QPoint origin; // the plot's pixel at bits
};

/// r & box, inline: bars are cut thousands of times a paint.
QRect Clipped(const QRect &r, const QRect &box)
{
    const int left = std::max(r.left(), box.left());
    const int top = std::max(r.top(), box.top());
    const int right = std::min(r.right(), box.right());
    const int bottom = std::min(r.bottom(), box.bottom());
    return left > right || top > bottom ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

/// QRectF::contains() of a rectangle of positive size, inline.
struct AreaTest {
    double left, right, top, bottom;

    explicit AreaTest(const QRectF &r) : left(r.left()), right(r.right()), top(r.top()), bottom(r.bottom())
    {
        if (!(r.width() > 0 && r.height() > 0))
            left = right + 1; // contains nothing
    }
    bool contains(const QPointF &p) const
    {
        return p.x() >= left && p.x() <= right && p.y() >= top && p.y() <= bottom;
    }
};

/// The part of the segment a-b inside `box` (Liang-Barsky); false when none.
bool ClipSegment(QPointF &a, QPointF &b, const QRectF &box)
{
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF from = a;
    if (t1 < 1)
        b = QPointF(from.x() + t1 * dx, from.y() + t1 * dy);
    if (t0 > 0)
        a = QPointF(from.x() + t0 * dx, from.y() + t0 * dy);
    return true;
}

/// Fills the bars of one line (whole pixels, in the plot's coordinates) with
/// an opaque colour straight into the picture's pixels. While the bars follow
/// each other along the line, every pixel column collects the span they
/// cover and is filled once when the line has moved on: a dense band is
/// written pixel by pixel once, not once per bar. Bars in a chain touch one
/// another, so a column's span has no gap to fill wrongly; a bar that does
/// not follow on from the last one starts a new chain.
class BarFiller
{
public:
    /// `dashes`: per pixel column modulo its size, whether bars are drawn
    /// there (a dashed pen); empty: everywhere.
    BarFiller(const Canvas &canvas, QRgb colour, const std::vector<char> &dashes)
        : m_canvas(canvas), m_colour(colour), m_dashes(dashes),
          m_top(std::size_t(std::max(canvas.width, 0)), INT_MAX),
          m_bottom(std::size_t(std::max(canvas.width, 0)), INT_MIN)
    {
    }
    ~BarFiller() { flush(m_canvas.width); }

    void add(QRect r, bool followsOn)
    {
        if (m_canvas.ratio != 1.0)
            r = QRect(
                QPoint(int(std::floor(r.left() * m_canvas.ratio)), int(std::floor(r.top() * m_canvas.ratio))),
                QPoint(int(std::ceil((r.right() + 1) * m_canvas.ratio)) - 1,
                       int(std::ceil((r.bottom() + 1) * m_canvas.ratio)) - 1));
        r.translate(-m_canvas.origin);
        r = Clipped(r, QRect(0, 0, m_canvas.width, m_canvas.height));
        if (r.isEmpty())
            return;
        if (!followsOn || r.left() < m_first)
            flush(m_canvas.width);
        else
            flush(r.left() - ChainSlack); // the line has moved on past these
        m_first = std::min(m_first, r.left());
        m_last = std::max(m_last, r.right());
        for (int x = r.left(); x <= r.right(); ++x) {
            m_top[std::size_t(x)] = std::min(m_top[std::size_t(x)], r.top());
            m_bottom[std::size_t(x)] = std::max(m_bottom[std::size_t(x)], r.bottom());
        }
    }

private:
    /// Columns this far behind the newest bar can still be reached by the
    /// next one (points within a column wander a little either way).
    static constexpr int ChainSlack = 3;

    /// Fills and forgets the collected columns left of `end`.
    void flush(int end)
    {
        const int stop = std::min(end, m_last + 1);
        for (int x = m_first; x < stop; ++x) {
            int &top = m_top[std::size_t(x)];
            int &bottom = m_bottom[std::size_t(x)];
            if (top <= bottom &&
                (m_dashes.empty() || m_dashes[std::size_t(x + m_canvas.origin.x()) % m_dashes.size()])) {
                uchar *row = m_canvas.bits + qsizetype(top) * m_canvas.bytesPerLine + qsizetype(x) * 4;
                for (int y = top; y <= bottom; ++y, row += m_canvas.bytesPerLine)
                    *reinterpret_cast<QRgb *>(row) = m_colour;
            }
            top = INT_MAX;
            bottom = INT_MIN;
        }
        if (stop > m_first)
            m_first = stop;
        if (m_first > m_last) { // nothing left
            m_first = INT_MAX;
            m_last = INT_MIN;
        }
    }

    const Canvas &m_canvas;
    QRgb m_colour;
    const std::vector<char> &m_dashes;
    std::vector<int> m_top;
    std::vector<int> m_bottom;
    int m_first = INT_MAX; // collected columns, first to last
    int m_last = INT_MIN;
};

/// Pixel columns of a dashed pen's pattern: on where its dashes are.
std::vector<char> DashColumns(const QPen &pen, qreal ratio)
{
    std::vector<char> columns;
    if (pen.style() == Qt::SolidLine || pen.style() == Qt::NoPen)
        return columns;
    const QList<qreal> pattern = pen.dashPattern();
    const double unit = std::max(1, pen.width()) * ratio;
    for (qsizetype i = 0; i < pattern.size(); ++i)
        columns.insert(columns.end(), std::size_t(std::max(1.0, std::round(pattern[i] * unit))), i % 2 == 0);
    return columns;
}

/// Paints trace `c`, touching only pixels in `part`.
CHART_FAST_PATH
void PaintTrace(QPainter &painter, const Canvas &canvas, const ChartTrace &c, const ChartMap &map,
                const QRect &part)
{
    const QList<QPointF> &points = c.points();
    if (!c.visible || points.isEmpty())
        return;
    const QRectF &a = map.area();
    const AreaTest inArea(a);
    const QRect barArea = a.toAlignedRect() & part;
    // Segments reaching no pixel of `part` are left out (the painter would
    // cut them away).
    const double reach = c.pen.widthF() + 2;
    const double partLeft = part.left() - reach;
    const double partRight = part.right() + 1 + reach;

    // Each line in pixels, cut where it leaves the plot area.
    // Steep segments (dense data: every pixel column goes from its first
    // point down to its lowest, up to its highest and on to its last) become
    // bars of the pen's width, merged per column; the rest are handed over as
    // separate segments. The raster engine fills bars and draws single
    // segments straight, where a wide polyline zigzagging up and down goes
    // through the path stroker and costs hundreds of times more.
    const int width = std::max(1, c.pen.width());
    QVarLengthArray<QPointF, 4096> segments;
    const std::vector<char> dashes = DashColumns(c.pen, canvas.ratio);
    BarFiller bars(canvas, c.pen.color().rgba(), dashes);
    bool chained = false; // the last segment was a bar
    int lastLeft = 0;
    const auto addSegment = [&](const QPointF &p, const QPointF &q) {
        if (std::abs(q.x() - p.x()) >= SteepSegment) {
            if (std::max(p.x(), q.x()) >= partLeft && std::min(p.x(), q.x()) <= partRight) {
                segments.append(p);
                segments.append(q);
            }
            chained = false;
            return;
        }
        const int left = int(std::floor((p.x() + q.x() - width) / 2 + 0.5));
        // Half the pen's width beyond either end, as a square cap would.
        const int top = int(std::floor(std::min(p.y(), q.y()) - width / 2.0 + 0.5));
        const int bottom = top + std::max(int(std::floor(std::abs(q.y() - p.y()) + 0.5)), 0) + width - 1;
        bars.add(Clipped(QRect(left, top, width, bottom - top + 1), barArea),
                 chained && std::abs(left - lastLeft) <= width);
        chained = true;
        lastLeft = left;
    };
    // With X in order, only the points from just before the part to just
    // after it matter.
    const double xLow = map.toValue(QPointF(partLeft, 0)).x();
    const double xHigh = map.toValue(QPointF(partRight, 0)).x();
    const auto byX = [](const QPointF &p, double x) { return p.x() < x; };
    for (const auto &[begin, end] : c.lines()) {
        qsizetype first = begin, stop = end;
        if (c.sortedX()) {
            first = std::max(
                begin, qsizetype(std::lower_bound(points.begin() + begin, points.begin() + end, xLow, byX) -
                                 points.begin()) -
                           1);
            stop = std::min(
                end, qsizetype(std::lower_bound(points.begin() + first, points.begin() + end, xHigh, byX) -
                               points.begin()) +
                         1);
            if (stop - first < 2)
                continue;
        }
        chained = false;
        QPointF previous = map.toPixel(points[first]);
        bool previousInside = inArea.contains(previous);
        for (qsizetype i = first + 1; i < stop; ++i) {
            const QPointF current = map.toPixel(points[i]);
            const bool inside = inArea.contains(current);
            if (previousInside && inside) {
                addSegment(previous, current);
            } else {
                QPointF from = previous, to = current;
                if (ClipSegment(from, to, a))
                    addSegment(from, to);
                else
                    chained = false;
            }
            previous = current;
            previousInside = inside;
        }
    }
    if (!segments.isEmpty()) {
        painter.setPen(c.pen);
        painter.drawLines(segments.constData(), int(segments.size() / 2));
    }

    if (!c.markers) {
        // A lone point (the first sample, one between gaps) is a dot.
        const int side = std::max(LoneDotSize, width);
        for (qsizetype i : c.lone()) {
            const QPointF at = map.toPixel(points[i]);
            if (inArea.contains(at))
                bars.add(QRect(int(std::floor(at.x() - side / 2.0 + 0.5)),
                               int(std::floor(at.y() - side / 2.0 + 0.5)), side, side) &
                             barArea,
                         false);
        }
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(c.pen.color(), 1));
    painter.setBrush(c.pen.color());
    const double r = MarkerSize / 2;
    const auto marker = [&](const QPointF &p) {
        const QPointF at = map.toPixel(p);
        if (inArea.contains(at))
            painter.drawEllipse(at, r, r);
    };
    for (const auto &[begin, end] : c.lines())
        for (qsizetype i = begin; i < end; ++i)
            marker(points[i]);
    for (qsizetype i : c.lone())
        marker(points[i]);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
}

} // namespace

bool ChartTrace::sameGrid(const ThinColumns *grid) const
{
    if (!grid)
        return !m_gridded;
    return m_gridded && m_grid.origin == grid->origin && m_grid.perUnit == grid->perUnit &&
           m_grid.firstColumn == grid->firstColumn;
}

bool ChartTrace::isDrawnFrom(const ChartChannel &channel, double xMin, double xMax, int columns,
                             const ThinColumns *grid) const
{
    return m_revision == channel.revision() && m_xMin == xMin && m_xMax == xMax && m_columns == columns &&
           m_markers == markers && sameGrid(grid);
}

void ChartTrace::thin(const ChartChannel &channel, double xMin, double xMax, int columns,
                      const ThinColumns *grid)
{
    ThinForDisplay(channel, xMin, xMax, columns, m_thinned, ThinMethod::Summarised, grid, &m_memo);
    // Lone points are drawn too (as a dot or a marker), so they count.
    m_yExtent = YExtentInView(m_thinned, xMin, xMax, true);

    m_sortedX = std::is_sorted(m_thinned.points.begin(), m_thinned.points.end(),
                               [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    m_lines.clear();
    m_lone.clear();
    for (qsizetype p = 0; p < m_thinned.pieceCount(); ++p) {
        const qsizetype begin = m_thinned.pieceBegin(p);
        const qsizetype end = m_thinned.pieceEnds[std::size_t(p)];
        if (end - begin >= 2)
            m_lines.emplace_back(begin, end);
        else
            m_lone.push_back(begin);
    }
    if (qsizetype(m_lines.size()) > MaxLines) {
        m_lines[MaxLines - 1].second = m_lines.back().second;
        m_lines.resize(MaxLines);
    }

    m_revision = channel.revision();
    m_count = channel.count();
    m_xMin = xMin;
    m_xMax = xMax;
    m_columns = columns;
    m_markers = markers;
    m_gridded = grid != nullptr;
    m_grid = grid ? *grid : ThinColumns{};
}

void ChartTrace::forget()
{
    m_thinned.clear();
    m_memo.clear();
    m_lines.clear();
    m_lone.clear();
    m_yExtent = {1, -1, 1, -1, 0, 0};
    m_sortedX = false;
    m_revision = ~quint64(0);
    m_count = 0;
}

bool ChartTrace::onlyAppendedTo(const ChartChannel &channel, double &fromX) const
{
    fromX = std::numeric_limits<double>::infinity();
    if (channel.revision() == m_revision)
        return true;
    // Every append bumps the revision by one; a mark or a clear does too
    // without adding a point.
    const qsizetype added = channel.count() - m_count;
    if (m_revision == ~quint64(0) || added <= 0 || channel.revision() - m_revision != quint64(added))
        return false;
    for (qsizetype i = std::max<qsizetype>(m_count - 1, 0); i < channel.count(); ++i) {
        const double x = channel.x(i);
        if (!std::isfinite(x))
            return false;
        fromX = std::min(fromX, x);
    }
    return true;
}

bool ChartTrace::staysDrawn(const ChartChannel &channel, double xMin, double xMax, int columns,
                            const ThinColumns *grid)
{
    if (isDrawnFrom(channel, xMin, xMax, columns, grid))
        return true;
    if (m_xMin != xMin || m_xMax != xMax || m_columns != columns || m_markers != markers || m_count == 0 ||
        !sameGrid(grid))
        return false;
    double fromX = 0;
    if (!onlyAppendedTo(channel, fromX) || !(fromX > xMax))
        return false;
    m_revision = channel.revision();
    m_count = channel.count();
    return true;
}

QList<QPointF> ChartTrace::linePoints(int line) const
{
    const auto [begin, end] = m_lines[std::size_t(line)];
    return m_thinned.points.mid(begin, end - begin);
}

QList<QPointF> ChartTrace::lonePoints() const
{
    QList<QPointF> points;
    for (qsizetype i : m_lone)
        points.append(m_thinned.points[i]);
    return points;
}

ChartRange ChartPicture::yExtentInView() const
{
    ChartRange all{1, -1, 1, -1, 0, 0};
    for (const ChartTrace &t : m_traces)
        all = ChartJoined(all, t.yExtentInView());
    return all;
}

QRegion ChartPicture::prepare(const QSize &size, qreal ratio)
{
    const QSize pixels = size * ratio;
    if (m_image.size() != pixels || m_image.devicePixelRatio() != ratio) {
        m_image = QImage(pixels, QImage::Format_RGB32); // opaque: copied out without blending
        m_image.setDevicePixelRatio(ratio);
        m_dirty = true;
    }
    if (!m_dirty)
        return {};
    m_dirty = false;
    m_stale = false;
    m_direct = QRegion();
    m_bits = m_image.bits(); // before a painter opens on the picture
    return QRect(QPoint(0, 0), size);
}

void ChartPicture::scroll(const QRect &moved, int dx, const QRegion &exposed)
{
    // The screen shifts what it shows; the picture itself is not shifted
    // (that would cost as much as drawing it): outside the parts drawn anew
    // it is out of date from now on, and drawn whole again at the first
    // paint that needs more of it than those parts.
    if (m_dirty || m_image.devicePixelRatio() != 1.0 || !m_image.rect().contains(moved) || dx < 0 ||
        dx >= moved.width()) {
        m_dirty = true;
        return;
    }
    m_stale = true;
    // What was still to be drawn moves along with the pixels.
    m_direct = ((m_direct & moved).translated(-dx, 0) & moved) + (m_direct - moved) + exposed;
}

QRegion ChartPicture::takeDirect(const QRegion &part)
{
    if (!m_stale || m_dirty)
        return {};
    if (!(part - m_direct).isEmpty()) { // more than the parts left to draw: all anew
        m_dirty = true;
        return {};
    }
    m_direct -= part;
    return part;
}

void ChartPicture::drawTraces(QPainter &painter, const ChartMap &map, const QRect &part)
{
    drawTracesOn(m_bits, m_image, QPoint(0, 0), painter, map, part);
}

void ChartPicture::drawTracesOn(uchar *bits, const QImage &target, const QPoint &origin, QPainter &painter,
                                const ChartMap &map, const QRect &part)
{
    // The traces cut their lines at the plot area themselves: a clip on the
    // painter would slow every bar and segment down.
    const Canvas canvas{
        bits, target.bytesPerLine(), target.width(), target.height(), target.devicePixelRatio(), origin};
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const ChartTrace &t : m_traces)
        PaintTrace(painter, canvas, t, map, part);
}

bool ChartPicture::setLegend(std::vector<ChartLegendEntry> entries)
{
    if (entries == m_legend)
        return false;
    m_legend = std::move(entries);
    m_legendPicture = QImage();
    m_nameWidths.clear();
    return true;
}

QRect ChartPicture::legendRect(const QRectF &area, const QFont &font) const
{
    if (m_legend.empty())
        return {};
    // One column of names, or more side by side when they do not fit the
    // height of the plot area.
    const QFontMetrics fm(font);
    if (m_nameWidths.size() != m_legend.size() || m_nameFont != font) {
        m_nameFont = font;
        m_nameWidths.clear();
        for (const ChartLegendEntry &e : m_legend)
            m_nameWidths.push_back(fm.horizontalAdvance(e.name));
    }
    const int lineHeight = fm.height();
    const int rowsFit = std::max(1, (int(area.height()) - 2 * (LegendOffset + LegendPadding)) / lineHeight);
    const int rows = std::min(int(m_legend.size()), rowsFit);
    const int columns = (int(m_legend.size()) + rows - 1) / rows;
    int width = 0;
    for (int c = 0; c < columns; ++c) {
        int nameWidth = 0;
        for (int r = 0; r < rows && c * rows + r < int(m_legend.size()); ++r)
            nameWidth = std::max(nameWidth, m_nameWidths[std::size_t(c * rows + r)]);
        width += LegendSwatch + LegendGap + nameWidth + LegendPadding;
    }
    return {int(area.left()) + LegendOffset, int(area.top()) + LegendOffset, width + LegendPadding,
            rows * lineHeight + 2 * LegendPadding};
}

void ChartPicture::drawLegend(QPainter &painter, const QRectF &area, const QFont &font)
{
    const QRect box = legendRect(area, font);
    if (box.isEmpty())
        return;
    const qreal ratio = m_image.devicePixelRatio();
    if (m_legendPicture.isNull() || m_legendFont != font || m_legendPicture.devicePixelRatio() != ratio ||
        m_legendPicture.deviceIndependentSize() != QSizeF(box.size())) {
        m_legendFont = font;
        m_legendPicture = QImage(box.size() * ratio, QImage::Format_RGB32);
        m_legendPicture.setDevicePixelRatio(ratio);
        m_legendPicture.fill(Qt::white);
        QPainter p(&m_legendPicture);
        const QFontMetrics fm(font);
        const int lineHeight = fm.height();
        const int rows = (box.height() - 2 * LegendPadding) / lineHeight;
        p.setPen(LegendFrame);
        p.drawRect(QRect(QPoint(0, 0), box.size()).adjusted(0, 0, -1, -1));
        p.setFont(font);
        int left = LegendPadding;
        int columnWidth = 0;
        for (std::size_t i = 0; i < m_legend.size(); ++i) {
            const int row = int(i) % rows;
            if (row == 0 && i > 0) {
                left += columnWidth + LegendPadding;
                columnWidth = 0;
            }
            const ChartLegendEntry &e = m_legend[i];
            const int top = LegendPadding + row * lineHeight;
            QPen swatch = e.pen;
            swatch.setCapStyle(Qt::FlatCap);
            p.setPen(swatch);
            p.drawLine(QPointF(left, top + lineHeight / 2.0),
                       QPointF(left + LegendSwatch, top + lineHeight / 2.0));
            p.setPen(LegendText);
            const int textLeft = left + LegendSwatch + LegendGap;
            p.drawText(QRect(textLeft, top, box.width() - textLeft, lineHeight),
                       Qt::AlignLeft | Qt::AlignVCenter, e.name);
            columnWidth = std::max(columnWidth, LegendSwatch + LegendGap + fm.horizontalAdvance(e.name));
        }
    }
    painter.drawImage(box.topLeft(), m_legendPicture);
}
