// Page-image and receipt builders: the layout documents, read back by parsing.
#include "printdata/layouts/CFpdy_Image.h"
#include "printdata/layouts/CFpdy_xp.h"

#include <QDomDocument>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

template <class Builder>
QDomElement BuildDialog(Builder &builder, const QString &request)
{
    EXPECT_EQ(builder.ParseRequest(request), 0);
    int code = 0;
    const QString text = builder.BuildLayout(&code);
    EXPECT_EQ(code, 0);
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(text)) << text.toStdString();
    return doc.documentElement();
}

QString ImageRequest(const QString &kpxx)
{
    return QStringLiteral("<business><body><dyfs>1</dyfs><kpxx>%1</kpxx></body></business>").arg(kpxx);
}

QStringList PagePaths(const QDomElement &dialog)
{
    QStringList paths;
    for (QDomElement p = dialog.firstChildElement(QStringLiteral("Page")); !p.isNull();
         p = p.nextSiblingElement(QStringLiteral("Page"))) {
        const QDomElement image = p.firstChildElement();
        EXPECT_EQ(image.tagName(), QStringLiteral("FpImage"));
        EXPECT_TRUE(image.nextSiblingElement().isNull());
        paths << image.attribute(QStringLiteral("path"));
    }
    return paths;
}

} // namespace

TEST(ImageLayout, PagesFollowTheirNumbersStably)
{
    struct Case {
        const char *pages;
        const char *order;
    } cases[] = {
        {R"(<pages><page pn="3">c</page><page pn="1">a</page><page pn="2">b</page></pages>)", "a b c"},
        // Equal numbers keep document order; "010" is ten.
        {R"(<pages><page pn="2">x</page><page pn="010">z</page><page pn="2">y</page></pages>)", "x y z"},
        // Missing or non-numeric numbers count as 0, negative ones come first.
        {R"(<pages><page pn="1">b</page><page>m</page><page pn="x">n</page><page pn="-4">a</page></pages>)",
         "a m n b"},
        // Other children of pages are skipped; no pages, no Page.
        {R"(<pages><page pn="2">b</page><other pn="1">o</other><page pn="1">a</page></pages>)", "a b"},
        {"<dyfx>2</dyfx>", ""},
    };
    for (const Case &c : cases) {
        CFpdy_Image builder;
        const QDomElement dialog = BuildDialog(builder, ImageRequest(QString::fromUtf8(c.pages)));
        EXPECT_EQ(PagePaths(dialog).join(QLatin1Char(' ')), QString::fromUtf8(c.order)) << c.pages;
    }
}

TEST(ImageLayout, WindowAndImageValuesPassThroughAsTexts)
{
    CFpdy_Image builder;
    const QDomElement dialog = BuildDialog(
        builder, ImageRequest(QStringLiteral("<dyfx>1.5</dyfx><xzjd> 1</xzjd><zylx>1</zylx>"
                                             "<pages><page pn=\"1\"></page></pages>")));
    const QDomElement window = dialog.firstChildElement(QStringLiteral("Window"));
    EXPECT_EQ(window.attribute(QStringLiteral("businesstype")), QStringLiteral("image_qd"));
    EXPECT_EQ(window.attribute(QStringLiteral("title")), QStringLiteral("发票打印预览"));
    EXPECT_EQ(window.attribute(QStringLiteral("status")), QStringLiteral("2")); // not dyfs
    EXPECT_EQ(window.attribute(QStringLiteral("iconpath")), QString());
    EXPECT_EQ(window.attribute(QStringLiteral("backgroundpath")), QString());

    const QDomElement image = dialog.firstChildElement(QStringLiteral("Page")).firstChildElement();
    EXPECT_EQ(image.attribute(QStringLiteral("name")), QStringLiteral("图片"));
    EXPECT_EQ(image.attribute(QStringLiteral("x")), QStringLiteral("1.5"));
    EXPECT_EQ(image.attribute(QStringLiteral("y")), QStringLiteral("100")); // fsbl absent
    EXPECT_EQ(image.attribute(QStringLiteral("width")), QStringLiteral(" 1"));
    EXPECT_EQ(image.attribute(QStringLiteral("height")), QStringLiteral("1"));
    EXPECT_EQ(image.attribute(QStringLiteral("path")), QString());
}

TEST(ReceiptLayout, HdxmlRidesInTheOnlyImageOfAStatusThreeLayout)
{
    CFpdy_xp builder;
    const QDomElement dialog = BuildDialog(
        builder, QStringLiteral("<business><body><dyfs>1</dyfs><pybs>1</pybs><xpxx>"
                                "<xhdwmc>销方</xhdwmc></xpxx></body></business>"));
    const QDomElement window = dialog.firstChildElement(QStringLiteral("Window"));
    EXPECT_EQ(window.attribute(QStringLiteral("businesstype")), QStringLiteral("xp_qd"));
    EXPECT_EQ(window.attribute(QStringLiteral("status")), QStringLiteral("3"));
    EXPECT_EQ(window.attribute(QStringLiteral("iconpath")), QStringLiteral("./Images/01.ico"));
    const QDomElement page = dialog.firstChildElement(QStringLiteral("Page"));
    EXPECT_TRUE(page.nextSiblingElement(QStringLiteral("Page")).isNull());
    const QDomElement image = page.firstChildElement();
    EXPECT_EQ(image.tagName(), QStringLiteral("FpImage"));

    // The HDXML itself is read back by the print library's tests.
    const QString hdxml = image.attribute(QStringLiteral("path"));
    EXPECT_TRUE(hdxml.startsWith(QStringLiteral("<?xml version=\"1.0\" encoding=\"gbk\"?><business>")));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(hdxml));
    QStringList names;
    for (QDomElement e = doc.documentElement().firstChildElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement())
        names << e.tagName();
    EXPECT_EQ(names.join(QLatin1Char(' ')), QStringLiteral("fppy xhfmc scsj sxsj jshj ewm bz tspz xms"));
}
