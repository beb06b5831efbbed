#pragma once
// What root reads and writes because a record or a backup names it. The backup service,
// restore and ocr run as root, while the records they follow are written by members of
// the office's group: a record naming /etc/shadow must not make root copy it into a
// backup the group can read, nor a backup make root write into /etc. Such files are
// opened with the rights of those who could have written the archive (the group's, or
// its owner's), not root's: this thread's file-system identity is switched for the open
// (setfsuid/setfsgid, with the group as the only supplementary group), and the file,
// once open, is read or written as usual. Outside root nothing is switched.
//
// Every file opened here for reading must be a regular file: a FIFO, a device or a folder
// is refused at once, never waited on (a FIFO is opened without blocking).
#include <QString>

#include <sys/types.h>

namespace store {

struct Rights {
    bool switched = false; // false: this process's own rights
    uid_t uid = 0;
    gid_t gid = 0;
    QString text() const;  // "nobody:casearchive", for messages
};

// The rights of whoever could have written the archive file: when its group (or anyone)
// may write it, the group's alone (as the account nobody); when only its owner may and
// that is not root, the owner's; otherwise, and always when this process is not root,
// this process's own.
Rights rightsOfArchiveFile(const QString &archiveFile);
// The group's rights alone (as nobody), for an archive on a server that the group's
// workstations write; this process's own when not root or the group is unknown.
Rights rightsOfGroup(const QString &group);

// While it lives, this thread opens and makes files with the rights given.
class ActingWith {
public:
    explicit ActingWith(const Rights &rights);
    ~ActingWith();
    ActingWith(const ActingWith &) = delete;
    ActingWith &operator=(const ActingWith &) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_active = false;
    bool m_ok = true;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QByteArray m_groups; // the supplementary groups before, as gid_t values
};

enum class OpenFailure {
    None,
    Missing,    // no such file (or a folder on the way is missing)
    NotRegular, // a folder, FIFO, device or socket
    Denied,     // the rights given may not read it (or reach it)
    Unreadable, // anything else
};
// Opens a regular file for reading with the rights given (following symbolic links, as
// the program itself would when it shows the file). Returns the descriptor (close-on-exec,
// blocking), or -1 with the reason in `why`.
int openRegularFile(const QString &path, const Rights &rights, OpenFailure &why);

} // namespace store
