#include "io/SettingsStore.h"

#include "io/FileReplacement.h"
#include "io/NumberText.h"
#include "io/Platform.h"
#include "io/SettingsKeys.h"
#include "io/SettingsText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>

using namespace SettingsText;

namespace
{
constexpr QStringView CrLf = u"\r\n";
constexpr QStringView Lf = u"\n";
constexpr QStringView Cr = u"\r";
constexpr QLatin1String SetAsideInfix{".unreadable-"};
constexpr QLatin1String SetAsideStamp{"yyyyMMdd-HHmmss"};

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString keyName(const QString &section, const QString &key)
{
    return section + u'/' + key;
}
} // namespace

SettingsStore::SettingsStore(const QString &filePath) : m_filePath(filePath)
{
    syncWithDisk();
}

// ---- reading ---------------------------------------------------------------

QString SettingsStore::ReadString(const QString &section, const QString &key, const QString &def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    return line ? CutString(line->value, MaxStringLength) : def;
}

int SettingsStore::ReadInteger(const QString &section, const QString &key, int def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    int value = 0;
    return line && ParseInteger(line->value, value) ? value : def;
}

bool SettingsStore::ReadBool(const QString &section, const QString &key, bool def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    int value = 0;
    return line && ParseInteger(line->value, value) ? value != 0 : def;
}

double SettingsStore::ReadFloat(const QString &section, const QString &key, double def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    double value = 0.0;
    if (line && ParseLocaleDouble(line->value, value, QLocale()) && std::isfinite(value))
        return value;
    return def;
}

int SettingsStore::Read(const SettingsKeys::IntegerSetting &setting) const
{
    return std::clamp(ReadInteger(setting.section, setting.key, setting.defaultValue), setting.minimum,
                      setting.maximum);
}

double SettingsStore::Read(const SettingsKeys::FloatSetting &setting) const
{
    return std::clamp(ReadFloat(setting.section, setting.key, setting.defaultValue), setting.minimum,
                      setting.maximum);
}

QStringList SettingsStore::unsavedSettings() const
{
    QStringList keys = m_refused;
    if (m_batchDepth == 0) {
        for (const PendingWrite &pending : m_pending) {
            if (!keys.contains(keyName(pending.section, pending.key), Qt::CaseInsensitive))
                keys << keyName(pending.section, pending.key);
        }
    }
    return keys;
}

bool SettingsStore::SectionExists(const QString &section) const
{
    refreshIfChanged();
    bool inSection = false;
    for (const Line &line : m_doc.lines) {
        if (line.kind == LineKind::Section)
            inSection = sameName(line.name, section);
        else if (inSection && line.kind == LineKind::Key)
            return true;
    }
    return false;
}

const SettingsStore::Line *SettingsStore::findKey(const QString &section, const QString &key) const
{
    bool inSection = false;
    for (const Line &line : m_doc.lines) {
        if (line.kind == LineKind::Section)
            inSection = sameName(line.name, section);
        else if (inSection && line.kind == LineKind::Key && sameName(line.name, key))
            return &line;
    }
    return nullptr;
}

// ---- writing ---------------------------------------------------------------

bool SettingsStore::WriteString(const QString &section, const QString &key, const QString &value)
{
    return writeValue(section, key, value);
}

bool SettingsStore::WriteInteger(const QString &section, const QString &key, int value)
{
    return writeValue(section, key, QString::number(value));
}

