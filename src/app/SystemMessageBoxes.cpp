#include "app/SystemMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace sondrel::app {

namespace {

QMessageBox::Icon boxIcon(platform::MessageIcon icon)
{
    if (icon == platform::MessageIcon::Information)
        return QMessageBox::Information;
    if (icon == platform::MessageIcon::Exclamation)
        return QMessageBox::Warning;
    return QMessageBox::NoIcon;
}

} // namespace

void SystemMessageBoxes::show(const QString& text, const QString& title, platform::MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool SystemMessageBoxes::ask(const QString& text, const QString& title, platform::MessageIcon icon)
{
    QMessageBox box(boxIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace sondrel::app
