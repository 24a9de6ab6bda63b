#pragma once
#include "tablesnapshot.h"
#include <QObject>
#include <QUndoStack>

class Workbook;

// Undo and redo of every change to the table. Each step keeps the whole
// table before and after (77 rows: cheap, and exact whatever made the
// change); a step is taken where a change is complete: a cell left, a
// command done. The Modified flag follows the stack's clean state, so it
// returns to false when the table is back where it was saved.
class TableHistory : public QObject {
    Q_OBJECT
public:
    explicit TableHistory(Workbook& wb, QObject* parent = nullptr);
    ~TableHistory() override;

    // What changed since the last step becomes one step named `label`.
    void Commit(const QString& label);
    // A file was opened: no step leads back from it.
    void Clear();
    // The table was saved: the state to which the Modified flag returns.
    void Saved();
    bool CanUndo() const { return Pending || Stack.canUndo(); }
    bool CanRedo() const { return !Pending && Stack.canRedo(); }
    // An edit not yet taken is taken first, and undone first. A price mode
    // that cannot be saved throws EIniError; the table stays as it was.
    void Undo();
    void Redo();
    QString UndoText() const;
    QString RedoText() const;

    QUndoStack Stack;

signals:
    void changed();   // what Undo and Redo can do may have changed

private:
    friend class TableStep;
    void restore(const TableSnapshot& s);
    Workbook& Wb;
    TableSnapshot Base;   // the table as the last step left it
    bool Pending = false;
    bool Restoring = false;
};
