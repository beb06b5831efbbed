#include "records/ArchiveTreeModel.h"

#include "platform/Twips.h"
#include "store/TreeRows.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <algorithm>
#include <functional>
#include <deque>
#include <numeric>
#include <string>
#include <string_view>
#include <unordered_map>

#include <malloc.h>

// Where a node sits is told by its internal id: the root's children and grandchildren
// need no node objects of their own.
namespace {
constexpr quintptr kRootId = 0;     // the root itself
constexpr quintptr kTypeId = 1;     // a type node (its row is its place among the types)
constexpr quintptr kRecordBase = 2; // a record node: kRecordBase + the row of its type

} // namespace

const QString ArchiveTreeModel::kRootText = QStringLiteral("病案库");
const QString ArchiveTreeModel::kRootKey = QStringLiteral("main2009");
const QString ArchiveTreeModel::kUnlistedText = QStringLiteral("（未登记类型）");

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
    m_widest.clear();
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

constexpr int kWidestKept = 32;

// How wide a name is drawn, roughly, in quarters of a Chinese character: enough to choose
// the few names worth measuring with the font.
int roughWidth(QStringView name)
{
    int width = 0;
    for (const QChar ch : name) {
        const char16_t c = ch.unicode();
        if (c >= 0x1100)
            width += 4;
        else if ((c >= u'A' && c <= u'Z') || c == u'm' || c == u'w')
            width += 3;
        else if (c == u'i' || c == u'l' || c == u'j' || c == u'.' || c == u',' || c == u' ' || c == u'|'
                 || c == u'\'' || c == u'!' || c == u':')
            width += 1;
        else
            width += 2;
    }
    return width;
}

} // namespace

QModelIndexList ArchiveTreeModel::widestNodes() const
{
    QModelIndexList nodes{rootIndex()};
    for (int t = 0; t < m_types.size(); ++t)
        nodes << typeIndex(t);
    for (const Widest &w : m_widest)
        nodes << recordIndex(w.type, w.row);
    return nodes;
}

quint64 ArchiveTreeModel::packDigits(QByteArrayView digits)
{
    const qsizetype n = digits.size();
    if (n < 1 || n > kMaxPackedDigits)
        return 0;
    quint64 value = 0;
    for (const char c : digits) {
        const auto digit = unsigned(uchar(c)) - unsigned('0');
        if (digit > 9)
            return 0;
        value = value * 10 + digit;
    }
    return (quint64(n) << kLengthShift) | value;
}

quint64 ArchiveTreeModel::packNumber(const QString &number, QString &text)
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
    const auto at = quint32(text.size());
    text += number;
    return kNumberAsText | (quint64(n) << 32) | at;
}

QString ArchiveTreeModel::unpackNumber(quint64 packed) const
{
    if (packed & kNumberAsText)
        return m_text.mid(qsizetype(packed & 0xffffffffu), qsizetype((packed & ~kNumberAsText) >> 32));
    const int length = int(packed >> kLengthShift);
    const quint64 value = packed & ((quint64(1) << kLengthShift) - 1);
    return QString::number(value).rightJustified(length, QLatin1Char('0'));
}

void ArchiveTreeModel::load(store::Connection &connection, const store::SearchFilter &filter, Read read,
                            const Checkpoint &checkpoint)
{
    // The tree before and what the read held are freed once the new tree is built; their
    // room goes back to the system, or each reload would leave the program larger (the
    // allocator keeps what two trees at once needed).
    struct GiveBack {
        ~GiveBack() { malloc_trim(0); }
    } giveBack;
    build(connection, filter, read, checkpoint);
}

