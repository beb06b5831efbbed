#pragma once
// The browser's tree: one root, the record types under it, the records under each type.
// Kept as plain vectors rather than one object per node, and read with one statement
// over all records, so that an archive of a million records loads in little more than
// the time the store takes to read them. A record takes 24 bytes and its name's
// characters; the names of all records share one text.
// Record nodes need not have unique numbers: archives written by the earlier system can
// hold two records made in the same second, and both must be shown.
#include "store/Statements.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <QVector>
#include <functional>

class ArchiveTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role {
        KeyRole = Qt::UserRole + 1, // "main2009", the type's name, or number + "#"
        TagRole,                    // "FileManager", "File", "SFile"
        ImageKeyRole,               // "Open", "Open2", "SClosed2", "File"
        RowIdRole,                  // the record's row in the store (records only)
        NumberRole,                 // the record number (records only)
    };
    enum class Kind { None, Root, Type, Record };

    static const QString kRootText;     // "病案库"
    static const QString kRootKey;      // "main2009"
    static const QString kUnlistedText; // "（未登记类型）"

    explicit ArchiveTreeModel(QObject *parent = nullptr);

    // How the records are read: through the engine's own interface (store/TreeRows.h), or
    // through Qt's driver (store::forEachRecord). Both build the same tree.
    enum class Read { Engine, Qt };
    // Called now and then during a load with the rows read so far; the tree on show
    // stays as it was until the load ends.
    using Checkpoint = std::function<void(qint64 rowsRead)>;

    // The tree load: types and records are read through one connection. A record goes
    // under every type whose name its type name equals, ignoring the case of the letters
    // A to Z as the store does. Records of no listed type (earlier archives hold them, and
    // records without a type) go under one node of their own after the types, which is
    // there only when there are such records. Types come in pinyin order, records in the
    // order stored. Ends with the root alone when the connection fails, with the types and
    // the records read so far when a later read fails; the failure is passed on to the
    // caller in both cases.
    void load(store::Connection &connection, const store::SearchFilter &filter, Read read = Read::Engine,
              const Checkpoint &checkpoint = {});
    void clear(); // the root alone

    // While a search is in force: what is searched for and how many records were found
    // (the root's tool tip says the same); empty otherwise.
    QString searchNote() const { return m_searchNote; }
    // A search through the photos' words says how many records their pages found.
    void appendSearchNote(const QString &more) { m_searchNote += more; }
    int recordCount() const;

    QModelIndex rootIndex() const;
    int typeCount() const { return int(m_types.size()); }
    QModelIndex typeIndex(int row) const; // the node of unlisted types counts as the last
    // True for the node of the records whose type is not listed.
    bool isUnlisted(const QModelIndex &index) const;
    QModelIndex recordIndex(int typeRow, int recordRow) const;

    Kind kind(const QModelIndex &index) const;
    QString text(const QModelIndex &index) const;
    QString number(const QModelIndex &index) const; // empty unless a record
    qint64 rowId(const QModelIndex &index) const;    // 0 unless a record

    // The nodes whose text may be the widest drawn: the root, every type, and the records
    // with the longest names (a few dozen), so that the column fits the tree's widest
    // line without the view measuring every record.
    QModelIndexList widestNodes() const;

    QString rootImage() const { return m_rootImage; }
    void setRootImage(const QString &imageKey);

    static QIcon icon(const QString &imageKey);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;

private:
    void build(store::Connection &connection, const store::SearchFilter &filter, Read read, const Checkpoint &checkpoint);
    struct Record {
        qint64 rowId;
        quint64 number;   // packed, see packNumber
        quint32 nameAt;   // where the name starts in m_text
        quint32 nameSize;
    };
    struct Type {
        QString name;
        QVector<Record> records;
        bool unlisted = false;
    };

    struct Widest {
        int width; // a rough measure, see roughWidth
        int type;  // -1 for the records of no listed type while they are read
        int row;
    };

    const Record &record(const QModelIndex &index) const;
    // A number kept in the record itself, or in text (where the names are) when it is
    // not plain digits.
    static quint64 packNumber(const QString &number, QString &text);
    static quint64 packDigits(QByteArrayView digits); // 0 when they are not 1 to 17 digits
    QString unpackNumber(quint64 packed) const;

    QVector<Type> m_types;
    QString m_text; // every record's name (and any number kept as text), end to end
    QVector<Widest> m_widest;
    QString m_rootImage;
    QString m_searchNote;
};
