#pragma once

#include <string_view>

#include "engine/script/SspObject.h"

class CSspValue;

// What a run needs of its HTTP response: the output it writes and the script members of
// `Response`. The web layer's response implements it; the test harness keeps the output in
// memory.
class CSspResponseObject : public CSspObject {
public:
    ~CSspResponseObject() override = default;

    // Appends literal page text, byte for byte.
    virtual void WriteText(std::string_view text) = 0;
    // Appends a value as a `write` statement or a "--{ }--" block shows it.
    virtual void WriteValue(const CSspValue& value) = 0;
    // Ends the output of a top-level run.
    virtual void CloseOutput() {}
};
