#include "app/SiteFilterModel.h"

namespace sondrel::app {

SiteFilterModel::SiteFilterModel(SiteListModel& sites, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_sites(sites)
{
    setSourceModel(&sites);
}

void SiteFilterModel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    invalidateRowsFilter();
}

void SiteFilterModel::setState(std::optional<SiteState> state)
{
    if (state == m_state)
        return;
    m_state = state;
    invalidateRowsFilter();
}

int SiteFilterModel::siteAt(int row) const
{
    return m_sites.siteAt(mapToSource(index(row, 0)).row());
}

bool SiteFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return m_sites.matches(sourceRow, m_text, m_state);
}

bool SiteFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return m_sites.lessThan(left.row(), right.row(), left.column());
}

} // namespace sondrel::app
