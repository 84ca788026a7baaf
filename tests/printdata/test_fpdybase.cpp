#include "printdata/BuilderTable.h"
#include "printdata/CFpdyBase.h"

#include <gtest/gtest.h>

#include <QDomDocument>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <iterator>

namespace {

// A builder whose read result and layout the test chooses.
class FakeBuilder : public CFpdyBase {
public:
    int parseCode = 0;
    QString layout;
    QString seenRequest;
    bool built = false;

    int ParseRequest(const QString& request) override
    {
        seenRequest = request;
        return parseCode;
    }
    QString BuildLayout(int*) override
    {
        built = true;
        return layout;
    }
};

struct Answer {
    QString comment, id, yylxdm, code, message;
    QStringList bodyChildren;
};

Answer ParseAnswer(const QString& text)
{
    Answer a;
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(text)) << text.toStdString();
    const QDomElement business = doc.documentElement();
    EXPECT_EQ(business.tagName(), "business");
    a.comment = business.attribute("comment");
    a.id = business.attribute("id");
    const QDomElement body = business.firstChildElement("body");
    a.yylxdm = body.attribute("yylxdm");
    for (QDomElement e = body.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        a.bodyChildren << e.tagName();
    a.code = body.firstChildElement("returncode").text();
    a.message = body.firstChildElement("returnmsg").text();
    return a;
}

QString Name(const char* n) { return QString::fromUtf8(n); }
QString RunZzs(const QString&) { return "zzs"; }
QString RunJdc(const QString&) { return "jdc"; }
QString RunEsc(const QString&) { return "esc"; }
QString RunXhqd(const QString&) { return "xhqd"; }
QString RunImage(const QString&) { return "image"; }
QString RunXp(const QString&) { return "xp"; }

// The library's complete choice of builders, with stand-ins.
const BuilderRow kFullTable[] = {
    {0, {"01", "02"}, "CFpdy_zzs", &RunZzs},
    {0, {"03"}, "CFpdy_jdc", &RunJdc},
    {0, {"04"}, "CFpdy_esc", &RunEsc},
    {1, {"xhqd"}, "CBbdy_xhqd", &RunXhqd},
    {2, {}, "CFpdy_Image", &RunImage},
    {3, {}, "CFpdy_xp", &RunXp},
};

QString Choose(int type, const QString& kind)
{
    const BuilderRow* row = ChooseBuilder(kFullTable, std::size(kFullTable), type, kind);
    return row ? row->run(QString()) : QStringLiteral("none");
}

} // namespace

TEST(Dispatch, PrintTypeAndKindChooseTheFirstMatchingRow)
{
    EXPECT_EQ(Choose(0, "01"), "zzs");
    EXPECT_EQ(Choose(0, "x02"), "zzs");
    EXPECT_EQ(Choose(0, "0102"), "zzs");
    EXPECT_EQ(Choose(0, "0304"), "jdc"); // "03" is tried before "04"
    EXPECT_EQ(Choose(0, "04"), "esc");
    EXPECT_EQ(Choose(0, "05"), "none");
    EXPECT_EQ(Choose(0, ""), "none");
    EXPECT_EQ(Choose(1, "XHQD"), "xhqd"); // contains, ignoring case
    EXPECT_EQ(Choose(1, "a_XhQd_b"), "xhqd");
    EXPECT_EQ(Choose(1, "01"), "none");
    EXPECT_EQ(Choose(2, ""), "image");
    EXPECT_EQ(Choose(2, "01"), "image");
    EXPECT_EQ(Choose(3, "whatever"), "xp");
    EXPECT_EQ(Choose(4, "01"), "none");
    EXPECT_EQ(Choose(-1, "01"), "none");
}

