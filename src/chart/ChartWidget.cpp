#include "chart/ChartWidget.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QTimer>
#include <QVarLengthArray>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
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
/// Plot layout, in pixels.
constexpr int TickLength = 4;
constexpr int LabelGap = 3;
constexpr int OuterMargin = 6;
constexpr int RightMargin = 14;
/// Smallest rectangle, in pixels each way, that box zoom takes as meant.
constexpr int MinimumBox = 6;
/// Label texts kept laid out; the cache is emptied when it grows beyond this.
constexpr int LabelCacheLimit = 256;
/// Segments narrower than this many pixels are drawn as bars.
constexpr double SteepSegment = 2.5;
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

/// Tick values of an axis from `low` to `high`: whole multiples of a nice
/// interval, about `target` of them.
std::vector<double> TickValues(double low, double high, int target)
{
    std::vector<double> ticks;
    const double interval = NiceInterval(high - low, target);
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

/// The widget the chart is painted in, with the chart's own mouse handling:
/// box zoom or pan by dragging, zoom by the wheel (over an axis: that axis
/// only) and the data cursor following the mouse. Right clicks are left to
/// the owner (context menu).
class ChartPlot : public QWidget
{
public:
    explicit ChartPlot(ChartWidget *owner) : QWidget(owner), m_owner(owner)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setContextMenuPolicy(Qt::NoContextMenu); // right clicks go on to the owner
        setFocusPolicy(Qt::ClickFocus);          // Esc drops a box being drawn
        setAccessibleName(QCoreApplication::translate("ChartWidget", "曲线图"));
    }

    /// The rectangle box zoom is drawing, empty when none.
    QRect box() const { return m_boxing ? QRect(m_dragFrom, m_dragTo).normalized() : QRect(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        m_owner->paintPlot(painter);
        if (m_boxing) {
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(QPen(QColor(0x30, 0x60, 0xc0), 1, Qt::DashLine));
            painter.setBrush(QColor(0x30, 0x60, 0xc0, 40));
            painter.drawRect(box());
        }
    }

    void resizeEvent(QResizeEvent *) override { m_owner->layoutPlot(); }

    void mousePressEvent(QMouseEvent *event) override
    {
        const QPoint pos = event->position().toPoint();
        if (event->button() != Qt::LeftButton || !m_owner->toolsAtHand() ||
            !m_owner->m_plotArea.contains(pos)) {
            QWidget::mousePressEvent(event);
            return;
        }
        m_dragFrom = m_dragTo = pos;
        if (m_owner->m_panEnabled) {
            m_panning = true;
            setCursor(Qt::ClosedHandCursor);
        } else {
            m_boxing = true;
            setCursor(Qt::CrossCursor);
        }
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QPoint pos = event->position().toPoint();
        if (m_panning && m_owner->m_panEnabled && m_owner->toolsAtHand()) {
            m_owner->panDrag(m_dragTo, pos);
            m_dragTo = pos;
        } else if (m_boxing) {
            m_dragTo = pos;
            update();
        }
        m_owner->mouseMovedTo(pos);
        QWidget::mouseMoveEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !(m_panning || m_boxing)) {
            QWidget::mouseReleaseEvent(event);
            return;
        }
        if (m_boxing) {
            m_dragTo = event->position().toPoint();
            const QRect chosen = box();
            m_boxing = false;
            update();
            if (m_owner->toolsAtHand())
                m_owner->boxZoom(chosen);
        }
        m_panning = false;
        unsetCursor();
        event->accept();
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && m_boxing) { // drop the box being drawn
            m_boxing = false;
            unsetCursor();
            update();
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void wheelEvent(QWheelEvent *event) override
    {
        const double steps = event->angleDelta().y() / WheelStepAngle;
        if (steps == 0 || !m_owner->toolsAtHand()) {
            QWidget::wheelEvent(event);
            return;
        }
        m_owner->wheelAt(event->position().toPoint(), steps);
        event->accept();
    }

    void leaveEvent(QEvent *event) override
    {
        m_owner->mouseLeft();
        QWidget::leaveEvent(event);
    }

private:
    ChartWidget *m_owner;
    bool m_panning = false;
    bool m_boxing = false;
    QPoint m_dragFrom;
    QPoint m_dragTo;
};

ChartWidget::ChartWidget(QWidget *parent)
    : QWidget(parent),
      m_data({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")}),
      m_fileNamePrompt(AskPictureFileName), m_errorReport(ShowError)
{
    m_plot = new ChartPlot(this);
    m_plot->setMinimumSize(120, 80);

    buildToolBar();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toolBar);
    layout->addWidget(m_plot, 1);
    m_toolBar->hide();

    m_channels.resize(std::size_t(m_data.channelCount()));
    for (int i = 0; i < m_data.channelCount(); ++i)
        setupChannel(i);

    m_cursorLabel = new QLabel(m_plot);
    m_cursorLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_cursorLabel->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,225,230); border: 1px solid gray; padding: 1px 4px; }"));
    m_cursorLabel->hide();

    setYAxis(DefaultYMinimum, DefaultYSpan);
    updateTicks(Qt::Horizontal);
    updateTicks(Qt::Vertical);
    layoutPlot();

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
    connect(add(tr("放大"), tr("放大（也可用鼠标滚轮，或按住左键框选）"), false), &QAction::triggered, this,
            &ChartWidget::zoomIn);
    connect(add(tr("缩小"), tr("缩小"), false), &QAction::triggered, this, &ChartWidget::zoomOut);
    connect(add(tr("平移"), tr("按住鼠标左键拖动图形"), true), &QAction::toggled, this,
            &ChartWidget::setPanEnabled);
    connect(add(tr("全部显示"), tr("显示全部数据"), false), &QAction::triggered, this, &ChartWidget::fitAll);
    connect(add(tr("实时滚动"), tr("回到实时滚动显示"), false), &QAction::triggered, this,
            &ChartWidget::followLive);
    connect(add(tr("保存图片"), tr("把图形保存为 PNG 图片"), false), &QAction::triggered, this,
            &ChartWidget::savePictureAsked);
    connect(add(tr("数据游标"), tr("显示离鼠标最近的数据点的通道、X、Y 值"), true), &QAction::toggled, this,
            &ChartWidget::setDataCursorVisible);
}

