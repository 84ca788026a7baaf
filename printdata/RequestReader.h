// Reading a builder's request with the cursor: every builder reads
// business/body, finds its fields by exact name from the first child (the
// first of two equal names wins, a missing field leaves its member as it
// was) and its goods lines as the "group" children of a container.
#ifndef PLENWICK_PRINTDATA_REQUESTREADER_H
#define PLENWICK_PRINTDATA_REQUESTREADER_H

#include "printdata/CXmlHelper.h"

#include <QString>
#include <QVector>
#include <cstddef>

// A request field and the member it fills.
template <class Owner>
struct TextField {
    const char *name;
    QString Owner::*member;
};

// OpenRequestBody: 0 with the cursor inside body, kBodyEmpty when body has no
// child nodes (nothing to read, nothing to close), 2 empty or not
// well-formed, 3 no business or no body.
constexpr int kBodyEmpty = 1;
int OpenRequestBody(CXmlHelper &xml, const QString &request);
// Leaves body and business after OpenRequestBody answered 0.
void CloseRequestBody(CXmlHelper &xml);

// The text of the element `name` of the current level into `member`, when
// there is one.
void ReadText(CXmlHelper &xml, const char *name, QString &member);

template <class Owner, std::size_t N>
void ReadFields(CXmlHelper &xml, Owner &owner, const TextField<Owner> (&fields)[N])
{
    for (const TextField<Owner> &f : fields)
        ReadText(xml, f.name, owner.*(f.member));
}

// Runs read() with the cursor inside business/body and leaves body and
// business again: 0, also for a body without child nodes (nothing to read),
// else OpenRequestBody's code.
template <class Read>
int ReadRequestBody(CXmlHelper &xml, const QString &request, Read read)
{
    const int opened = OpenRequestBody(xml, request);
    if (opened != 0)
        return opened == kBodyEmpty ? 0 : opened;
    read();
    CloseRequestBody(xml);
    return 0;
}

// Runs read() with the cursor inside the element `name` of the current level,
// when there is one with child nodes, and comes back out.
template <class Read>
void ReadInside(CXmlHelper &xml, const char *name, Read read)
{
    if (xml.FindElement(QString::fromLatin1(name), true) && xml.IntoElement()) {
        read();
        xml.OutOfElement();
    }
}

// The request of a form without goods lines: body/dyfs, then the fields of
// body/kpxx; codes as OpenRequestBody, an empty body being read as well.
template <class Owner, std::size_t N>
int ReadFormRequest(CXmlHelper &xml, const QString &request, QString &dyfs, Owner &owner,
                    const TextField<Owner> (&kpxx)[N])
{
    return ReadRequestBody(xml, request, [&] {
        ReadText(xml, "dyfs", dyfs);
        ReadInside(xml, "kpxx", [&] { ReadFields(xml, owner, kpxx); });
    });
}

// Calls read(i) for every child element named `name` of the element
// `container` of the current level, in document order, with that child
// selected; i is its index among all of the container's child nodes.
template <class Read>
void ForEachChild(CXmlHelper &xml, const char *container, const char *name, Read read)
{
    if (!xml.FindElement(QString::fromLatin1(container), true))
        return;
    const int n = xml.ChildCount();
    for (int i = 0; i < n; ++i) {
        if (!xml.IntoElement())
            return;
        if (xml.SelectChild(i) && xml.FindElement(QString::fromLatin1(name), true))
            read(i);
        xml.OutOfElement();
    }
}

// One Row per "group" child of the element `container` of the current level,
// in document order; `position`, when given, gets the group's 1-based place
// among all of the container's child nodes. A group without child nodes
// gives a Row with its fields unread.
template <class Row, std::size_t N>
void ReadGroups(CXmlHelper &xml, const char *container, const TextField<Row> (&fields)[N],
                QVector<Row> &rows, int Row::*position = nullptr)
{
    ForEachChild(xml, container, "group", [&](int i) {
        Row row;
        if (position)
            row.*position = i + 1;
        if (xml.IntoElement()) {
            ReadFields(xml, row, fields);
            xml.OutOfElement();
        }
        rows.append(row);
    });
}

#endif
