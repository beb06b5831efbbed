#pragma once
// "回收站": the records deleted from the browser or with their type, for a super-user to
// restore (恢复) or let go for good (彻底删除, asked twice). Files on disk are never touched.
#include "trail/RecycleBin.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class frmRecycleBin : public QDialog {
    Q_OBJECT
public:
    // The setting that keeps deleted records a number of days before a super-user is
    // offered to empty them; missing or 0: never offered.
    static const QString kSection; // "RecycleBin"
    static const QString kRetentionKey; // "RetentionDays"
    static const QString kTitle; // "回收站"

    explicit frmRecycleBin(QWidget *parent = nullptr);

    // When a retention is set and entries are older, asks whether to empty those; only
    // Yes removes them. The browser calls it as the window opens.
    void offerToEmptyOld();
    void cmdRestore_Click();
    void cmdPurge_Click();

    const QVector<store::BinEntry> &entries() const { return m_entries; }
    // Where the clock stands for the retention (tests set their own).
    static std::function<QDateTime()> clock;

    QLabel *lblCount = nullptr;
    QTableWidget *grdBin = nullptr;
    QPushButton *cmdRestore = nullptr;
    QPushButton *cmdPurge = nullptr;
    QPushButton *cmdClose = nullptr;

private:
    void loadBin();
    const store::BinEntry *selectedEntry() const;
    QString nameOf(const store::BinEntry &entry) const;
    void showFailure(const QString &description);

    QVector<store::BinEntry> m_entries;
    bool m_changed = false; // the browser reloads when the window closes
};
