// Private data, config, cache and runtime folders for the code under test, under the program's
// own name, so that a test's registry, stored states and lock file never touch the user's.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

struct TTestFolders {
    QTemporaryDir Data, Config, Runtime, Cache;
    bool Apply() {
        if (!Data.isValid() || !Config.isValid() || !Runtime.isValid() || !Cache.isValid())
            return false;
        qputenv("XDG_DATA_HOME", Data.path().toLocal8Bit());
        qputenv("XDG_CACHE_HOME", Cache.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", Config.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", Runtime.path().toLocal8Bit());
        QCoreApplication::setApplicationName(QStringLiteral("kivSubversion"));
        return true;
    }
};

// Forgets the states earlier runs stored, as on a new machine.
inline void ForgetStoredStates() {
    QFile::remove(qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/kivSubversion/zustaende.json"));
}
