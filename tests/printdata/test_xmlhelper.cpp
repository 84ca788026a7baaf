#include "printdata/CXmlHelper.h"

#include <gtest/gtest.h>

#include <QDomDocument>
#include <QStringList>

namespace {

// Enters business > body the way every request parser does.
bool EnterBody(CXmlHelper& xml, const QString& text)
{
    return xml.SetContent(text) == 0
        && xml.FindElement("business", true) && xml.IntoElement()
        && xml.FindElement("body", true) && xml.IntoElement();
}

QString Field(CXmlHelper& xml, const QString& name)
{
    return xml.FindElement(name, true) ? xml.GetText() : QStringLiteral("<missing>");
}

} // namespace

TEST(XmlHelperReader, FieldsAreFoundFromTheFirstChildInAnyOrder)
{
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, "<business id='1'><body><c>3</c><a>1</a><b>2<i>x</i></b></body></business>"));
    // Finding a later field first does not hide the earlier ones.
    EXPECT_EQ(Field(xml, "b"), "2x"); // whole text content
    EXPECT_EQ(Field(xml, "a"), "1");
    EXPECT_EQ(Field(xml, "c"), "3");
    EXPECT_EQ(Field(xml, "A"), "<missing>");
    EXPECT_TRUE(xml.FindElement("A", false));
    EXPECT_EQ(xml.GetText(), "1");
}

TEST(XmlHelperReader, FirstOfTwoEqualNamesWinsEveryTime)
{
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, "<business><body><x>first</x><y/><x>second</x></body></business>"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Field(xml, "x"), "first");
        EXPECT_TRUE(xml.FindElement("y", true));
    }
}

TEST(XmlHelperReader, RootIsMatchedWithOrWithoutCase)
{
    CXmlHelper xml;
    ASSERT_EQ(xml.SetContent("<Business><body/></Business>"), 0);
    EXPECT_FALSE(xml.FindElement("business", true));
    EXPECT_TRUE(xml.FindElement("business", false));
}

TEST(XmlHelperReader, RowsSkipChildNodesThatAreNotRows)
{
    const QString text =
        "<business><body><fyxm>"
        "<!-- note --><group><n>one</n></group>text<other><n>no</n></other><group><n>two</n></group>"
        "</fyxm></body></business>";
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, text));
    ASSERT_TRUE(xml.FindElement("fyxm", true));
    const int n = xml.ChildCount();
    EXPECT_EQ(n, 5);

    QStringList rows;
    for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(xml.IntoElement());
        ASSERT_TRUE(xml.SelectChild(i));
        if (xml.FindElement("group", true)) {
            ASSERT_TRUE(xml.IntoElement());
            rows << Field(xml, "n");
            xml.OutOfElement();
        }
        xml.OutOfElement();
    }
    EXPECT_EQ(rows, QStringList({"one", "two"}));
    // Back among body's children, where the container was found.
    EXPECT_EQ(xml.Depth(), 3);
    EXPECT_EQ(xml.ChildCount(), 5);
}

TEST(XmlHelperReader, AfterSelectChildFindOnlyChecksTheSelectedNode)
{
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, "<business><body><group>a</group><!--c--><group>b</group></body></business>"));
    ASSERT_TRUE(xml.SelectChild(1));
    EXPECT_FALSE(xml.FindElement("group", true)); // child 1 is the comment
    ASSERT_TRUE(xml.SelectChild(2));
    EXPECT_TRUE(xml.FindElement("group", true));
    EXPECT_EQ(xml.GetText(), "b"); // not the first group: no search was made

    // n equal to the level's size fails and leaves current alone.
    EXPECT_FALSE(xml.SelectChild(3));
    EXPECT_FALSE(xml.SelectChild(-1));
    EXPECT_EQ(xml.GetText(), "b");
}

TEST(XmlHelperReader, FailedIntoElementLeavesTheCursorWhereItWas)
{
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, "<business><body><kpxx/><dyfs>1</dyfs><xm>t</xm></body></business>"));
    ASSERT_TRUE(xml.FindElement("kpxx", true));
    EXPECT_FALSE(xml.IntoElement());
    EXPECT_EQ(xml.Depth(), 3);
    EXPECT_EQ(Field(xml, "dyfs"), "1");

    // A selected node that is not an element cannot be entered either.
    CXmlHelper other;
    ASSERT_TRUE(EnterBody(other, "<business><body><!--c--><a>1</a></body></business>"));
    ASSERT_TRUE(other.SelectChild(0));
    EXPECT_FALSE(other.IntoElement());
    EXPECT_EQ(other.Depth(), 3);
}

