#pragma once
// Preparing archive files: an empty one for a new installation, and a demonstration
// archive with realistic records, attached files and photos for trying and measuring.
#include <QString>

namespace store {

// The operator every new archive starts with: empty password, highest level.
extern const QString kFirstOperator;
extern const QString kFirstOperatorLevel;

// Creates the file with its four tables and the first operator. Throws StoreError,
// also when the file exists already (an archive is never overwritten).
void initArchive(const QString &path);

struct DemoOptions {
    int records = 1000;
    int types = 12;
    unsigned variant = 2009; // the same number gives the same archive
    QString filesFolder;     // for the attached files and photos; empty: demoFilesFolder
};

// Creates a demonstration archive, a file or in an empty database on a server; its files
// and photos go into options.filesFolder. Needs a QGuiApplication for drawing the photos.
void makeDemoArchive(const QString &path, const DemoOptions &options);

// Where makeDemoArchive puts the attached files and photos unless told: a folder beside
// a file (<name>_files), or <database>_files in the current folder for a server's archive.
QString demoFilesFolder(const QString &archivePath);

} // namespace store
