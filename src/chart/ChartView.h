#pragma once
// What part of the chart's value plane is shown, and where it lands on the
// screen. Pure arithmetic, no widget: the view keeps the ranges the operator
// asked for (live scrolling, zoom, pan, fit all) and the map of the ranges
// last drawn onto the plot area, the one place that turns values into pixels
// and back.

#include "chart/ChartData.h"
#include "chart/ChartThinning.h"

#include <QPointF>
#include <QRectF>
#include <Qt>

#include <vector>

/// Value <-> pixel for one drawn view: X grows to the right from the left
/// edge of the plot area, Y upwards from its bottom edge.
class ChartMap
{
public:
    ChartMap() = default;
    ChartMap(const QRectF &area, double xMin, double xMax, double yMin, double yMax);

    const QRectF &area() const { return m_area; }
    double minimum(Qt::Orientation axis) const { return axis == Qt::Horizontal ? m_xMin : m_yMin; }
    double maximum(Qt::Orientation axis) const { return axis == Qt::Horizontal ? m_xMax : m_yMax; }

    QPointF toPixel(double x, double y) const
    {
        return {m_xOffset + (x - m_xOrigin) * m_xScale, m_area.bottom() - (y - m_yMin) * m_yScale};
    }
    /// Has X turned into pixels as `offset + (x - origin) * scale` (the same
    /// line as before, for a range that moved on by whole pixels: every
    /// pixel position then moves by exactly as many).
    void anchorX(double origin, double offset, double scale);
    QPointF toPixel(const QPointF &value) const { return toPixel(value.x(), value.y()); }
    /// The value under a pixel; the lowest corner while the area is empty.
    QPointF toValue(const QPointF &pixel) const;

private:
    QRectF m_area;
    double m_xMin = 0;
    double m_xMax = 0;
    double m_yMin = 0;
    double m_yMax = 0;
    double m_xScale = 0; // pixels per unit
    double m_yScale = 0;
    double m_xOrigin = 0; // X at pixel m_xOffset
    double m_xOffset = 0;
};

/// 1, 2 or 5 times a power of ten, near span / target: the step of the ticks
/// of an axis, and of the ends of the live vertical range.
double ChartNiceStep(double span, int target);
/// About this many tick steps across each axis.
inline constexpr int ChartXTickTarget = 10;
inline constexpr int ChartYTickTarget = 5;

/// The smallest range holding both; the indexes of the result mean nothing.
ChartRange ChartJoined(const ChartRange &a, const ChartRange &b);

/// The horizontal range the picture is drawn with: the view's own, except
/// while a live view moves on. Then the range last drawn moves on by whole
/// thinning columns, staying within half a column of the view's, so that
/// what is drawn can be shifted by whole pixels instead of drawn anew.
class ChartDrawnRange
{
public:
    /// Pixels of one thinning column.
    static constexpr int ColumnPixels = 2;

    /// Takes the range of `view` on. Returns the pixels the drawn range moved
    /// by, in whole columns (0: it did not move), or -1 when it changed
    /// otherwise (it is the view's range then).
    int follow(const ChartMap &view, bool live);
    /// The next follow() takes the view's range as it is.
    void reset() { m_valid = false; }
    double xMinimum() const { return m_xMin; }
    double xMaximum() const { return m_xMax; }
    /// `view` with the drawn horizontal range (as it is while none was taken).
    ChartMap map(const ChartMap &view) const;
    /// The thinning columns of the drawn range for `view`'s plot area; false
    /// when it is not the one the range was taken for.
    bool columns(const ChartMap &view, ThinColumns &grid) const;

private:
    bool m_valid = false;
    QRectF m_area;
    double m_span = 0;
    double m_anchor = 0; // X minimum when the range was last taken as the view's
    double m_scale = 0;  // pixels per unit then
    double m_steps = 0;  // columns moved on since
    double m_xMin = 0;
    double m_xMax = 0;
};

