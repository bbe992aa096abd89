// The integer entry of the parameter editor: what converts, to what, and what
// is refused before anything is sent.

#include "parameters/IntegerText.h"

#include <QtTest>

class TestIntegerText : public QObject
{
    Q_OBJECT
private slots:
    void converts_data();
    void converts();
    void refuses_data();
    void refuses();
};

void TestIntegerText::converts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("value");

    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("decimal") << "1234" << 1234;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("plus sign") << "+15" << 15;
    QTest::newRow("negative") << "-15" << -15;
    QTest::newRow("leading blanks") << "   42" << 42;
    QTest::newRow("blanks before sign") << "  -42" << -42;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << qint32(0x80000000u);
    QTest::newRow("dollar hex") << "$1F" << 31;
    QTest::newRow("x hex") << "x1f" << 31;
    QTest::newRow("X hex") << "X1F" << 31;
    QTest::newRow("0x hex") << "0x1F" << 31;
    QTest::newRow("0X hex") << "0XaB" << 0xAB;
    QTest::newRow("hex leading zeros") << "$00000000001F" << 31;
    QTest::newRow("hex largest positive") << "$7FFFFFFF" << 2147483647;
    QTest::newRow("hex pattern top bit") << "$80000000" << qint32(0x80000000u);
    QTest::newRow("hex pattern all ones") << "$FFFFFFFF" << -1;
    QTest::newRow("hex plus pattern") << "+$FFFFFFFE" << -2;
    QTest::newRow("negative hex") << "-$1F" << -31;
    QTest::newRow("negative hex smallest") << "-$80000000" << qint32(0x80000000u);
    QTest::newRow("negative 0x") << " -0x10" << -16;
}

void TestIntegerText::converts()
{
    QFETCH(QString, text);
    QFETCH(qint32, value);
    const std::optional<std::int32_t> result = ParseIntegerText(text);
    QVERIFY2(result.has_value(), qPrintable(text));
    QCOMPARE(*result, value);
}

void TestIntegerText::refuses_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("sign only") << "-";
    QTest::newRow("prefix only") << "$";
    QTest::newRow("0x only") << "0x";
    QTest::newRow("sign and prefix only") << "-$";
    QTest::newRow("trailing blank") << "59 ";
    QTest::newRow("blank inside") << "1 2";
    QTest::newRow("letters") << "12ab";
    QTest::newRow("hex letter beyond F") << "$1G";
    QTest::newRow("decimal point") << "1.5";
    QTest::newRow("group separator") << "1,000";
    QTest::newRow("double sign") << "--1";
    QTest::newRow("sign after prefix") << "$-1";
    QTest::newRow("tab before") << "\t1";
    QTest::newRow("full-width digit") << QStringLiteral("１");
    QTest::newRow("one past largest") << "2147483648";
    QTest::newRow("one past smallest") << "-2147483649";
    QTest::newRow("far too large") << "99999999999999999999999";
    QTest::newRow("hex beyond 32 bits") << "$100000000";
    QTest::newRow("negative hex beyond range") << "-$80000001";
    QTest::newRow("negative of a negative pattern") << "-$FFFFFFFF";
}

void TestIntegerText::refuses()
{
    QFETCH(QString, text);
    QVERIFY2(!ParseIntegerText(text).has_value(), qPrintable(text));
}

QTEST_APPLESS_MAIN(TestIntegerText)
#include "tst_integertext.moc"
