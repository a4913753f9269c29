// One page of the settings sheet over the sheet's working copy. A page fills its controls from
// the copy when it is first shown and writes them back when the sheet asks; a page never shown
// writes nothing, so its values stay as loaded.
#pragma once

#include <QWidget>

class CServerSettings;

class CSettingsPage : public QWidget {
public:
    CSettingsPage(QWidget* parent, CServerSettings& settings)
        : QWidget(parent), m_settings(settings) {}

    // Called each time the page becomes the current one.
    void Activate() {
        if (!m_shown) {
            m_shown = true;
            ReadSettings();
        }
        OnActivate();
    }
    bool WasShown() const { return m_shown; }
    // Writes the controls into the copy; false (after telling the user) when a value is refused.
    virtual bool WriteSettings() = 0;

protected:
    virtual void ReadSettings() = 0;
    virtual void OnActivate() {}

    CServerSettings& m_settings;

private:
    bool m_shown = false;
};
