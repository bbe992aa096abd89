// Smoothing filter, sample-data file writer and reader, import mean line,
// and the main window's sample-data actions when memory runs out.

#include "MainFixture.h"
#include "chart/ChartData.h"
#include "chart/ChartWidget.h"
#include "chart/SampleDataFile.h"
#include "chart/SmoothingFilter.h"
#include "io/NumberText.h"
#include "ui_MainUnit.h"

#include <QBuffer>
#include <QFile>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <limits>
#include <sys/resource.h>

namespace
{

// While one of these lives, the import's and the export's buffers cannot be
// had, as when memory has run out for anything but small pieces.
class NoMemoryForBuffers
{
public:
    NoMemoryForBuffers() { SetSampleBufferLimit(0); }
    ~NoMemoryForBuffers() { SetSampleBufferLimit(-1); }
    NoMemoryForBuffers(const NoMemoryForBuffers &) = delete;
    NoMemoryForBuffers &operator=(const NoMemoryForBuffers &) = delete;
};

ChartData makeChart()
{
    return ChartData({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")});
}

QList<double> ys(const ChartChannel &channel)
{
    QList<double> values;
    for (qsizetype i = 0; i < channel.count(); ++i)
        values.append(channel.y(i));
    return values;
}

// Parses with the given locale and returns the error text ("" on success).
QString parse(ChartData &data, const QByteArray &bytes, const QLocale &locale = QLocale())
{
    QString error;
    return ParseSampleData(data, bytes, locale, &error) ? QString() : error;
}

// The reader's cell rule written out literally: replace the first "," or "."
// by the locale's separator, then the locale's own parser.
bool referenceNumber(QString cell, const QLocale &locale, double &value)
{
    const QString point = locale.decimalPoint();
    if (point == QLatin1String(".") || point == QLatin1String(",")) {
        const qsizetype at = cell.indexOf(point == QLatin1String(".") ? u',' : u'.');
        if (at >= 0)
            cell[at] = point.front();
    }
    return ParseLocaleDouble(cell, value, locale);
}

// A device whose writes fail after `capacity` bytes, like a full disk.
class FullDevice : public QIODevice
{
public:
    explicit FullDevice(qint64 capacity) : m_capacity(capacity) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        if (m_written + size > m_capacity) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += size;
        return size;
    }

private:
    qint64 m_capacity = 0;
    qint64 m_written = 0;
};

// Serves `bytes` and then fails, like a disk that cannot read further.
class FailingReader : public QIODevice
{
public:
    FailingReader(QByteArray bytes, qint64 failAt) : m_bytes(std::move(bytes)), m_failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char *to, qint64 size) override
    {
        if (m_at >= m_failAt) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        const qint64 n = std::min(size, m_failAt - m_at);
        std::memcpy(to, m_bytes.constData() + m_at, std::size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_failAt = 0;
    qint64 m_at = 0;
};

void compareChannels(const ChartData &got, const ChartData &want)
{
    for (int c = 0; c < want.channelCount(); ++c) {
        const ChartChannel &g = got.channel(c);
        const ChartChannel &w = want.channel(c);
        QCOMPARE(g.count(), w.count());
        for (qsizetype i = 0; i < w.count(); ++i) {
            QCOMPARE(g.x(i), w.x(i));
            QCOMPARE(g.y(i), w.y(i));
            QCOMPARE(g.mark(i), w.mark(i));
        }
    }
}

// A file of `rows` data lines in the pair layout, one X/Y pair for the first
// channel only, X = 1, 2, ..., Y = X / 4.
QByteArray samplesFile(int rows)
{
    QByteArray text = "Channel 1(X)\tChannel 1(Y)\r\n";
    text.reserve(rows * 16);
    for (int r = 1; r <= rows; ++r)
        text += QByteArray::number(r) + '\t' + QByteArray::number(r / 4.0) + "\r\n";
    return text;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

// A progress callback that records what it is told and cancels at call
// `cancelAt` (1 = the first; 0 = never).
struct ScriptedProgress {
    int cancelAt = 0;
    QList<std::pair<qint64, qint64>> reports;
    std::function<void()> onReport;

    SampleProgress callback()
    {
        return [this](qint64 done, qint64 total) {
            reports.append({done, total});
            if (onReport)
                onReport();
            return cancelAt == 0 || reports.size() < cancelAt;
        };
    }

    // Never going back, every one within its total, the last one the total.
    bool monotonicToTotal() const
    {
        for (qsizetype i = 0; i < reports.size(); ++i) {
            if (reports[i].first > reports[i].second || reports[i].second != reports.front().second)
                return false;
            if (i > 0 && reports[i].first < reports[i - 1].first)
                return false;
        }
        return !reports.isEmpty() && reports.back().first == reports.back().second;
    }
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestSampleData : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void smoothingSteps_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<QList<double>>("expected");
        QTest::newRow("N=2") << 2 << QList<double>{10, 10.2, 10.38};
        QTest::newRow("N=1") << 1 << QList<double>{10, 10.4, 10.52};
        QTest::newRow("N=0 acts as 1") << 0 << QList<double>{10, 10.4, 10.52};
    }
    void smoothingSteps()
    {
        QFETCH(int, window);
        QFETCH(QList<double>, expected);
        ChartData data = makeChart();
        data.append(SampleChannels::Samples, 1, 10);
        data.append(SampleChannels::Samples, 2, 12);
        data.append(SampleChannels::Samples, 3, 11);
        data.markLast(SampleChannels::Samples, PointMark::Null); // marks are not looked at
        data.append(SampleChannels::Smoothed, 99, 99);           // stale trace is replaced
        SmoothingFilter filter;
        ApplySmoothing(filter, window, data);
        const ChartChannel &smoothed = data.channel(SampleChannels::Smoothed);
        QCOMPARE(smoothed.count(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i)
            QCOMPARE(smoothed.y(i), expected[i]);
        QCOMPARE(smoothed.x(0), 1.0);
        QCOMPARE(smoothed.x(2), 3.0);
        QCOMPARE(data.channel(SampleChannels::Samples).count(), 3);
    }

    void smoothingFirstAndConstant()
    {
        SmoothingFilter filter;
        filter.reset(7);
        QCOMPARE(filter.step(-3.25), -3.25);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(filter.step(-3.25), -3.25);
        // A reset starts over: the next sample is passed through unchanged.
        filter.reset(3);
        QCOMPARE(filter.step(8.5), 8.5);

        ChartData data = makeChart();
        data.append(SampleChannels::Smoothed, 1, 1);
        ApplySmoothing(filter, 32, data);
        QCOMPARE(data.channel(SampleChannels::Smoothed).count(), 0);
    }

    // The bulk step gives bit for bit what step() gives, in any split into
    // calls, in place or not, and leaves the filter where step() would.
    void stepRangeEqualsSteps_data()
    {
        QTest::addColumn<int>("window");
        for (int window : {1, 2, 5, 16, 31, 32})
            QTest::addRow("N=%d", window) << window;
    }
    void stepRangeEqualsSteps()
    {
        QFETCH(int, window);
        auto *random = QRandomGenerator::global();
        std::vector<double> in(1000);
        for (double &x : in)
            x = double(int(random->bounded(2'000'000)) - 1'000'000) / 100;
        SmoothingFilter stepwise, bulk;
        stepwise.reset(window);
        bulk.reset(window);
        std::vector<double> expected, out(in.size());
        for (double x : in)
            expected.push_back(stepwise.step(x));

        std::size_t done = 0;
        for (std::size_t n : {std::size_t(1), std::size_t(0), std::size_t(7), std::size_t(300)}) {
            bulk.stepRange(in.data() + done, out.data() + done, std::ptrdiff_t(n));
            done += n;
        }
        std::vector<double> inPlace(in.begin() + std::ptrdiff_t(done), in.end());
        bulk.stepRange(inPlace.data(), inPlace.data(), std::ptrdiff_t(inPlace.size()));
        std::copy(inPlace.begin(), inPlace.end(), out.begin() + std::ptrdiff_t(done));
        for (std::size_t i = 0; i < in.size(); ++i)
            QVERIFY2(std::memcmp(&out[i], &expected[i], sizeof(double)) == 0, qPrintable(QString::number(i)));
        QCOMPARE(bulk.lastOutput(), stepwise.lastOutput());
        for (int i = 0; i < 3 * window; ++i) // both carry on alike
            QCOMPARE(bulk.step(double(i)), stepwise.step(double(i)));
    }

    void exportLayout()
    {
        ChartData data = makeChart();
        for (int i = 1; i <= 3; ++i) {
            data.append(SampleChannels::Samples, i, 10 + i * 0.5);
            data.append(SampleChannels::Smoothed, i, -0.25 * i);
        }
        const QByteArray bytes = FormatSampleData(data, QLocale::c());
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));
        const QList<QByteArray> lines = bytes.chopped(1).split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0],
                 QByteArray(
                     "Channel 1(X)\tChannel 1(Y)\tChannel 2(X)\tChannel 2(Y)\tChannel 3(X)\tChannel 3(Y)\r"));
        QCOMPARE(lines[1], QByteArray("1\t10.5\t1\t-0.25\t\t\r"));
        QCOMPARE(lines[3], QByteArray("3\t11.5\t3\t-0.75\t\t\r"));
        for (const QByteArray &line : lines.mid(1))
            QVERIFY(line.endsWith("\t\t\r"));
    }

