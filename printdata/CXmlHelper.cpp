#include "printdata/CXmlHelper.h"

#include <QDomNodeList>
#include <QDomProcessingInstruction>
#include <QDomText>
#include <QTextStream>

namespace {

bool SameName(const QString& a, const QString& b, bool caseSensitive)
{
    return QString::compare(a, b, caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive) == 0;
}

} // namespace

CXmlHelper::CXmlHelper()
{
    Reset();
    m_writer = true;
}

void CXmlHelper::Reset()
{
    m_document = QDomDocument();
    m_readDocument = QDomDocument();
    m_positions.clear();
    m_levels.clear();
    m_current = QDomElement();
    m_depth = 1;
    m_selected = false;
}

const CXmlHelper::Level* CXmlHelper::CurrentLevel() const
{
    if (m_depth < 1 || m_depth > m_levels.size() || m_depth > m_positions.size())
        return nullptr;
    return &m_levels[m_depth - 1];
}

// ---- reader -------------------------------------------------------------

int CXmlHelper::SetContent(const QString& text)
{
    Reset();
    m_writer = false;
    if (text.isEmpty())
        return 1;

    QDomDocument doc;
    if (!doc.setContent(text, false))
        return 2;

    m_readDocument = doc;
    m_levels.append(Level{doc.documentElement()});
    m_positions.append(1);
    return 0;
}

bool CXmlHelper::FindElement(const QString& name, bool caseSensitive)
{
    // Right after SelectChild the caller only asks what the selected node is.
    if (m_selected)
        return !m_current.isNull() && SameName(m_current.tagName(), name, caseSensitive);

    const Level* level = CurrentLevel();
    if (!level)
        return false;
    // Always from the first slot, so the first of two equal names wins.
    for (int i = 0; i < level->size(); ++i) {
        const QDomElement& e = level->at(i);
        if (!e.isNull() && SameName(e.tagName(), name, caseSensitive)) {
            m_positions[m_depth - 1] = i + 1;
            m_current = e;
            return true;
        }
    }
    return false;
}

bool CXmlHelper::SelectChild(int n)
{
    const Level* level = CurrentLevel();
    if (!level || n < 0 || n >= level->size())
        return false;
    m_positions[m_depth - 1] = n + 1;
    m_current = level->at(n);
    m_selected = true;
    return true;
}

int CXmlHelper::ChildCount() const
{
    return m_current.childNodes().count();
}

QString CXmlHelper::GetText() const
{
    return m_current.text();
}

QString CXmlHelper::GetAttribute(const QString& name) const
{
    return m_current.attribute(name);
}

// ---- both modes ---------------------------------------------------------

bool CXmlHelper::IntoElement()
{
    if (m_writer) {
        ++m_depth;
        return true;
    }

    m_selected = false;
    const Level* level = CurrentLevel();
    if (!level)
        return false;
    const int pos = m_positions[m_depth - 1];
    if (pos < 1 || pos > level->size())
        return false;
    const QDomElement entered = level->at(pos - 1);
    if (entered.isNull() || !entered.hasChildNodes())
        return false;

    const QDomNodeList children = entered.childNodes();
    Level next;
    next.reserve(children.count());
    for (int i = 0; i < children.count(); ++i)
        next.append(children.at(i).toElement()); // null for non-elements
    m_levels.append(next);
    m_positions.append(1);
    ++m_depth;
    m_current = next.first();
    return true;
}

void CXmlHelper::OutOfElement()
{
    if (!m_writer) {
        if (m_depth <= 1 || m_depth != m_levels.size() || m_depth != m_positions.size())
            return; // the top level cannot be left
        m_levels.removeLast();
        m_positions.removeLast();
        --m_depth;
        m_selected = false;
        const Level& level = m_levels[m_depth - 1];
        const int pos = m_positions[m_depth - 1];
        m_current = (pos >= 1 && pos <= level.size()) ? level.at(pos - 1) : QDomElement();
        return;
    }

    if (m_depth <= m_levels.size()) {
        LinkLevel(m_depth - 1);
        m_levels.resize(m_depth - 1);
    }
    if (m_depth > 1)
        --m_depth;
}

// ---- writer -------------------------------------------------------------

// Hangs the elements of one level under the last element of the level above
// (level 0: under the document). Without a parent element they stay unlinked.
void CXmlHelper::LinkLevel(int level)
{
    if (level < 0 || level >= m_levels.size())
        return;
    QDomNode parent;
    if (level == 0)
        parent = m_document;
    else if (!m_levels[level - 1].isEmpty())
        parent = m_levels[level - 1].last();
    if (parent.isNull())
        return;
    for (const QDomElement& e : qAsConst(m_levels[level]))
        parent.appendChild(e);
}

void CXmlHelper::AddDeclaration(const QString& data)
{
    Reset();
    m_writer = true;
    m_document.appendChild(m_document.createProcessingInstruction(QStringLiteral("xml"), data));
}

bool CXmlHelper::AddElement(const QString& name, const QString& text)
{
    if (!m_writer || name.isEmpty())
        return false;
    QDomElement e = m_document.createElement(name);
    if (!text.isEmpty())
        e.appendChild(m_document.createTextNode(text));
    while (m_levels.size() < m_depth)
        m_levels.append(Level());
    m_levels[m_depth - 1].append(e);
    return true;
}

bool CXmlHelper::SetAttribute(const QString& name, const QString& value)
{
    if (!m_writer || m_depth > m_levels.size() || m_levels[m_depth - 1].isEmpty())
        return false;
    m_levels[m_depth - 1].last().setAttribute(name, value);
    return true;
}

bool CXmlHelper::AddElementWithAttributes(const QString& name,
                                          const QString& name1, const QString& value1,
                                          const QString& name2, const QString& value2,
                                          const QString& name3, const QString& value3)
{
    if (!AddElement(name, QString()))
        return false;
    SetAttribute(name1, value1);
    if (!value2.isEmpty())
        SetAttribute(name2, value2);
    if (!value3.isEmpty())
        SetAttribute(name3, value3);
    return true;
}

QString CXmlHelper::ToString(int indent)
{
    // In reader mode the levels belong to the parsed request, not to the
    // document being written: nothing to link.
    if (m_writer) {
        for (int level = m_levels.size() - 1; level >= 0; --level)
            LinkLevel(level);
    }
    if (indent >= 0)
        return m_document.toString(indent);

    // Qt ends a processing instruction with a line break even without
    // indentation; the text asked for here has none at all.
    QString text;
    QTextStream stream(&text);
    for (QDomNode node = m_document.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isProcessingInstruction()) {
            const QDomProcessingInstruction pi = node.toProcessingInstruction();
            stream << "<?" << pi.target() << ' ' << pi.data() << "?>";
        } else {
            node.save(stream, -1);
        }
    }
    stream.flush();
    return text;
}
