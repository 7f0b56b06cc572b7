#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace sondrel::core {

// Decides when the site turns slow and when it is fast again, from what each check measured. A check is slow when
// its trip time or its page fetch took longer than the limit; fast when everything it was to measure arrived within
// the limit; and neither when something failed and nothing was slow, so that a failure neither adds to nor breaks a
// run of slow or fast checks. The site turns slow after `inARow` slow checks in a row, and fast again after as many
// fast checks in a row.
class SlownessWatch {
public:
    struct Check {
        std::optional<qint64> tripMs;      // the echo's trip time; none when the echo failed
        std::optional<qint64> pageFetchMs; // request to last byte; none when the whole page did not arrive
        bool pageChecked = false;          // the check was to fetch the page
    };
    struct Change {
        bool slow = false;
        QString detail; // what was measured, as "trip time 850 ms over 500 ms in 3 checks in a row"
    };

    // Takes one check; returns the change when the site has just turned slow or fast again. A limit of 0 or less
    // watches nothing and forgets what was seen, without telling.
    std::optional<Change> add(const Check& check, int limitMs, int inARow);
    bool isSlow() const { return m_slow; }

private:
    bool m_slow = false;
    int m_run = 0; // checks in a row that point away from the current state
};

} // namespace sondrel::core
