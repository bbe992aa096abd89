#pragma once
// The traces as drawn: each channel thinned for the view (ChartThinning), cut
// into lines and lone points, and painted into the plot's own picture. Dense
// lines become bars written straight into the picture's pixels, the rest
// single segments; markers and the dots of lone points go on top.

#include "chart/ChartData.h"
#include "chart/ChartThinning.h"

#include <QImage>
#include <QList>
#include <QPen>
#include <QPointF>

#include <utility>
#include <vector>

class ChartMap;
class QPainter;

/// One channel as drawn.
class ChartTrace
{
public:
    /// Line pieces beyond this many (a file with very many null points in
    /// view) are drawn joined in the last piece.
    static constexpr int MaxLines = 200;

    QPen pen;
    /// Every point drawn as a marker; without, a lone point is a small dot.
    bool markers = false;

    /// Whether the trace was thinned from this state of `channel` for this
    /// view and these markers.
    bool isDrawnFrom(const ChartChannel &channel, double xMin, double xMax, int columns) const;
    /// Thins `channel` for the view from `xMin` to `xMax` in `columns` pixel
    /// columns.
    void thin(const ChartChannel &channel, double xMin, double xMax, int columns);

    /// What is drawn: the thinned points, lines (pieces of two or more
    /// points, each joined in order) and lone points (pieces of one point).
    const QList<QPointF> &points() const { return m_thinned.points; }
    const std::vector<std::pair<qsizetype, qsizetype>> &lines() const { return m_lines; }
    const std::vector<qsizetype> &lone() const { return m_lone; }
    int lineCount() const { return int(m_lines.size()); }
    QList<QPointF> linePoints(int line) const;
    QList<QPointF> lonePoints() const;
    /// Lowest and highest Y of what is drawn in view; empty when nothing is.
    const ChartRange &yExtentInView() const { return m_yExtent; }

private:
    ThinnedTrace m_thinned;
    std::vector<std::pair<qsizetype, qsizetype>> m_lines; // begin, end in points
    std::vector<qsizetype> m_lone;                        // indexes in points
    ChartRange m_yExtent{1, -1, 1, -1, 0, 0};
    // What the drawing was made from.
    quint64 m_revision = ~quint64(0);
    double m_xMin = 0;
    double m_xMax = 0;
    int m_columns = 0;
    bool m_markers = false;
};

/// The plot's picture: the traces are painted into it and it is copied out
/// to the screen, again as it is while nothing changed.
class ChartPicture
{
public:
    explicit ChartPicture(int traceCount) : m_traces(std::size_t(traceCount)) {}

    int traceCount() const { return int(m_traces.size()); }
    ChartTrace &trace(int index) { return m_traces[std::size_t(index)]; }
    const ChartTrace &trace(int index) const { return m_traces[std::size_t(index)]; }
    /// The extent in view of all traces together.
    ChartRange yExtentInView() const;

    /// Has the picture drawn anew at the next paint.
    void invalidate() { m_dirty = true; }
    /// Gives the picture `size` (logical pixels) at pixel ratio `ratio`;
    /// true when it must be drawn anew (drawTraces() and the rest), false
    /// when it can be copied out as it is.
    bool prepare(const QSize &size, qreal ratio);
    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }
    /// Paints every trace with `map` onto `painter`, which paints on
    /// image(). Lines are cut at the plot area.
    void drawTraces(QPainter &painter, const ChartMap &map);

private:
    std::vector<ChartTrace> m_traces;
    QImage m_image;          // the plot as last drawn
    uchar *m_bits = nullptr; // its pixels, while it is drawn
    bool m_dirty = true;
};
