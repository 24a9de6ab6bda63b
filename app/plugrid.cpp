#include "plugrid.h"
#include "codepage.h"
#include "messagetexts.h"
#include "varlostyle.h"
#include "workbook.h"
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>

namespace {
const QColor Navy(0, 0, 128);

// A key that carries a printable character. Delete comes with the text
// 0x7F on X11 and must stay an editing key, like Backspace; a Ctrl or Alt
// combination is a command (Ctrl+V pastes) even where it carries a letter.
bool isCharacterKey(const QKeyEvent* e)
{
    const QString text = e->text();
    return !text.isEmpty() && text.at(0).unicode() >= 32 && text.at(0).unicode() != 0x7F &&
           e->key() != Qt::Key_Delete && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

int gridRow(const QModelIndex& index) { return index.row() + 1; }

// Width of a cell's text. Shaping a string is the dearest step of painting
// a cell; printable ASCII in the grid's face needs none, its width is the
// sum of its characters' advances.
int cellTextWidth(const QFontMetrics& fm, const QString& text)
{
    int width = 0;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return fm.horizontalAdvance(text);
        width += fm.horizontalAdvance(c);
    }
    return width;
}
} // namespace

// ---------------------------------------------------------------- model

PluGridModel::PluGridModel(Workbook& wb, QObject* parent) : QAbstractTableModel(parent), Wb(wb)
{
    connect(&Wb.Table, &PluTable::cellChanged, this, [this](int row, int col) {
        if (row >= 1 && row <= PluCount && col >= 0 && col < PluColumns) {
            const QModelIndex i = index(row - 1, col);
            emit dataChanged(i, i);
        }
    });
}

int PluGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : PluCount; }
int PluGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : PluColumns; }

QString PluGridModel::KeyLabel(int row) { return QString::fromLatin1(PluKeyLabel(row)); }

QVariant PluGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = gridRow(index);
    const int col = index.column();
    if (col == colNumber) {
        switch (role) {
        case Qt::DisplayRole: return KeyLabel(row);
        case Qt::ForegroundRole: return Navy;
        case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
        case Qt::BackgroundRole: return QApplication::palette().button();   // a fixed cell
        default: return {};
        }
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return cp::decode(Wb.Table.cell(col, row));
    return {};
}

bool PluGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.column() == colNumber)
        return false;
    const int row = gridRow(index);
    const QString text = value.toString();
    // Keep the stored bytes when the operator did not change the text, so a
    // name that does not decode in this code page survives an edit session.
    if (cp::decode(Wb.Table.cell(index.column(), row)) == text)
        return true;
    Wb.Table.setCell(index.column(), row, cp::encode(text));
    return true;
}

Qt::ItemFlags PluGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.column() == colNumber)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

QVariant PluGridModel::headerData(int section, Qt::Orientation o, int role) const
{
    // TitleHeader paints the titles itself; giving the text here as well
    // would only make the header measure it.
    if (o == Qt::Horizontal && (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole))
        return MessageTexts[section];
    if (role == Qt::DisplayRole)
        return QVariant();
    return QAbstractTableModel::headerData(section, o, role);
}

void PluGridModel::refreshTitles() { emit headerDataChanged(Qt::Horizontal, 0, PluColumns - 1); }

// ---------------------------------------------------------------- header

TitleHeader::TitleHeader(std::function<QString(int)> title, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), Title(std::move(title))
{
    setSectionsClickable(false);
    setHighlightSections(false);
}

void TitleHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (!rect.isValid())
        return;
    painter->save();
    // A fixed cell like the key labels': the button face with a light top
    // and left edge and a dark bottom and right edge, drawn as filled
    // rectangles (lines along a whole title row would be handed to Qt's
    // painting threads, see VarloStyle).
    const QPalette& pal = palette();
    painter->fillRect(rect, pal.button());
    VarloStyle::FillEdges(painter, rect, pal.color(QPalette::Light), pal.color(QPalette::Mid));

    const QString text = Title(logicalIndex);
    const bool fits = fontMetrics().horizontalAdvance(text) <= rect.width();
    const int flags = Qt::TextSingleLine | Qt::AlignVCenter | (fits ? Qt::AlignHCenter : Qt::AlignLeft);
    painter->setClipRect(rect);
    painter->setPen(Navy);
    painter->drawText(rect, flags, text);
    painter->restore();

    if (logicalIndex == colPrice && OnPriceTitlePainted)
        OnPriceTitlePainted(rect);
}

