// The time-stamped CSV file of the chart's channels: exact layout of an
// export, the visible range, export and import back, files of the
// command-line tool, broken files, and cancelled work.

#include "chart/ChartData.h"
#include "chart/TimedCsvFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <time.h>
#include <tuple>

namespace
{

// 2023-11-14 22:13:20.123 UTC.
constexpr qint64 T0 = 1700000000123;
// 2023-10-29 00:00 UTC: one hour before central Europe leaves summer time.
constexpr qint64 BeforeClockChange = 1698537600000;

QByteArray localText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toUtf8();
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// An import that adds one channel per column, named as its header; the
// headers it is asked about are kept in `headers`.
SampleFileResult importAll(ChartData &data, const QString &path, QString *error,
                           QStringList *headers = nullptr, const SampleProgress &progress = {})
{
    return ReadTimedCsvFile(
        data, path,
        [&](const QString &header) {
            if (headers)
                headers->append(header);
            return data.addChannel(header);
        },
        progress, error);
}

qsizetype pointCount(const ChartData &data)
{
    qsizetype n = 0;
    for (int c = 0; c < data.channelCount(); ++c)
        n += data.channel(c).count();
    return n;
}

// Watch-like chart: `rounds` rounds one second apart from `start`; channel 0
// has every round, channel 1 misses every seventh, channel 2 has a value
// only every third round.
ChartData watchChart(qint64 rounds, qint64 start)
{
    ChartData data({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (qint64 r = 0; r < rounds; ++r) {
        const qint64 ms = start + 1000 * r;
        data.appendTimed(0, double(r), double(r % 2000) / 8 - 100, ms);
        if (r % 7 != 3)
            data.appendTimed(1, double(r), -double(r) / 1000, ms);
        if (r % 3 == 0)
            data.appendTimed(2, double(r), 1e3 + double(r) / 64, ms);
    }
    return data;
}

} // namespace

class TestTimedCsv : public QObject
{
    Q_OBJECT

private slots:
    // Local time with a change of the offset (central European time), also
    // without the system's zone files.
    void initTestCase()
    {
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
    }

    void exportLayout()
    {
        ChartData data({QStringLiteral("m1"), QStringLiteral("m2"), QStringLiteral("sum")});
        data.appendTimed(0, 0, 1.5, T0);
        data.appendTimed(0, 1, -2, T0 + 100);
        data.appendTimed(0, 2, 0.25, T0 + 200);
        data.appendTimed(1, 0, 12.125, T0 + 40);
        data.appendTimed(1, 2, 0.1 + 0.2, T0 + 150); // round 1 missed; earlier than m1 in round 2
        data.appendTimed(2, 1, std::nan(""), T0 + 110);
        data.appendTimed(2, 2, 3e20, T0 + 220);
        data.appendTimed(2, 3, 7, -1000); // a clock far off: before the epoch
        const QList<TimedCsvColumn> columns{
            {0, QStringLiteral("载荷 (kN)")}, {1, QStringLiteral("a,b \"q\"")}, {2, QStringLiteral("sum")}};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.csv"));
        QString error;
        QCOMPARE(WriteTimedCsvFile(data, columns, std::nullopt, path, {}, &error), SampleFileResult::Done);

        const QByteArray expected =
            "\xEF\xBB\xBF" + QStringLiteral("time,epoch_ms,载荷 (kN),\"a,b \"\"q\"\"\",sum\r\n").toUtf8() +
            localText(T0) + ",1700000000123,1.5,12.125,\r\n" + localText(T0 + 100) +
            ",1700000000223,-2,,\r\n" + localText(T0 + 150) + ",1700000000273,0.25,0.3,3e+20\r\n" +
            localText(-1000) + ",-1000,,,7\r\n";
        QCOMPARE(fileBytes(path), expected);
        QCOMPARE(localText(T0), QByteArray("2023-11-14 23:13:20.123")); // the zone set above is in effect
    }

    void visibleRange()
    {
        const ChartData data = watchChart(20, T0);
        const QList<TimedCsvColumn> columns{{1, QStringLiteral("b")}, {2, QStringLiteral("c")}};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("range.csv"));
        QString error;
        // Round 10 (missed by b, absent from c) gives no row: 2.5..10 holds rounds 3..9.
        QCOMPARE(WriteTimedCsvFile(data, columns, std::pair(2.5, 10.0), path, {}, &error),
                 SampleFileResult::Done);
        QList<QByteArray> lines = fileBytes(path).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.size(), 1 + 7);
        for (int i = 1; i < lines.size(); ++i)
            QCOMPARE(lines[i].split(',').at(1), QByteArray::number(T0 + 1000 * (2 + i)));

        QCOMPARE(WriteTimedCsvFile(data, columns, std::pair(20.5, 30.0), path, {}, &error),
                 SampleFileResult::Done);
        QCOMPARE(fileBytes(path), QByteArray("\xEF\xBB\xBFtime,epoch_ms,b,c\r\n"));
    }

