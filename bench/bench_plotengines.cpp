// Chart engines side by side: Qt Charts, our ChartWidget and QCustomPlot draw
// the same thinned channels in a 1000x500 widget. For each engine: the CPU of
// one repaint (handover = thinning and feeding the engine, render = a picture
// of the widget) in live and fit-all view with one and two channels of
// 10,000,000 points, and the process CPU of a paced run (1,280 samples/s, a
// repaint at 25 Hz painted by the event loop).
//
// Engines (a) and (c) are built only when their library was found. Arguments
// pick engines: a, b, c, c2 (default all; c2 is c drawing lines segment by
// segment).

#include "BenchClock.h"
#include "chart/ChartData.h"
#include "chart/ChartThinning.h"
#include "chart/ChartWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#ifdef KELVARIN_BENCH_QTCHARTS
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#endif
#ifdef KELVARIN_BENCH_QCUSTOMPLOT
#include <qcustomplot.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace
{

constexpr qsizetype Points = 10'000'000;
constexpr int Repeats = 40;
constexpr int MaxScenarioMs = 15'000; // slow engines repeat at least 10 times
constexpr int Width = 1000, Height = 500;
constexpr int PacedMs = 10'000;

double Sample(int channel, qsizetype i)
{
    if (channel == 0)
        return 5000.0 + 3000.0 * std::sin(double(i) * 0.001) + double((i * 7919) % 200);
    return 5000.0 + 2500.0 * std::sin(double(i) * 0.0003);
}

/// One way of drawing the three channels.
class Engine
{
public:
    virtual ~Engine() = default;
    virtual QWidget *widget() = 0;
    virtual void append(int channel, double x, double y) = 0;
    virtual void setFit(bool fit) = 0;
    /// Brings the engine up to date with the data and the view.
    virtual void handover() = 0;
    /// A picture of the whole widget as it now is.
    virtual QPixmap render() { return widget()->grab(); }
    /// Paced run: asks the event loop to paint what handover() gave.
    virtual void schedulePaint() { widget()->update(); }
    /// Width of the plot area in px; -1 when not known.
    virtual double plotWidth() const { return -1; }
    bool ownTimer = false; // repaints itself at 25 Hz
    qsizetype handed = -1; // points handed over by the last handover(); -1: not known
};

/// (b) our widget, through its public calls only.
class OurWidget final : public Engine
{
public:
    OurWidget() { ownTimer = true; }
    QWidget *widget() override { return &m_w; }
    void append(int channel, double x, double y) override { m_w.append(channel, x, y); }
    void setFit(bool fit) override
    {
        if (!(m_fit = fit))
            m_w.followLive();
    }
    void handover() override
    {
        if (m_fit)
            m_w.fitAll(); // the view takes in the sample just appended
        m_w.refresh();
    }

private:
    ChartWidget m_w;
    bool m_fit = false;
};

/// Engines fed from a ChartData store as our widget feeds itself: thinned to
/// 2-px columns of the plot area, a channel handed over only when it or the
/// view changed, a live vertical range that widens at once and shrinks only
/// when three times too wide.
class ThinnedEngine : public Engine
{
public:
    void append(int channel, double x, double y) override { m_data.append(channel, x, y); }
    void setFit(bool fit) override { m_fit = fit, m_yTracking = false; }
    void handover() override
    {
        double xMin = 0, xMax = 0;
        ChartRange all{1, -1, 1, -1, 0, 0};
        const auto take = [&all](const ChartRange &r) {
            if (r.isEmpty())
                return;
            all = all.isEmpty() ? r
                                : ChartRange{std::min(all.minX, r.minX),
                                             std::max(all.maxX, r.maxX),
                                             std::min(all.minY, r.minY),
                                             std::max(all.maxY, r.maxY),
                                             0,
                                             0};
        };
        if (m_fit) {
            for (int c = 0; c < m_data.channelCount(); ++c)
                take(DrawnExtent(m_data.channel(c)));
            xMin = all.minX, xMax = all.maxX;
            all = {1, -1, 1, -1, 0, 0};
        } else {
            const ChartChannel &s = m_data.channel(0);
            xMax = std::max(ChartWidget::LiveSpan, s.count() > 0 ? s.x(s.count() - 1) : 0.0);
            xMin = xMax - ChartWidget::LiveSpan;
        }
        const int columns = std::max(8, int(std::ceil(plotWidth() / 2.0)));
        handed = 0;
        for (int c = 0; c < m_data.channelCount(); ++c) {
            const ChartChannel &ch = m_data.channel(c);
            Drawn &d = m_drawn[c];
            if (d.revision != ch.revision() || d.xMin != xMin || d.xMax != xMax || d.columns != columns) {
                ThinForDisplay(ch, xMin, xMax, columns, m_trace);
                d = {ch.revision(), xMin, xMax, columns, YExtentInView(m_trace, xMin, xMax, false)};
                feed(c, m_trace);
                handed += m_trace.points.size();
            }
            take(d.yExtent);
        }
        if (!all.isEmpty()) {
            const double margin = std::max(1.0, (all.maxY - all.minY) * 0.05);
            const double lo = all.minY - margin, hi = all.maxY + margin;
            if (m_fit || !m_yTracking || lo < m_yMin || hi > m_yMax || m_yMax - m_yMin > 3.0 * (hi - lo))
                m_yMin = lo, m_yMax = hi, m_yTracking = !m_fit;
        }
        setRanges(xMin, xMax, m_yMin, m_yMax);
    }

protected:
    virtual void feed(int channel, const ThinnedTrace &trace) = 0;
    virtual void setRanges(double xMin, double xMax, double yMin, double yMax) = 0;

private:
    struct Drawn {
        quint64 revision = ~quint64(0);
        double xMin = 0, xMax = 0;
        int columns = 0;
        ChartRange yExtent{1, -1, 1, -1, 0, 0};
    };
    ChartData m_data{{QStringLiteral("samples"), QStringLiteral("smoothed"), QStringLiteral("mean")}};
    ThinnedTrace m_trace;
    Drawn m_drawn[3];
    bool m_fit = false, m_yTracking = false;
    double m_yMin = 0, m_yMax = 10000;
};

#ifdef KELVARIN_BENCH_QTCHARTS
/// (a) Qt Charts as the old widget used it: one line series per channel fed by replace().
class QtChartsEngine final : public ThinnedEngine
{
public:
    QtChartsEngine()
    {
        m_chart->legend()->hide();
        m_chart->setAnimationOptions(QChart::NoAnimation);
        m_chart->addAxis(m_x, Qt::AlignBottom);
        m_chart->addAxis(m_y, Qt::AlignLeft);
        for (int c = 0; c < 3; ++c) {
            m_series[c] = new QLineSeries;
            m_chart->addSeries(m_series[c]);
            m_series[c]->attachAxis(m_x);
            m_series[c]->attachAxis(m_y);
            QPen pen = m_series[c]->pen();
            pen.setWidth(2);
            m_series[c]->setPen(pen);
        }
        m_view.setRenderHint(QPainter::Antialiasing, false);
    }
    QWidget *widget() override { return &m_view; }
    void schedulePaint() override { m_view.viewport()->update(); }

    double plotWidth() const override { return m_chart->plotArea().width(); }

protected:
    void feed(int channel, const ThinnedTrace &trace) override { m_series[channel]->replace(trace.points); }
    void setRanges(double xMin, double xMax, double yMin, double yMax) override
    {
        m_x->setRange(xMin, xMax);
        m_y->setRange(yMin, yMax);
    }

private:
    QChart *m_chart = new QChart;
    QChartView m_view{m_chart}; // owns the chart, which owns axes and series
    QValueAxis *m_x = new QValueAxis;
    QValueAxis *m_y = new QValueAxis;
    QLineSeries *m_series[3] = {};
};
#endif

#ifdef KELVARIN_BENCH_QCUSTOMPLOT
/// (c) QCustomPlot: one QCPGraph per channel. The thinned points come in index
/// order and live samples have rising X, so the keys are already sorted.
class QCustomPlotEngine final : public ThinnedEngine
{
public:
    explicit QCustomPlotEngine(bool fastPolylines)
    {
        m_plot.setNotAntialiasedElements(QCP::aeAll);
        if (fastPolylines) // lines drawn segment by segment, without joins
            m_plot.setPlottingHint(QCP::phFastPolylines);
        for (int c = 0; c < 3; ++c) {
            QCPGraph *g = m_plot.addGraph();
            g->setPen(QPen(QColor::fromHsv(c * 100, 200, 200), 2));
        }
        m_keys.reserve(4096);
        m_values.reserve(4096);
    }
    QWidget *widget() override { return &m_plot; }
    // Drawing happens in replot() (into the widget's buffer); the paint event
    // only copies the buffer.
    QPixmap render() override
    {
        m_plot.replot(QCustomPlot::rpQueuedRefresh);
        return m_plot.grab();
    }
    void schedulePaint() override { m_plot.replot(QCustomPlot::rpQueuedRefresh); }

    double plotWidth() const override { return m_plot.axisRect()->width(); }

protected:
    void feed(int channel, const ThinnedTrace &trace) override
    {
        m_keys.resize(trace.points.size());
        m_values.resize(trace.points.size());
        for (qsizetype i = 0; i < trace.points.size(); ++i) {
            m_keys[i] = trace.points[i].x();
            m_values[i] = trace.points[i].y();
        }
        m_plot.graph(channel)->setData(m_keys, m_values, true);
    }
    void setRanges(double xMin, double xMax, double yMin, double yMax) override
    {
        m_plot.xAxis->setRange(xMin, xMax);
        m_plot.yAxis->setRange(yMin, yMax);
    }

private:
    QCustomPlot m_plot;
    QVector<double> m_keys, m_values;
};
#endif

/// Counts paint events of a widget and its children.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *top) : m_top(top) { qApp->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && o->isWidgetType() &&
            (o == m_top || m_top->isAncestorOf(static_cast<QWidget *>(o))))
            ++count;
        return false;
    }

