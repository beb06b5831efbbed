#include "records/ArchiveTreeModel.h"

#include "platform/Twips.h"

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
    m_text.clear();
    m_searchNote.clear();
    m_rootImage = QStringLiteral("Open");
    endResetModel();
}

namespace {

// The type names in the order a Chinese reader expects: by pinyin, as the locale's
// collation gives it; equal names keep their order. One sort key per name, so the sort
// itself compares prepared keys only.
QStringList sortedByPinyin(const QStringList &names)
{
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(names.size()));
    for (const QString &n : names)
        keys.push_back(collator.sortKey(n));
    std::vector<int> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](int a, int b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    QStringList sorted;
    sorted.reserve(names.size());
    for (int i : order)
        sorted << names[i];
    return sorted;
}

// The store compares type names ignoring the case of the letters A to Z and of nothing
// else; two names are equal there exactly when these folded forms are equal.
QString foldLikeTheStore(QString name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (c >= u'A' && c <= u'Z')
            name[i] = QChar(char16_t(c + (u'a' - u'A')));
    }
    return name;
}

// A record number of 1 to 17 decimal digits (every number the program makes has 12) is
// kept as its value and its length, so that leading zeros come back; any other text is
// kept in the shared text, marked by the top bit, with its place and length.
constexpr quint64 kNumberAsText = quint64(1) << 63;
constexpr int kMaxPackedDigits = 17; // 10^17 < 2^57
constexpr int kLengthShift = 57;

} // namespace

quint32 ArchiveTreeModel::keep(const QString &text)
{
    const auto at = quint32(m_text.size());
    m_text += text;
    return at;
}

quint64 ArchiveTreeModel::packNumber(const QString &number)
{
    const qsizetype n = number.size();
    if (n >= 1 && n <= kMaxPackedDigits) {
        quint64 value = 0;
        bool digits = true;
        for (const QChar c : number) {
            if (c < u'0' || c > u'9') {
                digits = false;
                break;
            }
            value = value * 10 + (c.unicode() - u'0');
        }
        if (digits)
            return (quint64(n) << kLengthShift) | value;
    }
    return kNumberAsText | (quint64(n) << 32) | keep(number);
}

QString ArchiveTreeModel::unpackNumber(quint64 packed) const
{
    if (packed & kNumberAsText)
        return m_text.mid(qsizetype(packed & 0xffffffffu), qsizetype((packed & ~kNumberAsText) >> 32));
    const int length = int(packed >> kLengthShift);
    const quint64 value = packed & ((quint64(1) << kLengthShift) - 1);
    return QString::number(value).rightJustified(length, QLatin1Char('0'));
}

void ArchiveTreeModel::load(store::Connection &connection, const store::SearchFilter &filter)
{
    beginResetModel();
    ResetGuard guard{[this, &filter] {
        // Also after a failure half-way: what was read is shown, without spare room.
        for (Type &t : m_types)
            t.records.squeeze();
        m_text.squeeze();
        if (!filter.isEmpty())
            m_searchNote = QStringLiteral("查询：%1，找到 %2 条").arg(filter.text, QString::number(recordCount()));
        endResetModel();
    }};
    m_types.clear();
    m_text.clear();
    m_searchNote.clear();
    m_rootImage = QStringLiteral("Open");

    const QStringList names = sortedByPinyin(store::readTypes(connection));
    if (names.isEmpty())
        return; // no type, so no record is shown: nothing more to read
    // Types whose names the store holds equal are chained, so that a record goes under
    // each of them, as a query per type would find it under each.
    QHash<QString, int> firstOfName;
    QVector<int> nextOfName(names.size(), -1);
    m_types.reserve(names.size());
    for (const QString &name : names)
        m_types.push_back(Type{name, {}});
    for (int i = int(names.size()) - 1; i >= 0; --i) {
        const QString folded = foldLikeTheStore(names[i]);
        nextOfName[i] = firstOfName.value(folded, -1);
        firstOfName.insert(folded, i);
    }

    // Type names as the records spell them, each looked up once: -1 when no type has it.
    QHash<QString, int> typeOfSpelling;
    store::forEachRecord(connection, filter, [&](const QString &typeName, const store::RecordHead &head) {
        auto found = typeOfSpelling.constFind(typeName);
        if (found == typeOfSpelling.cend())
            found = typeOfSpelling.insert(typeName, firstOfName.value(foldLikeTheStore(typeName), -1));
        int type = found.value();
        if (type < 0)
            return;
        const Record r{head.rowId, packNumber(head.number), keep(head.name), quint32(head.name.size())};
        for (; type >= 0; type = nextOfName[type])
            m_types[type].records.push_back(r);
    });
}

int ArchiveTreeModel::recordCount() const
{
    int n = 0;
    for (const Type &t : m_types)
        n += int(t.records.size());
    return n;
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
    case Kind::Record: {
        const Record &r = record(index);
        return m_text.mid(r.nameAt, r.nameSize);
    }
    case Kind::None:
        break;
    }
    return {};
}

const ArchiveTreeModel::Record &ArchiveTreeModel::record(const QModelIndex &index) const
{
    return m_types[int(index.internalId() - kRecordBase)].records[index.row()];
}

QString ArchiveTreeModel::number(const QModelIndex &index) const
{
    if (kind(index) != Kind::Record)
        return {};
    return unpackNumber(record(index).number);
}

qint64 ArchiveTreeModel::rowId(const QModelIndex &index) const
{
    if (kind(index) != Kind::Record)
        return 0;
    return record(index).rowId;
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
    case Qt::ToolTipRole:
        // The root tells whether the tree shows the whole archive or what a search found.
        return k == Kind::Root && !m_searchNote.isEmpty() ? QVariant(platform::plainToolTip(m_searchNote)) : QVariant();
    default:
        return {};
    }
}
