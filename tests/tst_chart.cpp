#include "chart/ChartData.h"
#include "chart/ChartPicture.h"
#include "chart/ChartThinning.h"
#include "chart/ChartView.h"
#include "chart/ChartWidget.h"
#include "chart/SampleDataFile.h"
#include "chart/SmoothingFilter.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QDateTime>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>

namespace
{

constexpr qsizetype Block = ChartChannel::BlockSize;

ChartChannel Ramp(qsizetype n, double x0 = 1.0)
{
    ChartChannel c;
    for (qsizetype i = 0; i < n; ++i)
        c.append(x0 + double(i), std::sin(double(i) * 0.01) * 100.0);
    return c;
}

/// Every piece's points, as channel indexes, must rise strictly: lines are
/// drawn in the order the points were added.
bool InIndexOrder(const ThinnedTrace &t)
{
    for (qsizetype p = 0; p < t.pieceCount(); ++p)
        for (qsizetype k = t.pieceBegin(p) + 1; k < t.pieceEnds[std::size_t(p)]; ++k)
            if (t.sourceIndex[std::size_t(k)] <= t.sourceIndex[std::size_t(k - 1)])
                return false;
    return true;
}

/// The range an axis of the chart was last drawn with.
struct AxisShown {
    const ChartWidget *w;
    Qt::Orientation o;
    double min() const { return w->view().map().minimum(o); }
    double max() const { return w->view().map().maximum(o); }
    const AxisShown *operator->() const { return this; }
};

AxisShown Axis(const ChartWidget &w, Qt::Orientation o)
{
    return {&w, o};
}

/// Lone points of a trace drawn as markers (without markers they are dots).
QList<QPointF> LoneMarkers(const ChartWidget &w, int channel)
{
    const ChartTrace &t = w.picture().trace(channel);
    return t.markers ? t.lonePoints() : QList<QPointF>();
}

/// Whether the chart as drawn has a pixel of `colour` where the value point
/// (`x`, `y`) is.
bool DrawnAt(const ChartWidget &w, double x, double y, const QColor &colour)
{
    const QImage picture = w.plotView()->grab().toImage();
    return picture.pixelColor(w.view().map().toPixel(x, y).toPoint()) == colour;
}

bool SameBits(double a, double b)
{
    return std::bit_cast<quint64>(a) == std::bit_cast<quint64>(b);
}

QString RangeText(const ChartRange &r)
{
    return QStringLiteral("[%1 %2 %3 %4 @%5 @%6]")
        .arg(r.minX)
        .arg(r.maxX)
        .arg(r.minY)
        .arg(r.maxY)
        .arg(r.minYIndex)
        .arg(r.maxYIndex);
}

bool SameRange(const ChartRange &a, const ChartRange &b)
{
    return SameBits(a.minX, b.minX) && SameBits(a.maxX, b.maxX) && SameBits(a.minY, b.minY) &&
           SameBits(a.maxY, b.maxY) && a.minYIndex == b.minYIndex && a.maxYIndex == b.maxYIndex;
}

/// The first difference between two channels in anything the drawing side
/// or a file export can see: points bit for bit, marks, gaps, every summary
/// of every level, the extent and the thinned traces. Empty when equal.
QString StoreDifference(const ChartChannel &a, const ChartChannel &b)
{
    if (a.count() != b.count())
        return QStringLiteral("count %1 vs %2").arg(a.count()).arg(b.count());
    if (a.hasMarks() != b.hasMarks())
        return QStringLiteral("hasMarks differs");
    for (qsizetype i = 0; i < a.count(); ++i) {
        if (!SameBits(a.x(i), b.x(i)) || !SameBits(a.y(i), b.y(i)) || a.mark(i) != b.mark(i))
            return QStringLiteral("point %1").arg(i);
    }
    for (qsizetype g = 0; g < a.count(); g = a.nextGap(g) + 1) {
        if (a.nextGap(g) != b.nextGap(g))
            return QStringLiteral("nextGap(%1) %2 vs %3").arg(g).arg(a.nextGap(g)).arg(b.nextGap(g));
    }
    for (int level = 0; level < ChartChannel::SummaryLevels; ++level) {
        const qsizetype size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
        for (qsizetype first = 0; first + size <= a.count(); first += size) {
            if (!SameRange(a.summary(level, first), b.summary(level, first)))
                return QStringLiteral("summary level %1 at %2: %3 vs %4")
                    .arg(level)
                    .arg(first)
                    .arg(RangeText(a.summary(level, first)), RangeText(b.summary(level, first)));
        }
    }
    if (!SameRange(a.extent(), b.extent()))
        return QStringLiteral("extent %1 vs %2").arg(RangeText(a.extent()), RangeText(b.extent()));
    const ChartRange drawn = DrawnExtent(a);
    const double views[][3] = {{drawn.minX - 1, drawn.maxX + 1, 700}, {drawn.minX, drawn.minX + 300, 97}};
    for (const auto &view : views) {
        ThinnedTrace ta, tb;
        ThinForDisplay(a, view[0], view[1], int(view[2]), ta);
        ThinForDisplay(b, view[0], view[1], int(view[2]), tb);
        if (ta.sourceIndex != tb.sourceIndex || ta.pieceEnds != tb.pieceEnds || ta.points != tb.points)
            return QStringLiteral("thinned trace for view %1..%2").arg(view[0]).arg(view[1]);
    }
    return {};
}

/// Points appended to a channel, kept aside to check what it reads back.
struct Appended {
    std::vector<double> xs, ys;

    void append(ChartChannel &c, double x, double y)
    {
        c.append(x, y);
        xs.push_back(x);
        ys.push_back(y);
    }
    void appendRange(ChartChannel &c, const std::vector<double> &x, const std::vector<double> &y)
    {
        c.appendRange(x.data(), y.data(), qsizetype(x.size()));
        xs.insert(xs.end(), x.begin(), x.end());
        ys.insert(ys.end(), y.begin(), y.end());
    }
};

/// Extent of the finite points [first, first + size) of `a`, worked out
/// point by point (earliest index of equal extremes).
ChartRange BruteExtent(const Appended &a, qsizetype first, qsizetype size)
{
    constexpr double Inf = std::numeric_limits<double>::infinity();
    ChartRange r{Inf, -Inf, Inf, -Inf, -1, -1};
    for (qsizetype i = first; i < first + size; ++i) {
        const double x = a.xs[std::size_t(i)];
        const double y = a.ys[std::size_t(i)];
        if (!std::isfinite(x) || !std::isfinite(y))
            continue;
        r.minX = std::min(r.minX, x);
        r.maxX = std::max(r.maxX, x);
        if (y < r.minY) {
            r.minY = y;
            r.minYIndex = i;
        }
        if (y > r.maxY) {
            r.maxY = y;
            r.maxYIndex = i;
        }
    }
    return r;
}

bool SameExtent(const ChartRange &store, const ChartRange &brute)
{
    if (brute.isEmpty())
        return store.isEmpty();
    return SameRange(store, brute);
}

/// The first difference between what `c` reads back (points bit for bit,
/// bulk copies, every summary, the extent) and the points `a` appended to
/// it. Empty when equal.
QString ReadBackDifference(const ChartChannel &c, const Appended &a)
{
    const auto n = qsizetype(a.xs.size());
    if (c.count() != n)
        return QStringLiteral("count %1 vs %2").arg(c.count()).arg(n);
    std::vector<double> x(a.xs.size()), y(a.ys.size());
    c.copyPoints(0, n, x.data(), y.data());
    for (qsizetype i = 0; i < n; ++i) {
        const auto k = std::size_t(i);
        if (!SameBits(c.x(i), a.xs[k]) || !SameBits(c.y(i), a.ys[k]))
            return QStringLiteral("point %1: (%2, %3) for (%4, %5)")
                .arg(i)
                .arg(c.x(i))
                .arg(c.y(i))
                .arg(a.xs[k])
                .arg(a.ys[k]);
        if (!SameBits(x[k], a.xs[k]) || !SameBits(y[k], a.ys[k]))
            return QStringLiteral("copied point %1").arg(i);
    }
    for (int level = 0; level < ChartChannel::SummaryLevels; ++level) {
        const qsizetype size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
        for (qsizetype first = 0; first + size <= n; first += size) {
            if (!SameExtent(c.summary(level, first), BruteExtent(a, first, size)))
                return QStringLiteral("summary level %1 at %2: %3 vs %4")
                    .arg(level)
                    .arg(first)
                    .arg(RangeText(c.summary(level, first)), RangeText(BruteExtent(a, first, size)));
        }
    }
    if (!SameExtent(c.extent(), BruteExtent(a, 0, n)))
        return QStringLiteral("extent %1 vs %2").arg(RangeText(c.extent()), RangeText(BruteExtent(a, 0, n)));
    return {};
}

/// Live samples: X is the sample count (first, first + 1, ...).
void AppendLive(ChartChannel &c, Appended &a, double first, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i)
        a.append(c, first + double(i), std::sin(double(a.xs.size()) * 0.01) * 100.0);
}

/// Point i of a test trace. Shape 0: smooth with noise; 1: X and Y from a
/// handful of values with both zeros, so ties and the sign of zero decide;
/// 2: like 0 with NaN and infinities at run edges, inside runs and filling
/// one whole finest run; 3: like 0 (the test puts marks between runs).
std::pair<double, double> TracePoint(int shape, qsizetype i, std::mt19937 &rng)
{
    constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double Inf = std::numeric_limits<double>::infinity();
    std::uniform_real_distribution<double> noise(-5, 5);
    if (shape == 1) {
        constexpr double Xs[] = {-0.0, 0.0, 2.0};
        constexpr double Ys[] = {-0.0, 0.0, 1.0, -1.0};
        return {Xs[rng() % 3], Ys[rng() % 4]};
    }
    double x = double(i) * 0.5;
    double y = std::sin(double(i) * 0.003) * 100.0 + noise(rng);
    if (shape == 2) {
        if (i % 97 == 0 || (i >= 640 && i < 704))
            y = NaN;
        else if (i % 64 == 63)
            x = Inf;
        else if (i % 64 == 0 && i % 3 == 0)
            y = -Inf;
    }
    return {x, y};
}

double MaxX(const QList<QPointF> &points)
{
    double m = -std::numeric_limits<double>::infinity();
    for (const QPointF &p : points)
        m = std::max(m, p.x());
    return m;
}

double MinX(const QList<QPointF> &points)
{
    double m = std::numeric_limits<double>::infinity();
    for (const QPointF &p : points)
        m = std::min(m, p.x());
    return m;
}

