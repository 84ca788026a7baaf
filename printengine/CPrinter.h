// Print controller: one object per Print call.
//
// test() reads the layout, then by the Window status shows the preview (0),
// prints at once (1), prints after a hidden one-second delay (2) or shows the
// receipt preview (3). The result is a PrintResultCode: 0 nothing printed,
// 1 cancelled by the user (only when the status is not 0) or a preview that
// cannot be shown for want of a display, 2 printed.
// Everything runs in the caller's thread, which must own the QApplication.
#pragma once

#include <QDialog>
#include <QMarginsF>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

class CLayoutReader;
class QPainter;
class QPrinter;
class QPrintPreviewWidget;
class QTimer;
struct LayoutElement;

enum PrintResultCode {
    PrintNothing = 0,
    PrintCancelled = 1,
    PrintDone = 2,
};

class CPrinter : public QObject {
    Q_OBJECT

public:
    explicit CPrinter(QObject *parent = nullptr);
    ~CPrinter() override;

    int test(const char *layout, int mode);

    // Display paths and printer choice.
    bool CreateDC();
    void ShowPreview();
    void ShowReceiptPreview();
    void DirectPrint();
    void StartTimedPrint();
    bool checkPrinter(bool direct);
    bool IsPrinterReady(bool direct);
    bool PrepareFileOutput();
    QString AskSaveFileName(const QString &title, const QString &filter);
    void SetPaperSize(int id, double widthMm, double heightMm);
    QString PreviewTitle() const;

    // Settings file.
    int ReadIni();
    int WriteDefaultIni();
    void SavePrinterName();
    QString IniPath() const;

    // Page painter; the painter's window is in 0.1 mm.
    void PaintPages(QPainter *painter, bool bIsPrint);
    void DrawTextBox(QPainter *painter, QRectF box, const QString &text, const QString &family,
                     double points, int fontalign, bool shrink, double padLeft, double padTop,
                     double padRight, double padBottom);
    void DrawIconText(QPainter *painter, QRectF box, const QString &text, const QString &family,
                      double points, int fontalign, bool shrink, double padLeft, double padTop,
                      double padRight, double padBottom);
    void DrawBorders(QPainter *painter, QRectF box, int style);
    void DrawLeftBorder(QPainter *painter, QRectF box);
    void DrawTopBorder(QPainter *painter, QRectF box);
    void DrawRightBorder(QPainter *painter, QRectF box);
    void DrawBottomBorder(QPainter *painter, QRectF box);
    void DrawFpmxRows(QPainter *painter);
    double MeasureWrappedText(QPainter *painter, QRectF box, const QString &text,
                              double *pixelSize);
    void DrawOffsetRuler(QPainter *painter);
    static int PointsToTenthMm(double points);

    // Receipt painter (status 3); text boxes keep only their left, top and width.
    void BreakReceiptPage(QPainter *painter, QRectF &textBox, QRectF &rect, bool bIsPrint,
                          bool keepLeft);
    void DrawLabelValue(QPainter *painter, QRectF &textBox, const QString &label,
                        const QString &value, bool bIsPrint);
    int DrawReceiptQr(const QRectF &rect, const QString &text, QPainter *painter);

    QPrinter *m_pPrinter = nullptr;
    QPointer<QDialog> m_pPreviewDlg;
    QPointer<QPrintPreviewWidget> m_pPreviewWidget;
    QMarginsF m_margins;
    QString m_strIconPath;
    QString m_strPrintIcon;
    QString m_strSetIcon;
    QString m_strExplainIcon;
    QString m_strXppyIcon;
    QString m_strBackground;
    QString m_strPrinterName;
    double m_dWidth = 0;
    double m_dHeight = 0;
    double m_dXoff = 0;
    double m_dYoff = 0;
    QString m_strPybs;
    QString m_strKey;
    int m_nStatus = 0;
    int m_nMode = 0;
    CLayoutReader *m_pReader = nullptr;
    int m_nFromPage = 0;
    int m_nToPage = 0;
    QString m_strRoot;
    int m_nResult = PrintNothing;
    QString m_strResult;

public slots:
    void handleTimeout();

private slots:
    void Preview_Slot(bool bIsPrint = false);
    void Preview_Slot_Image(bool bIsPrint = false);
    void Preview_Slot_Xp_Ex(bool bIsPrint = false);
    void Preview_Slot_Xp_Ex_Test(bool bIsPrint = false);
    void MarginSet_Slot();
    void Print_Directly_Slot();
    void Print_Select_Slot();
    void Print_Directly_Slot_xp();
    void Print_Select_Slot_xp();
    int UpdatePrinter_Slot();
    int Explain_Slot();
    void Xppy_Slot();

private:
    QDialog *MakeWindowDialog(bool stayOnTop);
    bool BeginCanvas(QPainter *painter, double widthMm, double heightMm, const char *caller);
    void FinishCanvas(QPainter *painter, bool bIsPrint, const char *caller);
    void ShowPreviewDialog(bool receipt);
    void PrintFromPreview(bool direct, bool receipt);
    QRectF PlaceText(QPainter *painter, QRectF box, const QString &text, const QString &family,
                     double points, int fontalign, bool shrink, double padLeft, double padTop,
                     double padRight, double padBottom);
    void DrawElementText(QPainter *painter, const LayoutElement &e);
    void DrawQrCode(QPainter *painter, const LayoutElement &e);
    void DrawPageImage(QPainter *painter, const LayoutElement &e);
    void DrawBackground(QPainter *painter, const char *failureText);
    int PageCount() const;

    QTimer *m_pTimer = nullptr;
};
