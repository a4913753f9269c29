#pragma once

#include <string>
#include <string_view>
#include <vector>

class CSspObject;

// The process-wide built-in objects, found by name (ASCII case-insensitive) by the evaluator.
// Names: "String", "To", "Server" (its own members), and "" for the global functions (a
// reference without "."). The interpreter's built-in names (arg, Local, Request, Response,
// Session, App, SessMan) are resolved before this table, declared objects after it.
//
// The instances are listed once in SspObjectRegistry.cpp (a static library would drop
// self-registering objects nobody references). Register() adds or replaces an entry at run
// time, for objects that live in later libraries (the server context's members) and tests.
// Thread-safety: Register() only at start-up, before any script runs; Find() from any thread.
class CSspObjectRegistry {
public:
    static CSspObjectRegistry& Instance();

    void Register(std::string_view name, CSspObject* object);
    // nullptr when no object has the name.
    CSspObject* Find(std::string_view name) const;

private:
    CSspObjectRegistry();
    struct Entry {
        std::string m_name;
        CSspObject* m_pObject;
    };
    std::vector<Entry> m_entries;
};
