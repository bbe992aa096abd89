#include "io/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <cstdio>

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

#ifdef Q_OS_UNIX
namespace
{
FileKind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Directory;
    if (S_ISFIFO(mode))
        return FileKind::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::Device;
    if (S_ISSOCK(mode))
        return FileKind::Socket;
    return FileKind::Unknown;
}
} // namespace
#endif

FileKind KindOf(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Unknown;
    return kindOfMode(status.st_mode);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return FileKind::Missing;
    return info.isFile() ? FileKind::Regular : info.isDir() ? FileKind::Directory : FileKind::Unknown;
#endif
}

QString KindText(FileKind kind)
{
    switch (kind) {
    case FileKind::Missing:
        return QStringLiteral("missing");
    case FileKind::Regular:
        return QStringLiteral("a regular file");
    case FileKind::Directory:
        return QStringLiteral("a directory");
    case FileKind::Fifo:
        return QStringLiteral("a FIFO");
    case FileKind::Device:
        return QStringLiteral("a device");
    case FileKind::Socket:
        return QStringLiteral("a socket");
    case FileKind::Unknown:
        break;
    }
    return QStringLiteral("not a file");
}

namespace
{
bool refuse(const QString &path, FileKind kind, QString *error)
{
    if (error)
        *error = QStringLiteral("\"%1\" is not a regular file (it is %2).")
                     .arg(QDir::toNativeSeparators(path), KindText(kind));
    return false;
}
} // namespace

bool OpenRegularFile(const QString &path, QFile &file, QIODevice::OpenMode mode, QString *error)
{
    const FileKind kind = KindOf(path);
    if (kind != FileKind::Regular && kind != FileKind::Missing && kind != FileKind::Unknown)
        return refuse(path, kind, error);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\": %2")
                         .arg(QDir::toNativeSeparators(path), qt_error_string(errno));
        return false;
    }
    struct stat status {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return refuse(path, kindOfMode(status.st_mode), error);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly | mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("Cannot open file \"%1\": %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
#else
    if (kind != FileKind::Regular)
        return refuse(path, kind, error);
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly | mode))
        return true;
    if (error)
        *error = QStringLiteral("Cannot open file \"%1\": %2")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
#endif
}

ReadOutcome ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes, QString *error)
{
    bytes.clear();
    const FileKind kind = KindOf(path);
    if (kind == FileKind::Missing)
        return ReadOutcome::Missing;
    QFile file;
    if (!OpenRegularFile(path, file, QIODevice::NotOpen, error))
        return kind == FileKind::Regular || kind == FileKind::Unknown ? ReadOutcome::Failed
                                                                      : ReadOutcome::NotRegular;
    // One byte more than allowed tells a file that grew meanwhile.
    if (file.size() > maxBytes || (bytes = file.read(maxBytes + 1)).size() > maxBytes) {
        bytes.clear();
        if (error)
            *error = QStringLiteral("\"%1\" is larger than %2 bytes; it was not read.")
                         .arg(QDir::toNativeSeparators(path))
                         .arg(maxBytes);
        return ReadOutcome::TooLarge;
    }
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read file \"%1\": %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Read;
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

bool IsTerminal(int fd)
{
#ifdef Q_OS_UNIX
    return ::isatty(fd) == 1;
#else
    Q_UNUSED(fd);
    return false;
#endif
}

bool ReadSecretLine(const QString &prompt, QString &line)
{
#ifdef Q_OS_UNIX
    if (!IsTerminal(STDIN_FILENO))
        return false;
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        silent.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray bytes;
    char c = 0;
    ssize_t got = 0;
    while ((got = ::read(STDIN_FILENO, &c, 1)) == 1 && c != '\n')
        bytes.append(c);
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    line = QString::fromLocal8Bit(bytes);
    return got == 1 || !bytes.isEmpty();
#else
    Q_UNUSED(prompt);
    Q_UNUSED(line);
    return false;
#endif
}

#ifdef Q_OS_UNIX
namespace
{
int stopPipeWrite = -1;

extern "C" void WriteStopByte(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipeWrite, &byte, 1);
    errno = saved;
}
} // namespace
#endif

int CatchStopSignals()
{
#ifdef Q_OS_UNIX
    int ends[2];
    if (stopPipeWrite >= 0 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    stopPipeWrite = ends[1];
    struct sigaction action {
    };
    action.sa_handler = WriteStopByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return ends[0];
#else
    return -1;
#endif
}

bool TakeStopSignals(int handle)
{
#ifdef Q_OS_UNIX
    char bytes[64];
    bool any = false;
    while (::read(handle, bytes, sizeof bytes) > 0)
        any = true;
    return any;
#else
    Q_UNUSED(handle);
    return false;
#endif
}
} // namespace Platform
