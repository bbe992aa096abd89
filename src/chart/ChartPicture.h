#pragma once
// The traces as drawn: each channel thinned for the view (ChartThinning), cut
// into lines and lone points, and painted into the plot's own picture. Dense
// lines become bars written straight into the picture's pixels, the rest
// single segments; markers and the dots of lone points go on top.

#include "chart/ChartData.h"
#include "chart/ChartThinning.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QRegion>

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
    /// The name the operator sees (legend, data cursor); empty for the
    /// widget's own channels, which have fixed names.
    QString name;
    /// A hidden trace is neither thinned nor drawn (what it was thinned to
    /// is forgotten when it is hidden).
    bool visible = true;

    /// Drops what was thinned: nothing is drawn or in view until the trace
    /// is thinned again, which the next thin() does in full.
    void forget();

    /// Whether the trace was thinned from this state of `channel` for this
    /// view (columns laid out by `grid`, when given) and these markers.
    bool isDrawnFrom(const ChartChannel &channel, double xMin, double xMax, int columns,
                     const ThinColumns *grid = nullptr) const;
    /// Whether the trace as thinned stays right for `channel` as it is now:
    /// drawn from it, or (taking its new state on) it only had points
    /// appended right of the view after a last point already there: lines
    /// between such points never enter the view.
    bool staysDrawn(const ChartChannel &channel, double xMin, double xMax, int columns,
                    const ThinColumns *grid = nullptr);
    /// Thins `channel` for the view from `xMin` to `xMax` in `columns` pixel
    /// columns (laid out by `grid` when given).
    void thin(const ChartChannel &channel, double xMin, double xMax, int columns,
              const ThinColumns *grid = nullptr);

    /// What is drawn: the thinned points, lines (pieces of two or more
    /// points, each joined in order) and lone points (pieces of one point).
    const QList<QPointF> &points() const { return m_thinned.points; }
    const std::vector<std::pair<qsizetype, qsizetype>> &lines() const { return m_lines; }
    const std::vector<qsizetype> &lone() const { return m_lone; }
    int lineCount() const { return int(m_lines.size()); }
    QList<QPointF> linePoints(int line) const;
    QList<QPointF> lonePoints() const;
    /// Whether the X of the thinned points never go down (live samples): a
    /// part of the picture then needs only the points near it.
    bool sortedX() const { return m_sortedX; }
    /// Lowest and highest Y of what is drawn in view; empty when nothing is.
    const ChartRange &yExtentInView() const { return m_yExtent; }
    /// Whether `channel` has only had points appended since the trace was
    /// thinned; if so, `fromX` is the smallest X a repaint must draw anew for
    /// it (that of the last point drawn, or of a new point further left),
    /// +infinity when nothing changed.
    bool onlyAppendedTo(const ChartChannel &channel, double &fromX) const;

private:
    ThinnedTrace m_thinned;
    ThinMemo m_memo;                                      // what the last thinning found, for the next
    std::vector<std::pair<qsizetype, qsizetype>> m_lines; // begin, end in points
    std::vector<qsizetype> m_lone;                        // indexes in points
    ChartRange m_yExtent{1, -1, 1, -1, 0, 0};
    bool m_sortedX = false;
    // What the drawing was made from.
    quint64 m_revision = ~quint64(0);
    qsizetype m_count = 0;
    double m_xMin = 0;
    double m_xMax = 0;
    int m_columns = 0;
    bool m_markers = false;
    bool m_gridded = false;
    ThinColumns m_grid{};

    /// Whether the columns were laid out as `grid` says (or as the view
    /// does, without one).
    bool sameGrid(const ThinColumns *grid) const;
};

/// A line of the legend: a swatch of the trace's pen and its name.
struct ChartLegendEntry {
    QString name;
    QPen pen;

    bool operator==(const ChartLegendEntry &other) const = default;
};

/// The plot's picture: the traces are painted into it and it is copied out
/// to the screen, again as it is while nothing changed. While a live view
/// only moves on, the picture is shifted and only what changed is drawn.
class ChartPicture
{
public:
    explicit ChartPicture(int traceCount) : m_traces(std::size_t(traceCount)) {}

    int traceCount() const { return int(m_traces.size()); }
    void addTrace() { m_traces.emplace_back(); }
    void removeTrace(int index) { m_traces.erase(m_traces.begin() + index); }
    ChartTrace &trace(int index) { return m_traces[std::size_t(index)]; }
    const ChartTrace &trace(int index) const { return m_traces[std::size_t(index)]; }
    /// The extent in view of all traces together.
    ChartRange yExtentInView() const;

    /// The legend's lines, top-left in the plot area; none: no legend.
    /// False when it was so already.
    bool setLegend(std::vector<ChartLegendEntry> entries);
    const std::vector<ChartLegendEntry> &legend() const { return m_legend; }
    /// Where the legend lies for the plot area `area`; empty without one.
    QRect legendRect(const QRectF &area, const QFont &font) const;

    /// Has the picture drawn anew at the next paint.
    void invalidate() { m_dirty = true; }
    bool isInvalid() const { return m_dirty; }
    /// The screen shifted the pixels of `moved` (logical pixels) `dx` to the
    /// left, as a live view that moved on by whole pixels needs, and
    /// `exposed` is to be drawn anew. Those parts are drawn into the picture
    /// where they belong and copied out (takeDirect()); the rest of the
    /// picture, not shifted, is out of date and drawn whole again when a
    /// paint needs more. Where that cannot work, all is drawn anew.
    void scroll(const QRect &moved, int dx, const QRegion &exposed);
    /// For a paint of `part`: the part to draw and copy out alone (all of
    /// it, when it lies in what shifts left to draw), else empty, and the
    /// picture is drawn whole by prepare().
    QRegion takeDirect(const QRegion &part);
    /// Gives the picture `size` (logical pixels) at pixel ratio `ratio`;
    /// returns what must be drawn anew (all, with background, axes,
    /// drawTraces() and drawLegend()), empty when it can be copied out as it
    /// is.
    QRegion prepare(const QSize &size, qreal ratio);
    QImage &image() { return m_image; }
    const QImage &image() const { return m_image; }
    /// Paints every trace with `map` onto `painter`, which paints on
    /// image(). Lines are cut at the plot area; only pixels in `part` are
    /// touched (the painter must be clipped to it too).
    void drawTraces(QPainter &painter, const ChartMap &map, const QRect &part);
    /// The same on `target`, whose pixels `bits` (taken before `painter`
    /// opened on it) show the plot from its pixel `origin` on.
    void drawTracesOn(uchar *bits, const QImage &target, const QPoint &origin, QPainter &painter,
                      const ChartMap &map, const QRect &part);
    /// Draws the legend (a picture made once per legend, font and pixel
    /// ratio, then copied).
    void drawLegend(QPainter &painter, const QRectF &area, const QFont &font);

private:
    std::vector<ChartTrace> m_traces;
    std::vector<ChartLegendEntry> m_legend;
    // Width of each legend name in m_nameFont (measuring text is slow, and the
    // legend's box is asked for at every repaint).
    mutable std::vector<int> m_nameWidths;
    mutable QFont m_nameFont;
    QImage m_legendPicture; // the legend as drawn, null when it must be drawn anew
    QFont m_legendFont;
    QImage m_image;          // the plot as last drawn
    uchar *m_bits = nullptr; // its pixels, while it is drawn
    bool m_dirty = true;
    bool m_stale = false; // the screen moved on from the picture (see scroll())
    QRegion m_direct;     // what the screen still needs drawn while stale
};
