// Named values kept by an object that scripts can store variables in (a session, an
// application, the server). Names are matched without regard to case. Not locked: the
// owner holds its own lock around every call.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "engine/foundation/SspValue.h"

class CSspCall;

class CSspVarTable {
public:
    // The value stored under name, or nullptr.
    CSspValue* Find(std::string_view name);
    const CSspValue* Find(std::string_view name) const;
    bool Has(std::string_view name) const { return Find(name) != nullptr; }

    // Stores a copy of value; an existing variable keeps its slot.
    void Set(std::string_view name, const CSspValue& value);
    void Clear() { m_vars.clear(); }

    // The Var member of every variable-keeping object: Var(name) or Var(name, default).
    // A missing variable without a default raises notDefinedText followed by the member name.
    void ReadVar(const CSspCall& call, CSspValue& result, const char* notDefinedText) const;
    // A member name that is no member of the owner reads the variable of that name; a missing
    // one raises notDefinedText followed by the name.
    void ReadNamedVar(const CSspCall& call, CSspValue& result, const char* notDefinedText) const;
    // The SetVar member stores call's second argument under its first. Any other count than
    // two raises its own text, not "Missing parameter.".
    void SetVar(const CSspCall& call);
    static void CheckSetVarCount(const CSspCall& call);

private:
    std::map<std::string, std::unique_ptr<CSspValue>> m_vars;  // keys lower-cased
};
