#include "access/OperatorAccount.h"

#include "access/Password.h"
#include "store/Database.h"
#include "store/Statements.h"

#include <QFileInfo>

namespace access {

const QString kRecoveryLevel = QStringLiteral("超级权限");

namespace {
// The operator window's limits.
constexpr int kMaxName = 5;
} // namespace

QStringList knownLevels()
{
    return {QStringLiteral("只能添加"), QStringLiteral("不能修改"), QStringLiteral("可以修改"),
            QStringLiteral("超级权限!"), QStringLiteral("超级权限"), QStringLiteral("只能修改")};
}

AccountChange setOperatorAccount(const QString &path, const QString &name, const QString &password,
                                 const QString &level, const store::Actor &actor)
{
    const QString trimmed = trimBlanks(name);
    if (trimmed.isEmpty())
        throw store::StoreError(QStringLiteral("操作员姓名不能为空。"));
    if (trimmed.contains(QLatin1Char('\'')))
        throw store::StoreError(QStringLiteral("操作员姓名之中有特殊字符<'>,请删除。"));
    if (const QString problem = passwordProblem(password); !problem.isEmpty())
        throw store::StoreError(problem);
    if (!knownLevels().contains(level))
        throw store::StoreError(QStringLiteral("权限“%1”不是系统认识的权限。可用的权限：%2")
                                    .arg(level, knownLevels().join(QStringLiteral("、"))));
    if (!store::isServerAddress(path) && !QFileInfo(path).isFile())
        throw store::StoreError(QStringLiteral("找不到病案数据库文件“%1”。").arg(path));

    store::Connection c(path);
    if (!store::isArchive(c))
        throw store::StoreError(
            QStringLiteral("文件“%1”不是病案数据库（其中没有本系统的数据表），未作任何修改。").arg(path));

    // The hash takes a moment: made before the write lock is taken.
    const QString stored = hashedForm(password);
    store::Transaction t(c);
    AccountChange change = AccountChange::Reset;
    const QVector<store::OperatorRow> named = store::readOperatorsNamed(c, trimmed);
    QStringList variants;
    int reset = 0;
    for (const store::OperatorRow &row : named) {
        if (row.name == trimmed)
            reset += store::updateOperatorRow(c, row.rowId, stored, level);
        else if (!variants.contains(row.name))
            variants << row.name;
    }
    if (reset == 0 && !variants.isEmpty()) {
        throw store::StoreError(QStringLiteral("没有名为“%1”的操作员，只有字母大小写不同的：%2。"
                                               "请照原样写出要重设的那一个，什么也没有修改。")
                                    .arg(trimmed, variants.join(QStringLiteral("、"))));
    }
    if (reset == 0) {
        // A new operator keeps to the window's length limit; an existing one may be reset
        // whatever its name, since rows delivered with an archive may be longer.
        if (trimmed.size() > kMaxName)
            throw store::StoreError(QStringLiteral("新操作员的姓名最长 %1 个字符。").arg(kMaxName));
        store::insertOperator(c, trimmed, stored, level);
        change = AccountChange::Added;
    }
    // What was done and to whom; never the password, not even its stored form.
    store::Change entry;
    entry.kind = change == AccountChange::Added ? store::ChangeKind::OperatorAdded : store::ChangeKind::PasswordReset;
    entry.subject = trimmed;
    entry.detail = QStringLiteral("权限：%1").arg(level);
    store::appendHistory(c, actor, entry);
    t.commit();
    return change;
}

} // namespace access
