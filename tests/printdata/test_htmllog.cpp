#include "printdata/HtmlLog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QString ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QDateTime At(int day, int hour, int minute)
{
    return QDateTime(QDate(2024, 5, day), QTime(hour, minute, 0));
}

class HtmlLogFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path() + "/Log/woker";
        htmllog::SetFolder(folder, 72);
    }
    void TearDown() override
    {
        htmllog::Close();
        htmllog::SetFolder(QString(), 72);
    }
    QTemporaryDir dir;
    QString folder;
};

} // namespace

TEST(HtmlLogFormat, FileNameFollowsTheLocalHour)
{
    EXPECT_EQ(htmllog::FilePath("/x/Log/woker", At(1, 9, 59)), "/x/Log/woker/2024-05-01_09_log.html");
    EXPECT_EQ(htmllog::FilePath("f", At(12, 23, 0)), "f/2024-05-12_23_log.html");
}

TEST(HtmlLogFormat, EntryCarriesTypeLetterTimeAndTheTextVerbatim)
{
    const QDateTime t = At(1, 9, 5);
    EXPECT_EQ(htmllog::Entry(QtInfoMsg, t, "a < b & \"c\""),
              "<xmp class=\"i\">2024-05-01 09:05:00 a < b & \"c\"</xmp>\r\n");
    EXPECT_EQ(htmllog::Entry(QtWarningMsg, t, "w"), "<xmp class=\"w\">2024-05-01 09:05:00 w</xmp>\r\n");
    EXPECT_TRUE(htmllog::Entry(QtDebugMsg, t, "").startsWith("<xmp class=\"d\">"));
    EXPECT_TRUE(htmllog::Entry(QtCriticalMsg, t, "").startsWith("<xmp class=\"c\">"));
    EXPECT_TRUE(htmllog::Entry(QtFatalMsg, t, "").startsWith("<xmp class=\"f\">"));
    // %1 in a message is not taken for a placeholder.
    EXPECT_EQ(htmllog::Entry(QtInfoMsg, t, "%1 %2"), "<xmp class=\"i\">2024-05-01 09:05:00 %1 %2</xmp>\r\n");
}

TEST(HtmlLogFormat, LoggedTextCannotCloseItsElement)
{
    const QString entry = htmllog::Entry(QtInfoMsg, At(1, 9, 0), "x</xmp><b>y</XMP >z</Xmp");
    EXPECT_EQ(entry, "<xmp class=\"i\">2024-05-01 09:00:00 x<\\/xmp><b>y<\\/XMP >z<\\/Xmp</xmp>\r\n");
    EXPECT_EQ(entry.count("</xmp", Qt::CaseInsensitive), 1);
}

TEST_F(HtmlLogFolder, FirstMessageOfAnHourStartsAFileLaterOnesAppend)
{
    for (bool keepOpen : {true, false}) {
        const int day = keepOpen ? 1 : 2;
        htmllog::Write(QtInfoMsg, "one", At(day, 9, 1), keepOpen);
        htmllog::Write(QtWarningMsg, "two", At(day, 9, 2), keepOpen);
        htmllog::Write(QtInfoMsg, "three", At(day, 10, 0), keepOpen);

        const QString nine = htmllog::FilePath(folder, At(day, 9, 0));
        const QString ten = htmllog::FilePath(folder, At(day, 10, 0));
        EXPECT_EQ(ReadAll(nine), htmllog::PageTemplate() + "\r\n"
                  + htmllog::Entry(QtInfoMsg, At(day, 9, 1), "one")
                  + htmllog::Entry(QtWarningMsg, At(day, 9, 2), "two"));
        EXPECT_EQ(ReadAll(ten), htmllog::PageTemplate() + "\r\n" + htmllog::Entry(QtInfoMsg, At(day, 10, 0), "three"));
    }
}

TEST_F(HtmlLogFolder, KeptOpenFileHoldsEveryEntryAfterReopening)
{
    const QString text(100, QLatin1Char('x'));
    QString expected = htmllog::PageTemplate() + "\r\n";
    for (int i = 0; i < 20; ++i) {
        htmllog::Write(QtDebugMsg, text + QString::number(i), At(3, 8, i), true);
        expected += htmllog::Entry(QtDebugMsg, At(3, 8, i), text + QString::number(i));
        // Whatever was written is on disk at once.
        EXPECT_EQ(ReadAll(htmllog::FilePath(folder, At(3, 8, 0))), expected);
    }
}

