// The margin explanation wizard with the pictures of the program folder.
#include "GavruneTestSupport.h"

#include "printengine/CExplainDlg.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const char kActive[] =
    "QPushButton{background-color: rgb(44, 163, 246);border:none;color:rgb(0, 0, 0);}"
    "QPushButton:hover{background-color: rgb(100, 161, 192);border:none;color:rgb(255, 255, 255);}";
const char kInactive[] =
    "QPushButton{background-color: rgb(227, 227, 227);border:none;color:rgb(120, 120, 120);}";
const char *const kEndings[] = {"tzzq.png", "fptzzq.png", "tzzh.png", "fptzzh.png"};

QString ProgramFolder()
{
    return QStringLiteral(PLENWICK_BIN_DIR);
}

// Enabled with the active sheet, or disabled with the inactive one.
void ExpectActive(const QPushButton *button, bool active, int step)
{
    EXPECT_EQ(button->isEnabled(), active) << button->text().toStdString() << " step " << step;
    EXPECT_EQ(button->styleSheet(), QString::fromUtf8(active ? kActive : kInactive))
        << button->text().toStdString() << " step " << step;
}

// What the label shows: the current picture fitted into it, or nothing.
void ExpectShows(const CExplainDlg &dlg, int index)
{
    const QLabel *label = dlg.PictureLabel();
    const QPixmap &picture = dlg.Pictures().at(index);
    const QPixmap shown = label->pixmap(Qt::ReturnByValue);
    if (picture.isNull()) {
        EXPECT_TRUE(shown.isNull()) << "step " << index;
        return;
    }
    ASSERT_FALSE(shown.isNull()) << "step " << index;
    EXPECT_TRUE(shown.width() == label->width() || shown.height() == label->height());
    EXPECT_LE(shown.width(), label->width());
    EXPECT_LE(shown.height(), label->height());
    EXPECT_NEAR(double(shown.width()) / shown.height(),
                double(picture.width()) / picture.height(), 0.01);
}

} // namespace

TEST(ExplainDlg, EveryKeyFindsItsFourInstalledPictures)
{
    EnsureApp();
    const struct {
        const char *key;
        const char *files; // the key whose files are shown
    } cases[] = {{"004_qd", "004_qd"}, {"007_qd", "004_qd"}, {"005_qd", "005_qd"},
                 {"006_qd", "006_qd"}, {"xhqd_qd", "xhqd_qd"}};
    for (const auto &c : cases) {
        CExplainDlg dlg(QString::fromLatin1(c.key), nullptr, ProgramFolder());
        EXPECT_EQ(dlg.Key(), QString::fromLatin1(c.files));
        ASSERT_EQ(dlg.Pictures().size(), 4) << c.key;
        for (int i = 0; i < 4; ++i) {
            const QString file = ProgramFolder() + QStringLiteral("/Images/")
                                 + QString::fromLatin1(c.files) + QString::fromLatin1(kEndings[i]);
            const QImage expected(file);
            ASSERT_FALSE(expected.isNull()) << file.toStdString();
            EXPECT_EQ(dlg.Pictures().at(i).toImage().convertToFormat(expected.format()), expected)
                << c.key << " " << kEndings[i];
        }
    }
}

TEST(ExplainDlg, WindowButtonsAndLabelSize)
{
    EnsureApp();
    CExplainDlg dlg(QStringLiteral("004_qd"), nullptr, ProgramFolder());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("打印格式边距设置示例"));
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(dlg.windowType(), Qt::Dialog);

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dlg.PictureLabel()->size(),
              QSize(int(0.65 * area.width()), int(0.65 * area.height())));
    EXPECT_EQ(dlg.PictureLabel()->alignment(), Qt::AlignCenter);
    EXPECT_EQ(dlg.NextButton()->text(), QStringLiteral("下一步"));
    EXPECT_EQ(dlg.PreviousButton()->text(), QStringLiteral("上一步"));
    for (const QPushButton *b : {dlg.NextButton(), dlg.PreviousButton()}) {
        EXPECT_EQ(b->minimumSize(), QSize(180, 40));
        EXPECT_EQ(b->maximumSize(), QSize(180, 40));
    }
}

TEST(ExplainDlg, StepsOfTheVatInvoiceWithButtonStatesAndScreenshots)
{
    EnsureApp();
    CExplainDlg dlg(QStringLiteral("004_qd"), nullptr, ProgramFolder());
    dlg.show();
    QCoreApplication::processEvents();
    // Forward through all four steps, one click too many, then one step back.
    const struct {
        const char *click; // before looking
        int index;
        bool previous, next;
    } steps[] = {{"", 0, false, true},     {"next", 1, true, true}, {"next", 2, true, true},
                 {"next", 3, true, false}, {"next", 3, true, false}, {"prev", 2, true, true}};
    for (size_t n = 0; n < sizeof steps / sizeof steps[0]; ++n) {
        const auto &s = steps[n];
        if (QLatin1String(s.click) == QLatin1String("next"))
            dlg.NextButton()->click();
        else if (QLatin1String(s.click) == QLatin1String("prev"))
            dlg.PreviousButton()->click();
        EXPECT_EQ(dlg.CurrentIndex(), s.index);
        ExpectActive(dlg.PreviousButton(), s.previous, s.index);
        ExpectActive(dlg.NextButton(), s.next, s.index);
        ExpectShows(dlg, s.index);
        if (n < 4) { // the first visit of each step
            QCoreApplication::processEvents();
            const QString file = QStringLiteral("%1/explain_004_qd_step%2.png")
                                     .arg(ArtifactDir())
                                     .arg(s.index + 1);
            EXPECT_TRUE(dlg.grab().save(file)) << file.toStdString();
        }
    }
}

TEST(ExplainDlg, MissingPicturesLeaveTheLabelEmptyAndStepsUnchanged)
{
    EnsureApp();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Images")));
    QImage picture(400, 200, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    // Only the first and the third step have a picture.
    for (const char *ending : {"tzzq.png", "tzzh.png"})
        ASSERT_TRUE(picture.save(root.path() + QStringLiteral("/Images/gap_qd") + QLatin1String(ending)));

    for (const char *key : {"gap_qd", "none_qd"}) {
        CExplainDlg dlg(QString::fromLatin1(key), nullptr, root.path());
        ASSERT_EQ(dlg.Pictures().size(), 4);
        for (int i = 0; i < 4; ++i) {
            if (i > 0)
                dlg.NextButton()->click();
            EXPECT_EQ(dlg.CurrentIndex(), i) << key;
            EXPECT_EQ(dlg.Pictures().at(i).isNull(), QLatin1String(key) == QLatin1String("none_qd") || i % 2)
                << key << " step " << i;
            ExpectShows(dlg, i);
        }
        ExpectActive(dlg.NextButton(), false, 3);
        dlg.PreviousButton()->click();
        EXPECT_EQ(dlg.CurrentIndex(), 2) << key;
        ExpectShows(dlg, 2);
    }
}
