#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The gateway data file ipdata.txt: one line "state,address,closed message[,carried...]" + CR LF,
// in CP932. The gateway script on the web server reads it; "on" (exactly) means open.
namespace ipdata {

inline constexpr int kFieldCount = 3; // state, address, closed message
// A real file is a few hundred bytes. A larger one than this is no gateway file: it reads as
// closed, with no address and no message, here and in the gateway script (the same number).
inline constexpr qint64 kMaxFileBytes = 65536;

// Always three fields, joined by ",", CR LF at the end, CP932. The state is "on" or "off": any
// other text reads as closed, so it is written as "off", never empty. A comma in the message would
// split it, so it is written as the full-width "，", which reads the same; fields carried beyond the
// third become part of the message so. CR and LF are dropped so the file stays one line.
QByteArray encode(const QStringList &fields);
// The closed message as the file can hold it.
QString messageText(QString text);

// The longest closed message given on the command line, in CP932 bytes: zent.ini, which remembers
// the message for a server that has no file yet, gives no longer value back whole.
inline constexpr int kMaxMessageBytes = 255;
// Why `text` cannot be given as the closed message, in the user's words; empty when it can.
QString messageProblem(const QString &text);

// Lenient: the lines are joined with nothing between them (every CR and LF dropped), then the
// text is cut at every "," keeping empty fields. Bytes that are not CP932 become U+FFFD.
// An empty file gives one empty field.
QStringList decode(const QByteArray &bytes);

// Writes encode(fields) to a temporary file that replaces `path` only when it is complete.
// False when it cannot be written; `path` is then left as it was.
bool write(const QString &path, const QStringList &fields);

enum class ReadStatus {
    Ok,
    Missing,    // no file at the path
    Unreadable, // not a regular file, or cannot be opened
};

struct ReadResult {
    ReadStatus status = ReadStatus::Missing;
    QStringList fields; // decode() of the file when status is Ok (closed for a file too large), else empty
};

ReadResult read(const QString &path);

// `fields` with empty fields appended up to `count`; longer lists are kept whole.
QStringList padded(QStringList fields, int count = kFieldCount);

} // namespace ipdata
