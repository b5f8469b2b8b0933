#include "settings/codepage.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestCodepage : public QObject {
    Q_OBJECT
private slots:
    // Which way each row holds: 1 text to bytes, 2 bytes to text, 3 both.
    void convert_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("ways");
        QTest::newRow("half-width katakana") << u"ｺﾝﾄﾛｰﾗ"_s << "\xBA\xDD\xC4\xDB\xB0\xD7"_ba << 3;
        QTest::newRow("Windows characters") << u"～①∥"_s << "\x81\x60\x87\x40\x81\x61"_ba << 3;
        QTest::newRow("lacking character") << u"a€b"_s << "a?b"_ba << 1;
        QTest::newRow("outside the BMP, one ?") << u"x😀y"_s << "x?y"_ba << 1;
        QTest::newRow("first half at the end") << u"ab\uFFFD"_s << "ab\x81"_ba << 2;
    }
    void convert() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, ways);
        if (ways & 1)
            QCOMPARE(codepage::toAnsi(text), bytes);
        if (ways & 2)
            QCOMPARE(codepage::fromAnsi(bytes), text);
    }
};

QTEST_GUILESS_MAIN(TestCodepage)
#include "tst_codepage.moc"
