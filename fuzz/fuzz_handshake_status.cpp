// Feeds arbitrary socket error texts to the reader of a refused opening's HTTP status: a status it
// finds is three digits, as the text names it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QString>

#include "cloud/HandshakeStatus.h"

using namespace tessvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<int> status = refusedOpeningStatus(text);
    if (!status)
        return 0;
    if (*status < 0 || *status > 999
        || !text.contains(QStringLiteral("Unhandled http status code: %1").arg(*status, 3, 10, QLatin1Char('0'))))
        std::abort();
    return 0;
}
