#include "chart/ChartView.h"

#include "chart/ChartThinning.h"

#include <algorithm>
#include <cmath>

namespace
{

/// Margin added above and below the data by "fit all", as a share of the span.
constexpr double FitMargin = 0.05;
/// Live vertical range: margin above and below the values in view, as a share
/// of their span; values that are all equal (within FlatRelativeSpan of their
/// size) get a band of FlatBandShare of their size either side, or of
/// FlatBandAtZero when they are all 0.
constexpr double TrackMargin = 0.05;
constexpr double FlatRelativeSpan = 1e-9;
constexpr double FlatBandShare = 0.05;
constexpr double FlatBandAtZero = 1.0;
/// Smallest and largest view width relative to the values shown.
constexpr double SmallestRelativeSpan = 1e-12;
constexpr double LargestSpan = 1e300;

/// Turns minimum and span into a drawable band: a band of zero width (or one
/// lost in rounding) is widened around its value.
void ToBand(double minimum, double span, double &low, double &high)
{
    if (!std::isfinite(minimum))
        minimum = 0;
    if (!std::isfinite(span))
        span = 0;
    low = std::min(minimum, minimum + span);
    high = std::max(minimum, minimum + span);
    if (!(high - low > std::abs(low) * SmallestRelativeSpan) || !(high > low)) {
        const double half = std::max(1.0, std::abs(low) * 0.01);
        low -= half;
        high += half;
    }
}

/// The vertical range live mode wants for values from `lo` to `hi`: with a
/// margin, and its ends on whole tick steps, so that small changes of the
/// values mostly give the same range.
void TrackedRange(double lo, double hi, double &low, double &high)
{
    const double size = std::max(std::abs(lo), std::abs(hi));
    if (hi - lo > size * FlatRelativeSpan) {
        const double margin = (hi - lo) * TrackMargin;
        low = lo - margin;
        high = hi + margin;
    } else {
        const double half = size > 0 ? size * FlatBandShare : FlatBandAtZero;
        low = lo - half;
        high = hi + half;
    }
    const double step = ChartNiceStep(high - low, ChartYTickTarget);
    const double snappedLow = std::floor(low / step) * step;
    const double snappedHigh = std::ceil(high / step) * step;
    if (std::isfinite(snappedLow) && std::isfinite(snappedHigh) && snappedLow <= lo && snappedHigh >= hi) {
        low = snappedLow;
        high = snappedHigh;
    }
    if (!(high > low) || !std::isfinite(high - low)) // beyond the precision of doubles
        ToBand(lo, hi - lo, low, high);
}

bool UsableSpan(double low, double high)
{
    const double scale = std::max({1.0, std::abs(low), std::abs(high)});
    return high - low > scale * SmallestRelativeSpan && high - low < LargestSpan;
}

int AxisIndex(Qt::Orientation axis)
{
    return axis == Qt::Horizontal ? 0 : 1;
}

} // namespace

ChartMap::ChartMap(const QRectF &area, double xMin, double xMax, double yMin, double yMax)
    : m_area(area), m_xMin(xMin), m_xMax(xMax), m_yMin(yMin), m_yMax(yMax),
      m_xScale(area.width() / (xMax - xMin)), m_yScale(area.height() / (yMax - yMin)), m_xOrigin(xMin),
      m_xOffset(area.left())
{
}

void ChartMap::anchorX(double origin, double offset, double scale)
{
    m_xOrigin = origin;
    m_xOffset = offset;
    m_xScale = scale;
}

QPointF ChartMap::toValue(const QPointF &pixel) const
{
    if (m_area.width() <= 0 || m_area.height() <= 0)
        return {m_xMin, m_yMin};
    return {m_xOrigin + (pixel.x() - m_xOffset) / m_xScale,
            m_yMin + (m_area.bottom() - pixel.y()) / m_yScale};
}

double ChartNiceStep(double span, int target)
{
    const double raw = span / target;
    if (!(raw > 0) || !std::isfinite(raw))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    return power * (m < 1.5 ? 1.0 : (m < 3.5 ? 2.0 : (m < 7.5 ? 5.0 : 10.0)));
}

ChartRange ChartJoined(const ChartRange &a, const ChartRange &b)
{
    if (a.isEmpty())
        return b;
    if (b.isEmpty())
        return a;
    return {std::min(a.minX, b.minX),
            std::max(a.maxX, b.maxX),
            std::min(a.minY, b.minY),
            std::max(a.maxY, b.maxY),
            0,
            0};
}

ChartView::ChartView(const ChartData &data, int lead) : m_data(data), m_followed{lead} {}

void ChartView::setFollowed(int channel, bool followed)
{
    const auto it = std::find(m_followed.begin(), m_followed.end(), channel);
    if (followed && it == m_followed.end())
        m_followed.push_back(channel);
    else if (!followed && it != m_followed.end())
        m_followed.erase(it);
}