bool SettingsStore::WriteBool(const QString &section, const QString &key, bool value)
{
    return writeValue(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool SettingsStore::WriteFloat(const QString &section, const QString &key, double value)
{
    if (!std::isfinite(value)) {
        m_lastError = QStringLiteral("%1/%2: only finite numbers can be stored").arg(section, key);
        return false;
    }
    QString text = FormatGeneral15(value, QLocale());
    // Rounded to 15 digits, the very largest magnitudes exceed the largest
    // double and would read back as the default: they keep all their digits.
    if (double check = 0.0; !ParseLocaleDouble(text, check, QLocale()) || !std::isfinite(check)) {
        QLocale plain;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        text = plain.toString(value, 'g', QLocale::FloatingPointShortest);
    }
    return writeValue(section, key, text);
}

bool SettingsStore::writeValue(const QString &section, const QString &key, const QString &value)
{
    QString problem = CheckSectionName(section);
    if (problem.isEmpty())
        problem = CheckKeyName(key);
    if (problem.isEmpty() && (HasLineBreak(value) || !IsFileText(value)))
        problem = QStringLiteral("%1/%2: a value cannot contain a line break or a control character").arg(section, key);
    if (!problem.isEmpty()) {
        m_lastError = problem;
        return false;
    }

    // Take in what another program may have changed, so it is not overwritten.
    const bool fileWritable = syncWithDisk();

    // Names too: a pending write that cannot be encoded would make every
    // later write fail.
    // Such a value is lost for good: the operator is told, and the key
    // stays among the unsaved ones until a value of it is stored.
    if (QByteArray probe; !EncodeText(section, m_doc.encoding, probe) ||
                          !EncodeText(key, m_doc.encoding, probe) ||
                          !EncodeText(value, m_doc.encoding, probe)) {
        if (!m_refused.contains(keyName(section, key), Qt::CaseInsensitive))
            m_refused << keyName(section, key);
        return failed(
            QStringLiteral("%1/%2: the name or value cannot be stored in the file's character encoding")
                .arg(section, key));
    }
    m_refused.removeAll(keyName(section, key));

    const PendingWrite write{section, key, value};
    apply(write);
    bool replaced = false;
    for (PendingWrite &pending : m_pending) {
        if (sameName(pending.section, section) && sameName(pending.key, key)) {
            pending.value = value;
            replaced = true;
        }
    }
    if (!replaced)
        m_pending.push_back(write);

    if (m_batchDepth > 0) {
        m_lastError.clear();
        return true;
    }
    return writePending(fileWritable);
}

bool SettingsStore::writePending(bool fileWritable)
{
    if (!fileWritable)
        return failed(
            m_disk.problem == FileProblem::Unreadable
                ? QStringLiteral("%1 exists but cannot be read; it is left as it is").arg(m_filePath)
                : m_disk.problemText + QStringLiteral(" It is left as it is."));
    // A file this program cannot read is kept, byte for byte, under another
    // name before a new one takes its place.
    if ((m_disk.problem == FileProblem::TooLarge || m_disk.problem == FileProblem::Undecodable) &&
        !setAside())
        return failed(m_lastError);

    QByteArray bytes;
    if (QString error; !encode(bytes, error))
        return failed(error);
    if (m_disk.exists && m_disk.problem == FileProblem::None && bytes == m_disk.bytes) {
        m_pending.clear();
        m_lastError.clear();
        return true;
    }
    return commit(bytes) || failed(m_lastError);
}

bool SettingsStore::failed(QString reason)
{
    m_lastError = std::move(reason);
    if (m_onWriteFailure)
        m_onWriteFailure(m_filePath, m_lastError);
    return false;
}

SettingsStore::Batch::Batch(SettingsStore &store) : m_store(store)
{
    ++m_store.m_batchDepth;
}

SettingsStore::Batch::~Batch()
{
    commit();
}

bool SettingsStore::Batch::commit()
{
    if (!m_open)
        return true;
    m_open = false;
    if (--m_store.m_batchDepth > 0 || m_store.m_pending.empty())
        return true;
    // What another program changed meanwhile is taken in, as by any write.
    return m_store.writePending(m_store.syncWithDisk());
}

void SettingsStore::apply(const PendingWrite &write) const
{
    std::vector<Line> &lines = m_doc.lines;
    bool inSection = false;
    bool inFirstSection = false;
    qsizetype insertAfter = -1; // last line of the first matching section's keys
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        Line &line = lines[i];
        if (line.kind == LineKind::Section) {
            inSection = sameName(line.name, write.section);
            inFirstSection = inSection && insertAfter < 0;
            if (inFirstSection)
                insertAfter = i;
        } else if (inSection && line.kind == LineKind::Key) {
            if (sameName(line.name, write.key)) {
                // Keep the key's spelling and the blanks around "=" as they were.
                qsizetype valueStart = line.text.indexOf(KeyValueSeparator) + 1;
                while (valueStart < line.text.size() && line.text.at(valueStart).isSpace())
                    ++valueStart;
                line.text = line.text.left(valueStart) + QuoteIfNeeded(write.value);
                line.value = write.value;
                return;
            }
            if (inFirstSection)
                insertAfter = i;
        }
    }

    Line keyLine{LineKind::Key, write.key + KeyValueSeparator + QuoteIfNeeded(write.value), write.key,
                 write.value};
    if (insertAfter >= 0) {
        lines.insert(lines.begin() + insertAfter + 1, std::move(keyLine));
        return;
    }
    if (!lines.empty() && !lines.back().text.trimmed().isEmpty())
        lines.push_back(Line{});
    lines.push_back(Line{LineKind::Section, SectionOpen + write.section + SectionClose, write.section, {}});
    lines.push_back(std::move(keyLine));
}

bool SettingsStore::encode(QByteArray &bytes, QString &error) const
{
    QStringView lineEnd = CrLf;
    if (m_doc.lineEnd == LineEnd::Lf)
        lineEnd = Lf;
    else if (m_doc.lineEnd == LineEnd::Cr)
        lineEnd = Cr;

    QString text;
    qsizetype length = 0;
    for (const Line &line : m_doc.lines)
        length += line.text.size() + lineEnd.size();
    text.reserve(length);
    for (const Line &line : m_doc.lines) {
        text += line.text;
        text += lineEnd;
    }

    bytes.clear();
    if (m_doc.byteOrderMark)
        bytes += ByteOrderMark(m_doc.encoding);
    if (!EncodeText(text, m_doc.encoding, bytes)) {
        error = QStringLiteral("%1: the settings cannot be stored in the file's character encoding")
                    .arg(m_filePath);
        return false;
    }
    if (m_doc.encoding != Encoding::Utf8) {
        Encoding readAs = Encoding::Utf8;
        bool byteOrderMark = false;
        if (QString readBack; !Decode(bytes, readBack, readAs, byteOrderMark) || readBack != text) {
            // Read back, these bytes would give other text: keep the text and
            // write it in UTF-8, which always reads back as written.
            m_doc.encoding = Encoding::Utf8;
            m_doc.byteOrderMark = false;
            bytes.clear();
            if (!EncodeText(text, Encoding::Utf8, bytes)) {
                error = QStringLiteral("%1: the settings cannot be stored in UTF-8").arg(m_filePath);
                return false;
            }
        }
    }
    return true;
}

bool SettingsStore::commit(const QByteArray &bytes)
{
    // The new file is complete and on the disk before it takes the old one's
    // place; any failure leaves the old file as it was.
    FileReplacement file(m_filePath);
    QString failure;
    if (!file.open())
        failure = file.errorString();
    else if (file.device().write(bytes) != bytes.size())
        failure = file.device().errorString();
    else if (!file.commit())
        failure = file.errorString();
    if (!failure.isEmpty()) {
        m_lastError = QStringLiteral("%1: %2").arg(m_filePath, failure);
        return false;
    }

    m_disk.problem = FileProblem::None;
    m_disk.problemText.clear();
    m_disk.exists = true;
    m_disk.bytes = bytes;
    m_disk.stamp = stampOnDisk();
    m_pending.clear();
    m_lastError.clear();
    return true;
}

// ---- the file on disk ------------------------------------------------------

SettingsStore::DiskStamp SettingsStore::stampOnDisk() const
{
    return Platform::StampOf(m_filePath);
}

void SettingsStore::refreshIfChanged() const
{
    if (stampOnDisk() != m_disk.stamp)
        syncWithDisk();
}

bool SettingsStore::syncWithDisk() const
{
    // The stamp is taken first: a change made while reading shows up as a
    // different stamp at the next check. Only a regular file of a size this
    // program writes is read (Platform::ReadRegularFile): a FIFO or a device
    // in its place never blocks or floods it.
    const DiskStamp stamp = stampOnDisk();
    QByteArray bytes;
    QString reason;
    const Platform::ReadOutcome outcome =
        Platform::ReadRegularFile(m_filePath, SettingsKeys::MaxFileBytes, bytes, &reason);
    FileProblem problem = FileProblem::None;
    if (outcome == Platform::ReadOutcome::NotRegular)
        problem = FileProblem::NotRegular;
    else if (outcome == Platform::ReadOutcome::Failed)
        problem = FileProblem::Unreadable;
    else if (outcome == Platform::ReadOutcome::TooLarge)
        problem = FileProblem::TooLarge;
    if (problem == FileProblem::NotRegular || problem == FileProblem::Unreadable) {
        m_disk.problem = problem;
        m_disk.problemText = reason;
        m_disk.stamp = stamp;
        return false;
    }

    const bool exists = outcome != Platform::ReadOutcome::Missing;
    Document doc;
    QString text;
    if (problem == FileProblem::None && !Decode(bytes, text, doc.encoding, doc.byteOrderMark)) {
        problem = FileProblem::Undecodable;
        reason = QStringLiteral("\"%1\" is not text in an encoding this program reads.")
                     .arg(QDir::toNativeSeparators(m_filePath));
    }
    const bool firstLoad = !m_loaded;
    if (firstLoad || problem != m_disk.problem || exists != m_disk.exists || bytes != m_disk.bytes) {
        // A file that cannot be read is left out: the defaults apply.
        if (problem == FileProblem::None)
            parse(text, doc);
        m_doc = std::move(doc);
        for (const PendingWrite &pending : m_pending)
            apply(pending);
    }
    m_loaded = true;
    m_disk.problem = problem;
    m_disk.problemText = reason;
    m_disk.exists = exists;
    m_disk.bytes = bytes;
    m_disk.stamp = stamp;
    return true;
}

bool SettingsStore::setAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(SetAsideStamp);
    QString aside = m_filePath + SetAsideInfix + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_filePath + SetAsideInfix + stamp + u'-' + QString::number(n);
    if (!QFile::rename(m_filePath, aside)) {
        m_lastError = QStringLiteral("%1 cannot be read and cannot be kept aside as %2; it is left as it is")
                          .arg(QDir::toNativeSeparators(m_filePath), QDir::toNativeSeparators(aside));
        return false;
    }
    Platform::SyncDirectory(QFileInfo(m_filePath).absolutePath());
    m_keptAside = aside;
    m_keptAsideReason = m_disk.problemText;
    m_disk.problem = FileProblem::None;
    m_disk.exists = false;
    m_disk.bytes.clear();
    return true;
}

