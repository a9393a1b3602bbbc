#include "system/BundleInfo.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "base/Logging.h"

namespace tessvale {

const BundleInfo& BundleInfo::main()
{
    static const JsonFileBundleInfo bundle(QStringLiteral(":/tessvale/Info.json"));
    return bundle;
}

std::optional<QString> BundleInfo::string(const QString& key) const
{
    const std::optional<QVariantMap> dictionary = infoDictionary();
    if (!dictionary)
        return std::nullopt;
    return string(*dictionary, key);
}

std::optional<QString> BundleInfo::string(const QVariantMap& dictionary, const QString& key)
{
    const QVariant value = dictionary.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString trimmed = value.toString().trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

QStringList BundleInfo::urlSchemes() const
{
    QStringList schemes;
    const std::optional<QVariantMap> dictionary = infoDictionary();
    if (!dictionary)
        return schemes;
    const QVariantList types = dictionary->value(QStringLiteral("CFBundleURLTypes")).toList();
    for (const QVariant& type : types) {
        const QVariantList names = type.toMap().value(QStringLiteral("CFBundleURLSchemes")).toList();
        for (const QVariant& name : names) {
            if (name.typeId() == QMetaType::QString)
                schemes.append(name.toString());
        }
    }
    return schemes;
}

DictionaryBundleInfo::DictionaryBundleInfo(std::optional<QVariantMap> dictionary, std::optional<QString> identifier)
    : m_dictionary(std::move(dictionary))
    , m_identifier(std::move(identifier))
{
}

JsonFileBundleInfo::JsonFileBundleInfo(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp).noquote() << "No bundle information at" << path;
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isObject()) {
        qCWarning(lcApp).noquote() << "Unreadable bundle information in" << path << ":" << error.errorString();
        return;
    }
    m_dictionary = document.object().toVariantMap();
}

std::optional<QString> JsonFileBundleInfo::bundleIdentifier() const
{
    if (!m_dictionary)
        return std::nullopt;
    const QVariant value = m_dictionary->value(QStringLiteral("CFBundleIdentifier"));
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

} // namespace tessvale
