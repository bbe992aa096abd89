#include "chart/ChartWidget.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>

namespace
{

constexpr int SampleLineWidth = 2;
constexpr int SmoothedLineWidth = 2;
constexpr int MeanLineWidth = 1;
constexpr qreal MarkerSize = 5.0;
/// Points are thinned per column of this many pixels: the sample line is 2 px
/// wide, so no finer detail can show, and each column gives at most four
/// points (first, lowest, highest, last), about two per pixel of plot width.
constexpr double PixelsPerColumn = 2.0;
/// Columns assumed while the chart has no real size yet.
constexpr int FallbackColumns = 500;
constexpr int MinimumColumns = 8;
constexpr int XTickTarget = 10; // about this many grid lines across
constexpr int YTickTarget = 5;
/// Zoom factors of the toolbar buttons and of one wheel step.
constexpr double ZoomInFactor = 0.5;
constexpr double ZoomOutFactor = 2.0;
constexpr double WheelStepFactor = 0.8;
constexpr double WheelStepAngle = 120.0;
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
const QString PictureSuffix = QStringLiteral("png");

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

/// 1, 2 or 5 times a power of ten, near span / target.
double NiceInterval(double span, int target)
{
    const double raw = span / target;
    if (!(raw > 0) || !std::isfinite(raw))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    return power * (m < 1.5 ? 1.0 : (m < 3.5 ? 2.0 : (m < 7.5 ? 5.0 : 10.0)));
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
    const double step = NiceInterval(high - low, YTickTarget);
    const double snappedLow = std::floor(low / step) * step;
    const double snappedHigh = std::ceil(high / step) * step;
    if (std::isfinite(snappedLow) && std::isfinite(snappedHigh) && snappedLow <= lo && snappedHigh >= hi) {
        low = snappedLow;
        high = snappedHigh;
    }
    if (!(high > low) || !std::isfinite(high - low)) // beyond the precision of doubles
        ToBand(lo, hi - lo, low, high);
}

/// Numbers as the operator's locale writes them, without digit grouping.
QLocale NumberLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

void SetAxisRange(QValueAxis *axis, double low, double high, int tickTarget)
{
    // Change range and tick interval in the order that never asks the axis
    // for a huge number of ticks in between.
    const double interval = NiceInterval(high - low, tickTarget);
    if (interval < axis->tickInterval()) {
        axis->setRange(low, high);
        axis->setTickInterval(interval);
    } else {
        axis->setTickInterval(interval);
        axis->setRange(low, high);
    }
}

QString AskPictureFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, QCoreApplication::translate("ChartWidget", "保存图片"),
                                        QString(),
                                        QCoreApplication::translate("ChartWidget", "PNG 图片 (*.png)"));
}

void ShowError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, QCoreApplication::translate("ChartWidget", "错误"), text);
}

} // namespace