void SettingsStore::parse(const QString &text, Document &doc)
{
    bool lineEndSeen = false;
    qsizetype lineStart = 0;
    const qsizetype length = text.size();
    auto addLine = [&doc, &text](qsizetype from, qsizetype to) {
        Line line;
        line.text = text.mid(from, to - from);
        const QStringView trimmed = QStringView(line.text).trimmed();
        if (trimmed.isEmpty() || trimmed.front() == CommentSemicolon || trimmed.front() == CommentHash) {
            // blank line or comment
        } else if (trimmed.front() == SectionOpen) {
            const qsizetype close = trimmed.indexOf(SectionClose);
            if (close > 0) {
                line.kind = LineKind::Section;
                line.name = trimmed.sliced(1, close - 1).trimmed().toString();
            }
        } else if (const qsizetype separator = line.text.indexOf(KeyValueSeparator); separator >= 0) {
            const QStringView key = QStringView(line.text).first(separator).trimmed();
            if (!key.isEmpty()) {
                line.kind = LineKind::Key;
                line.name = key.toString();
                line.value = Unquote(QStringView(line.text).sliced(separator + 1).trimmed());
            }
        }
        doc.lines.push_back(std::move(line));
    };
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        addLine(lineStart, i);
        const bool crLf = c == u'\r' && i + 1 < length && text.at(i + 1) == u'\n';
        if (!lineEndSeen) {
            doc.lineEnd = crLf ? LineEnd::CrLf : (c == u'\r' ? LineEnd::Cr : LineEnd::Lf);
            lineEndSeen = true;
        }
        if (crLf)
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < length)
        addLine(lineStart, length);
}
