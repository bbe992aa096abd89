#include "app/FileReplacement.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
constexpr QLatin1String TemporaryPrefix{"."};
constexpr QLatin1String TemporarySuffix{".saving"};
constexpr int MaxLinkSteps = 40; // as the system's own limit on nested links
#ifdef Q_OS_LINUX
constexpr char OpenFileLinks[] = "/proc/self/fd/";
constexpr mode_t NewFileMode = 0666; // narrowed by the umask
constexpr mode_t PermissionBits = 07777;
#endif

QString FollowLinks(const QString &path)
{
    QFileInfo info(path);
    for (int step = 0; step < MaxLinkSteps && info.isSymLink(); ++step)
        info = QFileInfo(info.symLinkTarget());
    return info.absoluteFilePath();
}

#ifdef Q_OS_UNIX
/// Makes the latest renames in a directory durable.
void SyncDirectory(const QString &directory)
{
    const QByteArray name = QFile::encodeName(directory);
    if (const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif
} // namespace

FileReplacement::FileReplacement(const QString &path) : m_path(path), m_target(FollowLinks(path)) {}

FileReplacement::~FileReplacement()
{
    cancel();
}

QString FileReplacement::TemporaryPath(const QString &path)
{
    const QFileInfo target(FollowLinks(path));
    return QDir(target.absolutePath()).filePath(TemporaryPrefix + target.fileName() + TemporarySuffix);
}

bool FileReplacement::fail(const QString &reason)
{
    m_error = reason;
    cancel();
    return false;
}

bool FileReplacement::open()
{
    cancel();
    m_error.clear();
#ifdef Q_OS_LINUX
    // A file without a name needs /proc to be given one later.
    if (QFileInfo::exists(QLatin1String(OpenFileLinks))) {
        const QByteArray directory = QFile::encodeName(QFileInfo(m_target).absolutePath());
        const int fd = ::open(directory.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, NewFileMode);
        if (fd >= 0) {
            struct stat existing;
            if (::stat(QFile::encodeName(m_target).constData(), &existing) == 0)
                ::fchmod(fd, existing.st_mode & PermissionBits);
            if (m_unnamed.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                               QFileDevice::AutoCloseHandle)) {
                m_state = State::Unnamed;
                return true;
            }
            ::close(fd);
        }
        // Not offered by this file system: QSaveFile finds its own way, or
        // reports why there is none.
    }
#endif
    m_fallback = std::make_unique<QSaveFile>(m_path);
    if (!m_fallback->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(m_fallback->errorString());
    m_state = State::Fallback;
    return true;
}

QIODevice &FileReplacement::device()
{
    if (m_state == State::Fallback)
        return *m_fallback;
    return m_unnamed;
}

bool FileReplacement::commit()
{
    if (m_state == State::Closed)
        return fail(QStringLiteral("The file is not open."));
    const QString directory = QFileInfo(m_target).absolutePath();

    if (m_state == State::Fallback) {
        // Qt 6.4's commit() ignores a failed flush and does not sync: both
        // are done here first.
        if (!m_fallback->flush())
            return fail(m_fallback->errorString());
#ifdef Q_OS_UNIX
        if (::fsync(m_fallback->handle()) != 0)
            return fail(qt_error_string(errno));
#endif
        if (!m_fallback->commit())
            return fail(m_fallback->errorString());
        m_fallback.reset();
        m_state = State::Closed;
#ifdef Q_OS_UNIX
        SyncDirectory(directory);
#endif
        return true;
    }

#ifdef Q_OS_LINUX
    if (!m_unnamed.flush())
        return fail(m_unnamed.errorString());
    const int fd = m_unnamed.handle();
    if (::fsync(fd) != 0)
        return fail(qt_error_string(errno));

    const QByteArray source = OpenFileLinks + QByteArray::number(fd);
    const QByteArray temporary = QFile::encodeName(TemporaryPath(m_target));
    const QByteArray target = QFile::encodeName(m_target);
    // The name may be left from a run that ended before its rename: its
    // contents were never in use, so this replacement takes the name over.
    bool linked =
        ::linkat(AT_FDCWD, source.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked && errno == EEXIST && ::unlink(temporary.constData()) == 0)
        linked =
            ::linkat(AT_FDCWD, source.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked)
        return fail(qt_error_string(errno));
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return fail(qt_error_string(error));
    }
    m_unnamed.close();
    m_state = State::Closed;
    SyncDirectory(directory);
    return true;
#else
    return fail(QStringLiteral("The file is not open."));
#endif
}

void FileReplacement::cancel()
{
    if (m_state == State::Fallback)
        m_fallback->cancelWriting();
    m_fallback.reset();
    if (m_unnamed.isOpen())
        m_unnamed.close(); // a file without a name goes with its last handle
    m_state = State::Closed;
}
