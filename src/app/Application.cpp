#include "app/Application.h"

#include <QApplication>

namespace sondrel::app {

int runApplication(int argc, char* argv[])
{
    QApplication application(argc, argv);
    return 0;
}

} // namespace sondrel::app
