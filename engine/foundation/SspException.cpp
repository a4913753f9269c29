#include "engine/foundation/SspException.h"

#include <utility>

CSspException::CSspException(const char* text, const char* position)
    : m_message(text ? text : ""), m_position(position) {}

CSspException::CSspException(std::string text, const char* position)
    : m_message(std::move(text)), m_position(position) {}
