// The settings store reading any file and writing values into it.
//
// Input: byte 0 chooses the default locale (bits 0-1) and whether there is a
// file at all (bit 7 set: none); bytes 1-2 give the file's length (little
// endian), then come the file's bytes, then write operations. Each operation
// is one byte (bits 0-1 what is written: text, integer, boolean, number;
// bits 2-3 and 4-5 where the section and the key name come from: a name in
// the file, a table of awkward names, UTF-8 or UTF-16 text from the input;
// bit 6: text values as UTF-16) followed by the names and the value.
//
// Properties, for every write:
// - a write with a proper section name, key and value succeeds; one that
//   could corrupt the file (line breaks, "=" or "]" in names, names that
//   would read as a section or comment, blanks at their ends, infinities)
//   is refused with a reason and leaves the file as it was;
// - what was written reads back equal, from this store and from a new store
//   reading the file (numbers within their 15 significant digits);
// - every other key reads as it did before, from a new store too, as text,
//   integer, boolean and number; integer and boolean reads of any value agree
//   with a reference of the whole-number rules, number reads are finite;
// - the file changes by one line replaced or up to three lines added; every
//   other line keeps its bytes.
#include "FuzzCheck.h"
#include "io/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace
{

constexpr std::uint8_t LocaleMask = 0x03;
constexpr std::uint8_t NoFileFlag = 0x80;
constexpr std::uint8_t KindMask = 0x03;
constexpr int SectionSourceShift = 2;
constexpr int KeySourceShift = 4;
constexpr std::uint8_t SourceMask = 0x03;
constexpr std::uint8_t Utf16ValueFlag = 0x40;
constexpr int MaxOperations = 8;
constexpr qsizetype MaxLinesReplaced = 1;
constexpr qsizetype MaxLinesAdded = 3; // a blank line, the section, the key
constexpr double RelativeTolerance = 6e-15;

enum class Kind { Text, Integer, Boolean, Number };
enum class NameSource { File, Table, Utf8, Utf16 };

const char16_t *const AwkwardNames[] = {
    u"Com Port",    u"COM PORT", u"System",  u"a=b",     u"=",   u"[x",       u"x]",    u"[x]",
    u"line\nbreak", u"cr\rhere", u" padded", u"padded ", u"",    u";comment", u"#hash", u"Ünïcödé",
    u"测量单位",    u"key",      u"KEY",     u"\t",      u"a;b", u"a#b",      u"\"q\"", u"nbsp\u00a0",
};

using Limits = std::numeric_limits<double>;
constexpr std::array<double, 12> SpecialNumbers = {0.0,
                                                   -0.0,
                                                   Limits::quiet_NaN(),
                                                   Limits::infinity(),
                                                   -Limits::infinity(),
                                                   Limits::max(),
                                                   -Limits::max(),
                                                   Limits::min(),
                                                   Limits::denorm_min(),
                                                   1.79769313486231e308,
                                                   0.1,
                                                   -2.5};

QString workDirectory()
{
    static const QString path = [] {
        // Every write is synced to the disk: prefer a memory file system.
        QDir base(QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                     : QDir::tempPath());
        // libFuzzer may end the process without running destructors: remove
        // what earlier runs, no longer alive, left behind.
        for (const QString &name : base.entryList({QStringLiteral("fuzz_settings-*")}, QDir::Dirs)) {
            const auto pid = pid_t(name.section(u'-', 1).toLongLong());
            if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
                QDir(base.filePath(name)).removeRecursively();
        }
        const QString own = base.filePath(QStringLiteral("fuzz_settings-%1").arg(::getpid()));
        FUZZ_CHECK(QDir().mkpath(own), "no temporary directory");
        return own;
    }();
    return path;
}

const QLocale &localeFor(std::uint8_t selector)
{
    static const std::array<QLocale, 4> locales = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                                   QLocale(QLocale::Chinese, QLocale::China),
                                                   QLocale(QLocale::Hebrew, QLocale::Israel)};
    return locales[selector & LocaleMask];
}

