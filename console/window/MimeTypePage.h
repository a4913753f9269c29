// The Mime Type page: the map from file extension to content type, and the text encoding.
// New, Edit and Delete change the copy's map at once and mark it changed.
#pragma once

#include <functional>
#include <string>

#include "console/window/SettingsPage.h"

class CMimeTypeDlg;
class QLineEdit;
class QTreeWidget;

class CMimeTypePage : public CSettingsPage {
public:
    // Runs the dialog; true for OK. Tests fill the dialog and answer instead.
    using DialogRunner = std::function<bool(CMimeTypeDlg& dialog)>;

    CMimeTypePage(QWidget* parent, CServerSettings& settings);

    bool WriteSettings() override;
    void OnNew();
    void OnEdit();
    void OnDelete();
    void OnServerDefault();
    void SetDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    QTreeWidget* List() const { return m_list; }
    QLineEdit* Encoding() const { return m_encoding; }

protected:
    void ReadSettings() override;
    // The columns share the list's width: a third for the extension.
    void OnActivate() override;

private:
    void InsertRow(const std::string& extension, const std::string& contentType);

    QTreeWidget* m_list;
    QLineEdit* m_encoding;
    DialogRunner m_runDialog;
};
