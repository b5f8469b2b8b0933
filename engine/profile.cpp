#include "engine/profile.h"

#include "engine/codepage.h"
#include "engine/wholefile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

constexpr char kCrLf[] = "\r\n";

// Blanks on the file side: space, tab and vertical tab.
constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v';
}

struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
};

// One line of the file: its text is [begin, contentEnd), its line break [contentEnd, end).
struct Line {
    qsizetype begin = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
    bool hasBreak() const { return end > contentEnd; }
};

enum class Kind { Blank, Comment, Section, Entry };

struct Parsed {
    Kind kind = Kind::Blank;
    Span name;         // section name or key, blanks trimmed
    Span value;        // value of an entry, blanks trimmed
    qsizetype eq = -1; // position of the "=" of an entry, -1 when it has none
};

// CR LF, LF and CR alone all end a line. Neither byte can be the second half of a double-byte
// character, so splitting on raw bytes is safe.
Line lineAt(const QByteArray &d, qsizetype pos) {
    Line l;
    l.begin = pos;
    qsizetype i = pos;
    const qsizetype n = d.size();
    while (i < n && d[i] != '\r' && d[i] != '\n')
        ++i;
    l.contentEnd = i;
    if (i < n)
        i += (d[i] == '\r' && i + 1 < n && d[i + 1] == '\n') ? 2 : 1;
    l.end = i;
    return l;
}

Span trimBlanks(const QByteArray &d, Span s) {
    while (s.begin < s.end && isBlank(d[s.begin]))
        ++s.begin;
    while (s.end > s.begin && isBlank(d[s.end - 1]))
        --s.end;
    return s;
}

Parsed parse(const QByteArray &d, const Line &l) {
    Parsed p;
    const Span text = trimBlanks(d, {l.begin, l.contentEnd});
    if (text.begin == text.end)
        return p;
    if (d[text.begin] == ';') {
        p.kind = Kind::Comment;
        return p;
    }
    if (d[text.begin] == '[') {
        // The name ends at the first "]" that is a character of its own, not the second
        // byte of a double-byte character; without one it runs to the end of the line.
        p.kind = Kind::Section;
        qsizetype i = text.begin + 1;
        while (i < text.end) {
            const auto b = static_cast<unsigned char>(d[i]);
            if (codepage::isLeadByte(b) && i + 1 < text.end)
                i += 2;
            else if (b == ']')
                break;
            else
                ++i;
        }
        p.name = trimBlanks(d, {text.begin + 1, std::min(i, text.end)});
        return p;
    }
    p.kind = Kind::Entry;
    // "=" lies below the range of second bytes, so the first one is a character of its own.
    for (qsizetype i = text.begin; i < text.end; ++i) {
        if (d[i] == '=') {
            p.eq = i;
            break;
        }
    }
    if (p.eq >= 0) {
        p.name = trimBlanks(d, {text.begin, p.eq});
        p.value = trimBlanks(d, {p.eq + 1, text.end});
    }
    return p;
}

// What a C string argument holds: everything before the first NUL.
QByteArray cString(const QByteArray &s) {
    const qsizetype nul = s.indexOf('\0');
    return nul < 0 ? s : s.left(nul);
}

QByteArray trimSpaces(const QByteArray &s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b] == ' ')
        ++b;
    while (e > b && s[e - 1] == ' ')
        --e;
    return s.mid(b, e - b);
}

bool isAscii(const char *p, qsizetype n) {
    for (qsizetype i = 0; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    return true;
}

// A name the caller asks for, compared as text: a byte-wise comparison would fold second
// bytes of double-byte characters that happen to be ASCII letters.
class Name {
public:
    explicit Name(QByteArray bytes)
        : bytes_(std::move(bytes)), ascii_(isAscii(bytes_.constData(), bytes_.size())) {}

    bool matches(const QByteArray &d, Span s) const {
        const char *p = d.constData() + s.begin;
        const qsizetype n = s.end - s.begin;
        // No character of the code page beyond ASCII folds to an ASCII letter.
        if (ascii_ != isAscii(p, n))
            return false;
        if (ascii_)
            return n == bytes_.size() && qstrnicmp(p, n, bytes_.constData(), bytes_.size()) == 0;
        if (!text_)
            text_ = codepage::fromAnsi(bytes_);
        const QString other = codepage::fromAnsi(QByteArray(p, n));
        // Bytes that are no character all decode alike: those must match exactly.
        if (text_->contains(QChar::ReplacementCharacter) || other.contains(QChar::ReplacementCharacter))
            return QByteArrayView(p, n) == bytes_;
        return other.compare(*text_, Qt::CaseInsensitive) == 0;
    }

private:
    QByteArray bytes_;
    bool ascii_;
    mutable std::optional<QString> text_;
};

// Where a section and a key stand in the file.
struct Location {
    bool sectionFound = false;
    Line header;                   // the first section of that name
    std::optional<Line> lastEntry; // its last line that is neither blank nor a comment
    std::optional<Line> keyLine;   // its first entry of that key
    Parsed key;
};

Location locate(const QByteArray &d, const Name &section, const Name &key) {
    Location loc;
    bool inSection = false;
    for (qsizetype pos = 0; pos < d.size();) {
        const Line l = lineAt(d, pos);
        pos = l.end;
        const Parsed p = parse(d, l);
        if (p.kind == Kind::Section) {
            if (loc.sectionFound)
                break; // only the first section of the name counts
            inSection = section.matches(d, p.name);
            if (inSection) {
                loc.sectionFound = true;
                loc.header = l;
            }
            continue;
        }
        if (!inSection || p.kind != Kind::Entry)
            continue;
        loc.lastEntry = l;
        if (!loc.keyLine && p.eq >= 0 && key.matches(d, p.name)) {
            loc.keyLine = l;
            loc.key = p;
        }
    }
    return loc;
}

// The whole file, or nothing when it is missing, is not a regular file (a pipe would block) or
// is too large to be a profile.
std::optional<QByteArray> readFile(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > profile::kMaxFileBytes)
        return std::nullopt;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError || data.size() > profile::kMaxFileBytes)
        return std::nullopt;
    return data;
}

