#include "app/Application.h"

#include "app/MainWindow.h"
#include "platform/SystemServices.h"

#include <QApplication>

namespace sondrel::app {

int runApplication(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral("1.2"));
    QApplication::setQuitOnLastWindowClosed(false);

    platform::SystemServices system;
    MainWindow window(system.services(), QApplication::applicationDirPath());
    window.show();
    return QApplication::exec();
}

} // namespace sondrel::app
