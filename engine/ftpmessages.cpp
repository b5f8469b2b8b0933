#include "engine/ftpmessages.h"

#include <curl/curl.h>

using namespace Qt::Literals::StringLiterals;

namespace ftpmessage {

namespace {

constexpr int bit(Stage s) {
    return 1 << int(s);
}
constexpr int kAny = 0xFF;
constexpr int kTransfer = bit(Stage::Put) | bit(Stage::Get);

struct Line {
    int stages; // bits of the stages it is said in
    int code;
    const char *text;
};

// One line a message, as the README's table gives them.
// clang-format off
constexpr Line kLines[] = {
    {kAny, CURLE_OUT_OF_MEMORY, "メモリが足りません。ほかのプログラムを閉じてから、もう一度試して下さい。"},
    {bit(Stage::Runtime) | bit(Stage::Session), CURLE_FAILED_INIT, "FTP のライブラリ (libcurl) を使う準備ができませんでした。Zentrow を起動し直し、続くときは libcurl を入れ直して下さい。"},
    {bit(Stage::Connect), CURLE_URL_MALFORMAT, "「FTP ｻｰﾊﾞ」がホスト名か「ホスト名:ポート番号」(ポートは 1～65535) になっていません。「設定(&S)」で直して下さい。"},
    {bit(Stage::Connect), CURLE_BAD_FUNCTION_ARGUMENT, "「ﾕｰｻﾞ ID」か「ﾊﾟｽﾜｰﾄﾞ」に改行などの制御文字が入っています (サーバには送っていません)。「設定(&S)」で直して下さい。"},
    {bit(Stage::Connect), CURLE_COULDNT_RESOLVE_HOST, "「FTP ｻｰﾊﾞ」のホスト名が見つかりません。綴りと、このコンピュータのネットワーク接続を確かめて下さい。"},
    {bit(Stage::Connect), CURLE_COULDNT_CONNECT, "そのホストとポートでは何も応答しません (接続の拒否か、届かない)。「FTP ｻｰﾊﾞ」のホスト名とポート、サーバが動いているかを確かめて下さい。"},
    {bit(Stage::Connect), CURLE_OPERATION_TIMEDOUT, "FTP サーバが時間内に応答しませんでした。サーバかネットワークが止まっているか混んでいます。次のチェックでやり直します。"},
    {bit(Stage::Connect), CURLE_LOGIN_DENIED, "ユーザ ID またはパスワードが違います。「設定(&S)」の「ﾕｰｻﾞ ID」と「ﾊﾟｽﾜｰﾄﾞ」を確かめて下さい。"},
    {bit(Stage::Connect), CURLE_WEIRD_SERVER_REPLY, "サーバの応答が FTP のものでないか、接続が途中で切れました。「FTP ｻｰﾊﾞ」のポートが FTP のもの (ふつうは 21) かを確かめて下さい。"},
    {bit(Stage::Connect), CURLE_SEND_ERROR, "サーバの応答が FTP のものでないか、接続が途中で切れました。「FTP ｻｰﾊﾞ」のポートが FTP のもの (ふつうは 21) かを確かめて下さい。"},
    {bit(Stage::Connect), CURLE_RECV_ERROR, "サーバの応答が FTP のものでないか、接続が途中で切れました。「FTP ｻｰﾊﾞ」のポートが FTP のもの (ふつうは 21) かを確かめて下さい。"},
    {bit(Stage::Connect), CURLE_USE_SSL_FAILED, "このサーバは FTPS (TLS) に対応していません (何も送っていません)。「FTPS (TLS) を使用」のチェックを外すか、TLS が使えるかホストに問い合わせて下さい。"},
    {bit(Stage::Connect), CURLE_PEER_FAILED_VERIFICATION, "サーバの証明書が信頼されていないか、別のホスト名のものです。「FTP ｻｰﾊﾞ」を証明書の名前どおりに書くか、その証明書を環境変数 SSL_CERT_FILE で指定して下さい (README)。"},
    {bit(Stage::Connect), CURLE_SSL_CACERT_BADFILE, "環境変数 SSL_CERT_FILE の証明書ファイルを読めません。そのパスと読み取りの権限を確かめて下さい。"},
    {bit(Stage::Connect), CURLE_SSL_CONNECT_ERROR, "TLS の接続を始められませんでした。サーバの TLS の設定をホストに問い合わせるか、「FTPS (TLS) を使用」のチェックを外して下さい。"},
    {kTransfer, CURLE_COULDNT_CONNECT, "データ接続を開けませんでした (サーバが示したパッシブモードのポートに届きません: ファイアウォールか NAT)。ホストのパッシブポートの設定と、ルータやファイアウォールを確かめて下さい。"},
    {kTransfer, CURLE_FTP_WEIRD_PASV_REPLY, "データ接続を開けませんでした (サーバが示したパッシブモードのポートに届きません: ファイアウォールか NAT)。ホストのパッシブポートの設定と、ルータやファイアウォールを確かめて下さい。"},
    {kTransfer, CURLE_FTP_CANT_GET_HOST, "データ接続を開けませんでした (サーバが示したパッシブモードのポートに届きません: ファイアウォールか NAT)。ホストのパッシブポートの設定と、ルータやファイアウォールを確かめて下さい。"},
    {kTransfer, CURLE_OPERATION_TIMEDOUT, "サーバが時間内に応答しませんでした (データ接続か、その前後の応答)。次のチェックでやり直します。"},
    {bit(Stage::Put), CURLE_PARTIAL_FILE, "サーバがファイルの受け取りを確かめませんでした。次のチェックでやり直します。続くときはサーバの空き容量をホストに問い合わせて下さい。"},
    {bit(Stage::Get), CURLE_PARTIAL_FILE, "転送の途中で接続が切れました。次のチェックでやり直します。続くときはサーバとネットワークを確かめて下さい。"},
    {kTransfer, CURLE_SEND_ERROR, "転送の途中で接続が切れました。次のチェックでやり直します。続くときはサーバとネットワークを確かめて下さい。"},
    {kTransfer, CURLE_RECV_ERROR, "転送の途中で接続が切れました。次のチェックでやり直します。続くときはサーバとネットワークを確かめて下さい。"},
    {bit(Stage::Put), CURLE_URL_MALFORMAT, "「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」が空か、/ で終わるか、制御文字を含んでいます。「設定(&S)」で ipdata.txt のファイル名まで入れて下さい。"},
    {bit(Stage::Put), CURLE_UPLOAD_FAILED, "サーバがファイルを受け付けませんでした。「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」のフォルダがあるか、そこに書き込めるかを確かめて下さい。"},
    {bit(Stage::Put), CURLE_REMOTE_ACCESS_DENIED, "サーバがアクセスを拒否しました。「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」のパスと、その権限を確かめて下さい。"},
    {bit(Stage::Put), CURLE_FILE_COULDNT_READ_FILE, "作業コピーの ipdata.txt を開けないか、読めません。プログラムフォルダの権限を確かめて下さい。"},
    {bit(Stage::Put), CURLE_READ_ERROR, "作業コピーの ipdata.txt を開けないか、読めません。プログラムフォルダの権限を確かめて下さい。"},
    {bit(Stage::Get), CURLE_URL_MALFORMAT, "「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」が空か、/ で終わっています。「設定(&S)」で ipdata.txt のファイル名まで入れて下さい。"},
    {bit(Stage::Get), CURLE_FILESIZE_EXCEEDED, "サーバのファイルが 1 MiB を超えていて、ゲートウェイのファイルではありません。「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」を確かめて下さい。"},
    {bit(Stage::Get), CURLE_WRITE_ERROR, "作業コピーの ipdata.txt を書けません。プログラムフォルダの権限と空き容量を確かめて下さい。"},
    {bit(Stage::Get), CURLE_FTP_COULDNT_RETR_FILE, "サーバがファイルを渡しませんでした。「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」のパスと権限を確かめて下さい。"},
    {bit(Stage::Get), CURLE_REMOTE_ACCESS_DENIED, "サーバがファイルを渡しませんでした。「ｱｯﾌﾟﾛｰﾄﾞ先ﾌｧｲﾙ（ﾌﾙﾊﾟｽ）」のパスと権限を確かめて下さい。"},
};
constexpr char kTlsAsked[] = "サーバが TLS で守られたログインを求めて断りました (応答 %1)。「設定(&S)」で「FTPS (TLS) を使用」にチェックを入れて下さい。";
constexpr char kBusy[] = "サーバが接続を断りました (応答 421: 接続数の上限や一時的な停止など)。次のチェックでやり直します。続くときはホストに問い合わせて下さい。";
constexpr char kOldLibrary[] = "この libcurl は FTP に対応していないか、Zentrow の設定を受け付けません。FTP と TLS に対応した libcurl (Debian: libcurl4) を入れて下さい。";
constexpr char kOther[] = "FTP の処理に失敗しました (%1)。設定とサーバの状態を確かめて下さい。";
// clang-format on

} // namespace

QString explain(Stage stage, int code, int reply, bool asksTls) {
    if (stage == Stage::Connect && code == CURLE_LOGIN_DENIED && asksTls)
        return QString::fromUtf8(kTlsAsked).arg(reply);
    if (stage == Stage::Connect && code == CURLE_LOGIN_DENIED && reply == 421)
        return QString::fromUtf8(kBusy);
    for (const Line &line : kLines)
        if ((line.stages & bit(stage)) && line.code == code)
            return QString::fromUtf8(line.text);
    // A run-time error is libcurl failing to start, whatever its number.
    if (stage == Stage::Runtime)
        return explain(Stage::Runtime, CURLE_FAILED_INIT);
    if (stage == Stage::Session)
        return QString::fromUtf8(kOldLibrary);
    return QString::fromUtf8(kOther).arg(QString::fromUtf8(curl_easy_strerror(CURLcode(code))));
}

} // namespace ftpmessage
