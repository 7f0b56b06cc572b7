#include "platform/SystemMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace sondrel::platform {

void SystemMessageBoxes::show(const QString& text, const QString& title, MessageIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    if (icon == MessageIcon::Information)
        boxIcon = QMessageBox::Information;
    else if (icon == MessageIcon::Exclamation)
        boxIcon = QMessageBox::Warning;
    QMessageBox box(boxIcon, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace sondrel::platform