    // Exported, then read back: every channel gets its values and times,
    // at X = row; a column the window declines is left out. The rows span a
    // change of the local offset.
    void roundTrip()
    {
        const qint64 rounds = 10000;
        const ChartData data = watchChart(rounds, BeforeClockChange);
        const QList<TimedCsvColumn> columns{{0, QStringLiteral("模块 1 (kg)")},
                                            {1, QStringLiteral("two\r\nlines, \"quoted\"")},
                                            {2, QStringLiteral("c")}};
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("all.csv"));
        QString error;
        QCOMPARE(WriteTimedCsvFile(data, columns, std::nullopt, path, {}, &error), SampleFileResult::Done);

        ChartData back({QStringLiteral("live")});
        QStringList headers;
        QCOMPARE(ReadTimedCsvFile(
                     back, path,
                     [&](const QString &header) {
                         headers.append(header);
                         return header == QLatin1String("c") ? -1 : back.addChannel(header);
                     },
                     {}, &error),
                 SampleFileResult::Done);
        QCOMPARE(headers, QStringList({columns[0].header, columns[1].header, columns[2].header}));
        QCOMPARE(back.channelCount(), 3);
        QCOMPARE(back.channel(0).count(), 0);
        for (int c = 0; c < 2; ++c) {
            const ChartChannel &want = data.channel(c);
            const ChartChannel &got = back.channel(c + 1);
            QCOMPARE(got.count(), want.count());
            QVERIFY(got.hasTimes());
            for (qsizetype i = 0; i < want.count(); ++i) {
                QCOMPARE(got.x(i), want.x(i));
                QCOMPARE(got.y(i), want.y(i));
                QCOMPARE(got.time(i), want.time(i));
            }
        }

