#include "PulseCaptureStream.h"

#include <vector>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include "base/Logging.h"
#include "platform/linux/PulseConnection.h"

namespace tessvale {

namespace {

constexpr std::chrono::milliseconds connectTimeout { 3000 };

struct OperationDone
{
    pa_threaded_mainloop* loop = nullptr;
    bool done = false;
};

struct SourceLookup
{
    pa_threaded_mainloop* loop = nullptr;
    bool done = false;
    bool found = false;
    pa_sample_spec spec {};
    pa_channel_map map {};
    QString description;
};

void streamStateChanged(pa_stream*, void* userdata)
{
    static_cast<PulseCaptureStream*>(userdata)->handleStreamState();
}

void streamReadable(pa_stream*, size_t, void* userdata)
{
    static_cast<PulseCaptureStream*>(userdata)->handleReadable();
}

void operationFinished(pa_stream*, int, void* userdata)
{
    auto* operation = static_cast<OperationDone*>(userdata);
    operation->done = true;
    pa_threaded_mainloop_signal(operation->loop, 0);
}

void sourceInfoReceived(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* lookup = static_cast<SourceLookup*>(userdata);
    if (info != nullptr && eol == 0) {
        lookup->found = true;
        lookup->spec = info->sample_spec;
        lookup->map = info->channel_map;
        lookup->description = QString::fromUtf8(info->description != nullptr ? info->description : "");
        return;
    }
    lookup->done = true;
    pa_threaded_mainloop_signal(lookup->loop, 0);
}

QString describeFailure(pa_context* context)
{
    if (context == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        return QStringLiteral("the sound server went away");
    }
    const int error = pa_context_errno(context);
    if (error == PA_ERR_KILLED || error == PA_ERR_NOENTITY) {
        return QStringLiteral("the device was removed");
    }
    return QString::fromUtf8(pa_strerror(error));
}

} // namespace

struct PulseCaptureStream::SourceLayout
{
    pa_sample_spec spec {};
    pa_channel_map map {};
};

std::unique_ptr<PulseCaptureStream> PulseCaptureStream::open(
    const QString& sourceName, std::shared_ptr<PulseClient>& connection)
{
    std::unique_ptr<PulseCaptureStream> stream(new PulseCaptureStream(sourceName));
    if (!stream->connect(connection) || !stream->lookUpSource()) {
        return nullptr;
    }
    return stream;
}

PulseCaptureStream::PulseCaptureStream(const QString& sourceName)
    : m_sourceName(sourceName)
    , m_layout(std::make_unique<SourceLayout>())
{
}

PulseCaptureStream::~PulseCaptureStream()
{
    stop();
    disconnect();
}

void PulseCaptureStream::signalLoop()
{
    pa_threaded_mainloop_signal(m_loop, 0);
}

bool PulseCaptureStream::connect(std::shared_ptr<PulseClient>& connection)
{
    if (!connection || !connection->isReady()) {
        connection.reset();
        const char* failure = nullptr;
        connection = PulseClient::connect("AudioCapture", connectTimeout, &failure);
        if (!connection) {
            if (failure != nullptr) {
                qCWarning(lcAudioCapture) << "The sound server is not reachable for recording:" << failure;
            }
            return false;
        }
    }
    m_connection = connection;
    m_loop = m_connection->loop();
    m_context = m_connection->context();
    return true;
}

bool PulseCaptureStream::lookUpSource()
{
    SourceLookup lookup { m_loop };
    pa_threaded_mainloop_lock(m_loop);
    const QByteArray name = m_sourceName.toUtf8();
    pa_operation* operation
        = pa_context_get_source_info_by_name(m_context, name.constData(), sourceInfoReceived, &lookup);
    waitPulseOperationLocked(m_loop, m_context, operation, connectTimeout, [&] { return lookup.done; });
    pa_threaded_mainloop_unlock(m_loop);
    if (!lookup.found || !pa_sample_spec_valid(&lookup.spec)) {
        qCWarning(lcAudioCapture) << "The sound server has no source" << m_sourceName;
        return false;
    }
    m_layout->spec = lookup.spec;
    m_layout->map = lookup.map;
    m_description = lookup.description.isEmpty() ? m_sourceName : lookup.description;
    m_format.sampleRate = static_cast<int>(lookup.spec.rate);
    m_format.channelCount = lookup.spec.channels;
    m_format.sampleType = AudioSampleType::Float32;
    return true;
}

AudioStreamFormat PulseCaptureStream::format() const
{
    return m_format;
}

QString PulseCaptureStream::deviceName() const
{
    return m_description;
}

void PulseCaptureStream::start(BlockHandler onBlock, EndHandler onEnded)
{
    stop();
    if (m_context == nullptr) {
        throw AudioEngineError(QStringLiteral("Unable to start the microphone: the sound server went away."));
    }
    pa_threaded_mainloop_lock(m_loop);
    pa_sample_spec spec {};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<uint32_t>(m_format.sampleRate);
    spec.channels = static_cast<uint8_t>(m_format.channelCount);
    const pa_channel_map* map = pa_channel_map_compatible(&m_layout->map, &spec) ? &m_layout->map : nullptr;
    m_stream = pa_stream_new(m_context, "Dictation", &spec, map);
    if (m_stream == nullptr) {
        const QString reason = describeFailure(m_context);
        pa_threaded_mainloop_unlock(m_loop);
        throw AudioEngineError(QStringLiteral("Unable to start the microphone: %1.").arg(reason));
    }
    m_onBlock = std::move(onBlock);
    m_onEnded = std::move(onEnded);
    // A stream that fails while connecting is reported by the exception below, not as an end.
    m_stopping = true;
    pa_stream_set_state_callback(m_stream, streamStateChanged, this);
    pa_stream_set_read_callback(m_stream, streamReadable, this);

    pa_buffer_attr attributes {};
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(fragmentDuration.count()) * PA_USEC_PER_MSEC, &spec));
    // Small fragments instead of the server's default of up to two seconds; a removed source
    // fails the stream rather than silently moving it to another microphone.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    const QByteArray name = m_sourceName.toUtf8();
    bool ready = pa_stream_connect_record(m_stream, name.constData(), &attributes, flags) >= 0;
    if (ready) {
        ready = waitPulseLocked(m_loop, m_context, connectTimeout, [this] {
            const pa_stream_state_t state = pa_stream_get_state(m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        }) && pa_stream_get_state(m_stream) == PA_STREAM_READY;
    }
    if (!ready) {
        const QString reason = describeFailure(m_context);
        releaseStreamLocked();
        pa_threaded_mainloop_unlock(m_loop);
        throw AudioEngineError(QStringLiteral("Unable to start the microphone: %1.").arg(reason));
    }
    m_stopping = false;
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseCaptureStream::handleReadable()
{
    pa_stream* stream = m_stream;
    if (stream == nullptr) {
        return;
    }
    while (true) {
        const void* data = nullptr;
        size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) {
            return;
        }
        if (m_onBlock) {
            m_inBlockHandler = true;
            if (data != nullptr) {
                m_onBlock(static_cast<const char*>(data), static_cast<qsizetype>(size));
            } else {
                // A hole in the recording: keep the timeline with silence.
                const std::vector<char> silence(size, 0);
                m_onBlock(silence.data(), static_cast<qsizetype>(size));
            }
            m_inBlockHandler = false;
        }
        if (m_stream != stream) {
            // The handler stopped the stream: what was peeked went with it.
            m_onBlock = nullptr;
            return;
        }
        pa_stream_drop(stream);
    }
}

