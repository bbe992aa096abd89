#pragma once
// A spin edit whose value is its text read as a whole number: any integer
// text (or none) may be typed; an empty or non-numeric text reads as 0 (and an
// empty field stays empty when it loses the focus); a value outside the range
// is brought back into it when the field loses the focus, a value set by the
// program is always brought into range, and the arrows, the arrow keys, the
// page keys and the mouse wheel step only within the range.

#include <QLineEdit>
#include <QSpinBox>

class SpinEdit : public QSpinBox
{
    Q_OBJECT
public:
    explicit SpinEdit(QWidget *parent = nullptr);

    void setLimits(int minimum, int maximum);
    int lowerLimit() const { return m_min; }
    int upperLimit() const { return m_max; }

    /// The text read as a whole number; 0 when it is not one.
    qint64 textValue() const;
    /// textValue() brought into the range.
    int clampedValue() const;
    /// Sets the value, brought into the range.
    void setClampedValue(qint64 value);
    /// True when the text is a whole number.
    bool textIsInteger() const;
    /// The text field (for typing into it programmatically).
    QLineEdit *editor() const { return lineEdit(); }

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    int valueFromText(const QString &text) const override;
    void fixup(QString &input) const override;
    void focusOutEvent(QFocusEvent *event) override;
    void stepBy(int steps) override;
    StepEnabled stepEnabled() const override;

private:
    int m_min = 0;
    int m_max = 99;
};