/// The chart view with the chart's own mouse handling: pan by dragging, zoom
/// by the wheel, and the data cursor following the mouse. Right clicks are
/// left to the owner (context menu).
class ChartWidgetView : public QChartView
{
public:
    ChartWidgetView(QChart *chart, ChartWidget *owner) : QChartView(chart), m_owner(owner)
    {
        setMouseTracking(true);
        setFrameShape(QFrame::NoFrame);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (m_owner->m_panEnabled && m_owner->toolsAtHand() && event->button() == Qt::LeftButton) {
            m_dragging = true;
            m_dragFrom = event->position().toPoint();
            viewport()->setCursor(Qt::ClosedHandCursor);
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QPoint pos = event->position().toPoint();
        if (m_dragging && m_owner->m_panEnabled && m_owner->toolsAtHand()) {
            m_owner->panDrag(m_dragFrom, pos);
            m_dragFrom = pos;
        }
        m_owner->mouseMovedTo(pos);
        QChartView::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (m_dragging && event->button() == Qt::LeftButton) {
            m_dragging = false;
            viewport()->unsetCursor();
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }

    void wheelEvent(QWheelEvent *event) override
    {
        const double steps = event->angleDelta().y() / WheelStepAngle;
        if (steps == 0 || !m_owner->toolsAtHand()) {
            QChartView::wheelEvent(event);
            return;
        }
        const QPointF value = m_owner->valueAt(event->position().toPoint());
        m_owner->zoomAt(std::pow(WheelStepFactor, steps), value.x(), value.y());
        event->accept();
    }

    void leaveEvent(QEvent *event) override
    {
        m_owner->mouseLeft();
        QChartView::leaveEvent(event);
    }

private:
    ChartWidget *m_owner;
    bool m_dragging = false;
    QPoint m_dragFrom;
};

ChartWidget::ChartWidget(QWidget *parent)
    : QWidget(parent),
      m_data({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")}),
      m_fileNamePrompt(AskPictureFileName), m_errorReport(ShowError)
{
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setTitle(QString());
    m_chart->setBackgroundRoundness(0);
    m_chart->setMargins(QMargins(4, 4, 8, 4));
    m_chart->setAnimationOptions(QChart::NoAnimation);
    // Axis labels with the locale's decimal separator ("%.10g" below is
    // then written through the locale).
    m_chart->setLocale(NumberLocale());
    m_chart->setLocalizeNumbers(true);

    m_xAxis = new QValueAxis;
    m_yAxis = new QValueAxis;
    for (QValueAxis *axis : {m_xAxis, m_yAxis}) {
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        axis->setLabelFormat(QStringLiteral("%.10g"));
    }
    m_chart->addAxis(m_xAxis, Qt::AlignBottom);
    m_chart->addAxis(m_yAxis, Qt::AlignLeft);

    m_view = new ChartWidgetView(m_chart, this);
    // Right clicks go on to this widget, where the owner binds its menu.
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->viewport()->setContextMenuPolicy(Qt::NoContextMenu);

    buildToolBar();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_view, 1);
    m_toolBar->hide();

    m_channels.resize(std::size_t(m_data.channelCount()));
    for (int i = 0; i < m_data.channelCount(); ++i)
        setupChannel(i, m_data.channel(i).title());

    m_cursorLabel = new QLabel(m_view);
    m_cursorLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_cursorLabel->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,225,220); border: 1px solid gray; padding: 1px 4px; }"));
    m_cursorLabel->hide();

    setYAxis(DefaultYMinimum, DefaultYSpan);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &ChartWidget::onTimer);
    m_timer->start(DefaultRepaintIntervalMs);
}

ChartWidget::~ChartWidget() = default;

void ChartWidget::buildToolBar()
{
    m_toolBar = new QToolBar(this);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_toolBar->setMovable(false);
    const auto add = [this](const QString &text, const QString &tip, bool checkable) {
        QAction *a = m_toolBar->addAction(text);
        a->setToolTip(tip);
        a->setCheckable(checkable);
        m_actions.push_back(a);
        return a;
    };
    connect(add(tr("放大"), tr("放大（也可用鼠标滚轮）"), false), &QAction::triggered, this,
            &ChartWidget::zoomIn);
    connect(add(tr("缩小"), tr("缩小"), false), &QAction::triggered, this, &ChartWidget::zoomOut);
    connect(add(tr("平移"), tr("按住鼠标左键拖动图形"), true), &QAction::toggled, this,
            &ChartWidget::setPanEnabled);
    connect(add(tr("全部显示"), tr("显示全部数据"), false), &QAction::triggered, this, &ChartWidget::fitAll);
    connect(add(tr("实时滚动"), tr("回到实时滚动显示"), false), &QAction::triggered, this,
            &ChartWidget::followLive);
    connect(add(tr("保存图片"), tr("把图形保存为 PNG 图片"), false), &QAction::triggered, this,
            &ChartWidget::savePictureAsked);
    connect(add(tr("数据游标"), tr("显示鼠标处的 X、Y 值"), true), &QAction::toggled, this,
            &ChartWidget::setDataCursorVisible);
}

QAction *ChartWidget::action(Action which) const
{
    return m_actions[std::size_t(which)];
}

namespace
{
const QColor SmoothedColour(0xE0, 0xA8, 0x00);
} // namespace

