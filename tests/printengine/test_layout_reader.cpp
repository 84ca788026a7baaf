#include "printengine/CLayoutReader.h"

#include <gtest/gtest.h>

namespace {

const char kHead[] = "<?XMLPack version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Doc(const std::string &body)
{
    return std::string(kHead) + "<Dialog>" + body + "</Dialog>";
}

} // namespace

TEST(LayoutReader, ReadsWindowAndElementsOfEachKind)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc(
                  "<Window name=\"window\" businesstype=\"004_qd\" title=\"t\" status=\"1\" "
                  "iconpath=\"./Images/01.ico\" backgroundpath=\"./Images/bg.png\"/>"
                  "<Page><Text name=\"发票代码\" x=\"1950\" y=\"115\" width=\"250\" height=\"50\" "
                  "text=\"3200201130\" font=\"宋体\" fontsize=\"9\" fontalign=\"8322\" "
                  "fontzoomer=\"true\"/>"
                  "<DrawLine x=\"1\" y=\"2\" tox=\"3\" toy=\"4\"/>"
                  "<FpImage name=\"图片\" path=\"abc\" height=\"1\"/></Page>")),
              0);
    EXPECT_EQ(r.m_strWndBusinessType, "004_qd");
    EXPECT_EQ(r.m_strWndTitle, "t");
    EXPECT_EQ(r.m_strWndStatus, "1");
    EXPECT_EQ(r.m_strWndIconPath, "./Images/01.ico");
    EXPECT_EQ(r.m_strWndBackground, "./Images/bg.png");
    ASSERT_EQ(r.m_vecPages.size(), 1u);
    ASSERT_EQ(r.m_vecPages[0].size(), 3u);

    const LayoutElement &t = r.m_vecPages[0][0];
    EXPECT_EQ(t.kind, "Text");
    EXPECT_EQ(t.name, "发票代码");
    EXPECT_EQ(t.x, 1950);
    EXPECT_EQ(t.y, 115);
    EXPECT_EQ(t.width, 250);
    EXPECT_EQ(t.height, 50);
    EXPECT_EQ(t.text, "3200201130");
    EXPECT_EQ(t.font, "宋体");
    EXPECT_EQ(t.fontsize, 9);
    EXPECT_EQ(t.fontalign, 0x2082);
    EXPECT_EQ(t.fontzoomer, "true");

    const LayoutElement &line = r.m_vecPages[0][1];
    EXPECT_EQ(line.kind, "DrawLine");
    EXPECT_EQ(line.tox, 3);
    EXPECT_EQ(line.toy, 4);
    EXPECT_EQ(r.m_vecPages[0][2].path, "abc");
    EXPECT_EQ(r.m_vecPages[0][2].height, 1);
}

TEST(LayoutReader, NumbersFollowAsIntAndMissingAttributesAreEmpty)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc("<Page><Text x=\"12.7\" y=\"0x20\" width=\"abc\" height=\" -5\" "
                               "fontalign=\"0x1000082\" index=\"3\" item_index=\"4\"/></Page>")),
              0);
    const LayoutElement &e = r.m_vecPages.at(0).at(0);
    EXPECT_EQ(e.x, 12);
    EXPECT_EQ(e.y, 32);
    EXPECT_EQ(e.width, 0);
    EXPECT_EQ(e.height, -5);
    EXPECT_EQ(e.fontalign, 0x1000082);
    EXPECT_EQ(e.fontsize, 0);
    EXPECT_TRUE(e.text.empty());
    EXPECT_TRUE(e.font.empty());
    EXPECT_TRUE(e.fontzoomer.empty());
    // Row indexes belong to Fpmx rows only.
    EXPECT_EQ(e.index, 0);
    EXPECT_EQ(e.item_index, 0);
}

TEST(LayoutReader, NumbersAreHeldToWhatAFormCanUse)
{
    const struct {
        const char *attribute;
        const char *value;
        int LayoutElement::*field;
        int expected;
    } cases[] = {
        {"x", "99999", &LayoutElement::x, 20000},
        {"y", "-9234567890", &LayoutElement::y, -20000},
        {"tox", "20000", &LayoutElement::tox, 20000},
        {"toy", "-20001", &LayoutElement::toy, -20000},
        {"width", "0x7fffffff", &LayoutElement::width, 20000},
        {"height", "2970", &LayoutElement::height, 2970},
        {"fontsize", "9234567890", &LayoutElement::fontsize, 1000},
        {"fontsize", "8321", &LayoutElement::fontsize, 1000},
        {"fontsize", "-3", &LayoutElement::fontsize, 0},
        {"fontalign", "0x7fffffff", &LayoutElement::fontalign, 0x7fffffff}, // bits, not a size
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.attribute) + "=" + c.value);
        CLayoutReader r;
        ASSERT_EQ(r.LoadLayout(Doc(std::string("<Page><Text ") + c.attribute + "=\"" + c.value
                                   + "\"/></Page>")),
                  0);
        EXPECT_EQ(r.m_vecPages.at(0).at(0).*(c.field), c.expected);
    }
}

