// Where "Data.ini" lives: beside the executable when its directory takes new
// files, else per user, seeded once from a readable file beside the
// executable; and the About box that names the file in use.

#include "app/AboutBox.h"
#include "app/AppWindows.h"
#include "app/BuildInfo.h"
#include "app/MainUnit.h"
#include "io/SettingsLocation.h"

#include "ScriptedPrompter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{
const QByteArray InstallationValues = "[Communication]\r\nComPort=COM3\r\n";
const QByteArray LaterInstallationValues = "[Communication]\r\nComPort=COM9\r\n";
constexpr auto OpenDirectory = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                               QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
constexpr auto ClosedDirectory = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                 QFile::ReadOther | QFile::ExeOther;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString iniIn(const QString &dir)
{
    return QDir(dir).filePath(QStringLiteral("Data.ini"));
}
} // namespace

class TestSettingsLocation : public QObject
{
    Q_OBJECT

    bool m_permissionsIgnored = false; // running as root
    // A copy of the helper program that "nobody" can run wherever the build
    // tree lives (a clone under a private home directory, say).
    QTemporaryDir m_helperCopy;
    QString m_helper = QStringLiteral(TEST_HELPERS_DIR "/settings_location");

    /// The choice the program makes in a directory it cannot create files in:
    /// made by a child that runs as "nobody" when permission bits do not bind
    /// this process, else in the directory made read-only. Lines: file,
    /// "seeded" or "-", problem.
    QStringList resolveInClosedDirectory(const QString &executableDir, const QString &perUserDir)
    {
        const QString &helper = m_helper;
        QProcess child;
        if (m_permissionsIgnored) {
            // Another user may not read files under the build tree: no
            // sanitizer suppression file for the child (nor a leak check).
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("LSAN_OPTIONS"));
            environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
            child.setProcessEnvironment(environment);
            child.start(QStringLiteral("setpriv"),
                        {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                         QStringLiteral("--clear-groups"), helper, executableDir, perUserDir});
        } else {
            QFile::setPermissions(executableDir, ClosedDirectory);
            child.start(helper, {executableDir, perUserDir});
        }
        const bool finished = child.waitForFinished();
        QFile::setPermissions(executableDir, OpenDirectory);
        if (!finished || child.exitCode() != 0)
            return {QString::fromUtf8(child.readAllStandardError())};
        return QString::fromUtf8(child.readAllStandardOutput()).split(u'\n').mid(0, 3);
    }

