// The Windows code pages of the text-codec names that language files carry;
// plain data, the same on every system.
#include "platform/platform.h"

#include <QHash>

namespace {

// Lower case without blanks, "-", "_" and ".": "ISO 8859-5", "iso8859_5" and
// "ISO-8859-5" are one name.
QString normalized(const QString &name)
{
    QString key;
    key.reserve(name.size());
    for (const QChar c : name) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('-') && c != QLatin1Char('_') && c != QLatin1Char('.'))
            key += c.toLower();
    }
    return key;
}

const QHash<QString, unsigned> &codePages()
{
    static const QHash<QString, unsigned> table = [] {
        QHash<QString, unsigned> pages;
        const auto add = [&pages](std::initializer_list<const char *> names, unsigned page) {
            for (const char *name : names)
                pages.insert(normalized(QString::fromLatin1(name)), page);
        };
        add({ "UTF-8", "UTF8" }, 65001);
        add({ "UTF-7" }, 65000);
        for (unsigned n = 1250; n <= 1258; ++n) {
            const QByteArray number = QByteArray::number(n);
            add({ ("windows-" + number).constData(), ("cp" + number).constData(),
                  ("win" + number).constData() },
                n);
        }
        // ISO 8859 parts Windows has: 1 to 9, 13 and 15.
        for (unsigned part : { 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 13u, 15u }) {
            const QByteArray number = QByteArray::number(part);
            add({ ("ISO8859-" + number).constData() }, 28590 + part);
        }
        add({ "latin1", "l1" }, 28591);
        add({ "latin2", "l2" }, 28592);
        add({ "latin3", "l3" }, 28593);
        add({ "latin4", "l4" }, 28594);
        add({ "latin5", "l5" }, 28599);
        add({ "latin7" }, 28603);
        add({ "latin9", "latin0" }, 28605);
        add({ "cyrillic" }, 28595);
        add({ "arabic" }, 28596);
        add({ "greek" }, 28597);
        add({ "hebrew" }, 28598);
        add({ "KOI8-R" }, 20866);
        add({ "KOI8-U" }, 21866);
        for (unsigned n : { 437u, 737u, 775u, 850u, 852u, 855u, 857u, 858u, 860u, 861u, 862u, 863u, 864u,
                            865u, 866u, 869u }) {
            const QByteArray number = QByteArray::number(n);
            add({ ("IBM" + number).constData(), ("cp" + number).constData() }, n);
        }
        add({ "IBM 874", "cp874", "windows-874", "TIS-620" }, 874);
        add({ "Shift_JIS", "SJIS", "MS_Kanji", "cp932", "windows-31j" }, 932);
        add({ "GBK", "GB2312", "cp936" }, 936);
        add({ "GB18030", "GB18030-0" }, 54936);
        add({ "Big5", "cp950", "Big5-HKSCS" }, 950);
        add({ "EUC-KR", "cp949", "UHC" }, 949);
        add({ "EUC-JP" }, 20932);
        add({ "ISO 2022-JP", "ISO-2022-JP" }, 50220);
        add({ "Apple Roman", "macintosh", "MacRoman" }, 10000);
        add({ "MacCyrillic" }, 10007);
        return pages;
    }();
    return table;
}

} // namespace

namespace Platform {

unsigned windowsCodePage(const QString &codecName)
{
    return codePages().value(normalized(codecName), 0);
}

} // namespace Platform
