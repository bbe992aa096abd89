#include "io/SettingsStore.h"

#include "io/FileReplacement.h"
#include "io/NumberText.h"
#include "io/Platform.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cmath>
#include <limits>

namespace
{

constexpr QChar CommentSemicolon = u';';
constexpr QChar CommentHash = u'#';
constexpr QChar SectionOpen = u'[';
constexpr QChar SectionClose = u']';
constexpr QChar KeyValueSeparator = u'=';
constexpr QChar Quote = u'"';
constexpr QChar HexDollarPrefix = u'$';
constexpr QStringView HexPrefix = u"0x"; // compared regardless of case
constexpr QStringView CrLf = u"\r\n";
constexpr QStringView Lf = u"\n";
constexpr QStringView Cr = u"\r";
constexpr QByteArrayView Utf8ByteOrderMark{"\xEF\xBB\xBF", 3};
constexpr const char *Gb18030Name = "GB18030";
constexpr char16_t LastLatin1Character = 0xFF;
constexpr int DecimalBase = 10;
constexpr int HexBase = 16;
constexpr qint64 IntegerMagnitudeLimit = qint64(std::numeric_limits<int>::max()) + 1;

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

/// ASCII digit value in the given base, -1 for anything else.
int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int digit = -1;
    if (u >= u'0' && u <= u'9')
        digit = u - u'0';
    else if (u >= u'a' && u <= u'f')
        digit = u - u'a' + DecimalBase;
    else if (u >= u'A' && u <= u'F')
        digit = u - u'A' + DecimalBase;
    return digit < base ? digit : -1;
}

/// Whole number in decimal, or hexadecimal after "0x", "0X" or "$", with an
/// optional sign in front. Fails on anything else and on values beyond int.
bool parseInteger(QStringView text, int &result)
{
    QStringView t = text.trimmed();
    bool negative = false;
    if (!t.isEmpty() && (t.front() == u'-' || t.front() == u'+')) {
        negative = t.front() == u'-';
        t = t.sliced(1);
    }
    int base = DecimalBase;
    if (t.startsWith(HexPrefix, Qt::CaseInsensitive)) {
        base = HexBase;
        t = t.sliced(HexPrefix.size());
    } else if (t.startsWith(HexDollarPrefix)) {
        base = HexBase;
        t = t.sliced(1);
    }
    if (t.isEmpty())
        return false;
    qint64 magnitude = 0;
    for (const QChar c : t) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > IntegerMagnitudeLimit)
            return false;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return false;
    result = int(value);
    return true;
}

/// Removes one pair of double quotes around an already trimmed value.
QString unquote(QStringView trimmed)
{
    if (trimmed.size() >= 2 && trimmed.front() == Quote && trimmed.back() == Quote)
        return trimmed.sliced(1, trimmed.size() - 2).toString();
    return trimmed.toString();
}

/// The text written after "=": quoted when reading would otherwise change it.
QString quoteIfNeeded(const QString &value)
{
    const bool outerBlanks = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    const bool looksQuoted = value.size() >= 2 && value.front() == Quote && value.back() == Quote;
    if (outerBlanks || looksQuoted)
        return Quote + value + Quote;
    return value;
}

/// At most MaxStringLength code units, never splitting a surrogate pair.
QString cutString(const QString &value)
{
    if (value.size() <= SettingsStore::MaxStringLength)
        return value;
    qsizetype length = SettingsStore::MaxStringLength;
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

QString checkSectionName(const QString &section)
{
    if (section.isEmpty() || section != section.trimmed())
        return QStringLiteral("section name \"%1\" is empty or has blanks at either end").arg(section);
    if (hasLineBreak(section) || section.contains(SectionClose))
        return QStringLiteral("section name \"%1\" contains a line break or \"]\"").arg(section);
    return {};
}

QString checkKeyName(const QString &key)
{
    if (key.isEmpty() || key != key.trimmed())
        return QStringLiteral("key \"%1\" is empty or has blanks at either end").arg(key);
    if (hasLineBreak(key) || key.contains(KeyValueSeparator))
        return QStringLiteral("key \"%1\" contains a line break or \"=\"").arg(key);
    const QChar first = key.front();
    if (first == SectionOpen || first == CommentSemicolon || first == CommentHash)
        return QStringLiteral("key \"%1\" would read as a section or comment").arg(key);
    return {};
}

} // namespace

SettingsStore::SettingsStore(const QString &filePath) : m_filePath(filePath)
{
    syncWithDisk();
}

bool SettingsStore::encodeText(const QString &text, Encoding encoding, QByteArray &bytes)
{
    if (encoding == Encoding::Latin1) {
        // Qt's Latin-1 encoder turns what it cannot store into "?" without an error.
        for (const QChar c : text) {
            if (c.unicode() > LastLatin1Character)
                return false;
        }
        bytes += text.toLatin1();
        return true;
    }
    QStringEncoder encoder = encoding == Encoding::Gb18030
                                 ? QStringEncoder(Gb18030Name, QStringConverter::Flag::Stateless)
                                 : QStringEncoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    bytes += encoder.encode(text);
    return !encoder.hasError();
}

// ---- reading ---------------------------------------------------------------