// At most `limit` bytes, never ending on the first half of a double-byte character.
QByteArray cut(const QByteArray &s, qsizetype limit) {
    qsizetype pos = 0;
    while (pos < s.size()) {
        const qsizetype len =
            codepage::isLeadByte(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size() ? 2 : 1;
        if (pos + len > limit)
            break;
        pos += len;
    }
    return s.left(pos);
}

// Names that could never be read back are refused, so that repeated writes cannot pile up
// lines: a line break would start a new line, blanks other than spaces at either end are
// trimmed on reading, a "]" ends a section name early, an "=" ends a key early, and a key
// starting with "[" or ";" reads as a section header or a comment.
bool nameWritable(const QByteArray &n) {
    if (n.contains('\r') || n.contains('\n'))
        return false;
    return n.isEmpty() || (!isBlank(n.front()) && !isBlank(n.back()));
}

bool sectionWritable(const QByteArray &s) {
    if (!nameWritable(s))
        return false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (codepage::isLeadByte(b) && i + 1 < s.size())
            ++i;
        else if (b == ']')
            return false;
    }
    return true;
}

bool keyWritable(const QByteArray &k) {
    return nameWritable(k) && !k.contains('=') && !k.startsWith('[') && !k.startsWith(';');
}

// The file with `key` set to `value` in `section`.
QByteArray updated(const QByteArray &d, const QByteArray &section, const QByteArray &key,
                   const QByteArray &value) {
    const Location loc = locate(d, Name(section), Name(key));
    if (loc.keyLine) {
        // Keep the key as the file spells it; the line keeps its own line break.
        const Line &l = *loc.keyLine;
        QByteArray out = d.left(loc.key.eq + 1);
        out += value;
        out += l.hasBreak() ? d.mid(l.contentEnd, l.end - l.contentEnd) : QByteArray(kCrLf);
        out += d.mid(l.end);
        return out;
    }
    const QByteArray entry = key + '=' + value + kCrLf;
    if (loc.sectionFound) {
        const Line &after = loc.lastEntry ? *loc.lastEntry : loc.header;
        QByteArray out = d.left(after.end);
        if (!after.hasBreak())
            out += kCrLf;
        out += entry;
        out += d.mid(after.end);
        return out;
    }
    QByteArray out = d;
    if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
        out += kCrLf;
    out += '[' + section + ']' + kCrLf + entry;
    return out;
}

} // namespace

namespace profile {

QByteArray getString(const QByteArray &section, const QByteArray &key, const QByteArray &def, int size,
                     const QString &path) {
    if (size <= 0)
        return {};
    QByteArray result = cString(def);
    while (result.endsWith(' '))
        result.chop(1);
    if (const auto data = readFile(path)) {
        const Location loc =
            locate(*data, Name(trimSpaces(cString(section))), Name(trimSpaces(cString(key))));
        if (loc.keyLine) {
            Span v = loc.key.value;
            const char first = v.end - v.begin >= 2 ? (*data)[v.begin] : '\0';
            if ((first == '"' || first == '\'') && (*data)[v.end - 1] == first) {
                ++v.begin;
                --v.end;
            }
            result = cString(data->mid(v.begin, v.end - v.begin));
        }
    }
    return cut(result, size - 1);
}

bool writeString(const QByteArray &section, const QByteArray &key, const QByteArray &value,
                 const QString &path) {
    const QByteArray sec = trimSpaces(cString(section));
    const QByteArray k = trimSpaces(cString(key));
    if (!sectionWritable(sec) || !keyWritable(k))
        return false;
    // A line break in the value would add lines to the file; what reads back is the first line.
    QByteArray v = cString(value);
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' || v[i] == '\n') {
            v.truncate(i);
            break;
        }
    }

    const bool exists = QFileInfo::exists(path);
    QByteArray data;
    if (exists) {
        // Never replace a file whose content could not be read first.
        const auto old = readFile(path);
        if (!old)
            return false;
        data = *old;
    }

    const QByteArray out = updated(data, sec, k, v);
    // A file that holds the value already is left alone: every save writes every key, and each
    // replacement waits for the disk twice.
    if (exists && out == data)
        return true;

    // Replaced whole or not at all. It holds the FTP password: a new file is for its owner only.
    return wholefile::write(path, out, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace profile