private:
    QWidget *m_top;
};

/// Repaints after appending one sample to each of `channels` channels.
void Repaints(Engine &e, const char *what, int channels, qsizetype &next)
{
    std::vector<double> hand, rend, total, proc, wall, handed;
    QElapsedTimer spent;
    spent.start();
    for (int r = 0; r < Repeats + 2 && (r < 12 || spent.elapsed() < MaxScenarioMs); ++r) {
        for (int c = 0; c < channels; ++c)
            e.append(c, double(next), Sample(c, next));
        ++next;
        QElapsedTimer t;
        t.start();
        const double p0 = ProcessCpuSeconds(), c0 = ThreadCpuMs();
        e.handover();
        const double c1 = ThreadCpuMs();
        const QPixmap picture = e.render();
        const double c2 = ThreadCpuMs(), p1 = ProcessCpuSeconds();
        const double w = double(t.nsecsElapsed()) / 1e6;
        if (picture.size() != QSize(Width, Height))
            std::printf("  unexpected picture size %dx%d\n", picture.width(), picture.height());
        QCoreApplication::processEvents(); // what the handover scheduled, outside the figures
        if (r < 2)
            continue; // warm-up
        hand.push_back(c1 - c0), rend.push_back(c2 - c1), total.push_back(c2 - c0);
        proc.push_back((p1 - p0) * 1e3), wall.push_back(w), handed.push_back(double(e.handed));
    }
    const QByteArray points = e.handed < 0 ? "-" : QByteArray::number(Median(handed));
    std::printf(
        "| %-20s | %2d | %6s | %7.2f / %7.2f | %7.2f / %7.2f | %7.2f / %7.2f | %7.2f | %7.2f / %7.2f |\n",
        what, int(hand.size()), points.constData(), Median(hand), Max(hand), Median(rend), Max(rend),
        Median(total), Max(total), Median(proc), Median(wall), Max(wall));
}