        // Each row's time text is the local time of its epoch_ms.
        const QList<QByteArray> lines = fileBytes(path).split('\n');
        QCOMPARE(lines.size(), 2 + rounds + 1);
        for (qint64 r = 0; r < rounds; ++r) {
            const QList<QByteArray> cells = lines[2 + r].split(',');
            QCOMPARE(cells[0], localText(BeforeClockChange + 1000 * r));
            QCOMPARE(cells[1], QByteArray::number(BeforeClockChange + 1000 * r));
        }
    }

    // The command-line tool's files: no byte order mark, quoted cells, LF or
    // CR LF; a blank last line is no row.
    void commandLineFile_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::newRow("LF") << QByteArray() << QByteArray("\n");
        QTest::newRow("CR LF") << QByteArray() << QByteArray("\r\n");
        QTest::newRow("byte order mark, CR LF") << QByteArray("\xEF\xBB\xBF") << QByteArray("\r\n");
    }

    void commandLineFile()
    {
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, lineEnd);
        const QList<QByteArray> lines{"time,epoch_ms,1 (kg),\"2, left (kg)\",sum (kg)",
                                      "2023-11-14 23:13:20.123,1700000000123,1.50,-0.25,1.25",
                                      "2023-11-14 23:13:20.623,1700000000623,,\"2.00\",",
                                      "2023-11-14 23:13:21.123,1700000001123,1.75,2.50,4.25",
                                      "",
                                      ""};
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("watch.csv"), start + lines.join(lineEnd));
        ChartData data({});
        QString error;
        QStringList headers;
        QCOMPARE(importAll(data, path, &error, &headers), SampleFileResult::Done);
        QCOMPARE(headers, QStringList({QStringLiteral("1 (kg)"), QStringLiteral("2, left (kg)"),
                                       QStringLiteral("sum (kg)")}));
        const auto points = [&](int c) {
            QList<std::tuple<double, double, qint64>> list;
            for (qsizetype i = 0; i < data.channel(c).count(); ++i)
                list.append({data.channel(c).x(i), data.channel(c).y(i), data.channel(c).time(i)});
            return list;
        };
        using P = std::tuple<double, double, qint64>;
        QCOMPARE(points(0), QList<P>({{0, 1.5, T0}, {2, 1.75, T0 + 1000}}));
        QCOMPARE(points(1), QList<P>({{0, -0.25, T0}, {1, 2.0, T0 + 500}, {2, 2.5, T0 + 1000}}));
        QCOMPARE(points(2), QList<P>({{0, 1.25, T0}, {2, 4.25, T0 + 1000}}));
    }

    // Read in pieces of any size, quoted cells, line ends and a blank line
    // give the same points and headers as read at once.
    void piecesOfAnySize()
    {
        const QByteArray bytes = "\xEF\xBB\xBFtime,epoch_ms,\"x\r\ny\",\"say \"\"hi\"\"\",z\r\n"
                                 "t,1000,1,\"2.5\",3\r\n"
                                 "\r\n"
                                 "t,2000,,-4,\"\"\n"
                                 "\"t\",3000,5e-3,,6\r"
                                 "t,,7\r\n"
                                 "t,4000,8,9,\"10\"";
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("quoted.csv"), bytes);
        const auto read = [&](qsizetype chunkBytes, QStringList &headers) {
            ChartData data({});
            QString error;
            const SampleFileResult result = ReadTimedCsvFile(
                data, path,
                [&](const QString &header) {
                    headers.append(header);
                    return data.addChannel(header);
                },
                {}, &error, chunkBytes);
            QList<std::tuple<int, double, double, qint64>> points;
            for (int c = 0; c < data.channelCount(); ++c) {
                for (qsizetype i = 0; i < data.channel(c).count(); ++i)
                    points.append({c, data.channel(c).x(i), data.channel(c).y(i), data.channel(c).time(i)});
            }
            return result == SampleFileResult::Done ? points : decltype(points)();
        };
        QStringList headers;
        const auto whole = read(SampleReadChunkBytes, headers);
        QCOMPARE(headers,
                 QStringList({QStringLiteral("x\r\ny"), QStringLiteral("say \"hi\""), QStringLiteral("z")}));
        using P = std::tuple<int, double, double, qint64>;
        // The row without epoch_ms has no time of its own: it takes that of the point before.
        QCOMPARE(whole, QList<P>({{0, 0, 1, 1000},
                                  {0, 2, 0.005, 3000},
                                  {0, 3, 7, 3000},
                                  {0, 4, 8, 4000},
                                  {1, 0, 2.5, 1000},
                                  {1, 1, -4, 2000},
                                  {1, 4, 9, 4000},
                                  {2, 0, 3, 1000},
                                  {2, 2, 6, 3000},
                                  {2, 4, 10, 4000}}));
        for (qsizetype chunk = 1; chunk <= bytes.size(); ++chunk) {
            QStringList again;
            QCOMPARE(read(chunk, again), whole);
            QCOMPARE(again, headers);
        }
    }

    // Broken files stop the import with a reason naming the line; the rows
    // before stay, the failing one adds nothing.
    void brokenFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason"); // empty: the file is fine
        QTest::addColumn<int>("points");
        const QByteArray header = "time,epoch_ms,a,b\r\n";
        const QByteArray good = "t,1700000000000,1,2\r\n";
        QByteArray wide = "time,epoch_ms";
        for (int c = 0; c < TimedCsvMaxColumns; ++c)
            wide += ",c";
        QTest::newRow("empty") << QByteArray() << "empty" << 0;
        QTest::newRow("other header") << QByteArray("time,ms,a\r\nt,1,2\r\n") << "Line 1" << 0;
        QTest::newRow("most columns") << wide + "\r\nt,1,5\r\n" << QString() << 1;
        QTest::newRow("too many columns") << wide + ",c\r\nt,1,5\r\n"
                                          << "Line 1" << 0;
        QTest::newRow("long line") << header + good + "t,1," + QByteArray(SampleMaxLineBytes, '1') + "\r\n"
                                   << "Line 3" << 2;
        QTest::newRow("epoch_ms") << header + good + "t,17e,1,2\r\n"
                                  << "Line 3" << 2;
        QTest::newRow("value") << header + good + "t,1,1,1..5\r\n"
                               << "Line 3" << 2;
        QTest::newRow("infinite value") << header + good + "t,1,1,inf\r\n"
                                        << "Line 3" << 2;
        QTest::newRow("more cells") << header + good + "t,1,1,2,\r\n"
                                    << "Line 3" << 2;
        QTest::newRow("open quote") << header + good + "t,1,\"1,2\r\n"
                                    << "Line 3" << 2;
        QTest::newRow("header of two lines")
            << QByteArray("time,epoch_ms,\"a\nb\"\r\nt,1,1\r\nt,x,1\r\n") << "Line 4" << 1;
    }

    void brokenFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QFETCH(int, points);
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("in.csv"), bytes);
        ChartData data({});
        QString error;
        QCOMPARE(importAll(data, path, &error),
                 reason.isEmpty() ? SampleFileResult::Done : SampleFileResult::Failed);
        QVERIFY2(error.contains(reason, Qt::CaseInsensitive), qPrintable(error));
        QCOMPARE(pointCount(data), points);

        // Only regular files are read.
        QCOMPARE(importAll(data, dir.path(), &error), SampleFileResult::Failed);
        QVERIFY(!error.isEmpty());
    }

    // Exports that cannot be made, also for want of memory, fail with a
    // reason and leave the old file alone; an import without memory fails.
    void refusedExports()
    {
        const ChartData data = watchChart(10, T0);
        QTemporaryDir dir;
        const QByteArray oldBytes("old file\r\n");
        const QString path = writeFile(dir, QStringLiteral("old.csv"), oldBytes);
        const QList<TimedCsvColumn> good{{0, QStringLiteral("a")}};
        QList<TimedCsvColumn> wide;
        for (int c = 0; c <= TimedCsvMaxColumns; ++c)
            wide.append({0, QStringLiteral("a")});
        const QList<std::pair<QList<TimedCsvColumn>, QString>> cases{
            {{{3, QStringLiteral("gone")}}, path}, {wide, path}, {good, dir.path()}};
        QString error;
        for (const auto &[columns, target] : cases) {
            error.clear();
            QCOMPARE(WriteTimedCsvFile(data, columns, std::nullopt, target, {}, &error),
                     SampleFileResult::Failed);
            QVERIFY(!error.isEmpty());
        }

        SetSampleBufferLimit(0);
        const SampleFileResult written = WriteTimedCsvFile(data, good, std::nullopt, path, {}, &error);
        const QString writeError = error;
        ChartData back({});
        const SampleFileResult read = importAll(back, path, &error);
        SetSampleBufferLimit(-1);
        QCOMPARE(written, SampleFileResult::Failed);
        QCOMPARE(writeError, QStringLiteral("Out of memory."));
        QCOMPARE(read, SampleFileResult::Failed);
        QVERIFY2(error.startsWith(QStringLiteral("Out of memory")), qPrintable(error));
        QCOMPARE(fileBytes(path), oldBytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("old.csv")});
    }

    // A cancelled export leaves the old file and nothing else; a cancelled
    // import keeps whole rows read before; progress never goes back.
    void cancel()
    {
        const qint64 rounds = 3 * SampleProgressRows + 5;
        const ChartData data = watchChart(rounds, T0);
        const QList<TimedCsvColumn> columns{{0, QStringLiteral("a")}, {1, QStringLiteral("b")}};
        QTemporaryDir dir;
        const QByteArray oldBytes("old file\r\n");
        const QString path = writeFile(dir, QStringLiteral("old.csv"), oldBytes);
        QString error;
        QList<qint64> reports;
        const auto cancelAtSecond = [&](qint64 done, qint64) {
            reports.append(done);
            return reports.size() < 2;
        };
        QCOMPARE(WriteTimedCsvFile(data, columns, std::nullopt, path, cancelAtSecond, &error),
                 SampleFileResult::Cancelled);
        QCOMPARE(reports, QList<qint64>({SampleProgressRows, 2 * SampleProgressRows}));
        QCOMPARE(fileBytes(path), oldBytes);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("old.csv")});

        reports.clear();
        qint64 total = 0;
        const auto all = [&](qint64 done, qint64 of) {
            reports.append(done);
            total = of;
            return true;
        };
        QCOMPARE(WriteTimedCsvFile(data, columns, std::nullopt, path, all, &error), SampleFileResult::Done);
        QCOMPARE(reports.back(), rounds);
        QCOMPARE(total, rounds);

        ChartData back({});
        reports.clear();
        QCOMPARE(importAll(back, path, &error, nullptr, cancelAtSecond), SampleFileResult::Cancelled);
        QCOMPARE(back.channel(0).count(), 2 * SampleProgressRows);
        qsizetype kept = 0;
        for (qsizetype i = 0; i < data.channel(1).count(); ++i)
            kept += data.channel(1).x(i) < double(2 * SampleProgressRows) ? 1 : 0;
        QCOMPARE(back.channel(1).count(), kept);
        QCOMPARE(back.channel(0).y(back.channel(0).count() - 1),
                 data.channel(0).y(2 * SampleProgressRows - 1));

        reports.clear();
        ChartData whole({});
        QCOMPARE(importAll(whole, path, &error, nullptr, all), SampleFileResult::Done);
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
        QCOMPARE(reports.back(), QFileInfo(path).size());
        QCOMPARE(total, QFileInfo(path).size());
    }
};

QTEST_GUILESS_MAIN(TestTimedCsv)
#include "tst_timedcsv.moc"
