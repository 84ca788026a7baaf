// Text fitting and number texts shared by the layout builders.
//
// Contract:
// - The fitting functions work in place on the UTF-8 bytes of a text; the
//   caller turns the bytes back into text afterwards.
// - WrapTextByWidth counts a one-byte sequence as one column and every longer
//   sequence as two; it inserts "\n" where a line fills the width (unless
//   countOnly) and returns the number of lines from `start` on. Existing "\n"
//   are kept and counted. A character wider than the whole width gets a line
//   of its own, so wrapping always ends.
// - CutTextToWidth counts sequences of one or two bytes as one column and
//   longer ones as two; when the width is reached it inserts one NUL byte at
//   the cut and returns the cut's index (the text ends there when read as a C
//   string); otherwise it inserts nothing and returns the length.
// - Widths below 1 count as 1; positions never go past the end of the bytes.
// - NumberToText returns the empty text for infinite, NaN and subnormal values;
//   it rounds half away from zero within a budget of 15 significant digits.
//   mode > 0 trims trailing zeros; mode 0 trims unless decimals is 2; mode < 0
//   never trims.
#ifndef PLENWICK_PRINTDATA_TEXTFIT_H
#define PLENWICK_PRINTDATA_TEXTFIT_H

#include <QByteArray>
#include <QString>

// Length (1 to 6) of the UTF-8 sequence that starts with `lead`.
int Utf8CharLength(unsigned char lead);

// Returns the number of lines (0 when start is at or past the end).
int WrapTextByWidth(QByteArray &bytes, int start, unsigned width, bool countOnly);

// Returns the byte index of the cut (or the length when nothing was cut).
int CutTextToWidth(QByteArray &bytes, int width);

// Display columns of a text: ASCII 1, any other character 2.
int TextDisplayWidth(const QString &text);

// Rounded decimal text of x with `decimals` places ("" when x is not printable).
QString NumberToText(double x, int decimals, int mode);

// "120.500" -> "120.5", "120.000" -> "120", "100" stays "100".
QString TrimNumberZeros(const QString &text);

// Replaces the text by its value with 2 decimals ("0.00" when not a number).
void AmountText(QString &text);

// Replaces a non-empty fraction text by its percentage: "0.13" -> "13%".
void RateText(QString &text);

#endif
