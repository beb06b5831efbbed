#pragma once
// What the tests of the window that adds records (frmNewForm) share: the signed-in archive,
// a clock that stands still unless a test moves it, the browser's reloads counted, and the
// window's fields as the operator fills them in.
#include "SignedInArchive.h"

#include "records/frmNewForm.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace testing {

class NewFormFixture : public SignedInArchive {
    Q_OBJECT

protected:
    QDateTime m_now; // the window's clock

    // What the window says of a record it cannot save, and of a field with an apostrophe.
    static inline const QString kBlank = QStringLiteral("病案名称、路径、类别均不能空，且不能重复,请检查!");
    static inline const QString kApostrophe = QStringLiteral("该项目之中有特殊字符<'>,请删除。");

    void setUp() override
    {
        SignedInArchive::setUp();
        m_now = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));
        frmNewForm::Now = [this] { return m_now; };
        countReloads();
    }

    void tearDown() override
    {
        frmNewForm::Now = [] { return QDateTime::currentDateTime(); };
        SignedInArchive::tearDown();
    }

    std::unique_ptr<frmNewForm> open()
    {
        auto w = std::make_unique<frmNewForm>();
        if (!showActive(w.get()))
            qWarning("window not active");
        return w;
    }

    static QLineEdit *lineField(QWidget *w, int i) { return child<QLineEdit>(w, QStringLiteral("txtFields(%1)").arg(i)); }
    static QPlainTextEdit *description(QWidget *w) { return child<QPlainTextEdit>(w, QStringLiteral("txtFields(2)")); }

    // Text as the operator would put it in: the field has the focus while it changes.
    static void type(frmNewForm *w, int field, const QString &text)
    {
        w->txtFields[field]->setFocus(Qt::MouseFocusReason);
        if (field == 2)
            description(w)->insertPlainText(text);
        else
            lineField(w, field)->insert(text);
    }

    int count(const QString &table, const QString &where = QString(), const QVariantList &values = {})
    {
        return m_archive->count(table, where, values);
    }
};

} // namespace testing
