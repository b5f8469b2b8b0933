#include "engine/vbnumber.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

int digitValue(QChar c, int radix) {
    const char16_t u = c.unicode();
    int d = -1;
    if (u >= u'0' && u <= u'9')
        d = u - u'0';
    else if (u >= u'a' && u <= u'f')
        d = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        d = u - u'A' + 10;
    return d < radix ? d : -1;
}

// &H and &O: up to 16 bits read as a signed 16-bit value, up to 32 bits as signed 32-bit.
// A trailing "&" forces 32 bits, "%" 16 bits.
std::optional<double> radixValue(const QString &s, qsizetype i, int radix) {
    quint64 v = 0;
    for (; i < s.size(); ++i) {
        const int d = digitValue(s[i], radix);
        if (d < 0)
            break;
        v = v * static_cast<quint64>(radix) + static_cast<quint64>(d);
        if (v > 0xFFFFFFFFull)
            return std::nullopt; // overflow
    }
    const QChar suffix = i < s.size() ? s[i] : QChar();
    if (suffix == u'%' && v > 0xFFFF)
        return std::nullopt;
    if (suffix == u'&' || v > 0xFFFF)
        return static_cast<double>(static_cast<qint32>(static_cast<quint32>(v)));
    return static_cast<double>(static_cast<qint16>(static_cast<quint16>(v)));
}

} // namespace

namespace vbnumber {

std::optional<double> Val(const QString &text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skip = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    skip();
    if (i < n && text[i] == u'&') {
        ++i;
        if (i < n && (text[i] == u'H' || text[i] == u'h'))
            return radixValue(text, i + 1, 16);
        if (i < n && (text[i] == u'O' || text[i] == u'o'))
            return radixValue(text, i + 1, 8);
        return 0.0;
    }
    std::string num;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            num += '-';
        ++i;
    }
    bool digits = false, point = false, exponent = false;
    for (;; ++i) {
        skip();
        if (i >= n)
            break;
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            num += static_cast<char>(c.unicode());
            digits = true;
        } else if (c == u'.' && !point) {
            num += '.';
            point = true;
        } else {
            break;
        }
    }
    if (digits && i < n && QStringLiteral("EeDd").contains(text[i])) {
        std::string exp = "e";
        qsizetype j = i + 1;
        auto skipAt = [&] {
            while (j < n && isBlank(text[j]))
                ++j;
        };
        skipAt();
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exp += static_cast<char>(text[j++].unicode());
        bool expDigits = false;
        for (;; ++j) {
            skipAt();
            if (j >= n || text[j] < u'0' || text[j] > u'9')
                break;
            exp += static_cast<char>(text[j].unicode());
            expDigits = true;
        }
        if (expDigits) {
            num += exp;
            exponent = true;
            i = j;
        }
    }
    if (!digits)
        return 0.0;
    // A type character after a fraction is a type mismatch, as in the original runtime.
    if ((point || exponent) && i < n && (text[i] == u'%' || text[i] == u'&'))
        return std::nullopt;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), v);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as 0; overflow is an error.
        return num.find("e-") != std::string::npos ? std::optional<double>(0.0) : std::nullopt;
    }
    if (ec != std::errc() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

qint16 toInt16(const QString &text) {
    const std::optional<double> v = Val(text);
    if (!v || !std::isfinite(*v))
        return 0;
    const double r = std::nearbyint(*v); // the default rounding mode is half to even
    if (r < -32768.0 || r > 32767.0)
        return 0;
    return static_cast<qint16>(r);
}

QString fromInt(qint16 value) {
    return QString::number(value);
}

} // namespace vbnumber