/// 10 s of 32 samples every 25 ms and a repaint at 25 Hz painted by the event loop.
void Paced(Engine &e, qsizetype &next)
{
    e.setFit(false);
    QTimer appends, repaints;
    appends.setTimerType(Qt::PreciseTimer);
    repaints.setTimerType(Qt::PreciseTimer);
    QObject::connect(&appends, &QTimer::timeout, [&] {
        for (int k = 0; k < 32; ++k, ++next)
            e.append(0, double(next), Sample(0, next));
    });
    int handovers = 0;
    QObject::connect(&repaints, &QTimer::timeout, [&] {
        e.handover();
        e.schedulePaint();
        ++handovers;
    });
    const qsizetype first = next;
    PaintCounter paints(e.widget());
    QElapsedTimer t;
    t.start();
    const double p0 = ProcessCpuSeconds(), c0 = ThreadCpuMs();
    appends.start(25);
    if (!e.ownTimer)
        repaints.start(40);
    RunFor(PacedMs);
    const double cpuMs = ThreadCpuMs() - c0, procS = ProcessCpuSeconds() - p0;
    const double wallS = double(t.nsecsElapsed()) / 1e9;
    std::printf("paced run, live, channel 0 only: %.1f s, %lld samples appended, %d paint events, %s\n"
                "  process CPU %.1f %% of one core, main thread %.1f %%\n",
                wallS, static_cast<long long>(next - first), paints.count,
                e.ownTimer ? "repainted by the widget's own 25 Hz timer"
                           : QByteArray::number(handovers).append(" repaints by the benchmark").constData(),
                100.0 * procS / wallS, 0.1 * cpuMs / wallS);
}

