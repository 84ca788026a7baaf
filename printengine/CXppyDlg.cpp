#include "printengine/CXppyDlg.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDebug>
#include <QGridLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

namespace {

const char kGroup[] = "xp_qd";
const int kNarrowId = 0;
const int kWideId = 1;

} // namespace

CXppyDlg::CXppyDlg(QWidget *parent, const QString &root)
    : QDialog(parent)
    , m_strRoot(root)
{
    setWindowTitle(QStringLiteral("小票票样选择"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    InitUi();
    SelectSample();
}

void CXppyDlg::InitUi()
{
    resize(300, 200);
    if (m_strRoot.isEmpty())
        m_strRoot = QCoreApplication::applicationDirPath();

    QGridLayout *grid = new QGridLayout(this);
    m_pGroup = new QButtonGroup(this);
    m_pGroup->setExclusive(true);
    m_pNarrowButton = new QRadioButton(QStringLiteral("小票宽度58mm"), this);
    m_pWideButton = new QRadioButton(QStringLiteral("小票宽度80mm"), this);
    m_pGroup->addButton(m_pNarrowButton, kNarrowId);
    m_pGroup->addButton(m_pWideButton, kWideId);
    grid->addWidget(m_pNarrowButton, 0, 0);
    grid->addWidget(m_pWideButton, 0, 1);
    grid->setRowMinimumHeight(1, 10);

    m_pOkButton = new QPushButton(QStringLiteral("确定"), this);
    m_pCancelButton = new QPushButton(QStringLiteral("取消"), this);
    grid->addWidget(m_pOkButton, 2, 0);
    grid->addWidget(m_pCancelButton, 2, 1);
    connect(m_pOkButton, &QPushButton::clicked, this, &CXppyDlg::onOkBtnClicked);
    connect(m_pCancelButton, &QPushButton::clicked, this, &QDialog::close);
}

void CXppyDlg::LoadPybs()
{
    QSettings settings(m_strRoot + QStringLiteral("/PrintConfig.ini"), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    const QString group = QString::fromLatin1(kGroup);
    if (settings.childGroups().contains(group))
        m_strPybs = settings.value(group + QStringLiteral("/pybs")).toString();
    else
        m_strPybs = QStringLiteral("0");
}

void CXppyDlg::SelectSample()
{
    LoadPybs();
    (m_strPybs == QLatin1String("1") ? m_pWideButton : m_pNarrowButton)->setChecked(true);
}

void CXppyDlg::SavePybs()
{
    QSettings settings(m_strRoot + QStringLiteral("/PrintConfig.ini"), QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.setValue(QString::fromLatin1(kGroup) + QStringLiteral("/pybs"),
                      QString::number(m_pGroup->checkedId()));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "CXppyDlg" << "SavePybs" << __LINE__ << "cannot write"
                   << settings.fileName();
}

void CXppyDlg::onOkBtnClicked()
{
    SavePybs();
    emit UpdatePrinter();
    close();
}
