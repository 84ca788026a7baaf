#include "printdata/layouts/CFpdy_Image.h"

#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"

namespace {

const TextField<CFpdy_Image> kFields[] = {
    {"dyfx", &CFpdy_Image::dyfx},
    {"fsbl", &CFpdy_Image::fsbl},
    {"xzjd", &CFpdy_Image::xzjd},
    {"zylx", &CFpdy_Image::zylx},
};

} // namespace

int CFpdy_Image::ParseRequest(const QString &request)
{
    const int rc = ReadRequestBody(xml, request, [this] {
        ReadInside(xml, "kpxx", [this] {
            ReadFields(xml, *this, kFields);
            ForEachChild(xml, "pages", "page", [this](int) {
                bool ok = false;
                const int pn = xml.GetAttribute(QStringLiteral("pn")).toInt(&ok, 10);
                pages.push_back({xml.GetText(), ok ? pn : 0});
            });
        });
    });
    if (rc != 0)
        return rc;

    // std::list::sort is a stable merge sort: equal numbers keep their order.
    pages.sort([](const ImagePage &a, const ImagePage &b) { return a.pn < b.pn; });
    return 0;
}

QString CFpdy_Image::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer;
    writer.WriteWindow(QStringLiteral("image_qd"), QStringLiteral("发票打印预览"),
                       QStringLiteral("2"), QString(), QString());
    for (const ImagePage &page : pages) {
        writer.BeginPage();
        writer.AddFpImage(dyfx, fsbl, xzjd, zylx, page.path);
    }
    return writer.ToString();
}
