#include "chart/ChartWidget.h"

#include "chart/ChartPlot.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace
{

constexpr int SampleLineWidth = 2;
constexpr int SmoothedLineWidth = 2;
constexpr int MeanLineWidth = 1;
/// Points are thinned per column of this many pixels: the sample line is 2 px
/// wide, so no finer detail can show, and each column gives at most four
/// points (first, lowest, highest, last), about two per pixel of plot width.
constexpr double PixelsPerColumn = 2.0;
/// Columns assumed while the chart has no real size yet.
constexpr int FallbackColumns = 500;
constexpr int MinimumColumns = 8;
/// Smallest rectangle, in pixels each way, that box zoom takes as meant.
constexpr int MinimumBox = 6;
/// Zoom factors of the toolbar buttons and of one wheel step.
constexpr double ZoomInFactor = 0.5;
constexpr double ZoomOutFactor = 2.0;
constexpr double WheelStepFactor = 0.8;

/// The samples' blue; a deep yellow for the smoothed trace (pure yellow all
/// but vanishes on the white plot area); blue for the mean lines.
const QColor SampleColour(0x20, 0x9f, 0xdf);
const QColor SmoothedColour(0xE0, 0xA8, 0x00);
const QColor MeanColour(Qt::blue);

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

    for (int i = 0; i < m_picture.traceCount(); ++i)
        setupChannel(i);
    m_axes.setHorizontalLabeller([this](const std::vector<double> &values) { return clockLabels(values); });

    m_cursorLabel = new QLabel(m_plot);
    m_cursorLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_cursorLabel->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(255,255,225,230); border: 1px solid gray; padding: 1px 4px; }"));
    m_cursorLabel->hide();

    setYAxis(DefaultYMinimum, DefaultYSpan);
    m_axes.setRange(Qt::Horizontal, 0, 0);
    m_axes.setRange(Qt::Vertical, 0, 0);
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
    // Not on the toolbar: the owner offers it where it fits (a context menu).
    auto *clockTime = new QAction(tr("时钟时间"), this);
    clockTime->setToolTip(tr("横坐标标为采样的时钟时间（时:分:秒）"));
    clockTime->setCheckable(true);
    m_actions.push_back(clockTime);
    connect(clockTime, &QAction::toggled, this, &ChartWidget::setClockTimeAxis);
}

QAction *ChartWidget::action(Action which) const
{
    return m_actions[std::size_t(which)];
}

void ChartWidget::setupChannel(int index)
{
    QPen &pen = m_picture.trace(index).pen;
    if (index == SmoothedChannel)
        pen = QPen(SmoothedColour, SmoothedLineWidth);
    else if (index == MeanChannel)
        pen = QPen(MeanColour, MeanLineWidth);
    else
        pen = QPen(SampleColour, SampleLineWidth);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::BevelJoin);
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

void ChartWidget::setMarkersVisible(int channel, bool visible)
{
    if (channel < 0 || channel >= m_picture.traceCount())
        return;
    ChartTrace &t = m_picture.trace(channel);
    if (t.markers == visible)
        return;
    t.markers = visible;
    redraw();
}

bool ChartWidget::markersVisible(int channel) const
{
    if (channel < 0 || channel >= m_picture.traceCount())
        return false;
    return m_picture.trace(channel).markers;
}

void ChartWidget::setYAxis(double minimum, double span)
{
    m_view.setYAxis(minimum, span);
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
    emit aboutToRefresh();
    try {
        refresh();
    } catch (const std::exception &) {
        // Out of memory for the thinned points: the next tick tries again.
    }
}

int ChartWidget::plotColumns() const
{
    // Before the plot is shown its size is not yet the real one.
    const int columns =
        m_plot->isVisible() ? int(std::ceil(m_view.map().area().width() / PixelsPerColumn)) : 0;
    return columns >= MinimumColumns ? columns : FallbackColumns;
}

bool ChartWidget::showVerticalAxis()
{
    if (!m_view.showAxis(Qt::Vertical))
        return false;
    m_axes.setRange(Qt::Vertical, m_view.map().minimum(Qt::Vertical), m_view.map().maximum(Qt::Vertical));
    layoutPlot(); // the labels' width may have changed
    return true;
}

void ChartWidget::labelHorizontalAxis()
{
    m_axes.setRange(Qt::Horizontal, m_drawn.xMinimum(), m_drawn.xMaximum());
}

int ChartWidget::showHorizontalAxis()
{
    m_view.showAxis(Qt::Horizontal);
    const int moved = m_drawn.follow(m_view.map(), m_view.isLive());
    if (moved != 0 || m_clockTime) {
        labelHorizontalAxis();
        layoutPlot(); // the labels' width may have changed
    }
    return moved;
}

