#pragma once

// Readable GoogleTest failure messages for Qt values and our enumerations. Every test source gets
// this header first (see tests/CMakeLists.txt), so no test has to remember to include it.

#include <concepts>
#include <ostream>
#include <type_traits>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariant>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << "QByteArray(\"" << bytes.toStdString() << "\")";
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '[';
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            *out << ", ";
        PrintTo(list[i], out);
    }
    *out << ']';
}

inline void PrintTo(const QUrl& url, std::ostream* out)
{
    *out << "QUrl(\"" << url.toString().toStdString() << "\")";
}

inline void PrintTo(const QUuid& uuid, std::ostream* out)
{
    *out << uuid.toString(QUuid::WithoutBraces).toStdString();
}

inline void PrintTo(const QVariant& value, std::ostream* out)
{
    *out << "QVariant(" << value.typeName() << ", \"" << value.toString().toStdString() << "\")";
}

namespace tessvale {

// Our enumerations print by their stored or sent name where they have one, else by number.
template <typename E>
requires std::is_enum_v<E>
void PrintTo(const E& value, std::ostream* out)
{
    if constexpr (requires {
                      {
                          rawValue(value)
                          } -> std::convertible_to<QString>;
                  })
        *out << rawValue(value).toStdString();
    else
        *out << static_cast<long long>(value);
}

} // namespace tessvale
