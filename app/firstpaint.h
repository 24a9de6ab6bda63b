#pragma once
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

// Quits the program once `w` has been painted for the first time. The
// window's own paint event comes before its children's; the timer fires
// once the whole window is painted. With VARLO_FIRST_PAINT_FD set, a byte
// on that descriptor tells the start-up benchmark the moment. Header-only:
// the benchmark's bare window uses it too.
class FirstPaintQuit : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !Done) {
            Done = true;
            QTimer::singleShot(0, qApp, [] {
                bool ok = false;
                const int fd = qEnvironmentVariableIntValue("VARLO_FIRST_PAINT_FD", &ok);
                if (ok && write(fd, "p", 1) != 1)
                    std::perror("VARLO_FIRST_PAINT_FD");
                QApplication::quit();
            });
        }
        return QObject::eventFilter(watched, e);
    }

private:
    bool Done = false;
};

inline void quitAfterFirstPaint(QWidget* w) { w->installEventFilter(new FirstPaintQuit(w)); }
