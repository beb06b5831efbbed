#pragma once
// The browser's tree: one root, the record types under it, the records under each type.
// Kept as plain vectors rather than one object per node, so that an archive of a hundred
// thousand records loads in little more than the time the store takes to read them.
// Record nodes need not have unique numbers: archives written by the earlier system can
// hold two records made in the same second, and both must be shown.
#include "store/Statements.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <QVector>

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

    static const QString kRootText; // "病案库"
    static const QString kRootKey;  // "main2009"

    explicit ArchiveTreeModel(QObject *parent = nullptr);

    // The tree load: types and records are read through one connection. Ends with the
    // root alone when the connection fails, with the types read so far when a later read
    // fails; the failure is passed on to the caller in both cases.
    void load(store::Connection &connection, const store::SearchFilter &filter);
    void clear(); // the root alone

    QModelIndex rootIndex() const;
    int typeCount() const { return int(m_types.size()); }
    QModelIndex typeIndex(int row) const;
    QModelIndex recordIndex(int typeRow, int recordRow) const;

    Kind kind(const QModelIndex &index) const;
    QString text(const QModelIndex &index) const;
    QString number(const QModelIndex &index) const; // empty unless a record
    qint64 rowId(const QModelIndex &index) const;    // 0 unless a record

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
    struct Record {
        qint64 rowId;
        QString number;
        QString name;
    };
    struct Type {
        QString name;
        QVector<Record> records;
    };

    void sortTypes();

    QVector<Type> m_types;
    QString m_rootImage;
};
