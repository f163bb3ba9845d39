// The subject of a communication file (the "<title>" of its first line) and
// the date of its name, on arbitrary file contents and names.
#include "fuzzsupport.h"

#include "update/communications.h"

#include <QDir>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The title's markup is turned into text by a text document: a GUI application.
    FuzzSupport::initialize(argc, argv, true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir(FuzzSupport::scratchFolder()).filePath(QStringLiteral("2024-05-17-x.htm"));
    const QByteArray content = FuzzSupport::bytes(data, size);
    FuzzSupport::writeFile(path, content);

    const QString subject = Communications::subject(path);
    if (!subject.isEmpty() && !content.contains("</title>"))
        FuzzSupport::fail("subject without a complete title", subject);

    const QString name = FuzzSupport::latin1(data, size).section(QLatin1Char('\n'), 0, 0);
    const QString date = Communications::dateText(name);
    if (!name.startsWith(date))
        FuzzSupport::fail("date is not the start of the name", date);
    if (!date.contains(Communications::newMark())
        && Communications::withoutNewMark(Communications::newMark() + date) != date)
        FuzzSupport::fail("new mark not removed", date);
    return 0;
}
