#include "widgets/NumericEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace
{

constexpr int MaxDecimals = 15;
constexpr double Largest = std::numeric_limits<double>::max();

constexpr char16_t AsciiMinus = u'-';
constexpr char16_t MinusSign = u'\u2212';
constexpr char16_t FullwidthMinus = u'\uFF0D';
constexpr char16_t OpenParenthesis = u'(';
constexpr char16_t FullwidthOpenParenthesis = u'\uFF08';

bool isNegativeMark(QChar c, const QString &localeNegative)
{
    const char16_t u = c.unicode();
    if (u == AsciiMinus || u == MinusSign || u == FullwidthMinus || u == OpenParenthesis ||
        u == FullwidthOpenParenthesis)
        return true;
    return localeNegative.size() == 1 && c == localeNegative.front();
}

// A whole number or one with only zeros: shown without a sign.
bool showsZero(const QString &text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() && c.digitValue() != 0; });
}

} // namespace

// --- NumericFormat -------------------------------------------------------------

NumericFormat NumericFormat::fromPattern(const QString &pattern)
{
    NumericFormat f{false, 0, false};
    const qsizetype split = pattern.indexOf(u';');
    const QString positive = split < 0 ? pattern : pattern.left(split);
    const QString negative = split < 0 ? QString() : pattern.mid(split + 1).trimmed();
    f.grouped = positive.contains(u',');
    const qsizetype point = positive.indexOf(u'.');
    if (point >= 0) {
        for (qsizetype i = point + 1; i < positive.size(); ++i) {
            if (positive[i] != u'0' && positive[i] != u'#')
                break;
            ++f.decimals;
        }
    }
    f.decimals = std::min(f.decimals, MaxDecimals);
    f.negativeInParentheses = negative.startsWith(u'(');
    return f;
}

QString NumericFormat::pattern() const
{
    QString p = grouped ? QStringLiteral(",0") : QStringLiteral("0");
    if (decimals > 0)
        p += QLatin1Char('.') + QString(decimals, QLatin1Char('0'));
    if (negativeInParentheses)
        p += QLatin1String(";(") + p + QLatin1Char(')');
    return p;
}

// --- Pure rules ----------------------------------------------------------------

double NumericEdit::ParseNumericText(const QString &text, const QLocale &locale, bool *empty)
{
    const QString decimalPoint = locale.decimalPoint();
    const QString localeNegative = locale.negativeSign();

    bool negative = false;
    bool seenPoint = false;
    bool anyDigit = false;
    bool leadingZeros = true; // no significant digit before the point yet
    bool wholePart = false;   // a non-zero digit before the point
    std::string digits;
    digits.reserve(std::min<qsizetype>(text.size(), 1024) + 2);
    digits += '0'; // so ".5" and "" after the sign still read as numbers

    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!decimalPoint.isEmpty() && QStringView(text).mid(i).startsWith(decimalPoint)) {
            if (!seenPoint) {
                digits += '.';
                seenPoint = true;
            }
            i += decimalPoint.size() - 1;
        } else if (c.category() == QChar::Number_DecimalDigit) {
            const int d = c.digitValue();
            anyDigit = true;
            if (!seenPoint && leadingZeros && d == 0)
                continue; // keep the buffer short for texts of many zeros
            if (!seenPoint) {
                leadingZeros = false;
                wholePart = true;
            }
            digits += char('0' + d);
        } else if (isNegativeMark(c, localeNegative)) {
            negative = true;
        }
    }
    if (empty)
        *empty = !anyDigit;
    if (!anyDigit)
        return 0.0;

    double magnitude = 0.0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range)
        magnitude = wholePart ? Largest : 0.0;
    else if (error != std::errc() || !std::isfinite(magnitude))
        magnitude = wholePart ? Largest : 0.0;
    Q_UNUSED(end);
    return negative ? -magnitude : magnitude;
}

QString NumericEdit::FormatNumericText(double value, const NumericFormat &format, const QLocale &locale)
{
    if (std::isnan(value))
        value = 0.0;
    value = std::clamp(value, -Largest, Largest);
    const int decimals = std::clamp(format.decimals, 0, MaxDecimals);
    if (decimals == 0)
        value = std::round(value); // half away from zero

    QLocale l = locale;
    l.setNumberOptions(format.grouped ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    const QString magnitude = l.toString(std::fabs(value), 'f', decimals);
    if (!std::signbit(value) || showsZero(magnitude))
        return magnitude;
    if (format.negativeInParentheses)
        return QLatin1Char('(') + magnitude + QLatin1Char(')');
    return l.negativeSign() + magnitude;
}

// --- The field -------------------------------------------------------------------

NumericEdit::NumericEdit(QWidget *parent) : QLineEdit(parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(this, &QLineEdit::textChanged, this, &NumericEdit::noteValue);
}

void NumericEdit::setDisplayFormat(const NumericFormat &format)
{
    m_format = format;
    m_format.decimals = std::clamp(m_format.decimals, 0, MaxDecimals);
    if (!isEmpty())
        setValue(value());
}

void NumericEdit::setRange(double minimum, double maximum)
{
    m_minimum = minimum;
    m_maximum = maximum;
    m_checkRange = true;
    noteValue();
}

void NumericEdit::setMinimum(double minimum)
{
    m_minimum = minimum;
    noteValue();
}

void NumericEdit::setMaximum(double maximum)
{
    m_maximum = maximum;
    noteValue();
}

void NumericEdit::setCheckRange(bool on)
{
    m_checkRange = on;
    noteValue();
}

double NumericEdit::lowerBound() const
{
    return m_checkRange ? std::min(m_minimum, m_maximum) : 0.0;
}

double NumericEdit::boundedValue(double v) const
{
    if (!m_checkRange)
        return v;
    return std::clamp(v, std::min(m_minimum, m_maximum), std::max(m_minimum, m_maximum));
}

double NumericEdit::value() const
{
    bool empty = false;
    const double v = ParseNumericText(text(), locale(), &empty);
    return empty ? lowerBound() : v;
}

bool NumericEdit::isEmpty() const
{
    bool empty = false;
    ParseNumericText(text(), locale(), &empty);
    return empty;
}

qint64 NumericEdit::integerValue() const
{
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double Limit = 9223372036854775808.0;
    const double r = std::round(value());
    if (r >= Limit)
        return std::numeric_limits<qint64>::max();
    if (r < -Limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(r);
}

int NumericEdit::intValue() const
{
    return int(
        std::clamp<qint64>(integerValue(), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void NumericEdit::setValue(double v)
{
    const QString formatted = FormatNumericText(v, m_format, locale());
    if (formatted != text())
        setText(formatted);
}

void NumericEdit::commitEditing()
{
    setValue(boundedValue(value()));
}

void NumericEdit::focusOutEvent(QFocusEvent *event)
{
    if (event->reason() != Qt::PopupFocusReason)
        commitEditing();
    QLineEdit::focusOutEvent(event);
}

void NumericEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        commitEditing();
    QLineEdit::keyPressEvent(event);
}

void NumericEdit::noteValue()
{
    const double v = value();
    if (v == m_lastValue)
        return;
    m_lastValue = v;
    emit valueChanged(v);
}
