#include "progressform.h"
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>

namespace {
QFrame* bevel(QWidget* parent, const QRect& r, QFrame::Shadow shadow)
{
    auto* f = new QFrame(parent);
    f->setFrameStyle(QFrame::Panel | shadow);
    f->setGeometry(r);
    return f;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QPoint& at,
              const QFont& font, const QColor& colour)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    // Fixed boxes: measuring the text here would load the fonts before the
    // dialog is ever shown.
    l->setGeometry(QRect(at, QSize(qMax(8, 305 - at.x()), 23)));
    return l;
}

QFont fontOf(const char* family, int pixels)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixels);
    return f;
}
} // namespace

TProgressForm::TProgressForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("ProgressForm");
    setWindowTitle("Down loading...");
    // A dialog border without title-bar buttons: OK, Cancel and the
    // commands' own close are the only ways out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(326, 210);

    auto* frame = bevel(this, QRect(8, 8, 313, 153), QFrame::Raised);
    frame->setObjectName("Bevel1");
    bevel(this, QRect(24, 24, 281, 25), QFrame::Sunken)->setObjectName("Bevel2");
    bevel(this, QRect(24, 56, 281, 25), QFrame::Sunken)->setObjectName("Bevel3");
    bevel(this, QRect(24, 88, 281, 25), QFrame::Sunken)->setObjectName("Bevel4");

    const QColor navy(0, 0, 128);
    const QFont captionFont = fontOf("Times New Roman", 18);
    Label3D1 = label(this, "Label3D1", "Status:", QPoint(32, 26), captionFont, Qt::black);
    StatusLabel = label(this, "StatusLabel", "StatusLabel", QPoint(88, 28), fontOf("Courier New", 15), navy);
    StatusLabel->setAutoFillBackground(true);
    Label3D2 = label(this, "Label3D2", "Current package:", QPoint(32, 58), captionFont, Qt::black);
    CurLabel = label(this, "CurLabel", "123", QPoint(168, 58), fontOf("Courier New", 20), navy);
    Label3D3 = label(this, "Label3D3", "Total Packages:", QPoint(32, 90), captionFont, Qt::black);
    TotalLabel = label(this, "TotalLabel", "456", QPoint(160, 90), fontOf("Courier New", 20), navy);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(24, 120, 281, 15);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);

    OKBtn = new QPushButton(QIcon(style()->standardPixmap(QStyle::SP_DialogOkButton, nullptr, nullptr)), "&OK", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(58, 172, 75, 28);
    OKBtn->hide();
    CancelBtn = new QPushButton(QIcon(style()->standardPixmap(QStyle::SP_DialogCancelButton, nullptr, nullptr)), "Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(126, 172, 75, 28);
    for (QPushButton* b : {OKBtn, CancelBtn}) {
        b->setFont(fontOf("MS Sans Serif", 13));
        QPalette p = b->palette();
        p.setColor(QPalette::ButtonText, Qt::black);
        b->setPalette(p);
    }
    CauseLabel = new QLabel(this);
    CauseLabel->setObjectName("CauseLabel");
    CauseLabel->setFont(fontOf("MS Sans Serif", 11));
    CauseLabel->setGeometry(24, 137, 281, 23);
    CauseLabel->setWordWrap(true);
    CauseLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    CauseLabel->hide();
    DetailsBtn = new QPushButton("&Details...", this);
    DetailsBtn->setObjectName("DetailsBtn");
    DetailsBtn->setFont(fontOf("MS Sans Serif", 13));
    DetailsBtn->setGeometry(214, 172, 91, 28);
    DetailsBtn->hide();
    connect(DetailsBtn, &QPushButton::clicked, this, &TProgressForm::ShowDetails);
    setTabOrder(OKBtn, CancelBtn);
    connect(OKBtn, &QPushButton::clicked, this, &TProgressForm::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TProgressForm::CancelBtnClick);

    // The design texts are replaced before the dialog is first seen.
    StatusLabel->setText(QString());
    CurLabel->setText("0");
    TotalLabel->setText("0");
    ProgressBar1->setValue(0);
}

void TProgressForm::SetOwnerWindow(QWidget* owner) { Owner = owner; }

void TProgressForm::Show()
{
    if (QScreen* s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
    // Without a transient parent a window manager lets a click on the
    // disabled main window raise it over the dialog, hiding OK and Cancel.
    if (Owner && Owner->window()->windowHandle()) {
        create();
        windowHandle()->setTransientParent(Owner->window()->windowHandle());
    }
    FormShow();
    show();
    raise();
}

void TProgressForm::FormShow()
{
    if (OnMainWindowEnabled)
        OnMainWindowEnabled(false);
    SetTotal(0);
    SetCurrent(0);
    State = 0;
}

void TProgressForm::FormClose()
{
    if (OnMainWindowEnabled)
        OnMainWindowEnabled(true);
}

void TProgressForm::Close()
{
    if (!isVisible())
        return;
    ClosingFromCode = true;
    hide();
    ClosingFromCode = false;
    FormClose();
}

void TProgressForm::SetStatus(const QString& text, bool error)
{
    if (State == 2)
        return;   // the operator has already closed the dialog
    QPalette p = StatusLabel->palette();
    if (error) {
        if (OnBeep)
            OnBeep();
        else
            QApplication::beep();
        p.setColor(QPalette::Window, Qt::red);
        StatusLabel->setPalette(p);
        StatusLabel->setText(text);
        setWindowTitle(text);
        OKBtn->move(CancelBtn->x(), OKBtn->y());
        CancelBtn->hide();
        OKBtn->show();
        OKBtn->setFocus();
        State = 1;
    } else {
        p.setColor(QPalette::Window, palette().color(QPalette::Button));
        StatusLabel->setPalette(p);
        ShowCause({});
        OKBtn->hide();
        CancelBtn->show();
        StatusLabel->setText(text);
        setWindowTitle(text);
        StatusLabel->repaint();   // the command is about to block in a bus wait
        State = 0;
    }
}

void TProgressForm::ShowCause(const QString& cause)
{
    Cause = cause;
    const QRect room = CauseLabel->geometry();
    const QFontMetrics fm(CauseLabel->font());
    const QRect needed = fm.boundingRect(QRect(0, 0, room.width(), 1000), Qt::TextWordWrap, cause);
    const bool fits = needed.height() <= room.height();
    CauseLabel->setText(fits ? cause : fm.elidedText(cause, Qt::ElideRight, room.width()));
    CauseLabel->setVisible(!cause.isEmpty());
    DetailsBtn->setVisible(!cause.isEmpty() && !fits);
}

void TProgressForm::ShowDetails()
{
    QMessageBox box(QMessageBox::Critical, windowTitle(), StatusLabel->text(), QMessageBox::Ok, this);
    box.setInformativeText(Cause);
    box.exec();
}

void TProgressForm::SetTotal(int count)
{
    CurLabel->setText("0");
    if (count > 0) {
        TotalLabel->setText(QString::number(count));
        ProgressBar1->setRange(0, count);
    } else {
        TotalLabel->setText("0");
    }
    ProgressBar1->setValue(0);
}

void TProgressForm::SetCurrent(int number)
{
    CurLabel->setText(QString::number(number));
    ProgressBar1->setValue(number);
}

void TProgressForm::WaitUntilClosed()
{
    // Sleeps until an event arrives; the OK button ends the wait.
    while (State != 2)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TProgressForm::OKBtnClick()
{
    Close();
    State = 2;
}

void TProgressForm::CancelBtnClick()
{
    if (OnCancel)
        OnCancel();
    Close();
    State = 2;
}

void TProgressForm::reject()
{
    if (OKBtn->isVisible())
        OKBtnClick();
    else
        CancelBtnClick();
}

void TProgressForm::closeEvent(QCloseEvent* e)
{
    // No close box; a window-manager close acts like the visible button.
    if (ClosingFromCode) {
        e->accept();
        return;
    }
    e->ignore();
    reject();
}