void ChartWidget::setupChannel(int index, const QString &title)
{
    Channel &c = m_channels[std::size_t(index)];
    QLineSeries *first = newPiece(index);
    first->setName(title);
    // The samples keep the colour the chart's theme gives the first series.
    QColor colour = first->pen().color();
    int width = SampleLineWidth;
    if (index == SmoothedChannel) {
        // A deep yellow: pure yellow all but vanishes on the white plot area.
        colour = SmoothedColour;
        width = SmoothedLineWidth;
    } else if (index == MeanChannel) {
        colour = Qt::blue;
        width = MeanLineWidth;
    }
    c.pen = QPen(colour, width);
    first->setPen(c.pen);

    c.lonePoints = new QScatterSeries;
    c.lonePoints->setName(title);
    m_chart->addSeries(c.lonePoints);
    c.lonePoints->attachAxis(m_xAxis);
    c.lonePoints->attachAxis(m_yAxis);
    c.lonePoints->setMarkerSize(MarkerSize);
    c.lonePoints->setColor(colour);
    c.lonePoints->setBorderColor(colour);
    c.lonePoints->setVisible(false);
}

QLineSeries *ChartWidget::newPiece(int channel)
{
    Channel &c = m_channels[std::size_t(channel)];
    auto *s = new QLineSeries;
    m_chart->addSeries(s);
    s->attachAxis(m_xAxis);
    s->attachAxis(m_yAxis);
    if (!c.pieces.empty()) {
        s->setName(c.pieces.front()->name());
        s->setPen(c.pen);
    }
    s->setMarkerSize(MarkerSize);
    s->setPointsVisible(c.markers);
    c.pieces.push_back(s);
    return s;
}

const std::vector<QLineSeries *> &ChartWidget::lineSeries(int channel) const
{
    return m_channels[std::size_t(channel)].pieces;
}

QScatterSeries *ChartWidget::lonePointSeries(int channel) const
{
    return m_channels[std::size_t(channel)].lonePoints;
}

void ChartWidget::setMarkersVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= int(m_channels.size()))
        return;
    Channel &c = m_channels[std::size_t(channel)];
    if (c.markers == visible)
        return;
    c.markers = visible;
    for (QLineSeries *s : c.pieces)
        s->setPointsVisible(visible);
    c.lonePoints->setVisible(visible);
}

bool ChartWidget::markersVisible(int channel) const
{
    if (channel < 0 || channel >= int(m_channels.size()))
        return false;
    return m_channels[std::size_t(channel)].markers;
}

void ChartWidget::setYAxis(double minimum, double span)
{
    m_yMinimum = minimum;
    m_ySpan = span;
    m_yTracking = false;
    ToBand(minimum, span, m_viewYMin, m_viewYMax);
}

void ChartWidget::clearAll()
{
    m_data.clearAll();
    putToolsAway();
}

void ChartWidget::setToolbarVisible(bool visible)
{
    m_toolBar->setVisible(visible);
    if (!visible)
        putToolsAway();
}

bool ChartWidget::toolbarVisible() const
{
    return !m_toolBar->isHidden();
}

void ChartWidget::setToolbarEnabled(bool enabled)
{
    m_toolBar->setEnabled(enabled);
    if (!enabled)
        putToolsAway();
}

bool ChartWidget::toolbarEnabled() const
{
    return m_toolBar->isEnabled();
}

bool ChartWidget::toolsAtHand() const
{
    // Mouse zoom and pan leave live scrolling; they work only while the
    // toolbar, with its way back, can be used.
    return toolbarVisible() && toolbarEnabled();
}

void ChartWidget::putToolsAway()
{
    // Without the toolbar there is no way back to live mode and no way to
    // switch the tools off, so none may stay armed.
    setPanEnabled(false);
    setDataCursorVisible(false);
    followLive();
}

void ChartWidget::setDataCursorVisible(bool visible)
{
    m_dataCursorVisible = visible;
    {
        const QSignalBlocker block(action(Action::DataCursor));
        action(Action::DataCursor)->setChecked(visible);
    }
    m_cursorLabel->setVisible(visible && m_cursorInside);
}

void ChartWidget::setPanEnabled(bool enabled)
{
    m_panEnabled = enabled;
    const QSignalBlocker block(action(Action::Pan));
    action(Action::Pan)->setChecked(enabled);
}

