#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CSspObject;

// Makes a new, unbound declared object named `name` for a declaration keyword whose object
// lives in a later library (email_in, email_out).
using CSspDeclarationMaker = std::unique_ptr<CSspObject> (*)(const std::string& name);

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

    // The maker of "email_in" and "email_out" objects; a declaration without one raises the
    // unknown-object text. Register at start-up, as Register.
    void RegisterDeclaration(std::string_view keyword, CSspDeclarationMaker maker);
    CSspDeclarationMaker FindDeclaration(std::string_view keyword) const;

private:
    CSspObjectRegistry();
    struct Entry {
        std::string m_name;
        CSspObject* m_pObject;
    };
    std::vector<Entry> m_entries;
    struct Maker {
        std::string m_keyword;
        CSspDeclarationMaker m_maker;
    };
    std::vector<Maker> m_makers;
};
