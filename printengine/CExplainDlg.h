// Margin explanation wizard: four example pictures of one layout key, shown
// one after the other with 上一步 and 下一步. It only shows pictures and
// changes no setting.
//
// The pictures are Images/<key>tzzq.png, <key>fptzzq.png, <key>tzzh.png and
// <key>fptzzh.png below the application directory; a key containing "007"
// uses those of "004_qd". A missing file leaves an empty label at its step.
#pragma once

#include <QDialog>
#include <QList>
#include <QPixmap>
#include <QString>

class QLabel;
class QPushButton;

class CExplainDlg : public QDialog {
    Q_OBJECT

public:
    // root: folder holding Images/; empty means the application directory.
    CExplainDlg(const QString &key, QWidget *parent = nullptr, const QString &root = QString());

    QString Key() const { return m_strKey; }
    QLabel *PictureLabel() const { return m_pPicLabel; }
    QPushButton *NextButton() const { return m_pNextBtn; }
    QPushButton *PreviousButton() const { return m_pPrevBtn; }
    const QList<QPixmap> &Pictures() const { return m_pictures; }
    int CurrentIndex() const { return m_nIndex; }

private slots:
    void ntPic();
    void pvPic();

private:
    void InitUi();
    void LoadPictures();
    void ShowPicture();

    QString m_strKey;
    QLabel *m_pPicLabel = nullptr;
    QPushButton *m_pNextBtn = nullptr;
    QPushButton *m_pPrevBtn = nullptr;
    QList<QPixmap> m_pictures;
    int m_nIndex = 0;
    int m_nCount = 0;
    double m_dLabelWidth = 0;
    double m_dLabelHeight = 0;
    double m_dScale = 1.0;
    QString m_strRoot;
};
