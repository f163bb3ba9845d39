#include "language/languagefiles.h"

#include "platform/platform.h"
#include "settings/tinifiles.h"

#include <QDate>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringDecoder>

#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcLanguage)

namespace LanguageFiles {

namespace {

const QString linguaWord = QStringLiteral("lingua");

/// The bytes decoded with the code page of that name: one Qt knows itself,
/// or one the system converts. Empty optional for an unknown name.
std::optional<QString> decodeWith(const QString &codecName, const QByteArray &bytes)
{
    if (codecName.isEmpty())
        return std::nullopt;
    const QByteArray latin = codecName.toLatin1();
    const std::optional<QStringConverter::Encoding> encoding
        = QStringConverter::encodingForName(latin.constData());
    if (encoding) {
        QStringDecoder decoder(*encoding);
        return decoder.decode(bytes);
    }
    return Platform::decodeCodePage(bytes, codecName);
}

bool namesUtf8(const QString &codecName)
{
    const QByteArray latin = codecName.toLatin1();
    return QStringConverter::encodingForName(latin.constData()) == QStringConverter::Utf8;
}

bool fitsLatin1(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

} // namespace

int countLanguages(TIniFiles &languageIni)
{
    QStringList sections;
    languageIni.sectionNames(sections);
    int count = 0;
    for (const QString &section : sections) {
        if (section.contains(linguaWord, Qt::CaseInsensitive))
            ++count;
    }
    return count;
}

QString decodeDisplayName(const QString &storedLatin1, const QString &codecName)
{
    const QByteArray bytes = storedLatin1.toLatin1();
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    const bool validUtf8 = !utf8.hasError();

    if (namesUtf8(codecName))
        return decoded;
    // Bytes stored in the code page itself (not UTF-8) are decoded as they
    // are; replacement characters would destroy them under an unknown name,
    // Latin-1 keeps them.
    if (!validUtf8)
        return decodeWith(codecName, bytes).value_or(QString::fromLatin1(bytes));
    // Characters beyond Latin-1 cannot be turned back into 8-bit bytes; the text
    // was plainly stored as UTF-8, so its decoding stands.
    if (!fitsLatin1(decoded))
        return decoded;
    return decodeWith(codecName, decoded.toLatin1()).value_or(decoded);
}

QString readDisplayName(TIniFiles &ini, const QString &section, const QString &descriptionKey,
                        const QString &codecKey, const QString &defaultDescription)
{
    const QString codecName = ini.readString(section, codecKey, QStringLiteral("ISO8859-1"));
    const QString stored = ini.readString(section, descriptionKey, defaultDescription);
    return decodeDisplayName(stored, codecName);
}

QString currentLanguageId(TIniFiles &ini, int defaultCurrent)
{
    const QString current = ini.readString(QStringLiteral("selected"), QStringLiteral("currentlanguage"),
                                           QString::number(defaultCurrent));
    return ini.readString(linguaWord + current, QStringLiteral("idlingua"), QStringLiteral("ita"));
}

QString reserveLanguageId(TIniFiles &ini)
{
    const int count = countLanguages(ini);
    QString reserve;
    for (int k = 1; k <= count; ++k) {
        const QString section = linguaWord + QString::number(k);
        if (ini.readInt(section, QStringLiteral("reserve"), 10, 0) == 1)
            reserve = ini.readString(section, QStringLiteral("idlingua"), QStringLiteral("ita"));
    }
    return reserve;
}

double versionNumber(const QString &text)
{
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok ? number : 0.0;
}

namespace {

void copyValue(TIniFiles &work, TIniFiles &target, const QString &section, const QString &key,
               const QString &defaultValue = QString())
{
    target.writeString(section, key, work.readString(section, key, defaultValue));
}

void copyWhenSet(TIniFiles &work, TIniFiles &target, const QString &section, const QString &key)
{
    const QString value = work.readString(section, key);
    if (!value.isEmpty())
        target.writeString(section, key, value);
}

void recordInto(const QString &targetPath, TIniFiles &work, const QStringList &productIds,
                const QStringList &databaseFolders, bool pcSide, const RecordedValue &recorded)
{
    const QString selected = work.readString(linguaWord, QStringLiteral("sel"));
    const QString reserve = work.readString(linguaWord, QStringLiteral("def"));
    const QString english = QStringLiteral("ing");
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));

    const auto brought = [&recorded](const QString &section, const QString &key) {
        return !recorded || recorded(section, key);
    };
    TIniFiles target(targetPath, false);
    for (const QString &product : productIds) {
        const QString ad = QStringLiteral("ad") + product;
        const QString mit = QStringLiteral("mit") + product;
        for (const QString &language : { selected, reserve }) {
            if (brought(ad, language))
                copyValue(work, target, ad, language);
            if (brought(mit, language))
                copyValue(work, target, mit, language);
        }
        if (pcSide && brought(ad, english))
            copyWhenSet(work, target, ad, english);
        if (pcSide && brought(mit, english))
            copyWhenSet(work, target, mit, english);
        const QString release = QStringLiteral("release");
        if (!brought(release, product))
            continue;
        const double oldRelease = versionNumber(target.readString(release, product));
        const QString newRelease = work.readString(release, product);
        target.writeString(release, product, newRelease);
        if (oldRelease < versionNumber(newRelease))
            target.writeString(QStringLiteral("datapack"), product, today);
    }
    if (pcSide) {
        const QString rmd = QStringLiteral("rmd");
        copyValue(work, target, rmd, selected);
        copyValue(work, target, rmd, reserve);
        copyWhenSet(work, target, rmd, english);
    }
    for (const QString &folder : databaseFolders) {
        if (brought(folder, QStringLiteral("version")))
            copyValue(work, target, folder, QStringLiteral("version"), QStringLiteral("0.00"));
    }
}

} // namespace

void recordInstalledVersions(const QString &workSyslangPath, const QStringList &productIds,
                             const QStringList &databaseFolders, bool updatePc, bool updateCard,
                             const QString &cardRoot)
{
    // Without the work file every copy would write an empty value over the installed versions.
    recordInstalledVersionsInto(
        workSyslangPath, productIds, databaseFolders, updatePc ? QStringLiteral("./syslang.ini") : QString(),
        updateCard ? cardRoot + QStringLiteral("varno/syslang.ini") : QString(), RecordedValue());
}

void recordInstalledVersionsInto(const QString &workSyslangPath, const QStringList &productIds,
                                 const QStringList &databaseFolders, const QString &pcFile,
                                 const QString &cardFile, const RecordedValue &recorded)
{
    if (!QFileInfo(workSyslangPath).isFile()) {
        qCWarning(lcLanguage) << "no work language file" << workSyslangPath
                              << "- installed versions not recorded";
        return;
    }
    TIniFiles work(workSyslangPath, false);
    if (!pcFile.isEmpty())
        recordInto(pcFile, work, productIds, databaseFolders, true, recorded);
    if (!cardFile.isEmpty())
        recordInto(cardFile, work, productIds, databaseFolders, false, recorded);
}

} // namespace LanguageFiles
