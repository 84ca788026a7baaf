// A builder's layout document read back by parsing, for the builders' tests.
#ifndef PLENWICK_TESTS_PRINTDATA_LAYOUTTESTSUPPORT_H
#define PLENWICK_TESTS_PRINTDATA_LAYOUTTESTSUPPORT_H

#include <QDomDocument>
#include <QString>
#include <QVector>
#include <gtest/gtest.h>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

// Parses the request with a fresh builder and keeps the one page's elements.
template <class Builder>
struct BuiltLayout {
    Builder builder;
    QDomDocument doc;
    QString head;  // target of the leading processing instruction
    QDomElement window;
    QVector<QDomElement> elements;

    explicit BuiltLayout(const QString &request)
    {
        EXPECT_EQ(builder.ParseRequest(request), 0);
        int code = 0;
        const QString text = builder.BuildLayout(&code);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(doc.setContent(text));
        head = doc.firstChild().toProcessingInstruction().target();
        const QDomElement dialog = doc.documentElement();
        EXPECT_EQ(dialog.tagName(), QStringLiteral("Dialog"));
        window = dialog.firstChildElement(QStringLiteral("Window"));
        const QDomElement page = dialog.firstChildElement(QStringLiteral("Page"));
        EXPECT_TRUE(page.nextSiblingElement(QStringLiteral("Page")).isNull());
        for (QDomElement e = page.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
            elements.append(e);
    }

    QVector<QDomElement> Named(const QString &name) const
    {
        QVector<QDomElement> found;
        for (const QDomElement &e : elements)
            if (e.attribute(QStringLiteral("name")) == name)
                found.append(e);
        return found;
    }

    QDomElement One(const QString &name) const
    {
        const QVector<QDomElement> found = Named(name);
        EXPECT_EQ(found.size(), 1) << name.toStdString();
        return found.value(0);
    }

    QString TextOf(const char *name) const
    {
        return One(QString::fromUtf8(name)).attribute(QStringLiteral("text"));
    }
};

// kind, x, y, width, height, font, size, fontalign, fontzoomer of a box.
inline void ExpectBox(const QDomElement &e, const char *kind, int x, int y, int w, int h,
                      const char *font, int size, int align, const char *zoom = "true")
{
    SCOPED_TRACE(e.attribute(QStringLiteral("name")).toStdString());
    EXPECT_EQ(e.tagName(), QString::fromUtf8(kind));
    EXPECT_EQ(e.attribute(QStringLiteral("x")).toInt(), x);
    EXPECT_EQ(e.attribute(QStringLiteral("y")).toInt(), y);
    EXPECT_EQ(e.attribute(QStringLiteral("width")).toInt(), w);
    EXPECT_EQ(e.attribute(QStringLiteral("height")).toInt(), h);
    EXPECT_EQ(e.attribute(QStringLiteral("font")), QString::fromUtf8(font));
    EXPECT_EQ(e.attribute(QStringLiteral("fontsize")).toInt(), size);
    EXPECT_EQ(e.attribute(QStringLiteral("fontalign")).toInt(), align);
    EXPECT_EQ(e.attribute(QStringLiteral("fontzoomer")), QString::fromUtf8(zoom));
}

#endif
