// The whole system on one machine: the controller window against a real FTP server and a real
// web server running the two gateway scripts.
#include "controller/frmcontrol.h"
#include "settings/codepage.h"
#include "tests/support/cgiserver.h"
#include "tests/support/ftpserver.h"
#include "tests/support/recordingsink.h"

#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// The page as the gateway serves it, raw bytes.
QByteArray fetch(const QString &url) {
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(url)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!done.wait(15000))
        return "<no answer>";
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

bool copyScript(const QString &name, const QString &to) {
    const QString from = qEnvironmentVariable("ZENTROW_SOURCE_DIR") + u"/gateway/"_s + name;
    return QFile::copy(from, to + u"/"_s + name) &&
           QFile::setPermissions(to + u"/"_s + name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class tst_gateway_e2e : public QObject {
    Q_OBJECT
private slots:
    void publishCloseAndJapaneseMessage() {
        QTemporaryDir site; // the web server's folder and the FTP home in one
        QTemporaryDir prog;
        QVERIFY(copyScript(u"nomrel.cgi"_s, site.path()));
        QVERIFY(copyScript(u"Porvane.cgi"_s, site.path()));
        {
            QFile first(site.filePath(u"ipdata.txt"_s));
            QVERIFY(first.open(QIODevice::WriteOnly));
            first.write(codepage::toAnsi(u"on,192.0.2.1,準備中です\r\n"_s));
        }
        testsupport::EchoCgiServer web(site.path());
        QVERIFY2(web.serve(), qPrintable(web.errorText()));
        FtpServer ftp(site.path());
        QVERIFY2(ftp.isRunning(), qPrintable(ftp.errorString()));
        const QString page = web.baseUrl() + u"Porvane.cgi"_s;
        QVERIFY(fetch(page).contains("http://192.0.2.1/"));

        SettingsStore store(prog.path());
        SettingsRecord &rec = store.record();
        rec.strFtpSv = ftp.hostPort();
        rec.strFtpUser = ftp.options().user;
        rec.strFtpPass = ftp.options().password;
        rec.strFtpPath = u"/ipdata.txt"_s;
        rec.strIpAdd = web.baseUrl() + u"nomrel.cgi"_s;
        rec.intChkAuto = 1;
        rec.strLastWanIp = u"192.0.2.1"_s;
        RecordingSink sink;
        frmControl w(store);
        w.setMessageSink(&sink);

        // Opening: the echo CGI says 127.0.0.1, which is uploaded and published at once.
        w.Form_Load();
        QVERIFY2(sink.boxes.isEmpty(), qPrintable(sink.titles().join(u',')));
        QCOMPARE(w.lblWanIp->text(), u"127.0.0.1"_s);
        QByteArray body = fetch(page);
        QVERIFY2(body.contains("<a href=\"http://127.0.0.1/\">"), body.constData());

        // The picture closes the gateway: the page shows the closed message instead.
        w.imgStat_Click();
        body = fetch(page);
        QVERIFY(!body.contains("http://127.0.0.1/"));
        QVERIFY(body.contains(codepage::toAnsi(u"準備中です"_s)));

        // A Japanese message, half-width katakana and markup included, arrives intact and escaped.
        w.txtPvnMsg->setText(u"ﾒﾝﾃﾅﾝｽ中 <b>明日</b> 再開"_s);
        w.txtPvnMsg_LostFocus();
        body = fetch(page);
        QVERIFY(body.contains(codepage::toAnsi(u"ﾒﾝﾃﾅﾝｽ中 &lt;b&gt;明日&lt;/b&gt; 再開"_s)));
        QVERIFY(sink.boxes.isEmpty());
    }
};

QTEST_MAIN(tst_gateway_e2e)
#include "tst_gateway_e2e.moc"
