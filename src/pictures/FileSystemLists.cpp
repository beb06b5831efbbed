#include "pictures/FileSystemLists.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QSet>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>

#include <algorithm>

namespace pictures {

namespace {

VolumeSource &volumeSource()
{
    static VolumeSource source;
    return source;
}

// File systems that hold no files of the operator's: the kernel's views of itself,
// memory-backed service areas, container plumbing.
bool isPseudoFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> pseudo = {
        "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs", "cgroup", "cgroup2", "securityfs",
        "pstore", "debugfs", "tracefs", "mqueue", "hugetlbfs", "fusectl", "configfs", "binfmt_misc",
        "autofs", "bpf", "nsfs", "rpc_pipefs", "efivarfs", "selinuxfs", "squashfs"};
    return pseudo.contains(type);
}

bool isServiceFolder(const QString &root)
{
    static const QStringList prefixes = {QStringLiteral("/proc"), QStringLiteral("/sys"), QStringLiteral("/dev"),
                                         QStringLiteral("/run"), QStringLiteral("/snap"),
                                         QStringLiteral("/boot/efi"), QStringLiteral("/var/lib/docker")};
    // Removable media are mounted under /run/media on some systems.
    if (root.startsWith(QStringLiteral("/run/media/")))
        return false;
    for (const QString &p : prefixes)
        if (root == p || root.startsWith(p + QLatin1Char('/')))
            return true;
    return false;
}

QList<Volume> mountedVolumes()
{
    QList<Volume> list;
    QSet<QString> seen;
    for (const QStorageInfo &s : QStorageInfo::mountedVolumes()) {
        const QString root = s.rootPath();
        if (root.isEmpty() || seen.contains(root))
            continue;
        if (!QDir(root).isRoot() && (isPseudoFileSystem(s.fileSystemType()) || isServiceFolder(root)))
            continue;
        // Containers bind single files (resolv.conf, hosts) over the tree; they are no drives.
        if (!QFileInfo(root).isDir())
            continue;
        seen.insert(root);
        list.append({root, s.name()});
    }
    const QString top = QDir::rootPath();
    if (!seen.contains(top))
        list.append({top, QString()});
    std::sort(list.begin(), list.end(), [&top](const Volume &a, const Volume &b) {
        if ((a.root == top) != (b.root == top))
            return a.root == top;
        return a.root < b.root;
    });
    return list;
}

bool endsWithSeparator(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'));
}

// The volume whose root is the longest leading part of the path.
int volumeIndexOf(const QList<Volume> &list, const QString &path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    int best = -1;
    int bestLength = -1;
    for (int i = 0; i < list.size(); ++i) {
        const QString root = QDir::cleanPath(QDir::fromNativeSeparators(list.at(i).root));
        const bool holds = clean == root ||
                           clean.startsWith(endsWithSeparator(root) ? root : root + QLatin1Char('/'));
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    return best;
}

} // namespace

QList<Volume> volumes()
{
    if (volumeSource())
        return volumeSource()();
    return mountedVolumes();
}

void setVolumeSource(VolumeSource source) { volumeSource() = std::move(source); }

QString joinPath(const QString &folder, const QString &fileName)
{
    if (endsWithSeparator(folder))
        return folder + fileName;
    return folder + QDir::separator() + fileName;
}

// ---- DriveList ----

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    setEditable(false);
    fill(volumes());
    connect(this, &QComboBox::currentIndexChanged, this, [this] { emit driveChanged(); });
}

void DriveList::fill(const QList<Volume> &list)
{
    const QSignalBlocker quiet(this);
    const QString kept = drive();
    clear();
    for (const Volume &v : list) {
        const QString root = QDir::toNativeSeparators(v.root);
        const QString text = v.name.isEmpty() ? root : root + QStringLiteral(" [") + v.name + QLatin1Char(']');
        addItem(text, root);
    }
    const int again = findData(kept);
    setCurrentIndex(again >= 0 ? again : (count() > 0 ? 0 : -1));
}

