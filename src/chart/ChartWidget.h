#pragma once
// The program's chart: three channels of its own (samples, smoothed trace,
// mean lines) and any number of traces added at run time (one per watched
// module or computed channel, each in its colour, named in a legend), a
// horizontal axis that scrolls with the newest samples (labelled with sample
// numbers or, for channels that keep times, the clock time), a vertical axis that follows the values in view,
// a toolbar (zoom, pan, fit, live, save picture, data cursor), box zoom, wheel zoom of the view or of one
// axis, and a data cursor that snaps to the nearest sample.
//
// Data and drawing are apart: appends go straight into the ChartData store
// and cost O(1); a repaint timer compares the store's revision and the view
// with what was last drawn and only then thins the visible points and has
// the plot painted. A live view that only moves on has its picture shifted
// and only the new columns drawn. The widget joins the parts, each readable on its own:
//   ChartView     the ranges shown (live, zoom, pan, fit) and value <-> pixel;
//   ChartPicture  the thinned traces painted into the plot's picture;
//   ChartAxes     ticks, labels and the plot area's place beside them;
//   ChartPlot     the surface painted on, and the mouse on it.
// The plot is our own widget drawing those few thousand points with
// QPainter: no scene, no copies per repaint.

#include "chart/ChartAxes.h"
#include "chart/ChartData.h"
#include "chart/ChartPicture.h"
#include "chart/ChartView.h"

#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QPainter;
class QTimer;
class QToolBar;
class ChartPlot;

class ChartWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int ChannelCount = 3;
    static constexpr int SampleChannel = 0;
    static constexpr int SmoothedChannel = 1;
    static constexpr int MeanChannel = 2;
    /// Width of the horizontal axis in live mode, in samples.
    static constexpr double LiveSpan = ChartView::LiveSpan;
    /// Default period of the repaint timer (25 Hz).
    static constexpr int DefaultRepaintIntervalMs = 40;
    /// Default vertical range until setYAxis() is called. The configured range
    /// is shown while live mode has no point in view.
    static constexpr double DefaultYMinimum = ChartView::DefaultYMinimum;
    static constexpr double DefaultYSpan = ChartView::DefaultYSpan;
    /// Line pieces of one channel beyond this many (a file with very many
    /// null points in view) are drawn joined in the last piece.
    static constexpr int MaxPiecesPerChannel = ChartTrace::MaxLines;

    /// What the picture-saving action asks for a file name; empty: cancelled.
    using FileNamePrompt = std::function<QString(QWidget *parent)>;
    /// How the widget reports a failure to the operator.
    using ErrorReport = std::function<void(QWidget *parent, const QString &text)>;

    explicit ChartWidget(QWidget *parent = nullptr);
    ~ChartWidget() override;

    // Data. All of these are O(1) (clear frees the blocks) and never draw.
    // clearAll() also takes the view back to live mode with pan and data
    // cursor off.
    ChartData &data() { return m_data; }
    const ChartData &data() const { return m_data; }
    void append(int channel, double x, double y) { m_data.append(channel, x, y); }
    /// Appends a sample with its wall-clock time (ms since the epoch).
    void appendTimed(int channel, double x, double y, qint64 ms) { m_data.appendTimed(channel, x, y, ms); }
    void markLast(int channel, PointMark mark) { m_data.markLast(channel, mark); }
    void clearAll();
    void clearChannel(int channel) { m_data.clearChannel(channel); }
    int channelCount() const { return m_data.channelCount(); }
    qsizetype count(int channel) const { return m_data.channel(channel).count(); }
    double x(int channel, qsizetype i) const { return m_data.channel(channel).x(i); }
    double y(int channel, qsizetype i) const { return m_data.channel(channel).y(i); }
    PointMark mark(int channel, qsizetype i) const { return m_data.channel(channel).mark(i); }

    // Traces added at run time, after the three channels of the single
    // module's view. Each gets the next free colour of the palette (after
    // PaletteSize of them, the colours again with dashes), width 2, and a
    // line in the legend. Live mode follows their newest points too. Removing
    // one moves the channels after it down by one.
    static constexpr int PaletteSize = 10;
    static constexpr int TraceLineWidth = 2;
    /// Adds a trace called `name`; returns its channel.
    int addTrace(const QString &name);
    void removeTrace(int channel);
    /// The pen of palette slot `slot` (colour, width, dashes from the second
    /// round on).
    static QPen PalettePen(int slot);
    void setTraceColour(int channel, const QColor &colour);
    void setTraceWidth(int channel, int width);
    void setTraceName(int channel, const QString &name);
    /// The name of a channel for the operator: one of ChannelName() for the
    /// widget's own channels, the given one for added traces.
    QString traceName(int channel) const;
    /// The legend's names as drawn; empty (no legend) while there are only
    /// the widget's own channels.
    QStringList legendNames() const;
    /// Hides or shows a channel (all are shown at first). A hidden channel
    /// keeps its data and takes new points, but is neither thinned nor
    /// drawn, named in the legend, taken into fit all or the live vertical
    /// range, nor snapped to by the data cursor.
    void setTraceVisible(int channel, bool visible);
    bool traceVisible(int channel) const;

    // Look.
    void setMarkersVisible(int channel, bool visible);
    bool markersVisible(int channel) const;
    /// Vertical axis from `minimum` to `minimum + span`. A span of 0 (equal
    /// ends) shows a small band around `minimum`; a negative span counts
    /// down from `minimum`. Also ends any vertical zoom or pan. In live mode
    /// this is the range until a point is in view; from then on the range
    /// follows the values in view.
    void setYAxis(double minimum, double span);
    double yAxisMinimum() const { return m_view.yAxisMinimum(); }
    double yAxisSpan() const { return m_view.yAxisSpan(); }
    /// Labels the horizontal axis with the clock time (HH:MM:SS, with
    /// milliseconds when ticks are less than a second apart) of the samples
    /// of the first live channel keeping times; ticks without one stay blank.
    void setClockTimeAxis(bool clockTime);
    bool clockTimeAxis() const { return m_clockTime; }

    // Toolbar (hidden at start) and data cursor (hidden at start). Hiding or
    // disabling the toolbar takes its tools away: the view goes back to live
    // mode, pan and data cursor are switched off.
    void setToolbarVisible(bool visible);
    bool toolbarVisible() const;
    void setToolbarEnabled(bool enabled);
    bool toolbarEnabled() const;
    void setDataCursorVisible(bool visible);
    bool dataCursorVisible() const { return m_dataCursorVisible; }
    QToolBar *toolBar() const { return m_toolBar; }

    // Repainting. Nestable: drawing resumes when every suspend is resumed.
    void suspendRepaint();
    void resumeRepaint();
    bool repaintSuspended() const { return m_suspendDepth > 0; }
    /// Period of the repaint timer in ms (tests shorten or stop it with 0).
    void setRepaintInterval(int ms);
    /// Brings the drawing up to date now, as a timer tick does; returns whether
    /// any channel was thinned anew. Does nothing while suspended.
    bool refresh();

