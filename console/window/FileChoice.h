// The console's open-file dialogs, replaceable by tests like the message boxes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

struct CFileChoice {
    std::string m_title;
    std::string m_folder;
    std::string m_fileName;
    std::vector<std::string> m_patterns;  // "*.log"; each labelled by itself
    bool m_mustExist = false;
    // A save dialog, which asks before it overwrites a file.
    bool m_save = false;
};

// The chosen path; nullopt when the dialog was cancelled.
using FileChooser = std::function<std::optional<std::string>(const CFileChoice& choice)>;

std::optional<std::string> ChooseOpenFile(QWidget* parent, const CFileChoice& choice);

// Replaces the dialog for the whole process and returns the one it replaced.
FileChooser SetFileChooser(FileChooser chooser);