QAction *ChartWidget::action(Action which) const
{
    return m_actions[std::size_t(which)];
}

namespace
{
/// The samples' blue; a deep yellow for the smoothed trace (pure yellow all
/// but vanishes on the white plot area); blue for the mean lines.
const QColor SampleColour(0x20, 0x9f, 0xdf);
const QColor SmoothedColour(0xE0, 0xA8, 0x00);
const QColor MeanColour(Qt::blue);
const QColor GridColour(0xe4, 0xe4, 0xe4);
const QColor FrameColour(0x90, 0x90, 0x90);
const QColor LabelColour(0x40, 0x40, 0x40);
} // namespace

void ChartWidget::setupChannel(int index)
{
    Channel &c = m_channels[std::size_t(index)];
    if (index == SmoothedChannel)
        c.pen = QPen(SmoothedColour, SmoothedLineWidth);
    else if (index == MeanChannel)
        c.pen = QPen(MeanColour, MeanLineWidth);
    else
        c.pen = QPen(SampleColour, SampleLineWidth);
    c.pen.setCapStyle(Qt::FlatCap);
    c.pen.setJoinStyle(Qt::BevelJoin);
}

QString ChartWidget::ChannelName(int channel)
{
    switch (channel) {
    case SampleChannel:
        return tr("测量值");
    case SmoothedChannel:
        return tr("滤波值");
    case MeanChannel:
        return tr("平均值");
    default:
        return QString::number(channel + 1);
    }
}

QWidget *ChartWidget::plotView() const
{
    return m_plot;
}

QRectF ChartWidget::plotArea() const
{
    return m_plotArea;
}

double ChartWidget::axisMinimum(Qt::Orientation axis) const
{
    return axis == Qt::Horizontal ? m_axisXMin : m_axisYMin;
}

