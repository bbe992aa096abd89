#pragma once
// The program's chart: three channels drawn with Qt Charts, a horizontal axis
// that scrolls with the newest samples, a vertical axis that follows the
// values in view, a toolbar (zoom, pan, fit, live, save picture, data cursor)
// and a data cursor.
//
// Data and drawing are apart: appends go straight into the ChartData store
// and cost O(1); a repaint timer compares the store's revision and the view
// with what was last drawn and only then hands each line series the visible,
// thinned points (ChartThinning).

#include "chart/ChartData.h"
#include "chart/ChartThinning.h"

#include <QPen>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QTimer;
class QToolBar;
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

class ChartWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int ChannelCount = 3;
    static constexpr int SampleChannel = 0;
    static constexpr int SmoothedChannel = 1;
    static constexpr int MeanChannel = 2;
    /// Width of the horizontal axis in live mode, in samples.
    static constexpr double LiveSpan = 1000.0;
    /// Default period of the repaint timer (25 Hz).
    static constexpr int DefaultRepaintIntervalMs = 40;
    /// Default vertical range until setYAxis() is called. The configured range
    /// is shown while live mode has no point in view.
    static constexpr double DefaultYMinimum = 0.0;
    static constexpr double DefaultYSpan = 10000.0;
    /// Line pieces of one channel beyond this many (a file with very many
    /// null points in view) are drawn joined in the last piece.
    static constexpr int MaxPiecesPerChannel = 200;
    /// Live mode keeps a vertical range that still holds every value in view
    /// until it is more than this many times the range the values want.
    static constexpr double YShrinkRatio = 3.0;

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
    void markLast(int channel, PointMark mark) { m_data.markLast(channel, mark); }
    void clearAll();
    void clearChannel(int channel) { m_data.clearChannel(channel); }
    int channelCount() const { return m_data.channelCount(); }
    qsizetype count(int channel) const { return m_data.channel(channel).count(); }
    double x(int channel, qsizetype i) const { return m_data.channel(channel).x(i); }
    double y(int channel, qsizetype i) const { return m_data.channel(channel).y(i); }
    PointMark mark(int channel, qsizetype i) const { return m_data.channel(channel).mark(i); }

    // Look.
    void setMarkersVisible(int channel, bool visible);
    bool markersVisible(int channel) const;
    /// Vertical axis from `minimum` to `minimum + span`. A span of 0 (equal
    /// ends) shows a small band around `minimum`; a negative span counts
    /// down from `minimum`. Also ends any vertical zoom or pan. In live mode
    /// this is the range until a point is in view; from then on the range
    /// follows the values in view.
    void setYAxis(double minimum, double span);
    double yAxisMinimum() const { return m_yMinimum; }
    double yAxisSpan() const { return m_ySpan; }

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
    /// Brings the series up to date now, as a timer tick does; returns whether
    /// anything was handed to them. Does nothing while suspended.
    bool refresh();
    /// How many times refresh() handed points to the series (for tests and
    /// benchmarks).
    quint64 seriesUpdateCount() const { return m_seriesUpdates; }

    // View. Live mode follows the newest sample (the last point appended to
    // channel 0) and the values in view; zoom, pan and fit leave it.
    bool isLive() const { return m_live; }
    double viewXMinimum() const { return m_viewXMin; }
    double viewXMaximum() const { return m_viewXMax; }
    double viewYMinimum() const { return m_viewYMin; }
    double viewYMaximum() const { return m_viewYMax; }
    void zoomIn();
    void zoomOut();
    /// Zooms by `factor` (< 1 closer) around the value point (`x`, `y`).
    void zoomAt(double factor, double x, double y);
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
    QString dataCursorText() const;

    // Parts, for the owner's layout and for tests.
    QChart *chart() const { return m_chart; }
    QChartView *chartView() const { return m_view; }
    /// The line series of `channel` that hold its drawn pieces (at least one).
    const std::vector<QLineSeries *> &lineSeries(int channel) const;
    /// Lone points of `channel` (pieces of one point), shown only with markers.
    QScatterSeries *lonePointSeries(int channel) const;

    enum class Action { ZoomIn, ZoomOut, Pan, FitAll, Live, SavePicture, DataCursor };
    QAction *action(Action which) const;

private:
    friend class ChartWidgetView;

    struct Channel {
        std::vector<QLineSeries *> pieces;
        QScatterSeries *lonePoints = nullptr;
        QPen pen;
        bool markers = false;
        // What was handed to the series last time.
        quint64 drawnRevision = ~quint64(0);
        double drawnXMin = 0;
        double drawnXMax = 0;
        int drawnColumns = 0;
        bool drawnMarkers = false;
        ChartRange drawnYExtent{1, -1, 1, -1, 0, 0}; // of what was handed over, in view
    };

    bool toolsAtHand() const;
    /// Pan and data cursor off, back to live mode.
    void putToolsAway();
    void buildToolBar();
    void setupChannel(int index, const QString &title);
    QLineSeries *newPiece(int channel);
    void updateChannel(int index, double xMin, double xMax, int columns);
    void liveXRange(double &xMin, double &xMax) const;
    /// Live mode: the vertical range for the values in view, steady while
    /// they move inside it.
    void trackYRange();
    void setView(double xMin, double xMax, double yMin, double yMax);
    void onTimer();
    void mouseMovedTo(const QPoint &pos);
    void mouseLeft();
    void panDrag(const QPoint &from, const QPoint &to);
    QPointF valueAt(const QPoint &viewPos) const;
    int plotColumns() const;

    ChartData m_data;
    QToolBar *m_toolBar = nullptr;
    QChartView *m_view = nullptr;
    QChart *m_chart = nullptr;
    QValueAxis *m_xAxis = nullptr;
    QValueAxis *m_yAxis = nullptr;
    QLabel *m_cursorLabel = nullptr;
    QTimer *m_timer = nullptr;
    std::vector<Channel> m_channels;
    std::vector<QAction *> m_actions;
    ThinnedTrace m_trace;

    double m_yMinimum = DefaultYMinimum;
    double m_ySpan = DefaultYSpan;
    bool m_live = true;
    double m_viewXMin = 0;
    double m_viewXMax = LiveSpan;
    double m_viewYMin = DefaultYMinimum;
    double m_viewYMax = DefaultYMinimum + DefaultYSpan;
    bool m_yTracking = false; // the live vertical range follows values in view
    double m_axisXMin = 0;    // ranges last given to the axes
    double m_axisXMax = 0;
    double m_axisYMin = 0;
    double m_axisYMax = 0;
    bool m_axesSet = false;

    int m_suspendDepth = 0;
    quint64 m_seriesUpdates = 0;
    bool m_panEnabled = false;
    bool m_dataCursorVisible = false;
    QPointF m_cursorValue;
    bool m_cursorInside = false;

    FileNamePrompt m_fileNamePrompt;
    ErrorReport m_errorReport;
};
