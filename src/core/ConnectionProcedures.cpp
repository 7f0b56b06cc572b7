#include "core/ConnectionProcedures.h"

namespace sondrel::core {

bool openinternetconnection(platform::ConnectionService& service)
{
    try {
        return service.attemptConnect();
    } catch (...) {
        return false;
    }
}

bool hangupinternetconnection(platform::ConnectionService& service)
{
    try {
        return service.hangUp();
    } catch (...) {
        return false;
    }
}

} // namespace sondrel::core
