#include "printengine/CLayoutReader.h"

#include <QtGlobal>
#include <QDebug>

#include <climits>
#include <cstring>

CLayoutReader::CLayoutReader() = default;

namespace {

// What a printed form can use, in the layout's units: positions and sizes
// within two metres of the page's origin (0.1 mm), type up to 1000 points.
// Held there, the painter's arithmetic on them never leaves int's range and a
// hostile layout cannot ask for a glyph or a picture of kilometres.
const int kLengthLimit = 20000;
const int kFontSizeLimit = 1000;

struct NumberAttribute {
    const char *name;
    int LayoutElement::*field;
    int min;
    int max;
    bool rowOnly; // read only inside Fpmx
};

const NumberAttribute kNumberAttributes[] = {
    {"x", &LayoutElement::x, -kLengthLimit, kLengthLimit, false},
    {"y", &LayoutElement::y, -kLengthLimit, kLengthLimit, false},
    {"tox", &LayoutElement::tox, -kLengthLimit, kLengthLimit, false},
    {"toy", &LayoutElement::toy, -kLengthLimit, kLengthLimit, false},
    {"width", &LayoutElement::width, -kLengthLimit, kLengthLimit, false},
    {"height", &LayoutElement::height, -kLengthLimit, kLengthLimit, false},
    {"fontsize", &LayoutElement::fontsize, 0, kFontSizeLimit, false},
    {"fontalign", &LayoutElement::fontalign, INT_MIN, INT_MAX, false}, // bits
    {"index", &LayoutElement::index, INT_MIN, INT_MAX, true},
    {"item_index", &LayoutElement::item_index, INT_MIN, INT_MAX, true},
};

const struct {
    const char *name;
    std::string LayoutElement::*field;
} kTextAttributes[] = {
    {"name", &LayoutElement::name}, {"path", &LayoutElement::path},
    {"font", &LayoutElement::font}, {"text", &LayoutElement::text},
    {"fontzoomer", &LayoutElement::fontzoomer},
};

} // namespace

LayoutElement CLayoutReader::ReadElement(const pugi::xml_node &node, bool withRowIndexes)
{
    LayoutElement e;
    e.kind = node.name();
    for (const pugi::xml_attribute &a : node.attributes()) {
        const char *n = a.name();
        for (const auto &t : kTextAttributes)
            if (std::strcmp(n, t.name) == 0)
                e.*(t.field) = a.value();
        for (const NumberAttribute &d : kNumberAttributes) {
            if (std::strcmp(n, d.name) != 0 || (d.rowOnly && !withRowIndexes))
                continue;
            const int v = a.as_int();
            e.*(d.field) = qBound(d.min, v, d.max);
            if (v < d.min || v > d.max)
                qWarning() << "CLayoutReader" << "ReadElement" << __LINE__ << e.kind.c_str()
                           << n << "=" << v << "held to" << e.*(d.field);
        }
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
