#pragma once
// The settings file "Data.ini": an INI file of named sections holding
// key=value lines, read and written through typed operations with defaults.
//
// File rules
// - Line ends CR LF, LF or lone CR are read; a rewrite keeps the style the
//   file had (new files get CR LF).
// - Text is UTF-8 (a BOM is skipped and kept); a file whose bytes are not valid
//   UTF-8 is read as GB18030 and stays GB18030 when rewritten. Should a rewrite
//   in the legacy encoding read back as other text (once the bytes that told
//   it apart are gone, what is left may pass for UTF-8), the file is written
//   in UTF-8 instead. A file starting with a UTF-16 byte order mark (as some
//   editors save) is read as UTF-16 and rewritten in it, with the same mark.
//
// Files the program did not write
// - Only a regular file of at most SettingsKeys::MaxFileBytes is read. In
//   its place, a directory, FIFO, device or socket is never opened and never
//   replaced (reads give their defaults, writes fail); so is a file that
//   cannot be read.
// - A larger file, or one whose bytes are no text (NUL or control
//   characters, broken UTF-16), is not read either (the defaults apply). It
//   is never overwritten: the first write renames it to
//   "Data.ini.unreadable-<yyyyMMdd-HHmmss>" beside it (keptAsidePath()),
//   then writes a new file.
// - fileProblem() tells what was found, for the owner to tell the operator.
// - Section and key names match regardless of letter case; blanks around "=",
//   around a key and inside the brackets of a section name are ignored.
// - Lines starting with ";" or "#" are comments. There are no comments after a
//   value: everything after "=" belongs to the value.
// - A value with blanks at either end, or one that itself starts and ends with
//   a double quote, is written inside double quotes; one pair of surrounding
//   quotes is removed on reading.
// - A rewrite keeps every other line as it was: unknown sections, keys,
//   comments and their order.
// - When a section or key is present more than once, reads see the first
//   occurrence and writes change it.
//
// Reading and writing
// - Reads are served from a copy held in memory. The copy is loaded when the
//   store is created and reloaded when the file changed on disk (checked before
//   every read by size and time stamp, and by content before every write), so
//   edits made by another program while this one runs are seen and never
//   overwritten by a later write.
// - Every write reaches the file before the call returns. The whole file is
//   written to a temporary file in the same directory, flushed to the disk and
//   then renamed over "Data.ini", so a crash or a full disk leaves either the
//   old or the new complete file (see FileReplacement: a crash can leave one
//   ".Data.ini.saving" beside it, which the next write takes over).
// - A failed write returns false and gives the reason in lastError(). The new
//   value stays in memory (later reads return it) and is written again with the
//   next write that succeeds. A value the file's encoding cannot hold is
//   refused (reads keep the old value); either failure is reported to the
//   write-failure handler, and unsavedSettings() names the keys whose values
//   are not in the file, a refused one until a value of the key is stored.
// - Writes made while a Batch lives are kept in memory (reads see them at
//   once) and reach the file together in one replacement when the batch is
//   committed or ends: a crash leaves all of them in the file or none.
// - Nothing throws. Use from one thread only.