signals:
    /// At each repaint tick of a shown chart, before it takes what was
    /// appended: the moment to hand over samples still waiting, so that they
    /// are drawn in this tick and need no wake-up of their own.
    void aboutToRefresh();

public:
    /// How many times refresh() thinned new points for the plot (for tests and
    /// benchmarks).
    quint64 seriesUpdateCount() const { return m_seriesUpdates; }

    // View. Live mode follows the newest sample (the last point appended to
    // channel 0) and the values in view; zoom, pan and fit leave it.
    bool isLive() const { return m_view.isLive(); }
    double viewXMinimum() const { return m_view.xMinimum(); }
    double viewXMaximum() const { return m_view.xMaximum(); }
    double viewYMinimum() const { return m_view.yMinimum(); }
    double viewYMaximum() const { return m_view.yMaximum(); }
    void zoomIn();
    void zoomOut();
    /// Zooms by `factor` (< 1 closer) around the value point (`x`, `y`).
    void zoomAt(double factor, double x, double y);
    /// Zooms one axis by `factor` around `value` on it; the other keeps its range.
    void zoomAxisAt(Qt::Orientation axis, double factor, double value);
    /// Shows the rectangle from (`x1`, `y1`) to (`x2`, `y2`), as box zoom does.
    void zoomTo(double x1, double y1, double x2, double y2);
    /// Shows all drawn points of all channels.
    void fitAll();
    /// Back to live scrolling, the vertical range following the values again.
    void followLive();
    /// Shifts the view by the given amounts in axis units.
    void panBy(double dx, double dy);
    void setPanEnabled(bool enabled);
    bool panEnabled() const { return m_panEnabled; }

    // Picture.
    /// Saves the chart as a PNG picture; false (with the reason in `error`) on
    /// failure.
    bool savePicture(const QString &fileName, QString *error = nullptr);
    /// The toolbar action: asks for the name, saves, reports a failure.
    void savePictureAsked();
    void setFileNamePrompt(FileNamePrompt prompt);
    void setErrorReport(ErrorReport report);

    /// Text of the data cursor for a position in axis units, in the notation
    /// of the default locale.
    static QString DataCursorText(double x, double y);
    /// Text of the data cursor on a sample of the channel called `channel`.
    static QString DataCursorText(const QString &channel, double x, double y);
    QString dataCursorText() const;
    /// Name of a channel for the operator (data cursor).
    static QString ChannelName(int channel);
    /// Pixels around the mouse within which the data cursor snaps to a sample.
    static constexpr int SnapRadius = 24;

    // What is drawn, for the owner's layout, tests and benchmarks.
    /// The widget the chart is painted in (mouse input, pictures).
    QWidget *plotView() const;
    /// The ranges shown, and where the plot area lies in plotView().
    const ChartView &view() const { return m_view; }
    /// The traces as last thinned and their look, one per channel.
    const ChartPicture &picture() const { return m_picture; }
    /// The ticks and labels of the axes as drawn.
    const ChartAxes &axes() const { return m_axes; }

    /// The horizontal range the picture is drawn with (within half a column
    /// of the view's while a live view moves on; see ChartDrawnRange).
    ChartMap drawnMap() const { return m_drawn.map(m_view.map()); }
    /// How many repaints shifted the picture and drew only what changed (for
    /// tests and benchmarks).
    quint64 scrollCount() const { return m_scrolls; }

    enum class Action { ZoomIn, ZoomOut, Pan, FitAll, Live, SavePicture, DataCursor, ClockTime };
    QAction *action(Action which) const;

