#include "printengine/PaperDefaults.h"

namespace {

struct PaperRow {
    const char *fragment;
    const char *width;
    const char *height;
};

const PaperRow kPaperRows[] = {
    {"004", "240", "139.7"},
    {"007", "240", "139.7"},
    {"005", "240", "177.8"},
    {"006", "240", "177.8"},
    {"025", nullptr, "177"}, // roll paper: width by the "_zp"/"_kp" part below
    {"xp_qd", "58", "177"},
};

const char *const kOtherWidth = "210";
const char *const kOtherHeight = "297";

} // namespace

PaperDefault PaperDefaultFor(const QString &key)
{
    const char *w = kOtherWidth;
    const char *h = kOtherHeight;
    for (const PaperRow &row : kPaperRows) {
        if (!key.contains(QLatin1String(row.fragment)))
            continue;
        h = row.height;
        if (row.width)
            w = row.width;
        else
            // A roll key that names neither width takes the wider roll.
            w = key.contains(QLatin1String("_zp")) ? "57" : "76";
        break;
    }
    PaperDefault d;
    d.widthText = QString::fromLatin1(w);
    d.heightText = QString::fromLatin1(h);
    d.width = d.widthText.toDouble();
    d.height = d.heightText.toDouble();
    return d;
}
