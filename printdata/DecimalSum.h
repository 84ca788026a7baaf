// CDecimalSum: an exact sum of decimal amount texts, written with two
// decimals.
//
// Amounts are added as the decimal digits they are written with, so a long
// list never drifts the way binary floating point does; only the written text
// is rounded (half away from zero), and a zero sum is written "0.00", never
// "-0.00".
#ifndef PLENWICK_PRINTDATA_DECIMALSUM_H
#define PLENWICK_PRINTDATA_DECIMALSUM_H

#include <QString>

#include <string>

class CDecimalSum
{
public:
    // Adds a plain decimal text: an optional sign, digits with at most one
    // point, blanks around it allowed ("12", "-0.5", ".5", "3."). Any other
    // text (empty, "***", exponents, "inf") adds nothing and answers false.
    bool Add(const QString &text);
    void Add(const CDecimalSum &other);
    void Clear();

    // The sum with two decimals, for example "-10.00", "1234.57".
    QString ToText() const;

private:
    void AddMagnitude(bool negative, std::string digits, int scale);

    bool negative_ = false;
    std::string digits_;  // magnitude, most significant digit first; empty is 0
    int scale_ = 0;       // how many of the digits are decimals
};

#endif
