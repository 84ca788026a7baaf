#include "printdata/LayoutWriter.h"

#include <gtest/gtest.h>

#include <QDomDocument>
#include <QDomNamedNodeMap>
#include <QMap>
#include <QVector>

namespace {

// A parsed element: tag, attributes (order-free) and child elements.
struct Node {
    QString tag;
    QMap<QString, QString> attrs;
    QVector<Node> children;

    bool operator==(const Node &o) const
    {
        return tag == o.tag && attrs == o.attrs && children == o.children;
    }
};

Node ToNode(const QDomElement &e)
{
    Node n;
    n.tag = e.tagName();
    const QDomNamedNodeMap map = e.attributes();
    for (int i = 0; i < map.count(); ++i) {
        const QDomAttr a = map.item(i).toAttr();
        n.attrs.insert(a.name(), a.value());
    }
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        n.children.append(ToNode(c));
    return n;
}

std::ostream &operator<<(std::ostream &os, const Node &n)
{
    os << "<" << n.tag.toStdString();
    for (auto it = n.attrs.begin(); it != n.attrs.end(); ++it)
        os << " " << it.key().toStdString() << "=\"" << it.value().toStdString() << "\"";
    os << ">";
    for (const Node &c : n.children)
        os << c;
    return os << "</" << n.tag.toStdString() << ">";
}

Node Parse(const QString &xml, QString *headTarget = nullptr, QString *headData = nullptr)
{
    QDomDocument doc;
    QString error;
    EXPECT_TRUE(doc.setContent(xml, &error)) << error.toStdString();
    for (QDomNode n = doc.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isProcessingInstruction()) {
            if (headTarget)
                *headTarget = n.toProcessingInstruction().target();
            if (headData)
                *headData = n.toProcessingInstruction().data();
            break;
        }
    }
    return ToNode(doc.documentElement());
}

Node El(const QString &tag, QMap<QString, QString> attrs, QVector<Node> children = {})
{
    return Node{tag, std::move(attrs), std::move(children)};
}

Node TextNode(const QString &kind, const QString &name, int x, int y, int w, int h,
              const QString &text, const QString &font, int size, int align, bool zoom)
{
    return El(kind, {{"name", name},
                     {"x", QString::number(x)},
                     {"y", QString::number(y)},
                     {"width", QString::number(w)},
                     {"height", QString::number(h)},
                     {"text", text},
                     {"font", font},
                     {"fontsize", QString::number(size)},
                     {"fontalign", QString::number(align)},
                     {"fontzoomer", zoom ? "true" : "false"}});
}

Node WindowNode(const QString &key, const QString &title, const QString &status,
                const QString &icon, const QString &background)
{
    return El("Window", {{"name", "window"},
                         {"businesstype", key},
                         {"title", title},
                         {"status", status},
                         {"iconpath", icon},
                         {"backgroundpath", background}});
}

// A builder's fields as the tables see them.
struct Fields {
    QString fpdm;
    QString hjje;
};

const LayoutRow<Fields> kRows[] = {
    {{"发票代码", 1750, -180, 250, 50, kFontSong, 9, 0x2082, true}, &Fields::fpdm},
    {{"合计金额", 1360, 610, 240, 50, kFontCourier, 10, 0x1000082, true, LayoutKind::Icon},
     &Fields::hjje},
    {{"代开单位", 920, 750, 200, 50, kFontSong, 9, 0x82, false}, nullptr, "（代开单位）"},
};

} // namespace

