#pragma once

#include <optional>

#include <QByteArray>
#include <QList>

namespace tessvale {

// Cuts converted PCM into fixed-size chunks; holds back fewer than bytesPerChunk bytes between appends.
struct AudioChunkAccumulator
{
    qint64 bytesPerChunk = 3200;
    QByteArray pending;

    void append(const QByteArray& block);
    // The next whole chunk, owning its bytes, or nothing when fewer than bytesPerChunk bytes are held.
    std::optional<QByteArray> takeChunk();
    QList<QByteArray> drain();
    // Drains, then adds the shorter remainder (unpadded) when asked; leaves pending empty.
    QList<QByteArray> flush(bool includeRemainder);
};

// Loudness of a block of 16-bit PCM for the recording indicator: RMS x 3.2, clamped to 0...1.
float audioLevel(const QByteArray& pcm16);

} // namespace tessvale
