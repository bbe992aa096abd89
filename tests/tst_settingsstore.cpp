#include "io/SettingsKeys.h"
#include "io/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <csignal>
#include <limits>
#include <stdexcept>
#include <sys/resource.h>

namespace
{

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray toGb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// The value rule of tests/helpers/settings_writer.cpp.
QString WriterValue(int round, int key, int length)
{
    QString value = QStringLiteral("r%1k%2:").arg(round).arg(key);
    for (int i = 0; i < length; ++i)
        value += QChar(u'a' + (round * 31 + key * 7 + i) % 26);
    value += QStringLiteral("公斤:end");
    return value;
}

/// Lowers the largest file this process may write, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed process
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

    void writeFile(const QByteArray &bytes) { writeBytes(m_path, bytes); }

private slots:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(QDir(m_dir.path()).removeRecursively());
        QVERIFY(QDir().mkpath(m_dir.path()));
        m_path = QDir(m_dir.path()).filePath(SettingsKeys::FileName);
    }

    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void missingFileGivesDefaultsAndFirstWriteCreatesIt()
    {
        SettingsStore store(m_path);
        QCOMPARE(store.ReadString(SettingsKeys::SectionCommunication, SettingsKeys::KeyComPort,
                                  SettingsKeys::DefaultComPort),
                 QStringLiteral("com1"));
        QCOMPARE(store.ReadInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyReadInterval,
                                   SettingsKeys::DefaultReadInterval),
                 100);
        QCOMPARE(store.ReadFloat(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyYMax,
                                 SettingsKeys::DefaultYMax),
                 10000.0);
        QVERIFY(!store.ReadBool(SettingsKeys::SectionRuntime, SettingsKeys::KeyViewDataMarker, false));
        QVERIFY(!store.SectionExists(SettingsKeys::SectionSystem));
        QVERIFY(!QFile::exists(m_path));

        // Seeding the "System" section at the first start, as the main window does.
        QVERIFY(store.WriteString(SettingsKeys::SectionSystem, SettingsKeys::KeyApplicationName,
                                  SettingsKeys::DefaultApplicationName));
        QVERIFY(store.WriteString(SettingsKeys::SectionSystem, SettingsKeys::KeyHomePage,
                                  SettingsKeys::DefaultHomePage));
        QVERIFY(store.WriteBool(SettingsKeys::SectionRuntime, SettingsKeys::KeyViewDataMarker, false));
        QVERIFY(store.lastError().isEmpty());
        QVERIFY(store.SectionExists(QStringLiteral("system")));
        QCOMPARE(readBytes(m_path), QByteArray("[System]\r\nApplication Name=Kelvarin\r\n"
                                               "HomePage=\"http://www.kelvarin.com      \"\r\n\r\n"
                                               "[Runtime]\r\nViewDataMarker=0\r\n"));

        // A second run reads back exactly what was written, trailing blanks included.
        SettingsStore again(m_path);
        QCOMPARE(again.ReadString(SettingsKeys::SectionSystem, SettingsKeys::KeyHomePage, QString()),
                 QString(SettingsKeys::DefaultHomePage));
        QCOMPARE(again.ReadString(SettingsKeys::SectionSystem, SettingsKeys::KeyApplicationName, QString()),
                 QStringLiteral("Kelvarin"));
    }

    void integerText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        constexpr int def = SettingsKeys::DefaultReadInterval;
        QTest::newRow("decimal") << QByteArray("250") << 250;
        QTest::newRow("blanks") << QByteArray("  250  ") << 250;
        QTest::newRow("negative") << QByteArray("-5") << -5;
        QTest::newRow("plus") << QByteArray("+7") << 7;
        QTest::newRow("0x64") << QByteArray("0x64") << 100;
        QTest::newRow("0X64") << QByteArray("0X64") << 100;
        QTest::newRow("$64") << QByteArray("$64") << 100;
        QTest::newRow("hex letters") << QByteArray("$fF") << 255;
        QTest::newRow("negative hex") << QByteArray("-0x10") << -16;
        QTest::newRow("int max") << QByteArray("2147483647") << std::numeric_limits<int>::max();
        QTest::newRow("int min") << QByteArray("-2147483648") << std::numeric_limits<int>::min();
        QTest::newRow("hex max") << QByteArray("0x7FFFFFFF") << std::numeric_limits<int>::max();
        QTest::newRow("quoted") << QByteArray("\"42\"") << 42;
        QTest::newRow("overflow") << QByteArray("2147483648") << def;
        QTest::newRow("underflow") << QByteArray("-2147483649") << def;
        QTest::newRow("hex overflow") << QByteArray("0xFFFFFFFF") << def;
        QTest::newRow("huge") << QByteArray("99999999999999999999999999") << def;
        QTest::newRow("word") << QByteArray("fast") << def;
        QTest::newRow("trailing garbage") << QByteArray("12abc") << def;
        QTest::newRow("inner blank") << QByteArray("1 2") << def;
        QTest::newRow("fraction") << QByteArray("1.5") << def;
        QTest::newRow("prefix only") << QByteArray("0x") << def;
        QTest::newRow("dollar only") << QByteArray("$") << def;
        QTest::newRow("bad hex digit") << QByteArray("0x1G") << def;
        QTest::newRow("sign after prefix") << QByteArray("$-5") << def;
        QTest::newRow("empty") << QByteArray("") << def;
        QTest::newRow("arabic-indic digits") << QByteArray("\xd9\xa1\xd9\xa2") << def;
    }

    void integerText()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, expected);
        writeFile("[System Parameters]\r\nRead Interval=" + text + "\r\n");
        SettingsStore store(m_path);
        QCOMPARE(store.ReadInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyReadInterval,
                                   SettingsKeys::DefaultReadInterval),
                 expected);
    }

    void booleans()
    {
        writeFile("[System Parameters]\nStayOnTop=2\nA=-1\nB=0\nC=0x0\nD=yes\nE=\n");
        SettingsStore store(m_path);
        const QString section = SettingsKeys::SectionSystemParameters;
        QVERIFY(store.ReadBool(section, SettingsKeys::KeyStayOnTop, SettingsKeys::DefaultStayOnTop));
        QVERIFY(store.ReadBool(section, QStringLiteral("A"), false));
        QVERIFY(!store.ReadBool(section, QStringLiteral("B"), true));
        QVERIFY(!store.ReadBool(section, QStringLiteral("C"), true));
        for (const bool def : {false, true}) {
            QCOMPARE(store.ReadBool(section, QStringLiteral("D"), def), def);
            QCOMPARE(store.ReadBool(section, QStringLiteral("E"), def), def);
            QCOMPARE(store.ReadBool(section, QStringLiteral("missing"), def), def);
        }
        QVERIFY(store.WriteBool(section, QStringLiteral("B"), true));
        QVERIFY(store.WriteBool(section, QStringLiteral("A"), false));
        QCOMPARE(readBytes(m_path),
                 QByteArray("[System Parameters]\nStayOnTop=2\nA=0\nB=1\nC=0x0\nD=yes\nE=\n"));
    }

    void floatsFollowTheLocale()
    {
        const QString section = SettingsKeys::SectionSystemParameters;
        QLocale::setDefault(QLocale(QLocale::German));
        {
            SettingsStore store(m_path);
            QVERIFY(store.WriteFloat(section, SettingsKeys::KeyYMin, 12.5));
            QVERIFY(store.WriteFloat(section, SettingsKeys::KeyYMax, 0.1 + 0.2)); // 15 digits: 0,3
            QVERIFY(store.WriteFloat(section, QStringLiteral("Big"), -1.5e20));
            QVERIFY(store.WriteFloat(section, QStringLiteral("Whole"), 10000.0));
            QCOMPARE(readBytes(m_path), QByteArray("[System Parameters]\r\nYMin=12,5\r\nYMax=0,3\r\n"
                                                   "Big=-1,5E+20\r\nWhole=10000\r\n"));
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMin, 0.0), 12.5);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Big"), 0.0), -1.5e20);
        }

        // A value is read with the decimal separator of the current locale only:
        // a "." file under a "," locale gives the default, and the other way round.
        writeFile("[System Parameters]\nYMin=12.5\nYMax=12,5\nGrouped=1.000,5\nEmpty=\nWord=abc\n"
                  "Inf=inf\nNaN=nan\nBlanks=  7,25  \n");
        {
            SettingsStore store(m_path);
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMin, -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMax, -1.0), 12.5);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Grouped"), -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Empty"), -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Word"), -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Inf"), -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("NaN"), -1.0), -1.0);
            QCOMPARE(store.ReadFloat(section, QStringLiteral("Blanks"), -1.0), 7.25);
        }
        QLocale::setDefault(QLocale::c());
        {
            SettingsStore store(m_path);
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMin, -1.0), 12.5);
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMax, -1.0), -1.0);

            // Infinities and NaN are refused and leave the file as it was.
            const QByteArray before = readBytes(m_path);
            QVERIFY(
                !store.WriteFloat(section, SettingsKeys::KeyYMin, std::numeric_limits<double>::infinity()));
            QVERIFY(
                !store.WriteFloat(section, SettingsKeys::KeyYMin, std::numeric_limits<double>::quiet_NaN()));
            QVERIFY(!store.lastError().isEmpty());
            QCOMPARE(readBytes(m_path), before);
            QCOMPARE(store.ReadFloat(section, SettingsKeys::KeyYMin, -1.0), 12.5);
        }
    }

    void everyFiniteNumberReadsBack_data()
    {
        // Hebrew and Arabic signs carry a direction mark (and Arabic has a
        // two-letter exponent), which Qt's own parser does not take back.
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("C") << QLocale::c();
        QTest::newRow("German") << QLocale(QLocale::German);
        QTest::newRow("Hebrew") << QLocale(QLocale::Hebrew, QLocale::Israel);
        QTest::newRow("Arabic") << QLocale(QLocale::Arabic, QLocale::Egypt);
    }
    void everyFiniteNumberReadsBack()
    {
        QFETCH(QLocale, locale);
        QLocale::setDefault(locale);
        const QString section = SettingsKeys::SectionSystemParameters;
        const double largest = std::numeric_limits<double>::max();
        // Rounded to 15 digits the largest doubles would exceed the range and
        // read back as the default.
        const QList<double> values{largest,
                                   -largest,
                                   std::nextafter(largest, 0.0),
                                   1.7976931348623e308,
                                   -2.5,
                                   -1e-7,
                                   2.5e-300,
                                   std::numeric_limits<double>::denorm_min(),
                                   -1234.5678};
        SettingsStore store(m_path);
        for (qsizetype i = 0; i < values.size(); ++i)
            QVERIFY(store.WriteFloat(section, QStringLiteral("V%1").arg(i), values[i]));
        SettingsStore fresh(m_path);
        for (qsizetype i = 0; i < values.size(); ++i) {
            const double read = fresh.ReadFloat(section, QStringLiteral("V%1").arg(i), 0.0);
            QVERIFY2(std::fabs(read - values[i]) <= 1e-14 * std::fabs(values[i]),
                     qPrintable(QString::number(i)));
        }
        QCOMPARE(fresh.ReadFloat(section, QStringLiteral("V0"), 0.0), largest);
        QCOMPARE(fresh.ReadFloat(section, QStringLiteral("V4"), 0.0), -2.5);
    }

    void stringsAreCutOnReading()
    {
        const QString section = SettingsKeys::SectionSystemParameters;
        const QString longText(3000, u'x');
        SettingsStore store(m_path);
        QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, longText));
        QVERIFY(readBytes(m_path).contains(longText.toLatin1())); // written unchanged
        QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()),
                 QString(SettingsStore::MaxStringLength, u'x'));
        QCOMPARE(SettingsStore(m_path).ReadString(section, SettingsKeys::KeyMeasureUnit, QString()).size(),
                 SettingsStore::MaxStringLength);

        // The cut never leaves half of a surrogate pair.
        const QString emoji =
            QString(2046, u'y') + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("z");
        QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, emoji));
        QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()), QString(2046, u'y'));

        // An empty value is a value, not a missing key.
        QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, QString()));
        QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QStringLiteral("kg")), QString());
    }

    void valuesReadBackAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << QStringLiteral("kg");
        QTest::newRow("inner blanks") << QStringLiteral("a b  c");
        QTest::newRow("leading blank") << QStringLiteral(" kg");
        QTest::newRow("tab") << QStringLiteral("kg\t");
        QTest::newRow("only blanks") << QStringLiteral("   ");
        QTest::newRow("quoted") << QStringLiteral("\"kg\"");
        QTest::newRow("one quote") << QStringLiteral("\"");
        QTest::newRow("quote at start") << QStringLiteral("\"kg");
        QTest::newRow("equals and semicolon") << QStringLiteral("a=b; c # d [e]");
        QTest::newRow("chinese") << QStringLiteral("公斤");
    }

    void valuesReadBackAsWritten()
    {
        QFETCH(QString, value);
        QVERIFY(SettingsStore(m_path).WriteString(QStringLiteral("S"), QStringLiteral("K"), value));
        QCOMPARE(
            SettingsStore(m_path).ReadString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("-")),
            value);
    }

    void filesOfOtherPrograms_data()
    {
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::newRow("CR LF") << QByteArray("\r\n");
        QTest::newRow("LF") << QByteArray("\n");
        QTest::newRow("CR") << QByteArray("\r");
    }

    void filesOfOtherPrograms()
    {
        QFETCH(QByteArray, lineEnd);
        QByteArrayList lines = {"; written by hand",
                                "  [ communication parameters ]  ",
                                "  com port  =   /dev/ttyUSB0   ",
                                "# another comment",
                                "[System Parameters]",
                                "READ INTERVAL\t=\t250",
                                "Measure Unit=  ",
                                "YMin = -12.5",
                                "[Empty]",
                                "; only a comment"};
        writeFile(lines.join(lineEnd)); // no line end after the last line
        SettingsStore store(m_path);
        QCOMPARE(store.ReadString(SettingsKeys::SectionCommunication, SettingsKeys::KeyComPort,
                                  SettingsKeys::DefaultComPort),
                 QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(store.ReadInteger(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyReadInterval, 100),
                 250);
        QCOMPARE(store.ReadString(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyMeasureUnit,
                                  SettingsKeys::DefaultMeasureUnit),
                 QString());
        QCOMPARE(store.ReadFloat(SettingsKeys::SectionSystemParameters, SettingsKeys::KeyYMin, 0.0), -12.5);
        QVERIFY(!store.SectionExists(QStringLiteral("Empty")));
        QVERIFY(store.SectionExists(QStringLiteral("SYSTEM PARAMETERS")));

        // A rewrite changes only the value and keeps the line ends of the file.
        QVERIFY(store.WriteString(SettingsKeys::SectionCommunication, SettingsKeys::KeyComPort,
                                  QStringLiteral("COM3")));
        QVERIFY(store.WriteInteger(QStringLiteral("Empty"), QStringLiteral("New"), 1));
        lines[2] = "  com port  =   COM3";
        lines.insert(9, "New=1");
        QCOMPARE(readBytes(m_path), lines.join(lineEnd) + lineEnd);
    }

    void rewriteKeepsEverythingElse()
    {
        const QByteArray original = "; Data.ini of the transmitter tool\r\n"
                                    "orphan=before any section\r\n"
                                    "\r\n"
                                    "[Vendor Extras]\r\n"
                                    "Colour Scheme = dark\r\n"
                                    "this line is not a key\r\n"
                                    "[System Parameters]\r\n"
                                    "Decimal=2\r\n"
                                    "Unknown Key=keep\r\n"
                                    "Decimal=3\r\n"
                                    "\r\n"
                                    "# trailing comment\r\n"
                                    "[system parameters]\r\n"
                                    "Baud=19200\r\n";
        writeFile(original);
        SettingsStore store(m_path);
        const QString section = SettingsKeys::SectionSystemParameters;
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyDecimal, 1), 2); // first one wins
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyBaud, 9600), 19200);
        QCOMPARE(store.ReadString(QString(), QStringLiteral("orphan"), QStringLiteral("-")),
                 QStringLiteral("-"));

        QVERIFY(store.WriteInteger(section, SettingsKeys::KeyDecimal, 4));
        QVERIFY(store.WriteInteger(section, SettingsKeys::KeyBaud, 4800));
        QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, QStringLiteral("N")));
        QVERIFY(store.WriteInteger(SettingsKeys::LinearPointSection(3), SettingsKeys::KeyPV, 250000));
        QCOMPARE(readBytes(m_path), QByteArray("; Data.ini of the transmitter tool\r\n"
                                               "orphan=before any section\r\n"
                                               "\r\n"
                                               "[Vendor Extras]\r\n"
                                               "Colour Scheme = dark\r\n"
                                               "this line is not a key\r\n"
                                               "[System Parameters]\r\n"
                                               "Decimal=4\r\n"
                                               "Unknown Key=keep\r\n"
                                               "Decimal=3\r\n"
                                               "Measure Unit=N\r\n"
                                               "\r\n"
                                               "# trailing comment\r\n"
                                               "[system parameters]\r\n"
                                               "Baud=4800\r\n"
                                               "\r\n"
                                               "[LinearPoint3]\r\n"
                                               "PV=250000\r\n"));
    }

    void chineseValuesInEitherEncoding()
    {
        const QString unit = QStringLiteral("公斤");
        const QString section = SettingsKeys::SectionSystemParameters;

        // A file of the legacy Chinese code page stays in it.
        writeFile(toGb18030(QStringLiteral("[System Parameters]\r\n; 单位\r\nMeasure Unit=千克\r\n")));
        {
            SettingsStore store(m_path);
            QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()),
                     QStringLiteral("千克"));
            QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, unit));
            QVERIFY(store.WriteString(section, QStringLiteral("名称"), QStringLiteral("变送器")));
        }
        const QByteArray gbFile = readBytes(m_path);
        QCOMPARE(gbFile, toGb18030(QStringLiteral("[System Parameters]\r\n; 单位\r\nMeasure Unit=公斤\r\n"
                                                  "名称=变送器\r\n")));
        QVERIFY(!isValidUtf8(gbFile));
        QCOMPARE(SettingsStore(m_path).ReadString(section, QStringLiteral("名称"), QString()),
                 QStringLiteral("变送器"));

        // UTF-8, with its byte order mark skipped on reading and kept on writing.
        writeFile("\xEF\xBB\xBF[System Parameters]\nMeasure Unit=\xE5\x8D\x83\xE5\x85\x8B\n");
        {
            SettingsStore store(m_path);
            QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()),
                     QStringLiteral("千克"));
            QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, unit));
        }
        QCOMPARE(readBytes(m_path),
                 QByteArray("\xEF\xBB\xBF[System Parameters]\nMeasure Unit=") + unit.toUtf8() + "\n");

        // Bytes of some other code page survive a rewrite unchanged; text they
        // cannot hold is refused.
        writeFile("[System Parameters]\r\nMeasure Unit=\xFF\xFE\x81\r\n");
        {
            SettingsStore store(m_path);
            QCOMPARE(store.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()).size(), 3);
            QVERIFY(store.WriteInteger(section, SettingsKeys::KeyDecimal, 2));
            QVERIFY(!store.WriteString(section, SettingsKeys::KeyMeasureUnit, unit));
            QVERIFY(!store.lastError().isEmpty());
        }
        QCOMPARE(readBytes(m_path),
                 QByteArray("[System Parameters]\r\nMeasure Unit=\xFF\xFE\x81\r\nDecimal=2\r\n"));

        // New files are UTF-8.
        QVERIFY(QFile::remove(m_path));
        QVERIFY(SettingsStore(m_path).WriteString(section, SettingsKeys::KeyMeasureUnit, unit));
        QCOMPARE(readBytes(m_path), "[System Parameters]\r\nMeasure Unit=" + unit.toUtf8() + "\r\n");
    }

    void legacyFileThatWouldReadAsOtherTextIsRewrittenInUtf8()
    {
        // "千克" is what makes this GB18030 file invalid UTF-8; "牛" alone (C5 A3)
        // is valid UTF-8 ("ţ"). Once "千克" is replaced, GB18030 bytes would
        // read back as other text.
        const QString s = QStringLiteral("S");
        writeFile(toGb18030(QStringLiteral("[S]\r\nA=千克\r\nB=牛\r\n")));
        QVERIFY(SettingsStore(m_path).WriteString(s, QStringLiteral("A"), QStringLiteral("kg")));
        QCOMPARE(SettingsStore(m_path).ReadString(s, QStringLiteral("B"), QString()), QStringLiteral("牛"));
        QCOMPARE(readBytes(m_path), QStringLiteral("[S]\r\nA=kg\r\nB=牛\r\n").toUtf8());

        // The same for a file of unknown bytes, and for the value written.
        writeFile("[S]\r\nA=\xFF\r\nB=\xC3\xA9\r\n");
        SettingsStore store(m_path);
        QCOMPARE(store.ReadString(s, QStringLiteral("B"), QString()), QStringLiteral("\u00C3\u00A9"));
        QVERIFY(store.WriteString(s, QStringLiteral("A"), QStringLiteral("\u00E9a")));
        SettingsStore fresh(m_path);
        QCOMPARE(fresh.ReadString(s, QStringLiteral("A"), QString()), QStringLiteral("\u00E9a"));
        QCOMPARE(fresh.ReadString(s, QStringLiteral("B"), QString()), QStringLiteral("\u00C3\u00A9"));

        // While the legacy bytes still tell the file apart, they stay.
        writeFile(toGb18030(QStringLiteral("[S]\r\n; 单位\r\nA=千克\r\nB=牛\r\n")));
        QVERIFY(SettingsStore(m_path).WriteString(s, QStringLiteral("A"), QStringLiteral("kg")));
        QCOMPARE(readBytes(m_path), toGb18030(QStringLiteral("[S]\r\n; 单位\r\nA=kg\r\nB=牛\r\n")));
    }

    void namesTheFileCannotHoldAreRefused()
    {
        // A legacy file holds Latin-1 only: a name beyond it is refused like
        // such a value, and the refused write does not block the next ones.
        writeFile("[S]\r\nK=\xFF\xFE\x81\r\n");
        SettingsStore store(m_path);
        const QString s = QStringLiteral("S");
        QVERIFY(!store.WriteString(s, QStringLiteral("单位"), QStringLiteral("kg")));
        QVERIFY(!store.WriteInteger(QStringLiteral("参数"), QStringLiteral("K2"), 1));
        QVERIFY(!store.lastError().isEmpty());
        QCOMPARE(store.ReadString(s, QStringLiteral("单位"), QStringLiteral("none")), QStringLiteral("none"));
        QVERIFY(store.WriteInteger(s, QStringLiteral("K2"), 7));
        QVERIFY(store.lastError().isEmpty());
        QCOMPARE(readBytes(m_path), QByteArray("[S]\r\nK=\xFF\xFE\x81\r\nK2=7\r\n"));

        // In UTF-8 only lone surrogates cannot be stored.
        writeFile("[S]\r\nK=1\r\n");
        SettingsStore utf8(m_path);
        QVERIFY(!utf8.WriteString(s, QString(QChar(0xDC00)), QStringLiteral("x")));
        QVERIFY(utf8.WriteString(s, QStringLiteral("单位"), QStringLiteral("公斤")));
        QCOMPARE(SettingsStore(m_path).ReadString(s, QStringLiteral("单位"), QString()),
                 QStringLiteral("公斤"));
    }

    void badNamesAndValuesAreRefused()
    {
        writeFile("[S]\r\nK=1\r\n");
        SettingsStore store(m_path);
        const QString s = QStringLiteral("S");
        const QString k = QStringLiteral("K");
        QVERIFY(!store.WriteString(QString(), k, QStringLiteral("x")));
        QVERIFY(!store.WriteString(QStringLiteral("a]b"), k, QStringLiteral("x")));
        QVERIFY(!store.WriteString(QStringLiteral(" S"), k, QStringLiteral("x")));
        QVERIFY(!store.WriteString(s, QStringLiteral("a=b"), QStringLiteral("x")));
        QVERIFY(!store.WriteString(s, QStringLiteral("; K"), QStringLiteral("x")));
        QVERIFY(!store.WriteString(s, QStringLiteral("[K"), QStringLiteral("x")));
        QVERIFY(!store.WriteString(s, k, QStringLiteral("two\r\nlines")));
        QVERIFY(!store.WriteString(s, k, QString(QChar(0xD800)))); // lone surrogate
        QVERIFY(!store.lastError().isEmpty());
        QCOMPARE(readBytes(m_path), QByteArray("[S]\r\nK=1\r\n"));
        QCOMPARE(store.ReadInteger(s, k, 0), 1);
        QVERIFY(store.WriteInteger(s, k, 2));
        QVERIFY(store.lastError().isEmpty());
    }

    void failedWritesKeepTheOldFileAndTheNewValue()
    {
        const QString section = SettingsKeys::SectionSystemParameters;

        // No such directory.
        SettingsStore lost(QDir(m_dir.path()).filePath(QStringLiteral("missing/Data.ini")));
        QVERIFY(!lost.WriteInteger(section, SettingsKeys::KeyBaud, 19200));
        QVERIFY(!lost.lastError().isEmpty());
        QCOMPARE(lost.ReadInteger(section, SettingsKeys::KeyBaud, 9600), 19200);

        // A file where the directory should be.
        writeFile("x");
        SettingsStore blocked(m_path + QStringLiteral("/Data.ini"));
        QVERIFY(!blocked.WriteInteger(section, SettingsKeys::KeyBaud, 19200));
        QVERIFY(!blocked.lastError().isEmpty());

        // The disk is full: the old file stays whole, the value stays in memory
        // and goes to the file with the next write that succeeds.
        const QByteArray original = "[System Parameters]\r\nBaud=9600\r\n; " + QByteArray(500, 'c') + "\r\n";
        writeFile(original);
        SettingsStore store(m_path);
        {
            FileSizeLimit full(64);
            QVERIFY(!store.WriteInteger(section, SettingsKeys::KeyBaud, 19200));
            QVERIFY(!store.WriteString(section, SettingsKeys::KeyMeasureUnit, QStringLiteral("N")));
        }
        QVERIFY(!store.lastError().isEmpty());
        QCOMPARE(readBytes(m_path), original);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{SettingsKeys::FileName});
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyBaud, 0), 19200);
        writeFile(original + "[Added Meanwhile]\r\nX=1\r\n"); // by another program
        QVERIFY(store.WriteInteger(section, SettingsKeys::KeyDecimal, 3));
        QVERIFY(store.lastError().isEmpty());
        SettingsStore reread(m_path);
        QCOMPARE(reread.ReadInteger(section, SettingsKeys::KeyBaud, 0), 19200);
        QCOMPARE(reread.ReadString(section, SettingsKeys::KeyMeasureUnit, QString()), QStringLiteral("N"));
        QCOMPARE(reread.ReadInteger(section, SettingsKeys::KeyDecimal, 0), 3);
        QCOMPARE(reread.ReadInteger(QStringLiteral("Added Meanwhile"), QStringLiteral("X"), 0), 1);

        // A file that exists but cannot be read is never overwritten.
        QVERIFY(QFile::remove(m_path));
        QVERIFY(QDir().mkdir(m_path));
        SettingsStore unreadable(m_path);
        QVERIFY(!unreadable.WriteInteger(section, SettingsKeys::KeyBaud, 19200));
        QVERIFY(QFileInfo(m_path).isDir());
    }

    void batchWritesTheFileOnce()
    {
        const QString section = SettingsKeys::SectionSystemParameters;
        const QByteArray original = "[System Parameters]\r\nBaud=9600\r\n";
        writeFile(original);
        SettingsStore store(m_path);
        {
            SettingsStore::Batch outer(store);
            QVERIFY(store.WriteInteger(section, SettingsKeys::KeyBaud, 19200));
            {
                SettingsStore::Batch inner(store);
                QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, QStringLiteral("kN")));
                QVERIFY(!store.WriteString(section, QStringLiteral("Bad=Key"), QStringLiteral("x")));
                QVERIFY(inner.commit());
            }
            QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyBaud, 0), 19200);
            QCOMPARE(readBytes(m_path), original);
            writeFile(original + "; added meanwhile\r\n"); // by another program
            QVERIFY(outer.commit());
            QVERIFY(outer.commit());
        }
        QCOMPARE(readBytes(m_path),
                 QByteArray("[System Parameters]\r\nBaud=19200\r\nMeasure Unit=kN\r\n; added meanwhile\r\n"));
        QCOMPARE(SettingsStore(m_path).ReadInteger(section, SettingsKeys::KeyBaud, 0), 19200);

        // Left by an exception: what the batch holds still goes to the file.
        try {
            SettingsStore::Batch batch(store);
            QVERIFY(store.WriteInteger(section, SettingsKeys::KeyDecimal, 4));
            throw std::runtime_error("cut short");
        } catch (const std::runtime_error &) {
        }
        QCOMPARE(SettingsStore(m_path).ReadInteger(section, SettingsKeys::KeyDecimal, 0), 4);

        // A commit that fails keeps the file and the values, which go out
        // with the next write that succeeds.
        const QByteArray before = readBytes(m_path);
        {
            SettingsStore::Batch batch(store);
            QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, QString(200, u'N')));
            FileSizeLimit full(16);
            QVERIFY(!batch.commit());
        }
        QVERIFY(!store.lastError().isEmpty());
        QCOMPARE(readBytes(m_path), before);
        QVERIFY(store.WriteInteger(section, SettingsKeys::KeyDecimal, 2));
        QCOMPARE(SettingsStore(m_path).ReadString(section, SettingsKeys::KeyMeasureUnit, QString()),
                 QString(200, u'N'));
    }

    void editsOfAnotherProgramAreKept()
    {
        const QString section = SettingsKeys::SectionSystemParameters;
        writeFile("[System Parameters]\r\nDecimal=1\r\n");
        SettingsStore store(m_path);
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyDecimal, 0), 1);

        writeFile("[System Parameters]\r\nDecimal=3\r\n; note\r\nBaud=4800\r\n");
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyDecimal, 0), 3);
        // Same size and maybe the same time stamp: a write still compares the content.
        writeFile("[System Parameters]\r\nDecimal=2\r\n; note\r\nBaud=4800\r\n");
        QVERIFY(store.WriteString(section, SettingsKeys::KeyMeasureUnit, QStringLiteral("t")));
        QCOMPARE(readBytes(m_path), QByteArray("[System Parameters]\r\nDecimal=2\r\n; note\r\nBaud=4800\r\n"
                                               "Measure Unit=t\r\n"));

        // Two stores on one file take turns without losing each other's keys.
        SettingsStore other(m_path);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(store.WriteInteger(QStringLiteral("A"), QStringLiteral("N%1").arg(i), i));
            QVERIFY(other.WriteInteger(QStringLiteral("B"), QStringLiteral("N%1").arg(i), i));
        }
        SettingsStore reread(m_path);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(reread.ReadInteger(QStringLiteral("A"), QStringLiteral("N%1").arg(i), -1), i);
            QCOMPARE(reread.ReadInteger(QStringLiteral("B"), QStringLiteral("N%1").arg(i), -1), i);
        }

        // The file removed while running: reads give the defaults again.
        QVERIFY(QFile::remove(m_path));
        QCOMPARE(store.ReadInteger(section, SettingsKeys::KeyDecimal, -1), -1);
    }

    void keyTable()
    {
        QCOMPARE(SettingsKeys::LinearPointSection(1), QStringLiteral("LinearPoint1"));
        QCOMPARE(SettingsKeys::LinearPointSection(9), QStringLiteral("LinearPoint9"));
        QCOMPARE(SettingsKeys::DefaultLinearPointPV(1), 0);
        QCOMPARE(SettingsKeys::DefaultLinearPointPV(2), 125000);
        QCOMPARE(SettingsKeys::DefaultLinearPointPV(9), 1000000);
        QVERIFY(QString(SettingsKeys::DefaultHomePage).endsWith(QStringLiteral("m      ")));
    }

    // A writer killed at random moments never leaves a torn file.
    void killedWriterLeavesAWholeFile()
    {
        constexpr int Kills = 60;
        constexpr int KeyCount = 12;
        constexpr int ValueLength = 1800;
        constexpr int MaxDelayMs = 50;
        const QString helper = QStringLiteral(TEST_HELPERS_DIR "/settings_writer");
        QVERIFY(QFileInfo::exists(helper));

        const QByteArray seed = "; operator note\r\n[Unknown Section]\r\nCustom Key = keep me\r\n";
        writeFile(seed);

        QRandomGenerator random(20240208);
        int lastRound = 0;
        int lastDone = 0;
        int progressed = 0;
        for (int kill = 0; kill < Kills; ++kill) {
            QProcess writer;
            writer.start(helper, {m_dir.path(), QString::number(KeyCount), QString::number(ValueLength)});
            QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
            QVERIFY(writer.waitForReadyRead(5000));
            QCOMPARE(writer.readLine().trimmed(), QByteArray("ready"));
            // Kill at a random moment after a random number of writes (at
            // least one): counted, not timed, so a slow writer (a loaded
            // machine, a sanitizer build) gets on between kills too.
            const int writes = 1 + int(random.bounded(KeyCount + 1));
            for (int seen = 0; seen < writes;) {
                QVERIFY2(writer.bytesAvailable() > 0 || writer.waitForReadyRead(5000),
                         writer.readAllStandardError().constData());
                while (seen < writes && writer.canReadLine())
                    seen += writer.readLine().trimmed() == "w" ? 1 : 0;
            }
            QThread::msleep(random.bounded(MaxDelayMs));
            QVERIFY2(writer.state() == QProcess::Running, writer.readAllStandardError().constData());
            writer.kill();
            QVERIFY(writer.waitForFinished(5000));

            const QByteArray bytes = readBytes(m_path);
            QVERIFY(bytes.startsWith(seed));
            QVERIFY(bytes.endsWith("\r\n"));

            SettingsStore store(m_path);
            QCOMPARE(
                store.ReadString(QStringLiteral("unknown section"), QStringLiteral("custom key"), QString()),
                QStringLiteral("keep me"));
            const int round = store.ReadInteger(QStringLiteral("Progress"), QStringLiteral("Round"), 0);
            QVERIFY(round >= lastRound);
            // Keys 0..done-1 hold this round's values, the rest the previous round's.
            int done = 0;
            for (int key = 0; key < KeyCount; ++key) {
                const QString section = QStringLiteral("Block %1").arg(key / 10);
                const QString value = store.ReadString(section, QStringLiteral("Key %1").arg(key), QString());
                if (value == WriterValue(round, key, ValueLength)) {
                    QCOMPARE(done, key);
                    ++done;
                } else if (round <= 1) {
                    QVERIFY2(value.isEmpty(), qPrintable(QStringLiteral("key %1 torn").arg(key)));
                } else {
                    QVERIFY2(value == WriterValue(round - 1, key, ValueLength),
                             qPrintable(QStringLiteral("key %1 torn").arg(key)));
                }
            }
            if (round != lastRound || done != lastDone)
                ++progressed;
            lastRound = round;
            lastDone = done;
        }
        // A kill between linking the finished temporary file and the rename can
        // leave it behind: rare, whole, and never read.
        const QStringList leftovers = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
        qInfo("%d kills, %d of them after progress, reached round %d, %lld temporary files left", Kills,
              progressed, lastRound, leftovers.size() - 1);
        QVERIFY(progressed >= Kills / 10); // the writer did get on between kills
        QVERIFY2(leftovers.size() <= 1 + Kills / 10, qPrintable(leftovers.join(u' ')));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
