#pragma once
// A numeric edit: a line edit whose value is its text read as a number.
//
// Reading the text (ParseNumericText)
// - Only digits and the locale's decimal separator count; every other
//   character (group separators, blanks, letters, units) is dropped.
//   "1,234" reads 1234 in a locale whose decimal separator is "."; in German
//   "1.234,5" reads 1234.5.
// - A "-" or "(" anywhere makes the value negative: "(1,234)", "1-2" (-12).
// - The first decimal separator starts the fraction; later ones are dropped.
// - A text with no digit at all ("", "-", "abc") is empty: value() then reads
//   the field's lower bound (minimum() when the range check is on, else 0).
// - Any length is safe: more significant digits than a double holds are
//   rounded; a number beyond the double range reads as the largest finite
//   double (with its sign), one too small to represent reads as 0.
//
// Writing the text (FormatNumericText), by the display format:
// - ",0"      whole number, thousands grouped: 1234.5 -> "1,235", -7 -> "-7"
// - ",0;(,0)" the same with negatives in parentheses: -1234 -> "(1,234)"
// - "0.0000"  fixed decimals (as many as there are zeros after the point),
//             no grouping: 1 -> "1.0000"; ",0.00" adds grouping.
//   Whole numbers round half away from zero; a value that rounds to zero is
//   shown without a sign. Separators are those of the widget's locale().
//
// Behaviour of the field
// - setValue() rewrites the text in the display format. It does not apply the
//   range check (a program may show a value outside the range).
// - Leaving the field (focus out, except to a popup menu) and Return/Enter
//   run commitEditing(): the value (an empty field: its lower bound) is brought
//   into [minimum, maximum] when the range check is on, and the text is
//   rewritten in the display format. Then editingFinished() is emitted.
// - valueChanged(double) is emitted whenever value() changes, by typing or by
//   the program.
// - Text is right-aligned by default.
//
// In Qt Designer: promote a QLineEdit to "NumericEdit" with header
// "widgets/NumericEdit.h"; the properties displayFormat (string), minimum,
// maximum, checkRange and value may be set in the form.

#include <QLineEdit>
#include <QLocale>
#include <QString>

/// A display format of NumericEdit.
struct NumericFormat {
    /// Thousands grouping with the locale's group separator.
    bool grouped = true;
    /// Digits after the decimal separator, 0..15; 0 shows whole numbers.
    int decimals = 0;
    /// Negative values as "(1,234)" instead of "-1,234".
    bool negativeInParentheses = false;

    /// ",0": whole number with thousands grouping.
    static constexpr NumericFormat Grouped() { return {true, 0, false}; }
    /// ",0;(,0)": whole number, thousands grouping, negatives in parentheses.
    static constexpr NumericFormat GroupedParentheses() { return {true, 0, true}; }
    /// "0.0000" for decimals = 4: fixed decimals, no grouping.
    static constexpr NumericFormat Fixed(int decimals) { return {false, decimals, false}; }

    /// Reads a pattern: "," in the first section turns grouping on, the zeros
    /// (or "#") after "." give the decimals, a second section after ";" that
    /// starts with "(" puts negatives in parentheses. ",0", ",0;(,0)", "0.0000".
    static NumericFormat fromPattern(const QString &pattern);
    /// The pattern that fromPattern() reads back to this format.
    QString pattern() const;

    friend bool operator==(const NumericFormat &, const NumericFormat &) = default;
};

class NumericEdit : public QLineEdit
{
    Q_OBJECT
    Q_PROPERTY(QString displayFormat READ displayFormatPattern WRITE setDisplayFormat)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(bool checkRange READ checkRange WRITE setCheckRange)
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged USER true)

public:
    using Format = NumericFormat;

    explicit NumericEdit(QWidget *parent = nullptr);

    // --- Pure rules (no widget needed) ------------------------------------
    /// The number a text stands for, by the rules above. *empty (if given) is
    /// set to whether the text holds no digit; the result is then 0.
    static double ParseNumericText(const QString &text, const QLocale &locale, bool *empty = nullptr);
    /// `value` in `format` with the separators of `locale`. NaN shows as 0,
    /// infinities as the largest finite double.
    static QString FormatNumericText(double value, const NumericFormat &format, const QLocale &locale);

    // --- Display format -----------------------------------------------------
    /// Sets the format and rewrites a non-empty text in it.
    void setDisplayFormat(const NumericFormat &format);
    void setDisplayFormat(const QString &pattern) { setDisplayFormat(NumericFormat::fromPattern(pattern)); }
    NumericFormat displayFormat() const { return m_format; }
    QString displayFormatPattern() const { return m_format.pattern(); }

    // --- Range check --------------------------------------------------------
    /// Sets both bounds and turns the range check on.
    void setRange(double minimum, double maximum);
    void setMinimum(double minimum);
    void setMaximum(double maximum);
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    /// With the check on, leaving the field brings the value into range.
    void setCheckRange(bool on);
    bool checkRange() const { return m_checkRange; }
    /// What an empty field reads as: minimum() with the range check on, else 0.
    double lowerBound() const;
    /// `v` brought to the nearer bound when the range check is on and it lies
    /// outside; otherwise `v` itself.
    double boundedValue(double v) const;

    // --- Value --------------------------------------------------------------
    /// The text read as a number; an empty field reads as lowerBound().
    double value() const;
    /// True when the text holds no digit.
    bool isEmpty() const;
    /// value() rounded to the nearest whole number (half away from zero),
    /// saturated to the 64-bit range.
    qint64 integerValue() const;
    /// value() rounded to the nearest whole number, saturated to the int range
    /// (what a 32-bit register or setting receives).
    int intValue() const;

public slots:
    /// Rewrites the text as `v` in the display format (no range check).
    void setValue(double v);
    /// What leaving the field does: bring the value into range (when the check
    /// is on) and rewrite the text in the display format.
    void commitEditing();

signals:
    void valueChanged(double value);

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void noteValue();

    NumericFormat m_format = NumericFormat::Grouped();
    double m_minimum = 0;
    double m_maximum = 0;
    bool m_checkRange = false;
    double m_lastValue = 0;
};
