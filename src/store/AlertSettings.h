#pragma once

#include <QString>

#include <array>
#include <optional>

namespace sondrel::store {

// How one site slot alerts: every value off or neutral by default, so a slot without alert settings e-mails
// exactly as it always has.
struct AlertSettings {
    int failuresBeforeAlert = 1;     // failed checks in a row before the ping counts as failing
    bool sendRecoveryNotice = false; // e-mail when a site reported down answers again
    int successesBeforeRecovery = 1; // good checks in a row before it counts as answering again
    int remindMinutes = 0;           // resend the down notice this often while it stays down; 0: never
    int slowMs = 0;                  // a trip time or page fetch above this is slow; 0: never
    int certificateDays = 0;         // warn this many days before the site's certificate expires; 0: never

    friend bool operator==(const AlertSettings&, const AlertSettings&) = default;
};

} // namespace sondrel::store
