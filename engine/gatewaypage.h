#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Whether the gateway page shows what was just published. Porvane.cgi answers "?state" with one
// line: "on," and the host its link goes to, or "off" while it shows the closed text. That line is
// compared with what the file just uploaded makes the page show.
namespace gatewaypage {

// The answer due for a file of `state` and `address`: "on," and the address as the link writes it
// (an IPv6 address in brackets, an IPv4 address and a port without leading zeros), else "off".
QString expectedAnswer(const QString &state, const QString &address);

// The page's address with the query of its state answer.
QString stateUrl(const QString &pageUrl);

struct Confirmation {
    enum Kind {
        Confirmed,   // the page shows what was published
        Shows,       // it shows something else: `seen`
        NoAnswer,    // it answered, but not with a state (not Porvane.cgi, or an older one)
        Answered,    // it answered with HTTP status `seen`
        Unreachable, // no answer: `seen` says why
    };
    Kind kind = Confirmed;
    QString seen;
    QString due; // what the page should show

    bool confirmed() const { return kind == Confirmed; }
    // How the check's line ends: ", confirmed", ", page shows off", ", page answered 403", ...
    QString logText() const;
    // What the page shows, and what usually causes it, in the user's words.
    QString message() const;
};

inline const QString kTitle = QStringLiteral("Porvane 確認");

// Fetches the page's state answer (over IPv4, within the address check's limits; caches asked for a
// fresh one) and compares it with the published `fields`: state, address, ... The thread's events are
// handled while it waits; once `stop` says so, the fetch is dropped.
Confirmation confirm(const QString &pageUrl, const QStringList &fields, std::function<bool()> stop = {});

} // namespace gatewaypage
