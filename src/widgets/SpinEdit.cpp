#include "widgets/SpinEdit.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>

namespace {
bool parseWhole(const QString &text, qint64 &value)
{
    bool ok = false;
    value = text.trimmed().toLongLong(&ok);
    return ok;
}
} // namespace

SpinEdit::SpinEdit(QWidget *parent) : QSpinBox(parent)
{
    // The widget range is wide so any number can be typed; the logical range
    // is applied on leaving the field and by the arrows.
    QSpinBox::setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    setLimits(0, 99);
}

void SpinEdit::setLimits(int minimum, int maximum)
{
    m_min = minimum;
    m_max = maximum;
    setClampedValue(textValue());
}

qint64 SpinEdit::textValue() const
{
    qint64 v = 0;
    return parseWhole(lineEdit()->text(), v) ? v : 0;
}

bool SpinEdit::textIsInteger() const
{
    qint64 v = 0;
    return parseWhole(lineEdit()->text(), v);
}

int SpinEdit::clampedValue() const { return int(std::clamp<qint64>(textValue(), m_min, m_max)); }

void SpinEdit::setClampedValue(qint64 value)
{
    const int v = int(std::clamp<qint64>(value, m_min, m_max));
    if (QSpinBox::value() != v || lineEdit()->text() != QString::number(v))
        setValue(v);
    if (lineEdit()->text() != QString::number(v))
        lineEdit()->setText(QString::number(v));
}

QValidator::State SpinEdit::validate(QString &input, int &) const
{
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-") || t == QLatin1String("+"))
        return QValidator::Intermediate;
    qint64 v = 0;
    if (!parseWhole(t, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return QValidator::Invalid;
    return QValidator::Acceptable;
}

int SpinEdit::valueFromText(const QString &text) const
{
    qint64 v = 0;
    parseWhole(text, v);
    return int(v);
}

void SpinEdit::fixup(QString &input) const
{
    // Keep an empty field empty: it reads as 0 until the focus leaves.
    Q_UNUSED(input);
}

void SpinEdit::focusOutEvent(QFocusEvent *event)
{
    const bool wasWhole = textIsInteger();
    QSpinBox::focusOutEvent(event);
    if (!wasWhole) {
        // An empty field (or a lone sign) reads as 0 and is left empty; the
        // base class would have put the previous value back.
        if (!lineEdit()->text().isEmpty())
            lineEdit()->clear();
        return;
    }
    setClampedValue(textValue());
}

void SpinEdit::stepBy(int steps)
{
    setClampedValue(qint64(clampedValue()) + steps);
    selectAll();
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    const int value = clampedValue();
    StepEnabled enabled = StepNone;
    if (value < m_max)
        enabled |= StepUpEnabled;
    if (value > m_min)
        enabled |= StepDownEnabled;
    return enabled;
}
