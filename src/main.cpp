#include "app/Main.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Lets the desktop match the windows to the menu entry, and gives every window the
    // program's own icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("casearchive"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    return app::Main();
}
