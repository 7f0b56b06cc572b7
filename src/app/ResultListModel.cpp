#include "app/ResultListModel.h"

namespace sondrel::app {

QVariant ResultListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_lines.at(index.row());
    return {};
}

void ResultListModel::append(const QString& line)
{
    const int row = int(m_lines.size());
    beginInsertRows({}, row, row);
    m_lines.append(line);
    endInsertRows();
}

void ResultListModel::clear()
{
    beginResetModel();
    m_lines.clear();
    m_lines.squeeze();
    endResetModel();
}

} // namespace sondrel::app
