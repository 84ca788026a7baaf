#include "printengine/CLayoutReader.h"

#include <QtGlobal>
#include <QDebug>

#include <cstring>

CLayoutReader::CLayoutReader() = default;

LayoutElement CLayoutReader::ReadElement(const pugi::xml_node &node, bool withRowIndexes)
{
    LayoutElement e;
    e.kind = node.name();
    for (const pugi::xml_attribute &a : node.attributes()) {
        const char *n = a.name();
        if (std::strcmp(n, "name") == 0)
            e.name = a.value();
        else if (std::strcmp(n, "x") == 0)
            e.x = a.as_int();
        else if (std::strcmp(n, "y") == 0)
            e.y = a.as_int();
        else if (std::strcmp(n, "tox") == 0)
            e.tox = a.as_int();
        else if (std::strcmp(n, "toy") == 0)
            e.toy = a.as_int();
        else if (std::strcmp(n, "width") == 0)
            e.width = a.as_int();
        else if (std::strcmp(n, "height") == 0)
            e.height = a.as_int();
        else if (std::strcmp(n, "path") == 0)
            e.path = a.value();
        else if (std::strcmp(n, "font") == 0)
            e.font = a.value();
        else if (std::strcmp(n, "text") == 0)
            e.text = a.value();
        else if (std::strcmp(n, "fontsize") == 0)
            e.fontsize = a.as_int();
        else if (std::strcmp(n, "fontalign") == 0)
            e.fontalign = a.as_int();
        else if (std::strcmp(n, "fontzoomer") == 0)
            e.fontzoomer = a.value();
        else if (withRowIndexes && std::strcmp(n, "index") == 0)
            e.index = a.as_int();
        else if (withRowIndexes && std::strcmp(n, "item_index") == 0)
            e.item_index = a.as_int();
    }
    return e;
}

int CLayoutReader::LoadLayout(const std::string &text)
{
    m_vecFpmxRows.clear();

    // Always UTF-8, whatever the head declares; the head itself is skipped.
    pugi::xml_parse_result parsed = m_doc.load_buffer(text.data(), text.size(),
                                                      pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        m_strError = "XML格式加载错误";
        return 1;
    }

    pugi::xml_node dialog = m_doc.child("Dialog");
    if (!dialog) {
        m_strError = "获取Dialog节点失败";
        return 1;
    }

    for (const pugi::xml_node &child : dialog.children()) {
        const char *n = child.name();
        if (std::strcmp(n, "Window") == 0) {
            for (const pugi::xml_attribute &a : child.attributes()) {
                const char *an = a.name();
                if (std::strcmp(an, "title") == 0)
                    m_strWndTitle = a.value();
                else if (std::strcmp(an, "status") == 0)
                    m_strWndStatus = a.value();
                else if (std::strcmp(an, "iconpath") == 0)
                    m_strWndIconPath = a.value();
                else if (std::strcmp(an, "backgroundpath") == 0)
                    m_strWndBackground = a.value();
                else if (std::strcmp(an, "businesstype") == 0)
                    m_strWndBusinessType = a.value();
            }
        } else if (std::strcmp(n, "Page") == 0) {
            std::vector<LayoutElement> page;
            for (const pugi::xml_node &node : child.children())
                page.push_back(ReadElement(node, false));
            m_vecPages.push_back(std::move(page));
        } else if (std::strcmp(n, "Fpmxs") == 0) {
            qDebug() << "fpmxs";
            for (const pugi::xml_node &row : child.children("Fpmx")) {
                qDebug() << "fpmx";
                std::vector<LayoutElement> cells;
                for (const pugi::xml_node &node : row.children())
                    cells.push_back(ReadElement(node, true));
                m_vecFpmxRows.push_back(std::move(cells));
            }
        }
    }
    return 0;
}

int CLayoutReader::LoadHdxml(const std::string &text)
{
    // Declared "gbk" by its writer but always UTF-8: the head is skipped.
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8)) {
        m_strError = "XML格式加载错误";
        return 1;
    }
    const pugi::xml_node business = doc.child("business");
    if (!business) {
        m_strError = "business";
        return 1;
    }
    const pugi::xml_node body = business.child("body");
    if (!body) {
        m_strError = "body";
        return 1;
    }

    const struct {
        const char *name;
        std::string CLayoutReader::*field;
    } fields[] = {
        {"fppy", &CLayoutReader::fppy}, {"xhfmc", &CLayoutReader::xhfmc},
        {"scsj", &CLayoutReader::scsj}, {"sxsj", &CLayoutReader::sxsj},
        {"jshj", &CLayoutReader::jshj}, {"ewm", &CLayoutReader::ewm},
        {"bz", &CLayoutReader::bz},     {"tspz", &CLayoutReader::tspz},
    };
    for (const auto &f : fields)
        this->*(f.field) = body.child(f.name).child_value();

    // Elements of any name, and text standing directly inside xms.
    for (const pugi::xml_node &item : body.child("xms").children())
        xms.push_back(item.text().get());
    return 0;
}
