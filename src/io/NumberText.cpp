#include "io/NumberText.h"

#include <QStringView>

namespace
{
constexpr int DigitCount = 10;
constexpr QLatin1StringView Infinity("inf");
constexpr QLatin1StringView NotANumber("nan");

QLocale plainNumbers(const QLocale &locale)
{
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
}

// Qt's parser fails on numbers it wrote itself where the locale's signs or
// exponent are longer than one character (Arabic, Persian, Hebrew, Urdu: the
// signs carry a direction mark). Such a text is spelled out in plain ASCII,
// symbol by symbol of the locale, and read with the C locale. Anything that
// is not one of the locale's number symbols fails.
bool parseLocaleSymbols(QStringView text, double &value, const QLocale &locale)
{
    const QString negative = locale.negativeSign();
    const QString positive = locale.positiveSign();
    const QString exponent = locale.exponential();
    const QString point = locale.decimalPoint();
    const QString zero = locale.zeroDigit();
    // Locales whose symbols are single characters are Qt's alone to judge.
    if (negative.size() <= 1 && positive.size() <= 1 && exponent.size() <= 1)
        return false;
    if (negative.isEmpty() || positive.isEmpty() || exponent.isEmpty() || point.isEmpty() || zero.isEmpty())
        return false;
    const char32_t zeroCode = QStringView(zero).toUcs4().value(0);

    QByteArray ascii;
    for (qsizetype i = 0; i < text.size();) {
        const QStringView rest = text.sliced(i);
        if (rest.startsWith(negative)) {
            ascii += '-';
            i += negative.size();
        } else if (rest.startsWith(positive)) {
            ascii += '+';
            i += positive.size();
        } else if (rest.startsWith(point)) {
            ascii += '.';
            i += point.size();
        } else if (rest.startsWith(Infinity, Qt::CaseInsensitive) ||
                   rest.startsWith(NotANumber, Qt::CaseInsensitive)) {
            ascii += rest.first(Infinity.size()).toLatin1();
            i += Infinity.size();
        } else if (rest.startsWith(exponent, Qt::CaseInsensitive)) {
            ascii += 'e';
            i += exponent.size();
        } else {
            const bool pair = rest.size() > 1 && rest[0].isHighSurrogate() && rest[1].isLowSurrogate();
            const char32_t code = pair ? QChar::surrogateToUcs4(rest[0], rest[1]) : rest[0].unicode();
            if (code < zeroCode || code >= zeroCode + DigitCount)
                return false;
            ascii += char('0' + (code - zeroCode));
            i += pair ? 2 : 1;
        }
    }
    bool ok = false;
    const double parsed = QLocale::c().toDouble(QLatin1StringView(ascii), &ok);
    if (ok)
        value = parsed;
    return ok;
}
} // namespace

QString FormatGeneral15(double value, const QLocale &locale)
{
    if (value == 0.0)
        return QStringLiteral("0"); // no "-0"
    return plainNumbers(locale).toString(value, 'g', 15);
}

bool ParseLocaleDouble(const QString &text, double &value, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    bool ok = false;
    const double parsed = plainNumbers(locale).toDouble(trimmed, &ok);
    if (ok) {
        value = parsed;
        return true;
    }
    return parseLocaleSymbols(trimmed, value, locale);
}
