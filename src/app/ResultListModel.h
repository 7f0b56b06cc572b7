#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QStringList>

#include <vector>

namespace sondrel::app {

// The result list's lines, kept compactly: all of them in one UTF-8 buffer with the end of each, so that a
// run of weeks keeps every line in well under 200 bytes apiece. Appending never touches earlier lines.
class ResultListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_ends.size()); }
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QStringList& lines);
    void clear();
    QString line(int row) const;

private:
    QByteArray m_text;
    std::vector<qsizetype> m_ends; // where each line ends in m_text
};

} // namespace sondrel::app
