#include "settings/vbnumber.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

const double kError = qQNaN(); // marks a row where Val raises an error

class TestVbNumber : public QObject {
    Q_OBJECT
private slots:
    // What Val gives, and what the 16-bit conversion of the stored settings makes of it.
    void number_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("val");
        QTest::addColumn<int>("int16");
        auto row = [](const char *name, const QString &text, double val, int int16) {
            QTest::newRow(name) << text << val << int16;
        };
        row("blanks inside", u" 2 45 7"_s, 2457, 2457);
        row("stops at a word", u"\t24 and 57"_s, 24, 24);
        row("exponent, half to even down", u"25E-1"_s, 2.5, 2);
        row("half to even up", u"3.5"_s, 3.5, 4);
        row("rounds out of range", u"32767.5"_s, 32767.5, 0);
        row("rounds into range", u"-32768.5"_s, -32768.5, -32768);
        row("hex 16 bits", u"&hFFFF"_s, -1, -1);
        row("hex forced 32 bits", u"&HFFFF&"_s, 65535, 0);
        row("hex too wide", u"&H1FFFFFFFF"_s, kError, 0);
        row("octal", u"&O17"_s, 15, 15);
        row("fraction with type character", u"50.5%"_s, kError, 0);
        row("overflow", u"1e999"_s, kError, 0);
    }
    void number() {
        QFETCH(QString, text);
        QFETCH(double, val);
        QFETCH(int, int16);
        QCOMPARE(vbnumber::Val(text).value_or(kError), val); // NaN equals NaN here
        QCOMPARE(int(vbnumber::toInt16(text)), int16);
    }
};

QTEST_GUILESS_MAIN(TestVbNumber)
#include "tst_vbnumber.moc"
