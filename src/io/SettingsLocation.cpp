#include "io/SettingsLocation.h"

#include "io/FileReplacement.h"
#include "io/Platform.h"
#include "io/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace
{
constexpr QLatin1String ProbePattern{".Data.ini.probe-XXXXXX"};
// The copy is completed under this name and only then given the file's name.
constexpr QLatin1String SeedName{".Data.ini.seed"};

// Only a regular file of a size the program writes is copied: a FIFO or a
// device in its place is never opened, a huge file never read.
bool ReadWhole(const QString &path, QByteArray &bytes, QString &problem)
{
    QString reason;
    if (Platform::ReadRegularFile(path, SettingsKeys::MaxFileBytes, bytes, &reason) ==
        Platform::ReadOutcome::Read)
        return true;
    problem = QStringLiteral("cannot read \"%1\": %2").arg(path, reason);
    return false;
}

/// Creates `target` with `bytes` unless it exists. True when `target` exists
/// afterwards (made now or found); `made` tells which.
bool CreateOnce(const QString &target, const QByteArray &bytes, bool &made, QString &problem)
{
    made = false;
    const QString directory = QFileInfo(target).absolutePath();
    const QString staging = QDir(directory).filePath(SeedName);
    FileReplacement out(staging);
    if (!out.open() || out.device().write(bytes) != bytes.size() || !out.commit()) {
        const QString reason = out.errorString().isEmpty() ? out.device().errorString() : out.errorString();
        problem = QStringLiteral("cannot write \"%1\": %2").arg(staging, reason);
        return false;
    }
    // A rename that never replaces: should another copy of the program have
    // made the file meanwhile, that one stays.
    if (!QFile::rename(staging, target)) {
        QFile::remove(staging);
        if (QFileInfo::exists(target))
            return true;
        problem = QStringLiteral("cannot create \"%1\"").arg(target);
        return false;
    }
    Platform::SyncDirectory(directory);
    made = true;
    return true;
}
} // namespace

namespace SettingsLocation
{
bool TakesNewFiles(const QString &directory)
{
    if (!QFileInfo(directory).isDir())
        return false;
    QTemporaryFile probe(QDir(directory).filePath(ProbePattern));
    return probe.open(); // removed again when the probe goes
}

Choice Resolve(const QString &executableDir, const QString &perUserDir, bool besideAllowed)
{
    Choice choice;
    const QString beside = QDir(executableDir).filePath(SettingsKeys::FileName);
    if (besideAllowed && TakesNewFiles(executableDir)) {
        choice.filePath = beside;
        return choice;
    }

    if (perUserDir.isEmpty()) {
        choice.filePath = beside;
        choice.problem = QStringLiteral("no per-user configuration directory is known");
        return choice;
    }
    const QString perUser = QDir(perUserDir).filePath(SettingsKeys::FileName);
    choice.filePath = perUser;
    choice.perUser = true;
    if (QFileInfo::exists(perUser))
        return choice;

    // An unreadable file beside the executable cannot carry over; the
    // per-user file starts without it.
    QByteArray seed;
    const bool seedRead = QFileInfo::exists(beside) && ReadWhole(beside, seed, choice.problem);
    if (!QDir().mkpath(perUserDir))
        choice.problem = QStringLiteral("cannot create the directory \"%1\"").arg(perUserDir);
    else if (!seedRead || CreateOnce(perUser, seed, choice.seeded, choice.problem))
        return choice;

    // No per-user copy could be made: the values beside the executable stay
    // in force; writes to them fail and are reported.
    if (seedRead) {
        choice.filePath = beside;
        choice.perUser = false;
    }
    return choice;
}
} // namespace SettingsLocation
