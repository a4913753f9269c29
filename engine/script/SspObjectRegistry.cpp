#include "engine/script/SspObjectRegistry.h"

#include "engine/script/SspGlobals.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspServerObject.h"
#include "engine/script/SspString.h"
#include "engine/script/SspTo.h"
#include "engine/script/SspToCipher.h"

CSspObjectRegistry& CSspObjectRegistry::Instance() {
    static CSspObjectRegistry registry;
    return registry;
}

CSspObjectRegistry::CSspObjectRegistry() {
    Register("", &g_sspGlobals);
    Register("String", &g_sspString);
    Register("To", &g_sspTo);
    InstallSspToCipher();
    Register("Server", &g_sspServer);
}

void CSspObjectRegistry::Register(std::string_view name, CSspObject* object) {
    for (Entry& entry : m_entries) {
        if (SspNameEquals(entry.m_name, name)) {
            entry.m_pObject = object;
            return;
        }
    }
    m_entries.push_back(Entry{std::string(name), object});
}

CSspObject* CSspObjectRegistry::Find(std::string_view name) const {
    for (const Entry& entry : m_entries) {
        if (SspNameEquals(entry.m_name, name)) {
            return entry.m_pObject;
        }
    }
    return nullptr;
}

void CSspObjectRegistry::RegisterDeclaration(std::string_view keyword, CSspDeclarationMaker maker) {
    for (Maker& entry : m_makers) {
        if (SspNameEquals(entry.m_keyword, keyword)) {
            entry.m_maker = maker;
            return;
        }
    }
    m_makers.push_back(Maker{std::string(keyword), maker});
}

CSspDeclarationMaker CSspObjectRegistry::FindDeclaration(std::string_view keyword) const {
    for (const Maker& entry : m_makers) {
        if (SspNameEquals(entry.m_keyword, keyword)) {
            return entry.m_maker;
        }
    }
    return nullptr;
}
