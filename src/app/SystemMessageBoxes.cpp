#include "app/SystemMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace sondrel::app {

void SystemMessageBoxes::show(const QString& text, const QString& title, platform::MessageIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    if (icon == platform::MessageIcon::Information)
        boxIcon = QMessageBox::Information;
    else if (icon == platform::MessageIcon::Exclamation)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace sondrel::app
