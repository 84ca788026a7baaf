#include "printdata/layouts/CFpdy_xp.h"

#include "printdata/LayoutWriter.h"
#include "printdata/RequestReader.h"

#include <QDomDocument>

namespace {

// Receipt fields of body/xpxx, in the order HDXML writes them after fppy.
struct FieldRef {
    const char *request;
    const char *hdxml;
    QString CFpdy_xp::*member;
};

const FieldRef kFields[] = {
    {"xhdwmc", "xhfmc", &CFpdy_xp::xhdwmc},
    {"scsj", "scsj", &CFpdy_xp::scsj},
    {"sxsj", "sxsj", &CFpdy_xp::sxsj},
    {"jshj", "jshj", &CFpdy_xp::jshj},
    {"ewm", "ewm", &CFpdy_xp::ewm},
    {"bz", "bz", &CFpdy_xp::bz},
    {"tspz", "tspz", &CFpdy_xp::tspz},
};

// Written as text, not as the DOM's own declaration: with that declaration
// the DOM would turn every character outside gbk into a reference.
const char kHdxmlHead[] = "<?xml version=\"1.0\" encoding=\"gbk\"?>";

void AppendTextElement(QDomDocument &doc, QDomElement &parent, const QString &name,
                       const QString &text)
{
    QDomElement e = doc.createElement(name);
    e.appendChild(doc.createTextNode(text));
    parent.appendChild(e);
}

} // namespace

int CFpdy_xp::ParseRequest(const QString &request)
{
    return ReadRequestBody(xml, request, [this] {
        ReadText(xml, "dyfs", dyfs);
        ReadText(xml, "pybs", pybs);
        ReadInside(xml, "xpxx", [this] {
            for (const FieldRef &f : kFields)
                ReadText(xml, f.request, this->*(f.member));
            ForEachChild(xml, "xms", "xm", [this](int) { items.append(xml.GetText()); });
        });
    });
}

QString CFpdy_xp::BuildHdxml() const
{
    QDomDocument doc;
    QDomElement business = doc.createElement(QStringLiteral("business"));
    QDomElement body = doc.createElement(QStringLiteral("body"));
    AppendTextElement(doc, body, QStringLiteral("fppy"), pybs);
    for (const FieldRef &f : kFields)
        AppendTextElement(doc, body, QString::fromLatin1(f.hdxml), this->*(f.member));
    QDomElement xms = doc.createElement(QStringLiteral("xms"));
    for (const QString &item : items)
        AppendTextElement(doc, xms, QStringLiteral("xm"), item);
    body.appendChild(xms);
    business.appendChild(body);
    doc.appendChild(business);
    return QString::fromLatin1(kHdxmlHead) + doc.toString(-1);
}

QString CFpdy_xp::BuildLayout(int * /*code*/)
{
    CLayoutWriter writer;
    writer.WriteWindow(QStringLiteral("xp_qd"), QStringLiteral("发票打印预览"),
                       QStringLiteral("3"), QStringLiteral("01.ico"), QString());
    writer.BeginPage();
    writer.AddFpImage(0, 0, 0, 0, BuildHdxml());
    return writer.ToString();
}
