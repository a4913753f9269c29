#pragma once

#include <string>

#include "engine/foundation/SspCall.h"
#include "engine/script/SspObject.h"

// A declared `array` object: a list of script values of any type, indexed from 0. Made by
// "array a;" (empty) or "array a = f();" (filled by the function's return); it belongs to one
// run on one thread and takes no lock.
class CSspArray : public CSspObject {
public:
    CSspArray() = default;
    explicit CSspArray(std::string name) : m_strName(std::move(name)) {}

    // Runs call.m_strMember (any case): GetSize, SetSize(size[, grow by]), GetAt(index),
    // SetAt(index, value), Add(value), InsertAt(index, value), RemoveAt(index). The result is
    // the integer 0 first; members without a value of their own give 1. Indexes are the
    // argument's text read with atoi. Errors at the call's position: too few arguments
    // "Missing parameter."; an index outside 0 .. size-1 "Array index %d out of bound. Valid:
    // 0 - %d"; memory that cannot be had "Out of memory"; any other member "Unknown array
    // function: " and the name. A failed member leaves the array as it was, but a failed SetSize
    // keeps only the NULL slots made before memory ran out.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // Deletes every element.
    void RemoveAll() { m_elements.clear(); }

    std::string m_strName;
    // Every slot holds a value; a new slot starts as NULL.
    CSspValueList m_elements;
};
