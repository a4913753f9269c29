#include "engine/foundation/EngineMessages.h"

constinit const CEngineMessages g_msg{};