double ChartWidget::axisMaximum(Qt::Orientation axis) const
{
    return axis == Qt::Horizontal ? m_axisXMax : m_axisYMax;
}

QStringList ChartWidget::axisLabels(Qt::Orientation axis) const
{
    QStringList labels;
    for (const Tick &t : axis == Qt::Horizontal ? m_xTicks : m_yTicks)
        labels << t.label;
    return labels;
}

QPen ChartWidget::pen(int channel) const
{
    return m_channels[std::size_t(channel)].pen;
}

int ChartWidget::lineCount(int channel) const
{
    return int(m_channels[std::size_t(channel)].lines.size());
}

QList<QPointF> ChartWidget::linePoints(int channel, int line) const
{
    const Channel &c = m_channels[std::size_t(channel)];
    const auto [begin, end] = c.lines[std::size_t(line)];
    return c.trace.points.mid(begin, end - begin);
}

QList<QPointF> ChartWidget::lonePoints(int channel) const
{
    const Channel &c = m_channels[std::size_t(channel)];
    QList<QPointF> points;
    for (qsizetype i : c.lone)
        points.append(c.trace.points[i]);
    return points;
}

void ChartWidget::setMarkersVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= int(m_channels.size()))
        return;
    Channel &c = m_channels[std::size_t(channel)];
    if (c.markers == visible)
        return;
    c.markers = visible;
    redraw();
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
    if (visible && m_cursorInside)
        updateDataCursor();
    m_cursorLabel->setVisible(visible && m_cursorInside);
    redraw();
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
        // Out of memory for the thinned points: the next tick tries again.
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
    // Before the plot is shown its size is not yet the real one.
    const int columns = m_plot->isVisible() ? int(std::ceil(m_plotArea.width() / PixelsPerColumn)) : 0;
    return columns >= MinimumColumns ? columns : FallbackColumns;
}

bool ChartWidget::refresh()
{
    if (m_suspendDepth > 0)
        return false;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    bool changed = false;
    if (!m_axesSet || m_axisXMin != m_viewXMin || m_axisXMax != m_viewXMax) {
        m_axisXMin = m_viewXMin;
        m_axisXMax = m_viewXMax;
        updateTicks(Qt::Horizontal);
        layoutPlot(); // the labels' width may have changed
        changed = true;
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
        m_axisYMin = m_viewYMin;
        m_axisYMax = m_viewYMax;
        updateTicks(Qt::Vertical);
        layoutPlot(); // the labels' width may have changed
        changed = true;
    }
    m_axesSet = true;
    if (handed)
        ++m_seriesUpdates;
    if (handed || changed) {
        if (m_dataCursorVisible && m_cursorInside)
            updateDataCursor(); // the samples moved under the mouse
        redraw();
    }
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
    ThinForDisplay(channel, xMin, xMax, columns, c.trace);
    c.drawnYExtent = YExtentInView(c.trace, xMin, xMax, c.markers);

    // Pieces of two or more points are lines; a lone point is only a marker.
    c.lines.clear();
    c.lone.clear();
    for (qsizetype p = 0; p < c.trace.pieceCount(); ++p) {
        const qsizetype begin = c.trace.pieceBegin(p);
        const qsizetype end = c.trace.pieceEnds[std::size_t(p)];
        if (end - begin >= 2)
            c.lines.emplace_back(begin, end);
        else if (c.markers)
            c.lone.push_back(begin);
    }
    if (qsizetype(c.lines.size()) > MaxPiecesPerChannel) {
        c.lines[MaxPiecesPerChannel - 1].second = c.lines.back().second;
        c.lines.resize(MaxPiecesPerChannel);
    }

    c.drawnRevision = channel.revision();
    c.drawnXMin = xMin;
    c.drawnXMax = xMax;
    c.drawnColumns = columns;
    c.drawnMarkers = c.markers;
}

