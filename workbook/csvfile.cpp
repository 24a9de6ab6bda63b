#include "csvfile.h"
#include <csv.h>

namespace {

struct Collector {
    QList<CsvRecord> Records;
    CsvRecord Current;
    int Line = 1;   // the line the parser is reading
};

// Line breaks inside a field: CR LF counts once.
int lineBreaks(const QByteArray& field)
{
    int n = 0;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\n')
            ++n;
        else if (field[i] == '\r' && (i + 1 >= field.size() || field[i + 1] != '\n'))
            ++n;
    }
    return n;
}

void onField(void* s, size_t len, void* data)
{
    auto* c = static_cast<Collector*>(data);
    c->Current.Fields.append(QByteArray(static_cast<const char*>(s), qsizetype(len)));
}

void onRecord(int, void* data)
{
    auto* c = static_cast<Collector*>(data);
    int spanned = 0;
    for (const QByteArray& f : std::as_const(c->Current.Fields))
        spanned += lineBreaks(f);
    c->Current.Line = c->Line - spanned;
    c->Records.append(std::move(c->Current));
    c->Current = CsvRecord();
}

// Blanks are data: names are trimmed by their reader, units are kept as
// they stand.
int noSpace(unsigned char) { return 0; }

} // namespace

QList<CsvRecord> ParseCsv(const QByteArray& data, char separator)
{
    csv_parser p;
    if (csv_init(&p, 0) != 0)
        return {};
    csv_set_delim(&p, static_cast<unsigned char>(separator));
    csv_set_space_func(&p, noSpace);
    Collector c;
    // Fed one physical line at a time, so that a record's end is seen while
    // its last line is being read; a lone CR, a lone LF and CR LF each end one.
    qsizetype pos = 0;
    while (pos < data.size()) {
        qsizetype end = pos;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        bool lineEnds = end < data.size();
        if (lineEnds)
            end += (data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n') ? 2 : 1;
        if (csv_parse(&p, data.constData() + pos, size_t(end - pos), onField, onRecord, &c)
            != size_t(end - pos)) {
            break;   // out of memory: what was read so far stands
        }
        if (lineEnds)
            ++c.Line;
        pos = end;
    }
    csv_fini(&p, onField, onRecord, &c);
    csv_free(&p);
    return c.Records;
}

QByteArray CsvLine(const QList<QByteArray>& fields, char separator)
{
    QByteArray line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QByteArray& f = fields[i];
        if (i > 0)
            line += separator;
        const bool quote = f.contains(separator) || f.contains('"') || f.contains('\r') || f.contains('\n')
            || (!f.isEmpty() && (f.front() == ' ' || f.back() == ' ' || f.front() == '\t' || f.back() == '\t'));
        if (!quote) {
            line += f;
            continue;
        }
        line += '"';
        line += QByteArray(f).replace("\"", "\"\"");
        line += '"';
    }
    return line + "\r\n";
}