void ChartView::channelRemoved(int channel)
{
    for (std::vector<int> *list : {&m_followed, &m_unfitted}) {
        std::erase(*list, channel);
        for (int &c : *list)
            c -= c > channel ? 1 : 0;
    }
}

void ChartView::setFitted(int channel, bool fitted)
{
    std::erase(m_unfitted, channel);
    if (!fitted)
        m_unfitted.push_back(channel);
}

void ChartView::setYAxis(double minimum, double span)
{
    m_yMinimum = minimum;
    m_ySpan = span;
    m_yTracking = false;
    ToBand(minimum, span, m_yMin, m_yMax);
}

void ChartView::setView(double xMin, double xMax, double yMin, double yMax)
{
    m_live = false;
    m_xMin = xMin;
    m_xMax = xMax;
    m_yMin = yMin;
    m_yMax = yMax;
}

void ChartView::pinLive()
{
    if (m_live)
        liveXRange(m_xMin, m_xMax);
    m_live = false;
}

void ChartView::zoom(double factor)
{
    if (m_live)
        liveXRange(m_xMin, m_xMax);
    zoomAt(factor, (m_xMin + m_xMax) / 2, (m_yMin + m_yMax) / 2);
}

void ChartView::zoomAt(double factor, double x, double y)
{
    if (!(factor > 0) || !std::isfinite(factor) || !std::isfinite(x) || !std::isfinite(y))
        return;
    if (m_live)
        liveXRange(m_xMin, m_xMax);
    const double xMin = x - (x - m_xMin) * factor;
    const double xMax = x + (m_xMax - x) * factor;
    const double yMin = y - (y - m_yMin) * factor;
    const double yMax = y + (m_yMax - y) * factor;
    if (!UsableSpan(xMin, xMax) || !UsableSpan(yMin, yMax))
        return;
    setView(xMin, xMax, yMin, yMax);
}

void ChartView::zoomAxisAt(Qt::Orientation axis, double factor, double value)
{
    if (!(factor > 0) || !std::isfinite(factor) || !std::isfinite(value))
        return;
    if (m_live)
        liveXRange(m_xMin, m_xMax);
    const bool horizontal = axis == Qt::Horizontal;
    const double low = horizontal ? m_xMin : m_yMin;
    const double high = horizontal ? m_xMax : m_yMax;
    const double newLow = value - (value - low) * factor;
    const double newHigh = value + (high - value) * factor;
    if (!UsableSpan(newLow, newHigh))
        return;
    if (horizontal)
        setView(newLow, newHigh, m_yMin, m_yMax);
    else
        setView(m_xMin, m_xMax, newLow, newHigh);
}

void ChartView::zoomTo(double x1, double y1, double x2, double y2)
{
    const double xMin = std::min(x1, x2), xMax = std::max(x1, x2);
    const double yMin = std::min(y1, y2), yMax = std::max(y1, y2);
    if (!std::isfinite(xMin) || !std::isfinite(xMax) || !std::isfinite(yMin) || !std::isfinite(yMax) ||
        !UsableSpan(xMin, xMax) || !UsableSpan(yMin, yMax))
        return;
    setView(xMin, xMax, yMin, yMax);
}

void ChartView::panBy(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    pinLive();
    setView(m_xMin + dx, m_xMax + dx, m_yMin + dy, m_yMax + dy);
}

void ChartView::dragBy(const QPointF &pixels)
{
    const QRectF &area = m_map.area();
    if (area.width() <= 0 || area.height() <= 0)
        return;
    pinLive();
    // Dragged right, earlier X comes into view; dragged down, higher Y.
    panBy(-pixels.x() / area.width() * (m_xMax - m_xMin), pixels.y() / area.height() * (m_yMax - m_yMin));
}

void ChartView::fitAll()
{
    ChartRange all{1, -1, 1, -1, 0, 0};
    for (int i = 0; i < m_data.channelCount(); ++i) {
        if (std::find(m_unfitted.begin(), m_unfitted.end(), i) == m_unfitted.end())
            all = ChartJoined(all, DrawnExtent(m_data.channel(i)));
    }
    if (all.isEmpty()) {
        double yMin = 0, yMax = 0;
        ToBand(m_yMinimum, m_ySpan, yMin, yMax);
        setView(0, LiveSpan, yMin, yMax);
        return;
    }
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    ToBand(all.minX, all.maxX - all.minX, xMin, xMax);
    const double margin = (all.maxY - all.minY) * FitMargin;
    ToBand(all.minY - margin, all.maxY - all.minY + 2 * margin, yMin, yMax);
    setView(xMin, xMax, yMin, yMax);
}

