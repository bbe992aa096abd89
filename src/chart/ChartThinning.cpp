#include "chart/ChartThinning.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace
{

enum Side : int { Left = -1, Inside = 0, Right = 1 };

/// Column parts of at least this many points are kept in a memo; one is
/// taken from there when at most this many of its points are new.
constexpr qsizetype MemoPart = 256;
constexpr qsizetype MemoEdge = 64;
/// Columns of fewer points than this on average are taken point by point.
constexpr qsizetype FewPerColumn = 16;

/// Columns of at least this many points have their ends fetched ahead.
constexpr qsizetype PrefetchedColumn = 256;

/// One pass over a channel in index order. The state is the piece being
/// built, the run of points in the current pixel column that is not yet
/// written out, and what is known of the previous point.
class Thinner
{
public:
    Thinner(const ChartChannel &channel, double xMin, double xMax, int columns, ThinnedTrace &out,
            const ThinColumns *grid)
        : m_channel(channel), m_xMin(xMin), m_xMax(xMax), m_columns(std::max(1, columns)), m_out(out)
    {
        m_origin = xMin;
        const double width = xMax - xMin;
        m_scale = (width > 0 && std::isfinite(width)) ? m_columns / width : 0.0;
        if (grid && m_scale > 0) {
            m_origin = grid->origin;
            m_scale = grid->perUnit;
            m_firstColumn = grid->firstColumn;
        }
        m_unitsPerColumn = m_scale > 0 ? 1 / m_scale : 0;
    }

    void useMemo(std::vector<ThinMemo::Part> parts) { m_old = std::move(parts); }
    std::vector<ThinMemo::Part> takeMemo() { return std::move(m_new); }

    void run(ThinMethod method)
    {
        m_out.clear();
        const qsizetype count = m_channel.count();
        m_nextGap = m_channel.nextGap(0);
        qsizetype i = 0;
        while (i < count) {
            if (method == ThinMethod::Summarised) {
                const qsizetype skipped = trySummaries(i, count);
                if (skipped > 0) {
                    i += skipped;
                    continue;
                }
            }
            visit(i);
            ++i;
        }
        endPiece();
    }

private:
    const ChartChannel &m_channel;
    const double m_xMin;
    const double m_xMax;
    const int m_columns;
    double m_scale = 0;
    double m_origin = 0;
    double m_firstColumn = 0;
    double m_unitsPerColumn = 0; // 1 / m_scale, for guesses
    ThinnedTrace &m_out;
    std::vector<ThinMemo::Part> m_old; // what the last thinning found
    std::size_t m_oldAt = 0;           // the first of them not yet passed
    std::vector<ThinMemo::Part> m_new; // what this one finds
    // The Y of two points the walk knows (the ends of the last column it
    // took across columns), so writing them out reads nothing.
    std::array<qsizetype, 2> m_knownAt{-1, -1};
    std::array<double, 2> m_knownY{};

    qsizetype m_nextGap = 0; // smallest gap index >= the point being looked at

    // The previous point.
    qsizetype m_prev = -1;
    bool m_prevDrawn = false; // false for a gap or before the first point
    Side m_prevSide = Inside;
    bool m_prevInPiece = false; // it is the tail of the open piece
    bool m_pieceOpen = false;

    // The open run: consecutive visible points in one pixel column.
    bool m_runOpen = false;
    int m_runColumn = 0;
    qsizetype m_runFirst = 0;
    qsizetype m_runLast = 0;
    qsizetype m_runMin = 0;
    qsizetype m_runMax = 0;
    double m_runMinY = 0;
    double m_runMaxY = 0;

    Side sideOf(double x) const { return x < m_xMin ? Left : (x > m_xMax ? Right : Inside); }

    int columnOf(double x) const
    {
        const double c = (x - m_origin) * m_scale - m_firstColumn;
        return c >= m_columns ? m_columns - 1 : (c > 0 ? int(c) : 0);
    }

    bool isGap(qsizetype i)
    {
        if (i < m_nextGap)
            return false;
        if (i == m_nextGap) {
            m_nextGap = m_channel.nextGap(i + 1);
            return true;
        }
        m_nextGap = m_channel.nextGap(i);
        return isGap(i);
    }

    /// Tries to take the run of points starting at `i` in one step through the
    /// channel's summaries; returns how many points it took (0: none). A run
    /// taken this way is not read point by point: its extent says on which
    /// side of the view or in which column all of it lies.
    qsizetype trySummaries(qsizetype i, qsizetype count)
    {
        if (m_nextGap < i)
            m_nextGap = m_channel.nextGap(i);
        for (int level = 0; level < ChartChannel::SummaryLevels; ++level) {
            const qsizetype size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
            if ((i & (size - 1)) != 0 || i + size > count || m_nextGap < i + size)
                continue;
            const ChartRange r = m_channel.summary(level, i);
            const qsizetype last = i + size - 1;
            if (r.maxX < m_xMin || r.minX > m_xMax) {
                // All on one side: only the line into the first point can
                // cross the view; none inside the run does.
                const Side side = r.maxX < m_xMin ? Left : Right;
                if (joinFromPrevious(i, side)) {
                    flushRun();
                    emitPoint(i);
                }
                endPiece();
                setPrevious(last, side, false);
                return size;
            }
            if (r.minX >= m_xMin && r.maxX <= m_xMax) {
                const int column = columnOf(r.minX);
                if (column == columnOf(r.maxX)) {
                    // All visible in one column: the run joins the piece and
                    // only widens the column's envelope.
                    joinFromPrevious(i, Inside);
                    addToRun(column, i, r.minYIndex, r.minY, r.maxYIndex, r.maxY, last);
                    setPrevious(last, Inside, true);
                    return size;
                }
                if (m_channel.xFollowsIndex(i))
                    return takeAcrossColumns(i, size);
            }
        }
        return 0;
    }

    /// Takes the `size` points from `i` on, all visible and without a gap,
    /// whose X grow with the index, but which reach into more than one
    /// column: each column's part in one step, as point by point. Where a
    /// column's part starts and ends follows from X growing by one a point;
    /// its lowest and highest come from the summaries it holds whole and
    /// the points beside them.
    qsizetype takeAcrossColumns(qsizetype i, qsizetype size)
    {
        joinFromPrevious(i, Inside);
        const qsizetype end = i + size;
        // X as the channel gives it: the block's first X plus the slot.
        const qsizetype blockStart = i & ~(ChartChannel::BlockSize - 1);
        const double x0 = m_channel.x(blockStart);
        const auto xAt = [x0, blockStart](qsizetype k) { return x0 + double(k - blockStart); };
        const int leftColumn = columnOf(xAt(i));
        if (size < FewPerColumn * (columnOf(xAt(end - 1)) - leftColumn + 1)) {
            takeFewAcrossColumns(i, end, xAt);
            return size;
        }
        for (qsizetype a = i; a < end;) {
            const int column = columnOf(xAt(a));
            const qsizetype b = columnEnd(a, end, column, xAt);
            Fold fold{};
            const ThinMemo::Part *part = fromMemo(a, b, fold);
            if (!part) {
                fold = {a, m_channel.y(a), a, m_channel.y(a)};
                foldRange(a + 1, b, fold);
            }
            // The first and last points are written out with the column:
            // from the memo where they are the same, else read (once).
            const double firstY = part && part->first == a ? part->firstY : m_channel.y(a);
            const double lastY = part && part->end == b ? part->lastY : m_channel.y(b - 1);
            if (b - a >= MemoPart)
                m_new.push_back({a, b, fold.minIndex, fold.minY, fold.maxIndex, fold.maxY, firstY, lastY});
            // Columns of many points read little more than their ends: have
            // those of the column after the next fetched meanwhile (with a
            // memo, most columns read less).
            if (m_old.empty() && b - a >= PrefetchedColumn && b + 2 * (b - a) <= end)
                m_channel.prefetchRunEnds(b + (b - a), b + 2 * (b - a));
            else if (b + 3 * (b - a) < end) // with a memo, the ends' points only
                __builtin_prefetch(m_channel.yFrom(b + 3 * (b - a)));
            addToRun(column, a, fold.minIndex, fold.minY, fold.maxIndex, fold.maxY, b - 1);
            m_knownAt = {a, b - 1};
            m_knownY = {firstY, lastY};
            a = b;
        }
        setPrevious(end - 1, Inside, true);
        return size;
    }

    /// The points [i, end) as takeAcrossColumns() takes them, for columns of
    /// a few points each: point by point.
    template <typename XAt> void takeFewAcrossColumns(qsizetype i, qsizetype end, const XAt &xAt)
    {
        for (qsizetype a = i; a < end;) {
            const int column = columnOf(xAt(a));
            qsizetype minIndex = a, maxIndex = a;
            double minY = m_channel.y(a), maxY = minY;
            qsizetype b = a + 1;
            for (; b < end && columnOf(xAt(b)) == column; ++b) {
                const double y = m_channel.y(b);
                if (y < minY) {
                    minY = y;
                    minIndex = b;
                }
                if (y > maxY) {
                    maxY = y;
                    maxIndex = b;
                }
            }
            addToRun(column, a, minIndex, minY, maxIndex, maxY, b - 1);
            a = b;
        }
        setPrevious(end - 1, Inside, true);
    }

    /// The first index after `a` (at most `end`) whose point lies right of
    /// `column`, for points whose X grows by one with the index.
    template <typename XAt> qsizetype columnEnd(qsizetype a, qsizetype end, int column, const XAt &xAt) const
    {
        if (column >= m_columns - 1)
            return end;
        const double boundary = m_origin + (column + 1 + m_firstColumn) * m_unitsPerColumn;
        const double guess = boundary - xAt(a) + 1; // about the ceiling, without a call for it
        qsizetype b = guess >= double(end - a) ? end : a + std::max<qsizetype>(1, qsizetype(guess));
        // The guess is off by rounding at most: settle it on the columns
        // the points are put in.
        while (b > a + 1 && columnOf(xAt(b - 1)) != column)
            --b;
        while (b < end && columnOf(xAt(b)) == column)
            ++b;
        return b;
    }

    struct Fold {
        qsizetype minIndex;
        double minY;
        qsizetype maxIndex;
        double maxY;
    };

    /// Folds the points [a, b) (consecutive, in one block, all finite) from
    /// a part the last thinning took that shares all but a few of them and
    /// whose lowest and highest lie among the shared ones, and returns that
    /// part; null when there is none.
    const ThinMemo::Part *fromMemo(qsizetype a, qsizetype b, Fold &fold)
    {
        while (m_oldAt < m_old.size() && m_old[m_oldAt].end <= a)
            ++m_oldAt;
        if (m_oldAt == m_old.size())
            return nullptr;
        const ThinMemo::Part &part = m_old[m_oldAt];
        const qsizetype first = std::max(a, part.first);
        const qsizetype end = std::min(b, part.end);
        if (first >= end || (first - a) + (b - end) > MemoEdge || part.minIndex < first ||
            part.minIndex >= end || part.maxIndex < first || part.maxIndex >= end)
            return nullptr;
        // In index order, as point by point: the points before the shared
        // ones, the shared ones' lowest and highest, the points after.
        if (a < first) {
            fold = {a, m_channel.y(a), a, m_channel.y(a)};
            foldRange(a + 1, first, fold);
            foldPart(part, fold);
        } else {
            fold = {part.minIndex, part.minY, part.maxIndex, part.maxY};
        }
        foldRange(end, b, fold);
        return &part;
    }

    /// Widens `fold` by a lowest and a highest point that come after what
    /// it holds (strict comparisons: the first of equal points stays).
    static void widen(Fold &fold, double minY, qsizetype minIndex, double maxY, qsizetype maxIndex)
    {
        if (minY < fold.minY) {
            fold.minY = minY;
            fold.minIndex = minIndex;
        }
        if (maxY > fold.maxY) {
            fold.maxY = maxY;
            fold.maxIndex = maxIndex;
        }
    }

    static void foldPart(const ThinMemo::Part &part, Fold &fold)
    {
        widen(fold, part.minY, part.minIndex, part.maxY, part.maxIndex);
    }

    /// Takes the points [from, to) of one block (all finite) into `fold`, in
    /// index order and with strict comparisons, as a walk point by point
    /// does; whole aligned runs through their summaries.
    void foldRange(qsizetype from, qsizetype to, Fold &fold) const
    {
        constexpr int Finest = ChartChannel::SummaryLevels - 1;
        constexpr qsizetype FinestSize = qsizetype(1) << ChartChannel::SummaryBits[Finest];
        qsizetype p = from;
        const auto take = [&](const ChartRange &r) { widen(fold, r.minY, r.minYIndex, r.maxY, r.maxYIndex); };
        if (to - from < 2 * FinestSize) {
            foldPoints(p, to, fold);
            return;
        }
        const qsizetype aligned = (p + FinestSize - 1) & ~(FinestSize - 1);
        foldPoints(p, aligned, fold);
        p = aligned;
        while (p + FinestSize <= to) {
            int level = 0;
            qsizetype size = 0;
            for (; level <= Finest; ++level) {
                size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
                if ((p & (size - 1)) == 0 && p + size <= to)
                    break;
            }
            take(m_channel.summary(level, p));
            p += size;
        }
        foldPoints(p, to, fold);
    }

    /// The points [from, to) of one block (all finite) into `fold` as a walk
    /// in index order with strict comparisons takes them: the lowest and the
    /// highest are found without a branch per point (new lows and highs in
    /// noisy data are taken at random, which a branch mispredicts), then the
    /// first index holding each.
    void foldPoints(qsizetype from, qsizetype to, Fold &fold) const
    {
        const qsizetype n = to - from;
        if (n <= 0)
            return;
        const double *y = m_channel.yFrom(from);
        double low[2] = {y[0], y[0]};
        double high[2] = {y[0], y[0]};
        qsizetype k = 1;
        for (; k + 1 < n; k += 2) {
            low[0] = std::min(low[0], y[k]);
            low[1] = std::min(low[1], y[k + 1]);
            high[0] = std::max(high[0], y[k]);
            high[1] = std::max(high[1], y[k + 1]);
        }
        if (k < n) {
            low[0] = std::min(low[0], y[k]);
            high[0] = std::max(high[0], y[k]);
        }
        const double lowest = std::min(low[0], low[1]);
        const double highest = std::max(high[0], high[1]);
        const auto firstOf = [y](double value) {
            qsizetype i = 0;
            while (!(y[i] == value))
                ++i;
            return i;
        };
        if (lowest < fold.minY) {
            const qsizetype i = firstOf(lowest);
            fold.minY = y[i];
            fold.minIndex = from + i;
        }
        if (highest > fold.maxY) {
            const qsizetype i = firstOf(highest);
            fold.maxY = y[i];
            fold.maxIndex = from + i;
        }
    }

    void visit(qsizetype j)
    {
        if (isGap(j)) {
            endPiece();
            m_prev = j;
            m_prevDrawn = false;
            m_prevInPiece = false;
            return;
        }
        const double x = m_channel.x(j);
        const Side side = sideOf(x);
        const bool inPiece = joinFromPrevious(j, side);
        if (inPiece) {
            if (side == Inside) {
                const double y = m_channel.y(j);
                addToRun(columnOf(x), j, j, y, j, y, j);
            } else {
                flushRun();
                emitPoint(j);
            }
        }
        setPrevious(j, side, inPiece);
    }

    /// Handles the line from the previous point to point `j` (on `side`):
    /// starts a new piece with the previous point where the line enters the
    /// view from outside, ends the piece where there is no line to draw.
    /// Returns whether `j` belongs to the open piece.
    bool joinFromPrevious(qsizetype j, Side side)
    {
        const bool joined = m_prevDrawn && m_prev == j - 1 && (side == Inside || side != m_prevSide);
        if (joined) {
            if (!m_prevInPiece) {
                endPiece();
                emitPoint(m_prev);
            }
        } else {
            endPiece();
        }
        return joined || side == Inside;
    }

    void setPrevious(qsizetype j, Side side, bool inPiece)
    {
        m_prev = j;
        m_prevDrawn = true;
        m_prevSide = side;
        m_prevInPiece = inPiece;
    }

    /// Adds the points first..last (consecutive, all in `column`, lowest and
    /// highest as given) to the run of that column.
    void addToRun(int column, qsizetype first, qsizetype minIndex, double minY, qsizetype maxIndex,
                  double maxY, qsizetype last)
    {
        if (m_runOpen && m_runColumn == column) {
            widenRun(minIndex, minY, maxIndex, maxY);
            m_runLast = last;
            return;
        }
        flushRun();
        m_runOpen = true;
        m_pieceOpen = true;
        m_runColumn = column;
        m_runFirst = first;
        m_runLast = last;
        m_runMin = minIndex;
        m_runMinY = minY;
        m_runMax = maxIndex;
        m_runMaxY = maxY;
    }

    void widenRun(qsizetype minIndex, double minY, qsizetype maxIndex, double maxY)
    {
        // Strict comparisons keep the earliest of equal values, as a walk
        // point by point does.
        if (minY < m_runMinY) {
            m_runMinY = minY;
            m_runMin = minIndex;
        }
        if (maxY > m_runMaxY) {
            m_runMaxY = maxY;
            m_runMax = maxIndex;
        }
    }

    void flushRun()
    {
        if (!m_runOpen)
            return;
        m_runOpen = false;
        // The lowest and highest are known: their Y is not read again.
        const bool minFirst = m_runMin <= m_runMax;
        const std::array<qsizetype, 4> picks{m_runFirst, minFirst ? m_runMin : m_runMax,
                                             minFirst ? m_runMax : m_runMin, m_runLast};
        const std::array<double, 2> middleY{minFirst ? m_runMinY : m_runMaxY,
                                            minFirst ? m_runMaxY : m_runMinY};
        qsizetype last = -1;
        for (std::size_t k = 0; k < picks.size(); ++k) {
            const qsizetype p = picks[k];
            if (p != last) {
                if (k == 1 || k == 2)
                    emitPoint(p, middleY[k - 1]);
                else
                    emitPoint(p);
            }
            last = p;
        }
    }

    void emitPoint(qsizetype j)
    {
        emitPoint(j, j == m_knownAt[0] ? m_knownY[0] : (j == m_knownAt[1] ? m_knownY[1] : m_channel.y(j)));
    }

    void emitPoint(qsizetype j, double y)
    {
        m_out.points.append(QPointF(m_channel.x(j), y));
        m_out.sourceIndex.push_back(j);
        m_pieceOpen = true;
    }

    void endPiece()
    {
        flushRun();
        if (!m_pieceOpen)
            return;
        m_pieceOpen = false;
        m_out.pieceEnds.push_back(m_out.points.size());
    }
};

} // namespace

