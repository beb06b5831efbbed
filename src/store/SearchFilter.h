#pragma once
// The search condition that narrows the browser's tree: the text looked for and the
// columns it is looked for in. Empty means the whole archive is shown.
#include <QString>
#include <QVariantList>

namespace store {

class Dialect;

struct SearchFilter {
    QString text;             // already trimmed by the search window
    bool inName = false;      // 文件名, the record name
    bool inPath = false;      // 路径名, the attached file's path
    bool inDescription = false; // 文件说明
    bool inType = false;      // type_name
    bool inPageText = false;  // the words recognised on the record's photos (store/PageText.h)
    // False for an archive without page text yet: the page condition then finds nothing.
    bool pageTextReadable = true;
    // What the search index is asked (store/SearchIndex.h: prepareIndexedSearch), for the
    // records' columns and for the photos' words; empty where every row is read. The
    // condition is checked on what the index offers.
    QString recordPairs;
    QString pagePairs;

    bool isEmpty() const { return !(inName || inPath || inDescription || inType || inPageText); }
    void clear() { *this = SearchFilter(); }

    // The condition appended to a per-type record query (" AND (...)"), with one bound
    // value per column condition; empty when no column is chosen.
    QString sqlCondition(const Dialect &dialect) const;
    QVariantList boundValues() const;

    bool operator==(const SearchFilter &o) const
    {
        return text == o.text && inName == o.inName && inPath == o.inPath
            && inDescription == o.inDescription && inType == o.inType && inPageText == o.inPageText
            && pageTextReadable == o.pageTextReadable && recordPairs == o.recordPairs && pagePairs == o.pagePairs;
    }
};

// "Contains" pattern for LIKE ... ESCAPE '\' (Dialect::containsText): the star and the question mark
// typed by the operator act as wildcards, while %, _ and \ match themselves.
QString containsPattern(const QString &text);

} // namespace store
