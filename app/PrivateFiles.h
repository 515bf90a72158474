#pragma once

#include <QByteArray>
#include <QString>

// Files that only this user may read: the settings (they hold the security key)
// and the TLS private key. On Linux they live beside QuorvaLink.conf, the folder
// mode 0700 and the files 0600, also when they were made earlier with wider
// modes. On Windows the user's own profile folders already keep others out.
namespace PrivateFiles {

// The folder of this installation's key and certificate: beside the settings
// file on Linux, the user's local application data folder on Windows.
QString folder();

// Creates the folder when missing and makes it the owner's only.
bool restrictFolder(const QString& path);

// Makes an existing file the owner's only.
bool restrictFile(const QString& path);

// The settings file and its folder; the file is created empty when missing, so
// that the first write of the key never lands in a file others can read.
void protectSettings();

// Replaces the file in one step, readable by the owner only from its first byte.
bool write(const QString& path, const QByteArray& content, QString* error = nullptr);

} // namespace PrivateFiles
