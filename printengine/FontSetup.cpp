#include "printengine/FontSetup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QStringList>
#include <QtDebug>

namespace {

const char kPrintSerif[] = "Plenwick Serif SC";
const char kPrintSans[] = "Plenwick Sans SC";

// Files of fonts/, made at build time from Noto Serif/Sans CJK SC.
const struct {
    const char *family;
    const char *file;
} kPrintFonts[] = {
    {kPrintSerif, "PlenwickSerifSC-Regular.otf"},
    {kPrintSans, "PlenwickSansSC-Regular.otf"},
};

// A family that is not loaded is passed over, so without the print fonts
// the installed ones print as before.
const struct {
    const char *layoutFamily;
    const char *families[3];
} kFontMappings[] = {
    {"宋体", {kPrintSerif, "Noto Serif CJK SC", nullptr}},
    {"黑体", {kPrintSans, "Noto Sans CJK SC", nullptr}},
    // Chinese text in Courier New falls back to the sans face.
    {"Courier New", {"Liberation Mono", kPrintSans, "Noto Sans CJK SC"}},
};

void LoadPrintFonts(const QString &folder)
{
    const QDir dir(folder.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/fonts")
                                    : folder);
    for (const auto &font : kPrintFonts) {
        if (QFontDatabase().hasFamily(QString::fromUtf8(font.family)))
            continue;
        const QString path = dir.filePath(QString::fromUtf8(font.file));
        if (!QFile::exists(path) || QFontDatabase::addApplicationFont(path) < 0)
            qWarning() << "FontSetup" << "cannot load" << path;
    }
}

} // namespace

void InstallFontSubstitutions(const QString &fontFolder)
{
    LoadPrintFonts(fontFolder);
    for (const auto &m : kFontMappings) {
        QStringList families;
        for (const char *family : m.families)
            if (family)
                families << QString::fromUtf8(family);
        const QString layoutFamily = QString::fromUtf8(m.layoutFamily);
        if (QFont::substitutes(layoutFamily) != families) {
            QFont::removeSubstitutions(layoutFamily);
            QFont::insertSubstitutions(layoutFamily, families);
        }
    }
}