bool ChartWidget::refresh()
{
    if (m_suspendDepth > 0)
        return false;
    // The horizontal range first: the plot area, and with it the number of
    // columns to thin to, depends on its labels. The vertical range follows
    // the values thinned for it.
    const QRectF areaBefore = m_view.map().area();
    m_view.scrollLive();
    int moved = showHorizontalAxis();
    if (m_view.map().area() != areaBefore) { // new labels, new area: start afresh
        m_drawn.reset();
        showHorizontalAxis();
        moved = -1;
    }
    const double xMin = m_drawn.xMinimum();
    const double xMax = m_drawn.xMaximum();
    const int columns = plotColumns();
    ThinColumns grid{};
    const bool gridded = columns * ChartDrawnRange::ColumnPixels == int(m_view.map().area().width()) &&
                         m_drawn.columns(m_view.map(), grid);
    bool handed = false;
    bool appendedOnly = true;
    double fromX = std::numeric_limits<double>::infinity();
    for (int i = 0; i < m_picture.traceCount(); ++i) {
        ChartTrace &t = m_picture.trace(i);
        const ChartChannel &channel = m_data.channel(i);
        if (!t.visible || t.staysDrawn(channel, xMin, xMax, columns, gridded ? &grid : nullptr))
            continue;
        double from = 0;
        appendedOnly = t.onlyAppendedTo(channel, from) && appendedOnly;
        fromX = std::min(fromX, from);
        t.thin(channel, xMin, xMax, columns, gridded ? &grid : nullptr);
        handed = true;
    }
    // The thinned traces keep the lowest and highest point of every pixel
    // column, so their extent is that of all values in view.
    m_view.followValues(m_picture.yExtentInView());
    const bool yChanged = showVerticalAxis();
    updateLegend();
    if (handed)
        ++m_seriesUpdates;
    const bool changed = handed || moved != 0 || yChanged;
    if (!changed)
        return false;
    if (m_dataCursorVisible && m_cursorInside)
        updateDataCursor(); // the samples moved under the mouse
    const bool cursorDrawn = m_dataCursorVisible && m_cursorInside && m_cursorChannel >= 0;
    if (moved < 0 || yChanged || !appendedOnly || cursorDrawn || !m_plot->box().isEmpty() ||
        m_view.map().area() != areaBefore || !scrollPicture(moved, fromX))
        redraw();
    return handed;
}

bool ChartWidget::scrollPicture(int moved, double fromX)
{
    // What the picture holds stays right where it lands after the shift,
    // except: the newest columns (from the last point drawn, its thinning
    // column and the pens' width before it), the columns the old right edge
    // lands on, the left edge (lines cut there anew), the legend, and the
    // horizontal axis' labels below the plot.
    if (m_picture.isInvalid() || m_plot->width() <= 0)
        return false;
    const ChartMap map = drawnMap();
    const QRect r = map.area().toRect();
    int widest = 1;
    for (int i = 0; i < m_picture.traceCount(); ++i)
        widest = std::max(widest, m_picture.trace(i).pen.width());
    const int slack = ChartDrawnRange::ColumnPixels + widest + 2;
    const int width = m_plot->width();
    int from = r.right() + 1 - moved - slack;
    if (std::isfinite(fromX))
        from = std::min(from, int(std::floor(map.toPixel(fromX, 0).x())) - slack);
    from = std::max(from, r.left());
    // The horizontal axis' ticks and labels move along with the plot; those
    // reaching left of it are drawn anew, and all of them while they are
    // clock times (a label may have got its time).
    const int height = m_plot->height();
    const QRect moving(r.left(), 0, width - r.left(), height);
    QRegion exposed(QRect(from, 0, width - from, height));
    const int labelsTop = r.bottom() + 1;
    if (m_clockTime)
        exposed += QRect(0, labelsTop, width, height - labelsTop);
    else if (moved > 0)
        exposed += QRect(0, labelsTop, r.left() + m_axes.labelReach() + slack, height - labelsTop);
    const int newLabels = from - m_axes.labelReach() - slack; // a tick that came into view
    exposed += QRect(newLabels, labelsTop, width - newLabels, height - labelsTop);
    if (moved > 0) {
        exposed += QRect(r.left(), 0, slack, labelsTop);
        exposed += m_picture.legendRect(map.area(), m_plot->font());
    }
    m_picture.scroll(moving, moved, exposed);
    if (m_picture.isInvalid())
        return false;
    ++m_scrolls;
    if (moved > 0)
        m_plot->scroll(-moved, 0, moving);
    m_plot->update(exposed);
    return true;
}

void ChartWidget::layoutPlot()
{
    const QRectF area = m_axes.plotArea(m_plot->size(), m_plot->font());
    if (area != m_view.map().area()) {
        m_view.setArea(area);
        redraw();
    }
}

void ChartWidget::redraw()
{
    m_picture.invalidate();
    m_plot->update();
}

