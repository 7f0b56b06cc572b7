#pragma once

#include "platform/ConnectionService.h"

namespace sondrel::core {

// Makes sure a connection exists before a check or an e-mail; every failure gives false.
bool openinternetconnection(platform::ConnectionService& service);
// Hangs up an automatically made connection; every failure gives false.
bool hangupinternetconnection(platform::ConnectionService& service);

} // namespace sondrel::core
