#pragma once
// The few things the program asks of the operating system beyond Qt: durable
// file replacement, a cheap signature of a file, and backing new memory in one
// go. This is the only unit that includes system headers; elsewhere, or
// where a call is not offered, a portable Qt way (or nothing, for hints) is
// used, chosen when the program is built.

#include <QIODevice>
#include <QString>
#include <QtGlobal>

#include <cstddef>

class QFile;

namespace Platform
{
/// Signature of a file on disk, to notice changes made by other programs.
struct FileStamp {
    bool exists = false;
    qint64 size = -1;
    qint64 modified = 0; ///< nanoseconds where the system offers them
    qint64 changed = 0;
    quint64 fileId = 0;
    bool operator==(const FileStamp &) const = default;
};
FileStamp StampOf(const QString &path);

/// Asks the system to back the whole pages inside [p, p + bytes) with memory
/// at once rather than page by page on first touch. Only a hint.
void PrepareForWriting(void *p, std::size_t bytes);

/// Opens a file without a name in `directory` for writing, with the
/// permissions of `permissionsOf` when that file exists. Returns its handle,
/// or -1 where the system or the file system does not offer such files.
int OpenUnnamedFile(const QString &directory, const QString &permissionsOf);
/// Gives the unnamed file `handle` the name `temporary` (taking over a file
/// left there) and renames it over `target`. False with the reason in `error`.
bool NameUnnamedFile(int handle, const QString &temporary, const QString &target, QString *error);

void CloseHandle(int handle);

/// What a path names, symbolic links followed.
enum class FileKind { Missing, Regular, Directory, Fifo, Device, Socket, Unknown };
FileKind KindOf(const QString &path);
/// "a directory", "a FIFO", ...: for texts that say why a path was refused.
QString KindText(FileKind kind);

/// Opens `path` for reading (`mode` adds flags such as Unbuffered) only when
/// it is a regular file; a FIFO, a device, a directory or a socket in its
/// place is refused before it is opened, and the open itself never waits (a
/// FIFO swapped in meanwhile is found by the open handle and refused too).
/// False with the reason, naming the file, in `error`.
bool OpenRegularFile(const QString &path, QFile &file, QIODevice::OpenMode mode, QString *error);

enum class ReadOutcome { Read, Missing, NotRegular, TooLarge, Failed };
/// Reads a whole regular file of at most `maxBytes` (more is not read at
/// all: TooLarge). Anything but Read and Missing gives the reason in `error`.
ReadOutcome ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes, QString *error);

/// Flushes what was written through `handle` to the disk.
bool SyncHandle(int handle, QString *error);
/// Makes the latest renames in `directory` durable.
void SyncDirectory(const QString &directory);

// --- For a command-line program ----------------------------------------------
/// Whether the standard stream `fd` (0 input, 1 output, 2 error) is a terminal.
bool IsTerminal(int fd);
/// Writes `prompt` to standard error and reads one line from the terminal on
/// standard input with its echo off (restored afterwards). False when standard
/// input is no terminal or the input ended.
bool ReadSecretLine(const QString &prompt, QString &line);
/// Catches SIGINT and SIGTERM from now on: each one writes a byte to a pipe
/// whose read end (non-blocking, for a socket notifier) is returned; -1 where
/// the system offers no such pipe. Once per process.
int CatchStopSignals();
/// Empties the pipe of CatchStopSignals; true when a signal came.
bool TakeStopSignals(int handle);
} // namespace Platform