void ChartWidget::suspendRepaint()
{
    ++m_suspendDepth;
}

void ChartWidget::resumeRepaint()
{
    if (m_suspendDepth > 0)
        --m_suspendDepth;
}

void ChartWidget::setRepaintInterval(int ms)
{
    if (ms <= 0) {
        m_timer->stop();
        return;
    }
    m_timer->start(ms);
}

void ChartWidget::onTimer()
{
    // Hidden charts are brought up to date when they are shown again.
    if (!isVisible())
        return;
    try {
        refresh();
    } catch (const std::exception &) {
        // Out of memory for the handover: the next tick tries again.
    }
}

void ChartWidget::liveXRange(double &xMin, double &xMax) const
{
    // The view ends at the newest sample, the point last appended to the
    // samples channel, whatever X earlier points (an import) reach; it
    // starts at 0 until the samples pass LiveSpan.
    const ChartChannel &samples = m_data.channel(SampleChannel);
    double newest = LiveSpan;
    if (samples.count() > 0) {
        newest = samples.x(samples.count() - 1);
        if (!std::isfinite(newest)) // fall back to the furthest drawable one
            newest = samples.extent().isEmpty() ? LiveSpan : samples.extent().maxX;
    }
    xMax = std::max(LiveSpan, newest);
    xMin = xMax - LiveSpan;
    if (!(xMax > xMin)) // beyond the precision of doubles
        ToBand(xMax, 0, xMin, xMax);
}

int ChartWidget::plotColumns() const
{
    const int columns = int(std::ceil(m_chart->plotArea().width() / PixelsPerColumn));
    return columns >= MinimumColumns ? columns : FallbackColumns;
}

bool ChartWidget::refresh()
{
    if (m_suspendDepth > 0)
        return false;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    if (!m_axesSet || m_axisXMin != m_viewXMin || m_axisXMax != m_viewXMax) {
        SetAxisRange(m_xAxis, m_viewXMin, m_viewXMax, XTickTarget);
        m_axisXMin = m_viewXMin;
        m_axisXMax = m_viewXMax;
    }

    const int columns = plotColumns();
    bool handed = false;
    for (int i = 0; i < int(m_channels.size()); ++i) {
        const Channel &c = m_channels[std::size_t(i)];
        if (c.drawnRevision == m_data.channel(i).revision() && c.drawnXMin == m_viewXMin &&
            c.drawnXMax == m_viewXMax && c.drawnColumns == columns && c.drawnMarkers == c.markers)
            continue;
        updateChannel(i, m_viewXMin, m_viewXMax, columns);
        handed = true;
    }

    if (m_live)
        trackYRange();
    if (!m_axesSet || m_axisYMin != m_viewYMin || m_axisYMax != m_viewYMax) {
        SetAxisRange(m_yAxis, m_viewYMin, m_viewYMax, YTickTarget);
        m_axisYMin = m_viewYMin;
        m_axisYMax = m_viewYMax;
    }
    m_axesSet = true;
    if (handed)
        ++m_seriesUpdates;
    return handed;
}

void ChartWidget::trackYRange()
{
    // The thinned traces keep the lowest and highest point of every pixel
    // column, so their extent is that of all values in view.
    bool any = false;
    double lo = 0;
    double hi = 0;
    for (const Channel &c : m_channels) {
        const ChartRange &r = c.drawnYExtent;
        if (r.isEmpty())
            continue;
        lo = any ? std::min(lo, r.minY) : r.minY;
        hi = any ? std::max(hi, r.maxY) : r.maxY;
        any = true;
    }
    if (!any) {
        m_yTracking = false;
        ToBand(m_yMinimum, m_ySpan, m_viewYMin, m_viewYMax);
        return;
    }
    double low = 0;
    double high = 0;
    TrackedRange(lo, hi, low, high);
    // Widen at once; shrink only when the range has become much too wide.
    const bool holdsValues = m_viewYMin <= lo && hi <= m_viewYMax;
    if (m_yTracking && holdsValues && m_viewYMax - m_viewYMin <= YShrinkRatio * (high - low))
        return;
    m_viewYMin = low;
    m_viewYMax = high;
    m_yTracking = true;
}