TEST_F(HtmlLogFolder, InstalledHandlerWritesQtMessagesToTheHoursFile)
{
    const QDateTime before = QDateTime::currentDateTime();
    qInstallMessageHandler(HtmlLogHandler);
    qInfo() << "to the log" << 7;
    qInstallMessageHandler(nullptr);
    const QString page = ReadAll(htmllog::FilePath(folder, before))
        + ReadAll(htmllog::FilePath(folder, QDateTime::currentDateTime()));
    EXPECT_TRUE(page.contains("to the log 7</xmp>\r\n")) << page.toStdString();
    EXPECT_TRUE(page.contains("<xmp class=\"i\">"));
}

TEST_F(HtmlLogFolder, LogRowStartsWithFileFunctionAndLine)
{
    qInstallMessageHandler(HtmlLogHandlerKeepOpen);
    const QDateTime before = QDateTime::currentDateTime();
    const int line = __LINE__ + 1;
    VLOG_INFO() << "text" << QStringLiteral("quoted");
    qInstallMessageHandler(nullptr);
    htmllog::Close();
    const QString page = ReadAll(htmllog::FilePath(folder, before))
        + ReadAll(htmllog::FilePath(folder, QDateTime::currentDateTime()));
    const QString row = QStringLiteral("test_htmllog TestBody %1 text \"quoted\"</xmp>").arg(line);
    EXPECT_TRUE(page.contains(row)) << page.toStdString();
}

TEST(HtmlLogPrune, KeepsTheFilesWhoseNamesSortLast)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir d(dir.path());
    QStringList names;
    for (int i = 0; i < 79; ++i)
        names << QStringLiteral("2024-05-%1_%2_log.html").arg(1 + i / 24, 2, 10, QLatin1Char('0')).arg(i % 24, 2, 10, QLatin1Char('0'));
    names << "0-foreign.txt"; // counts, sorts first
    for (const QString& n : names) {
        QFile f(d.filePath(n));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFile hidden(d.filePath(".hidden"));
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.close();
    ASSERT_TRUE(d.mkdir("0-subfolder"));

    htmllog::Prune(dir.path(), 72);
    QStringList left = d.entryList(QDir::Files, QDir::Name);
    names.sort();
    EXPECT_EQ(left, names.mid(8));
    EXPECT_TRUE(d.exists(".hidden"));
    EXPECT_TRUE(d.exists("0-subfolder"));

    htmllog::Prune(dir.path(), 72); // 72 or fewer: nothing goes
    EXPECT_EQ(d.entryList(QDir::Files, QDir::Name).size(), 72);
}

TEST(HtmlLogPrune, SetFolderCreatesMissingParents)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/a/b/c";
    htmllog::SetFolder(folder, 72);
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_EQ(htmllog::Folder(), folder);
    htmllog::SetFolder(QString(), 72);
}

TEST(HtmlLogFailure, UnwritableFolderLosesOnlyTheFileEntry)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The "folder" is a plain file: it cannot be created nor written into.
    const QString blocker = dir.filePath("file");
    { QFile f(blocker); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); }
    htmllog::SetFolder(blocker + "/Log", 72);
    htmllog::Write(QtInfoMsg, "lost", At(1, 9, 0), true);
    htmllog::Write(QtInfoMsg, "lost", At(1, 9, 0), false);

    // A fifo where the hour's file should be is not opened (it would block).
    const QString folder = dir.filePath("fifo");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = htmllog::FilePath(folder, At(1, 9, 0));
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    htmllog::SetFolder(folder, 72);
    htmllog::Write(QtInfoMsg, "lost", At(1, 9, 0), true);
    htmllog::Write(QtInfoMsg, "lost", At(1, 9, 0), false);

    // Messages from inside the handler's own work neither hang nor recurse.
    qInstallMessageHandler(HtmlLogHandlerKeepOpen);
    qWarning() << "after failures";
    qInstallMessageHandler(nullptr);
    htmllog::Close();
    htmllog::SetFolder(QString(), 72);
    SUCCEED();
}
