#include "settings/codepage.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestCodepage : public QObject {
    Q_OBJECT

private slots:
    void toAnsi_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("roundTrips");
        QTest::newRow("half-width katakana") << u"ｺﾝﾄﾛｰﾗ"_s << "\xBA\xDD\xC4\xDB\xB0\xD7"_ba << true;
        QTest::newRow("wave dash") << u"～"_s << "\x81\x60"_ba << true;
        QTest::newRow("circled one") << u"①"_s << "\x87\x40"_ba << true;
        QTest::newRow("parallel") << u"∥"_s << "\x81\x61"_ba << true;
        QTest::newRow("backslash and tilde") << u"\\~"_s << "\\~"_ba << true;
        QTest::newRow("second byte 5C") << u"表ソ"_s << "\x95\x5C\x83\x5C"_ba << true;
        QTest::newRow("ASCII") << u"ftp://a.b/c?d=1"_s << "ftp://a.b/c?d=1"_ba << true;
        QTest::newRow("empty") << QString() << QByteArray() << true;
        QTest::newRow("lacking character") << u"a€b"_s << "a?b"_ba << false;
        QTest::newRow("outside the BMP, one ?") << u"x😀y"_s << "x?y"_ba << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"z"_s << "?z"_ba << false;
        QTest::newRow("Latin accent") << u"é"_s << "?"_ba << false;
    }
    void toAnsi() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, roundTrips);
        QCOMPARE(codepage::toAnsi(text), bytes);
        if (roundTrips)
            QCOMPARE(codepage::fromAnsi(bytes), text);
    }

    void fromAnsiInvalid_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        const QString bad(QChar::ReplacementCharacter);
        QTest::newRow("first half at the end") << "ab\x81"_ba << u"ab"_s + bad;
        QTest::newRow("bad second byte keeps ASCII") << "\x81 x"_ba << bad + u" x"_s;
        QTest::newRow("bad second byte keeps line break") << "\x83\r\n"_ba << bad + u"\r\n"_s;
        QTest::newRow("unused byte") << "a\xFFz"_ba << u"a"_s + bad + u"z"_s;
        QTest::newRow("NUL") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
    }
    void fromAnsiInvalid() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(codepage::fromAnsi(bytes), text);
    }

    // A lead byte is one that iconv reads together with some second byte; five rows of the
    // code page hold no character yet are lead bytes all the same.
    void leadBytesAgreeWithIconv() {
        QByteArray mismatches;
        for (int b = 0; b < 256; ++b) {
            bool pairs = false;
            for (int t = 0x40; t <= 0xFC && !pairs; ++t) {
                const QString text = codepage::fromAnsi(QByteArray(1, char(b)) + char(t));
                pairs = text.size() == 1 && text != QChar(QChar::ReplacementCharacter);
            }
            if (codepage::isLeadByte(static_cast<unsigned char>(b)) != pairs)
                mismatches += QByteArray::number(b, 16) + ' ';
        }
        QCOMPARE(mismatches, "85 86 eb ec ef "_ba);
    }

    void randomBytes() {
        QRandomGenerator rng(932);
        for (int round = 0; round < 200; ++round) {
            QByteArray junk(rng.bounded(1, 3000), '\0');
            for (char &c : junk)
                c = static_cast<char>(rng.bounded(256));
            const QString text = codepage::fromAnsi(junk);
            QVERIFY(!text.isEmpty());
            QVERIFY(text.size() <= junk.size());
            // Whatever came out converts back without loss of length beyond the bad bytes.
            QVERIFY(codepage::toAnsi(text).size() <= 2 * text.size());
        }
    }
};

QTEST_GUILESS_MAIN(TestCodepage)
#include "tst_codepage.moc"
