// Layout reader: turns a layout XML text into plain records.
//
// The Window settings become byte strings, every Page becomes one list of
// LayoutElement records in document order, every Fpmx row one list of its
// cells. The reader never draws and holds no coordinates of its own.
// Numbers follow pugixml's as_int: decimal or "0x" hexadecimal, 0 when the
// attribute is absent or unreadable. Positions and sizes are held to
// -20000..20000 (2 m in 0.1 mm) and font sizes to 0..1000 points, with a log
// line, so no layout asks the painter for more than a printed form can use.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <vector>

struct LayoutElement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int fontsize = 0;       // points
    int fontalign = 0;      // alignment, wrap, border and symbol bits
    std::string kind;       // the element's own name; empty for stray text
    std::string name;
    std::string font;
    std::string path;
    std::string text;
    int tox = 0;
    int toy = 0;
    std::string fontzoomer; // "true" turns shrink-to-fit on
    int index = 0;          // only inside Fpmx
    int item_index = 0;     // only inside Fpmx
};

class CLayoutReader {
public:
    CLayoutReader();

    // 0 when the tree was read; 1 with m_strError set otherwise.
    int LoadLayout(const std::string &text);
    // Receipt body of a status-3 layout: 0 when read, 1 with m_strError set.
    int LoadHdxml(const std::string &text);

    std::string m_strWndTitle;
    std::string m_strWndIconPath;
    std::string m_strWndStatus;
    std::string m_strWndBackground;
    std::string m_strWndBusinessType;
    std::vector<std::vector<LayoutElement>> m_vecPages;
    std::string m_strError;
    std::vector<std::vector<LayoutElement>> m_vecFpmxRows;

    // Receipt fields, empty until a receipt body is read.
    std::string fppy;
    std::string xhfmc;
    std::string scsj;
    std::string sxsj;
    std::string ewm;
    std::string jshj;
    std::string bz;
    std::string tspz;
    std::vector<std::string> xms;

    pugi::xml_document m_doc;

private:
    static LayoutElement ReadElement(const pugi::xml_node &node, bool withRowIndexes);
};
