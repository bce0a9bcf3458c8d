// Private data, config and runtime folders for the code under test, under the program's own
// name, so that a test's registry and lock file never touch the user's.
#pragma once

#include <QCoreApplication>
#include <QTemporaryDir>

struct TTestFolders {
    QTemporaryDir Data, Config, Runtime;
    bool Apply() {
        if (!Data.isValid() || !Config.isValid() || !Runtime.isValid())
            return false;
        qputenv("XDG_DATA_HOME", Data.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", Config.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
        return true;
    }
};
