// Numeric edit: reading the text, display formats, range bring-back, signals.

#include "widgets/NumericEdit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace
{
const QLocale C = QLocale::c();
const QLocale German(QLocale::German, QLocale::Germany);

double parse(const QString &text, const QLocale &locale = C, bool *empty = nullptr)
{
    return NumericEdit::ParseNumericText(text, locale, empty);
}

void leave(QWidget *w)
{
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(w, &out);
}
} // namespace

class TestNumericEdit : public QObject
{
    Q_OBJECT
private slots:
    void parsesDigitsAndDecimalSeparatorOnly_data();
    void parsesDigitsAndDecimalSeparatorOnly();
    void textWithoutDigitsIsEmpty();
    void germanLocaleUsesDecimalComma();
    void absurdInputsGiveSaneValues();
    void formatsInEachDisplayFormat_data();
    void formatsInEachDisplayFormat();
    void formatRoundTripsThroughParse();
    void patternsReadBack();
    void emptyFieldReadsLowerBound();
    void leavingBringsValueIntoRange();
    void leavingRewritesInDisplayFormat();
    void returnCommitsBeforeEditingFinished();
    void setValueIgnoresRangeAndWholeFormatRounds();
    void fourDecimalsKeepScaleValues();
    void integerValueRoundsAndSaturates();
    void valueChangedFollowsTheValue();
    void changingFormatRewritesText();
};

void TestNumericEdit::parsesDigitsAndDecimalSeparatorOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("plain") << "1234" << 1234.0;
    QTest::newRow("group separators dropped") << "1,234,567" << 1234567.0;
    QTest::newRow("parentheses negative") << "(1,234)" << -1234.0;
    QTest::newRow("open parenthesis alone") << "(5" << -5.0;
    QTest::newRow("minus leading") << "-12.5" << -12.5;
    QTest::newRow("minus anywhere") << "1-2" << -12.0;
    QTest::newRow("minus trailing") << "7-" << -7.0;
    QTest::newRow("two minus still negative") << "--3" << -3.0;
    QTest::newRow("blanks and unit dropped") << " 12 kg " << 12.0;
    QTest::newRow("letters dropped, exponent too") << "1e5" << 15.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("second point dropped") << "1.2.3" << 1.23;
    QTest::newRow("plus ignored") << "+8" << 8.0;
    QTest::newRow("fullwidth digits") << QString::fromUtf8("１２３") << 123.0;
    QTest::newRow("fullwidth parenthesis") << QString::fromUtf8("（４）") << -4.0;
    QTest::newRow("unicode minus") << QString::fromUtf8("\u22129") << -9.0;
}

void TestNumericEdit::parsesDigitsAndDecimalSeparatorOnly()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    bool empty = true;
    QCOMPARE(parse(text, C, &empty), expected);
    QVERIFY(!empty);
}

void TestNumericEdit::textWithoutDigitsIsEmpty()
{
    for (const QString &text : {QString(), QStringLiteral("-"), QStringLiteral("()"), QStringLiteral("abc"),
                                QStringLiteral("."), QStringLiteral(" , ")}) {
        bool empty = false;
        QCOMPARE(parse(text, C, &empty), 0.0);
        QVERIFY2(empty, qPrintable(text));
    }
    bool empty = true;
    QCOMPARE(parse(QStringLiteral("0"), C, &empty), 0.0);
    QVERIFY(!empty);
}

void TestNumericEdit::germanLocaleUsesDecimalComma()
{
    QCOMPARE(parse(QStringLiteral("1.234,5"), German), 1234.5);
    QCOMPARE(parse(QStringLiteral("1,5"), German), 1.5);
    QCOMPARE(parse(QStringLiteral("1.5"), German), 15.0); // "." groups there
    QCOMPARE(NumericEdit::FormatNumericText(1234.5, NumericFormat::Fixed(4), German),
             QStringLiteral("1234,5000"));
    QCOMPARE(NumericEdit::FormatNumericText(-1234567, NumericFormat::GroupedParentheses(), German),
             QStringLiteral("(1.234.567)"));

    NumericEdit edit;
    edit.setLocale(German);
    edit.setDisplayFormat(NumericFormat::Fixed(4));
    edit.setText(QStringLiteral("0,25"));
    QCOMPARE(edit.value(), 0.25);
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("0,2500"));
}

