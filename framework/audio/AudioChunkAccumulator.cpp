#include "AudioChunkAccumulator.h"

#include <cmath>

#include <QtEndian>

namespace tessvale {

void AudioChunkAccumulator::append(const QByteArray& block)
{
    pending.append(block);
}

std::optional<QByteArray> AudioChunkAccumulator::takeChunk()
{
    if (bytesPerChunk <= 0 || pending.size() < bytesPerChunk) {
        return std::nullopt;
    }
    // A deep copy, so the chunk never shares storage with what stays pending.
    QByteArray chunk(pending.constData(), bytesPerChunk);
    pending.remove(0, bytesPerChunk);
    return chunk;
}

QList<QByteArray> AudioChunkAccumulator::drain()
{
    QList<QByteArray> chunks;
    while (auto chunk = takeChunk()) {
        chunks.append(std::move(*chunk));
    }
    return chunks;
}

QList<QByteArray> AudioChunkAccumulator::flush(bool includeRemainder)
{
    QList<QByteArray> chunks = drain();
    if (includeRemainder && !pending.isEmpty()) {
        chunks.append(QByteArray(pending.constData(), pending.size()));
    }
    pending.clear();
    return chunks;
}

float audioLevel(const QByteArray& pcm16)
{
    const qsizetype count = pcm16.size() / 2;
    if (pcm16.size() < 2) {
        return 0.0F;
    }
    float sum = 0.0F;
    const char* bytes = pcm16.constData();
    for (qsizetype i = 0; i < count; ++i) {
        const qint16 sample = qFromLittleEndian<qint16>(bytes + i * 2);
        const float normalized = static_cast<float>(sample) / 32767.0F;
        sum += normalized * normalized;
    }
    const float level = std::sqrt(sum / static_cast<float>(count)) * 3.2F;
    if (!(level > 0.0F)) {
        return 0.0F;
    }
    return level > 1.0F ? 1.0F : level;
}

} // namespace tessvale
