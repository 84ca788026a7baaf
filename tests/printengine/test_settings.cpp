#include "GavruneTestSupport.h"

#include "printengine/CConfigDlg.h"
#include "printengine/CPrinter.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApp();
        ASSERT_TRUE(dir.isValid());
    }

    QString Ini() const { return dir.filePath(QStringLiteral("PrintConfig.ini")); }

    void Write(const QString &group, const QMap<QString, QString> &values)
    {
        QSettings s(Ini(), QSettings::IniFormat);
        s.setIniCodec("utf-8");
        s.beginGroup(group);
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
    }

    // A fresh controller reading the group of key.
    void Read(CPrinter &p, const QString &key)
    {
        p.m_strRoot = dir.path();
        p.m_strKey = key;
        EXPECT_EQ(p.ReadIni(), 0);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Settings, MissingFileGivesDefaultsPerKeyAndWritesThem)
{
    struct Case {
        const char *key;
        double width, height;
    };
    const Case cases[] = {
        {"004_qd", 240, 139.7}, {"007_qd", 240, 139.7}, {"005_qd", 240, 177.8},
        {"006_qd", 240, 177.8}, {"xhqd_qd", 210, 297},  {"image_qd", 210, 297},
        {"xp_qd", 58, 177},     {"025_zp", 57, 177},    {"025_kp", 76, 177},
    };
    for (const Case &c : cases) {
        CPrinter p;
        Read(p, QString::fromLatin1(c.key));
        SCOPED_TRACE(c.key);
        EXPECT_DOUBLE_EQ(p.m_dWidth, c.width);
        EXPECT_DOUBLE_EQ(p.m_dHeight, c.height);
        EXPECT_DOUBLE_EQ(p.m_dXoff, 0);
        EXPECT_DOUBLE_EQ(p.m_dYoff, 0);
    }

    QSettings s(Ini(), QSettings::IniFormat);
    s.setIniCodec("utf-8");
    EXPECT_TRUE(s.contains(QStringLiteral("004_qd/printername")));
    EXPECT_DOUBLE_EQ(s.value(QStringLiteral("004_qd/width")).toDouble(), 240);
    EXPECT_DOUBLE_EQ(s.value(QStringLiteral("004_qd/heigth")).toDouble(), 139.7);
    EXPECT_DOUBLE_EQ(s.value(QStringLiteral("004_qd/xoff")).toDouble(), 0);
    // The receipt width stays in memory until the receipt dialog saves one.
    EXPECT_FALSE(s.contains(QStringLiteral("xp_qd/pybs")));
    CPrinter receipt;
    Read(receipt, QStringLiteral("xp_qd"));
    EXPECT_TRUE(receipt.m_strPybs.isEmpty());
}

TEST_F(Settings, StoredValuesAreUsedAndGroupNamesAreCaseSensitive)
{
    Write(QStringLiteral("004_qd"), {{"printername", "Office"}, {"width", "240"},
                                     {"heigth", "150"}, {"xoff", "12.5"}, {"yoff", "-30"}});
    Write(QStringLiteral("XP_QD"), {{"width", "80"}, {"heigth", "100"}, {"pybs", "1"}});
    CPrinter p;
    Read(p, QStringLiteral("004_qd"));
    EXPECT_EQ(p.m_strPrinterName, QStringLiteral("Office"));
    EXPECT_DOUBLE_EQ(p.m_dHeight, 150);
    EXPECT_DOUBLE_EQ(p.m_dXoff, 12.5);
    EXPECT_DOUBLE_EQ(p.m_dYoff, -30);

    CPrinter receipt;
    Read(receipt, QStringLiteral("xp_qd"));
    EXPECT_DOUBLE_EQ(receipt.m_dWidth, 58);
    EXPECT_EQ(receipt.m_strPybs, QStringLiteral("0"));
}

TEST_F(Settings, BrokenSizesFallBackInMemoryOnly)
{
    Write(QStringLiteral("005_qd"), {{"width", "abc"}, {"heigth", "-5"}, {"xoff", "x"}});
    Write(QStringLiteral("004_qd"), {{"width", "0"}});
    const std::string before = ReadFileBytes(Ini());
    CPrinter a;
    Read(a, QStringLiteral("005_qd"));
    EXPECT_DOUBLE_EQ(a.m_dWidth, 240);
    EXPECT_DOUBLE_EQ(a.m_dHeight, 177.8);
    EXPECT_DOUBLE_EQ(a.m_dXoff, 0);
    CPrinter b;
    Read(b, QStringLiteral("004_qd"));
    EXPECT_DOUBLE_EQ(b.m_dWidth, 240);
    EXPECT_DOUBLE_EQ(b.m_dHeight, 139.7); // missing
    EXPECT_EQ(ReadFileBytes(Ini()), before);
}

