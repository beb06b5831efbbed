#pragma once
// The earlier system's paths are Windows paths ("D:\病案\2001\张三.jpg", "\\server\share\x.doc").
// An import maps them onto this machine by prefixes the administrator names: a prefix is
// matched without regard to letter case and with backslashes read as slashes, as Windows
// read them. A mapped path that does not exist is looked up once more with letter case
// ignored, folder by folder (Windows file names are case-blind, the shared folder here is
// not); what is found is kept with its real spelling.
#include "store/GroupRights.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace importing {

struct PathPrefix {
    QString from; // as given, backslashes turned into slashes, no slash at the end
    QString to;   // no slash at the end (unless it is "/")
};

// "D:\病案=/srv/病案文件"; false (and why) when it is no such pair.
bool parsePathPrefix(const QString &text, PathPrefix &out, QString *why);

struct MappedPath {
    enum Found { Exact, OtherCase, Missing, Unmapped };
    Found found = Unmapped;
    QString stored; // what the archive keeps
    QString why;    // Missing and Unmapped: why it is not there
};

class PathMapper {
public:
    // lookAs: the rights the disk is looked at with (the office group's when the import runs
    // as root: the old archive's paths are the office's to have written, and where a file
    // is found, and its spelling, is kept in the archive for the office to read).
    explicit PathMapper(QVector<PathPrefix> prefixes, const store::Rights &lookAs = store::Rights());
    bool empty() const { return m_prefixes.isEmpty(); }
    // The stored path for one from the earlier archive, looking on the disk. Each folder is
    // looked up and read once (an archive names the same few thousand folders hundreds of
    // thousands of times); only a file found there costs a look of its own.
    MappedPath map(const QString &path);
    // The same, from what was found before: the disk is not asked again, so a file that
    // appears or goes meanwhile changes nothing (the import's second reading).
    QString storedAgain(const QString &path) const;

private:
    // A folder of the mapped paths as found on the disk: `real` is its spelling there, empty
    // when it is not there (`why`); asSpelled when every step was found exactly as written.
    struct Folder {
        QString real;
        QString why;
        bool asSpelled = true;
    };
    QString applyPrefix(const QString &path, bool *mapped) const;
    // The disk, asked with the rights given.
    enum class Look { Nothing, Folder, Other };
    Look look(const QString &path) const;
    QString whyMissing(const QString &path) const; // empty: a file that is there
    int folder(const QString &path);
    Folder step(const Folder &up, const QString &name);
    QStringList namesLike(const QString &folder, const QString &name); // as found there, letter case ignored
    QString caseBlind(const QStringList &same, QString *why);           // the one of them, else why not
    QVector<PathPrefix> m_prefixes;
    store::Rights m_lookAs;
    QVector<Folder> m_folders;                // [0] is "/"
    QHash<QPair<int, QString>, int> m_steps;  // (folder, name as written) -> folder
    QHash<QString, int> m_written;            // a folder as written in a mapped path -> folder
    QHash<QString, QHash<QString, QStringList>> m_listings; // real folder -> folded name -> names there
    QHash<QString, QString> m_otherCase;      // mapped path -> real spelling
    QString m_lastWritten;                    // the folder of the path before, as written
    int m_lastFolder = -1;
    QString m_lastListed;                     // and the folder last read
    QHash<QString, QStringList> m_lastListing;
};

} // namespace importing