void ChartWidget::updateTicks(Qt::Orientation axis)
{
    const bool horizontal = axis == Qt::Horizontal;
    const double low = horizontal ? m_axisXMin : m_axisYMin;
    const double high = horizontal ? m_axisXMax : m_axisYMax;
    std::vector<Tick> &ticks = horizontal ? m_xTicks : m_yTicks;
    ticks.clear();
    const QLocale locale = NumberLocale();
    for (double v : TickValues(low, high, horizontal ? XTickTarget : YTickTarget))
        ticks.push_back({v, locale.toString(v, 'g', 10)});
}

void ChartWidget::layoutPlot()
{
    const QFontMetrics fm(m_plot->font());
    int labelWidth = 0;
    for (const Tick &t : m_yTicks)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(t.label));
    // Grow at once, shrink only by a good step, so the plot does not twitch
    // as the labels change.
    if (labelWidth > m_yLabelWidth || labelWidth + fm.averageCharWidth() * 2 < m_yLabelWidth)
        m_yLabelWidth = labelWidth;
    // The last label on the horizontal axis may sit at the right edge, half
    // of it beyond the plot.
    int halfXLabel = 0;
    for (const Tick &t : m_xTicks)
        halfXLabel = std::max(halfXLabel, (fm.horizontalAdvance(t.label) + 1) / 2);
    if (halfXLabel > m_xLabelHalf || halfXLabel + fm.averageCharWidth() < m_xLabelHalf)
        m_xLabelHalf = halfXLabel;
    const int left = OuterMargin + m_yLabelWidth + LabelGap + TickLength;
    const int top = OuterMargin + fm.height() / 2;
    const int bottom = OuterMargin + fm.height() + LabelGap + TickLength;
    const int right = std::max(RightMargin, m_xLabelHalf + OuterMargin);
    const QRectF area(left, top, std::max(1, m_plot->width() - left - right),
                      std::max(1, m_plot->height() - top - bottom));
    if (area != m_plotArea) {
        m_plotArea = area;
        redraw();
    }
}

