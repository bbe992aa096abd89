#include "chart/ChartAxes.h"

#include "chart/ChartView.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace
{

/// Layout around the plot area, in pixels.
constexpr int TickLength = 4;
constexpr int LabelGap = 3;
constexpr int OuterMargin = 6;
constexpr int RightMargin = 14;
/// Label texts kept as pictures; beyond this many the cache keeps only the
/// labels on the axes.
constexpr int LabelCacheLimit = 256;

const QColor GridColour(0xe4, 0xe4, 0xe4);
const QColor FrameColour(0x90, 0x90, 0x90);
const QColor LabelColour(0x40, 0x40, 0x40);

/// Tick values of an axis from `low` to `high`: whole multiples of a nice
/// step, about `target` of them.
std::vector<double> TickValues(double low, double high, int target)
{
    std::vector<double> ticks;
    const double interval = ChartNiceStep(high - low, target);
    const double first = std::ceil(low / interval);
    const double last = std::floor(high / interval);
    if (!std::isfinite(first) || !std::isfinite(last) || last - first > 4.0 * target)
        return ticks; // beyond the precision of doubles: no ticks rather than thousands
    for (double k = first; k <= last; ++k) {
        const double v = k * interval;
        ticks.push_back(std::abs(v) < interval * 1e-9 ? 0.0 : v); // no "-0"
    }
    return ticks;
}

} // namespace

QLocale ChartNumberLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

void ChartAxes::setRange(Qt::Orientation axis, double low, double high)
{
    const bool horizontal = axis == Qt::Horizontal;
    std::vector<Tick> &ticks = horizontal ? m_xTicks : m_yTicks;
    ticks.clear();
    const std::vector<double> values =
        TickValues(low, high, horizontal ? ChartXTickTarget : ChartYTickTarget);
    if (horizontal && m_xLabeller) {
        const QStringList labels = m_xLabeller(values);
        for (std::size_t i = 0; i < values.size(); ++i)
            ticks.push_back({values[i], labels.value(qsizetype(i))});
        return;
    }
    const QLocale locale = ChartNumberLocale();
    for (double v : values)
        ticks.push_back({v, locale.toString(v, 'g', 10)});
}

const std::vector<ChartAxes::Tick> &ChartAxes::ticks(Qt::Orientation axis) const
{
    return axis == Qt::Horizontal ? m_xTicks : m_yTicks;
}

QStringList ChartAxes::labels(Qt::Orientation axis) const
{
    QStringList labels;
    for (const Tick &t : ticks(axis))
        labels << t.label;
    return labels;
}

QRectF ChartAxes::plotArea(const QSize &size, const QFont &font)
{
    const QFontMetrics fm(font);
    if (font != m_widthFont) {
        m_labelWidths.clear();
        m_widthFont = font;
    }
    // Laying a text out costs far more than looking its width up; a live
    // axis brings a few new labels a second.
    const auto advance = [&](const QString &text) {
        auto it = m_labelWidths.constFind(text);
        if (it == m_labelWidths.constEnd()) {
            if (m_labelWidths.size() >= LabelCacheLimit)
                m_labelWidths.clear();
            it = m_labelWidths.insert(text, fm.horizontalAdvance(text));
        }
        return *it;
    };
    int labelWidth = 0;
    for (const Tick &t : m_yTicks)
        labelWidth = std::max(labelWidth, advance(t.label));
    if (labelWidth > m_yLabelWidth || labelWidth + fm.averageCharWidth() * 2 < m_yLabelWidth)
        m_yLabelWidth = labelWidth;
    // The last label on the horizontal axis may sit at the right edge, half
    // of it beyond the plot.
    int halfXLabel = 0;
    for (const Tick &t : m_xTicks)
        halfXLabel = std::max(halfXLabel, (advance(t.label) + 1) / 2);
    if (halfXLabel > m_xLabelHalf || halfXLabel + fm.averageCharWidth() < m_xLabelHalf)
        m_xLabelHalf = halfXLabel;
    const int left = OuterMargin + m_yLabelWidth + LabelGap + TickLength;
    const int top = OuterMargin + fm.height() / 2;
    const int bottom = OuterMargin + fm.height() + LabelGap + TickLength;
    const int right = std::max(RightMargin, m_xLabelHalf + OuterMargin);
    // An even width: the picture of a live view moves by whole columns of two
    // pixels, so the columns must fit the width exactly.
    int width = std::max(1, size.width() - left - right);
    if (width > 1 && width % 2 != 0)
        --width;
    return {double(left), double(top), double(width), double(std::max(1, size.height() - top - bottom))};
}

