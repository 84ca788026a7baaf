// Printed PDFs carry the text they show: every GB2312 character and mixed
// texts, printed through the print library, read back exactly from the PDF.
#include "GavruneTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <sstream>
#include <utility>
#include <vector>

namespace {

// The cells of GB2312 (first byte, first and last second byte), ideographic
// space A1A1 left out: it reads back as white space.
const struct {
    int row;
    int first;
    int last;
} kGb2312Cells[] = {
    {0xA1, 0xA2, 0xFE}, {0xA2, 0xB1, 0xE2}, {0xA2, 0xE5, 0xEE}, {0xA2, 0xF1, 0xFC},
    {0xA3, 0xA1, 0xFE}, {0xA4, 0xA1, 0xF3}, {0xA5, 0xA1, 0xF6}, {0xA6, 0xA1, 0xB8},
    {0xA6, 0xC1, 0xD8}, {0xA7, 0xA1, 0xC1}, {0xA7, 0xD1, 0xF1}, {0xA8, 0xA1, 0xBA},
    {0xA8, 0xC5, 0xE9}, {0xA9, 0xA4, 0xEF},
};
const int kHanziFirstRow = 0xB0;
const int kHanziLastRow = 0xF7;
const int kLastCellOfRowD7 = 0xF9;

// As Chinese systems decode them today (GB18030: A1A4 is U+00B7).
QString Gb2312Characters()
{
    QByteArray bytes;
    auto add = [&bytes](int row, int first, int last) {
        for (int cell = first; cell <= last; ++cell)
            bytes.append(char(row)).append(char(cell));
    };
    for (const auto &c : kGb2312Cells)
        add(c.row, c.first, c.last);
    for (int row = kHanziFirstRow; row <= kHanziLastRow; ++row)
        add(row, 0xA1, row == 0xD7 ? kLastCellOfRowD7 : 0xFE);
    return QTextCodec::codecForName("GB18030")->toUnicode(bytes);
}

// Digits, Latin letters and punctuation after Chinese and after Latin text.
const char *const kMixedTexts[] = {
    "北京购买方有限公司",
    "2024年05月01日",
    "阀门DN50",
    "LX-2026-1187",
    "规格型号LX-2026-1187",
    "Model A7 (rev.2)",
    "金额：¥1,234.56元",
    "税率13%，税额0.56。",
    "《发票》〈附件〉“说明”",
    "ABC123xyz!@#$%^&*()_+-=[]{};':\",./<>?|~`",
    "号码：04827153；校验码：12345",
    "Email: sales@example.com",
    "第1页/共2页",
};
const char *const kLayoutFamilies[] = {"宋体", "黑体", "Courier New"};

const int kCharsPerLine = 50;
const int kLinesPerPage = 58;

struct PrintedLine {
    QString family;
    QString text;
};

std::vector<PrintedLine> LinesToPrint()
{
    std::vector<PrintedLine> lines;
    const QString gb2312 = Gb2312Characters();
    for (const char *family : {"宋体", "黑体"})
        for (int i = 0; i < gb2312.size(); i += kCharsPerLine)
            lines.push_back({QString::fromUtf8(family), gb2312.mid(i, kCharsPerLine)});
    for (const char *family : kLayoutFamilies)
        for (const char *text : kMixedTexts)
            lines.push_back({QString::fromUtf8(family), QString::fromUtf8(text)});
    return lines;
}

// One line a text box, on A4 pages.
std::string LayoutOf(const std::vector<PrintedLine> &lines)
{
    pugi::xml_document doc;
    pugi::xml_node dialog = doc.append_child("Dialog");
    dialog.append_child("Window").append_attribute("businesstype") = "xhqd_qd";
    pugi::xml_node page;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i % kLinesPerPage == 0)
            page = dialog.append_child("Page");
        pugi::xml_node text = page.append_child("Text");
        text.append_attribute("x") = 100;
        text.append_attribute("y") = 100 + 45 * int(i % kLinesPerPage);
        text.append_attribute("width") = 1900;
        text.append_attribute("height") = 45;
        text.append_attribute("text") = lines[i].text.toStdString().c_str();
        text.append_attribute("font") = lines[i].family.toStdString().c_str();
        text.append_attribute("fontsize") = 9;
    }
    std::ostringstream out;
    doc.save(out);
    return out.str();
}

class PrintFontsText : public ::testing::TestWithParam<const char *> {};

TEST_P(PrintFontsText, EveryPrintedTextReadsBackExactly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString locale = QString::fromUtf8(GetParam());
    QProcessEnvironment env;
    ASSERT_TRUE(LocaleEnvironment(locale, dir.path(), &env)) << "no locale " << GetParam();

    const std::vector<PrintedLine> lines = LinesToPrint();
    const QString pdf = dir.filePath(QStringLiteral("texts.pdf"));
    ASSERT_TRUE(LayoutToPdf(PrintFontFolder(), LayoutOf(lines), pdf, env));
    const QString text = PdfText(pdf);
    ASSERT_FALSE(text.isEmpty());
    int wrong = 0;
    for (const PrintedLine &line : lines)
        if (!text.contains(line.text)) {
            ADD_FAILURE() << line.family.toStdString() << ": " << line.text.toStdString();
            ++wrong;
        }
    EXPECT_EQ(wrong, 0) << "of " << lines.size() << " lines";
}

INSTANTIATE_TEST_SUITE_P(Locales, PrintFontsText,
                         ::testing::Values("C", "C.UTF-8", "zh_CN.UTF-8"),
                         [](const auto &info) {
                             return QString::fromUtf8(info.param)
                                 .remove(QLatin1Char('.'))
                                 .remove(QLatin1Char('-'))
                                 .toStdString();
                         });

} // namespace
