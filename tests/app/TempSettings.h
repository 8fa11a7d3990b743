#pragma once
// Points the application's settings at a fresh temporary folder for the life
// of one test, under the viewer's real application name, so that tests never
// read or write the user's own settings.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

class TempSettings {
public:
    TempSettings() : savedAppName(QCoreApplication::applicationName())
    {
        QCoreApplication::setApplicationName("Ravel-Viewer");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }
    ~TempSettings()
    {
        // Leave nothing pointing at the folder that is about to go away.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, unusedPath());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, unusedPath());
        QCoreApplication::setApplicationName(savedAppName);
    }

    bool isValid() const { return dir.isValid(); }
    QString folder() const { return dir.path(); }
    // The viewer's settings file: Ravel-Viewer.conf in the organisation folder.
    QString filePath() const { return dir.filePath("Kelvane Electronics/Ravel-Viewer.conf"); }

    // An empty file in the folder, for the file chooser to pick.
    QString createFile(const QString& name) const
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        return file.fileName();
    }

    // Replaces the settings file with raw text, as an operator's editor would.
    void writeRaw(const QByteArray& text) const
    {
        QDir(dir.path()).mkpath("Kelvane Electronics");
        QFile file(filePath());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    }

private:
    static QString unusedPath() { return QDir::temp().filePath("ravel-tests-no-settings"); }

    QTemporaryDir dir;
    QString savedAppName;
};
