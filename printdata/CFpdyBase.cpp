#include "printdata/CFpdyBase.h"

#include "printdata/HtmlLog.h"

#include <QLibrary>

namespace {

struct ResponseCode {
    int code;
    const char* message;
    const char* comment;
    const char* id;
};

const ResponseCode kResponseCodes[] = {
    {0, "成功", "发票打印", "93010"},
    {1, "用户取消打印操作", "发票打印", "93010"},
    {2, "打印成功", "发票打印", "93010"},
    {3, "打印失败", "发票打印", "93010"},
    {4, "成功", "页边距设置", "93009"},
    {5, "卷式发票明细行数超出限定行数，不能打印", "发票打印", "93010"},
    {6, "不支持PDF和XPS打印", "发票打印", "93010"},
};
const ResponseCode kOtherCode = {CFpdyBase::kParseFailed, "打印数据报文解析失败", "发票打印", "93010"};

const ResponseCode& LookUp(int code)
{
    for (const ResponseCode& row : kResponseCodes) {
        if (row.code == code)
            return row;
    }
    return kOtherCode;
}

using PrintFunction = int (*)(const char* layoutUtf8, int mode);

} // namespace

QString CFpdyBase::Run(const QString& request)
{
    int code = ParseRequest(request);
    if (code != 0)
        return MakeResponse(kParseFailed);

    const QString layout = BuildLayout(&code);
    if (!layout.isEmpty())
        code = InvokePrintExport(layout);
    return MakeResponse(code);
}

QString CFpdyBase::MakeResponse(int code)
{
    const ResponseCode& row = LookUp(code);
    xml.AddDeclaration(QStringLiteral("version=\"1.0\" encoding=\"UTF-8\""));
    xml.AddElement(QStringLiteral("business"), QString());
    xml.SetAttribute(QStringLiteral("comment"), QString::fromUtf8(row.comment));
    xml.SetAttribute(QStringLiteral("id"), QString::fromUtf8(row.id));
    xml.IntoElement();
    xml.AddElement(QStringLiteral("body"), QString());
    xml.SetAttribute(QStringLiteral("yylxdm"), QStringLiteral("1"));
    xml.IntoElement();
    xml.AddElement(QStringLiteral("returncode"), QString::number(code));
    xml.AddElement(QStringLiteral("returnmsg"), QString::fromUtf8(row.message));
    xml.OutOfElement();
    xml.OutOfElement();
    return xml.ToString(-1);
}

int CFpdyBase::InvokePrintExport(const QString& layout)
{
    return InvokePrintExport(layout, ApplicationDirPath() + QStringLiteral("/libGavrune.so"));
}

int CFpdyBase::InvokePrintExport(const QString& layout, const QString& libraryPath)
{
    QLibrary library(libraryPath);
    if (!library.load()) {
        VLOG_INFO() << "cannot load" << libraryPath << library.errorString();
        return 0;
    }
    auto print = reinterpret_cast<PrintFunction>(library.resolve("Print"));
    if (!print) {
        VLOG_INFO() << "no Print in" << libraryPath;
        library.unload();
        return 0;
    }
    const QByteArray utf8 = layout.toUtf8(); // NUL-terminated
    const int code = print(utf8.constData(), 0);
    library.unload();
    return code;
}
