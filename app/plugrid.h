#pragma once
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

class Workbook;
class QToolButton;

// StringGrid1's cells seen by Qt: model row i is table row i + 1 (row 0 is
// the header), model column c is grid column c. Column 0 holds the painted
// key labels M1..M7, U1..U70.
class PluGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit PluGridModel(Workbook& wb, QObject* parent = nullptr);
    int rowCount(const QModelIndex& = {}) const override;
    int columnCount(const QModelIndex& = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void refreshTitles();

    static QString KeyLabel(int row);   // "M1".."M7", "U1".."U70"

private:
    Workbook& Wb;
};

// The title row: MessageTexts titles in navy, centred when they fit the
// cell, otherwise left-aligned and clipped.
class TitleHeader : public QHeaderView {
    Q_OBJECT
public:
    TitleHeader(std::function<QString(int)> title, QWidget* parent);
    // Title cell of column 1 painted: where PriceTitleButton must sit.
    std::function<void(const QRect&)> OnPriceTitlePainted;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    QSize sectionSizeFromContents(int logicalIndex) const override;

private:
    std::function<QString(int)> Title;
};

// The in-place editor: each typed key goes through the workbook's key
// filter; each change of the text reaches the cell at once.
class PluGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    PluGridDelegate(Workbook& wb, QObject* parent);
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    // Key labels: centred when they fit their cell, otherwise left-aligned
    // and clipped, as the titles are; no cell text is shortened with an
    // ellipsis.
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    // A cell's own area: its rectangle in the view less the grid lines at
    // its right and bottom edge.
    static QRect CellRect(const QRect& withLines);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Workbook& Wb;
};

// StringGrid1: moving to another cell first asks the workbook whether the
// current cell may be left; losing the focus runs the exit rule.
class PluGridView : public QTableView {
    Q_OBJECT
public:
    PluGridView(Workbook& wb, QWidget* parent);
    bool LeaveCurrentCell();   // SelectCell for the current cell
    // Before a command reads the table: closes the cell editor and checks a
    // pending price as leaving its cell would. False: refused with the range
    // message, and the operator is back in that cell's editor.
    bool EndEdit();
    void GridExit();           // StringGrid1Exit
    void LeaveGrid(bool forward);   // Tab: the focus moves to the next control
    bool IsEditing() const { return state() == EditingState; }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QWidget* OpenEditor() const;
    Workbook& Wb;
    bool Refusing = false;
};
