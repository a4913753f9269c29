#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/script/SspVarTable.h"

class CSspCall;
class CSspValue;

// One web application (a URL prefix) and the variables that all its users share; made by a
// page's App.Init and kept by the server context until it is cleared.
//
// Thread-safety: CallMethod takes the application's own lock for its whole run. Callers
// find the application under the server context's lock and call it while holding that lock
// (context before application), so UseDataSource may re-enter the context.
class CSspApplication {
public:
    explicit CSspApplication(std::string name) : m_strName(std::move(name)) {}
    CSspApplication(const CSspApplication&) = delete;
    CSspApplication& operator=(const CSspApplication&) = delete;

    // The URL prefix.
    const std::string& GetName() const { return m_strName; }

    // The App members other than Init and IsValid: UseDataSource (registers the connection
    // text for the prefix through the installed server link; text "1"), SetVar, VarExist, Var,
    // and a bare name reading the variable. Errors are CSspException at the call's position.
    void CallMethod(CSspCall& call, CSspValue& result);

private:
    // The member table and its handlers.
    struct CMembers;

    const std::string m_strName;
    std::mutex m_lock;  // guards m_vars
    CSspVarTable m_vars;
};
