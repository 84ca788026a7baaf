// Layouts written by the print-data library, drawn by the print library.
#include "GavruneTestSupport.h"

#include "printdata/CFpdy_zzs.h"
#include "printdata/layouts/CFpdy_esc.h"
#include "printdata/layouts/CFpdy_jdc.h"
#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(VornelLayout, VatSpecialInvoiceRendersWithItsTexts)
{
    EnsureApp();
    const std::string request = ReadFileBytes(
        QStringLiteral(PLENWICK_SOURCE_DIR "/resources/samples/vat-special.xml"));
    ASSERT_FALSE(request.empty());
    CFpdy_zzs builder;
    ASSERT_EQ(builder.ParseRequest(QString::fromStdString(request)), 0);
    int code = 0;
    const QString layout = builder.BuildLayout(&code);
    ASSERT_FALSE(layout.isEmpty());

    QTemporaryDir dir;
    CPrinter printer;
    printer.m_strRoot = dir.path();
    printer.m_pReader = new CLayoutReader;
    ASSERT_EQ(printer.m_pReader->LoadLayout(layout.toStdString()), 0);
    printer.m_strKey = QString::fromStdString(printer.m_pReader->m_strWndBusinessType);
    EXPECT_EQ(printer.m_strKey, QStringLiteral("004_qd"));
    printer.m_nFromPage = 1;
    printer.m_nToPage = int(printer.m_pReader->m_vecPages.size());
    printer.CreateDC();
    const QString pdf = dir.filePath(QStringLiteral("vat.pdf"));
    printer.m_pPrinter->setOutputFormat(QPrinter::PdfFormat);
    printer.m_pPrinter->setOutputFileName(pdf);
    QMetaObject::invokeMethod(&printer, "Preview_Slot", Qt::DirectConnection, Q_ARG(bool, true));
    ASSERT_EQ(printer.m_nResult, PrintDone);

    const PdfInfo info = ReadPdfInfo(pdf);
    EXPECT_EQ(info.pages, 1);
    EXPECT_NEAR(info.widthPt, 240 * 72 / 25.4, 1.5);
    EXPECT_NEAR(info.heightPt, 139.7 * 72 / 25.4, 1.5);
    const QString text = PdfText(pdf);
    for (const char *expected : {"3300214130", "04827153", "苏州汀泓精密制造有限公司",
                                 "杭州澜岫机电设备有限公司", "91330106MA2H7K3X5Q", "10200.00"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    QFile::remove(ArtifactDir() + QStringLiteral("/vornel_vat_special.pdf"));
    QFile::copy(pdf, ArtifactDir() + QStringLiteral("/vornel_vat_special.pdf"));
}

namespace {

// The layout of a sample request as the builder writes it.
template <class Builder>
QString SampleLayout(const char *file, QString *qrText)
{
    const std::string request =
        ReadFileBytes(QStringLiteral(PLENWICK_SOURCE_DIR "/resources/samples/") + QString::fromUtf8(file));
    Builder builder;
    EXPECT_EQ(builder.ParseRequest(QString::fromStdString(request)), 0);
    int code = 0;
    const QString layout = builder.BuildLayout(&code);
    *qrText = builder.qrText;
    return layout;
}

// What zbarimg reads from the page painted at 0.05 mm a pixel.
QString DecodePageQr(const QString &layout)
{
    CPrinter printer;
    printer.m_pReader = new CLayoutReader;
    EXPECT_EQ(printer.m_pReader->LoadLayout(layout.toStdString()), 0);
    printer.m_nFromPage = 1;
    printer.m_nToPage = 1;
    QImage page(4800, 3556, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        painter.scale(2, 2);
        printer.PaintPages(&painter, true);
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("page.png"));
    EXPECT_TRUE(page.save(file));
    const auto r = RunTool(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    return r ? r->out.trimmed() : QStringLiteral("(zbarimg missing)");
}

} // namespace

// The painter folds the QR text to upper case before encoding it.
TEST(VornelLayout, VehicleInvoiceQrCodesDecodeToTheirTexts)
{
    EnsureApp();
    if (!RunTool(QStringLiteral("zbarimg"), {QStringLiteral("--version")}))
        GTEST_SKIP() << "zbarimg is not installed";
    QString qr;
    QString layout = SampleLayout<CFpdy_jdc>("motor-vehicle.xml", &qr);
    EXPECT_TRUE(qr.startsWith(QStringLiteral("01,03,133002120141,00318264,150000.00,20261208,,")));
    EXPECT_EQ(DecodePageQr(layout).toStdString(), qr.toUpper().toStdString());
    layout = SampleLayout<CFpdy_esc>("used-car.xml", &qr);
    EXPECT_TRUE(qr.startsWith(QStringLiteral("01,15,033002100104,00572918,85000.00,20261209,71*")));
    EXPECT_EQ(DecodePageQr(layout).toStdString(), qr.toUpper().toStdString());
}

// The print fonts change the PDF's text, not the look of the page, under the
// locale of the users. (Under C locales digits inside Latin words were drawn
// with the tabular forms that the fonts' locl feature swapped in; those forms
// had no text, so they went with it.)
TEST(VornelLayout, SampleInvoicesLookTheSameWithThePrintFonts)
{
    EnsureApp();
    QTemporaryDir dir;
    QProcessEnvironment zhCN;
    ASSERT_TRUE(LocaleEnvironment(QStringLiteral("zh_CN.UTF-8"), dir.path(), &zhCN));
    QString qr;
    const std::pair<const char *, QString> samples[] = {
        {"vat-special.xml", SampleLayout<CFpdy_zzs>("vat-special.xml", &qr)},
        {"vat-ordinary.xml", SampleLayout<CFpdy_zzs>("vat-ordinary.xml", &qr)},
        {"motor-vehicle.xml", SampleLayout<CFpdy_jdc>("motor-vehicle.xml", &qr)},
        {"used-car.xml", SampleLayout<CFpdy_esc>("used-car.xml", &qr)},
    };
    for (const auto &[sample, layout] : samples) {
        ASSERT_FALSE(layout.isEmpty()) << sample;
        const QString name = QString::fromUtf8(sample).section(QLatin1Char('.'), 0, 0);
        const QString printFonts = ArtifactDir() + QStringLiteral("/print_fonts_") + name + ".pdf";
        const QString installed = dir.filePath(name + QStringLiteral(".pdf"));
        ASSERT_TRUE(LayoutToPdf(PrintFontFolder(), layout.toStdString(), printFonts, zhCN)) << sample;
        ASSERT_TRUE(LayoutToPdf(NoPrintFontFolder(), layout.toStdString(), installed, zhCN)) << sample;

        const QImage withFonts = RenderPdfPage(printFonts, dir.filePath(name + QStringLiteral("-a")));
        const QImage without = RenderPdfPage(installed, dir.filePath(name + QStringLiteral("-b")));
        ASSERT_FALSE(withFonts.isNull()) << sample;
        ASSERT_EQ(withFonts.size(), without.size()) << sample;
        int differing = 0;
        for (int y = 0; y < withFonts.height(); ++y)
            for (int x = 0; x < withFonts.width(); ++x)
                differing += withFonts.pixel(x, y) != without.pixel(x, y);
        EXPECT_EQ(differing, 0) << sample;
    }
}
