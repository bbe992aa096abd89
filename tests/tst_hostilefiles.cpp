// Files the program did not write: the real program (tests/helpers/
// hostile_child, the program's windows as it starts them) on a settings
// directory holding odd, damaged or hostile settings, journals, locks and
// imports. Every case: it starts, its event loop answers within a bound, its
// memory stays bounded, every file it could not read keeps its bytes (in its
// place or kept aside beside it), every special file stays what it was, and
// the operator is told what happened.

#include "io/Platform.h"
#include "io/RecordingJournal.h"
#include "io/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <map>
#include <sys/stat.h>

namespace
{
constexpr int StartBoundMs = 15000;
constexpr int AnswerBoundMs = 2000;
constexpr qint64 MemoryBoundKb = 400 * 1024; // the program alone takes about a quarter of it
const QString Ini = SettingsKeys::FileName;
const QString Journal = RecordingJournal::FileName;
const QString Lock = Journal + RecordingJournal::LockSuffix;

using Setup = std::function<void(const QDir &)>;

void Write(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

Setup File(const QString &name, const QByteArray &bytes)
{
    return [=](const QDir &dir) { Write(dir, name, bytes); };
}
Setup Fifo(const QString &name)
{
    return [=](const QDir &dir) {
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(name)).constData(), 0600), 0);
    };
}
Setup LinkToZero(const QString &name)
{
    return [=](const QDir &dir) { QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(name))); };
}
Setup Directory(const QString &name)
{
    return [=](const QDir &dir) { QVERIFY(dir.mkdir(name)); };
}
Setup Both(Setup a, Setup b)
{
    return [=](const QDir &dir) {
        a(dir);
        b(dir);
    };
}

/// Three blocks: X 1..40, 41..70, 71..100; `damagedBlock` (0..2, or -1) has
/// one byte of its samples changed.
QByteArray ThreeBlocks(int damagedBlock)
{
    QByteArray all;
    qint64 x = 1;
    for (const int count : {40, 30, 30}) {
        std::vector<qint32> values;
        std::vector<qint64> ms;
        for (int i = 0; i < count; ++i) {
            values.push_back(1000 + qint32(x + i));
            ms.push_back(1704067200000 + x + i);
        }
        QByteArray block = RecordingJournal::EncodeBlock(x, 1, values, ms);
        if (damagedBlock-- == 0)
            block[block.size() - 8] = char(block[block.size() - 8] ^ 0x55);
        all += block;
        x += count;
    }
    return all;
}

QByteArray Utf16Le(const QString &text, bool byteOrderMark)
{
    QStringEncoder encoder(QStringConverter::Utf16LE);
    return (byteOrderMark ? QByteArray("\xFF\xFE", 2) : QByteArray()) + QByteArray(encoder.encode(text));
}

QString KindOf(const QString &path)
{
    return QFileInfo(path).isSymLink() ? QStringLiteral("link ") + QFileInfo(path).symLinkTarget()
                                       : Platform::KindText(Platform::KindOf(path));
}
} // namespace

Q_DECLARE_METATYPE(Setup)

class TestHostileFiles : public QObject
{
    Q_OBJECT

private:
    QProcess m_child;
    QByteArray m_output;

