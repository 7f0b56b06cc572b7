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
    // The list view lays out every row again on each append and asks for each row's index twice while doing so:
    // answered here without the base class's virtual row and column counts, that pass stays cheap however
    // long the list grows.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override
    {
        if (column != 0 || row < 0 || size_t(row) >= m_ends.size() || parent.isValid())
            return {};
        return createIndex(row, 0);
    }
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QStringList& lines);
    void clear();
    QString line(int row) const;

private:
    QByteArray m_text;
    std::vector<qsizetype> m_ends; // where each line ends in m_text
};

} // namespace sondrel::app