TEST_F(Settings, HugeSizesAndOffsetsAreHeldToWhatPaperCanBe)
{
    Write(QStringLiteral("006_qd"),
          {{"width", "1e300"}, {"heigth", "2000"}, {"xoff", "-1e300"}, {"yoff", "600"}});
    CPrinter p;
    Read(p, QStringLiteral("006_qd"));
    EXPECT_DOUBLE_EQ(p.m_dWidth, 240); // the key's default
    EXPECT_DOUBLE_EQ(p.m_dHeight, 2000);
    EXPECT_DOUBLE_EQ(p.m_dXoff, -20000);
    EXPECT_DOUBLE_EQ(p.m_dYoff, 600);
}

TEST_F(Settings, SavedDialogChangeIsReadBack)
{
    Write(QStringLiteral("004_qd"), {{"printername", "Gone"}, {"width", "240"},
                                     {"heigth", "150"}, {"xoff", "3.7"}, {"yoff", "0"}});
    CConfigDlg dlg(QStringLiteral("004_qd"), nullptr, dir.path());
    EXPECT_EQ(dlg.PaperBox(), nullptr);
    EXPECT_EQ(dlg.HeightEdit()->text(), QStringLiteral("150"));
    EXPECT_FALSE(dlg.HeightEdit()->isEnabled());
    EXPECT_EQ(dlg.LeftBox()->value(), 0); // a fractional offset shows as 0
    dlg.LeftBox()->setValue(700);         // clamped to the range
    EXPECT_EQ(dlg.LeftBox()->value(), 600);
    dlg.LeftBox()->setValue(25);
    dlg.TopBox()->setValue(-30);

    int updated = 0;
    QObject::connect(&dlg, &CConfigDlg::UpdatePrinter, [&updated] { ++updated; });
    ASSERT_TRUE(QMetaObject::invokeMethod(&dlg, "onOkBtnClicked", Qt::DirectConnection));
    EXPECT_EQ(updated, 1);

    CPrinter p;
    Read(p, QStringLiteral("004_qd"));
    EXPECT_DOUBLE_EQ(p.m_dXoff, 25);
    EXPECT_DOUBLE_EQ(p.m_dYoff, -30);
    EXPECT_DOUBLE_EQ(p.m_dWidth, 240);
    EXPECT_DOUBLE_EQ(p.m_dHeight, 150); // written back unchanged
    EXPECT_EQ(p.m_strPrinterName, dlg.PrinterBox()->currentText());
}

TEST_F(Settings, SalesListDialogChoosesPaperByStoredHeight)
{
    Write(QStringLiteral("xhqd_qd"), {{"width", "215.9"}, {"heigth", "279.4"}});
    {
        CConfigDlg dlg(QStringLiteral("xhqd_qd"), nullptr, dir.path());
        ASSERT_NE(dlg.PaperBox(), nullptr);
        EXPECT_EQ(dlg.PaperBox()->currentIndex(), 1);
        EXPECT_EQ(dlg.HeightEdit()->text(), QStringLiteral("279.4"));
        dlg.PaperBox()->setCurrentIndex(0);
        QMetaObject::invokeMethod(&dlg, "onOkBtnClicked", Qt::DirectConnection);
    }
    CPrinter p;
    Read(p, QStringLiteral("xhqd_qd"));
    EXPECT_DOUBLE_EQ(p.m_dWidth, 210);
    EXPECT_DOUBLE_EQ(p.m_dHeight, 297);

    Write(QStringLiteral("xhqd_x"), {{"width", "100"}, {"heigth", "100"}});
    CConfigDlg other(QStringLiteral("xhqd_x"), nullptr, dir.path());
    EXPECT_EQ(other.PaperBox()->currentIndex(), 0);
    EXPECT_EQ(other.HeightEdit()->text(), QStringLiteral("297"));
}

TEST_F(Settings, CancelWritesNothing)
{
    CConfigDlg dlg(QStringLiteral("006_qd"), nullptr, dir.path());
    EXPECT_EQ(dlg.HeightEdit()->text(), QStringLiteral("177.8"));
    dlg.LeftBox()->setValue(10);
    dlg.close();
    QSettings s(Ini(), QSettings::IniFormat);
    EXPECT_FALSE(s.childGroups().contains(QStringLiteral("006_qd")));
}

TEST(PreviewTitle, FirstMatchingFragmentNamesTheForm)
{
    EnsureApp();
    CPrinter p;
    p.m_strKey = QStringLiteral("004_qd");
    EXPECT_EQ(p.PreviewTitle(), QStringLiteral("增值税专用发票 预览"));
    p.m_strKey = QStringLiteral("xhqd_qd");
    EXPECT_EQ(p.PreviewTitle(), QStringLiteral("销货清单 预览"));
    p.m_strKey = QStringLiteral("025_zp");
    EXPECT_EQ(p.PreviewTitle(), QStringLiteral("增值税普通发票（卷式） 预览"));
    p.m_strKey.clear();
    EXPECT_EQ(p.PreviewTitle(), QStringLiteral(" 预览"));
}