void TestNumericEdit::absurdInputsGiveSaneValues()
{
    constexpr double Largest = std::numeric_limits<double>::max();
    const QString tenThousandDigits(10000, u'9');
    QCOMPARE(parse(tenThousandDigits), Largest);
    QCOMPARE(parse(u'(' + tenThousandDigits + u')'), -Largest);
    // More digits than a double holds, within range: rounded, not cut.
    QCOMPARE(parse(QStringLiteral("123456789012345678901234567890")), 1.2345678901234568e29);
    // Many leading zeros, a tiny fraction, and a long fraction.
    QCOMPARE(parse(QString(10000, u'0') + u'7'), 7.0);
    QCOMPARE(parse(QStringLiteral("0.") + QString(10000, u'0') + u'1'), 0.0);
    QCOMPARE(parse(QStringLiteral("1.") + QString(10000, u'3')), 1.3333333333333333);
    // Mixed junk of any length still reads its digits.
    QString junk;
    for (int i = 0; i < 5000; ++i)
        junk += QStringLiteral("x,");
    QCOMPARE(parse(junk + u'4'), 4.0);

    // The field formats the saturated value without exponent or "inf".
    NumericEdit edit;
    edit.setText(tenThousandDigits);
    QCOMPARE(edit.value(), Largest);
    leave(&edit);
    QVERIFY(edit.text().startsWith(QStringLiteral("179,769,313,486,231,570")));
    QVERIFY(!edit.text().contains(u'e') && !edit.text().contains(QStringLiteral("inf")));
    QCOMPARE(edit.value(), Largest);
    QCOMPARE(edit.integerValue(), std::numeric_limits<qint64>::max());
    QCOMPARE(
        NumericEdit::FormatNumericText(std::numeric_limits<double>::infinity(), NumericFormat::Grouped(), C),
        edit.text());
    QCOMPARE(NumericEdit::FormatNumericText(std::nan(""), NumericFormat::Grouped(), C), QStringLiteral("0"));
}

void TestNumericEdit::formatsInEachDisplayFormat_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("expected");
    QTest::newRow("grouped") << 1234567.0 << ",0"
                             << "1,234,567";
    QTest::newRow("grouped negative") << -1234.0 << ",0"
                                      << "-1,234";
    QTest::newRow("grouped rounds half away") << 2.5 << ",0"
                                              << "3";
    QTest::newRow("grouped rounds negative half away") << -2.5 << ",0"
                                                       << "-3";
    QTest::newRow("small no group") << 999.4 << ",0"
                                    << "999";
    QTest::newRow("parentheses") << -1234.0 << ",0;(,0)"
                                 << "(1,234)";
    QTest::newRow("parentheses positive") << 1234.0 << ",0;(,0)"
                                          << "1,234";
    QTest::newRow("rounds to zero unsigned") << -0.4 << ",0;(,0)"
                                             << "0";
    QTest::newRow("negative zero") << -0.0 << ",0"
                                   << "0";
    QTest::newRow("four decimals") << 1.0 << "0.0000"
                                   << "1.0000";
    QTest::newRow("four decimals scale") << 12345 / 10000.0 << "0.0000"
                                         << "1.2345";
    QTest::newRow("four decimals negative") << -0.25 << "0.0000"
                                            << "-0.2500";
    QTest::newRow("four decimals tiny negative") << -0.00001 << "0.0000"
                                                 << "0.0000";
    QTest::newRow("four decimals no grouping") << 12345.5 << "0.0000"
                                               << "12345.5000";
    QTest::newRow("grouped decimals") << 12345.5 << ",0.00"
                                      << "12,345.50";
}

void TestNumericEdit::formatsInEachDisplayFormat()
{
    QFETCH(double, value);
    QFETCH(QString, pattern);
    QFETCH(QString, expected);
    QCOMPARE(NumericEdit::FormatNumericText(value, NumericFormat::fromPattern(pattern), C), expected);
}

