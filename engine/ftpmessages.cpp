#include "engine/ftpmessages.h"

#include <curl/curl.h>

using namespace Qt::Literals::StringLiterals;

namespace ftpmessage {

namespace {

const QString kPath = u"「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」"_s;

QString refusedLogin(int reply, bool asksTls) {
    if (asksTls)
        return u"サーバが TLS で守られたログインを求めて断りました (応答 %1)。「設定(&S)」で「FTPS (TLS) "
               u"を使用」に"
               "チェックを入れて下さい。"_s.arg(reply);
    if (reply == 421)
        return u"サーバが接続を断りました (応答 421: "
               u"接続数の上限や一時的な停止など)。次のチェックでやり直します。"
               "続くときはホストに問い合わせて下さい。"_s;
    return u"ユーザ ID またはパスワードが違います。「設定(&S)」の「ﾕｰｻﾞ ID」と「ﾊﾟｽﾜｰﾄﾞ」を確かめて下さい。"_s;
}

// After the log-in: the data connection and the replies around it.
QString transfer(Stage stage, int code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_CANT_GET_HOST:
        return u"データ接続を開けませんでした (サーバが示したパッシブモードのポートに届きません: "
               u"ファイアウォールか "
               "NAT)。ホストのパッシブポートの設定と、ルータやファイアウォールを確かめて下さい。"_s;
    case CURLE_OPERATION_TIMEDOUT:
        return u"サーバが時間内に応答しませんでした (データ接続か、その前後の応答)。次のチェックでやり直します。"_s;
    case CURLE_PARTIAL_FILE:
        if (stage == Stage::Put)
            return u"サーバがファイルの受け取りを確かめませんでした。次のチェックでやり直します。続くときはサ"
                   u"ーバの"
                   "空き容量をホストに問い合わせて下さい。"_s;
        [[fallthrough]];
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return u"転送の途中で接続が切れました。次のチェックでやり直します。続くときはサーバとネットワークを確"
               u"かめて"
               "下さい。"_s;
    case CURLE_URL_MALFORMAT:
        return kPath +
               (stage == Stage::Put ? u"が空か、/ で終わるか、制御文字を含んでいます。"_s
                                    : u"が空か、/ で終わっています。"_s) +
               u"「設定(&S)」で ipdata.txt のファイル名まで入れて下さい。"_s;
    }
    if (stage == Stage::Get) {
        switch (code) {
        case CURLE_FILESIZE_EXCEEDED:
            return u"サーバのファイルが 1 MiB を超えていて、ゲートウェイのファイルではありません。"_s +
                   kPath + u"を確かめて下さい。"_s;
        case CURLE_WRITE_ERROR:
            return u"作業コピーの ipdata.txt を書けません。プログラムフォルダの権限と空き容量を確かめて下さい。"_s;
        case CURLE_FTP_COULDNT_RETR_FILE:
        case CURLE_REMOTE_ACCESS_DENIED:
            return u"サーバがファイルを渡しませんでした。"_s + kPath + u"のパスと権限を確かめて下さい。"_s;
        }
        return {};
    }
    switch (code) {
    case CURLE_UPLOAD_FAILED:
        return u"サーバがファイルを受け付けませんでした。"_s + kPath +
               u"のフォルダがあるか、そこに書き込めるかを確かめて下さい。"_s;
    case CURLE_REMOTE_ACCESS_DENIED:
        return u"サーバがアクセスを拒否しました。"_s + kPath + u"のパスと、その権限を確かめて下さい。"_s;
    case CURLE_FILE_COULDNT_READ_FILE:
    case CURLE_READ_ERROR:
        return u"作業コピーの ipdata.txt を開けないか、読めません。プログラムフォルダの権限を確かめて下さい。"_s;
    }
    return {};
}

QString connect(int code, int reply, bool asksTls) {
    switch (code) {
    case CURLE_URL_MALFORMAT:
        return u"「FTP ｻｰﾊﾞ」がホスト名か「ホスト名:ポート番号」(ポートは 1～65535) "
               u"になっていません。「設定(&S)」で"
               "直して下さい。"_s;
    case CURLE_BAD_FUNCTION_ARGUMENT:
        return u"「ﾕｰｻﾞ ID」か「ﾊﾟｽﾜｰﾄﾞ」に改行などの制御文字が入っています (サーバには送っていません)。"
               "「設定(&S)」で直して下さい。"_s;
    case CURLE_COULDNT_RESOLVE_HOST:
        return u"「FTP ｻｰﾊﾞ」のホスト名が見つかりません。綴りと、このコンピュータのネットワーク接続を確かめて下さい。"_s;
    case CURLE_COULDNT_CONNECT:
        return u"そのホストとポートでは何も応答しません (接続の拒否か、届かない)。「FTP "
               u"ｻｰﾊﾞ」のホスト名とポート、"
               "サーバが動いているかを確かめて下さい。"_s;
    case CURLE_OPERATION_TIMEDOUT:
        return u"FTP サーバが時間内に応答しませんでした。サーバかネットワークが止まっているか混んでいます。"
               "次のチェックでやり直します。"_s;
    case CURLE_LOGIN_DENIED:
        return refusedLogin(reply, asksTls);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return u"サーバの応答が FTP のものでないか、接続が途中で切れました。「FTP ｻｰﾊﾞ」のポートが FTP "
               u"のもの "
               "(ふつうは 21) かを確かめて下さい。"_s;
    case CURLE_USE_SSL_FAILED:
        return u"このサーバは FTPS (TLS) に対応していません (何も送っていません)。「FTPS (TLS) "
               u"を使用」のチェックを"
               "外すか、TLS が使えるかホストに問い合わせて下さい。"_s;
    case CURLE_PEER_FAILED_VERIFICATION:
        return u"サーバの証明書が信頼されていないか、別のホスト名のものです。「FTP "
               u"ｻｰﾊﾞ」を証明書の名前どおりに"
               "書くか、その証明書を環境変数 SSL_CERT_FILE で指定して下さい (README)。"_s;
    case CURLE_SSL_CACERT_BADFILE:
        return u"環境変数 SSL_CERT_FILE の証明書ファイルを読めません。そのパスと読み取りの権限を確かめて下さい。"_s;
    case CURLE_SSL_CONNECT_ERROR:
        return u"TLS の接続を始められませんでした。サーバの TLS の設定をホストに問い合わせるか、「FTPS (TLS) "
               u"を使用」"
               "のチェックを外して下さい。"_s;
    }
    return {};
}

} // namespace

QString explain(Stage stage, int code, int reply, bool asksTls) {
    QString line;
    if (code == CURLE_OUT_OF_MEMORY)
        line = u"メモリが足りません。ほかのプログラムを閉じてから、もう一度試して下さい。"_s;
    else if (stage == Stage::Runtime || (stage == Stage::Session && code == CURLE_FAILED_INIT))
        line = u"FTP のライブラリ (libcurl) を使う準備ができませんでした。Zentrow を起動し直し、続くときは "
               u"libcurl "
               "を入れ直して下さい。"_s;
    else if (stage == Stage::Session)
        line =
            u"この libcurl は FTP に対応していないか、Zentrow の設定を受け付けません。FTP と TLS に対応した "
            "libcurl (Debian: libcurl4) を入れて下さい。"_s;
    else if (stage == Stage::Connect)
        line = connect(code, reply, asksTls);
    else
        line = transfer(stage, code);
    if (line.isEmpty())
        line = u"FTP の処理に失敗しました (%1)。設定とサーバの状態を確かめて下さい。"_s.arg(
            QString::fromUtf8(curl_easy_strerror(CURLcode(code))));
    return line;
}

} // namespace ftpmessage
