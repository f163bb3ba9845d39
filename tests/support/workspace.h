#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

/// A private working folder for one test: the current folder, HOME and the
/// XDG config/data folders all point into a fresh temporary folder, so that
/// settings files, the "orvane" folder and user settings never touch the
/// developer's own. Everything is restored and removed on destruction.
class TestWorkspace
{
public:
    TestWorkspace();
    ~TestWorkspace();
    TestWorkspace(const TestWorkspace &) = delete;
    TestWorkspace &operator=(const TestWorkspace &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    /// The working folder (the program folder of the updater under test).
    QString path() const;
    /// The private home folder.
    QString home() const;
    /// Absolute path of a file below the working folder.
    QString filePath(const QString &relative) const;

    /// Writes bytes to a file below the working folder, creating its folders.
    bool writeFile(const QString &relative, const QByteArray &content) const;
    /// Reads a file below the working folder (empty when missing).
    QByteArray readFile(const QString &relative) const;
    /// Creates a folder (and its parents) below the working folder.
    bool makeDir(const QString &relative) const;

private:
    QTemporaryDir m_dir;
    QString m_oldCurrent;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
    QByteArray m_oldData;
    bool m_hadHome = false;
    bool m_hadConfig = false;
    bool m_hadData = false;
};
