#include "app/NumberText.h"

namespace {
QLocale plainNumbers(const QLocale &locale)
{
    QLocale l = locale;
    l.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return l;
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
    if (ok)
        value = parsed;
    return ok;
}