    void importTwiceWithMeanLines()
    {
        ChartData source = makeChart();
        for (double y : {10.0, 12.0, 17.0}) {
            source.append(SampleChannels::Samples, source.channel(0).count() + 1, y);
            source.append(SampleChannels::Smoothed, source.channel(1).count() + 1, y - 1);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("samples.txt"));
        QString error;
        QVERIFY2(WriteSampleDataFile(source, path, &error), qPrintable(error));

        ChartData data = makeChart();
        QVERIFY2(ReadSampleDataFile(data, path, &error), qPrintable(error));
        QVERIFY(AppendMeanLine(data, &error));
        QCOMPARE(ys(data.channel(0)), (QList<double>{10, 12, 17}));
        QCOMPARE(ys(data.channel(1)), (QList<double>{9, 11, 16}));
        const ChartChannel &mean = data.channel(SampleChannels::MeanLine);
        QCOMPARE(mean.count(), 2);
        QCOMPARE(mean.x(0), 0.0);
        QCOMPARE(mean.x(1), 3.0);
        QCOMPARE(mean.y(0), 13.0);

        data.append(SampleChannels::Samples, 4, 1); // a live sample in between counts as well
        QVERIFY2(ReadSampleDataFile(data, path, &error), qPrintable(error));
        QVERIFY(AppendMeanLine(data, &error));
        QCOMPARE(data.channel(0).count(), 7);
        QCOMPARE(mean.count(), 4);
        QCOMPARE(mean.x(3), 7.0);
        QCOMPARE(mean.y(3), (39.0 + 1 + 39) / 7);
    }

