#include "store/SettingsText.h"

#include "platform/WholeFile.h"

namespace sondrel::store {

QByteArray withoutByteOrderMark(QByteArray text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    return text;
}

bool readSettingsText(const QString& path, QByteArray& text, QString* error)
{
    if (!platform::readWholeFile(path, text, error))
        return false;
    text = withoutByteOrderMark(std::move(text));
    return true;
}

} // namespace sondrel::store
