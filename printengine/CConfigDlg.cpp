#include "printengine/CConfigDlg.h"

#include "printengine/PaperDefaults.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>

namespace {

const int kOffsetMin = -300;
const int kOffsetMax = 600;

struct SalesListPaper {
    const char *label;
    const char *width;
    const char *height;
};

const SalesListPaper kSalesListPapers[] = {
    {"A4（210 × 297 mm）", "210", "297"},
    {"清单（215.9 × 279.4mm）", "215.9", "279.4"},
};

} // namespace

CConfigDlg::CConfigDlg(const QString &key, QWidget *parent, const QString &root)
    : QDialog(parent)
    , m_strKey(key)
    , m_strRoot(root.isEmpty() ? QCoreApplication::applicationDirPath() : root)
{
    setWindowTitle(tr("打印机选择与边距设置"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    resize(300, 200);

    const bool salesList = m_strKey.contains(QLatin1String("xhqd"));
    QGridLayout *grid = new QGridLayout(this);
    int row = 0;

    m_pPrinterLabel = new QLabel(tr("打印机:"), this);
    m_pPrinterBox = new QComboBox(this);
    grid->addWidget(m_pPrinterLabel, row, 0);
    grid->addWidget(m_pPrinterBox, row, 1, 1, 4);
    ++row;

    if (salesList) {
        m_pPaperLabel = new QLabel(tr("纸张类型:"), this);
        m_pPaperBox = new QComboBox(this);
        grid->addWidget(m_pPaperLabel, row, 0);
        grid->addWidget(m_pPaperBox, row, 1, 1, 4);
        connect(m_pPaperBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &CConfigDlg::ZzlsChanged_Slot);
        ++row;
    }

    m_pHeightLabel = new QLabel(tr("纸张高度:"), this);
    m_pHeightEdit = new QLineEdit(this);
    m_pHeightEdit->setValidator(new QDoubleValidator(m_pHeightEdit));
    m_pHeightEdit->setEnabled(false);
    m_pUnitLabel = new QLabel(QStringLiteral("MM"), this);
    grid->addWidget(m_pHeightLabel, row, 0);
    grid->addWidget(m_pHeightEdit, row, 1, 1, 3);
    grid->addWidget(m_pUnitLabel, row, 4);
    ++row;

    m_pLeftLabel = new QLabel(tr("左边距:"), this);
    m_pLeftBox = new QSpinBox(this);
    m_pLeftBox->setRange(kOffsetMin, kOffsetMax);
    m_pTopLabel = new QLabel(tr("上边距:"), this);
    m_pTopBox = new QSpinBox(this);
    m_pTopBox->setRange(kOffsetMin, kOffsetMax);
    grid->addWidget(m_pLeftLabel, row, 0);
    grid->addWidget(m_pLeftBox, row, 1);
    grid->addWidget(m_pTopLabel, row, 2);
    grid->addWidget(m_pTopBox, row, 3);
    ++row;

    m_pHintLabel = new QLabel(tr("提示:边距的范围是为 -300~600,\n每+-1个单位相当于边距的0.01cm"),
                              this);
    grid->addWidget(m_pHintLabel, row, 1, Qt::AlignHCenter);
    ++row;

    grid->setRowMinimumHeight(row, 10);
    ++row;

    m_pOkButton = new QPushButton(tr("确定"), this);
    m_pCancelButton = new QPushButton(tr("取消"), this);
    grid->addWidget(m_pOkButton, row, 1);
    grid->addWidget(m_pCancelButton, row, 3);
    connect(m_pOkButton, &QPushButton::clicked, this, &CConfigDlg::onOkBtnClicked);
    connect(m_pCancelButton, &QPushButton::clicked, this, &QDialog::close);

    LoadConfig();
    FillControls();
}

QString CConfigDlg::IniPath() const
{
    return m_strRoot + QStringLiteral("/PrintConfig.ini");
}

void CConfigDlg::LoadConfig()
{
    QSettings settings(IniPath(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    m_strDefaultPrinter = QPrinterInfo::defaultPrinterName();
    if (settings.childGroups().contains(m_strKey)) {
        settings.beginGroup(m_strKey);
        m_strPrinterName = settings.value(QStringLiteral("printername")).toString();
        m_strWidth = settings.value(QStringLiteral("width")).toString();
        m_strHeight = settings.value(QStringLiteral("heigth")).toString();
        m_strLeft = settings.value(QStringLiteral("xoff")).toString();
        m_strTop = settings.value(QStringLiteral("yoff")).toString();
        settings.endGroup();
    } else {
        const PaperDefault paper = PaperDefaultFor(m_strKey);
        m_strPrinterName = m_strDefaultPrinter;
        m_strWidth = paper.widthText;
        m_strHeight = paper.heightText;
    }
}

void CConfigDlg::FillControls()
{
    const QStringList printers = QPrinterInfo::availablePrinterNames();
    m_pPrinterBox->addItems(printers);
    if (printers.contains(m_strPrinterName))
        m_pPrinterBox->setCurrentText(m_strPrinterName);
    else
        m_pPrinterBox->setCurrentText(m_strDefaultPrinter);

    if (m_pPaperBox) {
        const bool listPaper = m_strHeight.contains(QLatin1String("279.4"));
        // The first item selects itself and applies A4.
        for (const SalesListPaper &paper : kSalesListPapers)
            m_pPaperBox->addItem(QString::fromUtf8(paper.label));
        if (listPaper)
            m_pPaperBox->setCurrentIndex(1);
    } else {
        m_pHeightEdit->setText(m_strHeight);
    }

    m_pLeftBox->setValue(m_strLeft.toInt());
    m_pTopBox->setValue(m_strTop.toInt());
}

void CConfigDlg::ZzlsChanged_Slot(int index)
{
    if (index < 0 || index >= int(sizeof kSalesListPapers / sizeof kSalesListPapers[0]))
        return;
    m_strWidth = QString::fromLatin1(kSalesListPapers[index].width);
    m_pHeightEdit->setText(QString::fromLatin1(kSalesListPapers[index].height));
}

void CConfigDlg::onOkBtnClicked()
{
    SaveConfig();
    emit UpdatePrinter();
    close();
}

void CConfigDlg::SaveConfig()
{
    QSettings settings(IniPath(), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.beginGroup(m_strKey);
    settings.setValue(QStringLiteral("printername"), m_pPrinterBox->currentText());
    settings.setValue(QStringLiteral("width"), m_strWidth);
    settings.setValue(QStringLiteral("heigth"), m_pHeightEdit->text());
    settings.setValue(QStringLiteral("xoff"), m_pLeftBox->value());
    settings.setValue(QStringLiteral("yoff"), m_pTopBox->value());
    settings.endGroup();
}
