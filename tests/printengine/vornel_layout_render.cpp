// Layouts written by the print-data library, read and drawn by the print library.
#include "GavruneTestSupport.h"
#include "PrintToPdf.h"

#include "printdata/CFpdy_zzs.h"
#include "printdata/layouts/CFpdy_Image.h"
#include "printdata/layouts/CFpdy_esc.h"
#include "printdata/layouts/CFpdy_jdc.h"
#include "printdata/layouts/CFpdy_xp.h"
#include "printengine/CLayoutReader.h"
#include "printengine/CPrinter.h"

#include <QDomDocument>
#include <QFile>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The print path's page set-up and painting of every page into a PDF file.
void PrintToPdf(CPrinter &printer, const QString &root, const QString &layout, const QString &pdf)
{
    printer.m_strRoot = root;
    ASSERT_TRUE(PrintLayoutToPdf(printer, layout.toStdString(), pdf));
}

} // namespace

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
    const QString pdf = dir.filePath(QStringLiteral("vat.pdf"));
    PrintToPdf(printer, dir.path(), layout, pdf);
    EXPECT_EQ(printer.m_strKey, QStringLiteral("004_qd"));
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

TEST(VornelLayout, ReceiptDataSurvivesBothLevelsOfEscaping)
{
    const QString remark = QStringLiteral("A&B <c> \"q\" 'a' \U0001F600 𠀀\n第二行");
    QString items;
    for (int i = 1; i <= 20; ++i)
        items += QStringLiteral("<xm>项目%1&amp;</xm>").arg(i);
    QDomDocument request;
    request.setContent(QStringLiteral("<business><body><pybs>1</pybs><xpxx><xhdwmc/>"
                                      "<ewm>https://Example.test/Qr?c=AbC</ewm><bz/><tspz>02</tspz>"
                                      "<xms>%1<other>x</other></xms></xpxx></body></business>")
                           .arg(items));
    request.documentElement().firstChildElement().firstChildElement(QStringLiteral("xpxx"))
        .firstChildElement(QStringLiteral("bz")).appendChild(request.createTextNode(remark));

    CFpdy_xp builder;
    ASSERT_EQ(builder.ParseRequest(request.toString(-1)), 0);
    int code = 0;
    const QString layout = builder.BuildLayout(&code);

    CLayoutReader reader;
    ASSERT_EQ(reader.LoadLayout(layout.toStdString()), 0);
    ASSERT_EQ(reader.m_strWndStatus, "3");
    ASSERT_FALSE(reader.m_vecPages.empty());
    ASSERT_FALSE(reader.m_vecPages.front().empty());
    ASSERT_EQ(reader.LoadHdxml(reader.m_vecPages.front().front().path), 0) << reader.m_strError;
    EXPECT_EQ(QString::fromStdString(reader.bz), remark);
    EXPECT_EQ(reader.fppy, "1");
    EXPECT_EQ(reader.xhfmc, "");
    EXPECT_EQ(reader.ewm, "https://Example.test/Qr?c=AbC");
    EXPECT_EQ(reader.tspz, "02");
    ASSERT_EQ(reader.xms.size(), 20u);
    EXPECT_EQ(QString::fromStdString(reader.xms[19]), QStringLiteral("项目20&"));
}

TEST(VornelLayout, PageImageSamplePrintsOnePageAPictureInPageOrder)
{
    EnsureApp();
    const std::string request = ReadFileBytes(
        QStringLiteral(PLENWICK_SOURCE_DIR "/resources/samples/page-images.xml"));
    CFpdy_Image builder;
    ASSERT_EQ(builder.ParseRequest(QString::fromStdString(request)), 0);
    int code = 0;
    const QString layout = builder.BuildLayout(&code);

    QTemporaryDir dir;
    CPrinter printer;
    const QString pdf = dir.filePath(QStringLiteral("images.pdf"));
    PrintToPdf(printer, dir.path(), layout, pdf);
    ASSERT_EQ(printer.m_nResult, PrintDone);

    const PdfInfo info = ReadPdfInfo(pdf);
    ASSERT_EQ(info.pages, 3);
    EXPECT_NEAR(info.widthPt, 210 * 72 / 25.4, 1.5);
    // The black bar of the picture numbered n lies lower the higher n is.
    int lastBar = -1;
    for (int page = 1; page <= 3; ++page) {
        const QImage image =
            RenderPdfPage(pdf, dir.filePath(QStringLiteral("page%1").arg(page)), 30, page);
        ASSERT_FALSE(image.isNull());
        // The bar: the first five rows in a row that are black over half the
        // width (the frame's lines are thinner).
        int bar = -1;
        for (int y = 0, run = 0; y < image.height() && bar < 0; ++y) {
            int dark = 0;
            for (int x = 0; x < image.width(); ++x)
                dark += qGray(image.pixel(x, y)) < 100;
            run = dark > image.width() / 2 ? run + 1 : 0;
            if (run == 5)
                bar = y;
        }
        EXPECT_GT(bar, lastBar) << "page " << page;
        lastBar = bar;
    }
    QFile::remove(ArtifactDir() + QStringLiteral("/vornel_page_images.pdf"));
    QFile::copy(pdf, ArtifactDir() + QStringLiteral("/vornel_page_images.pdf"));
}