void ArchiveTreeModel::build(store::Connection &connection, const store::SearchFilter &filter, Read read,
                             const Checkpoint &checkpoint)
{
    // The tree is built aside and shown in one step: the window may repaint meanwhile
    // (checkpoint), and must never meet a half-built tree.
    QVector<Type> types;
    QVector<Record> unlisted;
    QString text;
    qsizetype used = -1; // the units of text in use, when it is kept longer while read
    QVector<Widest> widest;
    const auto show = [&] {
        if (used >= 0)
            text.resize(used);
        for (Widest &w : widest) {
            if (w.type < 0)
                w.type = int(types.size());
        }
        if (!unlisted.isEmpty())
            types.push_back(Type{kUnlistedText, std::move(unlisted), true});
        // Also after a failure half-way: what was read is shown, without spare room.
        for (Type &t : types)
            t.records.squeeze();
        text.squeeze();
        beginResetModel();
        m_types.swap(types);
        m_text.swap(text);
        m_widest.swap(widest);
        m_rootImage = QStringLiteral("Open");
        m_searchNote.clear();
        if (!filter.isEmpty())
            m_searchNote = QStringLiteral("查询：%1，找到 %2 条").arg(filter.text, QString::number(recordCount()));
        endResetModel();
    };
    try {
        const QStringList names = sortedByPinyin(store::readTypes(connection));
        // Types whose names the store holds equal are chained, so that a record goes under
        // each of them, as a query per type would find it under each.
        QHash<QString, int> firstOfName;
        QVector<int> nextOfName(names.size(), -1);
        types.reserve(names.size() + 1);
        for (const QString &name : names)
            types.push_back(Type{name, {}, false});
        for (int i = int(names.size()) - 1; i >= 0; --i) {
            const QString folded = foldLikeTheStore(names[i]);
            nextOfName[i] = firstOfName.value(folded, -1);
            firstOfName.insert(folded, i);
        }
        const auto typeOf = [&firstOfName](const QString &spelling) {
            return spelling.isNull() ? -1 : firstOfName.value(foldLikeTheStore(spelling), -1);
        };
        int narrowest = 0; // the place in widest of its narrowest name once it is full
        const auto place = [&](int type, const Record &r) {
            // No character counts more than four: most names need no closer look.
            const bool full = widest.size() == kWidestKept;
            const int width = full && qint64(r.nameSize) * 4 <= widest[narrowest].width
                                  ? 0
                                  : roughWidth(QStringView(text).mid(r.nameAt, r.nameSize));
            if (!full || width > widest[narrowest].width) {
                const Widest w{width, type, int(type < 0 ? unlisted.size() : types[type].records.size())};
                if (widest.size() < kWidestKept)
                    widest.push_back(w);
                else
                    widest[narrowest] = w;
                if (widest.size() == kWidestKept) {
                    narrowest = 0;
                    for (int i = 1; i < widest.size(); ++i) {
                        if (widest[i].width < widest[narrowest].width)
                            narrowest = i;
                    }
                }
            }
            if (type < 0)
                unlisted.push_back(r);
            for (; type >= 0; type = nextOfName[type])
                types[type].records.push_back(r);
        };

        if (read == Read::Qt) {
            // Type names as the records spell them, each looked up once.
            QHash<QString, int> typeOfSpelling;
            qint64 rows = 0;
            store::forEachRecord(connection, filter, [&](const QString &typeName, const store::RecordHead &head) {
                if (checkpoint && ++rows % store::TreeRows::kCheckpointRows == 0)
                    checkpoint(rows);
                int type = -1;
                if (!typeName.isNull()) {
                    auto found = typeOfSpelling.constFind(typeName);
                    if (found == typeOfSpelling.cend())
                        found = typeOfSpelling.insert(typeName, typeOf(typeName));
                    type = found.value();
                }
                const auto at = quint32(text.size());
                text += head.name;
                place(type, Record{head.rowId, packNumber(head.number, text), at, quint32(head.name.size())});
            });
        } else {
            using store::TreeRows;
            TreeRows rows(connection, filter, checkpoint);
            // Type names as the records' bytes spell them, each decoded and looked up once
            // (equal bytes are equal names, whatever they hold).
            std::deque<std::string> spellings;
            struct Hash {
                size_t operator()(std::string_view s) const { return qHash(QByteArrayView(s.data(), qsizetype(s.size()))); }
            };
            std::unordered_map<std::string_view, int, Hash> typeOfBytes;
            // The names are decoded straight into the shared text, which grows by half
            // again when full rather than at every record; it is cut to what is used after.
            used = 0;
            const auto roomFor = [&](qsizetype units) {
                if (text.size() - used < units)
                    text.resize(qMax(used + units, text.size() + text.size() / 2 + 4096));
            };
            while (rows.next()) {
                int type = -1;
                const QByteArrayView typeBytes = rows.bytes(TreeRows::Type);
                if (!typeBytes.isNull()) {
                    auto found = typeOfBytes.find(std::string_view(typeBytes.data(), size_t(typeBytes.size())));
                    if (found == typeOfBytes.end()) {
                        spellings.emplace_back(typeBytes.data(), size_t(typeBytes.size()));
                        found = typeOfBytes.emplace(spellings.back(), typeOf(rows.text(TreeRows::Type))).first;
                    }
                    type = found->second;
                } else if (!rows.isNull(TreeRows::Type)) {
                    type = typeOf(rows.text(TreeRows::Type));
                }
                // The name first: a number that is not plain digits is kept after it.
                const auto at = quint32(used);
                const QByteArrayView name = rows.bytes(TreeRows::Name);
                const char16_t *end = nullptr;
                if (!name.isNull()) {
                    roomFor(name.size()); // never fewer UTF-8 bytes than UTF-16 units
                    end = TreeRows::decodeStrict(name, reinterpret_cast<char16_t *>(text.data()) + used);
                }
                if (end) {
                    used = end - reinterpret_cast<const char16_t *>(text.constData());
                } else {
                    // Not text, or broken UTF-8: as Qt's driver would give it.
                    text.resize(used);
                    text += rows.text(TreeRows::Name);
                    used = text.size();
                }
                const auto size = quint32(quint32(used) - at);
                quint64 number = packDigits(rows.bytes(TreeRows::Number));
                if (!number) {
                    text.resize(used);
                    number = packNumber(rows.text(TreeRows::Number), text);
                    used = text.size();
                }
                place(type, Record{rows.rowId(), number, at, size});
            }
        }
    } catch (...) {
        show();
        throw;
    }
    show();
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

bool ArchiveTreeModel::isUnlisted(const QModelIndex &index) const
{
    return kind(index) == Kind::Type && m_types[index.row()].unlisted;
}

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
        if (k == Kind::Root && !m_searchNote.isEmpty())
            return platform::plainToolTip(m_searchNote);
        if (k == Kind::Type && m_types[index.row()].unlisted)
            return platform::plainToolTip(QStringLiteral("类型不在病案类型列表中的病案（早期档案留下的，或没有类型）。"
                                                         "可以用“修改病案记录”为它们选定类型。"));
        return {};
    default:
        return {};
    }
}
