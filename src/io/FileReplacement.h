#pragma once
// Replaces a file as a whole: a crash, a full disk or a failed write leaves
// either the old file or the complete new one, never a mix or a part.
//
// On Linux the new contents go to a file without a name in the target's
// directory, are flushed to the disk, then get the fixed name
// ".<file name>.saving" beside the target, which is renamed over the target
// at once; the directory is flushed too. A process killed between those two
// steps leaves only that one name behind (holding the complete new contents,
// never read), and the next replacement of the same file takes it over, so
// such files never pile up. Where files without a name are not available,
// QSaveFile does the work (its temporary files have random names).
//
// A symbolic link is followed: its target is replaced and the link stays. An
// existing file keeps its permissions; a new one gets the usual ones.

#include <QFile>
#include <QString>

#include <memory>

class QIODevice;
class QSaveFile;

class FileReplacement
{
public:
    explicit FileReplacement(const QString &path);
    /// Drops the new contents unless commit() succeeded.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    /// Opens the new contents for writing; the file itself is not touched.
    bool open();
    /// Where the new contents are written (unbuffered); valid after open().
    QIODevice &device();
    /// Flushes the new contents to the disk and puts them in the file's place.
    bool commit();
    /// Drops the new contents; the file stays as it was.
    void cancel();
    /// Why open() or commit() failed.
    QString errorString() const { return m_error; }

    /// The name the new contents get just before they replace `path`.
    static QString TemporaryPath(const QString &path);

private:
    enum class State { Closed, Unnamed, Fallback };

    bool fail(const QString &reason);

    QString m_path;   ///< as given
    QString m_target; ///< symbolic links followed
    State m_state = State::Closed;
    QFile m_unnamed;
    std::unique_ptr<QSaveFile> m_fallback;
    QString m_error;
};
