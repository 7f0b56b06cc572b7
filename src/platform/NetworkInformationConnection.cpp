#include "platform/NetworkInformationConnection.h"

#include <QNetworkInformation>

namespace sondrel::platform {

bool NetworkInformationConnection::attemptConnect()
{
    try {
        auto* info = QNetworkInformation::instance();
        if (!info) {
            if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
                return true;
            info = QNetworkInformation::instance();
        }
        if (!info)
            return true;
        return info->reachability() != QNetworkInformation::Reachability::Disconnected;
    } catch (...) {
        return false;
    }
}

} // namespace sondrel::platform
