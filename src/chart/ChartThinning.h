#pragma once
// Turns a channel into what one repaint needs: the points of the visible X
// range, at most a handful per pixel column, cut into separate pieces at the
// points that are not drawn (null or empty marks, non-finite coordinates).

#include "chart/ChartData.h"

#include <QList>
#include <QPointF>

#include <vector>

/// The pieces of one channel to draw, each a polyline joined in order.
struct ThinnedTrace {
    QList<QPointF> points;              // all pieces, one after the other
    std::vector<qsizetype> pieceEnds;   // end (exclusive) of each piece in points
    std::vector<qsizetype> sourceIndex; // channel index of each point

    void clear()
    {
        points.clear();
        pieceEnds.clear();
        sourceIndex.clear();
    }
    qsizetype pieceCount() const { return qsizetype(pieceEnds.size()); }
    qsizetype pieceBegin(qsizetype piece) const { return piece == 0 ? 0 : pieceEnds[std::size_t(piece - 1)]; }
    qsizetype pieceSize(qsizetype piece) const { return pieceEnds[std::size_t(piece)] - pieceBegin(piece); }
};

enum class ThinMethod {
    Summarised,  // skips whole runs of points through the channel's extent pyramid
    PointByPoint // visits every point; the reference the summarised walk must equal
};

/// Where the pixel columns of a view lie: column c starts at X origin +
/// (c + firstColumn) / perUnit. A view that moved on by whole columns keeps
/// origin and perUnit and counts firstColumn on, so every point falls into
/// the same column as before, moved by exactly as many.
struct ThinColumns {
    double origin;
    double perUnit;
    double firstColumn;
};

/// What one thinning of a channel found in the columns of many live samples
/// it took, kept for the next thinning of the same channel: a column that
/// shares most of its points with one taken before, and whose lowest and
/// highest lie among those, takes them from there and reads only the points
/// it does not share. Kept only while the channel has had nothing but
/// appends since.
struct ThinMemo {
    struct Part {
        qsizetype first;
        qsizetype end; // exclusive
        qsizetype minIndex;
        double minY;
        qsizetype maxIndex;
        double maxY;
        double firstY; // of the points first and end - 1
        double lastY;
    };
    std::vector<Part> parts; // in index order
    quint64 revision = ~quint64(0);
    qsizetype count = 0;

    void clear()
    {
        parts.clear();
        revision = ~quint64(0);
        count = 0;
    }
};

/// Thins `channel` for a view of [xMin, xMax] split into `columns` equal pixel
/// columns. Points are taken in index order (the order they were added), so
/// lines join exactly as they were drawn point by point. Consecutive visible
/// points that fall into one column are reduced to the first, the lowest, the
/// highest and the last of them, so the drawn envelope stays exact. A point
/// outside [xMin, xMax] is kept only where the line from or to it crosses the
/// view. A point with a mark or a non-finite coordinate ends the piece.
/// With `memo`, what the last thinning with it found is used where it still
/// holds, and what this one finds is kept in it; the result is the same.
void ThinForDisplay(const ChartChannel &channel, double xMin, double xMax, int columns, ThinnedTrace &out,
                    ThinMethod method = ThinMethod::Summarised, const ThinColumns *grid = nullptr,
                    ThinMemo *memo = nullptr);

/// Extent of the drawn points of `channel` (marked and non-finite points left
/// out); empty when there are none.
ChartRange DrawnExtent(const ChartChannel &channel);

/// Smallest and largest Y the drawn lines of `trace` reach inside [xMin,
/// xMax] (the trace thinned for that view): the visible points, and where a
/// line crosses an edge of the view, its height there. Pieces of one point
/// count only with `lonePoints` (they are drawn only as markers). In the
/// result, minX and maxX are the X extent of what was taken in; empty when
/// nothing is in view.
ChartRange YExtentInView(const ThinnedTrace &trace, double xMin, double xMax, bool lonePoints);