QString DriveList::drive() const { return currentIndex() >= 0 ? currentData().toString() : QString(); }

void DriveList::setDriveOf(const QString &path)
{
    QList<Volume> list;
    for (int i = 0; i < count(); ++i)
        list.append({itemData(i).toString(), QString()});
    const int index = volumeIndexOf(list, path);
    if (index < 0)
        return;
    const QSignalBlocker quiet(this);
    setCurrentIndex(index);
}

void DriveList::refreshVolumes() { fill(volumes()); }

void DriveList::showPopup()
{
    // A stick plugged in since the window opened shows up when the list is opened.
    refreshVolumes();
    QComboBox::showPopup();
}

// ---- FolderList ----

FolderList::FolderList(QWidget *parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(10);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(true);
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) { openItem(item); });
}

bool FolderList::setPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    QDir dir(info.absoluteFilePath());
    if (!dir.exists())
        return false;
    const QString clean = QDir::cleanPath(dir.absolutePath());
    const QStringList subFolders =
        QDir(clean).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const bool changed = clean != m_path;
    m_path = clean;
    rebuild(subFolders);
    if (changed)
        emit pathChanged(m_path);
    return true;
}

void FolderList::rebuild(const QStringList &subFolders)
{
    const QSignalBlocker quiet(this);
    clear();
    QStringList chain;
    QDir d(m_path);
    for (;;) {
        chain.prepend(QDir::cleanPath(d.absolutePath()));
        if (d.isRoot() || !d.cdUp())
            break;
    }
    const QIcon opened = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    QTreeWidgetItem *parentItem = nullptr;
    for (const QString &folder : chain) {
        const QString text = QDir(folder).isRoot() ? QDir::toNativeSeparators(folder) : QFileInfo(folder).fileName();
        auto *item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(this);
        item->setText(0, text);
        item->setIcon(0, opened);
        item->setData(0, Qt::UserRole, folder);
        item->setExpanded(true);
        parentItem = item;
    }
    for (const QString &name : subFolders) {
        auto *item = new QTreeWidgetItem(parentItem);
        item->setText(0, name);
        item->setIcon(0, closed);
        item->setData(0, Qt::UserRole, QDir(m_path).filePath(name));
    }
    expandAll();
    if (parentItem) {
        setCurrentItem(parentItem);
        // The folder above the current one heads the view, so that the sub-folders,
        // where the operator goes next, are in sight.
        QTreeWidgetItem *above = parentItem->parent();
        scrollToItem(above ? above : parentItem, QAbstractItemView::PositionAtTop);
    }
}

void FolderList::drawBranches(QPainter *, const QRect &, const QModelIndex &) const
{
    // No fold marks: every folder on show is open, and a double click opens another.
}

void FolderList::openItem(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const QString target = item->data(0, Qt::UserRole).toString();
    if (!setPath(target))
        setPath(m_path); // the folder has gone: show what is there now
}

// ---- FileList ----

FileList::FileList(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // Selection, not the current row: tabbing into the list makes a current row without
    // the operator choosing a file.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        const QString name = selectedFile();
        if (!name.isEmpty())
            emit fileClicked(name);
    });
}

void FileList::setPath(const QString &folder)
{
    m_path = folder;
    refresh();
}

void FileList::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    refresh();
}

void FileList::refresh()
{
    const QSignalBlocker quiet(this);
    clear();
    if (m_path.isEmpty())
        return;
    const QStringList filters = m_pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    // Without QDir::CaseSensitive the patterns ignore letter case.
    const QStringList names = QDir(m_path).entryList(filters, QDir::Files | QDir::NoDotAndDotDot,
                                                     QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    addItems(names);
    setCurrentRow(-1);
    clearSelection();
}

QString FileList::selectedFile() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

} // namespace pictures
