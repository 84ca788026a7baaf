// Drawing pieces shared by the page painter and the receipt painter.
#pragma once

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

class QByteArray;
class QPainter;

// The painter's font: family at pixelSize (at least 1) and weight.
void SetPixelFont(QPainter *painter, const QString &family, int pixelSize,
                  int weight = QFont::Normal);

// Cuts text into lines, each the longest run of whole characters (graphemes)
// whose single-line width fits box's width; at least one character a line, so
// a too narrow box still ends. An empty text gives no line.
QStringList CutLines(QPainter *painter, const QRectF &box, const QString &text);

// QR code of text (libqrencode, version 5 or larger, level M, 8-bit) as a
// width × height picture, black modules on white. caseSensitive false folds
// a to z to capitals. Null when the text is empty or has no code.
QImage MakeQrImage(const QByteArray &text, bool caseSensitive, int width, int height);