const QImage &ChartWidget::labelPicture(const QString &text)
{
    // Each label is drawn once onto the plot's white and then copied: far
    // cheaper than laying out and blending its glyphs at every repaint.
    const qreal ratio = m_plot->devicePixelRatioF();
    if (ratio != m_labelRatio || m_plot->font() != m_labelFont) {
        m_labelCache.clear();
        m_labelRatio = ratio;
        m_labelFont = m_plot->font();
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

void ChartWidget::redraw()
{
    m_canvasDirty = true;
    m_plot->update();
}

QPointF ChartWidget::toPixel(double x, double y) const
{
    const QRectF &a = m_plotArea;
    return {a.left() + (x - m_axisXMin) / (m_axisXMax - m_axisXMin) * a.width(),
            a.bottom() - (y - m_axisYMin) / (m_axisYMax - m_axisYMin) * a.height()};
}

void ChartWidget::paintPlot(QPainter &widgetPainter)
{
    // Everything is drawn into our own picture of the plot, then copied
    // out: the bars of the dense lines are written straight into its pixels.
    // A paint with nothing new (the box of box zoom moving, an expose) copies
    // the picture as it is.
    const qreal ratio = m_plot->devicePixelRatioF();
    const QSize size = m_plot->size() * ratio;
    if (m_canvas.size() != size || m_canvas.devicePixelRatio() != ratio) {
        m_canvas = QImage(size, QImage::Format_RGB32); // opaque: copied out without blending
        m_canvas.setDevicePixelRatio(ratio);
        m_canvasDirty = true;
    }
    if (!m_canvasDirty) {
        widgetPainter.drawImage(0, 0, m_canvas);
        return;
    }
    m_canvasDirty = false;
    Canvas canvas{m_canvas.bits(), m_canvas.bytesPerLine(), m_canvas.width(), m_canvas.height(), ratio};
    {
        QPainter painter(&m_canvas);
        painter.fillRect(m_plot->rect(), Qt::white);
        paintAxes(painter);

        // The channels cut their lines at the plot area themselves: a clip
        // on the painter would slow every bar and segment down.
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (const Channel &c : m_channels)
            paintChannel(painter, canvas, c);

        if (m_dataCursorVisible && m_cursorInside && m_cursorChannel >= 0) {
            const QPointF at = toPixel(m_cursorValue.x(), m_cursorValue.y());
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 5.0, 5.0);
            painter.setPen(QPen(QColor(0, 0, 0, 90), 1, Qt::DotLine));
            painter.drawLine(QPointF(at.x(), m_plotArea.top()), QPointF(at.x(), m_plotArea.bottom()));
        }
    }
    widgetPainter.drawImage(0, 0, m_canvas);
}

namespace
{
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
    BarFiller(const ChartWidget::Canvas &canvas, QRgb colour)
        : m_canvas(canvas), m_colour(colour), m_top(std::size_t(std::max(canvas.width, 0)), INT_MAX),
          m_bottom(std::size_t(std::max(canvas.width, 0)), INT_MIN)
    {
    }
    ~BarFiller() { flush(m_canvas.width); }

    void add(QRect r, bool followsOn)
    {
        if (m_canvas.ratio != 1.0)
            r = QRect(QPoint(int(std::floor(r.left() * m_canvas.ratio)), int(std::floor(r.top() * m_canvas.ratio))),
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

    const ChartWidget::Canvas &m_canvas;
    QRgb m_colour;
    std::vector<int> m_top;
    std::vector<int> m_bottom;
    int m_first = INT_MAX; // collected columns, first to last
    int m_last = INT_MIN;
};
} // namespace

void ChartWidget::paintAxes(QPainter &painter)
{
    const QRectF &a = m_plotArea;
    const QFontMetrics fm(m_plot->font());
    painter.setRenderHint(QPainter::Antialiasing, false);

    // Grid lines, frame and ticks: one-pixel rectangles, the painter's
    // cheapest figure.
    const QRect r = a.toRect();
    for (const Tick &t : m_xTicks) {
        const int px = int(std::lround(toPixel(t.value, 0).x()));
        painter.fillRect(QRect(px, r.top(), 1, r.height()), GridColour);
        painter.fillRect(QRect(px, r.bottom() + 1, 1, TickLength), FrameColour);
    }
    for (const Tick &t : m_yTicks) {
        const int py = int(std::lround(toPixel(0, t.value).y()));
        painter.fillRect(QRect(r.left(), py, r.width(), 1), GridColour);
        painter.fillRect(QRect(r.left() - TickLength, py, TickLength, 1), FrameColour);
    }
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), FrameColour);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), FrameColour);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), FrameColour);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), FrameColour);

    const int labelTop = int(a.bottom()) + TickLength + LabelGap;
    for (const Tick &t : m_xTicks) {
        const QImage &text = labelPicture(t.label);
        const double px = toPixel(t.value, 0).x();
        painter.drawImage(int(std::lround(px - text.deviceIndependentSize().width() / 2)), labelTop, text);
    }
    for (const Tick &t : m_yTicks) {
        const QImage &text = labelPicture(t.label);
        const double py = toPixel(0, t.value).y();
        painter.drawImage(int(std::lround(a.left() - TickLength - LabelGap - text.deviceIndependentSize().width())),
                           int(std::lround(py - fm.height() / 2.0)), text);
    }
}