void TestNumericEdit::formatRoundTripsThroughParse()
{
    const NumericFormat formats[] = {NumericFormat::Grouped(), NumericFormat::GroupedParentheses(),
                                     NumericFormat::Fixed(4)};
    const double values[] = {0, 1, -1, 20, 1000000000, -2147483648.0, 2147483647, 0.0001, 1.9999, -123.4567};
    for (const QLocale &locale : {C, German}) {
        for (const NumericFormat &f : formats) {
            for (double v : values) {
                const double shown = f.decimals == 0 ? std::round(v) : v;
                const QString text = NumericEdit::FormatNumericText(v, f, locale);
                QCOMPARE(NumericEdit::ParseNumericText(text, locale), shown);
            }
        }
    }
}

void TestNumericEdit::patternsReadBack()
{
    QCOMPARE(NumericFormat::fromPattern(QStringLiteral(",0")), NumericFormat::Grouped());
    QCOMPARE(NumericFormat::fromPattern(QStringLiteral(",0;(,0)")), NumericFormat::GroupedParentheses());
    QCOMPARE(NumericFormat::fromPattern(QStringLiteral("0.0000")), NumericFormat::Fixed(4));
    for (const NumericFormat &f : {NumericFormat::Grouped(), NumericFormat::GroupedParentheses(),
                                   NumericFormat::Fixed(4), NumericFormat{true, 2, true}})
        QCOMPARE(NumericFormat::fromPattern(f.pattern()), f);
    QCOMPARE(NumericFormat::fromPattern(QStringLiteral("0.") + QString(40, u'0')).decimals, 15);
}

void TestNumericEdit::emptyFieldReadsLowerBound()
{
    NumericEdit plain;
    QCOMPARE(plain.value(), 0.0);
    QVERIFY(plain.isEmpty());

    NumericEdit interval;
    interval.setRange(20, 1000000000);
    QCOMPARE(interval.value(), 20.0);
    interval.setText(QStringLiteral("-"));
    QCOMPARE(interval.value(), 20.0);
    leave(&interval);
    QCOMPARE(interval.text(), QStringLiteral("20"));

    plain.setText(QStringLiteral("kg"));
    leave(&plain);
    QCOMPARE(plain.text(), QStringLiteral("0"));
}

void TestNumericEdit::leavingBringsValueIntoRange()
{
    NumericEdit edit;
    edit.setDisplayFormat(NumericFormat::GroupedParentheses());
    edit.setRange(20, 1000000000);
    edit.setText(QStringLiteral("19"));
    QCOMPARE(edit.value(), 19.0); // typed, not yet left
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("20"));
    QCOMPARE(edit.value(), 20.0);

    edit.setText(QStringLiteral("(500)"));
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("20"));

    edit.setText(QStringLiteral("1000000001"));
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("1,000,000,000"));

    edit.setText(QStringLiteral("250"));
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("250"));

    // A popup (context menu) taking the focus is not leaving the field.
    edit.setText(QStringLiteral("5"));
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(&edit, &popup);
    QCOMPARE(edit.text(), QStringLiteral("5"));

    // Without the range check nothing is brought back.
    edit.setCheckRange(false);
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("5"));
}

void TestNumericEdit::leavingRewritesInDisplayFormat()
{
    NumericEdit edit;
    edit.setDisplayFormat(NumericFormat::GroupedParentheses());
    edit.setText(QStringLiteral("-1234.6"));
    QSignalSpy finished(&edit, &QLineEdit::editingFinished);
    leave(&edit);
    QCOMPARE(edit.text(), QStringLiteral("(1,235)"));
    QCOMPARE(edit.value(), -1235.0);
    QCOMPARE(finished.count(), 1);
}

void TestNumericEdit::returnCommitsBeforeEditingFinished()
{
    NumericEdit edit;
    edit.setRange(20, 1000000000);
    edit.setText(QStringLiteral("7"));
    QString textAtFinish;
    connect(&edit, &QLineEdit::editingFinished, &edit, [&] { textAtFinish = edit.text(); });
    QTest::keyClick(&edit, Qt::Key_Return);
    QCOMPARE(edit.text(), QStringLiteral("20"));
    QCOMPARE(textAtFinish, QStringLiteral("20"));
}