class ByteReader
{
public:
    ByteReader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }
    QByteArray bytes(std::size_t count)
    {
        count = std::min(count, m_size - std::min(m_at, m_size));
        QByteArray result(reinterpret_cast<const char *>(m_data + m_at), qsizetype(count));
        m_at += count;
        return result;
    }
    QString utf16(std::size_t count)
    {
        QString result;
        for (std::size_t i = 0; i < count && !atEnd(); ++i)
            result += QChar(char16_t(byte() | byte() << 8));
        return result;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

struct Entry {
    QString section;
    QString key;
};

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Section and key names as they stand in a file, roughly: enough to aim
// writes at existing keys and to know which keys to watch.
std::vector<Entry> entriesIn(const QByteArray &bytes)
{
    std::vector<Entry> entries;
    QString section;
    const QString text = QString::fromUtf8(bytes);
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        for (QStringView part : line.tokenize(u'\r')) {
            const QStringView t = part.trimmed();
            if (t.startsWith(u'[')) {
                const qsizetype close = t.indexOf(u']');
                if (close > 0)
                    section = t.sliced(1, close - 1).trimmed().toString();
            } else if (const qsizetype at = part.indexOf(u'=');
                       at > 0 && !t.startsWith(u';') && !t.startsWith(u'#') && !section.isEmpty()) {
                entries.push_back({section, part.first(at).trimmed().toString()});
            }
        }
    }
    return entries;
}

QString nameFrom(NameSource source, ByteReader &in, const std::vector<Entry> &entries, bool section)
{
    switch (source) {
    case NameSource::File:
        if (!entries.empty()) {
            const Entry &e = entries[in.byte() % entries.size()];
            return section ? e.section : e.key;
        }
        [[fallthrough]];
    case NameSource::Table:
        return QString::fromUtf16(AwkwardNames[in.byte() % std::size(AwkwardNames)]);
    case NameSource::Utf8:
        return QString::fromUtf8(in.bytes(in.byte() % 16));
    case NameSource::Utf16:
        return in.utf16(in.byte() % 8);
    }
    return {};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename Text> QList<Text> linesOf(const Text &text)
{
    QList<Text> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

bool validUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// The file's text by the file rules: UTF-8 (after a byte order mark), else
// GB18030, else every byte as Latin-1.
QString decodedFile(const QByteArray &bytes)
{
    if (validUtf8(bytes))
        return QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes);
    QStringDecoder gb18030("GB18030", QStringConverter::Flag::Stateless);
    const QString text = gb18030.decode(bytes);
    return gb18030.hasError() ? QString::fromLatin1(bytes) : text;
}

// Between the common head and tail of the two files, at most one old line and
// a few new lines.
template <typename Text> bool smallEdit(const Text &before, const Text &after)
{
    const QList<Text> a = linesOf(before);
    const QList<Text> b = linesOf(after);
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    const qsizetype removed = a.size() - head - tail;
    const qsizetype added = b.size() - head - tail;
    return removed <= MaxLinesReplaced && added <= MaxLinesReplaced + MaxLinesAdded;
}

// Other lines keep their bytes, or, where a legacy file had to be rewritten in
// UTF-8, their text.
void checkSmallEdit(const QByteArray &before, const QByteArray &after)
{
    const bool recoded = !validUtf8(before) && validUtf8(after);
    if (recoded ? smallEdit(decodedFile(before), decodedFile(after)) : smallEdit(before, after))
        return;
    std::fprintf(stderr, "before:\n%s\nafter:\n%s\n", before.toHex(' ').constData(),
                 after.toHex(' ').constData());
    FUZZ_CHECK(false, "a write changed other lines of the file");
}

bool hasLineBreak(const QString &s)
{
    return s.contains(u'\r') || s.contains(u'\n');
}

// A reader takes a file with other control characters for one no editor wrote.
bool hasControl(const QString &s)
{
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x20 && (u < u'\t' || u > u'\r') && u != 0x1A)
            return true;
    }
    return false;
}

bool properSection(const QString &s)
{
    return !s.isEmpty() && s == s.trimmed() && !hasLineBreak(s) && !hasControl(s) && !s.contains(u']');
}

bool properKey(const QString &k)
{
    return !k.isEmpty() && k == k.trimmed() && !hasLineBreak(k) && !hasControl(k) && !k.contains(u'=') &&
           !k.startsWith(u'[') && !k.startsWith(u';') && !k.startsWith(u'#');
}

bool hasLoneSurrogate(const QString &s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate())
            ++i;
        else if (s[i].isSurrogate())
            return true;
    }
    return false;
}

bool beyondLatin1(const QString &s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() > 0xFF; });
}