void PulseCaptureStream::handleStreamState()
{
    signalLoop();
    if (m_stream == nullptr || m_stopping || PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) {
        return;
    }
    // The source or the server went away: nothing more will be captured.
    m_stopping = true;
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    m_onBlock = nullptr;
    EndHandler onEnded = std::move(m_onEnded);
    m_onEnded = nullptr;
    if (onEnded) {
        onEnded(describeFailure(m_context));
    }
}

void PulseCaptureStream::drainLocked()
{
    if (pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        return;
    }
    // Everything the server sent before answering this request is read before the answer arrives.
    OperationDone sync { m_loop };
    pa_operation* operation = pa_stream_update_timing_info(m_stream, operationFinished, &sync);
    if (operation == nullptr) {
        return;
    }
    if (!waitPulseLocked(m_loop, m_context, drainTimeout,
            [&] { return sync.done || pa_stream_get_state(m_stream) != PA_STREAM_READY; })) {
        qCWarning(lcAudioCapture) << "The sound server did not hand over the last audio within" << drainTimeout.count()
                                  << "ms";
    }
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    handleReadable();
}

void PulseCaptureStream::releaseStreamLocked()
{
    if (m_stream == nullptr) {
        return;
    }
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) {
        pa_stream_disconnect(m_stream);
    }
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    // A block handler that stops its own stream is still running: it is dropped once it returns.
    if (!m_inBlockHandler) {
        m_onBlock = nullptr;
    }
    m_onEnded = nullptr;
}

void PulseCaptureStream::stop()
{
    if (m_loop == nullptr) {
        return;
    }
    if (pa_threaded_mainloop_in_thread(m_loop) != 0) {
        // Called from a handler: the loop's lock is already held and nothing can be waited for.
        m_stopping = true;
        releaseStreamLocked();
        return;
    }
    // A handler on the loop's thread may release the stream at any time: look only with the lock held.
    pa_threaded_mainloop_lock(m_loop);
    if (m_stream != nullptr) {
        if (!m_stopping) {
            drainLocked();
        }
        m_stopping = true;
        releaseStreamLocked();
    }
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseCaptureStream::disconnect()
{
    m_loop = nullptr;
    m_context = nullptr;
    m_connection.reset();
}

} // namespace tessvale
