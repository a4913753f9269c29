// The window tests' fixture: a profile and a root folder of the test's own, message boxes
// answered and recorded, and a main window made on demand.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

#include "engine/settings/ServerSettings.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"
#include "studio/DebugController.h"
#include "studio/window/MainFrame.h"
#include "studio/window/MessageSeam.h"
#include "studio/window/StudioProfile.h"

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(m_config.Path()));
        m_previous = CMessageSeam::SetHandler(
            [this](const QString& text, QMessageBox::StandardButtons buttons) {
                m_boxes.append(text);
                return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
            });
    }
    void TearDown() override {
        m_frame.reset();
        theDebugger.ClearAllBreakpoints();
        CMessageSeam::SetHandler(m_previous);
    }

    // The profile file the window reads and writes.
    std::string IniPath() const { return m_config.File("Tormalek/Velmorin Studio.ini"); }
    void WriteIni(const std::string& text) {
        mkdir(m_config.File("Tormalek").c_str(), 0755);
        ASSERT_TRUE(WriteFile(IniPath(), text));
    }
    QString Root() const { return QString::fromStdString(m_root.Path()); }

    // A main window over the stored profile, shown at `width` x `height`.
    CMainFrame& Frame(int width = 1200, int height = 900) {
        CStudioProfile profile;
        profile.Load(*CStudioProfile::OpenSettings());
        m_frame = std::make_unique<CMainFrame>(profile, Root(), m_settings);
        m_frame->resize(width, height);
        m_frame->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_frame.get()));
        return *m_frame;
    }
    // Answers the next modal dialog: `answer` gets it once it shows (and closes it).
    template <typename Dialog, typename Answer>
    void AnswerNextDialog(Answer answer) {
        m_answered = false;
        auto* poll = new QTimer(QApplication::instance());
        QObject::connect(poll, &QTimer::timeout, poll, [this, answer, poll] {
            if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                answer(*dialog);
                m_answered = true;
            }
        });
        poll->start(10);
    }
    // Closes the window as the user would, writing the profile.
    void CloseFrame() {
        m_frame->close();
        m_frame.reset();
    }

    CTempFolder m_config;
    CTempFolder m_root;
    CServerSettings m_settings{m_root.Path(), SettingsBuild::kServer};
    QStringList m_boxes;
    bool m_answered = false;
    std::unique_ptr<CMainFrame> m_frame;

private:
    CMessageSeam::Handler m_previous;
};