private slots:
    void initTestCase()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("closed")));
        const QString closed = dir.filePath(QStringLiteral("closed"));
        QVERIFY(QFile::setPermissions(closed, ClosedDirectory));
        m_permissionsIgnored = QFile(closed + QStringLiteral("/probe")).open(QIODevice::WriteOnly);
        QVERIFY(QFile::setPermissions(closed, OpenDirectory));
        if (m_permissionsIgnored) {
            QVERIFY(m_helperCopy.isValid());
            const QString copy = m_helperCopy.filePath(QStringLiteral("settings_location"));
            QVERIFY(QFile::copy(m_helper, copy));
            QVERIFY(QFile::setPermissions(m_helperCopy.path(), OpenDirectory));
            QVERIFY(QFile::setPermissions(copy, OpenDirectory));
            m_helper = copy;
        }
    }

    void writableDirectoryKeepsTheFileBeside()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("program"));
        const QString perUser = dir.filePath(QStringLiteral("config/Kelvarin"));
        QVERIFY(QDir().mkpath(program));
        QVERIFY(writeFile(iniIn(program), InstallationValues));

        const SettingsLocation::Choice choice = SettingsLocation::Resolve(program, perUser);
        QCOMPARE(choice.filePath, iniIn(program));
        QVERIFY(!choice.perUser);
        QVERIFY(choice.problem.isEmpty());
        // The trial file is gone again; nothing was made per user.
        QCOMPARE(QDir(program).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Data.ini")});
        QVERIFY(!QFileInfo::exists(perUser));
    }

    void closedDirectorySeedsThePerUserFileOnce()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), OpenDirectory)); // the child may be another user
        const QString program = dir.filePath(QStringLiteral("program"));
        const QString home = dir.filePath(QStringLiteral("home"));
        const QString perUser = home + QStringLiteral("/.config/Kelvarin");
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QDir().mkpath(home));
        QVERIFY(writeFile(iniIn(program), InstallationValues));
        if (m_permissionsIgnored) {
            QCOMPARE(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("nobody:nogroup"), home}), 0);
        }

        QStringList first = resolveInClosedDirectory(program, perUser);
        QCOMPARE(first, (QStringList{iniIn(perUser), QStringLiteral("seeded"), QString()}));
        QCOMPARE(readFile(iniIn(perUser)), InstallationValues);

        // From now on the per-user file is the operator's: a change beside
        // the executable does not replace it.
        QVERIFY(writeFile(iniIn(program), LaterInstallationValues));
        QStringList second = resolveInClosedDirectory(program, perUser);
        QCOMPARE(second, (QStringList{iniIn(perUser), QStringLiteral("-"), QString()}));
        QCOMPARE(readFile(iniIn(perUser)), InstallationValues);
    }

    void noFileBesideSeedsNothing()
    {
        // A path that is a file, not a directory, takes no new files even for root.
        QTemporaryDir dir;
        const QString notADirectory = dir.filePath(QStringLiteral("program"));
        QVERIFY(writeFile(notADirectory, QByteArray()));
        const QString perUser = dir.filePath(QStringLiteral("config/Kelvarin"));

        const SettingsLocation::Choice choice = SettingsLocation::Resolve(notADirectory, perUser);
        QCOMPARE(choice.filePath, iniIn(perUser));
        QVERIFY(choice.perUser);
        QVERIFY(!choice.seeded);
        QVERIFY(choice.problem.isEmpty());
        QVERIFY(!QFileInfo::exists(iniIn(perUser))); // the first write makes it
    }

    void installedCopyKeepsSettingsPerUserAndNeverLosesTheInstallationValues()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(program));
        QVERIFY(writeFile(iniIn(program), InstallationValues));

        // Per user even though the directory takes files, seeded from beside.
        const QString perUser = dir.filePath(QStringLiteral("config/Kelvarin"));
        SettingsLocation::Choice choice = SettingsLocation::Resolve(program, perUser, false);
        QCOMPARE(choice.filePath, iniIn(perUser));
        QVERIFY(choice.seeded);
        QCOMPARE(readFile(iniIn(perUser)), InstallationValues);

        // No per-user directory can be made (its parent is a file): the file
        // beside stays in use, and the reason is given.
        const QString blocked = dir.filePath(QStringLiteral("blocked"));
        QVERIFY(writeFile(blocked, QByteArray()));
        choice = SettingsLocation::Resolve(program, blocked + QStringLiteral("/Kelvarin"), false);
        QCOMPARE(choice.filePath, iniIn(program));
        QVERIFY(!choice.perUser);
        QVERIFY(choice.problem.contains(blocked));
        QCOMPARE(readFile(iniIn(program)), InstallationValues);
    }

    void aboutBoxNamesVersionAndSettingsFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("somewhere/Data.ini"));
        AppWindows windows(AppWindows::SettingsFile{file});
        QCOMPARE(windows.settings().filePath(), file);

        ScriptedPrompter prompts;
        ShowAbout(windows.main(), BuildInfo::Version(), windows.settings().filePath());
        QCOMPARE(prompts.abouts.size(), 1);
        const QString text = prompts.abouts.constFirst();
        QVERIFY2(text.contains(QStringLiteral("智能变送器数据采集软件")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("1.4.0208")), qPrintable(text)); // the caption's V140208
        QVERIFY2(text.contains(QDir::toNativeSeparators(file)), qPrintable(text));
    }
};

QTEST_MAIN(TestSettingsLocation)
#include "tst_settingslocation.moc"
