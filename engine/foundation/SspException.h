#pragma once

#include <string>

// The one error type of the engine: every script error is thrown as a CSspException by value
// and caught by the page run, which turns the position into a line and column.
class CSspException {
public:
    // Copies the text (a null text gives an empty message) and keeps the position, a pointer
    // into the source text being run where the error was found, or nullptr where the thrower
    // has none. The position is never dereferenced here.
    CSspException(const char* text, const char* position = nullptr);
    CSspException(std::string text, const char* position = nullptr);

    CSspException(const CSspException&) = default;
    CSspException& operator=(const CSspException&) = default;

    // The full text shown to the user.
    const std::string& Message() const { return m_message; }

    // Where in the running source the error was found, or nullptr.
    const char* Position() const { return m_position; }

private:
    std::string m_message;
    const char* m_position;
};
