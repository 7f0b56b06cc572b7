#pragma once

#include <QAbstractItemModel>
#include <QListView>
#include <QObject>
#include <QStringList>
#include <QtTest>

namespace sondrel::test {

// A window's control by its object name, as outside checks find it; the test stops when there is none.
template <typename Control> Control* control(const QObject& window, const char* name)
{
    Control* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control named %s", name);
    return found;
}

// The lines of the main window's result list.
inline QStringList resultLines(const QObject& window)
{
    const QAbstractItemModel* model = control<QListView>(window, "List1")->model();
    QStringList lines;
    for (int row = 0; row < model->rowCount(); ++row)
        lines.append(model->index(row, 0).data().toString());
    return lines;
}

} // namespace sondrel::test