// A whole number by the store's rules, written independently: blanks around,
// an optional sign, decimal digits or hexadecimal ones after "0x", "0X" or
// "$", within int.
std::optional<int> referenceInteger(const QString &value)
{
    QString t = value.trimmed();
    const bool negative = t.startsWith(u'-');
    if (negative || t.startsWith(u'+'))
        t.remove(0, 1);
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith(u'$')) {
        base = 16;
        t.remove(0, 1);
    }
    if (t.isEmpty() || beyondLatin1(t))
        return std::nullopt;
    const QByteArray digits = t.toLatin1();
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(digits.cbegin(), digits.cend(), magnitude, base);
    if (error != std::errc() || end != digits.cend())
        return std::nullopt;
    const std::int64_t limit =
        negative ? -std::int64_t(std::numeric_limits<int>::min()) : std::numeric_limits<int>::max();
    if (magnitude > std::uint64_t(limit))
        return std::nullopt;
    return int(negative ? -std::int64_t(magnitude) : std::int64_t(magnitude));
}

// Every typed read of one key; reads that fall back to their default are
// told apart by reading with two defaults.
struct TypedReads {
    QString text;
    std::optional<int> integer;
    std::optional<bool> boolean;
    std::optional<double> number;
    bool operator==(const TypedReads &o) const
    {
        const bool sameNumber = number.has_value() == o.number.has_value() &&
                                (!number || std::memcmp(&*number, &*o.number, sizeof(double)) == 0);
        return text == o.text && integer == o.integer && boolean == o.boolean && sameNumber;
    }
};

template <typename T> std::optional<T> unlessDefault(T first, T second)
{
    return first == second ? std::optional<T>(first) : std::nullopt;
}

TypedReads readAll(const SettingsStore &store, const Entry &e)
{
    TypedReads r;
    r.text = store.ReadString(e.section, e.key, QStringLiteral("\x01missing"));
    r.integer = unlessDefault(store.ReadInteger(e.section, e.key, 1), store.ReadInteger(e.section, e.key, 2));
    r.boolean =
        unlessDefault(store.ReadBool(e.section, e.key, false), store.ReadBool(e.section, e.key, true));
    r.number = unlessDefault(store.ReadFloat(e.section, e.key, 1.5), store.ReadFloat(e.section, e.key, 2.5));
    FUZZ_CHECK(!r.number || std::isfinite(*r.number), "a number read as NaN or infinity");
    if (r.text.size() < SettingsStore::MaxStringLength && r.text != QStringLiteral("\x01missing")) {
        const std::optional<int> expected = referenceInteger(r.text);
        FUZZ_CHECK(r.integer == expected, "an integer read differs from the integer rules");
        FUZZ_CHECK(r.boolean == (expected ? std::optional<bool>(*expected != 0) : std::nullopt),
                   "a boolean read differs from the integer rules");
    }
    return r;
}

