#include "printdata/TextFit.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

int Utf8CharLength(unsigned char lead)
{
    if ((lead & 0xFE) == 0xFC)
        return 6;
    if ((lead & 0xFC) == 0xF8)
        return 5;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    return 1;
}

int WrapTextByWidth(QByteArray &bytes, int start, unsigned width, bool countOnly)
{
    if (width == 0)
        width = 1;
    int pos = std::max(start, 0);
    if (pos >= bytes.size())
        return 0;

    int lines = 0;
    int lineStart = pos;
    unsigned sum = 0;
    while (pos < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes.at(pos));
        if (c == '\n') {
            ++lines;
            ++pos;
            if (pos >= bytes.size())
                return lines;
            lineStart = pos;
            sum = 0;
            continue;
        }
        const int len = Utf8CharLength(c);
        const int next = std::min(pos + len, static_cast<int>(bytes.size()));
        sum += (len == 1) ? 1 : 2;
        if (sum < width) {
            pos = next;
            continue;
        }
        // A character that sticks out moves to the next line, unless it is
        // alone on its line: then it stays and the line ends after it, so the
        // walk always advances.
        int brk = (sum == width) ? next : pos;
        if (brk == lineStart)
            brk = next;
        ++lines;
        if (brk >= bytes.size())
            return lines;
        if (countOnly) {
            pos = brk;
        } else {
            bytes.insert(brk, '\n');
            pos = brk + 1;
        }
        lineStart = pos;
        sum = 0;
    }
    return lines + 1;
}

int CutTextToWidth(QByteArray &bytes, int width)
{
    if (width < 1)
        width = 1;
    if (bytes.isEmpty())
        return 0;

    int pos = 0;
    int sum = 0;
    const int size = bytes.size();
    while (pos < size) {
        const int len = Utf8CharLength(static_cast<unsigned char>(bytes.at(pos)));
        const int next = std::min(pos + len, size);
        sum += (len >= 3) ? 2 : 1;
        if (sum >= width) {
            const int cut = (sum == width) ? next : pos;
            bytes.insert(cut, '\0');
            return cut;
        }
        pos = next;
    }
    return pos;
}

int TextDisplayWidth(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    int columns = 0;
    int i = 0;
    while (i < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes.at(i));
        if (c < 0x80) {
            columns += 1;
            i += 1;
            continue;
        }
        int lead = 0;
        while (c & 0x80) {
            ++lead;
            c = static_cast<unsigned char>(c << 1);
        }
        columns += 2;
        i += lead;
    }
    return columns;
}

namespace {

// Fixed notation, C locale whatever the process locale is.
QString FixedText(double value, int decimals)
{
    // A double has no non-zero digit beyond 1074 decimals.
    decimals = std::min(decimals, 1074);
    std::vector<char> buf(static_cast<std::size_t>(decimals) + 400);
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                   std::chars_format::fixed, decimals);
    if (res.ec != std::errc())
        return QString();
    return QString::fromLatin1(buf.data(), static_cast<int>(res.ptr - buf.data()));
}

// Significant-digit budget left for decimals after the integer digits.
int DecimalBudget(double x)
{
    if (x == 0.0)
        return 15;
    double ip = std::trunc(x);
    if (ip != 0.0) {
        int digits = 0;
        double v = x;
        while (std::trunc(v) != 0.0) {
            v /= 10.0;
            ++digits;
        }
        return 15 - digits;
    }
    int k = 0;
    double v = x;
    while (std::trunc(v) == 0.0) {
        v *= 10.0;
        ++k;
    }
    return 15 + k;
}

} // namespace

QString NumberToText(double x, int decimals, int mode)
{
    if (!std::isfinite(x) || (x != 0.0 && std::fabs(x) < 2.2250738585072014e-308))
        return QString();

    const int d = decimals < 0 ? 0 : decimals;
    const int budget = DecimalBudget(x);
    int count = d;
    double value = x;
    if (budget >= 0) {
        count = std::min(d, budget);
        const double scale = std::pow(10.0, count);
        const double m = x * scale;
        if (!std::isfinite(m)) {
            // Scale beyond the double range (hundreds of decimals of a tiny
            // value): nothing to round at that depth, print x as it is.
            value = x;
        } else if (m == 0.0) {
            value = 0.0;
        } else {
            // Decimal halves that a double holds just below .5 (2.675) must
            // still round up: push m away from zero by its last bits first.
            double nudged = m;
            for (int k = 1; nudged == m; ++k)
                nudged += m * k / 1e17;
            nudged += (nudged >= 0.0) ? 0.5 : -0.5;
            value = static_cast<double>(static_cast<int64_t>(nudged)) / scale;
        }
    }

    if (mode > 0 || (mode == 0 && count != 2))
        return TrimNumberZeros(FixedText(value, count));
    return FixedText(value, d);
}

QString TrimNumberZeros(const QString &text)
{
    QString t = text;
    while (!t.isEmpty() && t.endsWith(QLatin1Char('0')) && t.contains(QLatin1Char('.')))
        t.chop(1);
    if (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    return t;
}

void AmountText(QString &text)
{
    text = QString::number(text.toDouble(), 'f', 2);
}

void RateText(QString &text)
{
    if (text.isEmpty())
        return;
    text = QString::number(text.toDouble() * 100.0, 'g', 6) + QLatin1Char('%');
}
