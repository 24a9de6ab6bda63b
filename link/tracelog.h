#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// Where a bus engine's traffic trace goes. Each engine has its own.
class ITraceSink {
public:
    virtual ~ITraceSink() = default;
    // The link opened: a new trace starts.
    virtual void Begin() = 0;
    virtual void Add(const QString& line) = 0;
    // The link closed: the trace is kept (may throw EInOutError).
    virtual void End() = 0;
};

// The trace in memory, its newest MaxLines lines, written as CRLF lines to
// a file (DEBUG.LOG in the program directory unless told otherwise) when
// the link closes. The file then opens with a line that says how many
// lines went.
class TraceLog : public ITraceSink {
public:
    explicit TraceLog(std::function<QString()> fileName = {});

    static constexpr int MaxLines = 65536;

    void Begin() override;
    void Add(const QString& line) override;
    void End() override;

    const QStringList& Lines() const { return Kept; }
    int64_t LinesDropped() const { return Dropped; }
    void Clear();

private:
    // Cuts in steps of an eighth by default, so that trimming costs little per line.
    void Trim(int slack = MaxLines / 8);

    std::function<QString()> FileName;
    QStringList Kept;
    int64_t Dropped = 0;
};
