// Where the administrator chooses or creates the data source: the installed drivers, the
// data sources with their drivers, and the current choice that OK returns.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "console/DataSources.h"

class CDataSourceForm;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class CDataSourceDlg : public QDialog {
public:
    // Runs the attribute form; true for OK. Tests fill it instead.
    using FormRunner = std::function<bool(CDataSourceForm& form)>;

    // current: the data source now in use (may be empty); defaultName: "zr2" when the
    // console's own data source is set up, empty for an additional one; message: why the
    // dialog is shown.
    CDataSourceDlg(QWidget* parent, std::string root, const std::string& current,
                   std::string defaultName, const std::string& message);

    std::string Current() const;
    void OnSelect();
    void OnCreate();
    void OnCreateDefault();
    void OnConfigure();
    void SetFormRunner(FormRunner runner) { m_runForm = std::move(runner); }

    QTreeWidget* Drivers() const { return m_drivers; }
    QTreeWidget* Sources() const { return m_sources; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CreateDefaultButton() const { return m_createDefault; }
    QGroupBox* CurrentGroup() const { return m_group; }

private:
    void ListSources();
    void SetCurrent(const std::string& name);

    std::string m_root;
    std::string m_defaultName;
    std::vector<CDataSourceEntry> m_listed;
    QGroupBox* m_group;
    QLineEdit* m_current;
    QPushButton* m_configure;
    QTreeWidget* m_drivers;
    QTreeWidget* m_sources;
    QPushButton* m_createDefault;
    QPushButton* m_ok;
    FormRunner m_runForm;
};
