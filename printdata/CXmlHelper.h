// CXmlHelper: a level-by-level cursor over a Qt DOM document.
//
// Reader mode (after SetContent): IntoElement makes the child nodes of the
// current element the new level; FindElement and SelectChild move within that
// level; OutOfElement goes back up. A level keeps one slot per child node, so
// positions equal child-node indexes; a child that is not an element sits there
// as a null element and never matches a search.
//
// Writer mode (after construction or AddDeclaration): AddElement collects the
// elements of the current depth; OutOfElement and ToString hang them under the
// last element of the level above.
//
// Calls out of contract (searching before a successful SetContent, leaving the
// top level, setting an attribute where nothing was added) return failure and
// change nothing; the cursor never reaches outside its own lists.
#ifndef PLENWICK_PRINTDATA_CXMLHELPER_H
#define PLENWICK_PRINTDATA_CXMLHELPER_H

#include <QDomDocument>
#include <QDomElement>
#include <QString>
#include <QVector>

class CXmlHelper {
public:
    CXmlHelper();

    void Reset();

    // Reader. SetContent: 0 read, 1 empty text, 2 not well-formed.
    int SetContent(const QString& text);
    bool FindElement(const QString& name, bool caseSensitive);
    bool SelectChild(int n);
    int ChildCount() const;
    QString GetText() const;
    QString GetAttribute(const QString& name) const;

    // Both modes.
    bool IntoElement();
    void OutOfElement();

    // Writer.
    void AddDeclaration(const QString& data);
    bool AddElement(const QString& name, const QString& text);
    bool SetAttribute(const QString& name, const QString& value);
    bool AddElementWithAttributes(const QString& name,
                                  const QString& name1, const QString& value1,
                                  const QString& name2, const QString& value2,
                                  const QString& name3, const QString& value3);
    QString ToString(int indent);

    int Depth() const { return m_depth; }
    bool IsWriter() const { return m_writer; }

private:
    using Level = QVector<QDomElement>;

    const Level* CurrentLevel() const;
    void LinkLevel(int level);

    int m_depth = 1;
    bool m_writer = true;
    QVector<Level> m_levels;     // m_levels[0] is level 1
    QDomDocument m_document;     // the document being written
    QDomDocument m_readDocument; // the parsed request; keeps the tree alive
    QDomElement m_current;
    QVector<int> m_positions;    // per level, counted from 1
    bool m_selected = false;
};

#endif