void TestNumericEdit::setValueIgnoresRangeAndWholeFormatRounds()
{
    NumericEdit edit;
    edit.setRange(20, 1000000000);
    edit.setValue(5);
    QCOMPARE(edit.text(), QStringLiteral("5"));
    edit.setValue(12345.6);
    QCOMPARE(edit.text(), QStringLiteral("12,346"));
    QCOMPARE(edit.value(), 12346.0);
    edit.setValue(-3);
    QCOMPARE(edit.text(), QStringLiteral("-3"));
    QCOMPARE(edit.boundedValue(edit.value()), 20.0);
}

void TestNumericEdit::fourDecimalsKeepScaleValues()
{
    NumericEdit scale;
    scale.setDisplayFormat(QStringLiteral("0.0000"));
    scale.setRange(0.0001, 1.9999);
    scale.setValue(12345 / 10000.0);
    QCOMPARE(scale.text(), QStringLiteral("1.2345"));
    QCOMPARE(scale.value(), 1.2345);
    scale.setText(QStringLiteral("2"));
    leave(&scale);
    QCOMPARE(scale.text(), QStringLiteral("1.9999"));
    scale.clear();
    QCOMPARE(scale.value(), 0.0001);
    leave(&scale);
    QCOMPARE(scale.text(), QStringLiteral("0.0001"));
    scale.setText(QStringLiteral("0.00004"));
    leave(&scale);
    QCOMPARE(scale.text(), QStringLiteral("0.0001"));
}

void TestNumericEdit::integerValueRoundsAndSaturates()
{
    NumericEdit edit;
    edit.setDisplayFormat(NumericFormat::Fixed(4));
    const struct {
        const char *text;
        qint64 rounded;
    } cases[] = {{"2.5", 3}, {"2.4999", 2}, {"-2.5", -3}, {"-2.4999", -2}, {"0.5", 1}, {"", 0}};
    for (const auto &c : cases) {
        edit.setText(QLatin1String(c.text));
        QCOMPARE(edit.integerValue(), c.rounded);
        QCOMPARE(edit.intValue(), int(c.rounded));
    }
    edit.setText(QStringLiteral("3000000000"));
    QCOMPARE(edit.integerValue(), Q_INT64_C(3000000000));
    QCOMPARE(edit.intValue(), std::numeric_limits<int>::max());
    edit.setText(QStringLiteral("(3,000,000,000)"));
    QCOMPARE(edit.intValue(), std::numeric_limits<int>::min());
    edit.setText(QStringLiteral("-") + QString(400, u'9'));
    QCOMPARE(edit.integerValue(), std::numeric_limits<qint64>::min());
}

void TestNumericEdit::valueChangedFollowsTheValue()
{
    NumericEdit edit;
    QSignalSpy spy(&edit, &NumericEdit::valueChanged);
    edit.setValue(1234);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toDouble(), 1234.0);
    edit.setText(QStringLiteral("1234")); // other text, same value
    QCOMPARE(spy.count(), 1);
    edit.setText(QStringLiteral("(1234)"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).toDouble(), -1234.0);
    edit.clear();
    edit.setRange(20, 100); // an empty field now reads 20
    QCOMPARE(spy.last().at(0).toDouble(), 20.0);
}

void TestNumericEdit::changingFormatRewritesText()
{
    NumericEdit edit;
    edit.setValue(1);
    QCOMPARE(edit.text(), QStringLiteral("1"));
    edit.setDisplayFormat(QStringLiteral("0.0000"));
    QCOMPARE(edit.text(), QStringLiteral("1.0000"));
    QCOMPARE(edit.displayFormatPattern(), QStringLiteral("0.0000"));
    edit.clear();
    edit.setDisplayFormat(NumericFormat::Grouped());
    QCOMPARE(edit.text(), QString()); // an empty field stays empty
    QCOMPARE(edit.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    // Designer sets these through the property system.
    QVERIFY(edit.setProperty("displayFormat", QStringLiteral(",0;(,0)")));
    QVERIFY(edit.setProperty("value", -5.0));
    QCOMPARE(edit.text(), QStringLiteral("(5)"));
}

QTEST_MAIN(TestNumericEdit)
#include "tst_numericedit.moc"
