#include "app/frmSplash.h"

#include "access/frmLogin.h"
#include "common/Installation.h"
#include "common/Module1.h"
#include "platform/Desktop.h"
#include "platform/Twips.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

namespace {
constexpr int kBorder = 1; // the thin fixed border around the client area
const QSize kBannerSize(491, 302);
} // namespace

frmSplash::frmSplash(QWidget *parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_banner = new QSvgRenderer(QStringLiteral(":/banner.svg"), this);

    const QSize client(platform::tw(7365), platform::tw(4380));
    setFixedSize(client + QSize(2 * kBorder, 2 * kBorder));
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - rect().center());

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(4000);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);

    Form_Load();
    Timer1->start();
}

frmSplash::~frmSplash() = default;

QStringList frmSplash::registrationCommands(const QString &systemFolder, const QString &programFolder)
{
    const QString drive = systemFolder.left(2);
    const QString files[][2] = {
        {systemFolder, QStringLiteral("\\dao350.dll")},
        {systemFolder, QStringLiteral("\\msde.dll")},
        {systemFolder, QStringLiteral("\\Msdbrptr.dll")},
        {drive, QStringLiteral("\\Program Files\\Common Files\\DESIGNER\\MSDERUN.DLL")},
        {systemFolder, QStringLiteral("\\MSSTDFMT.DLL")},
        {systemFolder, QStringLiteral("\\MSDATREP.OCX")},
        {systemFolder, QStringLiteral("\\MSBIND.DLL")},
        {programFolder, QStringLiteral("\\SPR32X60.ocx")},
    };
    QStringList commands;
    for (const auto &f : files)
        commands << QStringLiteral("regsvr32 /s ") + f[0] + f[1];
    return commands;
}

void frmSplash::Form_Load()
{
    // The components are registered only where the installer left its marker file:
    // beside the program, or in the machine's folder for an installed program.
    const QString folder = app::installationFolder();
    if (!QFileInfo(QDir(folder).filePath(QStringLiteral("INFORMATION.INI"))).isFile())
        return;
    const QString systemFolder = platform::systemFolder().trimmed();
    for (const QString &command : registrationCommands(systemFolder, QDir::toNativeSeparators(folder)))
        platform::startDetached(command); // a command that cannot start is skipped
}

void frmSplash::Timer1_Timer()
{
    if (m_done)
        return;
    m_done = true;
    Timer1->stop();
    // The login shows before the splash closes: with no window open in between the
    // program would end.
    auto *login = new frmLogin;
    login->setAttribute(Qt::WA_DeleteOnClose);
    login->show();
    close();
}

void frmSplash::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(96, 96, 96)); // the border
    const QRect client = rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
    p.fillRect(client, Qt::black);
    p.setClipRect(client);
    m_banner->render(&p, QRectF(client.topLeft(), kBannerSize));
}

void frmSplash::closeEvent(QCloseEvent *event)
{
    // The splash takes no input: only its own timer (or the program ending) closes it.
    if (!m_done && event->spontaneous() && !app::ProgramEnding()) {
        event->ignore();
        return;
    }
    m_done = true;
    Timer1->stop();
    QWidget::closeEvent(event);
}
