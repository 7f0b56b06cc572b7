#include "app/ResultListModel.h"

namespace sondrel::app {

QVariant ResultListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return line(index.row());
    return {};
}

QString ResultListModel::line(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const qsizetype begin = row == 0 ? 0 : m_ends[size_t(row) - 1];
    return QString::fromUtf8(QByteArrayView(m_text).sliced(begin, m_ends[size_t(row)] - begin));
}

void ResultListModel::append(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const int row = rowCount();
    beginInsertRows({}, row, row + int(lines.size()) - 1);
    for (const QString& each : lines) {
        m_text += each.toUtf8();
        m_ends.push_back(m_text.size());
    }
    endInsertRows();
}

void ResultListModel::clear()
{
    beginResetModel();
    m_text.clear();
    m_text.squeeze();
    m_ends.clear();
    m_ends.shrink_to_fit();
    endResetModel();
}

} // namespace sondrel::app
