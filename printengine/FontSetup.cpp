#include "printengine/FontSetup.h"

#include <QFont>
#include <QStringList>

namespace {

struct FontMapping {
    const char *layoutFamily;
    const char *installedFamily;
};

const FontMapping kFontMappings[] = {
    {"宋体", "Noto Serif CJK SC"},
    {"黑体", "Noto Sans CJK SC"},
    {"Courier New", "Liberation Mono"},
};

} // namespace

void InstallFontSubstitutions()
{
    for (const FontMapping &m : kFontMappings) {
        const QString family = QString::fromUtf8(m.layoutFamily);
        const QString installed = QString::fromUtf8(m.installedFamily);
        if (!QFont::substitutes(family).contains(installed))
            QFont::insertSubstitution(family, installed);
    }
}
