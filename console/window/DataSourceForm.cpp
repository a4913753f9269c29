#include "console/window/DataSourceForm.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "engine/foundation/AsciiSpace.h"

std::vector<std::string> CDataSourceForm::FieldsFor(const std::string& kind) {
    if (kind == "Sqlite") {
        return {"Database"};
    }
    if (kind == "Postgres") {
        return {"Servername", "Port", "Database", "Username", "Password"};
    }
    return {};
}

CDataSourceForm::CDataSourceForm(QWidget* parent, const std::string& kind, const std::string& name,
                                 bool nameFixed, const std::map<std::string, std::string>& values)
    : QDialog(parent), m_name(new QLineEdit(QString::fromStdString(name), this)) {
    setWindowTitle("Data source");
    m_name->setEnabled(!nameFixed);
    auto* layout = new QFormLayout(this);
    layout->addRow("Data source name:", m_name);
    const std::vector<std::string> fields = FieldsFor(kind);
    for (const std::string& key : fields) {
        const auto value = values.find(key);
        auto* edit = new QLineEdit(
            value != values.end() ? QString::fromStdString(value->second) : QString(), this);
        if (key == "Password") {
            edit->setEchoMode(QLineEdit::Password);
        }
        m_fields[key] = edit;
        layout->addRow(QString::fromStdString(key + ":"), edit);
    }
    if (fields.empty()) {
        QString text;
        for (const auto& [key, value] : values) {
            text += QString::fromStdString(key + "=" + value + "\n");
        }
        m_rows = new QPlainTextEdit(text, this);
        layout->addRow("Attributes (name=value):", m_rows);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

std::string CDataSourceForm::Name() const {
    return std::string(TrimAsciiSpace(m_name->text().toStdString()));
}

QLineEdit* CDataSourceForm::Field(const std::string& key) const {
    const auto it = m_fields.find(key);
    return it != m_fields.end() ? it->second : nullptr;
}

std::map<std::string, std::string> CDataSourceForm::Attributes() const {
    std::map<std::string, std::string> attributes;
    for (const auto& [key, edit] : m_fields) {
        attributes[key] = std::string(TrimAsciiSpace(edit->text().toStdString()));
    }
    if (m_rows != nullptr) {
        for (const QString& line : m_rows->toPlainText().split('\n')) {
            const qsizetype equals = line.indexOf('=');
            if (equals > 0) {
                attributes[line.left(equals).trimmed().toStdString()] =
                    line.mid(equals + 1).trimmed().toStdString();
            }
        }
    }
    return attributes;
}
