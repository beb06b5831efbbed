#pragma once
// The drive, folder and file lists that the two choosers share. A "drive" here is a
// mounted volume of this platform, named by the folder it is mounted on.
#include <QComboBox>
#include <QList>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <functional>

namespace pictures {

struct Volume {
    QString root; // the folder the volume is mounted on, as the file system names it
    QString name; // its label; may be empty
};

// The volumes an operator can store files on, the file system root first. Kernel and
// service file systems (proc, sysfs, tmpfs under /run and the like) are left out.
QList<Volume> volumes();
// Tests offer volumes of their own (folders, or folders that do not exist, standing for
// a drive without a medium); an empty source restores the mounted volumes.
using VolumeSource = std::function<QList<Volume>()>;
void setVolumeSource(VolumeSource source);

// A folder path and a file name joined with one separator: a root such as "/" already
// ends in one and gets no second.
QString joinPath(const QString &folder, const QString &fileName);

// The drive list: one item per volume.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget *parent = nullptr);

    // The selected volume's root, as the lists and messages name the drive.
    QString drive() const;
    // Selects the volume that holds the path, without announcing a change.
    void setDriveOf(const QString &path);
    // Reads the mounted volumes again, keeping the selection where it can.
    void refreshVolumes();

    void showPopup() override;

signals:
    // Another drive was selected (never sent for setDriveOf).
    void driveChanged();

private:
    void fill(const QList<Volume> &list);
};

// The folder list: the folders from the root down to the current one, opened, and the
// current folder's sub-folders below it. A double click (or Enter) opens a folder.
class FolderList : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    // Shows a folder. False, with nothing changed, when it does not exist or cannot be
    // read (a drive without a medium, a vanished network share, a folder just removed).
    bool setPath(const QString &path);

signals:
    void pathChanged(const QString &path);

protected:
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;

private:
    void openItem(QTreeWidgetItem *item);
    void rebuild(const QStringList &subFolders);

    QString m_path;
};

// The file list: the files of one folder whose names match a pattern such as
// "*.bmp;*.jpg", letter case ignored as the file systems of the archive's origin did.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    QString pattern() const { return m_pattern; }
    void setPath(const QString &folder);
    void setPattern(const QString &pattern);
    // Reads the folder again; no file is selected afterwards.
    void refresh();
    // The selected file's name, or the empty text.
    QString selectedFile() const;

signals:
    // The operator selected a file (by mouse or keys); never sent by a refresh.
    void fileClicked(const QString &fileName);

private:
    QString m_path;
    QString m_pattern;
};

} // namespace pictures