    /// Waits for a line starting with `line` in the output after `from`.
    bool waitFor(const QByteArray &line, int boundMs, qsizetype from = 0)
    {
        const QByteArray start = '\n' + line;
        QDeadlineTimer deadline(boundMs);
        while (m_output.indexOf(start, from) < 0 && !deadline.hasExpired()) {
            if (!m_child.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
                break;
            m_output += m_child.readAllStandardOutput();
        }
        return m_output.indexOf(start, from) >= 0;
    }
    bool ask(const QByteArray &command, const QByteArray &answer, int boundMs = AnswerBoundMs)
    {
        const qsizetype from = m_output.size() - 1;
        m_child.write(command + '\n');
        return waitFor(answer, boundMs, from);
    }

private slots:
    void cleanup()
    {
        if (m_child.state() != QProcess::NotRunning) {
            m_child.kill();
            m_child.waitForFinished();
        }
    }

    void program_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("commands"); // sent after the start, each answered before the next
        QTest::addColumn<QStringList>("told");     // in the prompts, in this order
        QTest::addColumn<QStringList>("kept");     // regular files whose bytes must survive

        const QByteArray outOfRange = "[System Parameters]\r\nDecimal=2147483647\r\nRead Interval=-5\r\n"
                                      "Wait Interval=2147483647\r\nBaud=-1\r\nYMin=-1e308\r\nYMax=1e308\r\n"
                                      "[Filter]\r\nAverage Count=0\r\n[Default]\r\nDevice Number=99999\r\n";
        // The ranges are the dialog's (decimals 0..4, interval 20 ms and up)
        // and those next to the keys; the value display shows "0.0000kg".
        QTest::newRow("numbers out of range")
            << File(Ini, outOfRange) << "yes" << QStringList{"state"}
            << QStringList{"state 4 20 5000 1 50 -1000000000000 1000000000000 255 "
                           "8"}
            << QStringList{};
        QTest::newRow("settings: FIFO")
            << Fifo(Ini) << "yes" << QStringList{} << QStringList{"a FIFO"} << QStringList{};
        QTest::newRow("settings: link to /dev/zero")
            << LinkToZero(Ini) << "yes" << QStringList{} << QStringList{"a device"} << QStringList{};
        QTest::newRow("settings: directory")
            << Directory(Ini) << "yes" << QStringList{} << QStringList{"a directory"} << QStringList{};
        const QString decimal3 = QStringLiteral("[System Parameters]\r\nDecimal=3\r\n");
        QTest::newRow("settings: UTF-16 with a byte order mark is read")
            << File(Ini, Utf16Le(decimal3, true)) << "yes" << QStringList{"state"} << QStringList{"state 3 "}
            << QStringList{};
        QTest::newRow("settings: UTF-16 without a mark is kept aside")
            << File(Ini, Utf16Le(decimal3, false)) << "yes" << QStringList{"state"}
            << QStringList{"Data.ini.unreadable-", "state 1 "} << QStringList{Ini};
        QTest::newRow("settings: larger than any it writes")
            << File(Ini, QByteArray(3 << 20, ';')) << "yes" << QStringList{}
            << QStringList{"Data.ini.unreadable-"} << QStringList{Ini};
        // Latin-1 (not UTF-8, not GB18030): a unit it cannot hold is refused,
        // and stays told in the About box after a later write succeeded.
        QTest::newRow("settings: a value the encoding cannot hold")
            << File(Ini, "[System]\r\nHomePage=caf\xE9\r\n") << "yes"
            << QStringList{"write System Parameters|Measure Unit|\u338F", "write Runtime|ViewDataMarker|1",
                           "about"}
            << QStringList{"Measure Unit", "written 0", "written 1", "Measure Unit"} << QStringList{};

        QTest::newRow("journal: FIFO")
            << Fifo(Journal) << "yes" << QStringList{} << QStringList{"a FIFO"} << QStringList{};
        QTest::newRow("journal: link to /dev/zero")
            << LinkToZero(Journal) << "yes" << QStringList{} << QStringList{"a device"} << QStringList{};
        QTest::newRow("journal: directory")
            << Directory(Journal) << "yes" << QStringList{} << QStringList{"a directory"} << QStringList{};
        QTest::newRow("journal: first block damaged")
            << File(Journal, ThreeBlocks(0)) << "yes" << QStringList{"points"}
            << QStringList{"有 60 个", "约 40 个", "points 60"} << QStringList{};
        QTest::newRow("journal: middle block damaged, declined")
            << File(Journal, ThreeBlocks(1)) << "no" << QStringList{"points"}
            << QStringList{"有 70 个", "约 30 个", "points 0"} << QStringList{Journal};
        QTest::newRow("journal: last block damaged")
            << File(Journal, ThreeBlocks(2)) << "yes" << QStringList{"points"}
            << QStringList{"有 70 个", "约 30 个", "points 70"} << QStringList{};
        QTest::newRow("journal: nothing readable")
            << File(Journal, QByteArray(5000, '\x5A')) << "yes" << QStringList{}
            << QStringList{"5000", "Data.journal.damaged-"} << QStringList{Journal};
        QTest::newRow("lock: empty, taken over")
            << Both(File(Journal, ThreeBlocks(-1)), File(Lock, {})) << "yes" << QStringList{"points"}
            << QStringList{Lock, "有 100 个", "points 100"} << QStringList{};
        QTest::newRow("lock: another host, not taken over")
            << Both(File(Journal, ThreeBlocks(-1)), File(Lock, "4242\nkelvarin\nsome-other-host\n")) << "no"
            << QStringList{"points"} << QStringList{Lock, "有 100 个", "points 0"}
            << QStringList{Journal, Lock};
        QTest::newRow("lock: empty, no journal")
            << File(Lock, {}) << "no" << QStringList{} << QStringList{Lock} << QStringList{Lock};

        QTest::newRow("import: FIFO") << Fifo("in.txt") << "yes" << QStringList{"import in.txt"}
                                      << QStringList{"Error Loading Data - ", "a FIFO"} << QStringList{};
        QTest::newRow("import: link to /dev/zero")
            << LinkToZero("in.txt") << "yes" << QStringList{"import in.txt"}
            << QStringList{"Error Loading Data - ", "a device"} << QStringList{};
        QTest::newRow("import: directory")
            << Directory("in.txt") << "yes" << QStringList{"import in.txt"}
            << QStringList{"Error Loading Data - ", "a directory"} << QStringList{};
        QTest::newRow("import: a line of 8 MiB")
            << File("in.txt",
                    "Channel 1(X)\tChannel 1(Y)\r\n1\t2\r\n" + QByteArray(8 << 20, '7') + "\r\n3\t4\r\n")
            << "yes" << QStringList{"import in.txt", "points"}
            << QStringList{"Error Loading Data - Line 3 is longer", "points 1"} << QStringList{"in.txt"};
    }