void Run(const char *title, std::unique_ptr<Engine> e)
{
    std::printf("\n== %s (%s) ==\n", title, qPrintable(QGuiApplication::platformName()));
    e->widget()->resize(Width, Height);
    e->widget()->show();
    QCoreApplication::processEvents();
    e->handover();
    e->render(); // lays out the plot area before the first thinning
    for (qsizetype i = 1; i <= Points; ++i)
        e->append(0, double(i), Sample(0, i));
    if (e->plotWidth() > 0)
        std::printf("plot area %.0f px wide, thinned to %d columns\n", e->plotWidth(),
                    std::max(8, int(std::ceil(e->plotWidth() / 2.0))));
    std::printf("repaint in ms: thread CPU median / max of n, process CPU median, wall median / max\n"
                "| %-20s | %2s | %6s | %-17s | %-17s | %-17s | %7s | %-17s |\n",
                "view", "n", "points", "handover", "render", "handover+render", "process", "wall");
    qsizetype next = Points + 1;
    e->setFit(false);
    Repaints(*e, "live, 1 ch x 10 M", 1, next);
    e->setFit(true);
    Repaints(*e, "fit-all, 1 ch x 10 M", 1, next);
    Paced(*e, next);
    // The second channel gets as many points as the first has now, so both
    // take one new sample per repaint at the same X.
    for (qsizetype i = 1; i < next; ++i)
        e->append(1, double(i), Sample(1, i));
    e->setFit(false);
    Repaints(*e, "live, 2 ch x 10 M", 2, next);
    e->setFit(true);
    Repaints(*e, "fit-all, 2 ch x 10 M", 2, next);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const auto wanted = [&](const char *which) {
        return argc < 2 || std::find_if(argv + 1, argv + argc, [which](const char *a) {
                               return std::strcmp(a, which) == 0;
                           }) != argv + argc;
    };
#ifdef KELVARIN_BENCH_QTCHARTS
    if (wanted("a"))
        Run("(a) Qt Charts: QChartView, QLineSeries::replace()", std::make_unique<QtChartsEngine>());
#else
    std::printf("\n(a) Qt Charts: not built (Qt6 Charts not found)\n");
#endif
    if (wanted("b"))
        Run("(b) ChartWidget", std::make_unique<OurWidget>());
#ifdef KELVARIN_BENCH_QCUSTOMPLOT
    if (wanted("c"))
        Run("(c) QCustomPlot: QCPGraph::setData(keys, values, sorted)",
            std::make_unique<QCustomPlotEngine>(false));
    if (wanted("c2"))
        Run("(c2) QCustomPlot as (c), plotting hint phFastPolylines",
            std::make_unique<QCustomPlotEngine>(true));
#else
    std::printf("\n(c) QCustomPlot: not built (libQCustomPlotQt6 not found)\n");
#endif
    return 0;
}
