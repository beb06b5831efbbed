#pragma once
// Reads a Jet file through the helper casearchive-jet (src/jet/JetHelperMain.cpp), never in
// this process: the helper runs the reader library under limits of memory and processor
// time, and is ended when it stops writing for too long or writes more than the file can
// hold. Whatever it says is checked before it is believed. A helper that crashes, hangs or
// talks nonsense ends the read with a JetError that names the table it was reading.
#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

namespace jet {

struct JetError {
    QString message; // for the operator, naming the table where there was one
};

struct JetLimits {
    qint64 memoryBytes = 1ll << 30; // address space of the helper
    int cpuSeconds = 0;             // 0: from the file's size
    int stallMs = 60000;            // the longest the helper may go without writing
};

struct JetColumn {
    int type = 0;    // the reader library's column type
    int size = 0;
    QByteArray name; // as the helper read it: code page bytes (Jet 3), UTF-8 (Jet 4)
    bool holdsText() const;
    QString typeName() const; // "文本", "备注", "长整型", ...
};

struct JetTable {
    int index = 0;       // in the file's catalog
    quint32 flags = 0;
    bool readable = true; // its definition could be read
    qint64 statedRows = 0; // as its definition states them: a file cut short holds fewer
    QByteArray name;     // as the helper read it
    QVector<JetColumn> columns;
    bool systemTable() const { return (flags & 0x80000002u) != 0; }
};

struct JetListing {
    int version = 3;  // 3 or 4
    int codePage = 0; // recorded in the file; 0 when none
    QVector<JetTable> tables;
};

struct JetCell {
    enum Kind { Null, Raw, Formatted, Omitted };
    Kind kind = Null;
    QByteArray bytes; // Raw: as stored; Formatted: the library's text
};

class JetReader {
public:
    // file: a regular file the caller has checked (a private copy, for the import).
    explicit JetReader(const QString &file, const JetLimits &limits = JetLimits());

    JetListing list();
    // The rows of the table in the order stored, the first `limit` only when it is 0 or more;
    // visit returns false to stop early. Returns the rows read.
    qint64 readRows(const JetTable &table, const QString &tableName,
                    const std::function<bool(const QVector<JetCell> &)> &visit, qint64 limit = -1);

    // The helper's path: beside the program, unless a test names another.
    static QString helperProgram();
    static void setHelperForTests(const QString &program);

private:
    QString m_file;
    JetLimits m_limits;
};

} // namespace jet
