#pragma once

#include <optional>

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace tessvale {

// The application's information dictionary (version, build, URL schemes, reporting key), read
// through one interface so tests can supply their own.
class BundleInfo
{
public:
    virtual ~BundleInfo() = default;

    // Absent when the bundle has none.
    virtual std::optional<QVariantMap> infoDictionary() const = 0;
    virtual std::optional<QString> bundleIdentifier() const = 0;

    // The bundle compiled into the library (":/tessvale/Info.json").
    static const BundleInfo& main();

    // A string value trimmed of white space; absent when missing, not a string, or blank.
    std::optional<QString> string(const QString& key) const;
    // The same rule for a dictionary at hand.
    static std::optional<QString> string(const QVariantMap& dictionary, const QString& key);
    // Every scheme under "CFBundleURLTypes" / "CFBundleURLSchemes", in order.
    QStringList urlSchemes() const;
};

// A bundle given as a dictionary, for tests and helper programs.
class DictionaryBundleInfo : public BundleInfo
{
public:
    explicit DictionaryBundleInfo(
        std::optional<QVariantMap> dictionary, std::optional<QString> identifier = std::nullopt);

    std::optional<QVariantMap> infoDictionary() const override { return m_dictionary; }
    std::optional<QString> bundleIdentifier() const override { return m_identifier; }

private:
    std::optional<QVariantMap> m_dictionary;
    std::optional<QString> m_identifier;
};

// A bundle read from a JSON file (a resource path works too); its identifier is "CFBundleIdentifier".
class JsonFileBundleInfo : public BundleInfo
{
public:
    explicit JsonFileBundleInfo(const QString& path);

    std::optional<QVariantMap> infoDictionary() const override { return m_dictionary; }
    std::optional<QString> bundleIdentifier() const override;

private:
    std::optional<QVariantMap> m_dictionary;
};

} // namespace tessvale
