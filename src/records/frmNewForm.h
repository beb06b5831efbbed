#pragma once
// The new record window: enters records one after another. Each save writes one Detail
// row and one photo row per listed photo, under a record number that no other record
// carries.
#include "records/RecordEntryForm.h"

#include <QDateTime>
#include <functional>

class frmNewForm : public RecordEntryForm {
    Q_OBJECT
public:
    explicit frmNewForm(QWidget *parent = nullptr);
    ~frmNewForm() override;

    // The clock record numbers are made from; tests put one of their own here.
    static std::function<QDateTime()> Now;

    // A record number: the time as "YYMMDDHHmmss".
    static QString numberFor(const QDateTime &time);
    // The second after a number, in the same form; empty when the text is no number.
    static QString numberAfter(const QString &number);

    // Saves the record on show. Unless it is saved, the window keeps what was typed, and
    // closing goes on only after a refusal of blank fields.
    enum class SaveResult { Saved, BlankRefused, NotSaved };
    SaveResult Save();
    void SaveAdd_Click() override;
    void ExitB_Click();

    bool recordDirty() const { return m_recordDirty; }
    bool recordSaved() const { return m_recordSaved; }

    QPushButton *ExitB = nullptr;

protected:
    void done(int result) override;
    void showEvent(QShowEvent *event) override;
    void txtFields_Change() override;

private:
    void Form_Load();
    bool Form_Unload(); // false: the window must stay open
    void makeRecordNumber();

    bool m_recordDirty = false;
    bool m_recordSaved = false;
    bool m_unloaded = false;
    bool m_shown = false;
};
