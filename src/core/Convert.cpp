#include "core/Convert.h"

#include "core/AppError.h"

#include <cmath>

namespace vc::convert {

namespace {
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
}  // namespace

std::optional<double> toNumber(const QString &text)
{
    qsizetype i = 0, n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;
    while (n > i && isBlank(text[n - 1]))
        --n;
    if (i >= n)
        return std::nullopt;
    QString core;
    core.reserve(n - i);
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))
        core += text[i++];
    int digits = 0;
    bool point = false;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            ++digits;
            core += c;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
            core += c;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (core.endsWith(QLatin1Char('.')))
        core.chop(1);
    bool ok = false;
    const double v = core.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

bool isNumeric(const QString &text)
{
    return toNumber(text).has_value();
}

std::optional<int16_t> tryInt16(const QString &text)
{
    const auto v = toNumber(text);
    if (!v)
        return std::nullopt;
    const double r = std::nearbyint(*v);  // default rounding: half to even
    if (r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return static_cast<int16_t>(r);
}

int16_t toInt16(const QString &text)
{
    const auto v = toNumber(text);
    if (!v)
        raise(err::TypeMismatch);
    const double r = std::nearbyint(*v);
    if (r < -32768.0 || r > 32767.0)
        raise(err::Overflow);
    return static_cast<int16_t>(r);
}

bool toBool(const QString &text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    const auto v = toNumber(text);
    if (!v)
        raise(err::TypeMismatch);
    return *v != 0.0;
}

QString withCrLf(const QString &text, bool formFeedEndsLine)
{
    QString out;
    out.reserve(text.size() + text.size() / 32 + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\r\n");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else if (c == QLatin1Char('\f') && formFeedEndsLine) {
            if (!out.isEmpty() && !out.endsWith(QLatin1String("\r\n")))
                out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    if (!out.isEmpty() && !out.endsWith(QLatin1String("\r\n")))
        out += QLatin1String("\r\n");
    return out;
}

}  // namespace vc::convert
