// A console installation for the window tests: the test root with its settings store, the
// settings loaded by the console's rules, the server's control over the fake service manager,
// a resolver that knows no names, and a profile of its own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/ServerControl.h"
#include "console/tests/ConsoleTestRoot.h"
#include "console/window/ConsoleContext.h"
#include "console/window/ViewProfile.h"
#include "engine/settings/ServerSettings.h"

class CWindowFixture {
public:
    explicit CWindowFixture(const std::vector<std::string>& settings = {});

    CConsoleTestRoot& Root() { return m_root; }
    CServerSettings& Settings() { return *m_settings; }
    CServerControl& Control() { return m_control; }
    CConsoleContext& Context() { return m_context; }
    CViewProfile Profile() const { return CViewProfile(m_root.Path("profile.conf")); }
    // The settings as the store holds them now.
    std::unique_ptr<CServerSettings> Stored() const;
    // A value as the store holds it, without the console's corrections; nullopt when missing.
    std::optional<std::string> StoredText(const std::string& name) const;
    // Starts the real server of the root and waits until it answers.
    void StartServer();

private:
    CConsoleTestRoot m_root;
    std::unique_ptr<CServerSettings> m_settings;
    CServerControl m_control;
    CConsoleContext m_context;
};

// Runs the event loop for a while, or until `done` says so.
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000);
