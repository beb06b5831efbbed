#include "access/frmLogin.h"

#include "access/Password.h"
#include "common/Installation.h"
#include "common/EarlierArchive.h"
#include "common/CurrentOperator.h"
#include "common/Module1.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/Twips.h"
#include "store/Database.h"
#include "store/Settings.h"
#include "store/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QFocusEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

namespace {
const QColor kLinkColour(0, 128, 0);
const QColor kLinkHoverColour(255, 0, 0);
const QColor kNameBoxColour(37, 148, 160);
const QString kSection = QStringLiteral("Login");
} // namespace

std::function<void()> frmLogin::openMainWindow;

frmLogin::frmLogin(QWidget *parent) : QDialog(parent)
{
    platform::setUpFixedDialog(this, QStringLiteral("frmLogin"), QStringLiteral("登录   （初使登录密码为空）"));
    buildControls();
    Form_Load();
}

frmLogin::~frmLogin() = default;

void frmLogin::buildControls()
{
    using platform::place;
    using platform::placeAutoSize;

    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setPixmap(QIcon(QStringLiteral(":/icons/login.svg")).pixmap(16, 16));
    place(Picture1, 300, 420, 240, 240);

    lblLabels[0] = new QLabel(QStringLiteral("用户名(&U):"), this);
    lblLabels[0]->setObjectName(QStringLiteral("lblLabels(0)"));
    lblLabels[1] = new QLabel(QStringLiteral("密码(&P):"), this);
    lblLabels[1]->setObjectName(QStringLiteral("lblLabels(1)"));

    UserTxt = new QComboBox(this);
    UserTxt->setObjectName(QStringLiteral("UserTxt"));
    UserTxt->setEditable(true);
    UserTxt->setInsertPolicy(QComboBox::NoInsert); // typing a name never adds an operator
    platform::setColors(UserTxt, kNameBoxColour, Qt::white);
    UserTxt->setEditText(QStringLiteral("UserTxt"));
    place(UserTxt, 1680, 420, 2325, 300);

    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPassword->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    platform::setColors(txtPassword, Qt::white, Qt::black);
    place(txtPassword, 1680, 840, 2325, 300);

    lblLabels[0]->setBuddy(UserTxt);
    lblLabels[1]->setBuddy(txtPassword);
    placeAutoSize(lblLabels[0], 645, 480);
    placeAutoSize(lblLabels[1], 825, 915);
    // The captions stand right-aligned against the boxes, as their twip columns do.
    for (QLabel *l : lblLabels) {
        const int right = platform::tw(1545);
        if (l->geometry().right() + 1 > right)
            l->move(qMax(0, right - l->width()), l->y());
    }
    lblLabels[0]->move(lblLabels[0]->x(), UserTxt->y() + (UserTxt->height() - lblLabels[0]->height()) / 2);
    lblLabels[1]->move(lblLabels[1]->x(), txtPassword->y() + (txtPassword->height() - lblLabels[1]->height()) / 2);

    cmdOK = new QPushButton(QStringLiteral("确定(O)"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    place(cmdOK, 4260, 330, 1170, 390);

    cmdCancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setAutoDefault(false);
    place(cmdCancel, 4260, 810, 1170, 390);

    Label1 = new QLabel(QStringLiteral("网址："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeAutoSize(Label1, 1170, 1380);

    www = new QLabel(QStringLiteral("  ") + app::WebAddress() + QStringLiteral("  "), this);
    www->setObjectName(QStringLiteral("www"));
    www->setTextFormat(Qt::PlainText);
    www->setFont(platform::songFont(9));
    www->setCursor(Qt::PointingHandCursor);
    platform::setTextColor(www, kLinkColour);
    placeAutoSize(www, 1740, 1380);
    www->resize(qMax(www->width(), platform::tw(1710)), www->height());
    www->installEventFilter(this);

    setTabOrder(txtPassword, UserTxt);
    setTabOrder(UserTxt, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    txtPassword->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
    connect(UserTxt, &QComboBox::activated, this, &frmLogin::UserTxt_Click);
    UserTxt->installEventFilter(this);
    if (UserTxt->lineEdit())
        UserTxt->lineEdit()->installEventFilter(this);

    // The client area is 5760 × 1620 twips, grown where the CJK captions need room.
    const QRect used = childrenRect();
    setFixedSize(qMax(platform::tw(5760), used.right() + 1 + platform::tw(150)),
                 qMax(platform::tw(1620), used.bottom() + 1 + platform::tw(90)));
    if (QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());
}

void frmLogin::Form_Load()
{
    app::LocateDatabase(QString());

    // Each step skips its own failure: a missing or unreadable archive leaves the
    // list empty and the name box showing its initial text. The operator is told once
    // which archive could not be read and why; otherwise every password would simply
    // be refused.
    QVector<store::OperatorRow> rows;
    QString failure;
    try {
        store::Connection c(app::DbPath);
        rows = store::readOperators(c);
    } catch (const store::StoreError &e) {
        failure = e.description();
    }
    if (!failure.isEmpty() && !app::DatabaseProblemReported())
        platform::message(this,
                          QStringLiteral("无法读取病案数据库“%1”中的操作员，不能登录。\n\n%2")
                                  .arg(store::maskPasswords(app::DbPath), failure)
                              + app::archiveSetupAdvice(app::DbPath) // no archive yet: how to make one
                              + app::earlierArchiveAdvice(app::DbPath), // the earlier system's: how to import it
                          QStringLiteral("登录"), platform::Buttons::Ok, platform::Icon::Critical);

    // Every operator is listed: one left off could be added and never log in.
    for (const store::OperatorRow &r : std::as_const(rows)) {
        m_operators.push_back({r.name, r.password, r.authority, r.rowId});
        UserTxt->addItem(r.name);
    }
    if (!rows.isEmpty())
        UserTxt->setCurrentIndex(0);
    else
        UserTxt->setEditText(QStringLiteral("UserTxt"));
    m_attempt = 1;
}

void frmLogin::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_activated) {
        m_activated = true;
        raise();
        activateWindow();
        txtPassword->setFocus();
    }
}

int frmLogin::selectedPosition() const
{
    // The entry the operator sees chosen; a name typed into the box counts only when it
    // is one of the listed names, exactly.
    const QString shown = UserTxt->currentText();
    const int current = UserTxt->currentIndex();
    if (current >= 0 && UserTxt->itemText(current) == shown)
        return current;
    return UserTxt->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void frmLogin::cmdOK_Click()
{
    if (m_checking)
        return;
    const int p = selectedPosition();
    // The row as it is now, not as it was when the window opened: an operator deleted,
    // given another password or another level since then logs in as the archive says now.
    std::optional<Operator> now;
    if (p >= 0 && p < m_operators.size()) {
        const Operator &listed = m_operators.at(p);
        try {
            store::Connection c(app::DbPath);
            if (const std::optional<store::OperatorRow> row = store::readOperatorRow(c, listed.rowId);
                row && row->name == listed.name)
                now = Operator{row->name, row->password, row->authority, row->rowId};
        } catch (const store::StoreError &e) {
            platform::message(this,
                              QStringLiteral("无法读取病案数据库“%1”中的操作员，不能登录。\n\n%2")
                                  .arg(store::maskPasswords(app::DbPath), e.description()),
                              QStringLiteral("登录"), platform::Buttons::Ok, platform::Icon::Critical);
            return;
        }
    }
    // A name that selects no entry, or one whose row has gone, is answered like a wrong
    // password, so the box tells nobody which names exist, and the attempt counts.
    QString replacement; // the hash that replaces a password of an earlier form
    if (!now || !checkOffThread(txtPassword->text(), now->password, replacement)) {
        loginFailed();
        return;
    }

    app::CurrentAuthority = now->authority;
    app::CurrentOperator = now->name;
    platform::BusyCursor busy;
    if (!replacement.isEmpty())
        upgradeStoredPassword(*now, replacement);
    // The main window is shown before this one closes, so the program never runs
    // without a window in between.
    if (openMainWindow)
        openMainWindow();
    close();
}

bool frmLogin::checkOffThread(const QString &typed, const QString &stored, QString &replacement)
{
    // A hash takes a fraction of a second by design, and one read from the archive could
    // ask for more: it is checked (and one for an earlier form made) on a thread of its own
    // while the window keeps painting and takes no input.
    platform::BusyCursor busy;
    bool matches = false;
    QEventLoop wait;
    QThread *worker = QThread::create([&matches, &replacement, typed, stored] {
        matches = access::passwordMatches(typed, stored);
        if (matches && !access::isUpToDate(stored)) {
            try {
                replacement = access::hashedForm(typed);
            } catch (const store::StoreError &) {
                // Out of memory: the earlier form stays, and still opens.
            }
        }
    });
    connect(worker, &QThread::finished, &wait, &QEventLoop::quit);
    m_checking = true;
    const QList<QWidget *> controls{UserTxt, txtPassword, cmdOK, cmdCancel};
    for (QWidget *w : controls)
        w->setEnabled(false);
    worker->start();
    wait.exec();
    worker->wait();
    delete worker;
    for (QWidget *w : controls)
        w->setEnabled(true);
    m_checking = false;
    return matches;
}

void frmLogin::upgradeStoredPassword(const Operator &op, const QString &hashed)
{
    // The password just opened the account, so its hash replaces the earlier form, in a
    // small transaction of its own. Any failure (a read-only archive, a server role
    // without the right, a lock held too long) leaves the earlier form, which still opens,
    // and the login goes on without a word; the next login tries again.
    try {
        store::Connection c(app::DbPath);
        store::Transaction t(c);
        store::replaceOperatorPassword(c, op.rowId, op.password, hashed);
        t.commit();
    } catch (const store::StoreError &) {
    }
}

void frmLogin::loginFailed()
{
    platform::message(this, QStringLiteral("无效的密码，再试一次！"), QStringLiteral("登录"),
                      platform::Buttons::Ok, platform::Icon::Question);
    ++m_attempt;
    if (m_attempt > 3) {
        platform::message(this, QStringLiteral("对不起，您不能使用该系统！"), QStringLiteral("登录失败"),
                          platform::Buttons::Ok, platform::Icon::Information);
        close();
        return;
    }
    txtPassword->setFocus();
    txtPassword->selectAll();
}

void frmLogin::cmdCancel_Click() { close(); }

void frmLogin::UserTxt_Click()
{
    // Choosing a name moves on to the password.
    txtPassword->setFocus(Qt::TabFocusReason);
}

void frmLogin::www_Click() { platform::openWithDesktop(app::WebAddress()); }

bool frmLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == www) {
        switch (event->type()) {
        case QEvent::Enter:
            platform::setTextColor(www, kLinkHoverColour);
            break;
        case QEvent::Leave:
            platform::setTextColor(www, kLinkColour);
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
                && www->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint()))
                www_Click();
            break;
        default:
            break;
        }
    } else if ((watched == UserTxt || (UserTxt && watched == UserTxt->lineEdit()))
               && event->type() == QEvent::FocusOut) {
        // Leaving the name box always leads to the password box (its own drop-down
        // list and a switch to another program do not count as leaving).
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            QTimer::singleShot(0, txtPassword, [this] {
                QWidget *now = QApplication::focusWidget();
                if (isVisible() && now != UserTxt && (!UserTxt->lineEdit() || now != UserTxt->lineEdit()))
                    txtPassword->setFocus(Qt::OtherFocusReason);
            });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmLogin::storePosition()
{
    if (m_positionStored)
        return;
    m_positionStored = true;
    settings::writePosition(kSection, pos());
}

void frmLogin::done(int result)
{
    if (m_checking)
        return; // closed again once the check has come back
    // Every way of closing (the buttons, Esc, the close box, the third failure) comes here.
    storePosition();
    QDialog::done(result);
}
