// Paper size a layout key gets when its settings group is missing.
// The key is tested for fragments in table order, case-sensitive; the first
// match decides. Widths and heights are in millimetres; the texts are what
// the printer-and-margin dialog shows.
#pragma once

#include <QString>

struct PaperDefault {
    double width;
    double height;
    QString widthText;
    QString heightText;
};

PaperDefault PaperDefaultFor(const QString &key);
