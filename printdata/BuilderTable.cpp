#include "printdata/BuilderTable.h"

#include <vector>

// Builders: include each builder's header here.
#include "printdata/CFpdy_zzs.h"
#include "printdata/layouts/CBbdy_xhqd.h"
#include "printdata/layouts/CFpdy_esc.h"
#include "printdata/layouts/CFpdy_jdc.h"
#include "printdata/layouts/CFpdy_Image.h"
#include "printdata/layouts/CFpdy_xp.h"

namespace {

// One row per builder, in the order they are tried. A new builder adds its
// include above and its row here, in this order:
//   0  "01", "02"  CFpdy_zzs     VAT special or ordinary invoice
//   0  "03"        CFpdy_jdc     motor-vehicle sales invoice
//   0  "04"        CFpdy_esc     used-car sales invoice
//   1  "xhqd"      CBbdy_xhqd    sales list
//   2  any kind    CFpdy_Image   page images
//   3  any kind    CFpdy_xp      receipt
// for example: {0, {"01", "02"}, "CFpdy_zzs", &RunBuilder<CFpdy_zzs>},
const std::vector<BuilderRow> kBuilders = {
    {0, {"01", "02"}, "CFpdy_zzs", &RunBuilder<CFpdy_zzs>},
    {0, {"03", nullptr}, "CFpdy_jdc", &RunBuilder<CFpdy_jdc>},
    {0, {"04", nullptr}, "CFpdy_esc", &RunBuilder<CFpdy_esc>},
    {1, {"xhqd", nullptr}, "CBbdy_xhqd", &RunBuilder<CBbdy_xhqd>},
    {2, {nullptr, nullptr}, "CFpdy_Image", &RunBuilder<CFpdy_Image>},
    {3, {nullptr, nullptr}, "CFpdy_xp", &RunBuilder<CFpdy_xp>},
};

bool KindMatches(const BuilderRow& row, const QString& kind)
{
    if (!row.kinds[0] && !row.kinds[1])
        return true;
    for (const char* sub : row.kinds) {
        if (sub && kind.contains(QString::fromUtf8(sub), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

const BuilderRow* ChooseBuilder(const BuilderRow* rows, std::size_t count, int printType, const QString& kind)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (rows[i].printType == printType && rows[i].run && KindMatches(rows[i], kind))
            return &rows[i];
    }
    return nullptr;
}

const BuilderRow* ChooseBuilder(int printType, const QString& kind)
{
    return ChooseBuilder(kBuilders.data(), kBuilders.size(), printType, kind);
}
