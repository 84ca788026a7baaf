#include "printdata/BuilderTable.h"
#include "printdata/CFpdyBase.h"
#include "printdata/HtmlLog.h"
#include "printdata/VornelEntry.h"

#include <gtest/gtest.h>

#include <QDomDocument>
#include <QFile>

#include <cstring>

TEST(Exports, VersionCopiesThreeBytesAndNoTerminator)
{
    char buffer[1024] = {};
    EXPECT_EQ(VornelFnVersion(buffer, sizeof buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, "1.0", 3), 0);
    for (std::size_t i = 3; i < sizeof buffer; ++i)
        ASSERT_EQ(buffer[i], 0) << i;

    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(VornelFnVersion(small, 2), 0); // too small: untouched
    EXPECT_EQ(std::memcmp(small, "xxxx", 4), 0);
    EXPECT_EQ(VornelFnVersion(small, 3), 0);
    EXPECT_EQ(std::memcmp(small, "1.0x", 4), 0);
    EXPECT_EQ(VornelFnVersion(nullptr, 1024), 0);

    char dll[4] = {'x', 'x', 'x', 'x'};
    VornelGetDllVersion(dll);
    EXPECT_EQ(std::memcmp(dll, "1.0x", 4), 0);
    VornelGetDllVersion(nullptr);
    VornelDataFree(nullptr);
}

TEST(Exports, NoBuilderAnswersTheEmptyText)
{
    for (int type : {4, -1}) {
        char* answer = reinterpret_cast<char*>(1);
        EXPECT_EQ(VornelPostAndRecvEx("<business><body/></business>", type, "01", 0, &answer), 0);
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer[0], '\0');
        VornelDataFree(answer);
    }
}

TEST(Exports, NullPointersAreEmptyTextsOrIgnored)
{
    // A null answer pointer: the job runs, nothing is stored.
    EXPECT_EQ(VornelPostAndRecvEx("<business/>", 0, "01", 0, nullptr), 0);

    char* answer = nullptr;
    EXPECT_EQ(VornelPostAndRecvEx(nullptr, 0, nullptr, 0, &answer), 0);
    ASSERT_NE(answer, nullptr);
    VornelDataFree(answer);

    // With a VAT builder present, a null request is an unreadable one.
    if (ChooseBuilder(0, "01")) {
        answer = nullptr;
        VornelPostAndRecvEx(nullptr, 0, "01", 0, &answer);
        ASSERT_NE(answer, nullptr);
        QDomDocument doc;
        ASSERT_TRUE(doc.setContent(QString::fromUtf8(answer)));
        const QDomElement body = doc.documentElement().firstChildElement("body");
        EXPECT_EQ(body.firstChildElement("returncode").text(), QString::number(CFpdyBase::kParseFailed));
        EXPECT_EQ(body.firstChildElement("returnmsg").text(), "打印数据报文解析失败");
        VornelDataFree(answer);
    }
}

TEST(Exports, EveryCallIsLoggedInTheApplicationFolder)
{
    const QDateTime before = QDateTime::currentDateTime();
    char* answer = nullptr;
    VornelPostAndRecvEx("<business>请求</business>", 4, "", 0, &answer);
    VornelDataFree(answer);
    qInstallMessageHandler(nullptr);
    htmllog::Close();

    EXPECT_EQ(htmllog::Folder(), ApplicationDirPath() + "/Log/woker");
    EXPECT_EQ(ApplicationDirPath(), PRINTDATA_TEST_DIR);
    QString page;
    for (const QDateTime& t : {before, QDateTime::currentDateTime()}) {
        QFile f(htmllog::FilePath(htmllog::Folder(), t));
        if (f.open(QIODevice::ReadOnly))
            page += QString::fromUtf8(f.readAll());
    }
    // The row numbers are fixed texts of the log, whatever the source's lines.
    EXPECT_TRUE(page.contains(" Vornel PostAndRecvEx 41 业务报文： \"<business>请求</business>\"</xmp>"))
        << page.toStdString();
    EXPECT_TRUE(page.contains(" Vornel PostAndRecvEx 88 返回报文： \"\"</xmp>"));
}
