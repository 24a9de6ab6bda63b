#pragma once
#include "printing.h"
#include <QList>
#include <stdexcept>

// A canvas that records what is drawn, with a fixed-pitch font: every
// character CharWidth wide, every line LineHeight high.
class RecordingCanvas : public PrintCanvas {
public:
    enum Kind { Orientation, Begin, NewPage, End, Font, BrushClear, Fill, Line, Frame, Measure, Text };
    struct Op {
        Kind kind;
        QString text;
        TRect rect;
        unsigned flags = 0;
        int page = 0;
    };

    QSize Page{1000, 600};
    int DpiX = 300, DpiY = 300;
    QPageLayout::Orientation Orient = QPageLayout::Portrait;
    int CharWidth = 10, LineHeight = 20;
    bool FailBegin = false, FailNewPage = false;
    int ThrowOnText = -1;          // throw at this drawText (0-based)
    QList<Op> Ops;
    int CurrentPage = 0;

    void add(Kind k, const QString& text = {}, const TRect& r = {}, unsigned flags = 0)
    {
        Op o;
        o.kind = k;
        o.text = text;
        o.rect = r;
        o.flags = flags;
        o.page = CurrentPage;
        Ops.append(o);
    }

    QSize pageSize() const override { return Page; }
    int dpiX() const override { return DpiX; }
    int dpiY() const override { return DpiY; }
    QPageLayout::Orientation orientation() const override { return Orient; }
    void setOrientation(QPageLayout::Orientation o) override
    {
        Orient = o;
        add(Orientation, o == QPageLayout::Landscape ? "landscape" : "portrait");
    }
    bool beginDoc() override
    {
        CurrentPage = 1;
        add(Begin);
        return !FailBegin;
    }
    bool newPage() override
    {
        ++CurrentPage;
        add(NewPage);
        return !FailNewPage;
    }
    bool endDoc() override
    {
        add(End);
        return true;
    }
    void setFont(const QFont& f) override { add(Font, f.family()); }
    void setBrushClear() override { add(BrushClear); }
    void fillRect(const TRect& r) override { add(Fill, {}, r); }
    void drawLine(int x1, int y1, int x2, int y2) override
    {
        add(Line, {}, {x1, y1, x2, y2});
    }
    void drawRectOutline(const TRect& r) override { add(Frame, {}, r); }
    int textWidth(const QString& t) override { return int(t.size()) * CharWidth; }
    int textHeight(const QString&) override { return LineHeight; }
    int measureText(const QString& t, const TRect& r, unsigned flags) override
    {
        add(Measure, t, r, flags);
        const int perLine = qMax(1, r.width() / CharWidth);
        const int lines = qMax(1, int((t.size() + perLine - 1) / perLine));
        return lines * LineHeight;
    }
    void drawText(const QString& t, const TRect& r, unsigned flags) override
    {
        if (ThrowOnText >= 0 && count(Text) == ThrowOnText)
            throw std::runtime_error("canvas failure");
        add(Text, t, r, flags);
    }

    QList<Op> all(Kind k) const
    {
        QList<Op> out;
        for (const Op& o : Ops)
            if (o.kind == k)
                out.append(o);
        return out;
    }
    int count(Kind k) const { return int(all(k).size()); }
    int indexOf(Kind k) const
    {
        for (int i = 0; i < Ops.size(); ++i)
            if (Ops[i].kind == k)
                return i;
        return -1;
    }
};
