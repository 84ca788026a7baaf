// Writer of the layout XML that the print library reads.
//
// Contract:
// - One CLayoutWriter makes one document: the head (processing instruction
//   "XMLPack", or "xml" for an ordinary declaration) with the data
//   version="1.0" encoding="UTF-8", then Dialog with one Window and the Pages.
// - Call WriteWindow once, then BeginPage before the elements of each page;
//   elements go to the latest page (one is begun for an element written
//   before any BeginPage). ToString() closes the document and returns it on
//   one line; calling it again returns the same text.
// - Every element gets its attributes in the fixed order of its kind:
//   Text/Icon: name x y width height text font fontsize fontalign fontzoomer;
//   EwmImage: name("二维码") x y width height text;
//   FpImage: name("图片") x y width height path.
// - Builders keep their boxes as tables: a LayoutBox is the geometry and style
//   of one box relative to an origin, a LayoutRow<Owner> adds where its text
//   comes from (a QString member of Owner, or a fixed text). WriteRows writes
//   a whole table at an origin, in table order.
#ifndef PLENWICK_PRINTDATA_LAYOUTWRITER_H
#define PLENWICK_PRINTDATA_LAYOUTWRITER_H

#include <QDomDocument>
#include <QDomElement>
#include <QString>
#include <cstddef>

// Fonts the forms are designed for (the print library maps them).
inline constexpr char kFontSong[] = "宋体";
inline constexpr char kFontHei[] = "黑体";
inline constexpr char kFontCourier[] = "Courier New";

// fontalign bits.
enum LayoutAlign : int {
    kAlignLeft = 0x1,
    kAlignRight = 0x2,
    kAlignHCenter = 0x4,
    kAlignTop = 0x20,
    kAlignBottom = 0x40,
    kAlignVCenter = 0x80,
    kAlignWrap = 0x2000,
    kBorderRect = 0x40000,        // border styles: value of bits 16-23
    kBorderLeft = 0x50000,
    kBorderTop = 0x60000,
    kBorderRight = 0x70000,
    kBorderBottom = 0x80000,
    kBorderLeftBottom = 0x90000,
    kBorderLeftRight = 0x100000,
    kBorderLeftTopBottom = 0x110000,
    kBorderLeftBottomRight = 0x120000,
    kIconYuan = 0x1000000,        // Icon: "¥" left of the text
    kIconVoid = 0x2000000,        // Icon: "ⓧ" left of the text
};

enum class LayoutKind { Text, Icon };

// One Text or Icon box of a builder's table, relative to an origin.
struct LayoutBox {
    const char *name;       // UTF-8 label, never drawn
    int dx, dy;             // offset from the origin, 0.1 mm
    int width, height;      // 0.1 mm
    const char *font;       // kFontSong, kFontHei, kFontCourier
    int fontSize;           // points
    int fontAlign;          // LayoutAlign bits
    bool zoom;              // fontzoomer "true" (shrink to fit) or "false"
    LayoutKind kind = LayoutKind::Text;
};

// A box and the source of its text: Owner's member `text`, or `literal`
// (UTF-8) when `text` is null.
template <class Owner>
struct LayoutRow {
    LayoutBox box;
    QString Owner::*text;
    const char *literal = nullptr;
};

class CLayoutWriter
{
public:
    // headTarget "XMLPack" (every builder but one) or "xml".
    explicit CLayoutWriter(const QString &headTarget = QStringLiteral("XMLPack"));

    // iconFile/backgroundFile are file names under "./Images/"; an empty
    // name gives an empty attribute.
    void WriteWindow(const QString &businessType, const QString &title,
                     const QString &status, const QString &iconFile,
                     const QString &backgroundFile);

    void BeginPage();

    void AddText(const QString &name, int x, int y, int width, int height,
                 const QString &text, const QString &font, int fontSize,
                 int fontAlign, bool zoom);
    void AddIcon(const QString &name, int x, int y, int width, int height,
                 const QString &text, const QString &font, int fontSize,
                 int fontAlign, bool zoom);
    // A table box at (originX + dx, originY + dy), Text or Icon by box.kind.
    void AddBox(const LayoutBox &box, int originX, int originY, const QString &text);
    // Same box written as `kind` (for boxes whose kind depends on the text).
    void AddBoxAs(LayoutKind kind, const LayoutBox &box, int originX, int originY,
                  const QString &text);

    // QR code of `text` filling the box (name "二维码").
    void AddQrCode(int x, int y, int width, int height, const QString &text);
    // Picture element (name "图片"); the numbers may be passed on as texts.
    void AddFpImage(int x, int y, int width, int height, const QString &path);
    void AddFpImage(const QString &x, const QString &y, const QString &width,
                    const QString &height, const QString &path);

    template <class Owner>
    void WriteRows(const LayoutRow<Owner> *rows, std::size_t count, const Owner &owner,
                   int originX, int originY)
    {
        for (std::size_t i = 0; i < count; ++i) {
            const LayoutRow<Owner> &row = rows[i];
            AddBox(row.box, originX, originY,
                   row.text ? owner.*(row.text) : QString::fromUtf8(row.literal));
        }
    }
    template <class Owner, std::size_t N>
    void WriteRows(const LayoutRow<Owner> (&rows)[N], const Owner &owner, int originX,
                   int originY)
    {
        WriteRows(rows, N, owner, originX, originY);
    }

    // The document on one line (no indentation).
    QString ToString();

private:
    QDomElement NewElement(const QString &kind);
    void AddTextLike(const QString &kind, const QString &name, int x, int y, int width,
                     int height, const QString &text, const QString &font, int fontSize,
                     int fontAlign, bool zoom);

    QDomDocument doc_;
    QDomElement dialog_;
    QDomElement page_;
};

#endif