    void meanLineWithoutSamples()
    {
        ChartData data = makeChart();
        data.append(SampleChannels::Smoothed, 1, 5);
        QString error;
        QVERIFY(!AppendMeanLine(data, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(data.channel(SampleChannels::MeanLine).count(), 0);

        // A header-only file adds nothing; the mean covers what was there.
        data.append(SampleChannels::Samples, 1, 4);
        QCOMPARE(parse(data, "Channel 1(X)\tChannel 1(Y)\r\n"), QString());
        QCOMPARE(data.channel(0).count(), 1);
        QVERIFY(AppendMeanLine(data, &error));
        QCOMPARE(data.channel(SampleChannels::MeanLine).y(1), 4.0);
    }

    void marksRoundTrip()
    {
        ChartData data = makeChart();
        QCOMPARE(parse(data, "h\th\th\th\r\n1\tnull\t1\tempty\n2\tNull\t2\tEMPTY\r3\tNULL\t3\tEmpty\r\n"),
                 QString());
        const ChartChannel &first = data.channel(0);
        QCOMPARE(first.count(), 3);
        for (qsizetype i = 0; i < 3; ++i) {
            QCOMPARE(first.y(i), 0.0);
            QCOMPARE(first.mark(i), PointMark::Null);
            QCOMPARE(data.channel(1).mark(i), PointMark::Empty);
        }
        const QByteArray written = FormatSampleData(data, QLocale::c());
        QCOMPARE(written.split('\n').at(2), QByteArray("2\tNull\t2\tEmpty\t\t\r"));
        ChartData again = makeChart();
        QCOMPARE(parse(again, written), QString());
        QCOMPARE(again.channel(1).mark(2), PointMark::Empty);
    }

    void commaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German));
        ChartData data = makeChart();
        QCOMPARE(parse(data, "x\ty\r\n1\t12.5\r\n2,5\t12,5\r\n3\t1.234,5\r\n"),
                 QStringLiteral("\"1.234,5\" is not a number (line 4, cell 2)."));
        QCOMPARE(ys(data.channel(0)), (QList<double>{12.5, 12.5}));
        QCOMPARE(data.channel(0).x(1), 2.5);
        QVERIFY(FormatSampleData(data).contains("\r\n2,5\t12,5\t"));
    }

    void otherLayouts()
    {
        // No TAB in the header: "," separates, and "." is the decimal point.
        ChartData data = makeChart();
        QCOMPARE(parse(data, "Channel 1(X),Channel 1(Y),Channel 2(X),Channel 2(Y)\n1,2.5,,\n2,3.5,7,8,"),
                 QString());
        QCOMPARE(ys(data.channel(0)), (QList<double>{2.5, 3.5}));
        QCOMPARE(ys(data.channel(1)), (QList<double>{8}));

        // One shared X column; the X cell itself gets no separator replacement.
        ChartData shared = makeChart();
        QCOMPARE(parse(shared, "(x)\tA\tB\tC\tD\r\n1\t5\t2,5\t \t9\r\n \t6\t6\r\n2\t\tempty\r\n"), QString());
        QCOMPARE(ys(shared.channel(0)), (QList<double>{5}));
        QCOMPARE(ys(shared.channel(1)), (QList<double>{2.5, 0}));
        QCOMPARE(shared.channel(1).x(1), 2.0);
        QCOMPARE(shared.channel(1).mark(1), PointMark::Empty);
        QCOMPARE(shared.channel(2).count(), 0);
        QVERIFY(parse(shared, "(X)\tA\r\n1,5\t5\r\n").contains(QStringLiteral("not a number")));

        // A UTF-8 byte order mark does not hide the layout.
        ChartData bom = makeChart();
        QCOMPARE(parse(bom, "\xEF\xBB\xBF(X)\tA\r\n4\t5\r\n"), QString());
        QCOMPARE(bom.channel(0).x(0), 4.0);
    }

    void badInput()
    {
        ChartData data = makeChart();
        QCOMPARE(parse(data, "h\th\r\n1\t2\t3\t4\r\n2\tabc\t5\t6\r\n"),
                 QStringLiteral("\"abc\" is not a number (line 3, cell 2)."));
        QCOMPARE(data.channel(0).count(), 1); // earlier points stay
        QCOMPARE(data.channel(1).count(), 1);
        QVERIFY(
            parse(data, "h\th\r\nx\t \r\n").contains(QStringLiteral("not a number"))); // X before the blank Y
        QVERIFY(parse(data, "Compact Interval\r\n1\t2\r\n").contains(QStringLiteral("not supported")));
        QVERIFY(parse(data, "COMPACT INTERVAL").contains(QStringLiteral("not supported")));
        QVERIFY(!parse(data, "").isEmpty());
        QCOMPARE(data.channel(0).count(), 1);

        QString error;
        QVERIFY(!ReadSampleDataFile(data, QStringLiteral("/nonexistent/samples.txt"), &error));
        QVERIFY2(error.contains(QStringLiteral("No such file")), qPrintable(error));
    }

    // An import hands points over to the chart in runs per channel; with
    // more rows than one run, marks, blank cells and a bad cell at the end,
    // every channel still holds exactly the points of the rows read, in
    // order, with their marks.
    void longImportKeepsEveryPointAndMark_data()
    {
        QTest::addColumn<bool>("sharedX");
        QTest::newRow("X/Y pairs") << false;
        QTest::newRow("shared X column") << true;
    }
    void longImportKeepsEveryPointAndMark()
    {
        QFETCH(bool, sharedX);
        constexpr int Rows = 9000;
        constexpr int BadRow = Rows - 3; // its second channel's Y is not a number
        ChartData expected = makeChart();
        QByteArray text = sharedX ? "(X)\tA\tB\tC\r\n" : "h\th\th\th\th\th\r\n";
        for (int r = 0; r < Rows; ++r) {
            const double x = r * 0.5;
            const QByteArray xText = QByteArray::number(x);
            const double y0 = double((r * 37) % 1001) / 4 - 100;
            const char *cell1 =
                r % 1500 == 7 ? "Null" : (r % 2100 == 0 ? "Empty" : (r % 5 == 0 ? "" : nullptr));
            const double y1 = -r;
            const bool third = r < 3 || r == 5000;
            const QByteArray beforeY = sharedX ? QByteArray("\t") : '\t' + xText + '\t';
            QByteArray line = xText + '\t' + QByteArray::number(y0) + beforeY;
            line += r == BadRow ? QByteArray("1x") : (cell1 ? QByteArray(cell1) : QByteArray::number(y1));
            if (third)
                line += beforeY + QByteArray::number(r);
            text += line + "\r\n";
            if (r > BadRow)
                continue;
            expected.append(0, x, y0);
            if (r == BadRow)
                continue;
            if (cell1 && *cell1) {
                expected.append(1, x, 0);
                expected.markLast(1, *cell1 == 'N' ? PointMark::Null : PointMark::Empty);
            } else if (!cell1) {
                expected.append(1, x, y1);
            }
            if (third)
                expected.append(2, x, r);
        }
        ChartData data = makeChart();
        data.append(0, -1, -1); // points already there stay in front
        QVERIFY(parse(data, text).contains(QStringLiteral("(line %1, cell").arg(BadRow + 2)));
        QCOMPARE(data.channel(0).x(0), -1.0);
        for (int c = 0; c < 3; ++c) {
            const ChartChannel &got = data.channel(c);
            const ChartChannel &want = expected.channel(c);
            const qsizetype offset = c == 0 ? 1 : 0;
            QCOMPARE(got.count(), want.count() + offset);
            for (qsizetype i = 0; i < want.count(); ++i) {
                QCOMPARE(got.x(i + offset), want.x(i));
                QCOMPARE(got.y(i + offset), want.y(i));
                QCOMPARE(got.mark(i + offset), want.mark(i));
            }
        }
        QCOMPARE(data.channel(1).extent().minY, -double(BadRow - 1));
    }

    // An import reads its file piece by piece. Whatever the size of the
    // pieces (lines, CR LF pairs and cells cut anywhere, lines longer than a
    // piece), it gives exactly the points the file holds, the same as reading
    // all of its bytes at once, and a failing cell is reported alike.
    void chunkedImportGivesEveryPoint_data()
    {
        QTest::addColumn<bool>("sharedX");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("X/Y pairs") << false << QByteArray();
        QTest::newRow("shared X column") << true << QByteArray();
        QTest::newRow("X/Y pairs after a byte order mark") << false << QByteArray("\xEF\xBB\xBF");
    }
    void chunkedImportGivesEveryPoint()
    {
        QFETCH(bool, sharedX);
        QFETCH(QByteArray, start);
        constexpr int Rows = 400;
        static const char *const LineEnds[] = {"\r\n", "\n", "\r"};
        ChartData expected = makeChart();
        QByteArray text = start + (sharedX ? "(X)\tA\tB\tC\r\n" : "h\th\th\th\th\th\r\n");
        for (int r = 0; r < Rows; ++r) {
            const double x = r + 0.25;
            const double y0 = r % 7 - 3.5;
            QByteArray xText = QByteArray::number(x);
            if (r % 50 == 3)
                xText = QByteArray(300, ' ') + xText; // blanks around a number are allowed
            const char *cell1 = r % 11 == 0 ? "null" : (r % 13 == 0 ? "Empty" : (r % 4 == 0 ? "" : nullptr));
            const bool third = r % 3 == 0;
            const QByteArray beforeY = sharedX ? QByteArray("\t") : '\t' + xText + '\t';
            QByteArray line = xText + '\t' + QByteArray::number(y0) + beforeY;
            line += cell1 ? QByteArray(cell1) : QByteArray::number(-r);
            if (third)
                line += beforeY + QByteArray::number(r * 10);
            if (third && r % 50 == 9)
                line += '\t' + QByteArray(300, 'z'); // cells past the last channel are ignored
            text += line + LineEnds[r % 3];

            expected.append(0, x, y0);
            if (cell1 && *cell1)
                expected.appendMarked(1, x, 0, *cell1 == 'n' ? PointMark::Null : PointMark::Empty);
            else if (!cell1)
                expected.append(1, x, -r);
            if (third)
                expected.append(2, x, r * 10);
        }
        text += "1e3\t5"; // the last line needs no end
        expected.append(0, 1000, 5);

        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("samples.txt"), text);
        const QString badPath = writeFile(dir, QStringLiteral("bad.txt"), text + "\n7\tx7\r\n");
        QVERIFY(!path.isEmpty() && !badPath.isEmpty());
        const QString badCell = QStringLiteral("\"x7\" is not a number (line %1, cell 2).").arg(Rows + 3);

        ChartData whole = makeChart();
        QCOMPARE(parse(whole, text), QString());
        compareChannels(whole, expected);

        QList<qsizetype> chunks{997, SampleReadChunkBytes};
        for (qsizetype chunk = 1; chunk <= 70; ++chunk)
            chunks << chunk;
        for (qsizetype chunk : chunks) {
            const QByteArray label = "chunk of " + QByteArray::number(chunk) + " bytes";
            ChartData data = makeChart();
            QString error;
            QVERIFY2(ReadSampleDataFile(data, path, &error, QLocale(), chunk), qPrintable(error));
            compareChannels(data, expected);
            QVERIFY2(!QTest::currentTestFailed(), label.constData());
            ChartData bad = makeChart();
            QVERIFY2(!ReadSampleDataFile(bad, badPath, &error, QLocale(), chunk), label.constData());
            QCOMPARE(error, badCell);
            compareChannels(bad, expected);
            QVERIFY2(!QTest::currentTestFailed(), label.constData());
        }
    }

    // A read that fails part way (a disk error) ends the import with the
    // reason; the complete lines before stay, the cut one is not read.
    void readErrorPartWay()
    {
        const QByteArray text = samplesFile(100);
        const qint64 failAt = text.indexOf("\r\n51\t") + 4; // the line of X 51 cut after "51"
        for (qsizetype chunk : {qsizetype(16), SampleReadChunkBytes}) {
            FailingReader device(text, failAt);
            ChartData data = makeChart();
            data.append(0, -1, -1);
            QString error;
            QVERIFY(!ReadSampleData(data, device, QLocale::c(), &error, chunk));
            QVERIFY2(error.contains(QStringLiteral("Input/output error")), qPrintable(error));
            QCOMPARE(data.channel(0).count(), 1 + 50);
            QCOMPARE(data.channel(0).x(0), -1.0);
            QCOMPARE(data.channel(0).x(50), 50.0);
            QCOMPARE(data.channel(0).y(50), 50 / 4.0);
        }
    }

    // Running out of memory ends one import, export or smoothing pass with
    // a reason; the points the chart held before stay as they were, and so
    // does an old file.
    void outOfMemoryEndsOneAction()
    {
        QTemporaryDir dir;
        const QString big = writeFile(dir, QStringLiteral("big.txt"), samplesFile(70000));
        const QString small = writeFile(dir, QStringLiteral("small.txt"), samplesFile(3));
        QVERIFY(!big.isEmpty() && !small.isEmpty());
        ChartData data = makeChart();
        data.append(0, 1, 10);
        data.append(0, 2, 20);
        data.append(1, 1, 5);
        QString error;

        // Part way: the samples channel gets no second block of points.
        data.channel(0).setBlockLimit(1);
        QVERIFY(!ReadSampleDataFile(data, big, &error));
        QVERIFY(!error.isEmpty());
        const ChartChannel &samples = data.channel(0);
        QCOMPARE(samples.x(0), 1.0);
        QCOMPARE(samples.y(1), 20.0);
        QVERIFY(samples.count() <= ChartChannel::BlockSize);
        QCOMPARE(samples.extent().maxY, samples.y(samples.count() - 1)); // only points it holds
        QCOMPARE(data.channel(1).count(), 1);
        data.channel(0).setBlockLimit(-1);
        data.append(0, 0, 30); // the channel goes on as usual
        QCOMPARE(samples.y(samples.count() - 1), 30.0);

        // At the start: no memory for the reader's buffers.
        const qsizetype held = samples.count();
        error.clear();
        {
            NoMemoryForBuffers fail;
            QVERIFY(!ReadSampleDataFile(data, small, &error));
        }
        QVERIFY(!error.isEmpty());
        QCOMPARE(samples.count(), held);

        // A mean line is drawn whole or not at all.
        data.channel(2).setBlockLimit(0);
        QVERIFY(!AppendMeanLine(data, &error));
        QCOMPARE(data.channel(2).count(), 0);

        // Smoothing: the smoothed channel gets no second block.
        data.channel(1).setBlockLimit(1);
        SmoothingFilter filter;
        QVERIFY(!ApplySmoothing(filter, 4, data));
        QCOMPARE(samples.count(), held);
        QCOMPARE(samples.y(1), 20.0);
        data.channel(1).setBlockLimit(-1);
        QVERIFY(ApplySmoothing(filter, 4, data));
        QCOMPARE(data.channel(1).count(), held);

        // Export: the old file stays, no new one is left beside it.
        QTemporaryDir exportDir;
        const QString old = writeFile(exportDir, QStringLiteral("old.txt"), "precious");
        error.clear();
        {
            NoMemoryForBuffers fail;
            QVERIFY(!WriteSampleDataFile(data, old, &error));
        }
        QVERIFY(!error.isEmpty());
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::ReadOnly));
        QCOMPARE(oldFile.readAll(), QByteArray("precious"));
        QCOMPARE(QDir(exportDir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("old.txt")});
    }

    void failedExportKeepsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("precious");
        old.close();
        ChartData data = makeChart();
        for (int i = 0; i < 5000; ++i)
            data.append(SampleChannels::Samples, i, i * 0.1);
        QString error;

        QVERIFY(!WriteSampleDataFile(data, dir.filePath(QStringLiteral("missing/new.txt")), &error));
        QVERIFY2(error.contains(QStringLiteral("No such file")), qPrintable(error));
        QVERIFY(!WriteSampleDataFile(data, dir.path(), &error));

        // The disk fills up while writing: the file size limit stands in for it.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = WriteSampleDataFile(data, path, &error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY(!written);
        QVERIFY2(error.contains(QStringLiteral("too large")), qPrintable(error));

        QFile::setPermissions(path, QFile::ReadOwner);
        if (QFileInfo(path).isWritable()) // root may write anything
            qWarning("running with rights that ignore read-only files");
        else
            QVERIFY(!WriteSampleDataFile(data, path, &error));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("precious"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.txt")});

        FullDevice full(100);
        QVERIFY(!WriteSampleData(data, full, QLocale::c(), &error));
        QCOMPARE(error, QStringLiteral("No space left on device"));
    }

    // A long export reports its progress and can be cancelled: the old file
    // stays byte for byte, no new file is left; points appended while it
    // runs are not written.
    void exportProgressAndCancel()
    {
        ChartData data = makeChart();
        const qint64 rows = 3 * SampleProgressRows + 10;
        for (qint64 i = 1; i <= rows; ++i)
            data.append(SampleChannels::Samples, double(i), i * 0.5);
        QTemporaryDir dir;
        const QByteArray oldBytes("precious\r\nold\r\n");
        const QString path = writeFile(dir, QStringLiteral("old.txt"), oldBytes);
        QString error;

        ScriptedProgress cancel;
        cancel.cancelAt = 2;
        QCOMPARE(WriteSampleDataFile(data, path, cancel.callback(), &error), SampleFileResult::Cancelled);
        QCOMPARE(cancel.reports.size(), 2);
        QCOMPARE(error, QString());
        QCOMPARE(fileBytes(path), oldBytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("old.txt")});

        const QByteArray expected = FormatSampleData(data);
        ScriptedProgress full;
        full.onReport = [&] { data.append(SampleChannels::Samples, 0.0, 99.0); }; // a live sample
        QCOMPARE(WriteSampleDataFile(data, path, full.callback(), &error), SampleFileResult::Done);
        QVERIFY(full.monotonicToTotal());
        QCOMPARE(full.reports.back().second, rows);
        QCOMPARE(fileBytes(path), expected);
    }

    // A cancelled import keeps exactly the rows read before the report that
    // cancelled it and says "cancelled", not an error.
    void importProgressAndCancel()
    {
        QTemporaryDir dir;
        const int rows = 3 * SampleProgressRows + 100;
        const QString path = writeFile(dir, QStringLiteral("samples.txt"), samplesFile(rows));
        QString error;

        ChartData data = makeChart();
        data.append(SampleChannels::Samples, 0.0, 1.0); // there before
        ScriptedProgress cancel;
        cancel.cancelAt = 2;
        QCOMPARE(ReadSampleDataFile(data, path, cancel.callback(), &error, QLocale::c(), 1000),
                 SampleFileResult::Cancelled);
        QCOMPARE(error, QString());
        const ChartChannel &samples = data.channel(SampleChannels::Samples);
        QCOMPARE(samples.count(), 1 + 2 * SampleProgressRows);
        QCOMPARE(samples.x(samples.count() - 1), double(2 * SampleProgressRows));
        QCOMPARE(samples.y(samples.count() - 1), 2 * SampleProgressRows / 4.0);
        QCOMPARE(data.channel(SampleChannels::MeanLine).count(), 0);

        ChartData whole = makeChart();
        ScriptedProgress full;
        QCOMPARE(ReadSampleDataFile(whole, path, full.callback(), &error), SampleFileResult::Done);
        QCOMPARE(whole.channel(SampleChannels::Samples).count(), rows);
        QVERIFY(full.monotonicToTotal());
        QCOMPARE(full.reports.back().second, QFileInfo(path).size());

        // An error stays an error.
        const QString bad =
            writeFile(dir, QStringLiteral("bad.txt"), "Channel 1(X)\tChannel 1(Y)\r\n1\tx\r\n");
        QCOMPARE(ReadSampleDataFile(whole, bad, full.callback(), &error), SampleFileResult::Failed);
        QVERIFY(!error.isEmpty());
    }

    // The window: Cancel in the progress window. A cancelled import draws no
    // mean line, says so once, and a live sample arriving meanwhile follows
    // the imported points; a cancelled export leaves the old file.
    void windowCancelsImportAndExport()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        ChartWidget *chart = m.chart();
        m.current().Decimal = 0;
        m.reply().ReplyValue = 7;
        m.ShowValue();
        m.PlotValue();
        QTemporaryDir dir;
        f.prompts.openName = writeFile(dir, QStringLiteral("big.txt"), samplesFile(3 * SampleProgressRows));
        // Runs at the first progress report.
        const auto atFirstReport = [&m](bool liveSample, bool cancel) {
            QTimer::singleShot(0, &m, [&m, liveSample, cancel] {
                if (liveSample)
                    m.PlotValue();
                QProgressDialog *progress = m.findChild<QProgressDialog *>();
                QVERIFY(progress);
                if (cancel)
                    progress->cancel();
            });
        };
        // A whole import: the live sample follows all imported points and
        // is not part of the mean.
        atFirstReport(true, false);
        m.btnLoadDataClick();
        const qsizetype imported = 3 * SampleProgressRows;
        QCOMPARE(chart->count(0), 1 + imported + 1);
        QCOMPARE(chart->x(0, imported), double(imported));
        QCOMPARE(chart->x(0, imported + 1), 2.0);
        QCOMPARE(chart->count(2), 2);
        QCOMPARE(chart->y(2, 1), (7.0 + (imported + 1) * imported / 8.0) / (imported + 1));
        QCOMPARE(f.prompts.messages, QStringList());
        m.btnClearClick();
        m.PlotValue();

        atFirstReport(true, true);
        m.btnLoadDataClick();
        QCOMPARE(f.prompts.errors, QStringList());
        QCOMPARE(f.prompts.messages.size(), 1);
        QVERIFY2(f.prompts.messages[0].startsWith(
                     QStringLiteral("导入已取消：已读入的 %1 个点").arg(SampleProgressRows)),
                 qPrintable(f.prompts.messages[0]));
        QCOMPARE(chart->count(2), 0);
        QCOMPARE(chart->count(0), 1 + SampleProgressRows + 1);
        QCOMPARE(chart->x(0, SampleProgressRows), double(SampleProgressRows));
        QCOMPARE(chart->x(0, SampleProgressRows + 1), double(m.SampleCount())); // the live sample, after them
        QCOMPARE(chart->y(0, SampleProgressRows + 1), 7.0);
        QVERIFY(!m.findChild<QProgressDialog *>());

        const QByteArray oldBytes("precious");
        f.prompts.saveName = writeFile(dir, QStringLiteral("old.txt"), oldBytes);
        for (int i = 0; i < 2 * SampleProgressRows; ++i)
            m.PlotValue();
        atFirstReport(false, true);
        m.btnExportClick();
        QCOMPARE(fileBytes(f.prompts.saveName), oldBytes);
        QCOMPARE(f.prompts.errors, QStringList());
        QCOMPARE(f.prompts.messages.size(), 1);
    }

    void nothingChangesTheSamplesUnderAFileAction()
    {
        MainFixture f;
        QVERIFY(f.connect());
        TfrmMain &m = f.main();
        Ui::TfrmMain *u = m.ui();
        ChartWidget *chart = m.chart();
        m.current().Decimal = 0;
        m.reply().ReplyValue = 5;
        const int rows = 3 * SampleProgressRows;
        for (int i = 0; i < rows; ++i)
            m.PlotValue();
        // At the first progress report the operator clicks everything that
        // would change the samples, and presses the clear shortcut on the chart.
        const auto pressAll = [&] {
            QTimer::singleShot(0, &m, [&] {
                for (QWidget *w : {static_cast<QWidget *>(u->btnClear), static_cast<QWidget *>(u->btnFilter),
                                   static_cast<QWidget *>(u->btnLoadData), static_cast<QWidget *>(u->btnBeginRead),
                                   static_cast<QWidget *>(u->btnExport)})
                    QTest::mouseClick(w, Qt::LeftButton);
                u->mnuClearData->trigger();
                QTest::keyClick(u->tbFilterClass, Qt::Key_Right);
            });
        };
        QTemporaryDir dir;
        f.prompts.saveName = dir.filePath(QStringLiteral("out.txt"));
        f.prompts.openName = writeFile(dir, QStringLiteral("in.txt"), samplesFile(rows));
        pressAll();
        m.btnExportClick();
        QCOMPARE(fileBytes(f.prompts.saveName).count('\n'), qsizetype(rows + 1)); // header and every sample
        QCOMPARE(chart->count(0), qsizetype(rows));
        QCOMPARE(chart->count(1), 0);
        QVERIFY(!m.session().IsReading());

        pressAll();
        m.btnLoadDataClick();
        QCOMPARE(chart->count(0), qsizetype(2 * rows));
        QCOMPARE(chart->count(1), 0);
        QCOMPARE(chart->count(2), 2);
        QVERIFY(!m.session().IsReading());
        QVERIFY(f.prompts.errors.isEmpty());
        // Afterwards every control is there again.
        QVERIFY(u->btnClear->isEnabled() && u->btnFilter->isEnabled() && u->btnBeginRead->isEnabled());
    }

    void numbersRoundTrip_data()
    {
        // Finnish (minus sign U+2212) and Bangla (own digits) take the
        // locale's own number text instead of the ASCII shortcut.
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China);
        QTest::newRow("German") << QLocale(QLocale::German);
        QTest::newRow("US English") << QLocale(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("Finnish") << QLocale(QLocale::Finnish);
        QTest::newRow("Bangla") << QLocale(QLocale::Bangla);
        // Signs with a direction mark, a two-letter or longer exponent: the
        // locale's own parser does not take these back.
        QTest::newRow("Arabic (Saudi Arabia)") << QLocale(QLocale::Arabic, QLocale::SaudiArabia);
        QTest::newRow("Persian") << QLocale(QLocale::Persian, QLocale::Iran);
        QTest::newRow("Hebrew") << QLocale(QLocale::Hebrew, QLocale::Israel);
    }
    void numbersRoundTrip()
    {
        QFETCH(QLocale, locale);
        const double largest = std::numeric_limits<double>::max();
        QList<double> values{
            17,      -0.25, 1e300, -1e-300, 1e15,     1e-5,    0.0001,   123456789012345.0,
            1.0 / 3, 1e16,  0.1,   -0.0,    4.9e-324, largest, -largest, 1.79769313486231e308};
        // Exact ties at 15 digits, which the locale rounds away from zero.
        values << 1125899906842625.0 << -1125899906842625.0 << 200000000000000.5 << -999999999999999.5;
        auto *random = QRandomGenerator::global();
        for (int i = 0; i < 3000; ++i) {
            quint64 bits = random->generate64();
            double value = 0;
            std::memcpy(&value, &bits, sizeof value);
            if (std::isfinite(value))
                values.append(i % 2 ? value : std::ldexp(double(bits >> 11), int(bits % 80) - 80));
        }
        ChartData data = makeChart();
        for (double value : values)
            data.append(SampleChannels::Samples, value, -value);
        const QByteArray bytes = FormatSampleData(data, locale);
        const QList<QByteArray> lines = bytes.split('\n');
        ChartData again = makeChart();
        QCOMPARE(parse(again, bytes, locale), QString());
        for (qsizetype i = 0; i < values.size(); ++i) {
            // The writer writes FormatGeneral15, and the reader reads back its
            // value; the very largest doubles keep all their digits instead,
            // since 15 would round them beyond the largest double.
            if (std::fabs(values[i]) > 1.79769313486231e308) {
                QCOMPARE(again.channel(0).x(i), values[i]);
                continue;
            }
            const QString text = FormatGeneral15(values[i], locale);
            QCOMPARE(lines[i + 1].split('\t').at(0), text.toLocal8Bit());
            double expected = 0;
            QVERIFY(ParseLocaleDouble(text, expected, locale));
            QCOMPARE(again.channel(0).x(i), expected);
        }
        QCOMPARE(again.channel(0).x(0), 17.0);
        QCOMPARE(again.channel(0).x(2), 1e300);
        QCOMPARE(again.channel(0).y(1), 0.25);
    }

    void cellsFollowLocaleParser_data()
    {
        numbersRoundTrip_data();
        QTest::newRow("Arabic") << QLocale(QLocale::Arabic, QLocale::Egypt);
    }
    void cellsFollowLocaleParser()
    {
        // Random short cells: the reader takes exactly what the locale's
        // parser takes after the separator replacement, with the same value.
        QFETCH(QLocale, locale);
        static const char alphabet[] = "0123456789012345.,eE+- \txn";
        auto *random = QRandomGenerator::global();
        ChartData data = makeChart();
        for (int round = 0; round < 20000; ++round) {
            QByteArray cell;
            const int length = 1 + random->bounded(9);
            for (int i = 0; i < length; ++i)
                cell += alphabet[random->bounded(int(sizeof alphabet - 1))];
            if (cell.trimmed().isEmpty() || cell.contains('\t'))
                continue;
            for (int c = 0; c < data.channelCount(); ++c)
                data.clearChannelKeepingStorage(c);
            const bool read = parse(data, "h\th\r\n1\t" + cell + "\r\n", locale).isEmpty();
            double expected = 0;
            const bool valid = referenceNumber(QString::fromLatin1(cell), locale, expected);
            QVERIFY2(read == valid, cell.constData());
            if (valid)
                QVERIFY2(data.channel(0).y(0) == expected &&
                             std::signbit(data.channel(0).y(0)) == std::signbit(expected),
                         cell.constData());
        }
    }

    // The main window's actions when memory runs out: each ends with its
    // message, the program and the samples it holds stay.
    void windowKeepsSamplesWhenMemoryRunsOut()
    {
        MainFixture f;
        TfrmMain &m = f.create();
        ChartWidget *chart = m.chart();
        ChartData &data = chart->data();
        m.current().Decimal = 0;
        m.reply().ReplyValue = 7;
        m.ShowValue();
        for (qsizetype i = 0; i < ChartChannel::BlockSize; ++i)
            m.PlotValue();

        // Live feed: the next sample needs a new block. Told once, not per
        // reply; stored again once there is memory.
        data.channel(0).setBlockLimit(1);
        for (int i = 0; i < 3; ++i)
            m.PlotValue();
        QCoreApplication::processEvents();
        QCOMPARE(f.prompts.errors.size(), 1);
        QVERIFY2(f.prompts.errors[0].startsWith(QStringLiteral("内存不足：")),
                 qPrintable(f.prompts.errors[0]));
        QCOMPARE(chart->count(0), ChartChannel::BlockSize);
        QCOMPARE(chart->y(0, ChartChannel::BlockSize - 1), 7.0);
        data.channel(0).setBlockLimit(-1);
        m.PlotValue();
        const qsizetype held = ChartChannel::BlockSize + 1;
        QCOMPARE(chart->count(0), held);

        // Smoothing.
        data.channel(1).setBlockLimit(1);
        m.btnFilterClick();
        QCOMPARE(f.prompts.errors.size(), 2);
        QVERIFY2(f.prompts.errors[1].startsWith(QStringLiteral("内存不足：")),
                 qPrintable(f.prompts.errors[1]));
        QCOMPARE(chart->count(0), held);
        data.channel(1).setBlockLimit(-1);

        // Import fails part way: no mean line, the earlier samples as they were.
        QTemporaryDir dir;
        f.prompts.openName = writeFile(dir, QStringLiteral("big.txt"), samplesFile(70000));
        data.channel(0).setBlockLimit(2);
        m.btnLoadDataClick();
        QCOMPARE(f.prompts.errors.size(), 3);
        QVERIFY2(f.prompts.errors[2].startsWith(QStringLiteral("Error Loading Data - ")),
                 qPrintable(f.prompts.errors[2]));
        QCOMPARE(chart->count(2), 0);
        QCOMPARE(chart->x(0, 0), 1.0);
        QCOMPARE(chart->y(0, 0), 7.0);
        QCOMPARE(chart->y(0, held - 1), 7.0);
        QCOMPARE(chart->x(0, held), 1.0); // the import's first point follows them
        data.channel(0).setBlockLimit(-1);

        // Export: the old file stays.
        const QString old = writeFile(dir, QStringLiteral("old.txt"), "precious");
        f.prompts.saveName = old;
        {
            NoMemoryForBuffers fail;
            m.btnExportClick();
        }
        QCOMPARE(f.prompts.errors.size(), 4);
        QVERIFY2(f.prompts.errors[3].startsWith(QStringLiteral("Error Saving Data - ")),
                 qPrintable(f.prompts.errors[3]));
        QFile oldFile(old);
        QVERIFY(oldFile.open(QIODevice::ReadOnly));
        QCOMPARE(oldFile.readAll(), QByteArray("precious"));
    }
};

QTEST_MAIN(TestSampleData)
#include "tst_sampledata.moc"