void ChartWidget::paintPlot(QPainter &widgetPainter, const QRegion &part)
{
    // Everything is drawn into the plot's own picture, then copied out: the
    // bars of the dense lines are written straight into its pixels. A paint
    // with nothing new (the box of box zoom moving, an expose) copies the
    // picture as it is; a live view that moved on has the parts drawn that
    // its shift left to draw.
    const qreal ratio = m_plot->devicePixelRatioF();
    const ChartMap map = drawnMap();
    const QRegion direct = m_picture.takeDirect(part);
    if (!direct.isEmpty()) {
        // Drawn in the picture where they belong (the rest of it is out of
        // date) and copied out.
        QImage &picture = m_picture.image();
        uchar *bits = picture.bits(); // before a painter opens on it
        QPainter painter(&picture);
        // The legend covers what lies under it: there only it is drawn.
        const QRect legend = m_picture.legendRect(map.area(), m_plot->font());
        for (const QRect &rect : direct - legend) {
            painter.setClipRect(rect);
            painter.fillRect(rect, Qt::white);
            m_axes.paint(painter, map, m_plot->font(), ratio, rect);
            m_picture.drawTracesOn(bits, picture, QPoint(0, 0), painter, map, rect);
        }
        painter.setClipRegion(direct);
        m_picture.drawLegend(painter, map.area(), m_plot->font());
        for (const QRect &rect : direct) {
            // One rectangle at a time: against the paint's whole region the
            // copy takes a path many times slower.
            widgetPainter.setClipRect(rect);
            widgetPainter.drawImage(rect.topLeft(), picture, rect);
        }
        return;
    }
    const QRegion toDraw = m_picture.prepare(m_plot->size(), ratio);
    if (!toDraw.isEmpty()) {
        QPainter painter(&m_picture.image());
        const bool whole = toDraw.rectCount() == 1 && toDraw.boundingRect() == m_plot->rect();
        // The legend covers what lies under it: where only it shows, only it
        // is drawn.
        const QRect legend = m_picture.legendRect(map.area(), m_plot->font());
        for (const QRect &rect : whole ? toDraw : toDraw - legend) {
            painter.setClipRect(rect);
            painter.setClipping(!whole);
            painter.fillRect(rect, Qt::white);
            m_axes.paint(painter, map, m_plot->font(), ratio, rect);
            m_picture.drawTraces(painter, map, rect);
        }
        painter.setClipRegion(toDraw);
        painter.setClipping(!whole);
        m_picture.drawLegend(painter, map.area(), m_plot->font());
        painter.setClipping(false);
        if (m_dataCursorVisible && m_cursorInside && m_cursorChannel >= 0) {
            const QPointF at = map.toPixel(m_cursorValue);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 5.0, 5.0);
            painter.setPen(QPen(QColor(0, 0, 0, 90), 1, Qt::DotLine));
            painter.drawLine(QPointF(at.x(), map.area().top()), QPointF(at.x(), map.area().bottom()));
        }
    }
    for (const QRect &rect : part) {
        widgetPainter.setClipRect(rect);
        widgetPainter.drawImage(rect.topLeft(), m_picture.image(),
                                QRectF(QPointF(rect.topLeft()) * ratio, QSizeF(rect.size()) * ratio));
    }
}

void ChartWidget::zoomIn()
{
    m_view.zoom(ZoomInFactor);
}

void ChartWidget::zoomOut()
{
    m_view.zoom(ZoomOutFactor);
}

void ChartWidget::zoomAt(double factor, double x, double y)
{
    m_view.zoomAt(factor, x, y);
}

void ChartWidget::zoomAxisAt(Qt::Orientation axis, double factor, double value)
{
    m_view.zoomAxisAt(axis, factor, value);
}

void ChartWidget::zoomTo(double x1, double y1, double x2, double y2)
{
    m_view.zoomTo(x1, y1, x2, y2);
}

void ChartWidget::boxZoom(const QRect &box)
{
    if (box.width() < MinimumBox || box.height() < MinimumBox)
        return; // a click or a slip of the hand, not a box
    const QPointF from = m_view.map().toValue(box.topLeft());
    const QPointF to = m_view.map().toValue(box.bottomRight() + QPoint(1, 1));
    zoomTo(from.x(), from.y(), to.x(), to.y());
    refresh();
}

void ChartWidget::wheelAt(const QPoint &pos, double steps)
{
    const double factor = std::pow(WheelStepFactor, steps);
    const QPointF value = m_view.map().toValue(pos);
    const QRectF &a = m_view.map().area();
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
    m_view.panBy(dx, dy);
}

void ChartWidget::panDrag(const QPoint &from, const QPoint &to)
{
    m_view.dragBy(QPointF(to - from));
    refresh();
}

void ChartWidget::fitAll()
{
    m_view.fitAll();
}

void ChartWidget::followLive()
{
    m_view.followLive();
}