void ChartAxes::paint(QPainter &painter, const ChartMap &map, const QFont &font, qreal ratio,
                      const QRect &part)
{
    const QRectF &a = map.area();
    const QFontMetrics fm(font);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const auto fill = [&](const QRect &r, const QColor &colour) {
        if (r.intersects(part))
            painter.fillRect(r, colour);
    };

    // Grid lines, frame and ticks: one-pixel rectangles, the painter's
    // cheapest figure.
    const QRect r = a.toRect();
    for (const Tick &t : m_xTicks) {
        const int px = int(std::lround(map.toPixel(t.value, 0).x()));
        fill(QRect(px, r.top(), 1, r.height()), GridColour);
        fill(QRect(px, r.bottom() + 1, 1, TickLength), FrameColour);
    }
    for (const Tick &t : m_yTicks) {
        const int py = int(std::lround(map.toPixel(0, t.value).y()));
        fill(QRect(r.left(), py, r.width(), 1), GridColour);
        fill(QRect(r.left() - TickLength, py, TickLength, 1), FrameColour);
    }
    fill(QRect(r.left(), r.top(), r.width(), 1), FrameColour);
    fill(QRect(r.left(), r.bottom(), r.width(), 1), FrameColour);
    fill(QRect(r.left(), r.top(), 1, r.height()), FrameColour);
    fill(QRect(r.right(), r.top(), 1, r.height()), FrameColour);

    const int labelTop = int(a.bottom()) + TickLength + LabelGap;
    const auto label = [&](const QImage &picture, double left, double top) {
        const QPoint at(int(std::lround(left)), int(std::lround(top)));
        if (QRect(at, picture.deviceIndependentSize().toSize()).intersects(part))
            painter.drawImage(at, picture);
    };
    for (const Tick &t : m_xTicks) {
        if (t.label.isEmpty())
            continue;
        const QImage &text = labelPicture(t.label, font, ratio);
        label(text, map.toPixel(t.value, 0).x() - text.deviceIndependentSize().width() / 2, labelTop);
    }
    for (const Tick &t : m_yTicks) {
        const QImage &text = labelPicture(t.label, font, ratio);
        label(text, a.left() - TickLength - LabelGap - text.deviceIndependentSize().width(),
              map.toPixel(0, t.value).y() - fm.height() / 2.0);
    }
}

const QImage &ChartAxes::labelPicture(const QString &text, const QFont &font, qreal ratio)
{
    // Each label is drawn once onto the plot's white and then copied: far
    // cheaper than laying out and blending its glyphs at every repaint.
    if (ratio != m_labelRatio || font != m_labelFont) {
        m_labelCache.clear();
        m_labelRatio = ratio;
        m_labelFont = font;
    }
    auto it = m_labelCache.find(text);
    if (it == m_labelCache.end()) {
        if (m_labelCache.size() >= LabelCacheLimit) {
            // Keep the labels on the axes now: drawing them all again at
            // once would make one repaint slow.
            for (auto old = m_labelCache.begin(); old != m_labelCache.end();) {
                const auto shown = [&](const Tick &t) { return t.label == old.key(); };
                if (std::any_of(m_xTicks.begin(), m_xTicks.end(), shown) ||
                    std::any_of(m_yTicks.begin(), m_yTicks.end(), shown))
                    ++old;
                else
                    old = m_labelCache.erase(old);
            }
        }
        const QFontMetrics fm(m_labelFont);
        const QSize size(std::max(1, fm.horizontalAdvance(text)), fm.height());
        QImage picture(size * ratio, QImage::Format_RGB32);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::white);
        QPainter p(&picture);
        p.setFont(m_labelFont);
        p.setPen(LabelColour);
        p.drawText(QRect(QPoint(0, 0), size), Qt::AlignLeft | Qt::AlignVCenter, text);
        p.end();
        it = m_labelCache.insert(text, picture);
    }
    return *it;
}