TEST(LayoutReader, WindowAfterPagesAndSecondWindowOverwriteByAttribute)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc("<Page/><Window status=\"2\" businesstype=\"xp_qd\"/>"
                               "<Window status=\"3\"/><window status=\"9\"/><page/>")),
              0);
    EXPECT_EQ(r.m_strWndStatus, "3");
    EXPECT_EQ(r.m_strWndBusinessType, "xp_qd");
    // An empty Page is a page; "page" is not.
    ASSERT_EQ(r.m_vecPages.size(), 1u);
    EXPECT_TRUE(r.m_vecPages[0].empty());
}

TEST(LayoutReader, TextBetweenElementsGivesKindlessRecordBlankTextNothing)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc("<Page>\n  <Text x=\"1\"/>\n  stray<Text x=\"2\"/><!-- c --></Page>")),
              0);
    const auto &page = r.m_vecPages.at(0);
    ASSERT_EQ(page.size(), 3u);
    EXPECT_EQ(page[0].kind, "Text");
    EXPECT_EQ(page[1].kind, "");
    EXPECT_EQ(page[2].x, 2);
}

TEST(LayoutReader, FpmxRowsKeepTheirIndexes)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc("<Fpmxs><Fpmx><Text_fpmx index=\"1\" item_index=\"0\" text=\"a\"/>"
                               "<Text_fpmx index=\"1\" item_index=\"0x2\"/></Fpmx>"
                               "<Other/><Fpmx><Text_fpmx index=\"2\" item_index=\"1\"/></Fpmx>"
                               "</Fpmxs>")),
              0);
    ASSERT_EQ(r.m_vecFpmxRows.size(), 2u);
    ASSERT_EQ(r.m_vecFpmxRows[0].size(), 2u);
    EXPECT_EQ(r.m_vecFpmxRows[0][0].kind, "Text_fpmx");
    EXPECT_EQ(r.m_vecFpmxRows[0][0].text, "a");
    EXPECT_EQ(r.m_vecFpmxRows[0][1].item_index, 2);
    EXPECT_EQ(r.m_vecFpmxRows[1][0].index, 2);
    EXPECT_EQ(r.m_vecFpmxRows[1][0].item_index, 1);
    EXPECT_TRUE(r.m_vecPages.empty());
}

TEST(LayoutReader, XmlDeclarationHeadReadsLikeXmlPack)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Dialog><Window "
                           "businesstype=\"005_qd\"/><Page/></Dialog>"),
              0);
    EXPECT_EQ(r.m_strWndBusinessType, "005_qd");
    EXPECT_EQ(r.m_vecPages.size(), 1u);
}

TEST(LayoutReader, BadInputKeepsErrorTextAndNoPages)
{
    CLayoutReader broken;
    EXPECT_EQ(broken.LoadLayout("<Dialog><Page>"), 1);
    EXPECT_EQ(broken.m_strError, "XML格式加载错误");
    EXPECT_TRUE(broken.m_vecPages.empty());

    CLayoutReader noDialog;
    EXPECT_EQ(noDialog.LoadLayout("<Root><Page/></Root>"), 1);
    EXPECT_EQ(noDialog.m_strError, "获取Dialog节点失败");
    EXPECT_TRUE(noDialog.m_vecPages.empty());

    CLayoutReader empty;
    EXPECT_EQ(empty.LoadLayout(""), 1);
    EXPECT_TRUE(empty.m_strWndStatus.empty());
}

TEST(LayoutReader, LineBreakInAttributeReadsBack)
{
    CLayoutReader r;
    ASSERT_EQ(r.LoadLayout(Doc("<Page><Text text=\"a&#10;b &amp; c\"/></Page>")), 0);
    EXPECT_EQ(r.m_vecPages.at(0).at(0).text, "a\nb & c");
}
