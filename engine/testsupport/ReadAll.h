// Everything a loopback connection receives until its peer closes (or an error).
#pragma once

#include <string>

#include "engine/foundation/SocketConn.h"

std::string ReadAll(CSocketConn& conn);
