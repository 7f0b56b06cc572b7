#include "core/AlertPolicy.h"

#include <algorithm>

namespace sondrel::core {

bool AlertPolicy::record(bool failed, const Moment& when, const QString& statusText,
                         const store::AlertSettings& settings)
{
    if (failed) {
        m_successesInRow = 0;
        m_failuresInRow = std::min(m_failuresInRow + 1, 1'000'000);
        m_lastFailureStatus = statusText;
        // An outage begins with the first failure seen while the site counts as answering; failures while it
        // already counts as failing belong to the outage under way.
        if (m_pingOk && m_failuresInRow == 1)
            m_firstFailure = when;
        if (m_pingOk && m_failuresInRow >= std::max(1, settings.failuresBeforeAlert))
            m_pingOk = false;
        return m_pingOk;
    }
    m_failuresInRow = 0;
    m_successesInRow = std::min(m_successesInRow + 1, 1'000'000);
    if (m_successesInRow == 1)
        m_answeringSince = when;
    if (!m_pingOk && settings.sendRecoveryNotice && m_successesInRow >= std::max(1, settings.successesBeforeRecovery))
        m_pingOk = true;
    return m_pingOk;
}

} // namespace sondrel::core
