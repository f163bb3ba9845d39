#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// One entry of an archive written by writeZip.
struct ZipEntry
{
    QByteArray name; // "/"-separated; a name ending in "/" is a folder
    QByteArray content; // the entry's bytes, unless sourceFile is set
    QString sourceFile = QString(); // read from this file and stored as it is (no second compression)
};

/// Writes an archive as Info-ZIP's zip does: entries made on Unix with their
/// permission bits, folder entries before their files. In-memory contents are
/// deflated; files are streamed in and stored, with zip64 records only for
/// those that need them. A failed write removes the half-written archive.
bool writeZip(const QString &path, const QList<ZipEntry> &files, QString *error);