class ChartView
{
public:
    /// Width of the horizontal axis in live mode, in samples.
    static constexpr double LiveSpan = 1000.0;
    /// Vertical range until setYAxis() is called.
    static constexpr double DefaultYMinimum = 0.0;
    static constexpr double DefaultYSpan = 10000.0;
    /// Live mode keeps a vertical range that still holds every value in view
    /// until it is more than this many times the range the values want.
    static constexpr double YShrinkRatio = 3.0;

    /// A view of `data`; live mode follows the newest point of channel `lead`
    /// (and of every channel setFollowed() adds).
    explicit ChartView(const ChartData &data, int lead = 0);

    /// Whether live mode follows the newest point of `channel` too: the view
    /// ends at the newest X of any followed channel.
    void setFollowed(int channel, bool followed);
    /// Channel `channel` was removed from the data: those after it moved down.
    void channelRemoved(int channel);
    /// Whether fitAll() takes the points of `channel` in (all are, at first).
    void setFitted(int channel, bool fitted);

    /// Vertical axis from `minimum` to `minimum + span`. A span of 0 shows a
    /// small band around `minimum`; a negative one counts down. Ends any
    /// vertical zoom or pan; in live mode the range until a value is in view.
    void setYAxis(double minimum, double span);
    double yAxisMinimum() const { return m_yMinimum; }
    double yAxisSpan() const { return m_ySpan; }

    // The ranges asked for. Live mode follows the newest point and the values
    // in view; zoom, pan and fit leave it.
    bool isLive() const { return m_live; }
    double xMinimum() const { return m_xMin; }
    double xMaximum() const { return m_xMax; }
    double yMinimum() const { return m_yMin; }
    double yMaximum() const { return m_yMax; }
    /// Zooms by `factor` (< 1 closer) around the middle of the view.
    void zoom(double factor);
    /// Zooms by `factor` around the value point (`x`, `y`).
    void zoomAt(double factor, double x, double y);
    /// Zooms one axis by `factor` around `value` on it; the other keeps its range.
    void zoomAxisAt(Qt::Orientation axis, double factor, double value);
    /// Shows the rectangle from (`x1`, `y1`) to (`x2`, `y2`).
    void zoomTo(double x1, double y1, double x2, double y2);
    /// Shifts the view by the given amounts in axis units.
    void panBy(double dx, double dy);
    /// Shifts the view as a drag by `pixels` on the plot area moves the plane.
    void dragBy(const QPointF &pixels);
    /// Shows all drawn points of all channels.
    void fitAll();
    /// Back to live scrolling, the vertical range following the values again.
    void followLive();

    // Live mode, at each repaint: the horizontal range ends at the newest
    // point, then the vertical range takes in the values in view (their
    // extent; empty: none), widening at once, shrinking only when much too
    // wide. Both do nothing out of live mode.
    void scrollLive();
    void followValues(const ChartRange &inView);

    /// The ranges last drawn, on the plot area.
    const ChartMap &map() const { return m_map; }
    /// Takes the range asked for on `axis` into the map; false when the map
    /// already had it.
    bool showAxis(Qt::Orientation axis);
    void setArea(const QRectF &area);

private:
    void liveXRange(double &xMin, double &xMax) const;
    /// Ends live mode, keeping the range it shows now.
    void pinLive();
    void setView(double xMin, double xMax, double yMin, double yMax);

    const ChartData &m_data;
    std::vector<int> m_followed; // the lead first
    std::vector<int> m_unfitted; // channels fitAll() leaves out
    double m_yMinimum = DefaultYMinimum;
    double m_ySpan = DefaultYSpan;
    bool m_live = true;
    bool m_yTracking = false; // the live vertical range follows values in view
    double m_xMin = 0;
    double m_xMax = LiveSpan;
    double m_yMin = DefaultYMinimum;
    double m_yMax = DefaultYMinimum + DefaultYSpan;
    ChartMap m_map;
    bool m_shown[2] = {false, false}; // an axis range went into the map
};
