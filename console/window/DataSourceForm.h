// Our own form of a driver's attributes, in place of the set-up dialog a driver would show:
// Database for SQLite; Servername, Port, Database, Username and Password for PostgreSQL;
// name=value rows for any other driver.
#pragma once

#include <QDialog>
#include <map>
#include <string>
#include <vector>

class QLineEdit;
class QPlainTextEdit;

class CDataSourceForm : public QDialog {
public:
    // The fields a driver of this kind ("Sqlite", "Postgres", ...) gets; empty: free rows.
    static std::vector<std::string> FieldsFor(const std::string& kind);

    // name: the data source's name, fixed when `nameFixed`; values fill the fields.
    CDataSourceForm(QWidget* parent, const std::string& kind, const std::string& name,
                    bool nameFixed, const std::map<std::string, std::string>& values);

    std::string Name() const;
    // The attributes as entered; free rows without '=' are left out.
    std::map<std::string, std::string> Attributes() const;

    QLineEdit* NameEdit() const { return m_name; }
    // The edit of a named field; nullptr for a driver with free rows.
    QLineEdit* Field(const std::string& key) const;
    QPlainTextEdit* Rows() const { return m_rows; }

private:
    QLineEdit* m_name;
    std::map<std::string, QLineEdit*> m_fields;
    QPlainTextEdit* m_rows = nullptr;
};
