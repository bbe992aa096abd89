// Crash safety of the files the program writes: the program (tests/helpers/
// crash_child: all windows, the system-parameters dialog, the stay-on-top and
// marker handlers, the export handler) is killed with SIGKILL at random
// moments, during start-up, while it stores settings and while it exports.
// After every kill:
// - "Data.ini" reads back to a state the program passed through: the keys
//   of the generation being written, in their write order, hold either the
//   new value or the old one, the new ones first; the dialog's values are
//   all new or all old; no key holds anything else, nothing the program
//   does not write is lost;
// - the export file is untouched or the complete file of one generation
//   (every point compared), never partial;
// - temporary files do not pile up beside either file: at most the one
//   fixed name of an interrupted replacement, which the next one takes over.
// Also: what a kill may leave is taken over, and a disk that fills up at the
// very last bytes of a file is reported and leaves the old file.

#include "helpers/CrashGeneration.h"

#include "io/FileReplacement.h"
#include "chart/ChartData.h"
#include "chart/SampleDataFile.h"
#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <optional>
#include <vector>

#include <sys/resource.h>

namespace
{
namespace Gen = CrashGeneration;

constexpr int Runs = 200;
// Start-up dominates each run. On a machine so slow or busy (sanitizer builds
// on shared cores) that the runs would not end well inside the test time-out,
// the suite stops after this long, provided it killed at least MinRuns times.
constexpr qint64 TimeBudgetMs = 170000;
constexpr int MinRuns = 60;
constexpr qsizetype ExportPoints = 20000;
constexpr quint32 DefaultSeed = 20240611;
constexpr int LineTimeoutMs = 60000;        // generous: sanitizer builds on a busy machine
constexpr int CalibrationGenerations = 3;   // timed before the first kill
constexpr int PercentStartUp = 20;          // of the runs killed during start-up
constexpr int PercentSettings = 40;         // ... aimed at the settings writes (the rest at exports)
constexpr int PercentSecondGeneration = 25; // of the aimed runs: at the second generation's write
constexpr double AimSpread = 1.25;          // delays reach a bit beyond the phase they aim at

const QByteArray SettingsPreamble = "; written by the crash suite\r\n"
                                    "[Operator Notes]\r\n"
                                    "Note = keep this line\r\n"
                                    "\r\n";

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

ChartData EmptyChart()
{
    return ChartData({QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("Channel 3")});
}

// One line the child printed: what it says and the generation it names.
struct ChildLine {
    QByteArray what;
    int generation = 0;
    qint64 atMs = 0;   ///< when the suite read it
    bool live = false; ///< read while the suite waited for it, so atMs is when it came
};

// The child process and the lines it printed.
class Child
{
public:
    explicit Child(const QStringList &args)
    {
        m_process.start(QStringLiteral(TEST_HELPERS_DIR "/crash_child"), args);
        m_clock.start();
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(LineTimeoutMs);
        }
    }

    bool started() { return m_process.waitForStarted(LineTimeoutMs); }
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    /// Waits until the child printed a line `what` (with `generation`, when
    /// given). False when it ended or took too long.
    bool waitFor(const char *what, std::optional<int> generation = {})
    {
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            for (; m_checked < m_lines.size(); ++m_checked) {
                const ChildLine &line = m_lines[m_checked];
                if (line.what == what && (!generation || line.generation == *generation)) {
                    ++m_checked;
                    return true;
                }
            }
            if (m_process.state() != QProcess::Running || waited.elapsed() > LineTimeoutMs)
                return false;
            m_process.waitForReadyRead(50);
            takeLines(true);
        }
    }

    /// SIGKILL, then everything it printed before.
    bool kill()
    {
        const bool wasRunning = m_process.state() == QProcess::Running;
        m_process.kill();
        m_process.waitForFinished(LineTimeoutMs);
        takeLines(false);
        return wasRunning;
    }

    const std::vector<ChildLine> &lines() const { return m_lines; }
    QByteArray errorOutput() { return m_process.readAllStandardError(); }

    /// The last line `what`, if any.
    const ChildLine *last(const char *what) const
    {
        for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it) {
            if (it->what == what)
                return &*it;
        }
        return nullptr;
    }

private:
    void takeLines(bool live)
    {
        m_pending += m_process.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray text = m_pending.left(end).trimmed();
            m_pending.remove(0, end + 1);
            const qsizetype blank = text.lastIndexOf(' ');
            ChildLine line;
            line.what = blank < 0 ? text : text.left(blank);
            line.generation = blank < 0 ? -1 : text.mid(blank + 1).toInt();
            line.atMs = m_clock.elapsed();
            line.live = live;
            m_lines.push_back(line);
        }
    }

    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_pending;
    std::vector<ChildLine> m_lines;
    std::size_t m_checked = 0;
};