QString SettingsStore::ReadString(const QString &section, const QString &key, const QString &def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    return line ? cutString(line->value) : def;
}

int SettingsStore::ReadInteger(const QString &section, const QString &key, int def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    int value = 0;
    return line && parseInteger(line->value, value) ? value : def;
}

bool SettingsStore::ReadBool(const QString &section, const QString &key, bool def) const
{
    refreshIfChanged();
    const Line *line = findKey(section, key);
    int value = 0;
    return line && parseInteger(line->value, value) ? value != 0 : def;
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
    QString problem = checkSectionName(section);
    if (problem.isEmpty())
        problem = checkKeyName(key);
    if (problem.isEmpty() && hasLineBreak(value))
        problem = QStringLiteral("%1/%2: a value cannot contain a line break").arg(section, key);
    if (!problem.isEmpty()) {
        m_lastError = problem;
        return false;
    }

    // Take in what another program may have changed, so it is not overwritten.
    const bool fileReadable = syncWithDisk();

    // Names too: a pending write that cannot be encoded would make every
    // later write fail.
    if (QByteArray probe; !encodeText(section, m_doc.encoding, probe) ||
                          !encodeText(key, m_doc.encoding, probe) ||
                          !encodeText(value, m_doc.encoding, probe)) {
        m_lastError =
            QStringLiteral("%1/%2: the name or value cannot be stored in the file's character encoding")
                .arg(section, key);
        return false;
    }

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
    return writePending(fileReadable);
}

bool SettingsStore::writePending(bool fileReadable)
{
    if (!fileReadable)
        return failed(QStringLiteral("%1 exists but cannot be read; it is left as it is").arg(m_filePath));

    QByteArray bytes;
    if (QString error; !encode(bytes, error))
        return failed(error);
    if (m_disk.exists && bytes == m_disk.bytes) {
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
                line.text = line.text.left(valueStart) + quoteIfNeeded(write.value);
                line.value = write.value;
                return;
            }
            if (inFirstSection)
                insertAfter = i;
        }
    }

    Line keyLine{LineKind::Key, write.key + KeyValueSeparator + quoteIfNeeded(write.value), write.key,
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
    if (m_doc.encoding == Encoding::Utf8 && m_doc.byteOrderMark)
        bytes += Utf8ByteOrderMark;
    if (!encodeText(text, m_doc.encoding, bytes)) {
        error = QStringLiteral("%1: the settings cannot be stored in the file's character encoding")
                    .arg(m_filePath);
        return false;
    }
    if (m_doc.encoding != Encoding::Utf8) {
        Encoding readAs = Encoding::Utf8;
        bool byteOrderMark = false;
        if (decodeFile(bytes, readAs, byteOrderMark) != text) {
            // Read back, these bytes would give other text: keep the text and
            // write it in UTF-8, which always reads back as written.
            m_doc.encoding = Encoding::Utf8;
            m_doc.byteOrderMark = false;
            bytes.clear();
            if (!encodeText(text, Encoding::Utf8, bytes)) {
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

    m_disk.readable = true;
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
    // different stamp at the next check.
    const DiskStamp stamp = stampOnDisk();
    QByteArray bytes;
    bool exists = false;
    QFile file(m_filePath);
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        exists = true;
        if (file.error() != QFileDevice::NoError) {
            m_disk.readable = false;
            m_disk.stamp = stamp;
            return false;
        }
    } else if (QFileInfo::exists(m_filePath)) {
        m_disk.readable = false;
        m_disk.stamp = stamp;
        return false;
    }

    const bool firstLoad = m_doc.lines.empty() && !m_disk.exists && m_disk.bytes.isEmpty();
    if (firstLoad || !m_disk.readable || exists != m_disk.exists || bytes != m_disk.bytes) {
        parse(bytes);
        for (const PendingWrite &pending : m_pending)
            apply(pending);
    }
    m_disk.readable = true;
    m_disk.exists = exists;
    m_disk.bytes = bytes;
    m_disk.stamp = stamp;
    return true;
}

QString SettingsStore::decodeFile(const QByteArray &bytes, Encoding &encoding, bool &byteOrderMark)
{
    QByteArrayView data(bytes);
    byteOrderMark = data.startsWith(Utf8ByteOrderMark);
    if (byteOrderMark)
        data = data.sliced(Utf8ByteOrderMark.size());
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(data);
    encoding = Encoding::Utf8;
    if (!utf8.hasError())
        return text;

    byteOrderMark = false;
    QStringDecoder gb18030(Gb18030Name, QStringConverter::Flag::Stateless);
    if (gb18030.isValid()) {
        text = gb18030.decode(bytes);
        if (!gb18030.hasError()) {
            encoding = Encoding::Gb18030;
            return text;
        }
    }
    // Some other legacy encoding: keep every byte as it is.
    encoding = Encoding::Latin1;
    return QString::fromLatin1(bytes);
}

void SettingsStore::parse(const QByteArray &bytes) const
{
    Document doc;
    const QString text = decodeFile(bytes, doc.encoding, doc.byteOrderMark);

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
                line.value = unquote(QStringView(line.text).sliced(separator + 1).trimmed());
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

    m_doc = std::move(doc);
}
