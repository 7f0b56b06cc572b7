#pragma once

#include "app/SiteListModel.h"

#include <QSortFilterProxyModel>

#include <optional>

namespace sondrel::app {

// The Sites window's view of the site list: the rows that show a text in their number, address or last result and
// have a state, in the order of any column. It compares the rows' own values rather than their display texts, so
// that sorting and filtering ten thousand rows stays quick.
class SiteFilterModel final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit SiteFilterModel(SiteListModel& sites, QObject* parent = nullptr);

    void setText(const QString& text);
    // No state: every state.
    void setState(std::optional<SiteState> state);
    // The site of a row of this model.
    int siteAt(int row) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    SiteListModel& m_sites;
    QString m_text;
    std::optional<SiteState> m_state;
};

} // namespace sondrel::app