void ChartWidget::paintChannel(QPainter &painter, const Canvas &canvas, const Channel &c) const
{
    const QList<QPointF> &points = c.trace.points;
    if (points.isEmpty())
        return;
    const QRectF guard = m_plotArea;
    const QRect barArea = m_plotArea.toAlignedRect();
    const QRectF &a = m_plotArea;
    const double sx = a.width() / (m_axisXMax - m_axisXMin);
    const double sy = a.height() / (m_axisYMax - m_axisYMin);
    const auto pixel = [&](const QPointF &p) {
        return QPointF(a.left() + (p.x() - m_axisXMin) * sx, a.bottom() - (p.y() - m_axisYMin) * sy);
    };

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
        bars.add(QRect(left, top, width, bottom - top + 1) & barArea, chained && std::abs(left - lastLeft) <= width);
        chained = true;
        lastLeft = left;
    };
    for (const auto &[begin, end] : c.lines) {
        chained = false;
        QPointF previous = pixel(points[begin]);
        bool previousInside = guard.contains(previous);
        for (qsizetype i = begin + 1; i < end; ++i) {
            const QPointF current = pixel(points[i]);
            const bool inside = guard.contains(current);
            if (previousInside && inside) {
                addSegment(previous, current);
            } else {
                QPointF from = previous, to = current;
                if (ClipSegment(from, to, guard))
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

    if (!c.markers)
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(c.pen.color(), 1));
    painter.setBrush(c.pen.color());
    const double r = MarkerSize / 2;
    const auto marker = [&](const QPointF &p) {
        const QPointF at = pixel(p);
        if (a.contains(at))
            painter.drawEllipse(at, r, r);
    };
    for (const auto &[begin, end] : c.lines)
        for (qsizetype i = begin; i < end; ++i)
            marker(points[i]);
    for (qsizetype i : c.lone)
        marker(points[i]);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
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

namespace
{
bool UsableSpan(double low, double high)
{
    const double scale = std::max({1.0, std::abs(low), std::abs(high)});
    return high - low > scale * SmallestRelativeSpan && high - low < LargestSpan;
}
} // namespace

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
    if (!UsableSpan(xMin, xMax) || !UsableSpan(yMin, yMax))
        return;
    setView(xMin, xMax, yMin, yMax);
}

void ChartWidget::zoomAxisAt(Qt::Orientation axis, double factor, double value)
{
    if (!(factor > 0) || !std::isfinite(factor) || !std::isfinite(value))
        return;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    const bool horizontal = axis == Qt::Horizontal;
    const double low = horizontal ? m_viewXMin : m_viewYMin;
    const double high = horizontal ? m_viewXMax : m_viewYMax;
    const double newLow = value - (value - low) * factor;
    const double newHigh = value + (high - value) * factor;
    if (!UsableSpan(newLow, newHigh))
        return;
    if (horizontal)
        setView(newLow, newHigh, m_viewYMin, m_viewYMax);
    else
        setView(m_viewXMin, m_viewXMax, newLow, newHigh);
}

void ChartWidget::zoomTo(double x1, double y1, double x2, double y2)
{
    const double xMin = std::min(x1, x2), xMax = std::max(x1, x2);
    const double yMin = std::min(y1, y2), yMax = std::max(y1, y2);
    if (!std::isfinite(xMin) || !std::isfinite(xMax) || !std::isfinite(yMin) || !std::isfinite(yMax) ||
        !UsableSpan(xMin, xMax) || !UsableSpan(yMin, yMax))
        return;
    if (m_live)
        liveXRange(m_viewXMin, m_viewXMax);
    setView(xMin, xMax, yMin, yMax);
}

void ChartWidget::boxZoom(const QRect &box)
{
    if (box.width() < MinimumBox || box.height() < MinimumBox)
        return; // a click or a slip of the hand, not a box
    const QPointF from = valueAt(box.topLeft());
    const QPointF to = valueAt(box.bottomRight() + QPoint(1, 1));
    zoomTo(from.x(), from.y(), to.x(), to.y());
    refresh();
}

void ChartWidget::wheelAt(const QPoint &pos, double steps)
{
    const double factor = std::pow(WheelStepFactor, steps);
    const QPointF value = valueAt(pos);
    const QRectF &a = m_plotArea;
    if (pos.x() < a.left() && pos.y() >= a.top() && pos.y() <= a.bottom())
        zoomAxisAt(Qt::Vertical, factor, value.y()); // over the vertical axis
    else if (pos.y() > a.bottom() && pos.x() >= a.left() && pos.x() <= a.right())
        zoomAxisAt(Qt::Horizontal, factor, value.x()); // over the horizontal axis
    else if (a.contains(pos))
        zoomAt(factor, value.x(), value.y());
    else
        return;
    refresh();
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

QPointF ChartWidget::valueAt(const QPointF &viewPos) const
{
    const QRectF &area = m_plotArea;
    if (area.width() <= 0 || area.height() <= 0)
        return {m_viewXMin, m_viewYMin};
    const double fx = (viewPos.x() - area.left()) / area.width();
    const double fy = (area.bottom() - viewPos.y()) / area.height();
    return {m_axisXMin + fx * (m_axisXMax - m_axisXMin), m_axisYMin + fy * (m_axisYMax - m_axisYMin)};
}

void ChartWidget::panDrag(const QPoint &from, const QPoint &to)
{
    const QRectF &area = m_plotArea;
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const double dx = -(to.x() - from.x()) / area.width() * (m_viewXMax - m_viewXMin);
    const double dy = (to.y() - from.y()) / area.height() * (m_viewYMax - m_viewYMin);
    panBy(dx, dy);
    refresh();
}

QString ChartWidget::DataCursorText(double x, double y)
{
    const QLocale locale = NumberLocale();
    return QStringLiteral("X: %1   Y: %2").arg(locale.toString(x, 'g', 10), locale.toString(y, 'g', 8));
}

QString ChartWidget::DataCursorText(const QString &channel, double x, double y)
{
    const QLocale locale = NumberLocale();
    // The shortest text that reads back as the stored value.
    return QStringLiteral("%1   X: %2   Y: %3")
        .arg(channel, locale.toString(x, 'g', QLocale::FloatingPointShortest),
             locale.toString(y, 'g', QLocale::FloatingPointShortest));
}

QString ChartWidget::dataCursorText() const
{
    return m_cursorLabel->text();
}

void ChartWidget::updateDataCursor()
{
    // The drawn points are samples as stored (the thinning keeps the first,
    // lowest, highest and last of each column), so the nearest of them on
    // the screen is the sample the operator points at.
    const QPointF mouse(m_mousePos);
    double best = double(SnapRadius) * SnapRadius;
    m_cursorChannel = -1;
    for (int ch = 0; ch < int(m_channels.size()); ++ch) {
        const Channel &c = m_channels[std::size_t(ch)];
        const QList<QPointF> &points = c.trace.points;
        const auto consider = [&](qsizetype i) {
            const QPointF p = points[i];
            const QPointF at = toPixel(p.x(), p.y());
            const double d = (at.x() - mouse.x()) * (at.x() - mouse.x()) + (at.y() - mouse.y()) * (at.y() - mouse.y());
            if (d <= best && m_plotArea.adjusted(-1, -1, 1, 1).contains(at)) {
                best = d;
                m_cursorChannel = ch;
                m_cursorValue = p;
            }
        };
        for (const auto &[begin, end] : c.lines)
            for (qsizetype i = begin; i < end; ++i)
                consider(i);
        for (qsizetype i : c.lone)
            consider(i);
    }
    if (m_cursorChannel >= 0) {
        m_cursorLabel->setText(DataCursorText(ChannelName(m_cursorChannel), m_cursorValue.x(), m_cursorValue.y()));
    } else {
        m_cursorValue = valueAt(mouse);
        m_cursorLabel->setText(DataCursorText(m_cursorValue.x(), m_cursorValue.y()));
    }
    m_cursorLabel->adjustSize();
    m_cursorLabel->move(m_plotArea.topLeft().toPoint() + QPoint(4, 4));
}

void ChartWidget::mouseMovedTo(const QPoint &pos)
{
    m_mousePos = pos;
    m_cursorInside = m_plotArea.contains(pos);
    if (m_cursorInside && m_dataCursorVisible) {
        updateDataCursor();
        redraw();
    }
    m_cursorLabel->setVisible(m_dataCursorVisible && m_cursorInside);
}

void ChartWidget::mouseLeft()
{
    m_cursorInside = false;
    m_cursorLabel->hide();
    if (m_dataCursorVisible)
        redraw();
}

bool ChartWidget::savePicture(const QString &fileName, QString *error)
{
    const bool wasSuspended = m_suspendDepth > 0;
    if (!wasSuspended)
        refresh();
    const QImage picture = m_plot->grab().toImage();
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
