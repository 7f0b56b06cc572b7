#pragma once

#include <QRect>
#include <QString>

namespace sondrel::app {

// Window layouts are designed in twips; the screen has 15 twips per pixel.
inline QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// Names a control after its design name and puts it at its designed place.
template <typename Widget> Widget* place(Widget* widget, const char* name, QRect geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

} // namespace sondrel::app