void ChartWidget::updateChannel(int index, double xMin, double xMax, int columns)
{
    Channel &c = m_channels[std::size_t(index)];
    const ChartChannel &channel = m_data.channel(index);
    ThinForDisplay(channel, xMin, xMax, columns, m_trace);
    c.drawnYExtent = YExtentInView(m_trace, xMin, xMax, c.markers);

    // Pieces of two or more points are lines; a lone point is only a marker.
    std::vector<std::pair<qsizetype, qsizetype>> lines; // begin, end in m_trace.points
    QList<QPointF> lone;
    for (qsizetype p = 0; p < m_trace.pieceCount(); ++p) {
        const qsizetype begin = m_trace.pieceBegin(p);
        const qsizetype end = m_trace.pieceEnds[std::size_t(p)];
        if (end - begin >= 2)
            lines.emplace_back(begin, end);
        else if (c.markers)
            lone.append(m_trace.points[begin]);
    }
    if (qsizetype(lines.size()) > MaxPiecesPerChannel) {
        lines[MaxPiecesPerChannel - 1].second = lines.back().second;
        lines.resize(MaxPiecesPerChannel);
    }
    while (c.pieces.size() < lines.size())
        newPiece(index);

    for (std::size_t k = 0; k < c.pieces.size(); ++k) {
        QLineSeries *s = c.pieces[k];
        if (k < lines.size()) {
            const auto [begin, end] = lines[k];
            if (begin == 0 && end == m_trace.points.size())
                s->replace(m_trace.points); // the usual case: one piece, shared without a copy
            else
                s->replace(m_trace.points.mid(begin, end - begin));
        } else if (s->count() > 0) {
            s->clear();
        }
    }
    if (!lone.isEmpty() || c.lonePoints->count() > 0)
        c.lonePoints->replace(lone);

    c.drawnRevision = channel.revision();
    c.drawnXMin = xMin;
    c.drawnXMax = xMax;
    c.drawnColumns = columns;
    c.drawnMarkers = c.markers;
}

void ChartWidget::setView(double xMin, double xMax, double yMin, double yMax)
{
    m_live = false;
    m_viewXMin = xMin;
    m_viewXMax = xMax;
    m_viewYMin = yMin;
    m_viewYMax = yMax;
}

void ChartWidget::zoomIn()
{
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    zoomAt(ZoomInFactor, (m_viewXMin + m_viewXMax) / 2, (m_viewYMin + m_viewYMax) / 2);
}

void ChartWidget::zoomOut()
{
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    zoomAt(ZoomOutFactor, (m_viewXMin + m_viewXMax) / 2, (m_viewYMin + m_viewYMax) / 2);
}

void ChartWidget::zoomAt(double factor, double x, double y)
{
    if (!(factor > 0) || !std::isfinite(factor) || !std::isfinite(x) || !std::isfinite(y))
        return;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    const double xMin = x - (x - m_viewXMin) * factor;
    const double xMax = x + (m_viewXMax - x) * factor;
    const double yMin = y - (y - m_viewYMin) * factor;
    const double yMax = y + (m_viewYMax - y) * factor;
    const auto usable = [](double low, double high) {
        const double scale = std::max({1.0, std::abs(low), std::abs(high)});
        return high - low > scale * SmallestRelativeSpan && high - low < LargestSpan;
    };
    if (!usable(xMin, xMax) || !usable(yMin, yMax))
        return;
    setView(xMin, xMax, yMin, yMax);
}

void ChartWidget::panBy(double dx, double dy)
{
    if (!std::isfinite(dx) || !std::isfinite(dy))
        return;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    setView(m_viewXMin + dx, m_viewXMax + dx, m_viewYMin + dy, m_viewYMax + dy);
}

