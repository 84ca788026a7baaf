// Font families named in layouts, mapped to fonts that are installed here,
// so output does not depend on the machine's font aliases. Safe to call
// more than once.
#pragma once

void InstallFontSubstitutions();
