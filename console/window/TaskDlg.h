// "New/Edit Background Task": one scheduled task, run every day or week at a time, or every
// so many minutes.
#pragma once

#include <QDialog>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

struct CTaskFields {
    enum EMode { kNew = -1, kDayAndTime = 0, kInterval = 1 };

    std::string m_name;
    std::string m_script;
    std::string m_time;
    bool m_enabled = false;
    int m_mode = kNew;
    std::string m_interval = "5";
    std::string m_day;
    bool m_nameLocked = false;
    // The Email Sender's row: it runs only at intervals and has no script of its own.
    bool m_emailSender = false;
};

class CTaskDlg : public QDialog {
public:
    CTaskDlg(QWidget* parent, CTaskFields fields, std::string root);

    // The OK button: checks the fields and closes with them, or says what is missing.
    bool OnOK();
    void OnBrowse();
    const CTaskFields& Fields() const { return m_fields; }

    QLineEdit* Name() const { return m_name; }
    QCheckBox* Enabled() const { return m_enabled; }
    QLineEdit* Script() const { return m_script; }
    QPushButton* Browse() const { return m_browse; }
    QButtonGroup* Mode() const { return m_mode; }
    QComboBox* Day() const { return m_day; }
    QComboBox* Time() const { return m_time; }
    QLineEdit* Interval() const { return m_interval; }

private:
    void EnableMode();
    void Exchange();

    CTaskFields m_fields;
    std::string m_root;
    QLineEdit* m_name;
    QCheckBox* m_enabled;
    QLineEdit* m_script;
    QPushButton* m_browse;
    QButtonGroup* m_mode;
    QComboBox* m_day;
    QComboBox* m_time;
    QLineEdit* m_interval;
};