    void program()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, answer);
        QFETCH(QStringList, commands);
        QFETCH(QStringList, told);
        QFETCH(QStringList, kept);
        QTemporaryDir temporary;
        const QDir dir(temporary.path());
        setup(dir);
        std::map<QString, QByteArray> bytes;
        for (const QString &name : kept) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            bytes[name] = file.readAll();
        }
        std::map<QString, QString> kinds;
        for (const QString &name :
             dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            kinds[name] = KindOf(dir.filePath(name));

        m_output = "\n";
        m_child.setWorkingDirectory(dir.path());
        m_child.start(QStringLiteral(TEST_HELPERS_DIR "/hostile_child"), {dir.path(), answer});
        QVERIFY(m_child.waitForStarted());
        QVERIFY2(waitFor("ready", StartBoundMs), m_output.constData());
        const std::map<QString, QByteArray> replies = {{"import", "imported"},
                                                       {"write", "written"},
                                                       {"about", "shown"},
                                                       {"state", "state"},
                                                       {"points", "points"}};
        for (const QString &command : commands)
            QVERIFY2(ask(command.toUtf8(), replies.at(command.section(u' ', 0, 0)), StartBoundMs),
                     m_output.constData());
        QVERIFY2(ask("ping", "pong"), "the event loop does not answer");
        QVERIFY(ask("rss", "rss "));
        const qint64 rss = m_output.mid(m_output.lastIndexOf("\nrss ") + 5).split('\n').first().toLongLong();
        QVERIFY2(rss > 0 && rss < MemoryBoundKb, qPrintable(QString::number(rss)));
        m_child.write("quit\n");
        QVERIFY(m_child.waitForFinished(StartBoundMs));
        QCOMPARE(m_child.exitCode(), 0);
        m_output += m_child.readAllStandardOutput();

        const QString output = QString::fromUtf8(m_output);
        qsizetype at = 0;
        for (const QString &text : told) {
            at = output.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("\"%1\" not told in:%2").arg(text, output)));
        }
        // Special files stay what they were; regular ones it could not read
        // keep their bytes, where they were or under a name beside them.
        for (const auto &[name, kind] : kinds) {
            if (kind != Platform::KindText(Platform::FileKind::Regular))
                QCOMPARE(KindOf(dir.filePath(name)), kind);
        }
        for (const auto &[name, content] : bytes) {
            bool found = false;
            for (const QString &other : dir.entryList({name + u'*'}, QDir::Files | QDir::Hidden)) {
                QFile file(dir.filePath(other));
                found = found || (file.open(QIODevice::ReadOnly) && file.readAll() == content);
            }
            QVERIFY2(found, qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
