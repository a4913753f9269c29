#pragma once

// The engine's fixed user-visible texts, one member per message, read directly by name
// (g_msg.m_outOfMemory). The members and their texts both come from EngineMessages.inc.
//
// The table is constant-initialised: its texts are usable from any static initialiser and
// from any thread, with no start-up order to respect, and they never change.
struct CEngineMessages {
#define VELMORIN_ENGINE_MSG(member, text) const char* member = text;
#define VELMORIN_STUDIO_MSG(member, text) const char* member = text;
#include "engine/foundation/EngineMessages.inc"
#undef VELMORIN_ENGINE_MSG
#undef VELMORIN_STUDIO_MSG
};

extern constinit const CEngineMessages g_msg;
