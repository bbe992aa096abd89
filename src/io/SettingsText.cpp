#include "io/SettingsText.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <limits>

namespace SettingsText
{
namespace
{
constexpr QChar Quote = u'"';
constexpr QChar HexDollarPrefix = u'$';
constexpr QStringView HexPrefix = u"0x"; // compared regardless of case
constexpr QByteArrayView Utf8ByteOrderMark{"\xEF\xBB\xBF", 3};
constexpr QByteArrayView Utf16LeByteOrderMark{"\xFF\xFE", 2};
constexpr QByteArrayView Utf16BeByteOrderMark{"\xFE\xFF", 2};
constexpr const char *Gb18030Name = "GB18030";
constexpr char16_t LastLatin1Character = 0xFF;
constexpr char16_t FirstPrintable = 0x20;
constexpr int DecimalBase = 10;
constexpr int HexBase = 16;
constexpr qint64 IntegerMagnitudeLimit = qint64(std::numeric_limits<int>::max()) + 1;

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

/// Text an editor could have written: no NUL and no control characters but
/// the blanks (TAB, LF, VT, FF, CR) and the old end-of-file mark (SUB).
bool isText(const QString &text)
{
    constexpr char16_t EndOfFileMark = 0x1A;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < FirstPrintable && (u < u'\t' || u > u'\r') && u != EndOfFileMark)
            return false;
    }
    return true;
}

bool decodeWith(QStringDecoder decoder, QByteArrayView bytes, QString &text)
{
    if (!decoder.isValid())
        return false;
    text = decoder.decode(bytes);
    return !decoder.hasError();
}
} // namespace

bool Decode(const QByteArray &bytes, QString &text, Encoding &encoding, bool &byteOrderMark)
{
    constexpr auto Stateless = QStringConverter::Flag::Stateless;
    const QByteArrayView data(bytes);
    byteOrderMark = true;
    if (data.startsWith(Utf16LeByteOrderMark) || data.startsWith(Utf16BeByteOrderMark)) {
        const bool little = data.startsWith(Utf16LeByteOrderMark);
        encoding = little ? Encoding::Utf16Le : Encoding::Utf16Be;
        const auto utf16 = little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
        return data.size() % 2 == 0 && decodeWith(QStringDecoder(utf16, Stateless), data.sliced(2), text) &&
               isText(text);
    }
    encoding = Encoding::Utf8;
    byteOrderMark = data.startsWith(Utf8ByteOrderMark);
    const QByteArrayView body = byteOrderMark ? data.sliced(Utf8ByteOrderMark.size()) : data;
    if (decodeWith(QStringDecoder(QStringConverter::Utf8, Stateless), body, text))
        return isText(text);

    byteOrderMark = false;
    if (decodeWith(QStringDecoder(Gb18030Name, Stateless), data, text)) {
        encoding = Encoding::Gb18030;
        return isText(text);
    }
    // Some other legacy encoding: keep every byte as it is.
    encoding = Encoding::Latin1;
    text = QString::fromLatin1(bytes);
    return isText(text);
}

bool EncodeText(const QString &text, Encoding encoding, QByteArray &bytes)
{
    constexpr auto Stateless = QStringConverter::Flag::Stateless;
    switch (encoding) {
    case Encoding::Latin1:
        // Qt's Latin-1 encoder turns what it cannot store into "?" without an error.
        for (const QChar c : text) {
            if (c.unicode() > LastLatin1Character)
                return false;
        }
        bytes += text.toLatin1();
        return true;
    case Encoding::Gb18030: {
        QStringEncoder encoder(Gb18030Name, Stateless);
        bytes += encoder.encode(text);
        return !encoder.hasError();
    }
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
        // A lone surrogate has no UTF-16 form that reads back as itself.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ++i;
            else if (c.isSurrogate())
                return false;
        }
        QStringEncoder encoder(
            encoding == Encoding::Utf16Le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE, Stateless);
        bytes += encoder.encode(text);
        return !encoder.hasError();
    }
    case Encoding::Utf8:
        break;
    }
    QStringEncoder encoder(QStringConverter::Utf8, Stateless);
    bytes += encoder.encode(text);
    return !encoder.hasError();
}

QByteArray ByteOrderMark(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return Utf8ByteOrderMark.toByteArray();
    case Encoding::Utf16Le:
        return Utf16LeByteOrderMark.toByteArray();
    case Encoding::Utf16Be:
        return Utf16BeByteOrderMark.toByteArray();
    case Encoding::Gb18030:
    case Encoding::Latin1:
        break;
    }
    return {};
}

bool ParseInteger(QStringView text, int &result)
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

QString Unquote(QStringView trimmed)
{
    if (trimmed.size() >= 2 && trimmed.front() == Quote && trimmed.back() == Quote)
        return trimmed.sliced(1, trimmed.size() - 2).toString();
    return trimmed.toString();
}

QString QuoteIfNeeded(const QString &value)
{
    const bool outerBlanks = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    const bool looksQuoted = value.size() >= 2 && value.front() == Quote && value.back() == Quote;
    if (outerBlanks || looksQuoted)
        return Quote + value + Quote;
    return value;
}

QString CutString(const QString &value, qsizetype length)
{
    if (value.size() <= length)
        return value;
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

bool IsFileText(const QString &text) { return isText(text); }

bool HasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

QString CheckSectionName(const QString &section)
{
    if (section.isEmpty() || section != section.trimmed())
        return QStringLiteral("section name \"%1\" is empty or has blanks at either end").arg(section);
    if (HasLineBreak(section) || section.contains(SectionClose) || !isText(section))
        return QStringLiteral("section name \"%1\" contains a line break, a control character or \"]\"")
            .arg(section);
    return {};
}

QString CheckKeyName(const QString &key)
{
    if (key.isEmpty() || key != key.trimmed())
        return QStringLiteral("key \"%1\" is empty or has blanks at either end").arg(key);
    if (HasLineBreak(key) || key.contains(KeyValueSeparator) || !isText(key))
        return QStringLiteral("key \"%1\" contains a line break, a control character or \"=\"").arg(key);
    const QChar first = key.front();
    if (first == SectionOpen || first == CommentSemicolon || first == CommentHash)
        return QStringLiteral("key \"%1\" would read as a section or comment").arg(key);
    return {};
}

} // namespace SettingsText
