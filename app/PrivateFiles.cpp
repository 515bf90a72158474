#include "app/PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString settingsFile()
{
    return QSettings().fileName();
}

} // namespace

QString PrivateFiles::folder()
{
#ifdef Q_OS_WIN
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#else
    return QFileInfo(settingsFile()).absolutePath();
#endif
}

bool PrivateFiles::restrictFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
#ifdef Q_OS_WIN
    return true;
#else
    return QFile::setPermissions(path, ownerOnly | QFileDevice::ExeOwner);
#endif
}

bool PrivateFiles::restrictFile(const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#else
    return QFile::setPermissions(path, ownerOnly);
#endif
}

void PrivateFiles::protectSettings()
{
#ifndef Q_OS_WIN
    // The native store is an INI file here; Qt's rewrites keep the file's mode.
    const QString file = settingsFile();
    if (!restrictFolder(QFileInfo(file).absolutePath()))
        return;
    QFile settings(file);
    if (!settings.exists() && settings.open(QIODevice::WriteOnly))
        settings.close();
    restrictFile(file);
#endif
}

bool PrivateFiles::write(const QString& path, const QByteArray& content, QString* error)
{
    QSaveFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly) && file.setPermissions(ownerOnly) &&
                    file.write(content) == content.size() && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}