// The row height and the column widths are fixed by the window, so the
// titles never size their sections; asking the style would measure every
// title in a bold face that is never painted, at the cost of loading it.
QSize TitleHeader::sectionSizeFromContents(int logicalIndex) const
{
    return QSize(sectionSize(logicalIndex), height());
}

// ---------------------------------------------------------------- editor

PluGridDelegate::PluGridDelegate(Workbook& wb, QObject* parent) : QStyledItemDelegate(parent), Wb(wb) {}

QWidget* PluGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                       const QModelIndex& index) const
{
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->installEventFilter(const_cast<PluGridDelegate*>(this));
    const QPersistentModelIndex at(index);
    connect(editor, &QLineEdit::textEdited, this, [this, at](const QString& text) {
        if (!at.isValid())
            return;
        auto* model = const_cast<QAbstractItemModel*>(at.model());
        model->setData(at, text, Qt::EditRole);
        Wb.SetEditText(at.column(), at.row() + 1, Wb.Table.cell(at.column(), at.row() + 1));
    });
    return editor;
}

void PluGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* le = static_cast<QLineEdit*>(editor);
    const QString text = index.data(Qt::EditRole).toString();
    if (le->property("varloFilled").toBool()) {
        // The cell follows the editor key by key; only a change made by
        // someone else (a re-format) is taken over.
        if (le->text() != text)
            le->setText(text);
        return;
    }
    le->setProperty("varloFilled", true);
    Wb.GetEditText(index.column(), gridRow(index));
    le->setText(text);
    le->selectAll();
}

void PluGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The cells hold one line of plain text each: paint it directly rather
    // than through the style's item painting, which lays every cell out for
    // icons, check boxes and eliding the grid never shows. The grid lines
    // are the cell's right and bottom pixel, filled here: the view's own
    // lines run the height of the grid a pixel at a time.
    const QWidget* view = option.widget;
    const QStyle* style = view ? view->style() : QApplication::style();
    const QStyle::State state = option.state;
    const QPalette::ColorGroup group = !(state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (state & QStyle::State_Active) ? QPalette::Active
                                                                        : QPalette::Inactive;
    const QRect cell = CellRect(option.rect);
    const bool label = index.column() == colNumber;
    const bool selected = !label && (state & QStyle::State_Selected);
    if (label)
        painter->fillRect(cell, option.palette.brush(group, QPalette::Button));
    else if (selected)
        painter->fillRect(cell, option.palette.brush(group, QPalette::Highlight));
    const QColor line = QColor::fromRgba(
        static_cast<QRgb>(style->styleHint(QStyle::SH_Table_GridLineColor, &option, view)));
    painter->fillRect(QRect(option.rect.right(), option.rect.top(), 1, option.rect.height()), line);
    painter->fillRect(QRect(option.rect.left(), option.rect.bottom(), option.rect.width() - 1, 1), line);

    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty()) {
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const QRect area = cell.adjusted(margin, 0, -margin, 0);
        const QFontMetrics& fm = option.fontMetrics;
        const int width = cellTextWidth(fm, text);
        const bool fits = width <= area.width();
        // Key labels are centred when they fit; everything that does not fit
        // is left-aligned and clipped at the cell's edge, never shortened.
        const int x = label && fits ? area.left() + (area.width() - width) / 2 : area.left();
        const int baseline = area.top() + (area.height() - fm.height() + 1) / 2 + fm.ascent();
        painter->save();
        if (!fits)
            painter->setClipRect(area, Qt::IntersectClip);
        painter->setFont(option.font);
        painter->setPen(label      ? Navy
                        : selected ? option.palette.color(group, QPalette::HighlightedText)
                                   : option.palette.color(group, QPalette::Text));
        painter->drawText(QPoint(x, baseline), text);
        painter->restore();
    }

    if ((state & QStyle::State_HasFocus) && !label) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = cell;
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, view);
    }
}

QRect PluGridDelegate::CellRect(const QRect& withLines) { return withLines.adjusted(0, 0, -1, -1); }

void PluGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                           const QModelIndex&) const
{
    editor->setGeometry(CellRect(option.rect));   // inside the grid lines
}

void PluGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    model->setData(index, static_cast<QLineEdit*>(editor)->text(), Qt::EditRole);
}