TEST(XmlHelperReader, AttributesAndLeavingRestoresTheEnteredElement)
{
    CXmlHelper xml;
    ASSERT_TRUE(EnterBody(xml, "<business><body><pages><page n='1' w='2'>p1</page></pages></body></business>"));
    ASSERT_TRUE(xml.FindElement("pages", true));
    ASSERT_TRUE(xml.IntoElement());
    ASSERT_TRUE(xml.SelectChild(0));
    ASSERT_TRUE(xml.FindElement("page", true));
    EXPECT_EQ(xml.GetText(), "p1");
    EXPECT_EQ(xml.GetAttribute("w"), "2");
    EXPECT_EQ(xml.GetAttribute("missing"), "");
    xml.OutOfElement();
    EXPECT_EQ(xml.ChildCount(), 1); // current is "pages" again
}

TEST(XmlHelperReader, CallsOutOfContractFailWithoutTouchingAnything)
{
    CXmlHelper xml;
    // Writer mode, nothing read: the reader calls have nothing to look at.
    EXPECT_FALSE(xml.FindElement("a", true));
    EXPECT_FALSE(xml.SelectChild(0));
    EXPECT_EQ(xml.GetText(), "");
    EXPECT_EQ(xml.ChildCount(), 0);

    EXPECT_EQ(xml.SetContent(""), 1);
    EXPECT_EQ(xml.SetContent("<business><body>"), 2);
    EXPECT_FALSE(xml.FindElement("business", true));
    EXPECT_FALSE(xml.SelectChild(0));
    EXPECT_FALSE(xml.IntoElement());
    xml.OutOfElement();
    EXPECT_EQ(xml.Depth(), 1);

    // Leaving the top level keeps the cursor usable.
    ASSERT_EQ(xml.SetContent("<business><body/></business>"), 0);
    xml.OutOfElement();
    xml.OutOfElement();
    EXPECT_TRUE(xml.FindElement("business", true));
    EXPECT_TRUE(xml.IntoElement());
    EXPECT_TRUE(xml.FindElement("body", true));
    EXPECT_FALSE(xml.IntoElement()); // <body/> has no child nodes
}

TEST(XmlHelperWriter, NestedElementsComeOutOnOneLineInOrder)
{
    CXmlHelper xml;
    xml.AddDeclaration("version=\"1.0\" encoding=\"UTF-8\"");
    ASSERT_TRUE(xml.AddElement("business", ""));
    ASSERT_TRUE(xml.SetAttribute("id", "7"));
    xml.IntoElement();
    ASSERT_TRUE(xml.AddElement("body", ""));
    xml.IntoElement();
    ASSERT_TRUE(xml.AddElement("a", "1"));
    ASSERT_TRUE(xml.AddElement("b", "二"));
    xml.OutOfElement();
    xml.OutOfElement();
    const QString text = xml.ToString(-1);

    EXPECT_TRUE(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << text.toStdString();
    EXPECT_FALSE(text.contains('\n'));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(text));
    const QDomElement business = doc.documentElement();
    EXPECT_EQ(business.tagName(), "business");
    EXPECT_EQ(business.attribute("id"), "7");
    const QDomElement body = business.firstChildElement();
    EXPECT_EQ(body.tagName(), "body");
    EXPECT_EQ(body.childNodes().count(), 2);
    EXPECT_EQ(body.firstChildElement().tagName(), "a");
    EXPECT_EQ(body.lastChildElement().tagName(), "b");
    EXPECT_EQ(body.lastChildElement().text(), "二");
}

TEST(XmlHelperWriter, AttributeWithoutElementFails)
{
    CXmlHelper xml;
    xml.AddDeclaration("version=\"1.0\"");
    EXPECT_FALSE(xml.SetAttribute("a", "b"));
    xml.AddElement("r", "");
    xml.IntoElement();
    xml.IntoElement();
    EXPECT_FALSE(xml.SetAttribute("a", "b"));
    // An element at a depth with no parent element is not linked anywhere.
    EXPECT_TRUE(xml.AddElement("lost", ""));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(xml.ToString(-1)));
    EXPECT_EQ(doc.documentElement().tagName(), "r");
    EXPECT_FALSE(doc.documentElement().hasChildNodes());
}
