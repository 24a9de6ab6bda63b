#include "tablehistory.h"
#include "workbook.h"

class TableStep : public QUndoCommand {
public:
    TableStep(TableHistory& h, TableSnapshot before, TableSnapshot after, const QString& label)
        : QUndoCommand(label), History(h), Before(std::move(before)), After(std::move(after)) {}
    void undo() override { History.restore(Before); }
    void redo() override
    {
        if (Done)   // the first redo is the push: the change is already made
            History.restore(After);
        Done = true;
    }

private:
    TableHistory& History;
    TableSnapshot Before, After;
    bool Done = false;
};

TableHistory::TableHistory(Workbook& wb, QObject* parent) : QObject(parent), Wb(wb)
{
    Base = CaptureTable(Wb);
    connect(&Wb.Table, &PluTable::cellChanged, this, [this] {
        if (!Restoring && !Pending) {
            Pending = true;
            emit changed();
        }
    });
    connect(&Stack, &QUndoStack::cleanChanged, this, [this](bool clean) { Wb.Modified = !clean; });
    connect(&Stack, &QUndoStack::indexChanged, this, &TableHistory::changed);
}

TableHistory::~TableHistory()
{
    // The stack clears itself on the way out; its owner is already going.
    Stack.blockSignals(true);
    blockSignals(true);
}

void TableHistory::Commit(const QString& label)
{
    const bool wasModified = Wb.Modified;
    TableSnapshot now = CaptureTable(Wb);
    const bool differs = !(now == Base);
    Pending = false;
    if (differs) {
        auto* step = new TableStep(*this, Base, now, label);
        Base = std::move(now);
        Stack.push(step);
    }
    // A command that left the flag false (New, a price mode) keeps it so;
    // undoing back to the saved state clears it again.
    if (!wasModified)
        Wb.Modified = false;
    emit changed();
}

void TableHistory::Saved()
{
    Commit(tr("Edit"));
    Stack.setClean();
    Wb.Modified = false;
}

void TableHistory::Clear()
{
    Stack.clear();
    Base = CaptureTable(Wb);
    Pending = false;
    Stack.setClean();
    Wb.Modified = false;
    emit changed();
}

void TableHistory::Undo()
{
    Commit(tr("Edit"));
    Stack.undo();
}

void TableHistory::Redo()
{
    Commit(tr("Edit"));
    Stack.redo();
}

QString TableHistory::UndoText() const { return Pending ? tr("Edit") : Stack.undoText(); }
QString TableHistory::RedoText() const { return Pending ? QString() : Stack.redoText(); }

void TableHistory::restore(const TableSnapshot& s)
{
    Restoring = true;
    try {
        RestoreTable(Wb, s);
    } catch (...) {
        Restoring = false;
        throw;
    }
    Restoring = false;
    Base = s;
    Pending = false;
}