TEST(Response, EachCodeCarriesItsMessageCommentAndId)
{
    struct Row { int code; const char* message; const char* comment; const char* id; };
    const Row rows[] = {
        {0, "成功", "发票打印", "93010"},
        {1, "用户取消打印操作", "发票打印", "93010"},
        {2, "打印成功", "发票打印", "93010"},
        {3, "打印失败", "发票打印", "93010"},
        {4, "成功", "页边距设置", "93009"},
        {5, "卷式发票明细行数超出限定行数，不能打印", "发票打印", "93010"},
        {6, "不支持PDF和XPS打印", "发票打印", "93010"},
        {CFpdyBase::kParseFailed, "打印数据报文解析失败", "发票打印", "93010"},
        {42, "打印数据报文解析失败", "发票打印", "93010"},
    };
    FakeBuilder builder;
    for (const Row& r : rows) {
        const QString text = builder.MakeResponse(r.code);
        EXPECT_TRUE(text.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        EXPECT_FALSE(text.contains('\n'));
        const Answer a = ParseAnswer(text);
        EXPECT_EQ(a.code, QString::number(r.code));
        EXPECT_EQ(a.message, Name(r.message));
        EXPECT_EQ(a.comment, Name(r.comment));
        EXPECT_EQ(a.id, Name(r.id));
        EXPECT_EQ(a.yylxdm, "1");
        EXPECT_EQ(a.bodyChildren, QStringList({"returncode", "returnmsg"}));
    }
    EXPECT_LT(CFpdyBase::kParseFailed, 0);
}

TEST(Base, MembersTheBaseLeavesUnsetStartAtZero)
{
    FakeBuilder builder;
    EXPECT_EQ(builder.originX, 0);
    EXPECT_EQ(builder.originY, 0);
    EXPECT_EQ(builder.rowCount, 0);
    EXPECT_EQ(builder.pageCount, 0);
    EXPECT_EQ(builder.rowsPerPage, 0);
    EXPECT_EQ(builder.dyfs, "");
    EXPECT_EQ(builder.tdbz, "0");
}

class RunWithStubPrint : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        layoutFile = dir.filePath("layout.txt");
        setenv("STUB_PRINT_LAYOUT", QFile::encodeName(layoutFile).constData(), 1);
        // The stub stands in the test program's own folder.
        ASSERT_TRUE(QFile::exists(PRINTDATA_TEST_DIR "/libGavrune.so"));
    }
    void TearDown() override
    {
        unsetenv("STUB_PRINT_LAYOUT");
        unsetenv("STUB_PRINT_RESULT");
    }
    QByteArray SeenByPrint() const
    {
        QFile f(layoutFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(not called)");
    }

    QTemporaryDir dir;
    QString layoutFile;
};

TEST_F(RunWithStubPrint, AnswerCarriesTheCodeOfPrint)
{
    struct Row { const char* result; const char* code; const char* message; };
    const Row rows[] = {{"0", "0", "成功"}, {"1", "1", "用户取消打印操作"}, {"2", "2", "打印成功"}};
    for (const Row& r : rows) {
        setenv("STUB_PRINT_RESULT", r.result, 1);
        QFile::remove(layoutFile);
        FakeBuilder builder;
        builder.layout = QStringLiteral("<Dialog>宋体 %1</Dialog>").arg(r.result);
        const Answer a = ParseAnswer(builder.Run("<business/>"));
        EXPECT_EQ(a.code, r.code);
        EXPECT_EQ(a.message, Name(r.message));
        // Mode 0, the layout as UTF-8.
        EXPECT_EQ(SeenByPrint(), "0\n" + builder.layout.toUtf8());
        EXPECT_EQ(builder.seenRequest, "<business/>");
    }
}

TEST_F(RunWithStubPrint, UnreadableRequestBuildsAndPrintsNothing)
{
    for (int parseCode : {2, 3}) {
        FakeBuilder builder;
        builder.parseCode = parseCode;
        builder.layout = "<Dialog/>";
        const Answer a = ParseAnswer(builder.Run(""));
        EXPECT_EQ(a.code, QString::number(CFpdyBase::kParseFailed));
        EXPECT_EQ(a.message, "打印数据报文解析失败");
        EXPECT_FALSE(builder.built);
        EXPECT_EQ(SeenByPrint(), "(not called)");
    }
}

TEST_F(RunWithStubPrint, EmptyLayoutAnswersSuccessWithoutLoadingPrint)
{
    setenv("STUB_PRINT_RESULT", "2", 1);
    FakeBuilder builder;
    const Answer a = ParseAnswer(builder.Run("<business/>"));
    EXPECT_TRUE(builder.built);
    EXPECT_EQ(a.code, "0");
    EXPECT_EQ(a.message, "成功");
    EXPECT_EQ(SeenByPrint(), "(not called)");
}

TEST_F(RunWithStubPrint, MissingLibraryOrPrintCountsAsNothingPrinted)
{
    setenv("STUB_PRINT_RESULT", "2", 1);
    EXPECT_EQ(CFpdyBase::InvokePrintExport("<Dialog/>", dir.filePath("libGavrune.so")), 0);
    EXPECT_EQ(CFpdyBase::InvokePrintExport("<Dialog/>", PRINTDATA_TEST_DIR "/libNoPrint.so"), 0);
    EXPECT_EQ(CFpdyBase::InvokePrintExport("<Dialog/>", PRINTDATA_TEST_DIR "/libGavrune.so"), 2);
    EXPECT_EQ(CFpdyBase::InvokePrintExport("<Dialog/>"), 2); // from the application directory
}
