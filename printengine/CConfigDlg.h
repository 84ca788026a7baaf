// Printer-and-margin dialog: the printer, the two print offsets and, for
// sales lists, the paper of one layout key, saved in "PrintConfig.ini".
// Emits UpdatePrinter() after a save.
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CConfigDlg : public QDialog {
    Q_OBJECT

public:
    // root: folder of the settings file; empty means the application directory.
    CConfigDlg(const QString &key, QWidget *parent = nullptr, const QString &root = QString());

    QComboBox *PrinterBox() const { return m_pPrinterBox; }
    QComboBox *PaperBox() const { return m_pPaperBox; }
    QLineEdit *HeightEdit() const { return m_pHeightEdit; }
    QSpinBox *LeftBox() const { return m_pLeftBox; }
    QSpinBox *TopBox() const { return m_pTopBox; }

signals:
    void UpdatePrinter();

private slots:
    void ZzlsChanged_Slot(int index);
    void onOkBtnClicked();

private:
    void LoadConfig();
    void FillControls();
    void SaveConfig();
    QString IniPath() const;

    QString m_strKey;
    QLabel *m_pPrinterLabel = nullptr;
    QComboBox *m_pPrinterBox = nullptr;
    QLabel *m_pPaperLabel = nullptr;
    QComboBox *m_pPaperBox = nullptr;
    QLabel *m_pHeightLabel = nullptr;
    QLineEdit *m_pHeightEdit = nullptr;
    QLabel *m_pUnitLabel = nullptr;
    QLabel *m_pLeftLabel = nullptr;
    QSpinBox *m_pLeftBox = nullptr;
    QLabel *m_pTopLabel = nullptr;
    QSpinBox *m_pTopBox = nullptr;
    QLabel *m_pHintLabel = nullptr;
    QPushButton *m_pOkButton = nullptr;
    QPushButton *m_pCancelButton = nullptr;
    QString m_strDefaultPrinter;
    QString m_strPrinterName;
    QString m_strWidth;
    QString m_strHeight;
    QString m_strLeft;
    QString m_strTop;
    QString m_strRoot;
};
