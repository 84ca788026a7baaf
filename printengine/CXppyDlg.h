// Receipt sample dialog: the receipt's paper width, 58 mm (pybs "0") or
// 80 mm (pybs "1"), kept as "xp_qd/pybs" in "PrintConfig.ini". Emits
// UpdatePrinter() after a save; 取消 closes without writing.
#pragma once

#include <QDialog>
#include <QString>

class QButtonGroup;
class QPushButton;
class QRadioButton;

class CXppyDlg : public QDialog {
    Q_OBJECT

public:
    // root: folder of the settings file; empty means the application directory.
    explicit CXppyDlg(QWidget *parent = nullptr, const QString &root = QString());

signals:
    void UpdatePrinter();

private slots:
    void onOkBtnClicked();

private:
    void InitUi();
    void LoadPybs();
    void SelectSample();
    void SavePybs();

    QButtonGroup *m_pGroup = nullptr;
    QRadioButton *m_pNarrowButton = nullptr;
    QRadioButton *m_pWideButton = nullptr;
    QPushButton *m_pOkButton = nullptr;
    QPushButton *m_pCancelButton = nullptr;
    QString m_strRoot;
    QString m_strPybs;
};
