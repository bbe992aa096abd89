#include "widgets/ValueDisplay.h"

#include <QLocale>

#include <cmath>

void ValueDisplay::SetText(const QString &text)
{
    m_text = text;
    emit textChanged(text);
}

void ValueDisplay::ShowValue(std::int32_t raw, int decimal, const QString &unit)
{
    QString text;
    if (decimal > 0) {
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        text = locale.toString(double(raw) / std::pow(10.0, decimal), 'f', decimal);
    } else {
        text = QString::number(raw);
    }
    SetText(text + unit);
}
