#include "io/Platform.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>

namespace Platform
{
namespace
{
#ifdef Q_OS_LINUX
constexpr char OpenFileLinks[] = "/proc/self/fd/";
constexpr mode_t NewFileMode = 0666; // narrowed by the umask
constexpr mode_t PermissionBits = 07777;
#endif
} // namespace

FileStamp StampOf(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    constexpr qint64 NanosecondsPerSecond = 1000000000;
    return {true, qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * NanosecondsPerSecond + status.st_mtim.tv_nsec,
            qint64(status.st_ctim.tv_sec) * NanosecondsPerSecond + status.st_ctim.tv_nsec,
            quint64(status.st_ino)};
#else
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {true, info.size(), info.lastModified().toMSecsSinceEpoch(),
            info.metadataChangeTime().toMSecsSinceEpoch(), 0};
#endif
}

void PrepareForWriting(void *p, std::size_t bytes)
{
#if defined(Q_OS_UNIX) && defined(MADV_POPULATE_WRITE)
    static const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
#else
    Q_UNUSED(p);
    Q_UNUSED(bytes);
#endif
}

int OpenUnnamedFile(const QString &directory, const QString &permissionsOf)
{
#ifdef Q_OS_LINUX
    // A file without a name needs /proc to be given one later.
    if (!QFileInfo::exists(QLatin1String(OpenFileLinks)))
        return -1;
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, NewFileMode);
    if (fd < 0)
        return -1;
    struct stat existing;
    if (::stat(QFile::encodeName(permissionsOf).constData(), &existing) == 0)
        ::fchmod(fd, existing.st_mode & PermissionBits);
    return fd;
#else
    Q_UNUSED(directory);
    Q_UNUSED(permissionsOf);
    return -1;
#endif
}

bool NameUnnamedFile(int handle, const QString &temporary, const QString &target, QString *error)
{
#ifdef Q_OS_LINUX
    const QByteArray source = OpenFileLinks + QByteArray::number(handle);
    const QByteArray temporaryName = QFile::encodeName(temporary);
    const QByteArray targetName = QFile::encodeName(target);
    // The name may be left from a run that ended before its rename: its
    // contents were never in use, so this replacement takes the name over.
    bool linked =
        ::linkat(AT_FDCWD, source.constData(), AT_FDCWD, temporaryName.constData(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked && errno == EEXIST && ::unlink(temporaryName.constData()) == 0)
        linked = ::linkat(AT_FDCWD, source.constData(), AT_FDCWD, temporaryName.constData(),
                          AT_SYMLINK_FOLLOW) == 0;
    if (!linked) {
        *error = qt_error_string(errno);
        return false;
    }
    if (::rename(temporaryName.constData(), targetName.constData()) != 0) {
        *error = qt_error_string(errno);
        ::unlink(temporaryName.constData());
        return false;
    }
    return true;
#else
    Q_UNUSED(handle);
    Q_UNUSED(temporary);
    Q_UNUSED(target);
    *error = QStringLiteral("Files without a name are not offered here.");
    return false;
#endif
}

void CloseHandle(int handle)
{
#ifdef Q_OS_UNIX
    ::close(handle);
#else
    Q_UNUSED(handle);
#endif
}

bool SyncHandle(int handle, QString *error)
{
#ifdef Q_OS_UNIX
    if (::fsync(handle) != 0) {
        *error = qt_error_string(errno);
        return false;
    }
#else
    // QSaveFile's own commit is all the portable way offers.
    Q_UNUSED(handle);
    Q_UNUSED(error);
#endif
    return true;
}

void SyncDirectory(const QString &directory)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(directory);
    if (const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(directory);
#endif
}
} // namespace Platform