/// Shows `w` at the given size, repainted only when the test calls refresh().
[[nodiscard]] bool Shown(ChartWidget &w, int width, int height)
{
    w.setRepaintInterval(0);
    w.resize(width, height);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// Moves the mouse (no button held) over `pos` of `widget` through the window
// system layer and delivers it at once. QTest::mouseMove on a widget warps the
// real pointer instead, whose motion event arrives later on an X server.
void HoverOver(QWidget *widget, const QPoint &pos)
{
    QWidget *top = widget->window();
    QTest::mouseMove(top->windowHandle(), widget->mapTo(top, pos));
}

/// The plot as shown on the screen (the window's backing store), and as it
/// is when drawn whole anew at the same view (a redraw without any change).
std::pair<QImage, QImage> ShownAndRedrawn(ChartWidget &w)
{
    QWidget *plot = w.plotView();
    QCoreApplication::processEvents();
    const auto *screen = dynamic_cast<QImage *>(plot->window()->backingStore()->paintDevice());
    const QImage shown =
        screen ? screen->copy(QRect(plot->mapTo(plot->window(), QPoint(0, 0)), plot->size())) : QImage();
    w.setDataCursorVisible(false); // draws everything anew, changes nothing
    return {shown, plot->grab().toImage()};
}

/// Pixels of `a` and `b` that differ.
int DifferentPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    return n;
}

} // namespace

class TestChart : public QObject
{
    Q_OBJECT

private slots:
    // ---- data store -------------------------------------------------------

    void appendAndReadAcrossBlocks()
    {
        ChartData data({QStringLiteral("Channel 1"), QStringLiteral("Channel 2")});
        QCOMPARE(data.channelCount(), 2);
        QCOMPARE(data.channel(1).title(), QStringLiteral("Channel 2"));
        const qsizetype n = 2 * Block + 17;
        for (qsizetype i = 0; i < n; ++i)
            data.append(0, double(i) + 0.5, -double(i));
        QCOMPARE(data.channel(0).count(), n);
        QCOMPARE(data.channel(1).count(), qsizetype(0));
        for (qsizetype i : {qsizetype(0), Block - 1, Block, 2 * Block, n - 1}) {
            QCOMPARE(data.channel(0).x(i), double(i) + 0.5);
            QCOMPARE(data.channel(0).y(i), -double(i));
        }
        // Whole blocks cost the two doubles per point plus well under 2 bytes.
        const double perPoint = double(data.channel(0).memoryBytes()) / double(3 * Block);
        QVERIFY2(perPoint < 18.0, qPrintable(QString::number(perPoint)));
    }

    void marksOnLastPoint()
    {
        ChartChannel c;
        c.markLast(PointMark::Null); // empty channel: nothing to mark
        QVERIFY(!c.hasMarks());
        c.append(1, 5);
        c.append(2, 0);
        c.markLast(PointMark::Null);
        c.append(3, 0);
        c.markLast(PointMark::Null);
        c.markLast(PointMark::Empty); // replaces the mark of the same point
        c.append(4, 7);
        c.markLast(PointMark::Empty);
        c.markLast(PointMark::None); // and takes it away again
        QCOMPARE(c.mark(0), PointMark::None);
        QCOMPARE(c.mark(1), PointMark::Null);
        QCOMPARE(c.mark(2), PointMark::Empty);
        QCOMPARE(c.mark(3), PointMark::None);
        QVERIFY(c.isGap(1) && c.isGap(2) && !c.isGap(3));
        QCOMPARE(c.nextGap(0), qsizetype(1));
        QCOMPARE(c.nextGap(2), qsizetype(2));
        QCOMPARE(c.nextGap(3), qsizetype(4)); // none left: count()
    }

    void nonFiniteValuesAreGapsAndSpoilNoExtent()
    {
        ChartChannel c;
        c.append(1, 10);
        c.append(2, std::numeric_limits<double>::quiet_NaN());
        c.append(std::numeric_limits<double>::infinity(), 3);
        c.append(4, -2);
        QCOMPARE(c.nextGap(0), qsizetype(1));
        QCOMPARE(c.nextGap(2), qsizetype(2));
        QCOMPARE(c.nextGap(3), qsizetype(4));
        QCOMPARE(c.extent().minX, 1.0);
        QCOMPARE(c.extent().maxX, 4.0);
        QCOMPARE(c.extent().minY, -2.0);
        QCOMPARE(c.extent().maxY, 10.0);
        QCOMPARE(c.extent().minYIndex, qsizetype(3));
    }

    void clearOneOrAllAndRevision()
    {
        ChartData data({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        quint64 last = data.revision();
        const auto changed = [&] {
            const bool grew = data.revision() > last;
            last = data.revision();
            return grew;
        };
        data.append(0, 1, 1);
        QVERIFY(changed());
        data.append(1, 1, 1);
        data.append(2, 1, 1);
        QVERIFY(changed());
        data.markLast(2, PointMark::Null);
        QVERIFY(changed());
        data.channel(1).append(2, 2); // straight through the channel counts too
        QVERIFY(changed());
        data.clearChannel(1);
        QVERIFY(changed());
        QCOMPARE(data.channel(0).count(), qsizetype(1));
        QCOMPARE(data.channel(1).count(), qsizetype(0));
        QCOMPARE(data.channel(2).count(), qsizetype(1));
        data.clearAll();
        QVERIFY(changed());
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(data.channel(i).count(), qsizetype(0));
            QVERIFY(!data.channel(i).hasMarks());
            QVERIFY(data.channel(i).extent().isEmpty());
        }
        data.clearAll(); // clearing an empty store still counts as a change
        QVERIFY(changed());
        // Old blocks are gone: new points read back, not the old ones.
        data.append(0, 9, 8);
        QCOMPARE(data.channel(0).x(0), 9.0);
        QCOMPARE(data.channel(0).mark(0), PointMark::None);
    }

    void summariesMatchThePoints()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> d(-1000, 1000);
        ChartChannel c;
        const qsizetype n = Block + 5000;
        for (qsizetype i = 0; i < n; ++i)
            c.append(d(rng), std::round(d(rng) / 50)); // many equal Y values
        for (int level = 0; level < ChartChannel::SummaryLevels; ++level) {
            const qsizetype size = qsizetype(1) << ChartChannel::SummaryBits[std::size_t(level)];
            for (qsizetype first = 0; first + size <= n; first += size * 7) {
                ChartRange brute{1e9, -1e9, 1e9, -1e9, -1, -1};
                for (qsizetype i = first; i < first + size; ++i) {
                    brute.minX = std::min(brute.minX, c.x(i));
                    brute.maxX = std::max(brute.maxX, c.x(i));
                    if (c.y(i) < brute.minY) {
                        brute.minY = c.y(i);
                        brute.minYIndex = i;
                    }
                    if (c.y(i) > brute.maxY) {
                        brute.maxY = c.y(i);
                        brute.maxYIndex = i;
                    }
                }
                const ChartRange s = c.summary(level, first);
                QCOMPARE(s.minX, brute.minX);
                QCOMPARE(s.maxX, brute.maxX);
                QCOMPARE(s.minY, brute.minY);
                QCOMPARE(s.maxY, brute.maxY);
                QCOMPARE(s.minYIndex, brute.minYIndex); // first of equal values
                QCOMPARE(s.maxYIndex, brute.maxYIndex);
            }
        }
    }

