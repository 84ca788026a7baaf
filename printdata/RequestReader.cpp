#include "printdata/RequestReader.h"

int OpenRequestBody(CXmlHelper &xml, const QString &request)
{
    xml.Reset();
    if (xml.SetContent(request) != 0)
        return 2;
    if (!xml.FindElement(QStringLiteral("business"), true) || !xml.IntoElement())
        return 3;
    if (!xml.FindElement(QStringLiteral("body"), true)) {
        xml.OutOfElement();
        return 3;
    }
    if (!xml.IntoElement()) {
        xml.OutOfElement();
        return kBodyEmpty;
    }
    return 0;
}

void CloseRequestBody(CXmlHelper &xml)
{
    xml.OutOfElement();
    xml.OutOfElement();
}

void ReadText(CXmlHelper &xml, const char *name, QString &member)
{
    if (xml.FindElement(QString::fromLatin1(name), true))
        member = xml.GetText();
}