#include "io/Platform.h"
#include "io/SettingsKeys.h"
#include "io/SettingsText.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class SettingsStore
{
public:
    /// Longest string a read returns; longer stored values are cut.
    static constexpr qsizetype MaxStringLength = 2047;

    /// Opens the settings file at filePath (normally "<executable dir>/Data.ini").
    /// A missing or unreadable file is not an error: reads give their defaults
    /// and the first write creates the file.
    explicit SettingsStore(const QString &filePath);

    QString filePath() const { return m_filePath; }

    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    /// Decimal, or hexadecimal after "0x", "0X" or "$"; out of range or not a
    /// whole number gives def.
    int ReadInteger(const QString &section, const QString &key, int def) const;
    /// Read as an integer: non-zero is true, 0 is false, not a number gives def.
    bool ReadBool(const QString &section, const QString &key, bool def) const;
    /// Parsed with the decimal separator of QLocale(); an empty value, text that
    /// does not parse and infinities or NaN give def.
    double ReadFloat(const QString &section, const QString &key, double def) const;

    bool WriteString(const QString &section, const QString &key, const QString &value);
    bool WriteInteger(const QString &section, const QString &key, int value);
    bool WriteBool(const QString &section, const QString &key, bool value);
    /// Shortest general form with up to 15 significant digits and the decimal
    /// separator of QLocale(). Infinities and NaN are refused.
    bool WriteFloat(const QString &section, const QString &key, double value);

    /// A number of the key table, brought into its range (see
    /// SettingsKeys::IntegerSetting): the default for a missing or unreadable
    /// value, the nearest end of the range for one outside it.
    int Read(const SettingsKeys::IntegerSetting &setting) const;
    double Read(const SettingsKeys::FloatSetting &setting) const;

    /// True when the section holds at least one key.
    bool SectionExists(const QString &section) const;

    /// Why the last write failed; empty after a write that succeeded.
    QString lastError() const { return m_lastError; }
    /// "section/key" of every value not in the file: refused ones, and those
    /// waiting after a failed write.
    QStringList unsavedSettings() const;

    /// What was found at the file's place at the last look.
    enum class FileProblem { None, NotRegular, Unreadable, TooLarge, Undecodable };
    FileProblem fileProblem() const { return m_disk.problem; }
    /// The reason, naming the file; empty without a problem.
    QString fileProblemText() const { return m_disk.problemText; }
    /// Where a file this program could not read was moved; empty when none was.
    QString keptAsidePath() const { return m_keptAside; }
    /// Why it was moved (fileProblemText() at that time).
    QString keptAsideReason() const { return m_keptAsideReason; }

    /// Called after every write (or batch commit) that did not reach the
    /// file, with the file's path and the reason; the owner tells the operator.
    using WriteFailureHandler = std::function<void(const QString &filePath, const QString &reason)>;
    void setWriteFailureHandler(WriteFailureHandler handler) { m_onWriteFailure = std::move(handler); }

    /// Writes made during the batch's life go to the file as one. While it
    /// lives, a write only checks its names and value and holds the change
    /// (false and lastError() for what can never be stored). Batches may
    /// nest; the outermost one writes the file.
    class Batch
    {
    public:
        explicit Batch(SettingsStore &store);
        /// Commits what the batch holds, should commit() not have been called
        /// (as when an exception leaves the scope).
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        /// Ends the batch. The outermost batch writes the held changes to the
        /// file; false when that failed, with the reason in lastError() (the
        /// values stay in memory and go to the file with the next write that
        /// succeeds, as after any failed write). Later calls return true.
        bool commit();

    private:
        SettingsStore &m_store;
        bool m_open = true;
    };

private:
    enum class LineKind { Other, Section, Key };
    struct Line {
        LineKind kind = LineKind::Other;
        QString text;  ///< the line as it stands in the file, without its line end
        QString name;  ///< section name or key, trimmed
        QString value; ///< key lines: the value, unquoted
    };
    using Encoding = SettingsText::Encoding;
    enum class LineEnd { CrLf, Lf, Cr };
    struct PendingWrite {
        QString section;
        QString key;
        QString value;
    };
    /// Cheap signature of the file on disk, to notice changes made by others.
    using DiskStamp = Platform::FileStamp;

    bool writeValue(const QString &section, const QString &key, const QString &value);
    bool writePending(bool fileWritable);
    bool setAside();
    bool failed(QString reason);
    void refreshIfChanged() const;
    bool syncWithDisk() const;
    struct Document;
    static void parse(const QString &text, Document &doc);
    bool encode(QByteArray &bytes, QString &error) const;
    bool commit(const QByteArray &bytes);
    void apply(const PendingWrite &write) const;
    const Line *findKey(const QString &section, const QString &key) const;
    DiskStamp stampOnDisk() const;

    QString m_filePath;

    // The file's content as held in memory. Reads may reload it when the file
    // changed on disk, hence mutable.
    struct Document {
        std::vector<Line> lines;
        Encoding encoding = Encoding::Utf8;
        bool byteOrderMark = false;
        LineEnd lineEnd = LineEnd::CrLf;
    };
    mutable Document m_doc;

    // What the file held when this store last read or wrote it.
    struct DiskState {
        FileProblem problem = FileProblem::None;
        QString problemText;
        bool exists = false;
        QByteArray bytes;
        DiskStamp stamp;
    };
    mutable DiskState m_disk;
    mutable bool m_loaded = false; ///< the file has been looked at once

    QStringList m_refused; ///< "section/key" of values the encoding could not hold
    QString m_keptAside;
    QString m_keptAsideReason;

    std::vector<PendingWrite> m_pending; ///< changes not yet in the file
    int m_batchDepth = 0;                ///< Batch objects alive
    QString m_lastError;
    WriteFailureHandler m_onWriteFailure;
};