TEST(LayoutWriter, WindowPagesAndElementsReadBack)
{
    CLayoutWriter w;
    w.WriteWindow("004_qd", "发票打印预览", "1", "01.ico", "zzszyfp_NEW.PNG");
    w.BeginPage();
    w.AddQrCode(190, 110, 160, 160, "01,04,abc,5957,");
    Fields f{"3200", "¥100.00"};
    w.WriteRows(kRows, f, 200, 295);
    w.BeginPage();
    w.AddText("备注", -5, 7, 770, 200, "line 1\nline 2 <&\">", kFontSong, 9, 0x2001, false);
    const QString xml = w.ToString();

    // The DOM writer ends the head with a line break; the elements follow on
    // one line, a line break in a value travels as a character reference.
    const int rootAt = xml.indexOf(QStringLiteral("<Dialog"));
    ASSERT_GT(rootAt, 0);
    EXPECT_FALSE(xml.mid(rootAt).contains(QLatin1Char('\n')));
    QString target, data;
    const Node root = Parse(xml, &target, &data);
    EXPECT_EQ(target, QStringLiteral("XMLPack"));
    EXPECT_EQ(data, QStringLiteral("version=\"1.0\" encoding=\"UTF-8\""));
    EXPECT_TRUE(xml.startsWith(QStringLiteral("<?XMLPack")));

    const Node expected = El(
        "Dialog", {},
        {WindowNode("004_qd", "发票打印预览", "1", "./Images/01.ico",
                    "./Images/zzszyfp_NEW.PNG"),
         El("Page", {},
            {El("EwmImage", {{"name", "二维码"},
                             {"x", "190"},
                             {"y", "110"},
                             {"width", "160"},
                             {"height", "160"},
                             {"text", "01,04,abc,5957,"}}),
             TextNode("Text", "发票代码", 1950, 115, 250, 50, "3200", "宋体", 9, 8322, true),
             TextNode("Icon", "合计金额", 1560, 905, 240, 50, "¥100.00", "Courier New", 10,
                      16777346, true),
             TextNode("Text", "代开单位", 1120, 1045, 200, 50, "（代开单位）", "宋体", 9, 130,
                      false)}),
         El("Page", {},
            {TextNode("Text", "备注", -5, 7, 770, 200, "line 1\nline 2 <&\">", "宋体", 9, 8193,
                      false)})});
    EXPECT_EQ(root, expected);

    // Closing twice gives the same document.
    EXPECT_EQ(Parse(w.ToString()), expected);
}

TEST(LayoutWriter, PicturesDeclarationAndEmptyWindowPaths)
{
    CLayoutWriter w(QStringLiteral("xml"));
    w.WriteWindow("image_qd", "发票打印预览", "2", QString(), QString());
    // No BeginPage: the element still lands on a page.
    w.AddFpImage("10", "0x14", "abc", "1", "iVBORw0KGgo=");
    w.AddFpImage(0, -3, 2100, 0, "./a.png");
    const QString xml = w.ToString();

    QString target;
    const Node root = Parse(xml, &target);
    EXPECT_EQ(target, QStringLiteral("xml"));
    const Node expected = El(
        "Dialog", {},
        {WindowNode("image_qd", "发票打印预览", "2", "", ""),
         El("Page", {},
            {El("FpImage", {{"name", "图片"},
                            {"x", "10"},
                            {"y", "0x14"},
                            {"width", "abc"},
                            {"height", "1"},
                            {"path", "iVBORw0KGgo="}}),
             El("FpImage", {{"name", "图片"},
                            {"x", "0"},
                            {"y", "-3"},
                            {"width", "2100"},
                            {"height", "0"},
                            {"path", "./a.png"}})})});
    EXPECT_EQ(root, expected);
}

TEST(LayoutWriter, BoxKindCanBeChosenPerText)
{
    const LayoutBox box{"合计税额", 1770, 610, 230, 50, kFontCourier, 10, 0x82, true};
    CLayoutWriter w;
    w.WriteWindow("007_qd", "发票打印预览", "", "01.ico", "zzsptfp_NEW.PNG");
    w.BeginPage();
    w.AddBox(box, 0, 0, "***");
    w.AddBoxAs(LayoutKind::Icon, box, 0, 0, "13.00");
    const Node root = Parse(w.ToString());
    ASSERT_EQ(root.children.size(), 2);
    const Node &page = root.children[1];
    ASSERT_EQ(page.children.size(), 2);
    EXPECT_EQ(page.children[0].tag, QStringLiteral("Text"));
    EXPECT_EQ(page.children[1].tag, QStringLiteral("Icon"));
    EXPECT_EQ(page.children[1].attrs.value("x"), QStringLiteral("1770"));
    EXPECT_EQ(root.children[0].attrs.value("status"), QString());
}
