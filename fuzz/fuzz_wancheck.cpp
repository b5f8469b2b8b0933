// What the address-echo CGI and a mail server send back: never a crash, and never an address
// that would break the one-line gateway file.
#include "engine/codepage.h"
#include "engine/wancheck.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {
void mustBeUsable(const QString &address) {
    if (!wancheck::isUsableAddress(address))
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = codepage::fromAnsi(bytes);

    if (const auto address = wancheck::addressFromCgiBody(text)) {
        mustBeUsable(*address);
        if (address->size() != text.size() - 2 * wancheck::kCgiFrame)
            __builtin_trap();
    }
    // IPv6 mode: a global address, already in the canonical form, with nothing that splits a field.
    if (const auto v6 = wancheck::addressFromCgiBody(text, wancheck::IpVersion::V6)) {
        if (wancheck::globalIpv6(*v6) != v6 || v6->contains(u','))
            __builtin_trap();
    }
    // The same text as one connection's pieces, cut at every NUL: one EHLO at the most, one
    // judgement at the most, and nothing but a close after it.
    wancheck::SmtpDialogue dialogue;
    int ehlos = 0, judged = 0;
    for (const QString &piece : text.split(QChar(0))) {
        const wancheck::SmtpDecision d = dialogue.feed(piece);
        ehlos += d.action == wancheck::SmtpAction::SendEhlo;
        judged +=
            d.action == wancheck::SmtpAction::TakeAddress || d.action == wancheck::SmtpAction::NoAddress;
        if (d.action == wancheck::SmtpAction::TakeAddress)
            mustBeUsable(d.address);
        if (ehlos > 1 || judged > 1)
            __builtin_trap();
    }
    (void)wancheck::parseSmtpTarget(text, 25);
    return 0;
}
