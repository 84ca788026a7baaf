// Settings of CPrinter: printer, paper and offsets per layout key in
// "PrintConfig.ini" of the application directory.
#include "printengine/CPrinter.h"

#include "printengine/CConfigDlg.h"
#include "printengine/PaperDefaults.h"

#include <QDebug>
#include <QPrintPreviewWidget>
#include <QPrinterInfo>
#include <QSettings>

#include <cmath>

namespace {

// The longest paper side taken from the file, in mm; offsets (0.1 mm) are held
// to the same length. Beyond it the painter's window in 0.1 mm would leave
// int's range, and no printer takes such paper.
const double kMaxPaperMm = 2000;
const double kMaxOffset = kMaxPaperMm * 10;

// A stored paper length is usable when it is a positive number of at most
// kMaxPaperMm.
bool ReadLength(const QSettings &settings, const QString &key, double *value)
{
    bool ok = false;
    const double v = settings.value(key).toString().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > kMaxPaperMm)
        return false;
    *value = v;
    return true;
}

double ReadOffset(const QSettings &settings, const QString &key)
{
    bool ok = false;
    const double v = settings.value(key).toString().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0;
    const double held = qBound(-kMaxOffset, v, kMaxOffset);
    if (held != v)
        qWarning() << "CPrinter" << "ReadIni" << __LINE__ << "offset" << key << v << "held to"
                   << held;
    return held;
}

} // namespace

QString CPrinter::IniPath() const
{
    return m_strRoot + QStringLiteral("/PrintConfig.ini");
}

int CPrinter::ReadIni()
{
    const QString path = IniPath();
    qCritical() << "CPrinter" << "ReadIni" << 358 << "PrintConfig.ini path = " << path;

    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    const PaperDefault paper = PaperDefaultFor(m_strKey);

    if (settings.childGroups().contains(m_strKey)) {
        settings.beginGroup(m_strKey);
        m_strPrinterName = settings.value(QStringLiteral("printername")).toString();
        // A broken size would make an unusable page: the key's default stands
        // in, and the file is left as the user wrote it.
        if (!ReadLength(settings, QStringLiteral("width"), &m_dWidth)) {
            qWarning() << "CPrinter" << "ReadIni" << __LINE__ << "bad width in group" << m_strKey;
            m_dWidth = paper.width;
        }
        if (!ReadLength(settings, QStringLiteral("heigth"), &m_dHeight)) {
            qWarning() << "CPrinter" << "ReadIni" << __LINE__ << "bad heigth in group" << m_strKey;
            m_dHeight = paper.height;
        }
        m_dXoff = ReadOffset(settings, QStringLiteral("xoff"));
        m_dYoff = ReadOffset(settings, QStringLiteral("yoff"));
        if (m_strKey == QLatin1String("xp_qd"))
            m_strPybs = settings.value(QStringLiteral("pybs")).toString();
        settings.endGroup();
    } else {
        m_strPrinterName = QPrinterInfo::defaultPrinterName();
        m_dWidth = paper.width;
        m_dHeight = paper.height;
        if (m_strKey == QLatin1String("xp_qd"))
            m_strPybs = QStringLiteral("0");
        WriteDefaultIni();
    }

    qCritical() << "CPrinter" << "ReadIni" << 483 << "left = " << m_dXoff;
    qCritical() << "CPrinter" << "ReadIni" << 484 << "top = " << m_dYoff;
    return 0;
}

int CPrinter::WriteDefaultIni()
{
    QSettings settings(IniPath(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.beginGroup(m_strKey);
    settings.setValue(QStringLiteral("printername"), m_strPrinterName);
    settings.setValue(QStringLiteral("width"), m_dWidth);
    settings.setValue(QStringLiteral("heigth"), m_dHeight);
    settings.setValue(QStringLiteral("xoff"), m_dXoff);
    settings.setValue(QStringLiteral("yoff"), m_dYoff);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "CPrinter" << "WriteDefaultIni" << __LINE__ << "cannot write" << IniPath();
    return 0;
}

void CPrinter::SavePrinterName()
{
    QSettings settings(IniPath(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.setValue(m_strKey + QStringLiteral("/printername"), m_strPrinterName);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "CPrinter" << "SavePrinterName" << __LINE__ << "cannot write" << IniPath();
}

void CPrinter::MarginSet_Slot()
{
    CConfigDlg dlg(m_strKey, m_pPreviewDlg, m_strRoot);
    connect(&dlg, &CConfigDlg::UpdatePrinter, this, &CPrinter::UpdatePrinter_Slot);
    dlg.exec();
}

int CPrinter::UpdatePrinter_Slot()
{
    ReadIni();
    if (m_pPreviewWidget)
        m_pPreviewWidget->updatePreview();
    return 0;
}
