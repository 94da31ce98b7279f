#pragma once
// A main window made the way the program makes it, with the settings file, the port map and the
// dialogs pointed at the test.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/UserDialogs.h"
#include "tests/support/QtWindow.h"
#include "tests/support/TempPortMap.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-win-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        configPath = dir + "/Config.ini";
        SetConfigIniPath(configPath);
        SetMessageBoxHook(
            [this](const std::string& text) { messages.append(QString::fromStdString(text)); });
        SetExceptionBoxHook(
            [this](const std::string& text) { exceptions.append(QString::fromStdString(text)); });
        SetOpenFileHook([this] { return openFileAnswer.toStdString(); });
        portMap = std::make_unique<tolvane::test::TempPortMap>();
    }
    void TearDown() override {
        form.reset();
        MCPort1.SetOpen(false);
        portMap.reset();
        SetMessageBoxHook({});
        SetExceptionBoxHook({});
        SetOpenFileHook({});
        SetConfigIniPath({});
        std::filesystem::remove_all(dir);
    }
    void Create() {
        form = std::make_unique<TMForm>();
        form->Show();
    }
    void PutConfig(const std::string& content) const {
        std::ofstream(configPath, std::ios::binary) << content;
    }
    std::string GetConfig() const {
        std::ifstream in(configPath, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir, configPath;
    QStringList messages, exceptions;
    QString openFileAnswer;
    std::unique_ptr<tolvane::test::TempPortMap> portMap;
    std::unique_ptr<TMForm> form;
};