private:
    friend class ChartPlot;

    bool toolsAtHand() const;
    /// Pan and data cursor off, back to live mode.
    void putToolsAway();
    void buildToolBar();
    void setupChannel(int index);
    /// Takes the view's vertical range into the drawing; false when drawn so.
    bool showVerticalAxis();
    /// Takes the drawn horizontal range into the axes; returns the pixels it
    /// moved by (see ChartDrawnRange::follow()).
    int showHorizontalAxis();
    /// Tick labels of the horizontal axis from the drawn range.
    void labelHorizontalAxis();
    void layoutPlot();
    /// Has the plot drawn anew at the next paint.
    void redraw();
    /// Has the picture shifted `moved` pixels and the columns from X `fromX`
    /// on drawn anew, with the axis labels; false (nothing done) when the
    /// picture cannot be drawn that way.
    bool scrollPicture(int moved, double fromX);
    void updateLegend();
    /// Clock-time labels of horizontal ticks at `values` (numbers while the
    /// axis shows sample numbers).
    QStringList clockLabels(const std::vector<double> &values) const;
    void paintPlot(QPainter &painter, const QRegion &part);
    void onTimer();
    void mouseMovedTo(const QPoint &pos);
    void mouseLeft();
    /// Puts the data cursor on the sample nearest to the mouse, or on the
    /// mouse position when none is near.
    void updateDataCursor();
    void panDrag(const QPoint &from, const QPoint &to);
    void wheelAt(const QPoint &pos, double steps);
    void boxZoom(const QRect &box);
    int plotColumns() const;

    ChartData m_data;
    ChartView m_view{m_data};
    ChartPicture m_picture{m_data.channelCount()};
    ChartAxes m_axes;
    ChartDrawnRange m_drawn;
    std::vector<int> m_paletteSlots; // per added trace, its slot
    bool m_clockTime = false;
    quint64 m_scrolls = 0;
    QToolBar *m_toolBar = nullptr;
    ChartPlot *m_plot = nullptr;
    QLabel *m_cursorLabel = nullptr;
    QTimer *m_timer = nullptr;
    std::vector<QAction *> m_actions;

    int m_suspendDepth = 0;
    quint64 m_seriesUpdates = 0;
    bool m_panEnabled = false;
    bool m_dataCursorVisible = false;
    QPoint m_mousePos;
    bool m_cursorInside = false;
    int m_cursorChannel = -1; // channel of the sample the cursor is on, or -1
    QPointF m_cursorValue;    // that sample, or the mouse position

    FileNamePrompt m_fileNamePrompt;
    ErrorReport m_errorReport;
};
