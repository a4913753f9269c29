// Creates the application's tables: the set-up script of the database's kind in an editor, a
// Load button for another one, and a status line that follows the statements as they run.
#pragma once

#include <QDialog>
#include <string>

class CDbSetup;
class COdbcConnection;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class CCreateTablesDlg : public QDialog {
public:
    // info: the database and user the tables go to; scriptPath: the script shown first (none
    // when empty).
    CCreateTablesDlg(QWidget* parent, CDbSetup& setup, COdbcConnection& db, const std::string& info,
                     const std::string& scriptPath);

    // Runs the script; closes with OK when the tables are there or the user goes on anyway.
    // OK and Cancel are disabled while it runs, so a click meanwhile cannot run it again.
    bool OnOK();
    // Cancel, Escape and the window's close do nothing while the script runs.
    void reject() override;
    void OnLoad();
    // Reads a script into the editor; false (after telling the user) when it cannot be read.
    bool LoadScript(const std::string& path);

    QPlainTextEdit* Script() const { return m_script; }
    QLabel* Status() const { return m_status; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

private:
    CDbSetup& m_setup;
    COdbcConnection& m_db;
    QPlainTextEdit* m_script;
    QLabel* m_status;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_running = false;
};
