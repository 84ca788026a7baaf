// Font families named in layouts, mapped to fonts that are installed here,
// so output does not depend on the machine's font aliases. Safe to call
// more than once.
#pragma once

#include <QString>

// The print fonts (fonts/ of the program folder) come first: their glyphs
// each answer to one character, so a PDF's text reads back as printed. The
// installed fonts stand behind them for what they lack. fontFolder empty:
// fonts/ beside the running program.
void InstallFontSubstitutions(const QString &fontFolder = QString());
