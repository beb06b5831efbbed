#pragma once
// Who may read the archive's files. The archive holds patients' names, diagnoses and
// photos: its file, folder, journals, backups and copies are for the records office only,
// never for every account of the computer. Modes are set explicitly, so a permissive
// umask (0000) changes nothing.
//
// Two forms:
// - shared: the installed program's archive, for the members of one group (folders
//   rwxrws---, files rw-rw----); the folder's setgid bit hands the group on to every file
//   made in it, SQLite's journals included;
// - owner only: a copy in a folder of its own (folders rwx------, files rw-------).
// SQLite makes its journal and WAL files with the mode of the database file, so they
// follow the file.
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace store {

struct Protection {
    bool shared = false;
    gid_t group = 0; // when shared
    bool groupWrites = true; // when shared: false for what the group may read but not change
};

Protection ownerOnly();
Protection sharedWith(gid_t group);
// Readable by the group, changed by the owner alone (folders rwxr-x---, files rw-r-----):
// a backup, which the members must not be able to alter.
Protection readableBy(gid_t group);
// How an existing archive file is meant to be kept: shared with its group when that group
// may write it (the installed archive, or one made under a umask of 002), otherwise the
// owner alone. Anyone else's read bit never counts.
Protection protectionOf(const QString &archiveFile);
// How a new archive file in this folder is kept: shared with the folder's group when the
// folder is a shared one (setgid, group-writable), otherwise the owner alone.
Protection protectionForNewFileIn(const QString &folder);

// Gives a file or folder the protection's mode (and group, when shared). Returns a problem
// in words, empty when all went well.
QString protect(const QString &path, const Protection &p);
// The folder and everything in it. Symbolic links are left alone, never followed.
QString protectTree(const QString &folder, const Protection &p);
// Makes the folder and any missing folders above it; those it makes get the protection.
// Returns false when it could not.
bool makeProtectedFolders(const QString &folder, const Protection &p = ownerOnly());
// Creates a new, empty file with the protection, from its first moment: never readable
// by others, even briefly. Throws StoreError when it exists or cannot be made.
void createProtectedFile(const QString &path, const Protection &p);

// While it lives, every file and folder this process makes is its owner's alone (the
// umask is tightened to 077, never loosened): for files made by code that takes the
// umask (Qt's settings and save files), so that they are never readable by others even
// for a moment. The protection wanted is set afterwards.
class PrivateUmask {
public:
    PrivateUmask();
    ~PrivateUmask();
    PrivateUmask(const PrivateUmask &) = delete;
    PrivateUmask &operator=(const PrivateUmask &) = delete;

private:
    mode_t m_before;
};

// The files SQLite keeps beside an archive file while it is written (journal, WAL and
// its index), whether they exist or not.
QStringList companionFiles(const QString &archiveFile);

// The mode bits of a path (permissions with setgid), or -1 when it cannot be read.
int modeOf(const QString &path);

} // namespace store
