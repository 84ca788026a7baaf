// Drawing pieces shared by the page painter and the receipt painter.
#pragma once

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>

class QByteArray;
class QPainter;

// The painter's font: family at pixelSize (at least 1) and weight.
void SetPixelFont(QPainter *painter, const QString &family, int pixelSize,
                  int weight = QFont::Normal);

// The largest pixel size in 1..top for which fits(size) holds, or 1 when none
// does (nor when top < 1). Text grows with its pixel size, so fits holds up to
// some size and fails above it: a bisection finds what a step-by-step search
// down from top finds, in about log2(top) calls instead of top.
int LargestFittingPixelSize(int top, const std::function<bool(int)> &fits);

// Cuts text into lines, each the longest run of whole characters (graphemes)
// whose single-line width fits box's width; at least one character a line, so
// a too narrow box still ends. An empty text gives no line.
QStringList CutLines(QPainter *painter, const QRectF &box, const QString &text);

// QR code of text (libqrencode, version 5 or larger, level M, 8-bit) as a
// width × height picture, black modules on white; a side beyond 4096 is drawn
// at 4096 (still over 20 pixels a module) and the caller scales it into
// place. caseSensitive false folds a to z to capitals. Null when the text is
// empty or has no code.
QImage MakeQrImage(const QByteArray &text, bool caseSensitive, int width, int height);
