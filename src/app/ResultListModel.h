#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace sondrel::app {

// The result list's lines. Lighter than item widgets, so a long run keeps its memory small.
class ResultListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_lines.size()); }
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QString& line);
    void clear();
    const QStringList& lines() const { return m_lines; }

private:
    QStringList m_lines;
};

} // namespace sondrel::app
