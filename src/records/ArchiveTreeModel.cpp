#include "records/ArchiveTreeModel.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <algorithm>
#include <functional>
#include <numeric>

// Where a node sits is told by its internal id: the root's children and grandchildren
// need no node objects of their own.
namespace {
constexpr quintptr kRootId = 0;     // the root itself
constexpr quintptr kTypeId = 1;     // a type node (its row is its place among the types)
constexpr quintptr kRecordBase = 2; // a record node: kRecordBase + the row of its type

// Undoes the reset bracket even when the store fails half-way through a load.
struct ResetGuard {
    std::function<void()> end;
    ~ResetGuard() { end(); }
};
} // namespace

const QString ArchiveTreeModel::kRootText = QStringLiteral("病案库");
const QString ArchiveTreeModel::kRootKey = QStringLiteral("main2009");

ArchiveTreeModel::ArchiveTreeModel(QObject *parent)
    : QAbstractItemModel(parent), m_rootImage(QStringLiteral("Open"))
{
}

QIcon ArchiveTreeModel::icon(const QString &imageKey)
{
    // Loaded once for the whole run; every node shares these four.
    static const QHash<QString, QIcon> icons = [] {
        QHash<QString, QIcon> h;
        h.insert(QStringLiteral("File"), QIcon(QStringLiteral(":/icons/tree/file.svg")));
        h.insert(QStringLiteral("Open"), QIcon(QStringLiteral(":/icons/tree/open.svg")));
        h.insert(QStringLiteral("Open2"), QIcon(QStringLiteral(":/icons/tree/open2.svg")));
        h.insert(QStringLiteral("SClosed2"), QIcon(QStringLiteral(":/icons/tree/sclosed2.svg")));
        return h;
    }();
    return icons.value(imageKey);
}

void ArchiveTreeModel::clear()
{
    beginResetModel();
    m_types.clear();
    m_rootImage = QStringLiteral("Open");
    endResetModel();
}

void ArchiveTreeModel::load(store::Connection &connection, const store::SearchFilter &filter)
{
    beginResetModel();
    ResetGuard guard{[this] { endResetModel(); }};
    m_types.clear();
    m_rootImage = QStringLiteral("Open");

    const QStringList names = store::readTypes(connection);
    m_types.reserve(names.size());
    for (const QString &name : names) {
        m_types.push_back(Type{name, {}});
        QVector<Record> &records = m_types.back().records;
        store::forEachRecordOfType(connection, name, filter, [&records](const store::RecordHead &h) {
            records.push_back(Record{h.rowId, h.number, h.name});
        });
    }
    sortTypes();
}

void ArchiveTreeModel::sortTypes()
{
    // The order a Chinese reader expects: by pinyin, as the locale's collation gives it.
    // One sort key per type, so the sort itself compares prepared keys only.
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    std::vector<QCollatorSortKey> keys;
    keys.reserve(m_types.size());
    for (const Type &t : std::as_const(m_types))
        keys.push_back(collator.sortKey(t.name));
    std::vector<int> order(m_types.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    QVector<Type> sorted;
    sorted.reserve(m_types.size());
    for (int i : order)
        sorted.push_back(std::move(m_types[i]));
    m_types = std::move(sorted);
}

void ArchiveTreeModel::setRootImage(const QString &imageKey)
{
    if (m_rootImage == imageKey)
        return;
    m_rootImage = imageKey;
    const QModelIndex root = rootIndex();
    emit dataChanged(root, root, {Qt::DecorationRole, ImageKeyRole});
}

QModelIndex ArchiveTreeModel::rootIndex() const { return createIndex(0, 0, kRootId); }

QModelIndex ArchiveTreeModel::typeIndex(int row) const
{
    if (row < 0 || row >= m_types.size())
        return {};
    return createIndex(row, 0, kTypeId);
}

QModelIndex ArchiveTreeModel::recordIndex(int typeRow, int recordRow) const
{
    if (typeRow < 0 || typeRow >= m_types.size() || recordRow < 0
        || recordRow >= m_types[typeRow].records.size())
        return {};
    return createIndex(recordRow, 0, kRecordBase + quintptr(typeRow));
}

ArchiveTreeModel::Kind ArchiveTreeModel::kind(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return Kind::None;
    switch (index.internalId()) {
    case kRootId:
        return Kind::Root;
    case kTypeId:
        return Kind::Type;
    default:
        return Kind::Record;
    }
}

QString ArchiveTreeModel::text(const QModelIndex &index) const
{
    switch (kind(index)) {
    case Kind::Root:
        return kRootText;
    case Kind::Type:
        return m_types[index.row()].name;
    case Kind::Record:
        return m_types[int(index.internalId() - kRecordBase)].records[index.row()].name;
    case Kind::None:
        break;
    }
    return {};
}

QString ArchiveTreeModel::number(const QModelIndex &index) const
{
    if (kind(index) != Kind::Record)
        return {};
    return m_types[int(index.internalId() - kRecordBase)].records[index.row()].number;
}

qint64 ArchiveTreeModel::rowId(const QModelIndex &index) const
{
    if (kind(index) != Kind::Record)
        return 0;
    return m_types[int(index.internalId() - kRecordBase)].records[index.row()].rowId;
}

QModelIndex ArchiveTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    switch (kind(parent)) {
    case Kind::None:
        return row == 0 ? rootIndex() : QModelIndex();
    case Kind::Root:
        return typeIndex(row);
    case Kind::Type:
        return recordIndex(parent.row(), row);
    case Kind::Record:
        break;
    }
    return {};
}

QModelIndex ArchiveTreeModel::parent(const QModelIndex &child) const
{
    switch (kind(child)) {
    case Kind::Type:
        return rootIndex();
    case Kind::Record:
        return createIndex(int(child.internalId() - kRecordBase), 0, kTypeId);
    default:
        return {};
    }
}

int ArchiveTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    switch (kind(parent)) {
    case Kind::None:
        return 1;
    case Kind::Root:
        return int(m_types.size());
    case Kind::Type:
        return int(m_types[parent.row()].records.size());
    case Kind::Record:
        break;
    }
    return 0;
}

int ArchiveTreeModel::columnCount(const QModelIndex &) const { return 1; }

bool ArchiveTreeModel::hasChildren(const QModelIndex &parent) const { return rowCount(parent) > 0; }

Qt::ItemFlags ArchiveTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (kind(index) == Kind::Record)
        f |= Qt::ItemNeverHasChildren;
    return f;
}

QVariant ArchiveTreeModel::data(const QModelIndex &index, int role) const
{
    const Kind k = kind(index);
    if (k == Kind::None)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return text(index);
    case Qt::DecorationRole:
        return icon(data(index, ImageKeyRole).toString());
    case KeyRole:
        if (k == Kind::Root)
            return kRootKey;
        if (k == Kind::Type)
            return m_types[index.row()].name;
        return number(index) + QLatin1Char('#');
    case TagRole:
        return k == Kind::Root ? QStringLiteral("FileManager")
             : k == Kind::Type ? QStringLiteral("File")
                               : QStringLiteral("SFile");
    case ImageKeyRole:
        return k == Kind::Root ? m_rootImage : k == Kind::Type ? QStringLiteral("Open2") : QStringLiteral("File");
    case RowIdRole:
        return k == Kind::Record ? QVariant(rowId(index)) : QVariant();
    case NumberRole:
        return k == Kind::Record ? QVariant(number(index)) : QVariant();
    default:
        return {};
    }
}