void ChartWidget::fitAll()
{
    bool any = false;
    ChartRange all{};
    for (int i = 0; i < m_data.channelCount(); ++i) {
        const ChartRange r = DrawnExtent(m_data.channel(i));
        if (r.isEmpty())
            continue;
        if (!any) {
            all = r;
            any = true;
            continue;
        }
        all.minX = std::min(all.minX, r.minX);
        all.maxX = std::max(all.maxX, r.maxX);
        all.minY = std::min(all.minY, r.minY);
        all.maxY = std::max(all.maxY, r.maxY);
    }
    if (!any) {
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

void ChartWidget::followLive()
{
    m_live = true;
    m_yTracking = false; // the next repaint takes the range from the values in view
    ToBand(m_yMinimum, m_ySpan, m_viewYMin, m_viewYMax);
}

QPointF ChartWidget::valueAt(const QPoint &viewPos) const
{
    const QRectF area = m_chart->plotArea();
    const QPointF scenePos = m_view->mapToScene(viewPos);
    const QPointF chartPos = m_chart->mapFromScene(scenePos);
    if (area.width() <= 0 || area.height() <= 0)
        return {m_viewXMin, m_viewYMin};
    const double fx = (chartPos.x() - area.left()) / area.width();
    const double fy = (area.bottom() - chartPos.y()) / area.height();
    return {m_axisXMin + fx * (m_axisXMax - m_axisXMin), m_axisYMin + fy * (m_axisYMax - m_axisYMin)};
}

void ChartWidget::panDrag(const QPoint &from, const QPoint &to)
{
    const QRectF area = m_chart->plotArea();
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const double dx = -(to.x() - from.x()) / area.width() * (m_viewXMax - m_viewXMin);
    const double dy = (to.y() - from.y()) / area.height() * (m_viewYMax - m_viewYMin);
    panBy(dx, dy);
}

QString ChartWidget::DataCursorText(double x, double y)
{
    const QLocale locale = NumberLocale();
    return QStringLiteral("X: %1   Y: %2").arg(locale.toString(x, 'g', 10), locale.toString(y, 'g', 8));
}

QString ChartWidget::dataCursorText() const
{
    return m_cursorLabel->text();
}

void ChartWidget::mouseMovedTo(const QPoint &pos)
{
    const QPointF scenePos = m_view->mapToScene(pos);
    const QPointF chartPos = m_chart->mapFromScene(scenePos);
    m_cursorInside = m_chart->plotArea().contains(chartPos);
    if (m_cursorInside) {
        m_cursorValue = valueAt(pos);
        m_cursorLabel->setText(DataCursorText(m_cursorValue.x(), m_cursorValue.y()));
        m_cursorLabel->adjustSize();
        const QPointF topLeft = m_view->mapFromScene(m_chart->mapToScene(m_chart->plotArea().topLeft()));
        m_cursorLabel->move(topLeft.toPoint() + QPoint(4, 4));
    }
    m_cursorLabel->setVisible(m_dataCursorVisible && m_cursorInside);
}

void ChartWidget::mouseLeft()
{
    m_cursorInside = false;
    m_cursorLabel->hide();
}

bool ChartWidget::savePicture(const QString &fileName, QString *error)
{
    const bool wasSuspended = m_suspendDepth > 0;
    if (!wasSuspended)
        refresh();
    const QImage picture = m_view->grab().toImage();
    QImageWriter writer(fileName, "png");
    if (picture.isNull() || !writer.write(picture)) {
        if (error)
            *error = picture.isNull() ? tr("图形为空") : writer.errorString();
        return false;
    }
    return true;
}

void ChartWidget::savePictureAsked()
{
    try {
        QString name = m_fileNamePrompt ? m_fileNamePrompt(this) : QString();
        if (name.isEmpty())
            return;
        if (QFileInfo(name).suffix().isEmpty())
            name += QLatin1Char('.') + PictureSuffix;
        QString error;
        if (!savePicture(name, &error) && m_errorReport)
            m_errorReport(this, QStringLiteral("Error Saving Picture - ") + error);
    } catch (const std::exception &e) {
        if (m_errorReport)
            m_errorReport(this, QStringLiteral("Error Saving Picture - ") + QString::fromLocal8Bit(e.what()));
    }
}

void ChartWidget::setFileNamePrompt(FileNamePrompt prompt)
{
    m_fileNamePrompt = std::move(prompt);
}

void ChartWidget::setErrorReport(ErrorReport report)
{
    m_errorReport = std::move(report);
}
