#pragma once

#include <QFile>
#include <QTemporaryDir>

// A stable serial port path whose pseudo-terminal comes and goes, as a device node does when unplugged and plugged in.
class PtyLink
{
public:
    ~PtyLink() { unlink(); }
    QString path() const { return m_path; }
    bool pointTo(const QString& ptyPath) { return unlink(), QFile::link(ptyPath, m_path); }
    void unlink() { QFile::remove(m_path); }

private:
    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral("ttyTPA0"));
};
