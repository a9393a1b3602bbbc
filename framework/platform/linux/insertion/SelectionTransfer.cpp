#include "platform/linux/insertion/SelectionTransfer.h"

#include <cstring>

#include <QSet>

namespace tessvale {

namespace {

// The forms of plain text an owner may offer, best first; they become one "text/plain" type.
const char* const textTargets[] = { "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/plain" };

} // namespace

bool isSelectionProtocolTarget(const QString& name)
{
    static const QStringList protocol { QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"), QStringLiteral("SAVE_TARGETS"), QStringLiteral("DELETE"),
        QStringLiteral("INSERT_SELECTION"), QStringLiteral("INSERT_PROPERTY"), QStringLiteral("LENGTH"),
        QStringLiteral("PIXMAP"), QStringLiteral("BITMAP"), QStringLiteral("DRAWABLE"), QStringLiteral("COLORMAP") };
    return protocol.contains(name);
}

QList<quint32> decodeTargetList(const QByteArray& bytes, int format)
{
    QList<quint32> atoms;
    if (format != 32)
        return atoms;
    QSet<quint32> seen;
    for (qsizetype at = 0; at + 4 <= bytes.size() && atoms.size() < maxSelectionTargets; at += 4) {
        quint32 atom = 0;
        std::memcpy(&atom, bytes.constData() + at, sizeof atom);
        if (atom == 0 || seen.contains(atom))
            continue;
        seen.insert(atom);
        atoms.append(atom);
    }
    return atoms;
}

bool isTextTarget(const QString& name)
{
    for (const char* text : textTargets)
        if (name == QLatin1String(text))
            return true;
    return name == QLatin1String("COMPOUND_TEXT");
}

QList<PlannedTarget> planSnapshot(const QStringList& names)
{
    QList<PlannedTarget> plan;
    QSet<QString> planned;
    bool textPlanned = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (name.isEmpty() || isSelectionProtocolTarget(name) || planned.contains(name))
            continue;
        if (!isTextTarget(name)) {
            planned.insert(name);
            plan.append({ { i }, name });
            continue;
        }
        if (textPlanned)
            continue;
        // Plain text once, where the owner lists its first form, trying its forms best first.
        textPlanned = true;
        PlannedTarget text { {}, QStringLiteral("text/plain") };
        for (const char* form : textTargets) {
            const qsizetype at = names.indexOf(QLatin1String(form));
            if (at >= 0)
                text.candidates.append(at);
        }
        // (COMPOUND_TEXT alone is not kept: its encoding is not decoded here.)
        if (!text.candidates.isEmpty())
            plan.append(text);
    }
    return plan;
}

QByteArray textAsUtf8(const QString& target, const QByteArray& data)
{
    if (target == QLatin1String("STRING") || target == QLatin1String("TEXT"))
        return QString::fromLatin1(data).toUtf8();
    return data;
}

SelectionTransfer::SelectionTransfer(qsizetype maxBytes)
    : m_maxBytes(maxBytes)
{
}

SelectionTransfer::State SelectionTransfer::receive(bool incremental, const QByteArray& bytes, bool moreLeft)
{
    if (m_state != State::receiving)
        return m_state;
    if (!m_started) {
        m_started = true;
        // The announcement's own bytes are the owner's size estimate: nothing to keep.
        if (incremental) {
            m_incremental = true;
            return m_state;
        }
    } else if (bytes.isEmpty() && !moreLeft) {
        // An incremental transfer ends with an empty piece.
        m_state = State::done;
        return m_state;
    }
    if (moreLeft || bytes.size() > room()) {
        m_data.clear();
        m_state = State::tooLarge;
        return m_state;
    }
    m_data += bytes;
    if (!m_incremental)
        m_state = State::done;
    return m_state;
}

} // namespace tessvale
