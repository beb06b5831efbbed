#pragma once
// Where a copy of the program keeps the files that live "in the program's folder": the
// default archive Data/file.dat and the marker INFORMATION.INI.
//
// A copy unpacked into a folder of its own keeps them beside itself, as it always did.
// An installed program cannot: its folder is a bin folder shared with every other
// program, and only the administrator may write there. It keeps them in one folder of
// the machine instead, the same for every user of the PC, because the archive belongs
// to the records office and not to whoever is logged in to the computer: operators are
// told apart by the archive's own login, and a per-user archive would hand each
// computer account a different, empty set of records.
#include <QString>

namespace app {

// The machine-wide folder (/var/lib/casearchive); tests point it elsewhere, an empty
// folder restores the built-in one.
QString machineFolder();
void setMachineFolder(const QString &folder);

// The system group whose members may change the machine-wide archive.
extern const QString kArchiveGroup;

// The rule, for a program started from programFolder:
// - an archive already beside the program (Data/file.dat) is used, as before;
// - a program in a bin folder shares that folder with other programs: machine folder;
// - otherwise the program's folder when this process may write there, else the machine
//   folder.
QString installationFolderFor(const QString &programFolder, bool programFolderWritable,
                              const QString &machineFolder);
// The rule applied to this process.
QString installationFolder();
// True for the administrator's own account, which may write anywhere.
bool runningAsRoot();
// Whether this process may create files in the folder (and in its Data folder, where
// that exists). A read-only mount counts as not writable.
bool canWriteIn(const QString &folder);

// The command line that makes the archive at `path` (the default archive: no path
// named), as an operator would type it: the admin tool beside the program, through sudo
// where the archive belongs to the machine.
QString archiveSetupCommand(const QString &path);
// What the login adds to its message when it found no archive: how to make one. Empty
// when the file exists.
QString archiveSetupAdvice(const QString &path);
// A path or a program name as a POSIX shell reads it back unchanged.
QString shellQuoted(const QString &text);

// Lets the members of `group`, and nobody else, create and change archives in `folder`
// (made when missing): the folder gets the group, mode rwxrws---, so files and SQLite's
// journals made there inherit the group. Returns a problem in words, empty when all went
// well.
QString shareFolderWithGroup(const QString &folder, const QString &group);
// The archive file itself: group `group`, mode rw-rw----.
QString shareFileWithGroup(const QString &file, const QString &group);

// Tightens an existing archive and what lies beside it so that only the records office
// may read it: the machine's archive for the group casearchive (its folders rwxrws---,
// the archive, its journals and INFORMATION.INI rw-rw----), an archive in the program's
// own folder for its owner (Data rwx------, files rw-------), any other archive file and
// its journals as they are meant to be kept (store/FileModes.h). Returns one line per
// path changed or checked ("0660 /var/lib/..."), and the problems in `problems`.
QStringList secureArchive(const QString &archivePath, QStringList &problems,
                          const QString &group = kArchiveGroup);

} // namespace app
