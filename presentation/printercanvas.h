#pragma once
#include "printing.h"
#include <QPainter>

class QPrinter;

// The real printer (or its PDF output).
class PrinterCanvas : public PrintCanvas {
public:
    explicit PrinterCanvas(QPrinter& printer);
    ~PrinterCanvas() override;

    QSize pageSize() const override;
    int dpiX() const override;
    int dpiY() const override;
    QPageLayout::Orientation orientation() const override;
    void setOrientation(QPageLayout::Orientation o) override;
    bool beginDoc() override;
    bool newPage() override;
    bool endDoc() override;
    QString errorDetail() const override;
    void setFont(const QFont& font) override;
    void setBrushClear() override;
    void fillRect(const TRect& r) override;
    void drawLine(int x1, int y1, int x2, int y2) override;
    void drawRectOutline(const TRect& r) override;
    int textWidth(const QString& text) override;
    int textHeight(const QString& text) override;
    int measureText(const QString& text, const TRect& r, unsigned flags) override;
    void drawText(const QString& text, const TRect& r, unsigned flags) override;

private:
    QPrinter& Printer;
    QPainter Painter;
};