void ChartView::followLive()
{
    m_live = true;
    m_yTracking = false; // the next repaint takes the range from the values in view
    ToBand(m_yMinimum, m_ySpan, m_yMin, m_yMax);
}

void ChartView::liveXRange(double &xMin, double &xMax) const
{
    // The view ends at the newest point of the followed channels, whatever
    // X earlier points (an import) reach; it starts at 0 until the points
    // pass LiveSpan.
    double newest = LiveSpan;
    for (int c : m_followed) {
        if (c >= m_data.channelCount())
            continue;
        const ChartChannel &followed = m_data.channel(c);
        if (followed.count() == 0)
            continue;
        double last = followed.x(followed.count() - 1);
        if (!std::isfinite(last)) // fall back to the furthest drawable one
            last = followed.extent().isEmpty() ? LiveSpan : followed.extent().maxX;
        newest = std::max(newest, last);
    }
    xMax = newest;
    xMin = xMax - LiveSpan;
    if (!(xMax > xMin)) // beyond the precision of doubles
        ToBand(xMax, 0, xMin, xMax);
}

void ChartView::scrollLive()
{
    if (m_live)
        liveXRange(m_xMin, m_xMax);
}

void ChartView::followValues(const ChartRange &inView)
{
    if (!m_live)
        return;
    if (inView.isEmpty()) {
        m_yTracking = false;
        ToBand(m_yMinimum, m_ySpan, m_yMin, m_yMax);
        return;
    }
    const double lo = inView.minY;
    const double hi = inView.maxY;
    double low = 0;
    double high = 0;
    TrackedRange(lo, hi, low, high);
    // Widen at once; shrink only when the range has become much too wide.
    const bool holdsValues = m_yMin <= lo && hi <= m_yMax;
    if (m_yTracking && holdsValues && m_yMax - m_yMin <= YShrinkRatio * (high - low))
        return;
    m_yMin = low;
    m_yMax = high;
    m_yTracking = true;
}

bool ChartView::showAxis(Qt::Orientation axis)
{
    const bool horizontal = axis == Qt::Horizontal;
    const double low = horizontal ? m_xMin : m_yMin;
    const double high = horizontal ? m_xMax : m_yMax;
    bool &shown = m_shown[AxisIndex(axis)];
    if (shown && m_map.minimum(axis) == low && m_map.maximum(axis) == high)
        return false;
    shown = true;
    if (horizontal)
        m_map = ChartMap(m_map.area(), low, high, m_map.minimum(Qt::Vertical), m_map.maximum(Qt::Vertical));
    else
        m_map =
            ChartMap(m_map.area(), m_map.minimum(Qt::Horizontal), m_map.maximum(Qt::Horizontal), low, high);
    return true;
}

void ChartView::setArea(const QRectF &area)
{
    m_map = ChartMap(area, m_map.minimum(Qt::Horizontal), m_map.maximum(Qt::Horizontal),
                     m_map.minimum(Qt::Vertical), m_map.maximum(Qt::Vertical));
}

int ChartDrawnRange::follow(const ChartMap &view, bool live)
{
    const QRectF &area = view.area();
    const double low = view.minimum(Qt::Horizontal);
    const double high = view.maximum(Qt::Horizontal);
    const double span = high - low;
    const int width = int(area.width());
    if (live && m_valid && area == m_area && span == m_span && width > 0 && width % ColumnPixels == 0) {
        const double column = span * ColumnPixels / area.width();
        const double steps = std::round((low - m_anchor) / column);
        if (std::isfinite(steps) && steps >= m_steps && (steps - m_steps) * ColumnPixels < width) {
            const int moved = int(steps - m_steps) * ColumnPixels;
            m_steps = steps;
            m_xMin = m_anchor + steps * column;
            m_xMax = m_xMin + span;
            return moved;
        }
    }
    const bool same = m_valid && area == m_area && m_xMin == low && m_xMax == high;
    m_valid = true;
    m_area = area;
    m_span = span;
    m_scale = area.width() / span;
    m_anchor = low;
    m_steps = 0;
    m_xMin = low;
    m_xMax = high;
    return same ? 0 : -1;
}

ChartMap ChartDrawnRange::map(const ChartMap &view) const
{
    if (!m_valid || view.area() != m_area)
        return view;
    ChartMap map(view.area(), m_xMin, m_xMax, view.minimum(Qt::Vertical), view.maximum(Qt::Vertical));
    map.anchorX(m_anchor, view.area().left() - m_steps * ColumnPixels, m_scale);
    return map;
}

bool ChartDrawnRange::columns(const ChartMap &view, ThinColumns &grid) const
{
    if (!m_valid || view.area() != m_area)
        return false;
    grid = {m_anchor, m_scale / ColumnPixels, m_steps};
    return true;
}