void ThinForDisplay(const ChartChannel &channel, double xMin, double xMax, int columns, ThinnedTrace &out,
                    ThinMethod method, const ThinColumns *grid, ThinMemo *memo)
{
    Thinner thinner(channel, xMin, xMax, columns, out, grid);
    if (!memo) {
        thinner.run(method);
        return;
    }
    // Points before the memo's count are as they were only while the
    // channel has had nothing but appends (each bumps the revision by one).
    const bool holds = memo->revision != ~quint64(0) && channel.count() >= memo->count &&
                       channel.revision() - memo->revision == quint64(channel.count() - memo->count);
    if (!holds)
        memo->parts.clear();
    thinner.useMemo(std::move(memo->parts));
    memo->clear();
    thinner.run(method);
    memo->parts = thinner.takeMemo();
    memo->revision = channel.revision();
    memo->count = channel.count();
}

ChartRange DrawnExtent(const ChartChannel &channel)
{
    ChartRange extent{1.0, -1.0, 1.0, -1.0, 0, 0};
    bool any = false;
    const auto take = [&](double minX, double maxX, double minY, double maxY) {
        if (!any) {
            extent = {minX, maxX, minY, maxY, 0, 0};
            any = true;
            return;
        }
        extent.minX = std::min(extent.minX, minX);
        extent.maxX = std::max(extent.maxX, maxX);
        extent.minY = std::min(extent.minY, minY);
        extent.maxY = std::max(extent.maxY, maxY);
    };
    if (!channel.hasMarks() && channel.nextGap(0) == channel.count()) {
        const ChartRange &r = channel.extent();
        return r.isEmpty() ? extent : r;
    }
    const qsizetype count = channel.count();
    qsizetype nextGap = channel.nextGap(0);
    qsizetype i = 0;
    while (i < count) {
        if (nextGap < i)
            nextGap = channel.nextGap(i);
        qsizetype step = 0;
        for (int level = 0; level < ChartChannel::SummaryLevels && step == 0; ++level) {
            const qsizetype size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
            if ((i & (size - 1)) == 0 && i + size <= count && nextGap >= i + size) {
                const ChartRange r = channel.summary(level, i);
                take(r.minX, r.maxX, r.minY, r.maxY);
                step = size;
            }
        }
        if (step == 0) {
            if (i != nextGap)
                take(channel.x(i), channel.x(i), channel.y(i), channel.y(i));
            step = 1;
        }
        i += step;
    }
    return extent;
}

