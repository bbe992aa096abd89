#include "io/FileReplacement.h"

#include "io/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace
{
constexpr QLatin1String TemporaryPrefix{"."};
constexpr QLatin1String TemporarySuffix{".saving"};
constexpr int MaxLinkSteps = 40; // as the system's own limit on nested links

QString FollowLinks(const QString &path)
{
    QFileInfo info(path);
    for (int step = 0; step < MaxLinkSteps && info.isSymLink(); ++step)
        info = QFileInfo(info.symLinkTarget());
    return info.absoluteFilePath();
}
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
    const int fd = Platform::OpenUnnamedFile(QFileInfo(m_target).absolutePath(), m_target);
    if (fd >= 0) {
        if (m_unnamed.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            m_state = State::Unnamed;
            return true;
        }
        Platform::CloseHandle(fd);
    }
    // Not offered here: QSaveFile finds its own way, or reports why there is none.
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
        if (QString error; !Platform::SyncHandle(m_fallback->handle(), &error))
            return fail(error);
        if (!m_fallback->commit())
            return fail(m_fallback->errorString());
        m_fallback.reset();
        m_state = State::Closed;
        Platform::SyncDirectory(directory);
        return true;
    }

    if (!m_unnamed.flush())
        return fail(m_unnamed.errorString());
    QString error;
    if (!Platform::SyncHandle(m_unnamed.handle(), &error) ||
        !Platform::NameUnnamedFile(m_unnamed.handle(), TemporaryPath(m_target), m_target, &error))
        return fail(error);
    m_unnamed.close();
    m_state = State::Closed;
    Platform::SyncDirectory(directory);
    return true;
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
