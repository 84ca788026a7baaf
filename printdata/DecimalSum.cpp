#include "printdata/DecimalSum.h"

#include <algorithm>

namespace {

// Both magnitudes get the same scale and length (zeros appended and
// prepended), so they can be added or compared digit by digit.
void Align(std::string &a, int &scaleA, std::string &b, int &scaleB)
{
    if (scaleA < scaleB) {
        a.append(std::size_t(scaleB - scaleA), '0');
        scaleA = scaleB;
    } else if (scaleB < scaleA) {
        b.append(std::size_t(scaleA - scaleB), '0');
        scaleB = scaleA;
    }
    const std::size_t n = std::max(a.size(), b.size());
    a.insert(0, n - a.size(), '0');
    b.insert(0, n - b.size(), '0');
}

// a + b; equal lengths.
std::string Plus(const std::string &a, const std::string &b)
{
    std::string r(a.size(), '0');
    int carry = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        const int d = (a[i] - '0') + (b[i] - '0') + carry;
        r[i] = char('0' + d % 10);
        carry = d / 10;
    }
    return carry ? '1' + r : r;
}

// a - b with a >= b; equal lengths.
std::string Minus(const std::string &a, const std::string &b)
{
    std::string r(a.size(), '0');
    int borrow = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        int d = (a[i] - '0') - (b[i] - '0') - borrow;
        borrow = d < 0;
        r[i] = char('0' + (d + 10) % 10);
    }
    return r;
}

void StripLeadingZeros(std::string &digits)
{
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
}

} // namespace

bool CDecimalSum::Add(const QString &text)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('+') || t.at(i) == QLatin1Char('-')))
        negative = t.at(i++) == QLatin1Char('-');

    std::string digits;
    int scale = -1;  // -1: no point yet
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('.') && scale < 0) {
            scale = 0;
        } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits.push_back(char(c.unicode()));
            if (scale >= 0)
                ++scale;
        } else {
            return false;
        }
    }
    if (digits.empty())
        return false;
    AddMagnitude(negative, std::move(digits), std::max(scale, 0));
    return true;
}

void CDecimalSum::Add(const CDecimalSum &other)
{
    AddMagnitude(other.negative_, other.digits_, other.scale_);
}

void CDecimalSum::Clear()
{
    *this = CDecimalSum();
}

void CDecimalSum::AddMagnitude(bool negative, std::string digits, int scale)
{
    Align(digits_, scale_, digits, scale);
    if (negative == negative_) {
        digits_ = Plus(digits_, digits);
    } else if (digits_ >= digits) {  // equal lengths: text order is number order
        digits_ = Minus(digits_, digits);
    } else {
        digits_ = Minus(digits, digits_);
        negative_ = negative;
    }
    StripLeadingZeros(digits_);
    if (digits_.empty())
        negative_ = false;
}

QString CDecimalSum::ToText() const
{
    std::string m = digits_;
    int scale = scale_;
    if (scale < 2) {
        m.append(std::size_t(2 - scale), '0');
        scale = 2;
    }
    m.insert(0, std::size_t(std::max(0, scale + 1 - int(m.size()))), '0');
    if (scale > 2) {
        const bool up = m[m.size() - std::size_t(scale - 2)] >= '5';
        m.resize(m.size() - std::size_t(scale - 2));
        if (up) {
            std::string one(m.size(), '0');
            one.back() = '1';
            m = Plus(m, one);
        }
    }
    StripLeadingZeros(m);
    const bool zero = m.empty();
    m.insert(0, std::size_t(std::max(0, 3 - int(m.size()))), '0');
    m.insert(m.size() - 2, 1, '.');
    if (negative_ && !zero)
        m.insert(0, 1, '-');
    return QString::fromLatin1(m.data(), int(m.size()));
}