enum class Landed { StartUp, Settings, Export, Between };

Landed WhereKilled(const Child &child)
{
    if (child.lines().empty())
        return Landed::StartUp;
    const QByteArray &last = child.lines().back().what;
    if (last == Gen::LineSettingsBegin)
        return Landed::Settings;
    if (last == Gen::LineExportBegin)
        return Landed::Export;
    return Landed::Between;
}

qint64 Median(std::vector<qint64> values)
{
    if (values.empty())
        return 1;
    std::sort(values.begin(), values.end());
    return std::max<qint64>(values[values.size() / 2], 1);
}

// How long start-up and the two kinds of writes take here, learnt from the
// lines children print while the suite waits for them.
class PhaseTimes
{
public:
    void learn(const Child &child)
    {
        const ChildLine *begin = nullptr;
        for (const ChildLine &line : child.lines()) {
            if (!line.live)
                break;
            if (line.what == Gen::LineReady)
                m_startUp.push_back(line.atMs);
            else if (line.what == Gen::LineSettingsBegin || line.what == Gen::LineExportBegin)
                begin = &line;
            else if (begin && line.what == Gen::LineSettingsDone && begin->what == Gen::LineSettingsBegin)
                m_settings.push_back(line.atMs - begin->atMs);
            else if (begin && line.what == Gen::LineExportDone && begin->what == Gen::LineExportBegin)
                m_export.push_back(line.atMs - begin->atMs);
        }
    }

