#include "chart/ChartPicture.h"

#include "chart/ChartView.h"

#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <climits>
#include <cmath>

namespace
{

constexpr qreal MarkerSize = 5.0;
/// Side of the square dot of a lone point without markers, in pixels (at
/// least the pen's width).
constexpr int LoneDotSize = 3;
/// Segments narrower than this many pixels are drawn as bars.
constexpr double SteepSegment = 2.5;

/// The pixels of the picture while it is drawn.
struct Canvas {
    uchar *bits;
    qsizetype bytesPerLine;
    int width;
    int height;
    qreal ratio;
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
    BarFiller(const Canvas &canvas, QRgb colour)
        : m_canvas(canvas), m_colour(colour), m_top(std::size_t(std::max(canvas.width, 0)), INT_MAX),
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
        r &= QRect(0, 0, m_canvas.width, m_canvas.height);
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
            if (top <= bottom) {
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
    std::vector<int> m_top;
    std::vector<int> m_bottom;
    int m_first = INT_MAX; // collected columns, first to last
    int m_last = INT_MIN;
};

void PaintTrace(QPainter &painter, const Canvas &canvas, const ChartTrace &c, const ChartMap &map)
{
    const QList<QPointF> &points = c.points();
    if (points.isEmpty())
        return;
    const QRectF &a = map.area();
    const QRect barArea = a.toAlignedRect();

    // Each line in pixels, cut where it leaves the plot area.
    // Steep segments (dense data: every pixel column goes from its first
    // point down to its lowest, up to its highest and on to its last) become
    // bars of the pen's width, merged per column; the rest are handed over as
    // separate segments. The raster engine fills bars and draws single
    // segments straight, where a wide polyline zigzagging up and down goes
    // through the path stroker and costs hundreds of times more.
    const int width = std::max(1, c.pen.width());
    QVarLengthArray<QPointF, 4096> segments;
    BarFiller bars(canvas, c.pen.color().rgba());
    bool chained = false; // the last segment was a bar
    int lastLeft = 0;
    const auto addSegment = [&](const QPointF &p, const QPointF &q) {
        if (std::abs(q.x() - p.x()) >= SteepSegment) {
            segments.append(p);
            segments.append(q);
            chained = false;
            return;
        }
        const int left = int(std::floor((p.x() + q.x() - width) / 2 + 0.5));
        // Half the pen's width beyond either end, as a square cap would.
        const int top = int(std::floor(std::min(p.y(), q.y()) - width / 2.0 + 0.5));
        const int bottom = top + std::max(int(std::floor(std::abs(q.y() - p.y()) + 0.5)), 0) + width - 1;
        bars.add(QRect(left, top, width, bottom - top + 1) & barArea,
                 chained && std::abs(left - lastLeft) <= width);
        chained = true;
        lastLeft = left;
    };
    for (const auto &[begin, end] : c.lines()) {
        chained = false;
        QPointF previous = map.toPixel(points[begin]);
        bool previousInside = a.contains(previous);
        for (qsizetype i = begin + 1; i < end; ++i) {
            const QPointF current = map.toPixel(points[i]);
            const bool inside = a.contains(current);
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
            if (a.contains(at))
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
        if (a.contains(at))
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

bool ChartTrace::isDrawnFrom(const ChartChannel &channel, double xMin, double xMax, int columns) const
{
    return m_revision == channel.revision() && m_xMin == xMin && m_xMax == xMax && m_columns == columns &&
           m_markers == markers;
}

void ChartTrace::thin(const ChartChannel &channel, double xMin, double xMax, int columns)
{
    ThinForDisplay(channel, xMin, xMax, columns, m_thinned);
    // Lone points are drawn too (as a dot or a marker), so they count.
    m_yExtent = YExtentInView(m_thinned, xMin, xMax, true);

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
    m_xMin = xMin;
    m_xMax = xMax;
    m_columns = columns;
    m_markers = markers;
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

bool ChartPicture::prepare(const QSize &size, qreal ratio)
{
    const QSize pixels = size * ratio;
    if (m_image.size() != pixels || m_image.devicePixelRatio() != ratio) {
        m_image = QImage(pixels, QImage::Format_RGB32); // opaque: copied out without blending
        m_image.setDevicePixelRatio(ratio);
        m_dirty = true;
    }
    if (!m_dirty)
        return false;
    m_dirty = false;
    m_bits = m_image.bits(); // before a painter opens on the picture
    return true;
}

void ChartPicture::drawTraces(QPainter &painter, const ChartMap &map)
{
    // The traces cut their lines at the plot area themselves: a clip on the
    // painter would slow every bar and segment down.
    const Canvas canvas{m_bits, m_image.bytesPerLine(), m_image.width(), m_image.height(),
                        m_image.devicePixelRatio()};
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const ChartTrace &t : m_traces)
        PaintTrace(painter, canvas, t, map);
}
