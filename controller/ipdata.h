#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The gateway data file ipdata.txt: one line "state,address,closed message[,carried...]" + CR LF,
// in CP932. The gateway script on the web server reads it; "on" (exactly) means open.
namespace ipdata {

inline constexpr int kFieldCount = 3; // state, address, closed message
// A real file is a few hundred bytes; anything larger than this is not the data file.
inline constexpr qint64 kMaxFileBytes = 1 << 20;

// Fields joined by ",", CR LF at the end, CP932. Commas inside a field are not escaped: they
// split it on the next read. CR and LF inside a field are dropped so the file stays one line.
QByteArray encode(const QStringList &fields);

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
    Unreadable, // not a regular file, cannot be opened, or larger than kMaxFileBytes
};

struct ReadResult {
    ReadStatus status = ReadStatus::Missing;
    QStringList fields; // decode() of the file when status is Ok, else empty
};

ReadResult read(const QString &path);

// `fields` with empty fields appended up to `count`; longer lists are kept whole.
QStringList padded(QStringList fields, int count = kFieldCount);

} // namespace ipdata
