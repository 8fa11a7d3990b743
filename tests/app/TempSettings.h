#pragma once
// Points the viewer's settings (native and INI, under its real application
// name) at a fresh temporary folder for the life of one test.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

class TempSettings {
public:
    TempSettings() : savedAppName(QCoreApplication::applicationName()) { pointAt(dir.path(), "Ravel-Viewer"); }
    ~TempSettings() { pointAt(QDir::temp().filePath("ravel-tests-no-settings"), savedAppName); }

    QString folder() const { return dir.path(); }
    QString filePath() const { return dir.filePath("Kelvane Electronics/Ravel-Viewer.conf"); }

    // Writes a file of the folder (or the settings file itself); returns its path.
    QString write(const QString& path, const QByteArray& bytes) const
    {
        QFile file(QDir(dir.path()).filePath(path));
        QDir().mkpath(QFileInfo(file).path());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return file.fileName();
    }

private:
    static void pointAt(const QString& path, const QString& appName)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
        QCoreApplication::setApplicationName(appName);
    }

    QTemporaryDir dir;
    QString savedAppName;
};
