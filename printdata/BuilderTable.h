// Which layout builder serves a print type and kind text.
//
// Rows are tried from top to bottom; a row matches when the print type is its
// own and the kind text contains one of its substrings (ignoring case), or when
// the row lists none. The first matching row wins.
#ifndef PLENWICK_PRINTDATA_BUILDERTABLE_H
#define PLENWICK_PRINTDATA_BUILDERTABLE_H

#include <QString>

#include <cstddef>

struct BuilderRow {
    int printType;
    const char* kinds[2]; // null entries are unused; both null: any kind
    const char* name;     // the builder's class, for the log
    QString (*run)(const QString& request);
};

// Creates the builder on the stack, runs the job and destroys it as its own class.
template <class Builder>
QString RunBuilder(const QString& request)
{
    Builder builder;
    return builder.Run(request);
}

const BuilderRow* ChooseBuilder(const BuilderRow* rows, std::size_t count, int printType, const QString& kind);
// From the library's own table.
const BuilderRow* ChooseBuilder(int printType, const QString& kind);

#endif
