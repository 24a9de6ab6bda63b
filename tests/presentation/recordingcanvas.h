#pragma once
#include "printing.h"
#include <QList>
#include <algorithm>
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
        Ops.append({k, text, r, flags, CurrentPage});
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
    bool beginDoc() override { CurrentPage = 1; add(Begin); return !FailBegin; }
    bool newPage() override { ++CurrentPage; add(NewPage); return !FailNewPage; }
    bool endDoc() override { add(End); return true; }
    void setFont(const QFont& f) override { add(Font, f.family()); }
    void setBrushClear() override { add(BrushClear); }
    void fillRect(const TRect& r) override { add(Fill, {}, r); }
    void drawLine(int x1, int y1, int x2, int y2) override { add(Line, {}, {x1, y1, x2, y2}); }
    void drawRectOutline(const TRect& r) override { add(Frame, {}, r); }
    int textWidth(const QString& t) override { return int(t.size()) * CharWidth; }
    int textHeight(const QString&) override { return LineHeight; }
    int measureText(const QString& t, const TRect& r, unsigned flags) override
    {
        add(Measure, t, r, flags);
        const int perLine = qMax(1, r.width() / CharWidth);
        return qMax(1, int((t.size() + perLine - 1) / perLine)) * LineHeight;
    }
    void drawText(const QString& t, const TRect& r, unsigned flags) override
    {
        if (count(Text) == ThrowOnText)
            throw std::runtime_error("canvas failure");
        add(Text, t, r, flags);
    }

    // The ops of one kind; for Text, with `text` only when one is given.
    QList<Op> all(Kind k, const QString& text = {}) const
    {
        QList<Op> out;
        for (const Op& o : Ops)
            if (o.kind == k && (text.isNull() || o.text == text))
                out.append(o);
        return out;
    }
    int count(Kind k) const { return int(all(k).size()); }
    int indexOf(Kind k) const
    {
        const auto at = std::find_if(Ops.begin(), Ops.end(), [k](const Op& o) { return o.kind == k; });
        return at == Ops.end() ? -1 : int(at - Ops.begin());
    }
};
