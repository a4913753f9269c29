#pragma once

#include "engine/foundation/SspDateTime.h"
#include "engine/script/SspObject.h"

// A declared `datetime` object: a date value that a page reads, prints and moves. The
// declaration statement makes it; it lives with the run's declared objects.
class CSspDateTimeObject : public CSspObject {
public:
    CSspDateTimeObject() = default;
    explicit CSspDateTimeObject(const CSspDateTime& value) : m_value(value) {}

    // Runs call.m_strMember (any case; an empty member gives the date value, type 9):
    // isValid, getYear .. getSecond, format/formatGmt(pattern), the printed forms, addDay /
    // addWeek / addMonth / addQuarter(n) (they change the object and give the new date
    // value) and copy(value). A missing argument raises "Missing parameter.", any other
    // member "Unknown datetime field: " and the name, at the call's position.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    CSspDateTime m_value;
};
