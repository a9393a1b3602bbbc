// Cost of the two frames sent and received most often while dictating: one 100 ms audio chunk
// (3200 bytes of 16 kHz mono PCM) going out, one partial transcript coming in.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>

#include "cloud/ClientStreamMessage.h"
#include "cloud/ServerStreamMessage.h"

using namespace tessvale;

namespace {

QByteArray pcmChunk()
{
    QByteArray pcm(3200, Qt::Uninitialized);
    for (int i = 0; i < pcm.size(); ++i)
        pcm[i] = char((i * 37) & 0xff);
    return pcm;
}

void EncodeAudioChunkFrame(benchmark::State& state)
{
    const QByteArray pcm = pcmChunk();
    qint64 sequence = 0;
    for (auto _ : state) {
        // Base64 of the PCM bytes, the envelope, and the JSON text of the frame.
        const QString base64 = QString::fromLatin1(pcm.toBase64());
        const QByteArray frame = ClientStreamMessage::audioChunk(sequence++, base64).encoded();
        benchmark::DoNotOptimize(frame.constData());
    }
    state.SetBytesProcessed(state.iterations() * pcm.size());
}
BENCHMARK(EncodeAudioChunkFrame);

void DecodePartialTranscriptFrame(benchmark::State& state)
{
    const QByteArray frame
        = R"({"Case":"PartialTranscript","Fields":[{"SessionId":"1b4e28ba-2fa1-11d2-883f-0016d3cca427",)"
          R"("Text":"so the quick brown fox jumps over the lazy dog and then"}]})";
    for (auto _ : state) {
        const ServerStreamMessage message = ServerStreamMessage::decode(frame);
        benchmark::DoNotOptimize(message.partialTranscriptPayload());
    }
    state.SetBytesProcessed(state.iterations() * frame.size());
}
BENCHMARK(DecodePartialTranscriptFrame);

} // namespace