bool PluGridDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* le = qobject_cast<QLineEdit*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        auto* view = qobject_cast<PluGridView*>(le && le->parentWidget() ? le->parentWidget()->parentWidget() : nullptr);
        if (le && view && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)) {
            // Tab leaves the grid rather than moving to the next cell.
            emit commitData(le);
            emit closeEditor(le, QAbstractItemDelegate::NoHint);
            view->LeaveGrid(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        if (le && isCharacterKey(key)) {
            if (view) {
                const QModelIndex cur = view->currentIndex();
                const int row = gridRow(cur);
                if (!Wb.KeyPress(cur.column(), row, text.at(0), Wb.Table.cell(cur.column(), row),
                                 le->hasSelectedText()))
                    return true;   // dropped without a sound
            }
        }
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

// ---------------------------------------------------------------- view

PluGridView::PluGridView(Workbook& wb, QWidget* parent) : QTableView(parent), Wb(wb)
{
    setTabKeyNavigation(false);   // Tab leaves the grid
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(false);   // PluGridDelegate paints the lines
    setItemDelegate(new PluGridDelegate(wb, this));
}

bool PluGridView::LeaveCurrentCell()
{
    const QModelIndex cur = currentIndex();
    if (!cur.isValid() || Refusing)
        return true;
    // The cell already holds what the editor shows; close the editor so the
    // re-formatted text is not overwritten by a late commit.
    QWidget* editor = state() == EditingState ? QApplication::focusWidget() : nullptr;
    const bool wasEditing = editor && qobject_cast<QLineEdit*>(editor) && editor->parentWidget() == viewport();
    if (wasEditing)
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    Refusing = true;
    const bool ok = Wb.SelectCell(cur.column(), gridRow(cur));
    Refusing = false;
    if (!ok) {
        setFocus();
        if (wasEditing)
            edit(cur);   // the operator goes on where the editor was
    }
    return ok;
}

QWidget* PluGridView::OpenEditor() const
{
    // A closed editor is hidden at once and deleted later.
    for (auto* editor : viewport()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        if (editor->isVisible())
            return editor;
    return nullptr;
}

bool PluGridView::EndEdit()
{
    if (QWidget* editor = OpenEditor()) {
        // The cell already follows the editor; the commit only catches up
        // with a change that reached no text signal.
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    const int row = Wb.PendingPriceRow();
    if (Wb.EndEdit())
        return true;
    const QModelIndex cell = model()->index(row - 1, colPrice);
    if (currentIndex() != cell)
        selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
    setFocus();
    edit(cell);   // the operator goes on where the price was refused
    return false;
}

void PluGridView::GridExit()
{
    const QModelIndex cur = currentIndex();
    if (cur.isValid())
        Wb.ExitGrid(cur.column(), gridRow(cur));
}

QModelIndex PluGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex cur = currentIndex();
    QModelIndex target = QTableView::moveCursor(action, modifiers);
    if (target.isValid() && target.column() == colNumber)
        target = model()->index(target.row(), colPrice);   // the label column is fixed
    if (cur.isValid() && target.isValid() && target != cur && !LeaveCurrentCell())
        return cur;
    return target;
}

void PluGridView::LeaveGrid(bool forward)
{
    setFocus();
    focusNextPrevChild(forward);
}

void PluGridView::mouseMoveEvent(QMouseEvent* e)
{
    // Dragging a selection must not move the current cell past the checks
    // of a cell move.
    const QModelIndex before = currentIndex();
    QTableView::mouseMoveEvent(e);
    if (before.isValid() && currentIndex() != before)
        selectionModel()->setCurrentIndex(before, QItemSelectionModel::NoUpdate);
}

void PluGridView::mousePressEvent(QMouseEvent* e)
{
    const QModelIndex target = indexAt(e->position().toPoint());
    if (target.isValid() && target.column() == colNumber)
        return;
    if (target.isValid() && currentIndex().isValid() && target != currentIndex() && !LeaveCurrentCell())
        return;
    QTableView::mousePressEvent(e);
}

void PluGridView::keyPressEvent(QKeyEvent* e)
{
    const QString text = e->text();
    const QModelIndex cur = currentIndex();
    if (state() != EditingState && e->key() == Qt::Key_Delete) {
        e->accept();   // Delete edits inside a cell; it does not empty a closed one
        return;
    }
    if (state() != EditingState && cur.isValid() &&
        (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // As in any string grid, Enter opens the editor on the current cell
        // (and, inside the editor, closes it again).
        edit(cur);
        e->accept();
        return;
    }
    if (state() != EditingState && cur.isValid() && isCharacterKey(e) &&
        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        // The first key opens the editor with the whole text selected, then
        // goes through the key filter like every other key.
        const int row = gridRow(cur);
        if (!Wb.KeyPress(cur.column(), row, text.at(0), Wb.Table.cell(cur.column(), row), true)) {
            edit(cur);
            e->accept();
            return;
        }
    }
    QTableView::keyPressEvent(e);
}