    // Live samples (X = the sample count) store no X per point, but read
    // back exactly, also where imported or restarted X break the run of
    // consecutive values inside a block.
    void liveSamplesReadBackExactly()
    {
        constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
        { // 1 Mi live samples (16 whole blocks): the Y double and bookkeeping, under 9 bytes a point
            ChartChannel c;
            Appended a;
            AppendLive(c, a, 1.0, 16 * Block);
            const QString difference = ReadBackDifference(c, a);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
            const double perPoint = double(c.memoryBytes()) / double(c.count());
            QVERIFY2(perPoint < 9.0, qPrintable(QString::number(perPoint)));
        }
        { // an import appended after live samples, mid-block (its X starts at 1 again)
            ChartChannel c;
            Appended a;
            AppendLive(c, a, 1.0, Block + 500);
            std::vector<double> x, y;
            for (qsizetype i = 0; i < Block; ++i) {
                x.push_back(i < 40000 ? double(i + 1) : 0.25 * double(i));
                y.push_back(double(i % 300));
            }
            a.appendRange(c, x, y);
            AppendLive(c, a, 5.0, 2 * Block); // live again, in stored and in new blocks
            const QString difference = ReadBackDifference(c, a);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));
        }
        { // restarts without a clear, a jump, signed zeros, a NaN X at a block start
            ChartChannel c;
            Appended a;
            AppendLive(c, a, 1.0, 1000);
            AppendLive(c, a, 1.0, Block - 1000 - 3); // restart mid-block
            AppendLive(c, a, 1e6, 3);                // jump, up to the block end
            AppendLive(c, a, -3.0, 3);               // -3, -2, -1 starting a block
            a.append(c, -0.0, 1);                    // not the +0 that follows -1
            AppendLive(c, a, 1.0, Block - 4);
            a.append(c, -0.0, 2); // a block starting with -0
            AppendLive(c, a, 1.0, 10);
            AppendLive(c, a, 0.5, Block - 11); // runs of step 1 need not be integers
            a.append(c, NaN, 3);               // a block starting with a NaN X
            AppendLive(c, a, 2.0, 100);
            const QString difference = ReadBackDifference(c, a);
            QVERIFY2(difference.isEmpty(), qPrintable(difference));

            // Rebuilt by bulk appends, as smoothing does, into kept storage.
            ChartChannel rebuilt;
            std::vector<double> stale; // every block stores X; the same non-finite points
            for (double x : a.xs)
                stale.push_back(std::isnan(x) ? x : 0.5);
            rebuilt.appendRange(stale.data(), a.ys.data(), qsizetype(stale.size()));
            rebuilt.clearKeepingStorage();
            const std::size_t bytes = rebuilt.memoryBytes();
            rebuilt.appendFilled(c.count(), [&](double *x, double *y, qsizetype first, qsizetype count) {
                c.copyPoints(first, count, x, y);
            });
            QCOMPARE(rebuilt.memoryBytes(), bytes);
            const QString rebuiltDifference = ReadBackDifference(rebuilt, a);
            QVERIFY2(rebuiltDifference.isEmpty(), qPrintable(rebuiltDifference));
        }
    }

    // An X that breaks the run of live samples needs an X array for its
    // block. Without memory for it, the append fails and leaves the channel
    // as it was.
    void noMemoryForXLeavesTheChannelAsItWas()
    {
        ChartChannel c;
        Appended a;
        AppendLive(c, a, 1.0, 100);
        c.setXArrayLimit(0);
        c.append(101, 7); // the run goes on: no X array needed
        a.xs.push_back(101);
        a.ys.push_back(7);
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, c.append(1, 1e6));
        const std::vector<double> x{1, 2}, y{1e6, 1e6};
        QVERIFY_THROWS_EXCEPTION(std::bad_alloc, c.appendRange(x.data(), y.data(), 2));
        QString difference = ReadBackDifference(c, a);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        c.setXArrayLimit(-1);
        a.append(c, 1, 1e6);
        a.appendRange(c, x, y);
        AppendLive(c, a, 3.0, Block);
        difference = ReadBackDifference(c, a);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // ---- bulk appends -----------------------------------------------------

    void bulkAppendEqualsPointByPoint_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<qsizetype>("before"); // points appended one by one first
        QTest::addColumn<QList<qsizetype>>("runs");
        QTest::newRow("one point") << 0 << qsizetype(0) << QList<qsizetype>{1};
        QTest::newRow("part of a finest run") << 0 << qsizetype(0) << QList<qsizetype>{40};
        QTest::newRow("exactly one block") << 0 << qsizetype(0) << QList<qsizetype>{Block};
        QTest::newRow("three blocks, ties and signed zeros")
            << 1 << qsizetype(0) << QList<qsizetype>{2 * Block + 777};
        QTest::newRow("non-empty channel, mid run") << 0 << qsizetype(100) << QList<qsizetype>{Block, 5};
        QTest::newRow("just before a block end") << 1 << Block - 3 << QList<qsizetype>{10, 1, 64, Block + 5};
        QTest::newRow("non-finite coordinates") << 2 << qsizetype(37) << QList<qsizetype>{Block + 500, 63, 2};
        QTest::newRow("marks between runs")
            << 3 << qsizetype(5) << QList<qsizetype>{63, 1, 4096, 70000, 0, 9};
    }

    // Bulk appends build exactly the store that appending the same points one
    // by one builds, however the runs fall on finest runs and blocks.
    void bulkAppendEqualsPointByPoint()
    {
        QFETCH(int, shape);
        QFETCH(qsizetype, before);
        QFETCH(QList<qsizetype>, runs);
        std::mt19937 rng(99 + shape);
        qsizetype total = before;
        for (qsizetype n : runs)
            total += n;
        std::vector<double> xs, ys;
        for (qsizetype i = 0; i < total; ++i) {
            const auto [x, y] = TracePoint(shape, i, rng);
            xs.push_back(x);
            ys.push_back(y);
        }

        ChartChannel reference, bulk;
        for (qsizetype i = 0; i < before; ++i) {
            reference.append(xs[std::size_t(i)], ys[std::size_t(i)]);
            bulk.append(xs[std::size_t(i)], ys[std::size_t(i)]);
        }
        qsizetype done = before;
        for (qsizetype r = 0; r < runs.size(); ++r) {
            const qsizetype n = runs[r];
            for (qsizetype i = done; i < done + n; ++i)
                reference.append(xs[std::size_t(i)], ys[std::size_t(i)]);
            const quint64 revision = bulk.revision();
            if (r % 2 == 0) {
                bulk.appendRange(xs.data() + done, ys.data() + done, n);
            } else {
                bulk.appendFilled(n, [&](double *x, double *y, qsizetype first, qsizetype count) {
                    std::copy_n(xs.data() + first, count, x);
                    std::copy_n(ys.data() + first, count, y);
                });
            }
            QCOMPARE(bulk.revision() > revision, n > 0);
            done += n;
            if (shape == 3) { // as an import does between points
                const PointMark mark = r % 2 ? PointMark::Null : PointMark::Empty;
                reference.markLast(mark);
                bulk.markLast(mark);
            }
        }
        const QString difference = StoreDifference(reference, bulk);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // The smoothed trace is rebuilt into the storage of the previous one.
    // Whatever that held (more points, non-finite ones, marks), the rebuilt
    // channel equals one built fresh point by point.
    void bulkAppendIntoKeptStorage()
    {
        std::mt19937 rng(5);
        ChartChannel reused, reference;
        std::vector<double> xs, ys;
        for (qsizetype i = 0; i < 2 * Block + 300; ++i) {
            const auto [x, y] = TracePoint(2, i, rng);
            xs.push_back(x);
            ys.push_back(y);
        }
        reused.appendRange(xs.data(), ys.data(), qsizetype(xs.size()));
        reused.markLast(PointMark::Null);
        const std::size_t bytes = reused.memoryBytes();
        reused.clearKeepingStorage();

        const qsizetype n = Block + 1000;
        for (qsizetype i = 0; i < n; ++i) {
            const auto [x, y] = TracePoint(0, i, rng);
            xs[std::size_t(i)] = x;
            ys[std::size_t(i)] = y;
            reference.append(x, y);
        }
        reused.appendRange(xs.data(), ys.data(), n);
        QCOMPARE(reused.memoryBytes(), bytes); // no block was allocated again
        const QString difference = StoreDifference(reference, reused);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void appendFilledRunsAndAFailingFill()
    {
        ChartChannel c;
        for (int i = 0; i < 10; ++i)
            c.append(double(i), -double(i));
        // Runs follow on from each other and never cross a block boundary.
        std::vector<std::pair<qsizetype, qsizetype>> seen;
        c.appendFilled(2 * Block, [&](double *x, double *y, qsizetype first, qsizetype count) {
            seen.emplace_back(first, count);
            for (qsizetype k = 0; k < count; ++k) {
                x[k] = double(first + k);
                y[k] = -double(first + k);
            }
        });
        const std::vector<std::pair<qsizetype, qsizetype>> expected{
            {10, Block - 10}, {Block, Block}, {2 * Block, 10}};
        QCOMPARE(seen, expected);
        QCOMPARE(c.count(), 2 * Block + 10);

        // copyPoints reads back across the block boundary.
        std::vector<double> x(200), y(200);
        c.copyPoints(Block - 100, 200, x.data(), y.data());
        for (qsizetype k = 0; k < 200; ++k) {
            QCOMPARE(x[std::size_t(k)], c.x(Block - 100 + k));
            QCOMPARE(y[std::size_t(k)], c.y(Block - 100 + k));
        }

        // A fill that throws in its second run: the first run stays, the
        // failed one is left out, and later appends carry on as if it had
        // never been tried (into the block it had already been given).
        ChartChannel reference;
        for (qsizetype i = 0; i < 2 * Block + 10; ++i)
            reference.append(double(i), -double(i));
        for (qsizetype i = 2 * Block + 10; i < 3 * Block; ++i)
            reference.append(double(i), std::sin(double(i)));
        reference.append(-1, 1e6);
        int calls = 0;
        QVERIFY_THROWS_EXCEPTION(
            std::runtime_error,
            c.appendFilled(Block, [&](double *x, double *y, qsizetype first, qsizetype count) {
                if (++calls == 2)
                    throw std::runtime_error("source failed");
                for (qsizetype k = 0; k < count; ++k) {
                    x[k] = double(first + k);
                    y[k] = std::sin(double(first + k));
                }
            }));
        QCOMPARE(c.count(), 3 * Block);
        c.append(-1, 1e6);
        const QString difference = StoreDifference(reference, c);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        // Nothing to append: nothing changes, no block is taken.
        ChartChannel empty;
        empty.appendRange(nullptr, nullptr, 0);
        QCOMPARE(empty.count(), qsizetype(0));
        QCOMPARE(empty.memoryBytes(), ChartChannel().memoryBytes());
    }

    // The main window's smoothing rebuilds channel 1 with bulk appends and a
    // bulk filter; the result equals filtering and appending step by step,
    // also when the channel held a longer trace before.
    void smoothingRebuildEqualsStepByStep_data()
    {
        QTest::addColumn<int>("window");
        for (int window : {1, 3, 8, 31, 32})
            QTest::addRow("N=%d", window) << window;
    }
    void smoothingRebuildEqualsStepByStep()
    {
        QFETCH(int, window);
        ChartData data(
            {QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")});
        std::mt19937 rng(window);
        std::uniform_int_distribution<int> value(-1'000'000, 1'000'000);
        const qsizetype n = 2 * Block + 4321;
        for (qsizetype i = 1; i <= n; ++i) {
            data.append(SampleChannels::Samples, double(i), double(value(rng)) / 100);
            if (i % 5000 == 0)
                data.markLast(SampleChannels::Samples, PointMark::Null);
        }
        for (qsizetype i = 0; i < n + Block; ++i) // a longer stale trace
            data.append(SampleChannels::Smoothed, double(i), std::numeric_limits<double>::quiet_NaN());

        SmoothingFilter filter, stepwise;
        ApplySmoothing(filter, window, data);
        ChartChannel reference;
        stepwise.reset(window);
        const ChartChannel &samples = data.channel(SampleChannels::Samples);
        for (qsizetype i = 0; i < n; ++i)
            reference.append(samples.x(i), stepwise.step(samples.y(i)));
        const QString difference = StoreDifference(reference, data.channel(SampleChannels::Smoothed));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(filter.lastOutput(), stepwise.lastOutput());
    }

    // ---- thinning ---------------------------------------------------------

    void envelopeAndOrderInOneColumn()
    {
        ChartChannel c;
        const double ys[] = {5, 9, -3, 9, 2, -3, 4};
        for (int i = 0; i < 7; ++i)
            c.append(10.0 + i * 0.01, ys[i]);
        ThinnedTrace t;
        ThinForDisplay(c, 0, 100, 10, t); // all seven in column 1
        QCOMPARE(t.pieceCount(), qsizetype(1));
        // first, earliest max, earliest min, last
        QCOMPARE(t.sourceIndex, (std::vector<qsizetype>{0, 1, 2, 6}));
        QCOMPARE(t.points.at(1), QPointF(10.01, 9));
        QCOMPARE(t.points.at(2), QPointF(10.02, -3));
    }

    void outputIsBoundedAndKeepsEveryExtreme()
    {
        const ChartChannel c = Ramp(3 * Block);
        ThinnedTrace t;
        const int columns = 500;
        ThinForDisplay(c, 1, double(3 * Block), columns, t);
        QVERIFY(t.points.size() <= 4 * columns);
        QVERIFY(InIndexOrder(t));
        double lo = 1e9, hi = -1e9;
        for (const QPointF &p : t.points) {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
        QCOMPARE(lo, c.extent().minY);
        QCOMPARE(hi, c.extent().maxY);
    }

    void viewEdgesKeepOneNeighbour()
    {
        const ChartChannel c = Ramp(101, 0); // x = 0..100
        ThinnedTrace t;
        ThinForDisplay(c, 40, 60, 1000, t);
        QCOMPARE(t.pieceCount(), qsizetype(1));
        QCOMPARE(t.sourceIndex.front(), qsizetype(39));
        QCOMPARE(t.sourceIndex.back(), qsizetype(61));
        QCOMPARE(t.points.size(), qsizetype(23));

        // A line that crosses the whole view without a point inside it.
        ChartChannel jump;
        jump.append(-10, 0);
        jump.append(-20, 0);
        jump.append(10, 1);
        jump.append(30, 1);
        ThinForDisplay(jump, -1, 1, 100, t);
        QCOMPARE(t.sourceIndex, (std::vector<qsizetype>{1, 2}));

        // Nothing in view and nothing crossing it.
        ThinForDisplay(c, 200, 300, 100, t);
        QCOMPARE(t.points.size(), qsizetype(0));
        QCOMPARE(t.pieceCount(), qsizetype(0));
    }

    void gapsSplitPieces()
    {
        ChartChannel c;
        for (int i = 0; i < 10; ++i) {
            c.append(i, i);
            if (i == 3 || i == 4 || i == 7)
                c.markLast(i == 7 ? PointMark::Empty : PointMark::Null);
        }
        ThinnedTrace t;
        ThinForDisplay(c, 0, 9, 1000, t);
        QCOMPARE(t.pieceCount(), qsizetype(3));
        QCOMPARE(t.sourceIndex, (std::vector<qsizetype>{0, 1, 2, 5, 6, 8, 9}));
        QCOMPARE(t.pieceEnds, (std::vector<qsizetype>{3, 5, 7}));
        // A gap inside a run of one column still cuts the line there.
        ThinForDisplay(c, 0, 9, 1, t);
        QCOMPARE(t.pieceCount(), qsizetype(3));
    }

    void meanLineAfterSamplesIsDrawnInOrder()
    {
        // An import: samples at x = 1..n, then the mean line from 0 to n.
        ChartChannel samples = Ramp(5000);
        ChartChannel mean;
        mean.append(0, 2);
        mean.append(5000, 2);
        ThinnedTrace t;
        ThinForDisplay(mean, 4000, 5000, 800, t);
        QCOMPARE(t.sourceIndex, (std::vector<qsizetype>{0, 1}));
        // X going back inside one channel: the line back is kept.
        samples.append(1, 0);
        ThinForDisplay(samples, 4000, 5000, 800, t);
        QCOMPARE(t.sourceIndex.back(), qsizetype(5000));
        QVERIFY(InIndexOrder(t));
    }

    void summarisedWalkEqualsPointByPoint_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("rising x") << 0;
        QTest::newRow("rising x with marks and NaN") << 1;
        QTest::newRow("random x") << 2;
        QTest::newRow("repeated imports") << 3;
        QTest::newRow("rising x, wide columns") << 4;
    }

    void summarisedWalkEqualsPointByPoint()
    {
        QFETCH(int, shape);
        std::mt19937 rng(1234 + shape);
        std::uniform_real_distribution<double> unit(0, 1);
        ChartChannel c;
        const qsizetype n = 2 * Block + 3333;
        for (qsizetype i = 0; i < n; ++i) {
            double x = double(i);
            if (shape == 2)
                x = unit(rng) * double(n);
            else if (shape == 3)
                x = double(i % 70000);
            double y = std::round(unit(rng) * 40); // ties on purpose
            if (shape == 1 && unit(rng) < 0.0005)
                y = std::numeric_limits<double>::quiet_NaN();
            c.append(x, y);
            if (shape == 1 && unit(rng) < 0.001)
                c.markLast(unit(rng) < 0.5 ? PointMark::Null : PointMark::Empty);
        }
        for (int round = 0; round < 40; ++round) {
            double a = unit(rng) * 1.2 * double(n) - 0.1 * double(n);
            double b = a + unit(rng) * double(n) * (round % 3 == 0 ? 1.0 : 0.05);
            if (round == 0) {
                a = -1;
                b = double(n) + 1;
            }
            const int columns = 1 + int(unit(rng) * (shape == 4 ? 60 : 1500));
            ThinnedTrace fast, slow;
            ThinForDisplay(c, a, b, columns, fast, ThinMethod::Summarised);
            ThinForDisplay(c, a, b, columns, slow, ThinMethod::PointByPoint);
            QCOMPARE(fast.sourceIndex, slow.sourceIndex);
            QCOMPARE(fast.pieceEnds, slow.pieceEnds);
            QVERIFY(InIndexOrder(fast));
        }
    }

    // A thinning that takes what the last one found (views moving a little,
    // points appended, then a mark and a clear) equals one point by point.
    void thinningWithAMemoEqualsPointByPoint()
    {
        std::mt19937 rng(99);
        std::uniform_real_distribution<double> unit(0, 1);
        ChartChannel c;
        const auto add = [&](qsizetype n) {
            for (qsizetype i = 0; i < n; ++i)
                c.append(double(c.count()), std::round(unit(rng) * 30)); // ties on purpose
        };
        add(3 * Block + 500);
        ThinMemo memo;
        for (int round = 0; round < 60; ++round) {
            if (round % 4 == 1)
                add(1 + qsizetype(unit(rng) * 300));
            if (round == 30)
                c.markLast(PointMark::Null);
            if (round == 45) {
                c.clearKeepingStorage();
                add(2 * Block + 77);
            }
            const double n = double(c.count());
            // Mostly everything in view with a little more or less at the
            // ends; now and then a part, or more or fewer columns.
            double a = -1 + unit(rng) * 40, b = n + unit(rng) * 40 - 20;
            if (round % 10 == 7) {
                a = n * 0.3;
                b = n * 0.6;
            }
            const int columns = round % 10 == 9 ? 97 : 480 + int(unit(rng) * 3);
            ThinnedTrace memoed, slow;
            ThinForDisplay(c, a, b, columns, memoed, ThinMethod::Summarised, nullptr, &memo);
            ThinForDisplay(c, a, b, columns, slow, ThinMethod::PointByPoint);
            QCOMPARE(memoed.sourceIndex, slow.sourceIndex);
            QCOMPARE(memoed.pieceEnds, slow.pieceEnds);
            QCOMPARE(memoed.points, slow.points);
        }
    }

    void drawnExtentLeavesGapsOut()
    {
        ChartChannel c;
        c.append(5, 10);
        c.append(6, 0);
        c.markLast(PointMark::Null);
        for (int i = 0; i < 200; ++i)
            c.append(7 + i, 20 + i % 3);
        const ChartRange r = DrawnExtent(c);
        QCOMPARE(r.minX, 5.0);
        QCOMPARE(r.maxX, 206.0);
        QCOMPARE(r.minY, 10.0); // not the 0 of the null point
        QCOMPARE(r.maxY, 22.0);
        QVERIFY(DrawnExtent(ChartChannel()).isEmpty());
    }

    // ---- view ---------------------------------------------------------------

    // The view alone, without a window: the live range ends at the newest
    // point of the lead channel, zoom and drag move about the right point,
    // fit all takes in every channel, and pixels map to values and back.
    void viewArithmetic()
    {
        ChartData data({QStringLiteral("lead"), QStringLiteral("other")});
        ChartView view(data);
        view.setArea(QRectF(10, 20, 400, 200));
        const auto show = [&] { return view.showAxis(Qt::Horizontal) | view.showAxis(Qt::Vertical); };
        QVERIFY(show());
        QVERIFY(!show()); // nothing new
        QCOMPARE(view.map().toPixel(0, 0), QPointF(10, 220));
        QCOMPARE(view.map().toPixel(ChartView::LiveSpan, ChartView::DefaultYSpan), QPointF(410, 20));
        QCOMPARE(view.map().toValue(QPointF(210, 120)), QPointF(500, 5000));

        data.append(1, 5000, 17); // not the lead: live stays at the start
        view.scrollLive();
        QCOMPARE(view.xMaximum(), ChartView::LiveSpan);
        data.append(0, 2500, 7);
        view.scrollLive();
        QCOMPARE(view.xMinimum(), 1500.0);
        QCOMPARE(view.xMaximum(), 2500.0);

        view.zoomAt(0.5, 2000, 5000);
        QVERIFY(!view.isLive());
        QCOMPARE(view.xMinimum(), 1750.0);
        QCOMPARE(view.yMaximum(), 7500.0);
        QVERIFY(show());
        view.dragBy(QPointF(40, -20)); // a tenth of the width right, a tenth of the height up
        QCOMPARE(view.xMinimum(), 1700.0);
        QCOMPARE(view.yMinimum(), 2000.0);

        view.fitAll(); // X of both channels, Y with 5 % of the span either side
        QCOMPARE(view.xMinimum(), 2500.0);
        QCOMPARE(view.xMaximum(), 5000.0);
        QCOMPARE(view.yMinimum(), 6.5);
        QCOMPARE(view.yMaximum(), 17.5);

        // Live again: the vertical range takes in the values, holds while
        // they move inside it, shrinks when far too wide.
        view.followLive();
        view.followValues({0, 1, 100, 200, 0, 0});
        const double low = view.yMinimum(), high = view.yMaximum();
        QVERIFY(low <= 100 && high >= 200 && high - low < 1000);
        view.followValues({0, 1, 120, 180, 0, 0});
        QCOMPARE(view.yMinimum(), low);
        QCOMPARE(view.yMaximum(), high);
        view.followValues({0, 1, 150, 151, 0, 0});
        QVERIFY(view.yMaximum() - view.yMinimum() < (high - low) / ChartView::YShrinkRatio);
    }

    // ---- widget -----------------------------------------------------------

    void channelsAsConfigured()
    {
        ChartWidget w;
        QCOMPARE(w.channelCount(), 3);
        QCOMPARE(w.data().channel(0).title(), QStringLiteral("Channel 1"));
        QCOMPARE(w.data().channel(2).title(), QStringLiteral("Channel 3"));
        QCOMPARE(w.picture().trace(0).pen.width(), 2);
        // The smoothed trace is yellow, dark enough to stand out on the white plot area.
        const QColor smoothed = w.picture().trace(1).pen.color();
        QVERIFY(smoothed.hue() >= 40 && smoothed.hue() <= 60);
        QVERIFY(smoothed.lightnessF() < 0.5);
        QCOMPARE(w.picture().trace(1).pen.width(), 2);
        QCOMPARE(w.picture().trace(2).pen.color(), QColor(Qt::blue));
        QVERIFY(!w.toolbarVisible());
        QVERIFY(!w.dataCursorVisible());
        QVERIFY(w.isLive());

        w.append(0, 1, 2.5);
        w.append(0, 2, 3.5);
        w.markLast(0, PointMark::Empty);
        QCOMPARE(w.count(0), qsizetype(2));
        QCOMPARE(w.x(0, 1), 2.0);
        QCOMPARE(w.y(0, 0), 2.5);
        QCOMPARE(w.mark(0, 1), PointMark::Empty);
        w.append(2, 0, 1);
        w.clearChannel(0);
        QCOMPARE(w.count(0), qsizetype(0));
        QCOMPARE(w.count(2), qsizetype(1));
        w.clearAll();
        QCOMPARE(w.count(2), qsizetype(0));
    }

    void liveModeFollowsTheSamples()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 1000, 500));
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->min(), 0.0);
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 1000.0);

        for (int i = 1; i <= 500; ++i)
            w.append(0, i, i % 10);
        QVERIFY(w.refresh());
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 1000.0);
        QCOMPARE(MaxX(w.picture().trace(0).linePoints(0)), 500.0);

        for (int i = 501; i <= 2500; ++i)
            w.append(0, i, i % 10);
        QVERIFY(w.refresh());
        QCOMPARE(Axis(w, Qt::Horizontal)->min(), 1500.0);
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 2500.0);
        const QList<QPointF> s = w.picture().trace(0).linePoints(0);
        QCOMPARE(MaxX(s), 2500.0);
        QCOMPARE(MinX(s), 1499.0); // one point before the view keeps the line to the edge
        QVERIFY(s.size() <= 2 * int(w.view().map().area().width()) + 4); // about two per pixel

        // Nothing changed: nothing is handed over again.
        QVERIFY(!w.refresh());
        // The timer does the same on its own.
        w.setRepaintInterval(5);
        w.append(0, 2501, 1);
        QTRY_COMPARE(Axis(w, Qt::Horizontal)->max(), 2501.0);
    }

    void verticalAxis()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        w.setYAxis(100, 400);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Vertical)->min(), 100.0);
        QCOMPARE(Axis(w, Qt::Vertical)->max(), 500.0);
        QCOMPARE(w.yAxisMinimum(), 100.0);
        QCOMPARE(w.yAxisSpan(), 400.0);
        // Equal ends: a band around the value, never an empty range.
        w.setYAxis(5, 0);
        w.refresh();
        QVERIFY(Axis(w, Qt::Vertical)->min() < 5.0);
        QVERIFY(Axis(w, Qt::Vertical)->max() > 5.0);
        w.setYAxis(std::numeric_limits<double>::quiet_NaN(), 1);
        w.refresh();
        QVERIFY(Axis(w, Qt::Vertical)->max() > Axis(w, Qt::Vertical)->min());
    }

    // Live mode: the vertical range follows the values in view, steadily;
    // the configured range holds while there is none.
    void liveVerticalRangeFollowsTheValues()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        const auto yMin = [&] { return Axis(w, Qt::Vertical)->min(); };
        const auto yMax = [&] { return Axis(w, Qt::Vertical)->max(); };
        w.setYAxis(0, 10000);
        w.refresh();
        QCOMPARE(yMin(), 0.0);
        QCOMPARE(yMax(), 10000.0);

        // 246.8 kg again and again: a band around the value, not a flat line
        // at the bottom of 0..10000.
        for (int i = 1; i <= 50; ++i)
            w.append(ChartWidget::SampleChannel, i, 246.8);
        w.refresh();
        QVERIFY2(yMin() < 246.8 && yMax() > 246.8,
                 qPrintable(QStringLiteral("%1..%2").arg(yMin()).arg(yMax())));
        QVERIFY(yMax() - yMin() < 100.0);
        QCOMPARE(w.viewYMinimum(), yMin());
        QCOMPARE(w.viewYMaximum(), yMax());

        // A small noise on it: the range closes in, then stays put from one
        // repaint to the next.
        const auto noisy = [](int i) { return 246.8 + 0.05 * std::sin(i * 0.7); };
        int x = 50;
        for (; x < 1100; ++x)
            w.append(ChartWidget::SampleChannel, x + 1, noisy(x));
        w.refresh();
        const double low = yMin();
        const double high = yMax();
        QVERIFY(low <= 246.75 && high >= 246.85 && high - low < 1.0);
        for (int round = 0; round < 100; ++round) {
            for (int k = 0; k < 7; ++k, ++x)
                w.append(ChartWidget::SampleChannel, x + 1, noisy(x));
            w.refresh();
            QCOMPARE(yMin(), low);
            QCOMPARE(yMax(), high);
        }
        // A value outside the range widens it at once.
        w.append(ChartWidget::SampleChannel, ++x, 260.0);
        w.refresh();
        QVERIFY(yMin() <= 246.75 && yMax() >= 260.0);

        // Negative readings lie inside the range; so does the smoothed trace.
        w.clearAll();
        w.refresh();
        QCOMPARE(yMin(), 0.0); // no point: the configured range again
        QCOMPARE(yMax(), 10000.0);
        for (int i = 1; i <= 300; ++i) {
            w.append(ChartWidget::SampleChannel, i, -50.0 - i % 7);
            w.append(ChartWidget::SmoothedChannel, i, -40.0);
        }
        w.refresh();
        QVERIFY(yMin() <= -56.0 && yMax() >= -40.0 && yMax() - yMin() < 100.0);

        // All equal to 0: still a range of some height.
        w.clearAll();
        w.append(ChartWidget::SampleChannel, 1, 0.0);
        w.append(ChartWidget::SampleChannel, 2, 0.0);
        w.refresh();
        QVERIFY(yMin() < 0.0 && yMax() > 0.0);

        // Zoom starts from the range shown; back to live follows the values.
        w.zoomIn();
        QVERIFY(w.viewYMinimum() < 0.0 && w.viewYMaximum() > 0.0);
        w.followLive();
        w.append(ChartWidget::SampleChannel, 3, 5000.0);
        w.refresh();
        QVERIFY(yMin() <= 0.0 && yMax() >= 5000.0 && yMax() < 10000.0);
    }

    // After an import up to X 5000, new samples start again at X 1: the view
    // follows them, not the largest X.
    void liveViewFollowsTheNewestSample()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        for (int i = 1; i <= 5000; ++i) {
            w.append(ChartWidget::SampleChannel, i, i % 10);
            w.append(ChartWidget::SmoothedChannel, i, i % 10);
        }
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 5000.0);
        w.append(ChartWidget::SampleChannel, 1, 3);
        w.append(ChartWidget::SampleChannel, 2, 4);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->min(), 0.0);
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 1000.0);
        for (int i = 3; i <= 1500; ++i)
            w.append(ChartWidget::SampleChannel, i, i % 10);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 1500.0);

        // No samples (only other channels): the first LiveSpan.
        w.clearChannel(ChartWidget::SampleChannel);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->min(), 0.0);
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 1000.0);
    }

    // Hiding or disabling the toolbar, or clearing the chart, disarms zoom,
    // pan and data cursor and returns to live data.
    void toolbarGoneOrClearReturnsToLive()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        for (int i = 1; i <= 3000; ++i)
            w.append(ChartWidget::SampleChannel, i, i % 10);
        const auto arm = [&] {
            w.setToolbarVisible(true);
            w.setToolbarEnabled(true);
            w.action(ChartWidget::Action::Pan)->trigger();
            w.action(ChartWidget::Action::DataCursor)->trigger();
            w.zoomIn();
            w.refresh();
            return !w.isLive() && w.panEnabled() && w.dataCursorVisible() &&
                   w.action(ChartWidget::Action::Pan)->isChecked();
        };
        const auto followsLiveData = [&](double newest) {
            w.refresh();
            return w.isLive() && !w.panEnabled() && !w.dataCursorVisible() &&
                   !w.action(ChartWidget::Action::Pan)->isChecked() &&
                   !w.action(ChartWidget::Action::DataCursor)->isChecked() &&
                   Axis(w, Qt::Horizontal)->max() == newest;
        };

        QVERIFY(arm());
        w.setToolbarVisible(false); // as the menu item does, in two steps
        QVERIFY(followsLiveData(3000));
        w.setToolbarEnabled(false);
        QVERIFY(followsLiveData(3000));

        QVERIFY(arm());
        w.setToolbarEnabled(false);
        QVERIFY(followsLiveData(3000));

        QVERIFY(arm());
        w.clearAll();
        for (int i = 1; i <= 1200; ++i)
            w.append(ChartWidget::SampleChannel, i, i % 10);
        QVERIFY(followsLiveData(1200));
        QVERIFY(w.toolbarVisible()); // clearing leaves the toolbar as it is
    }

    // On a locale that writes "," as decimal separator, the data cursor and
    // the axis labels write it too.
    void numbersInTheLocaleNotation()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto restore = qScopeGuard([&before] { QLocale::setDefault(before); });

        QCOMPARE(ChartWidget::DataCursorText(12.5, -1234.25), QStringLiteral("X: 12,5   Y: -1234,25"));

        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        w.setYAxis(0, 1); // ticks 0, 0.2, 0.4 ...
        w.refresh();
        QApplication::processEvents();
        const QStringList labels = w.axes().labels(Qt::Vertical) + w.axes().labels(Qt::Horizontal);
        QVERIFY2(labels.contains(QStringLiteral("0,2")), qPrintable(labels.join(QLatin1Char(' '))));
        QVERIFY2(!labels.join(QString()).contains(QLatin1Char('.')),
                 qPrintable(labels.join(QLatin1Char(' '))));

        w.action(ChartWidget::Action::DataCursor)->trigger();
        const QPoint centre = w.view().map().area().center().toPoint();
        HoverOver(w.plotView(), centre);
        const QString cursor = w.dataCursorText(); // about X 500, Y 0.5
        QVERIFY2(cursor.contains(QStringLiteral("Y: 0,")) && !cursor.contains(QLatin1Char('.')),
                 qPrintable(cursor));
    }

    void markersAndGapsInTheWidget()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        // Points 50 apart, one per pixel column in the live view.
        for (int i = 1; i <= 20; ++i) {
            w.append(0, 50 * i, i);
            if (i == 10 || i == 12)
                w.markLast(0, PointMark::Null);
        }
        w.refresh();
        // 1..9, the lone 11 and 13..20: two lines and one marker-only point.
        QCOMPARE(w.picture().trace(0).lineCount(), 2);
        QCOMPARE(w.picture().trace(0).linePoints(0).size(), 9);
        QCOMPARE(w.picture().trace(0).linePoints(1).size(), 8);
        QCOMPARE(LoneMarkers(w, 0).size(), 0);

        QVERIFY(!w.markersVisible(0));
        w.setMarkersVisible(0, true);
        QVERIFY(w.markersVisible(0));
        QVERIFY(!w.markersVisible(1));
        QVERIFY(w.refresh());
        QCOMPARE(LoneMarkers(w, 0).size(), 1);
        QCOMPARE(LoneMarkers(w, 0).front(), QPointF(550, 11));
        w.setMarkersVisible(0, false);
        QVERIFY(w.refresh());
        QCOMPARE(LoneMarkers(w, 0).size(), 0);

        // Without the gaps the second piece is emptied, not left behind.
        w.clearChannel(0);
        for (int i = 1; i <= 20; ++i)
            w.append(0, 50 * i, i);
        w.refresh();
        QCOMPARE(w.picture().trace(0).lineCount(), 1);
        QCOMPARE(w.picture().trace(0).linePoints(0).size(), 20);

        // A file full of null points: the number of series stays bounded.
        w.clearChannel(0);
        for (int i = 1; i <= 900; ++i) {
            w.append(0, i, i % 5);
            if (i % 3 == 0)
                w.markLast(0, PointMark::Null);
        }
        w.refresh();
        QCOMPARE(w.picture().trace(0).lineCount(), ChartWidget::MaxPiecesPerChannel);
    }

    // A single sample, the first after a clear or one between gaps, shows
    // as a dot in its trace's colour with markers off.
    void loneSampleIsADot()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        const QColor colour = w.picture().trace(ChartWidget::SampleChannel).pen.color();
        QVERIFY(!w.markersVisible(ChartWidget::SampleChannel));
        w.append(ChartWidget::SampleChannel, 1, 246.8); // the first reading, live
        w.refresh();
        QVERIFY(w.viewYMinimum() < 246.8 && w.viewYMaximum() > 246.8 && w.viewYMaximum() < 1000);
        QVERIFY(DrawnAt(w, 1, 246.8, colour));

        // (400, 50) alone between two null points, lines at 20 either side.
        w.clearAll();
        const double points[][2] = {{100, 20}, {200, 20}, {300, 20}, {400, 50},
                                    {500, 20}, {600, 20}, {700, 20}};
        for (const auto &p : points) {
            w.append(ChartWidget::SampleChannel, p[0], p[1]);
            if (p[0] == 300 || p[0] == 500)
                w.markLast(ChartWidget::SampleChannel, PointMark::Null);
        }
        w.zoomTo(0, 0, 1000, 100);
        w.refresh();
        QVERIFY(DrawnAt(w, 400, 50, colour));
        QVERIFY(DrawnAt(w, 650, 20, colour));
        QVERIFY(!DrawnAt(w, 400, 60, colour)); // a dot, not a line to it
    }

    void toolbarVisibleAndEnabled()
    {
        ChartWidget w;
        QVERIFY(!w.toolbarVisible());
        w.setToolbarVisible(true);
        QVERIFY(w.toolbarVisible());
        QVERIFY(w.toolbarEnabled());
        w.setToolbarEnabled(false);
        QVERIFY(!w.toolbarEnabled());
        QVERIFY(!w.toolBar()->widgetForAction(w.action(ChartWidget::Action::ZoomIn))->isEnabled());
        w.setToolbarEnabled(true);
        w.setToolbarVisible(false);
        QVERIFY(!w.toolbarVisible());
        QCOMPARE(w.toolBar()->actions().size(), 7);
    }

    void suspendedRepaintHandsNothingOver()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        w.suspendRepaint();
        w.suspendRepaint();
        const quint64 before = w.seriesUpdateCount();
        for (int i = 1; i <= 100; ++i)
            w.append(0, i, i);
        QVERIFY(!w.refresh());
        w.resumeRepaint();
        QVERIFY(w.repaintSuspended());
        QVERIFY(!w.refresh());
        QCOMPARE(w.seriesUpdateCount(), before);
        QCOMPARE(w.picture().trace(0).lineCount(), 0);
        w.resumeRepaint();
        w.resumeRepaint(); // one too many is harmless
        QVERIFY(!w.repaintSuspended());
        QVERIFY(w.refresh());
        QCOMPARE(w.seriesUpdateCount(), before + 1);
        QCOMPARE(w.picture().trace(0).linePoints(0).size(), 100);
    }

    void zoomFitAndBackToLive()
    {
        ChartWidget w;
        w.setRepaintInterval(0);
        for (int i = 1; i <= 5000; ++i)
            w.append(0, i, 100 + i % 50);
        w.append(2, 0, 120);
        w.append(2, 5000, 120);
        w.refresh();
        QCOMPARE(w.viewXMinimum(), 4000.0);

        w.zoomIn();
        QVERIFY(!w.isLive());
        QCOMPARE(w.viewXMaximum() - w.viewXMinimum(), 500.0);
        QCOMPARE((w.viewXMaximum() + w.viewXMinimum()) / 2, 4500.0);
        w.zoomOut();
        QCOMPARE(w.viewXMaximum() - w.viewXMinimum(), 1000.0);

        w.fitAll();
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->min(), 0.0); // the mean line starts at 0
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 5000.0);
        QVERIFY(Axis(w, Qt::Vertical)->min() < 100.0 && Axis(w, Qt::Vertical)->min() > 90.0);
        QVERIFY(Axis(w, Qt::Vertical)->max() > 149.0 && Axis(w, Qt::Vertical)->max() < 160.0);
        // New samples do not move a fixed view...
        w.append(0, 5001, 100);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 5000.0);
        // ...until live scrolling is taken up again, the Y axis following the
        // values in view (100..149).
        w.action(ChartWidget::Action::Live)->trigger();
        w.refresh();
        QVERIFY(w.isLive());
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 5001.0);
        QVERIFY(Axis(w, Qt::Vertical)->min() <= 100.0 && Axis(w, Qt::Vertical)->min() > 50.0);
        QVERIFY(Axis(w, Qt::Vertical)->max() >= 149.0 && Axis(w, Qt::Vertical)->max() < 200.0);

        // Fit on an empty chart still gives a usable view.
        w.clearAll();
        w.fitAll();
        QVERIFY(w.viewXMaximum() > w.viewXMinimum());
        QVERIFY(w.viewYMaximum() > w.viewYMinimum());
    }

    void panByDraggingAndWheelZoom()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        w.setToolbarVisible(true);
        QApplication::processEvents();
        w.refresh();
        QWidget *vp = w.plotView();
        const QPoint centre = w.view().map().area().center().toPoint();

        // Without the pan tool a drag along a line is no box: it changes nothing.
        QTest::mousePress(vp, Qt::LeftButton, {}, centre);
        QTest::mouseMove(vp, centre + QPoint(100, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centre + QPoint(100, 0));
        QVERIFY(w.isLive());

        w.action(ChartWidget::Action::Pan)->trigger();
        QVERIFY(w.panEnabled());
        const double width = w.view().map().area().width();
        QTest::mousePress(vp, Qt::LeftButton, {}, centre);
        QTest::mouseMove(vp, centre + QPoint(int(width / 4), 0));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centre + QPoint(int(width / 4), 0));
        QVERIFY(!w.isLive());
        QVERIFY(std::abs(w.viewXMinimum() + 250.0) < 5.0); // dragged right: earlier X comes into view
        QCOMPARE(w.viewXMaximum() - w.viewXMinimum(), 1000.0);

        // The wheel zooms only while the toolbar, with its way back to live
        // scrolling, is at hand.
        w.followLive();
        w.refresh();
        const auto turnWheel = [&] {
            QWheelEvent wheel(QPointF(centre), vp->mapToGlobal(QPointF(centre)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(vp, &wheel);
        };
        w.setToolbarVisible(false);
        turnWheel();
        QTest::mousePress(vp, Qt::LeftButton, {}, centre); // the pan tool went with the toolbar
        QTest::mouseMove(vp, centre + QPoint(100, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centre + QPoint(100, 0));
        QVERIFY(w.isLive());
        w.setToolbarVisible(true);
        w.setToolbarEnabled(false);
        turnWheel();
        QVERIFY(w.isLive());
        w.setToolbarEnabled(true);
        turnWheel();
        QVERIFY(!w.isLive());
        QVERIFY(w.viewXMaximum() - w.viewXMinimum() < 1000.0);
    }

    // Dragging a rectangle (pan off) shows just that rectangle; the wheel
    // over an axis zooms that axis alone.
    void boxZoomAndWheelOverAnAxis()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        w.setToolbarVisible(true);
        w.setYAxis(0, 100);
        QApplication::processEvents();
        w.refresh();
        QWidget *vp = w.plotView();
        const QRectF area = w.view().map().area();
        // The pixel of a value point, and back.
        const auto at = [&](double x, double y) {
            return QPoint(int(std::lround(area.left() + x / 1000.0 * area.width())),
                          int(std::lround(area.bottom() - y / 100.0 * area.height())));
        };
        QTest::mousePress(vp, Qt::LeftButton, {}, at(200, 80));
        QTest::mouseMove(vp, at(500, 20));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at(500, 20));
        QVERIFY(!w.isLive());
        const double pixelX = 1000.0 / area.width(); // one pixel in axis units
        const double pixelY = 100.0 / area.height();
        QVERIFY2(std::abs(w.viewXMinimum() - 200) <= 2 * pixelX &&
                     std::abs(w.viewXMaximum() - 500) <= 2 * pixelX,
                 qPrintable(QStringLiteral("%1..%2").arg(w.viewXMinimum()).arg(w.viewXMaximum())));
        QVERIFY(std::abs(w.viewYMinimum() - 20) <= 2 * pixelY &&
                std::abs(w.viewYMaximum() - 80) <= 2 * pixelY);
        QCOMPARE(w.view().map().minimum(Qt::Horizontal), w.viewXMinimum()); // drawn at once

        // A click or a box a few pixels high is no box.
        const double xMin = w.viewXMinimum(), yMin = w.viewYMinimum();
        QTest::mouseClick(vp, Qt::LeftButton, {}, area.center().toPoint());
        QTest::mousePress(vp, Qt::LeftButton, {}, area.center().toPoint());
        QTest::mouseMove(vp, area.center().toPoint() + QPoint(200, 3));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, area.center().toPoint() + QPoint(200, 3));
        QCOMPARE(w.viewXMinimum(), xMin);
        QCOMPARE(w.viewYMinimum(), yMin);

        const auto turnWheelAt = [&](const QPoint &pos) {
            QWheelEvent wheel(QPointF(pos), vp->mapToGlobal(QPointF(pos)), QPoint(), QPoint(0, 120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(vp, &wheel);
        };
        w.fitAll(); // empty chart: 0..1000, 0..100
        w.refresh();
        const QRectF fitted = w.view().map().area();
        turnWheelAt(QPoint(int(fitted.left()) - 10, int(fitted.center().y()))); // over the vertical axis
        QCOMPARE(w.viewXMinimum(), 0.0);
        QCOMPARE(w.viewXMaximum(), 1000.0);
        QVERIFY(w.viewYMaximum() - w.viewYMinimum() < 100.0);
        const double ySpan = w.viewYMaximum() - w.viewYMinimum();
        turnWheelAt(QPoint(int(fitted.center().x()), int(fitted.bottom()) + 10)); // over the horizontal axis
        QVERIFY(w.viewXMaximum() - w.viewXMinimum() < 1000.0);
        QCOMPARE(w.viewYMaximum() - w.viewYMinimum(), ySpan);
    }

    // The cursor snaps to the sample nearest to the mouse and shows its
    // channel and its X and Y as stored.
    void dataCursorSnapsToTheNearestSample()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        w.setToolbarVisible(true);
        for (int i = 1; i <= 10; ++i)
            w.append(ChartWidget::SampleChannel, 100 * i, 10.0 + 0.125 * i);
        w.append(ChartWidget::SmoothedChannel, 300, 40.0);
        w.zoomTo(0, 0, 1000, 100);
        w.refresh();
        const QRectF area = w.view().map().area();
        const auto pixel = [&](double x, double y) {
            return QPoint(int(std::lround(area.left() + x / 1000.0 * area.width())),
                          int(std::lround(area.bottom() - y / 100.0 * area.height())));
        };
        w.action(ChartWidget::Action::DataCursor)->trigger();
        HoverOver(w.plotView(), pixel(505, 10.5)); // near sample 5 (500, 10.625)
        QCOMPARE(w.dataCursorText(), ChartWidget::DataCursorText(ChartWidget::ChannelName(0), 500, 10.625));
        QVERIFY(w.dataCursorText().contains(QStringLiteral("500")) && w.dataCursorText().contains("10.625"));
        // A lone point without markers is a small dot, no target for the cursor.
        HoverOver(w.plotView(), pixel(303, 39));
        QVERIFY(!w.dataCursorText().startsWith(ChartWidget::ChannelName(1)));
        w.setMarkersVisible(ChartWidget::SmoothedChannel, true); // shown as a marker
        w.refresh();
        HoverOver(w.plotView(), pixel(303, 39));
        QCOMPARE(w.dataCursorText(), ChartWidget::DataCursorText(ChartWidget::ChannelName(1), 300, 40));
        // Far from every sample: the position under the mouse.
        HoverOver(w.plotView(), pixel(500, 80));
        const QStringList parts = w.dataCursorText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(parts.size(), 4);
        QVERIFY(std::abs(parts[3].toDouble() - 80.0) < 1.0);
    }

    // What the operator sees: each channel in its colour where its values
    // are, and a line to a point far outside the view still crosses it.
    void drawsTheChannelsWhereTheirValuesAre()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        for (int i = 0; i <= 1000; i += 10) {
            w.append(ChartWidget::SampleChannel, i, 25.0);
            w.append(ChartWidget::SmoothedChannel, i, 75.0);
        }
        w.append(ChartWidget::MeanChannel, 0, -1e12);   // a line from far below...
        w.append(ChartWidget::MeanChannel, 1000, 1e12); // ...to far above, through the middle
        w.zoomTo(0, 0, 1000, 100);
        w.refresh();
        const QImage picture = w.plotView()->grab().toImage();
        const QRectF area = w.view().map().area();
        const auto colourAt = [&](double x, double y) {
            const QPoint p(int(area.left() + x / 1000.0 * area.width()),
                           int(area.bottom() - y / 100.0 * area.height()));
            // The line is two pixels wide: either row of it.
            const QColor c = picture.pixelColor(p);
            return c == QColor(Qt::white) ? picture.pixelColor(p + QPoint(0, 1)) : c;
        };
        QCOMPARE(colourAt(250, 25), w.picture().trace(ChartWidget::SampleChannel).pen.color());
        QCOMPARE(colourAt(700, 75), w.picture().trace(ChartWidget::SmoothedChannel).pen.color());
        QCOMPARE(picture.pixelColor(area.center().toPoint()),
                 w.picture().trace(ChartWidget::MeanChannel).pen.color());
        QCOMPARE(colourAt(730, 55), QColor(Qt::white)); // between grid lines, no channel
    }

    void dataCursorReadsTheMousePosition()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        w.setYAxis(0, 100);
        w.refresh();
        QCOMPARE(ChartWidget::DataCursorText(12.5, -3), QStringLiteral("X: 12.5   Y: -3"));

        w.action(ChartWidget::Action::DataCursor)->trigger();
        QVERIFY(w.dataCursorVisible());
        const QPoint centre = w.view().map().area().center().toPoint();
        HoverOver(w.plotView(), centre);
        const QStringList parts = w.dataCursorText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QCOMPARE(parts.size(), 4);
        QVERIFY(std::abs(parts[1].toDouble() - 500.0) < 3.0);
        QVERIFY(std::abs(parts[3].toDouble() - 50.0) < 1.0);
        QVERIFY(w.plotView()->findChild<QLabel *>()->isVisible());

        w.setDataCursorVisible(false);
        QVERIFY(!w.action(ChartWidget::Action::DataCursor)->isChecked());
        QVERIFY(!w.plotView()->findChild<QLabel *>()->isVisible());
    }

    void savePictureThroughTheHook()
    {
        QTemporaryDir dir;
        ChartWidget w;
        QVERIFY(Shown(w, 600, 300));
        for (int i = 1; i <= 100; ++i)
            w.append(0, i, i * 10);
        QString answer;
        QStringList errors;
        w.setFileNamePrompt([&](QWidget *) { return answer; });
        w.setErrorReport([&](QWidget *, const QString &text) { errors << text; });

        answer = dir.filePath(QStringLiteral("plot")); // no suffix: .png is added
        w.action(ChartWidget::Action::SavePicture)->trigger();
        QVERIFY(errors.isEmpty());
        QImageReader reader(dir.filePath(QStringLiteral("plot.png")));
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), w.plotView()->size() * w.plotView()->devicePixelRatio());

        answer.clear(); // cancelled
        w.savePictureAsked();
        QVERIFY(errors.isEmpty());

        answer = dir.filePath(QStringLiteral("missing/dir/plot.png"));
        w.savePictureAsked();
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0].startsWith(QStringLiteral("Error Saving Picture - ")));
    }

    void rightClickReachesTheOwner()
    {
        ChartWidget w;
        w.resize(600, 300);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.setContextMenuPolicy(Qt::CustomContextMenu);
        QSignalSpy spy(&w, &QWidget::customContextMenuRequested);
        const QPoint at(200, 100);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, w.plotView()->mapToGlobal(at));
        QApplication::sendEvent(w.plotView(), &event);
        QCOMPARE(spy.count(), 1);
    }

    // ---- several traces, times, scrolling ---------------------------------

    void timesKeptPerSample()
    {
        // Live pace (under a millisecond apart), then gaps that need offsets
        // of two, four and eight bytes, across a block boundary.
        ChartChannel c;
        std::vector<qint64> want;
        qint64 t = 1'765'000'000'000;
        for (qsizetype i = 0; i < Block + 300; ++i) {
            t += (i % 4 == 0) ? 1 : 0;
            if (i == 1000)
                t += 20'000; // 20 s
            if (i == 2000)
                t += 100'000'000; // a day and more
            if (i == 2001)
                t -= 50; // the clock set back
            if (i == 3000)
                t = std::numeric_limits<qint64>::max() / 4;
            want.push_back(t);
            c.appendTimed(double(i + 1), 1.0, t);
        }
        QVERIFY(c.hasTimes());
        for (qsizetype i = 0; i < c.count(); ++i)
            QCOMPARE(c.time(i), want[std::size_t(i)]);
        // Points without a time (one by one, or in bulk) take the last one.
        c.append(double(c.count() + 1), 2.0);
        const std::vector<double> xs{double(c.count() + 1), double(c.count() + 2)}, ys{3, 4};
        c.appendRange(xs.data(), ys.data(), 2);
        for (qsizetype i = c.count() - 3; i < c.count(); ++i)
            QCOMPARE(c.time(i), want.back());
        QCOMPARE(c.x(c.count() - 1), double(c.count())); // the points themselves as appended

        // Between samples the time is interpolated; outside there is none.
        ChartChannel live;
        for (int i = 1; i <= 100; ++i)
            live.appendTimed(i, 0, 1000 + 10 * i);
        qint64 ms = 0;
        QVERIFY(live.timeAtX(50, ms) && ms == 1500);
        QVERIFY(live.timeAtX(50.5, ms) && ms == 1505);
        QVERIFY(!live.timeAtX(0.5, ms) && !live.timeAtX(100.5, ms));
        live.clear();
        live.append(1, 0);
        live.appendTimed(2, 0, 5); // a time only from an empty channel on
        QVERIFY(!live.hasTimes());
        QCOMPARE(live.time(1), qint64(0));

        // Live samples: about a byte more per sample for their times.
        ChartChannel plain, timed;
        for (qsizetype i = 0; i < 4 * Block; ++i) {
            plain.append(double(i), 1.0);
            timed.appendTimed(double(i), 1.0, 1'765'000'000'000 + i * 100 / 128);
        }
        const double extra = double(timed.memoryBytes() - plain.memoryBytes()) / double(timed.count());
        QVERIFY2(extra > 0.9 && extra < 1.2, qPrintable(QString::number(extra)));
    }

    void tracesInTheirColoursWithLegend()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 900, 500));
        w.setYAxis(0, 100);
        w.append(ChartWidget::SampleChannel, 0, 5);
        w.append(ChartWidget::SampleChannel, 1000, 5);
        w.refresh();
        QVERIFY(w.legendNames().isEmpty()); // the single module's view: no legend

        // Twelve traces: ten colours told apart, then the first ones dashed.
        constexpr int Traces = 12;
        std::vector<int> channels;
        QStringList names{ChartWidget::ChannelName(ChartWidget::SampleChannel)};
        for (int k = 0; k < Traces; ++k) {
            names << QStringLiteral("模块 %1").arg(k + 1);
            channels.push_back(w.addTrace(names.back()));
            QCOMPARE(channels.back(), ChartWidget::ChannelCount + k);
            w.append(channels.back(), 0, 10 + 7 * k); // each flat at its own height
            w.append(channels.back(), 1000, 10 + 7 * k);
        }
        for (int k = 0; k < ChartWidget::PaletteSize; ++k)
            for (int j = 0; j < k; ++j)
                QVERIFY(w.picture().trace(channels[std::size_t(k)]).pen.color() !=
                        w.picture().trace(channels[std::size_t(j)]).pen.color());
        const QPen eleventh = w.picture().trace(channels[ChartWidget::PaletteSize]).pen;
        QCOMPARE(eleventh.color(), w.picture().trace(channels[0]).pen.color());
        QVERIFY(eleventh.style() != Qt::SolidLine);
        w.zoomTo(0, 0, 1000, 100);
        w.refresh();
        QCOMPARE(w.legendNames(), names);

        // Each trace in its colour where its values are (right of the
        // legend); a dashed one somewhere along its line.
        const QImage picture = w.plotView()->grab().toImage();
        const ChartMap map = w.drawnMap();
        for (int k = 0; k < Traces; ++k) {
            const QColor colour = w.picture().trace(channels[std::size_t(k)]).pen.color();
            int hits = 0;
            for (double x = 600; x < 900; x += 1) {
                const QPoint p = map.toPixel(x, 10 + 7 * k).toPoint();
                hits += picture.pixelColor(p) == colour || picture.pixelColor(p + QPoint(0, -1)) == colour;
            }
            QVERIFY2(k < ChartWidget::PaletteSize ? hits > 290 : hits > 100 && hits < 250,
                     qPrintable(QStringLiteral("trace %1: %2").arg(k).arg(hits)));
        }

        // The data cursor names the trace under the mouse.
        w.setToolbarVisible(true);
        QTest::qWait(1);
        w.refresh();
        w.action(ChartWidget::Action::DataCursor)->trigger();
        HoverOver(w.plotView(), w.drawnMap().toPixel(990, 10 + 7 * 4 + 0.5).toPoint());
        QVERIFY2(w.dataCursorText().startsWith(names[5] + QLatin1Char(' ')), qPrintable(w.dataCursorText()));

        // Removed: gone from the legend; the next trace takes the free colour.
        const QColor freed = w.picture().trace(channels[1]).pen.color();
        w.removeTrace(channels[1]);
        names.removeAt(2);
        QCOMPARE(w.legendNames(), names);
        QCOMPARE(w.count(channels[1]), qsizetype(2)); // the one after moved down
        QCOMPARE(w.picture().trace(w.addTrace(QStringLiteral("新"))).pen.color(), freed);
    }

    void liveFollowsTheNewestOfAnyTrace()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 600, 300));
        const int a = w.addTrace(QStringLiteral("a"));
        const int b = w.addTrace(QStringLiteral("b"));
        for (int i = 1; i <= 3000; ++i)
            w.append(a, i, 1);
        for (int i = 1; i <= 4000; ++i)
            w.append(b, i, 2);
        w.append(ChartWidget::SmoothedChannel, 9000, 1); // derived channels are not followed
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 4000.0);
        w.removeTrace(b);
        w.refresh();
        QCOMPARE(Axis(w, Qt::Horizontal)->max(), 3000.0);
    }

    // While a live view only moves on, the picture is shifted and only what
    // changed is drawn: it must equal the picture drawn whole.
    void scrolledPictureEqualsAFullRepaint_data()
    {
        QTest::addColumn<int>("traces");
        QTest::addColumn<int>("perStep");
        QTest::addColumn<bool>("clockTime");
        QTest::newRow("samples, 51 a step") << 0 << 51 << false;
        QTest::newRow("samples, 3 a step") << 0 << 3 << false;
        QTest::newRow("five traces and legend, 40 a step") << 5 << 40 << false;
        QTest::newRow("clock time, 25 a step") << 2 << 25 << true;
    }

    void scrolledPictureEqualsAFullRepaint()
    {
        // What the screen shows is read from the window's backing store, a
        // plain picture only on the offscreen platform (on X it is the
        // server's, written at the next flush).
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QSKIP("the shown picture is read from the offscreen backing store");
        QFETCH(int, traces);
        QFETCH(int, perStep);
        QFETCH(bool, clockTime);
        ChartWidget w;
        QVERIFY(Shown(w, 801, 401));
        w.setClockTimeAxis(clockTime);
        std::vector<int> channels{ChartWidget::SampleChannel};
        for (int k = 0; k < traces; ++k)
            channels.push_back(w.addTrace(QStringLiteral("模块 %1").arg(k + 1)));
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> noise(-30, 30);
        qsizetype x = 0;
        const auto step = [&](int n) {
            for (int i = 0; i < n; ++i, ++x)
                for (std::size_t k = 0; k < channels.size(); ++k)
                    w.append(channels[k], double(x),
                             500 + 100 * double(k) + noise(rng) + (x % 200 < 100 ? 0 : 150));
            w.refresh();
            QCoreApplication::processEvents(); // painted, as between timer ticks
        };
        step(1500); // past the first LiveSpan
        // Keep the vertical range fixed, so every step can scroll.
        const double low = w.viewYMinimum(), high = w.viewYMaximum();
        QVERIFY(high - low > 0);
        for (int round = 0; round < 2; ++round) {
            const quint64 scrolls = w.scrollCount();
            for (int i = 0; i < 12; ++i)
                step(perStep);
            QVERIFY(w.scrollCount() >= scrolls + 10);
            QCOMPARE(w.viewYMinimum(), low);
            QCOMPARE(w.viewYMaximum(), high);
            // Drawn within half a column of the view.
            QVERIFY(std::abs(w.drawnMap().maximum(Qt::Horizontal) - w.viewXMaximum()) <=
                    (w.viewXMaximum() - w.viewXMinimum()) / w.view().map().area().width() + 1e-9);
            const auto [shown, redrawn] = ShownAndRedrawn(w);
            QCOMPARE(DifferentPixels(shown, redrawn), 0);
        }
    }

    // A hidden trace keeps its data but takes no part in what is drawn.
    void hiddenTraceIsLeftOutOfEverythingDrawn()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 800, 400));
        const int low = w.addTrace(QStringLiteral("低"));
        const int high = w.addTrace(QStringLiteral("高"));
        for (int i = 0; i < 500; ++i)
            w.append(low, i, 10 + i % 7);
        for (int i = 0; i < 1000; ++i)
            w.append(high, i, 1000 + i % 5);
        QVERIFY(w.traceVisible(ChartWidget::SampleChannel));
        QVERIFY(w.traceVisible(high));
        QVERIFY(!w.traceVisible(high + 1)); // no such channel
        w.refresh();
        QVERIFY(w.viewYMaximum() >= 1004);

        w.setTraceVisible(high, false);
        QVERIFY(!w.traceVisible(high));
        QVERIFY(w.traceVisible(low));
        QCOMPARE(w.legendNames(), QStringList{QStringLiteral("低")});
        w.append(high, 1000, 1001); // still takes points
        QCOMPARE(w.count(high), qsizetype(1001));
        w.refresh();
        QVERIFY(w.picture().trace(high).points().isEmpty());
        QVERIFY(w.viewYMaximum() < 1000); // the live range follows the shown trace alone
        w.fitAll();
        w.refresh();
        QCOMPARE(w.viewXMaximum(), 499.0);
        QVERIFY(w.viewYMaximum() < 1000);

        // Neither drawn nor a target of the data cursor.
        const QColor colour = w.picture().trace(high).pen.color();
        w.zoomTo(0, 0, 1000, 1200);
        w.refresh();
        QVERIFY(!DrawnAt(w, 700, 1002, colour));
        w.setToolbarVisible(true);
        QTest::qWait(1);
        w.refresh();
        w.setDataCursorVisible(true);
        HoverOver(w.plotView(), w.drawnMap().toPixel(700, 1002).toPoint());
        QVERIFY2(w.dataCursorText().startsWith(QStringLiteral("X:")), qPrintable(w.dataCursorText()));

        // Shown again: everything as if it had never been hidden.
        w.setTraceVisible(high, true);
        QCOMPARE(w.legendNames(), (QStringList{QStringLiteral("低"), QStringLiteral("高")}));
        w.refresh();
        HoverOver(w.plotView(), w.drawnMap().toPixel(700, 1002).toPoint());
        QVERIFY2(w.dataCursorText().startsWith(QStringLiteral("高 ")), qPrintable(w.dataCursorText()));
        w.setDataCursorVisible(false);
        w.refresh();
        QVERIFY(DrawnAt(w, 700, 1000 + 700 % 5, colour));
        w.fitAll();
        QCOMPARE(w.viewXMaximum(), 1000.0);
        QVERIFY(w.viewYMaximum() >= 1004);

        // A hidden trace removed: the one after it moves down, still hidden.
        const int third = w.addTrace(QStringLiteral("三"));
        w.setTraceVisible(third, false);
        w.removeTrace(low);
        QVERIFY(!w.traceVisible(third - 1));
        QCOMPARE(w.legendNames(), QStringList{QStringLiteral("高")});
    }

    // What was thinned for a view is taken again only while it is still
    // right: after appends, view changes and hiding, the drawn points equal
    // those of a chart thinning the same data afresh.
    void keptThinningEqualsAFreshOne()
    {
        ChartWidget w, fresh;
        QVERIFY(Shown(w, 700, 300));
        QVERIFY(Shown(fresh, 700, 300));
        std::vector<int> traces;
        for (int k = 0; k < 3; ++k) {
            traces.push_back(w.addTrace(QString::number(k)));
            fresh.addTrace(QString::number(k));
        }
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> noise(-50, 50);
        qsizetype next = 0;
        const auto add = [&](qsizetype n, int only) {
            for (qsizetype i = 0; i < n; ++i, ++next)
                for (int k = 0; k < 3; ++k)
                    if (only < 0 || only == k) {
                        const double y = 100 * k + noise(rng);
                        w.append(traces[std::size_t(k)], double(next), y);
                        fresh.append(traces[std::size_t(k)], double(next), y);
                    }
        };
        const auto sameAsFresh = [&] {
            // The fresh chart thins everything: it is shown the same view
            // anew each time (twice, the second time with the plot area
            // its new labels leave).
            w.refresh();
            fresh.zoomTo(w.viewXMinimum(), w.viewYMinimum(), w.viewXMaximum(), w.viewYMaximum());
            fresh.refresh();
            fresh.refresh();
            if (w.view().map().area() != fresh.view().map().area())
                return false;
            for (int k = 0; k < 3; ++k) {
                const ChartTrace &a = w.picture().trace(traces[std::size_t(k)]);
                const ChartTrace &b = fresh.picture().trace(traces[std::size_t(k)]);
                if (!w.traceVisible(traces[std::size_t(k)]))
                    continue;
                if (a.points() != b.points() || a.lines() != b.lines())
                    return false;
            }
            return true;
        };
        add(300'000, -1);
        w.fitAll();
        w.refresh();
        QVERIFY(sameAsFresh());
        add(5'000, -1); // right of the fitted view
        w.refresh();
        QVERIFY(sameAsFresh());
        w.zoomTo(1'000, -100, 400'000, 400); // new points land in view
        w.refresh();
        add(20'000, 1);
        w.refresh();
        QVERIFY(sameAsFresh());
        w.setTraceVisible(traces[2], false);
        add(7'000, 2); // into the hidden trace only
        w.zoomTo(50'000, -100, 330'000, 400);
        w.refresh();
        QVERIFY(sameAsFresh());
        w.setTraceVisible(traces[2], true);
        w.refresh();
        QVERIFY(sameAsFresh());
    }

    void clockTimeLabels()
    {
        ChartWidget w;
        QVERIFY(Shown(w, 900, 400));
        // Ten samples a second from 08:00:00.000 local time on.
        const qint64 start = QDateTime(QDate(2026, 12, 10), QTime(8, 0)).toMSecsSinceEpoch();
        for (int i = 0; i < 800; ++i)
            w.appendTimed(ChartWidget::SampleChannel, i, 1, start + 100 * i);
        w.refresh();
        QVERIFY(!w.axes().labels(Qt::Horizontal).first().contains(QLatin1Char(':')));
        w.action(ChartWidget::Action::ClockTime)->trigger();
        QVERIFY(w.clockTimeAxis());
        w.refresh();
        const auto &ticks = w.axes().ticks(Qt::Horizontal);
        QVERIFY(ticks.size() >= 5);
        for (const ChartAxes::Tick &t : ticks) {
            // A tick every 100 samples is 10 s apart: whole seconds.
            const QString want =
                t.value <= 799 ? QTime(8, 0).addMSecs(int(t.value * 100)).toString(QStringLiteral("HH:mm:ss"))
                               : QString(); // no sample there yet
            QCOMPARE(t.label, want);
        }
        // Zoomed in to ticks less than a second apart: milliseconds too.
        w.zoomTo(100, 0, 102, 2);
        w.refresh();
        QCOMPARE(w.axes().ticks(Qt::Horizontal).front().label,
                 QTime(8, 0)
                     .addMSecs(int(w.axes().ticks(Qt::Horizontal).front().value * 100))
                     .toString(QStringLiteral("HH:mm:ss.zzz")));
        w.setClockTimeAxis(false);
        w.refresh();
        QVERIFY(!w.axes().labels(Qt::Horizontal).first().contains(QLatin1Char(':')));
    }
};

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
