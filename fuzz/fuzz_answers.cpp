// The parsers of the service's plain-text answers (product names, release
// lists, version texts, date answers), fed the same arbitrary Latin-1 body.
#include "fuzzsupport.h"

#include "update/updateplanner.h"
#include "service/serviceanswers.h"

#include <cmath>

namespace {

void checkDate(const QString &result, const QString &accepted, QChar dayEnd)
{
    if (result.isEmpty())
        return;
    if (result != accepted)
        FuzzSupport::fail("date answer changed", result);
    if (result.indexOf(QLatin1Char('-')) != 4 || result.indexOf(QLatin1Char('-'), 5) != 7
        || result.indexOf(dayEnd, 8) != 10)
        FuzzSupport::fail("malformed date accepted", result);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString answer = FuzzSupport::latin1(data, size);

    const QList<UpdatePlanner::Product> products = UpdatePlanner::parseProducts(answer);
    const qsizetype fieldCount = answer.count(QLatin1Char(';')) + 1;
    if (products.size() > fieldCount)
        FuzzSupport::fail("more products than fields");
    int emptyIds = 0;
    for (const UpdatePlanner::Product &product : products) {
        if (product.id.isEmpty())
            ++emptyIds;
        if (product.name != product.name.trimmed() || product.id != product.id.trimmed())
            FuzzSupport::fail("product field not trimmed");
    }
    if (emptyIds > 1)
        FuzzSupport::fail("second product with an empty id kept");

    const QString newest = UpdatePlanner::newestRelease(answer);
    if (newest != newest.trimmed() || !answer.contains(newest))
        FuzzSupport::fail("newest release not a line of the list", newest);
    if (newest.isEmpty() && !answer.trimmed().isEmpty() && answer.contains(QStringLiteral("\r\n")) == false)
        FuzzSupport::fail("one-line list without its release");

    // A version of the service that is not a finite number would compare as
    // newer (or never newer) than every installed version.
    const double version = ServiceAnswers::versionNumber(answer);
    if (!std::isfinite(version))
        FuzzSupport::fail("version text read as a non-finite number", answer);
    const QString half = answer.left(answer.size() / 2);
    const QString other = answer.mid(answer.size() / 2);
    const QString smaller = UpdatePlanner::smallerVersion(half, other);
    if (smaller != half && smaller != other)
        FuzzSupport::fail("smaller version is neither input");

    checkDate(ServiceAnswers::dateTimeMs(answer), answer.left(answer.size() - 1), QLatin1Char(' '));
    // The stamp is the answer without surrounding white space, and names a file.
    const QString stamp = ServiceAnswers::dateStamp(answer);
    checkDate(stamp, answer.trimmed(), QLatin1Char('_'));
    for (const QChar c : stamp) {
        if (c.unicode() < 0x20 || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            FuzzSupport::fail("date stamp names no plain file", stamp);
    }

    if (ServiceAnswers::accountCode(answer).contains(QLatin1Char('-')))
        FuzzSupport::fail("dash left in account code");
    if (ServiceAnswers::versionValue(answer).isEmpty() || ServiceAnswers::productValue(answer).isEmpty())
        FuzzSupport::fail("empty request value");
    return 0;
}
