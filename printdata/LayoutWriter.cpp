#include "printdata/LayoutWriter.h"

#include <QDomProcessingInstruction>

namespace {

QString ImagePath(const QString &file)
{
    if (file.isEmpty())
        return QString();
    return QStringLiteral("%1%2").arg(QStringLiteral("./Images/"), file);
}

} // namespace

CLayoutWriter::CLayoutWriter(const QString &headTarget)
{
    doc_.appendChild(doc_.createProcessingInstruction(
        headTarget, QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    dialog_ = doc_.createElement(QStringLiteral("Dialog"));
}

void CLayoutWriter::WriteWindow(const QString &businessType, const QString &title,
                                const QString &status, const QString &iconFile,
                                const QString &backgroundFile)
{
    QDomElement window = doc_.createElement(QStringLiteral("Window"));
    window.setAttribute(QStringLiteral("name"), QStringLiteral("window"));
    window.setAttribute(QStringLiteral("businesstype"), businessType);
    window.setAttribute(QStringLiteral("title"), title);
    window.setAttribute(QStringLiteral("status"), status);
    window.setAttribute(QStringLiteral("iconpath"), ImagePath(iconFile));
    window.setAttribute(QStringLiteral("backgroundpath"), ImagePath(backgroundFile));
    dialog_.appendChild(window);
}

void CLayoutWriter::BeginPage()
{
    // The page goes into Dialog at once: its place among the pages is fixed by
    // the order of BeginPage calls, whatever is added to it later.
    page_ = doc_.createElement(QStringLiteral("Page"));
    dialog_.appendChild(page_);
}

QDomElement CLayoutWriter::NewElement(const QString &kind)
{
    if (page_.isNull())
        BeginPage();
    QDomElement e = doc_.createElement(kind);
    page_.appendChild(e);
    return e;
}

void CLayoutWriter::AddTextLike(const QString &kind, const QString &name, int x, int y,
                                int width, int height, const QString &text,
                                const QString &font, int fontSize, int fontAlign, bool zoom)
{
    QDomElement e = NewElement(kind);
    e.setAttribute(QStringLiteral("name"), name);
    e.setAttribute(QStringLiteral("x"), x);
    e.setAttribute(QStringLiteral("y"), y);
    e.setAttribute(QStringLiteral("width"), width);
    e.setAttribute(QStringLiteral("height"), height);
    e.setAttribute(QStringLiteral("text"), text);
    e.setAttribute(QStringLiteral("font"), font);
    e.setAttribute(QStringLiteral("fontsize"), fontSize);
    e.setAttribute(QStringLiteral("fontalign"), fontAlign);
    e.setAttribute(QStringLiteral("fontzoomer"),
                   zoom ? QStringLiteral("true") : QStringLiteral("false"));
}

void CLayoutWriter::AddText(const QString &name, int x, int y, int width, int height,
                            const QString &text, const QString &font, int fontSize,
                            int fontAlign, bool zoom)
{
    AddTextLike(QStringLiteral("Text"), name, x, y, width, height, text, font, fontSize,
                fontAlign, zoom);
}

void CLayoutWriter::AddIcon(const QString &name, int x, int y, int width, int height,
                            const QString &text, const QString &font, int fontSize,
                            int fontAlign, bool zoom)
{
    AddTextLike(QStringLiteral("Icon"), name, x, y, width, height, text, font, fontSize,
                fontAlign, zoom);
}

void CLayoutWriter::AddBox(const LayoutBox &box, int originX, int originY, const QString &text)
{
    AddBoxAs(box.kind, box, originX, originY, text);
}

void CLayoutWriter::AddBoxAs(LayoutKind kind, const LayoutBox &box, int originX, int originY,
                             const QString &text)
{
    AddTextLike(kind == LayoutKind::Icon ? QStringLiteral("Icon") : QStringLiteral("Text"),
                QString::fromUtf8(box.name), originX + box.dx, originY + box.dy, box.width,
                box.height, text, QString::fromUtf8(box.font), box.fontSize, box.fontAlign,
                box.zoom);
}

void CLayoutWriter::AddQrCode(int x, int y, int width, int height, const QString &text)
{
    QDomElement e = NewElement(QStringLiteral("EwmImage"));
    e.setAttribute(QStringLiteral("name"), QStringLiteral("二维码"));
    e.setAttribute(QStringLiteral("x"), x);
    e.setAttribute(QStringLiteral("y"), y);
    e.setAttribute(QStringLiteral("width"), width);
    e.setAttribute(QStringLiteral("height"), height);
    e.setAttribute(QStringLiteral("text"), text);
}

void CLayoutWriter::AddFpImage(int x, int y, int width, int height, const QString &path)
{
    AddFpImage(QString::number(x), QString::number(y), QString::number(width),
               QString::number(height), path);
}

void CLayoutWriter::AddFpImage(const QString &x, const QString &y, const QString &width,
                               const QString &height, const QString &path)
{
    QDomElement e = NewElement(QStringLiteral("FpImage"));
    e.setAttribute(QStringLiteral("name"), QStringLiteral("图片"));
    e.setAttribute(QStringLiteral("x"), x);
    e.setAttribute(QStringLiteral("y"), y);
    e.setAttribute(QStringLiteral("width"), width);
    e.setAttribute(QStringLiteral("height"), height);
    e.setAttribute(QStringLiteral("path"), path);
}

QString CLayoutWriter::ToString()
{
    if (dialog_.parentNode().isNull())
        doc_.appendChild(dialog_);
    return doc_.toString(-1);
}