    qint64 startUpMs() const { return Median(m_startUp); }
    qint64 settingsMs() const { return Median(m_settings); }
    qint64 exportMs() const { return Median(m_export); }

private:
    std::vector<qint64> m_startUp;
    std::vector<qint64> m_settings;
    std::vector<qint64> m_export;
};

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_settingsDir;
    QString m_exportDir;
    QString m_iniPath;
    QString m_exportPath;
    QByteArray m_originalExport;

    // What the files held at the last check.
    int m_completeGeneration = 0; ///< every settings key holds it, or it and the next one
    int m_exportGeneration = -1;  ///< -1: the original file

    QStringList strayFiles() const
    {
        QStringList stray;
        for (const QString &dir : {m_settingsDir, m_exportDir}) {
            const QFileInfoList entries =
                QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
            for (const QFileInfo &entry : entries) {
                if (entry.absoluteFilePath() != QFileInfo(m_iniPath).absoluteFilePath() &&
                    entry.absoluteFilePath() != QFileInfo(m_exportPath).absoluteFilePath())
                    stray << entry.fileName();
            }
        }
        return stray;
    }

    // Data.ini after a kill. `announced` is the last generation whose
    // settings the child reported stored in this run, if any. Returns how
    // many keys (in write order) hold the newer of the two generations.
    void checkSettings(const Child &child, int &newerKeys)
    {
        const QByteArray bytes = ReadAll(m_iniPath);
        QVERIFY2(bytes.startsWith(SettingsPreamble), bytes.left(200).constData());
        QVERIFY2(bytes.endsWith("\r\n"), bytes.right(200).constData());

        SettingsStore store(m_iniPath);
        QCOMPARE(store.ReadString(QStringLiteral("Operator Notes"), QStringLiteral("Note"), QString()),
                 QStringLiteral("keep this line"));
        QCOMPARE(store.ReadString(SettingsKeys::SectionSystem, SettingsKeys::KeyApplicationName, QString()),
                 QStringLiteral("Crash Suite"));

        // Before the child reports a generation stored, it is writing the
        // one after the file's complete generation; afterwards the one after
        // the reported one.
        const ChildLine *stored = child.last(Gen::LineSettingsDone);
        const int older = stored ? stored->generation : m_completeGeneration;
        if (stored)
            QVERIFY(stored->generation >= m_completeGeneration);
        const int newer = older + 1;
        newerKeys = 0;
        while (newerKeys < Gen::SettingsKeyCount && Gen::KeyHolds(store, newerKeys, newer))
            ++newerKeys;
        // One confirmation of the dialog reaches the file as a whole.
        QVERIFY2(newerKeys == 0 || newerKeys >= Gen::DialogKeyCount,
                 qPrintable(QStringLiteral("only %1 of the dialog's values of generation %2 stored:\n%3")
                                .arg(newerKeys)
                                .arg(newer)
                                .arg(QString::fromUtf8(bytes))));
        for (int key = newerKeys; key < Gen::SettingsKeyCount; ++key) {
            QVERIFY2(
                Gen::KeyHolds(store, key, older),
                qPrintable(QStringLiteral("key %1 holds neither generation %2 (in the first %3 keys) nor "
                                          "%4:\n%5")
                               .arg(key)
                               .arg(newer)
                               .arg(newerKeys)
                               .arg(older)
                               .arg(QString::fromUtf8(bytes))));
        }
        m_completeGeneration = newerKeys == Gen::SettingsKeyCount ? newer : older;
    }

    // The export file after a kill: the original, or one generation whole.
    void checkExport(const Child &child, bool &replaced)
    {
        // Generations the file may hold: the last one reported exported (or
        // what it held before this run) and one whose export had begun.
        const ChildLine *done = child.last(Gen::LineExportDone);
        const ChildLine *begun = child.last(Gen::LineExportBegin);
        const int settled = done ? done->generation : m_exportGeneration;
        const int inProgress =
            begun && (!done || begun->generation > done->generation) ? begun->generation : settled;

        const QByteArray bytes = ReadAll(m_exportPath);
        if (bytes == m_originalExport) {
            QCOMPARE(settled, -1);
            replaced = false;
            return;
        }
        ChartData data = EmptyChart();
        QString error;
        QVERIFY2(ReadSampleDataFile(data, m_exportPath, &error),
                 qPrintable(error + QStringLiteral(" (%1 bytes)").arg(bytes.size())));
        const ChartChannel &samples = data.channel(SampleChannels::Samples);
        QCOMPARE(samples.count(), ExportPoints);
        QCOMPARE(data.channel(SampleChannels::Smoothed).count(), 0);
        QCOMPARE(data.channel(SampleChannels::MeanLine).count(), 0);
        const int generation = Gen::GenerationOfFirstSample(samples.y(0));
        QVERIFY2(generation == settled || generation == inProgress,
                 qPrintable(QStringLiteral("export of generation %1, expected %2 or %3")
                                .arg(generation)
                                .arg(settled)
                                .arg(inProgress)));
        for (qsizetype i = 0; i < ExportPoints; ++i) {
            if (samples.x(i) != Gen::SampleX(i) || samples.y(i) != Gen::SampleY(generation, i) ||
                samples.isGap(i))
                QFAIL(qPrintable(QStringLiteral("point %1 of generation %2 differs").arg(i).arg(generation)));
        }
        replaced = generation != m_exportGeneration;
        m_exportGeneration = generation;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo::exists(QStringLiteral(TEST_HELPERS_DIR "/crash_child")));
        m_settingsDir = m_dir.filePath(QStringLiteral("program"));
        m_exportDir = m_dir.filePath(QStringLiteral("exports"));
        QVERIFY(QDir().mkpath(m_settingsDir));
        QVERIFY(QDir().mkpath(m_exportDir));
        m_iniPath = QDir(m_settingsDir).filePath(SettingsKeys::FileName);
        m_exportPath = QDir(m_exportDir).filePath(QStringLiteral("samples.txt"));

        // Generation 0 complete, plus lines of the operator's own.
        QVERIFY(WriteAll(m_iniPath, SettingsPreamble + "[System]\r\nApplication Name=Crash Suite\r\n"
                                                       "HomePage=none\r\n\r\n"));
        {
            SettingsStore store(m_iniPath);
            namespace K = SettingsKeys;
            const Gen::Settings s = Gen::SettingsOf(0);
            QVERIFY(store.WriteString(K::SectionSystemParameters, K::KeyMeasureUnit, s.measureUnit));
            QVERIFY(store.WriteInteger(K::SectionSystemParameters, K::KeyDecimal, s.decimal));
            QVERIFY(store.WriteFloat(K::SectionSystemParameters, K::KeyYMin, s.yMin));
            QVERIFY(store.WriteFloat(K::SectionSystemParameters, K::KeyYMax, s.yMax));
            QVERIFY(store.WriteInteger(K::SectionSystemParameters, K::KeyReadInterval, s.readInterval));
            QVERIFY(store.WriteInteger(K::SectionSystemParameters, K::KeyBaud, s.baud));
            QVERIFY(store.WriteBool(K::SectionSystemParameters, K::KeyStayOnTop, s.stayOnTop));
            QVERIFY(store.WriteBool(K::SectionRuntime, K::KeyViewDataMarker, s.viewDataMarker));
            for (int key = 0; key < Gen::SettingsKeyCount; ++key)
                QVERIFY(Gen::KeyHolds(store, key, 0));
        }

        // An earlier export of the operator's, in another shape.
        ChartData earlier = EmptyChart();
        earlier.append(SampleChannels::Samples, 1, -7.5);
        earlier.append(SampleChannels::Samples, 2, 3);
        earlier.append(SampleChannels::Smoothed, 1, -2.25);
        m_originalExport = FormatSampleData(earlier);
        QVERIFY(WriteAll(m_exportPath, m_originalExport));
    }

    void killedProgramLeavesWholeFiles()
    {
        bool seedGiven = false;
        const quint32 seed = quint32(qEnvironmentVariableIntValue("KELVARIN_CRASH_SEED", &seedGiven));
        QRandomGenerator random(seedGiven ? seed : DefaultSeed);
        qInfo("seed %u (set KELVARIN_CRASH_SEED to repeat another)", seedGiven ? seed : DefaultSeed);
        const QStringList args = {m_settingsDir, m_exportPath, QString::number(ExportPoints)};

        QElapsedTimer total;
        total.start();
        PhaseTimes times;
        int landed[4] = {};
        int mixedSettings = 0; // checks that found the file between two generations
        int exportsReplaced = 0;
        int strayMax = 0;
        QStringList strayAll;

        int runs = 0;
        for (; runs < Runs; ++runs) {
            const int run = runs;
            if (run >= MinRuns && total.elapsed() > TimeBudgetMs) {
                qWarning("time budget used up: stopping after %d of %d kills", run, Runs);
                break;
            }
            Child child(args);
            QVERIFY2(child.started(), "crash_child did not start");
            const int aim = int(random.bounded(100));
            if (run == 0) {
                // Time start-up and a few generations before aiming kills.
                QVERIFY2(child.waitFor(Gen::LineExportDone, m_completeGeneration + CalibrationGenerations),
                         child.errorOutput().constData());
            } else if (aim < PercentStartUp) {
                QThread::usleep(static_cast<unsigned long>(
                    random.bounded(quint64(times.startUpMs() * 1000 * AimSpread))));
            } else {
                const bool atSettings = aim < PercentStartUp + PercentSettings;
                QVERIFY2(child.waitFor(Gen::LineReady), child.errorOutput().constData());
                const int generation = child.last(Gen::LineReady)->generation +
                                       (int(random.bounded(100)) < PercentSecondGeneration ? 1 : 0);
                QVERIFY2(
                    child.waitFor(atSettings ? Gen::LineSettingsBegin : Gen::LineExportBegin, generation),
                    child.errorOutput().constData());
                const qint64 phaseMs = atSettings ? times.settingsMs() : times.exportMs();
                QThread::usleep(
                    static_cast<unsigned long>(random.bounded(quint64(phaseMs * 1000 * AimSpread))));
            }
            QVERIFY2(child.kill(), child.errorOutput().constData());
            times.learn(child);
            const Landed where = WhereKilled(child);
            ++landed[int(where)];

            int newerKeys = 0;
            checkSettings(child, newerKeys);
            if (QTest::currentTestFailed())
                qInfo("run %d, killed %d ms after start", run, int(child.elapsedMs()));
            QVERIFY(!QTest::currentTestFailed());
            if (newerKeys > 0 && newerKeys < Gen::SettingsKeyCount)
                ++mixedSettings;
            bool replaced = false;
            checkExport(child, replaced);
            QVERIFY(!QTest::currentTestFailed());
            exportsReplaced += replaced;

            // Only a kill between naming the new file and renaming it leaves
            // it behind, under its fixed name.
            const QStringList stray = strayFiles();
            for (const QString &name : stray) {
                QVERIFY2(name == QFileInfo(FileReplacement::TemporaryPath(m_iniPath)).fileName() ||
                             name == QFileInfo(FileReplacement::TemporaryPath(m_exportPath)).fileName(),
                         qPrintable(stray.join(u' ')));
            }
            strayMax = std::max(strayMax, int(stray.size()));
            for (const QString &name : stray) {
                if (!strayAll.contains(name))
                    strayAll << name;
            }
        }

        qInfo("%d kills in %lld ms: %d during start-up, %d while storing settings, %d while exporting, %d "
              "between writes",
              runs, total.elapsed(), landed[int(Landed::StartUp)], landed[int(Landed::Settings)],
              landed[int(Landed::Export)], landed[int(Landed::Between)]);
        qInfo("median times: start-up %lld ms, settings %lld ms, export of %lld points %lld ms",
              times.startUpMs(), times.settingsMs(), ExportPoints, times.exportMs());
        qInfo("the settings file was found between two generations %d times; the export file was replaced "
              "%d times; reached generation %d; stray files: at most %d at once, %lld seen (%s)",
              mixedSettings, exportsReplaced, m_completeGeneration, strayMax, strayAll.size(),
              qPrintable(strayAll.join(u' ')));

        // The kills did reach the writes, and the program got on between them.
        QVERIFY(landed[int(Landed::Settings)] >= runs / 20);
        QVERIFY(landed[int(Landed::Export)] >= runs / 20);
        QVERIFY(m_completeGeneration >= runs / 10);
        QVERIFY(exportsReplaced >= runs / 10);
    }

    // A kill between naming the new file and the rename leaves the fixed
    // name; the next write of the same file takes it over.
    void leftoverOfAKilledWriteIsTakenOver()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(SettingsKeys::FileName);
        const QString samples = dir.filePath(QStringLiteral("samples.txt"));
        QVERIFY(WriteAll(ini, "[S]\r\nK=1\r\n"));
        QVERIFY(WriteAll(samples, m_originalExport));
        const QString iniLeftover = FileReplacement::TemporaryPath(ini);
        const QString samplesLeftover = FileReplacement::TemporaryPath(samples);
        QCOMPARE(QFileInfo(iniLeftover).fileName(), QStringLiteral(".Data.ini.saving"));
        QVERIFY(WriteAll(iniLeftover, "[S]\r\nK=2\r\n"));
        QVERIFY(WriteAll(samplesLeftover, "left by a killed export"));

        SettingsStore store(ini);
        QCOMPARE(store.ReadInteger(QStringLiteral("S"), QStringLiteral("K"), 0), 1); // never read
        QVERIFY(store.WriteInteger(QStringLiteral("S"), QStringLiteral("K"), 3));
        ChartData data = EmptyChart();
        data.append(SampleChannels::Samples, 1, 2.5);
        QString error;
        QVERIFY2(WriteSampleDataFile(data, samples, &error), qPrintable(error));

        QCOMPARE(ReadAll(ini), QByteArray("[S]\r\nK=3\r\n"));
        QCOMPARE(ReadAll(samples), FormatSampleData(data));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                 (QStringList{SettingsKeys::FileName, QStringLiteral("samples.txt")}));
    }

    // As before: a link is followed (the link stays), permissions are kept.
    void replacementFollowsLinksAndKeepsPermissions()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath(QStringLiteral("real.ini"));
        const QString link = dir.filePath(SettingsKeys::FileName);
        QVERIFY(WriteAll(real, "[S]\r\nK=1\r\n"));
        const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(real, permissions));
        QVERIFY(QFile::link(real, link));

        QVERIFY(SettingsStore(link).WriteInteger(QStringLiteral("S"), QStringLiteral("K"), 2));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ReadAll(real), QByteArray("[S]\r\nK=2\r\n"));
        QCOMPARE(QFile::permissions(real) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
                 permissions);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                 (QStringList{SettingsKeys::FileName, QStringLiteral("real.ini")}));
    }

    // The disk fills up with the last bytes of an export or a settings file:
    // the write fails, the old file stays whole and nothing is left behind.
    void diskFullAtTheLastBytesKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString samples = dir.filePath(QStringLiteral("samples.txt"));
        const QString ini = dir.filePath(SettingsKeys::FileName);
        QVERIFY(WriteAll(samples, m_originalExport));
        const QByteArray iniText = "[S]\r\nK=1\r\n";
        QVERIFY(WriteAll(ini, iniText));
        ChartData data = EmptyChart();
        for (int i = 0; i < 5000; ++i)
            data.append(SampleChannels::Samples, i, i * 0.1);
        const QByteArray exported = FormatSampleData(data);
        SettingsStore store(ini);

        constexpr rlim_t ShortBy = 10;
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = rlim_t(exported.size()) - ShortBy;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        QString error;
        const bool exportWritten = WriteSampleDataFile(data, samples, &error);
        const bool settingWritten = store.WriteString(QStringLiteral("S"), QStringLiteral("Long"),
                                                      QString(int(limit.rlim_cur), u'x'));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(!exportWritten);
        QVERIFY2(error.contains(QStringLiteral("too large")), qPrintable(error));
        QVERIFY(!settingWritten);
        QCOMPARE(ReadAll(samples), m_originalExport);
        QCOMPARE(ReadAll(ini), iniText);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                 (QStringList{SettingsKeys::FileName, QStringLiteral("samples.txt")}));
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
