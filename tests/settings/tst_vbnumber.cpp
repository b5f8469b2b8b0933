#include "settings/vbnumber.h"

#include <QTest>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {
// Marks a row where Val raises an error.
constexpr double kError = std::numeric_limits<double>::quiet_NaN();
} // namespace

class TestVbNumber : public QObject {
    Q_OBJECT

private slots:
    void val_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("blanks inside") << u" 2 45 7"_s << 2457.0;
        QTest::newRow("address") << u"    1615 198th Street N.E."_s << 1615198.0;
        QTest::newRow("stops at a word") << u"24 and 57"_s << 24.0;
        QTest::newRow("empty") << u""_s << 0.0;
        QTest::newRow("letters") << u"abc"_s << 0.0;
        QTest::newRow("tabs and line feeds") << u"\t-\n1.5"_s << -1.5;
        QTest::newRow("second point stops") << u"1.2.3"_s << 1.2;
        QTest::newRow("exponent") << u"1e3"_s << 1000.0;
        QTest::newRow("D exponent") << u"1.5D2"_s << 150.0;
        QTest::newRow("negative exponent") << u"25E-1"_s << 2.5;
        QTest::newRow("blanks in the exponent") << u"1 e 2"_s << 100.0;
        QTest::newRow("exponent without digits") << u"1e"_s << 1.0;
        QTest::newRow("integer type character") << u"50%"_s << 50.0;
        QTest::newRow("hex") << u"&HFF"_s << 255.0;
        QTest::newRow("hex 16 bits") << u"&hFFFF"_s << -1.0;
        QTest::newRow("hex forced 32 bits") << u"&HFFFF&"_s << 65535.0;
        QTest::newRow("hex forced 16 bits") << u"&HFFFF%"_s << -1.0;
        QTest::newRow("hex too wide for 16 bits") << u"&H1FFFF%"_s << kError;
        QTest::newRow("hex 5 digits") << u"&H10000"_s << 65536.0;
        QTest::newRow("hex 32 bits") << u"&HFFFFFFFF"_s << -1.0;
        QTest::newRow("hex leading zeros") << u"&H0000FFFF"_s << -1.0;
        QTest::newRow("hex too wide") << u"&H1FFFFFFFF"_s << kError;
        QTest::newRow("hex without digits") << u"&H"_s << 0.0;
        QTest::newRow("octal") << u"&O17"_s << 15.0;
        QTest::newRow("octal 16 bits") << u"&o177777"_s << -1.0;
        QTest::newRow("other radix") << u"&X1"_s << 0.0;
        QTest::newRow("fraction with %") << u"50.5%"_s << kError;
        QTest::newRow("fraction with &") << u"1.34&"_s << kError;
        QTest::newRow("exponent with %") << u"1e2%"_s << kError;
        QTest::newRow("overflow") << u"1e999"_s << kError;
        QTest::newRow("long digits overflow") << QString(400, u'9') << kError;
        QTest::newRow("underflow") << u"1e-999"_s << 0.0;
    }
    void val() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        const std::optional<double> v = vbnumber::Val(text);
        if (std::isnan(expected)) {
            QVERIFY2(!v, qPrintable(QString::number(v.value_or(0))));
            return;
        }
        QVERIFY(v);
        QCOMPARE(*v, expected);
    }

    void toInt16_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("3") << u"3"_s << 3;
        QTest::newRow("blank 4") << u" 4"_s << 4;
        QTest::newRow("2.5 to even") << u"2.5"_s << 2;
        QTest::newRow("3.5 to even") << u"3.5"_s << 4;
        QTest::newRow("-2.5 to even") << u"-2.5"_s << -2;
        QTest::newRow("-1") << u"-1"_s << -1;
        QTest::newRow("letters") << u"abc"_s << 0;
        QTest::newRow("empty") << u""_s << 0;
        QTest::newRow("largest") << u"32767"_s << 32767;
        QTest::newRow("smallest") << u"-32768"_s << -32768;
        QTest::newRow("one too large") << u"32768"_s << 0;
        QTest::newRow("rounds out of range") << u"32767.5"_s << 0;
        QTest::newRow("rounds into range") << u"-32768.5"_s << -32768;
        QTest::newRow("&HFFFF") << u"&HFFFF"_s << -1;
        QTest::newRow("&H8000") << u"&H8000"_s << -32768;
        QTest::newRow("&HFFFF&") << u"&HFFFF&"_s << 0;
        QTest::newRow("suffix error") << u"50.5%"_s << 0;
    }
    void toInt16() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(int(vbnumber::toInt16(text)), expected);
    }
};

QTEST_GUILESS_MAIN(TestVbNumber)
#include "tst_vbnumber.moc"