ChartRange YExtentInView(const ThinnedTrace &trace, double xMin, double xMax, bool lonePoints)
{
    ChartRange extent{1.0, -1.0, 1.0, -1.0, 0, 0};
    bool any = false;
    const auto take = [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y))
            return;
        if (!any) {
            extent = {x, x, y, y, 0, 0};
            any = true;
            return;
        }
        extent.minX = std::min(extent.minX, x);
        extent.maxX = std::max(extent.maxX, x);
        extent.minY = std::min(extent.minY, y);
        extent.maxY = std::max(extent.maxY, y);
    };
    // Height of the line from a to b where it crosses the edge at `edge`.
    const auto crossing = [&](const QPointF &a, const QPointF &b, double edge) {
        if (std::min(a.x(), b.x()) < edge && edge < std::max(a.x(), b.x()))
            take(edge, a.y() + (b.y() - a.y()) * ((edge - a.x()) / (b.x() - a.x())));
    };
    for (qsizetype p = 0; p < trace.pieceCount(); ++p) {
        const qsizetype begin = trace.pieceBegin(p);
        const qsizetype end = trace.pieceEnds[std::size_t(p)];
        if (end - begin < 2 && !lonePoints)
            continue;
        for (qsizetype k = begin; k < end; ++k) {
            const QPointF &point = trace.points[k];
            if (point.x() >= xMin && point.x() <= xMax)
                take(point.x(), point.y());
            if (k > begin) {
                crossing(trace.points[k - 1], point, xMin);
                crossing(trace.points[k - 1], point, xMax);
            }
        }
    }
    return extent;
}
