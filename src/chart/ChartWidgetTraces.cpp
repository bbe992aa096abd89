// ChartWidget: traces added at run time, their look and the legend, and the
// clock-time labels of the horizontal axis.

#include "chart/ChartPlot.h"
#include "chart/ChartWidget.h"

#include <QAction>
#include <QDateTime>
#include <QSignalBlocker>

#include <algorithm>
#include <array>

namespace
{

/// Colours that tell well apart on the white plot area (and from each
/// other), in the order traces get them.
const std::array<QColor, ChartWidget::PaletteSize> Palette{
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
    QColor(0xbc, 0xbd, 0x22), QColor(0x7f, 0x7f, 0x7f)};
/// Line styles of the rounds through the palette.
const std::array<Qt::PenStyle, 4> RoundStyles{Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine};

/// Ticks closer than this in time get milliseconds in their labels.
constexpr qint64 SecondMs = 1000;

} // namespace

QPen ChartWidget::PalettePen(int slot)
{
    const auto round = std::size_t(slot / PaletteSize);
    QPen pen(Palette[std::size_t(slot % PaletteSize)], TraceLineWidth);
    pen.setStyle(round == 0 ? Qt::SolidLine : RoundStyles[1 + (round - 1) % (RoundStyles.size() - 1)]);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::BevelJoin);
    return pen;
}

int ChartWidget::addTrace(const QString &name)
{
    // The first palette slot no trace holds, so a removed trace's colour
    // goes to the next one added.
    int slot = 0;
    while (std::find(m_paletteSlots.begin(), m_paletteSlots.end(), slot) != m_paletteSlots.end())
        ++slot;
    const int channel = m_data.addChannel(name);
    m_picture.addTrace();
    m_paletteSlots.push_back(slot);
    ChartTrace &t = m_picture.trace(channel);
    t.pen = PalettePen(slot);
    t.name = name;
    m_view.setFollowed(channel, true);
    updateLegend();
    redraw();
    return channel;
}

void ChartWidget::removeTrace(int channel)
{
    if (channel < ChannelCount || channel >= channelCount())
        return;
    m_data.removeChannel(channel);
    m_picture.removeTrace(channel);
    m_paletteSlots.erase(m_paletteSlots.begin() + (channel - ChannelCount));
    m_view.channelRemoved(channel);
    if (m_cursorChannel == channel)
        m_cursorChannel = -1;
    else if (m_cursorChannel > channel)
        --m_cursorChannel;
    updateLegend();
    redraw();
}

void ChartWidget::setTraceColour(int channel, const QColor &colour)
{
    if (channel < 0 || channel >= channelCount())
        return;
    m_picture.trace(channel).pen.setColor(colour);
    updateLegend();
    redraw();
}

void ChartWidget::setTraceWidth(int channel, int width)
{
    if (channel < 0 || channel >= channelCount() || width < 1)
        return;
    m_picture.trace(channel).pen.setWidth(width);
    updateLegend();
    redraw();
}

void ChartWidget::setTraceName(int channel, const QString &name)
{
    if (channel < ChannelCount || channel >= channelCount())
        return;
    m_picture.trace(channel).name = name;
    updateLegend();
}

void ChartWidget::setTraceVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= channelCount() || traceVisible(channel) == visible)
        return;
    ChartTrace &t = m_picture.trace(channel);
    t.visible = visible;
    t.forget(); // thinned in full when shown again
    m_view.setFitted(channel, visible);
    if (!visible && m_cursorChannel == channel)
        m_cursorChannel = -1;
    updateLegend();
    redraw();
}

bool ChartWidget::traceVisible(int channel) const
{
    return channel >= 0 && channel < channelCount() && m_picture.trace(channel).visible;
}

QString ChartWidget::traceName(int channel) const
{
    return channel < ChannelCount ? ChannelName(channel) : m_picture.trace(channel).name;
}

QStringList ChartWidget::legendNames() const
{
    QStringList names;
    for (const ChartLegendEntry &e : m_picture.legend())
        names << e.name;
    return names;
}

void ChartWidget::updateLegend()
{
    // The single module's view (only the widget's own channels) has no
    // legend; beside added traces, its channels that hold points are named.
    std::vector<ChartLegendEntry> entries;
    if (channelCount() > ChannelCount) {
        for (int c = 0; c < channelCount(); ++c) {
            if (m_picture.trace(c).visible && (c >= ChannelCount || m_data.channel(c).count() > 0))
                entries.push_back({traceName(c), m_picture.trace(c).pen});
        }
    }
    if (m_picture.setLegend(std::move(entries)))
        redraw();
}

void ChartWidget::setClockTimeAxis(bool clockTime)
{
    {
        const QSignalBlocker block(action(Action::ClockTime));
        action(Action::ClockTime)->setChecked(clockTime);
    }
    if (clockTime == m_clockTime)
        return;
    m_clockTime = clockTime;
    labelHorizontalAxis();
    layoutPlot();
    redraw();
}

QStringList ChartWidget::clockLabels(const std::vector<double> &values) const
{
    QStringList labels;
    const QLocale locale = ChartNumberLocale();
    if (!m_clockTime) {
        for (double v : values)
            labels << locale.toString(v, 'g', 10);
        return labels;
    }
    // The times of the first followed channel that keeps them: the samples
    // channel, else the first added trace with times.
    const ChartChannel *timed = nullptr;
    for (int c = 0; c < channelCount() && !timed; ++c) {
        if ((c == SampleChannel || c >= ChannelCount) && m_data.channel(c).hasTimes())
            timed = &m_data.channel(c);
    }
    std::vector<qint64> times(values.size());
    std::vector<bool> known(values.size());
    qint64 step = SecondMs;
    for (std::size_t i = 0; i < values.size(); ++i) {
        qint64 ms = 0;
        known[i] = timed && timed->timeAtX(values[i], ms);
        times[i] = ms;
        if (i > 0 && known[i] && known[i - 1])
            step = std::min(step, std::abs(times[i] - times[i - 1]));
    }
    const QString format = step < SecondMs ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    for (std::size_t i = 0; i < values.size(); ++i)
        labels << (known[i] ? QDateTime::fromMSecsSinceEpoch(times[i]).toString(format) : QString());
    return labels;
}
