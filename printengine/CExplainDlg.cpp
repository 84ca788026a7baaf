#include "printengine/CExplainDlg.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const char *const kPictureEndings[] = {"tzzq.png", "fptzzq.png", "tzzh.png", "fptzzh.png"};

const char kActiveSheet[] =
    "QPushButton{background-color: rgb(44, 163, 246);border:none;color:rgb(0, 0, 0);}"
    "QPushButton:hover{background-color: rgb(100, 161, 192);border:none;color:rgb(255, 255, 255);}";
const char kInactiveSheet[] =
    "QPushButton{background-color: rgb(227, 227, 227);border:none;color:rgb(120, 120, 120);}";

const int kButtonWidth = 180;
const int kButtonHeight = 40;
const double kLabelShare = 0.65; // of the desktop's available area

void SetActive(QPushButton *button, bool active)
{
    button->setEnabled(active);
    button->setStyleSheet(QString::fromUtf8(active ? kActiveSheet : kInactiveSheet));
}

} // namespace

CExplainDlg::CExplainDlg(const QString &key, QWidget *parent, const QString &root)
    : QDialog(parent)
    , m_strKey(key)
    , m_strRoot(root.isEmpty() ? QCoreApplication::applicationDirPath() : root)
{
    InitUi();
    LoadPictures();
}

void CExplainDlg::InitUi()
{
    setWindowTitle(tr("打印格式边距设置示例"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

    m_pPicLabel = new QLabel(this);
    m_pNextBtn = new QPushButton(tr("下一步"), this);
    m_pPrevBtn = new QPushButton(tr("上一步"), this);
    m_pNextBtn->setFixedSize(kButtonWidth, kButtonHeight);
    m_pPrevBtn->setFixedSize(kButtonWidth, kButtonHeight);
    SetActive(m_pNextBtn, true);
    SetActive(m_pPrevBtn, false);
    connect(m_pNextBtn, &QPushButton::clicked, this, &CExplainDlg::ntPic);
    connect(m_pPrevBtn, &QPushButton::clicked, this, &CExplainDlg::pvPic);

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    m_dLabelWidth = kLabelShare * area.width();
    m_dLabelHeight = kLabelShare * area.height();
    m_pPicLabel->setFixedSize(int(m_dLabelWidth), int(m_dLabelHeight));
    m_pPicLabel->setAlignment(Qt::AlignCenter);

    QHBoxLayout *buttons = new QHBoxLayout;
    buttons->addWidget(m_pPrevBtn);
    buttons->addWidget(m_pNextBtn);
    QVBoxLayout *layout = new QVBoxLayout(this);
    layout->addWidget(m_pPicLabel);
    layout->addLayout(buttons);
}

void CExplainDlg::LoadPictures()
{
    // The ordinary invoice looks like the special one around the margins.
    if (m_strKey.contains(QLatin1String("007")))
        m_strKey = QStringLiteral("004_qd");

    const QString folder = m_strRoot + QStringLiteral("/Images/");
    for (const char *ending : kPictureEndings)
        m_pictures.append(
            QPixmap(QStringLiteral("%1%2").arg(folder, m_strKey) + QLatin1String(ending)));

    m_nIndex = 0;
    m_nCount = m_pictures.size();
    if (m_nCount == 0)
        SetActive(m_pNextBtn, false);
    else
        ShowPicture();
}

void CExplainDlg::ShowPicture()
{
    const QPixmap &picture = m_pictures.at(m_nIndex);
    m_pPicLabel->setPixmap(picture.scaled(int(m_dScale * m_dLabelWidth),
                                          int(m_dScale * m_dLabelHeight), Qt::KeepAspectRatio,
                                          Qt::FastTransformation));
}

void CExplainDlg::ntPic()
{
    // A step past the last picture is never offered; ignore one that slips through.
    if (m_nIndex >= m_nCount - 1)
        return;
    if (m_nIndex == 0)
        SetActive(m_pPrevBtn, true);
    ++m_nIndex;
    if (m_nIndex == m_nCount - 1)
        SetActive(m_pNextBtn, false);
    ShowPicture();
}

void CExplainDlg::pvPic()
{
    if (m_nIndex <= 0)
        return;
    if (m_nIndex == m_nCount - 1)
        SetActive(m_pNextBtn, true);
    --m_nIndex;
    if (m_nIndex == 0)
        SetActive(m_pPrevBtn, false);
    ShowPicture();
}