bool numberReadsBack(double written, double read)
{
    if (std::isnan(read))
        return false;
    return written == read || std::fabs(written - read) <= RelativeTolerance * std::fabs(written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    QLocale::setDefault(localeFor(data[0]));
    const QString path = workDirectory() + QStringLiteral("/Data.ini");
    ByteReader in(data + 3, size - 3);
    const QByteArray original = in.bytes(std::size_t(data[1] | data[2] << 8));
    QFile::remove(path);
    if (!(data[0] & NoFileFlag)) {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(original) == original.size(),
                   "cannot set up");
    }

    std::vector<Entry> entries = entriesIn(original);
    SettingsStore store(path);
    for (int op = 0; op < MaxOperations && !in.atEnd(); ++op) {
        const std::uint8_t code = in.byte();
        const auto kind = Kind(code & KindMask);
        const QString section =
            nameFrom(NameSource(code >> SectionSourceShift & SourceMask), in, entries, true);
        const QString key = nameFrom(NameSource(code >> KeySourceShift & SourceMask), in, entries, false);

        QString text;
        int integer = 0;
        bool boolean = false;
        double number = 0.0;
        switch (kind) {
        case Kind::Text:
            text =
                (code & Utf16ValueFlag) ? in.utf16(in.byte() % 64) : QString::fromUtf8(in.bytes(in.byte()));
            break;
        case Kind::Integer:
            integer = int(std::uint32_t(in.byte()) | std::uint32_t(in.byte()) << 8 |
                          std::uint32_t(in.byte()) << 16 | std::uint32_t(in.byte()) << 24);
            break;
        case Kind::Boolean:
            boolean = in.byte() & 1;
            break;
        case Kind::Number: {
            const std::uint8_t selector = in.byte();
            if (selector < SpecialNumbers.size()) {
                number = SpecialNumbers[selector];
            } else {
                const QByteArray raw = in.bytes(sizeof number).leftJustified(sizeof number, '\0');
                std::memcpy(&number, raw.constData(), sizeof number);
            }
            break;
        }
        }

        // What other keys read before the write, through a store of their own.
        const QByteArray before = fileBytes(path);
        const QString keptBefore = store.keptAsidePath();
        const bool existed = QFile::exists(path);
        std::vector<TypedReads> others;
        {
            const SettingsStore fresh(path);
            for (const Entry &e : entries)
                others.push_back(readAll(fresh, e));
        }

        bool written = false;
        switch (kind) {
        case Kind::Text:
            written = store.WriteString(section, key, text);
            break;
        case Kind::Integer:
            written = store.WriteInteger(section, key, integer);
            break;
        case Kind::Boolean:
            written = store.WriteBool(section, key, boolean);
            break;
        case Kind::Number:
            written = store.WriteFloat(section, key, number);
            break;
        }

        static const bool trace = qEnvironmentVariableIsSet("FUZZ_TRACE");
        if (trace)
            std::fprintf(stderr, "op %d kind %d section %s key %s text %s number %.17g: %d %s\n", op,
                         int(kind), section.toUtf8().toPercentEncoding().constData(),
                         key.toUtf8().toPercentEncoding().constData(),
                         text.toUtf8().toPercentEncoding().constData(), number, written,
                         qPrintable(store.lastError()));
        const bool proper = properSection(section) && properKey(key) &&
                            (kind != Kind::Text || (!hasLineBreak(text) && !hasControl(text))) &&
                            (kind != Kind::Number || std::isfinite(number));
        // Names and text the file's encoding cannot hold may be refused: lone
        // surrogates anywhere, characters beyond Latin-1 in a legacy file.
        const auto storable = [&original](const QString &s) {
            return !hasLoneSurrogate(s) && (!beyondLatin1(s) || validUtf8(original));
        };
        // Numbers too, where the locale writes signs beyond Latin-1 (Hebrew).
        const QLocale locale;
        const bool latin1Signs = !beyondLatin1(locale.negativeSign() + locale.positiveSign() +
                                               locale.exponential() + locale.decimalPoint());
        const bool encodable = storable(section) && storable(key) && (kind != Kind::Text || storable(text)) &&
                               (kind != Kind::Number || latin1Signs || validUtf8(original));
        if (!written && proper && encodable)
            std::fprintf(stderr, "section %s key %s: %s\n", section.toUtf8().toPercentEncoding().constData(),
                         key.toUtf8().toPercentEncoding().constData(),
                         store.lastError().toUtf8().toPercentEncoding(" /:\"").constData());
        if (!written && proper && encodable)
            std::fprintf(stderr, "value %s\nfile before: %s\n", text.toUtf8().toPercentEncoding().constData(),
                         before.toHex(' ').constData());
        if (!written) {
            FUZZ_CHECK(!store.lastError().isEmpty(), "a refused write without a reason");
            FUZZ_CHECK(!proper || !encodable, "a proper write was refused");
            FUZZ_CHECK(fileBytes(path) == before && QFile::exists(path) == existed,
                       "a refused write changed the file");
            continue;
        }
        FUZZ_CHECK(proper, "a write that could corrupt the file was accepted");
        FUZZ_CHECK(store.lastError().isEmpty(), "a write succeeded with a reason");

        const SettingsStore fresh(path);
        for (const SettingsStore *reader : {static_cast<const SettingsStore *>(&store), &fresh}) {
            switch (kind) {
            case Kind::Text:
                FUZZ_CHECK(reader->ReadString(section, key, QStringLiteral("\x01missing")) == text,
                           "text read back differs");
                break;
            case Kind::Integer:
                FUZZ_CHECK(reader->ReadInteger(section, key, ~integer) == integer,
                           "integer read back differs");
                break;
            case Kind::Boolean:
                FUZZ_CHECK(reader->ReadBool(section, key, !boolean) == boolean, "boolean read back differs");
                break;
            case Kind::Number:
                if (const double read = reader->ReadFloat(section, key, Limits::quiet_NaN());
                    !numberReadsBack(number, read)) {
                    std::fprintf(stderr, "wrote %.17g in %s, read %.17g\n", number,
                                 qPrintable(QLocale().name()), read);
                    FUZZ_CHECK(false, "number read back differs");
                }
                break;
            }
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const Entry &e = entries[i];
                if (sameName(e.section, section) && sameName(e.key, key))
                    continue;
                FUZZ_CHECK(readAll(*reader, e) == others[i], "a write changed another key");
            }
        }
        if (store.keptAsidePath() != keptBefore) {
            // A file the store could not read is kept aside byte for byte
            // before the first write; the new one starts afresh.
            FUZZ_CHECK(fileBytes(store.keptAsidePath()) == before, "a file kept aside lost bytes");
        } else {
            checkSmallEdit(before, fileBytes(path));
        }
        entries.push_back({section, key});
    }
    return 0;
}
