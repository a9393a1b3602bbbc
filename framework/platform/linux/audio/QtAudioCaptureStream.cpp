#include "QtAudioCaptureStream.h"

#include <chrono>

#include <QAudioSource>
#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QThread>

#include "platform/linux/audio/PulseAudioServer.h"
#include "system/Logging.h"

namespace tessvale {

namespace {

// A capture thread that does not wind down in this time is abandoned rather than waited for.
constexpr std::chrono::milliseconds threadStopTimeout { 2000 };
// Qt 6.4's PulseAudio source hands on at most one buffer per timer tick and lets the server drop
// the rest; with the default buffer a third of the audio went missing. 10 ms buffers keep up.
constexpr qint64 captureBufferMicroseconds = 10000;

// Qt writes captured bytes into this device on the capture thread.
class BlockSink : public QIODevice
{
public:
    explicit BlockSink(AudioCaptureStream::BlockHandler onBlock)
        : m_onBlock(std::move(onBlock))
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override
    {
        if (size > 0 && m_onBlock) {
            m_onBlock(data, size);
        }
        return size;
    }

private:
    AudioCaptureStream::BlockHandler m_onBlock;
};

// Lives on the capture thread; every member is touched only there.
class CaptureWorker : public QObject
{
public:
    CaptureWorker(const QAudioDevice& device, std::shared_ptr<PulseAudioServer> server,
        AudioCaptureStream::BlockHandler onBlock, AudioCaptureStream::EndHandler onEnded)
        : m_device(device)
        , m_server(std::move(server))
        , m_sink(new BlockSink(std::move(onBlock)))
        , m_onEnded(std::move(onEnded))
    {
        m_sink->setParent(this);
    }

    QString open()
    {
        const QAudioFormat format = m_device.preferredFormat();
        m_source = new QAudioSource(m_device, format, this);
        m_source->setBufferSize(format.bytesForDuration(captureBufferMicroseconds));
        m_source->start(m_sink);
        if (m_source->error() != QAudio::NoError) {
            const QString reason = describe(m_source->error());
            delete m_source;
            m_source = nullptr;
            return reason;
        }
        QObject::connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source != nullptr && m_source->error() != QAudio::NoError) {
                end(describe(m_source->error()));
            }
        });
        return {};
    }

    void close()
    {
        if (m_source == nullptr) {
            return;
        }
        m_source->stop();
        delete m_source;
        m_source = nullptr;
    }

    void checkDeviceStillPresent()
    {
        if (m_source == nullptr) {
            return;
        }
        const PulseAudioServer::Snapshot snapshot = m_server->query();
        if (!snapshot.reachable) {
            end(QStringLiteral("the sound server went away"));
            return;
        }
        const QString uid = QString::fromUtf8(m_device.id());
        for (const AudioSystemDevice& source : snapshot.sources) {
            if (source.uid == uid) {
                return;
            }
        }
        end(QStringLiteral("the device was removed"));
    }

private:
    static QString describe(QAudio::Error error)
    {
        switch (error) {
        case QAudio::NoError:
            return QStringLiteral("no error");
        case QAudio::OpenError:
            return QStringLiteral("the device could not be opened");
        case QAudio::IOError:
            return QStringLiteral("reading from the device failed");
        case QAudio::UnderrunError:
            return QStringLiteral("the device delivered no data");
        case QAudio::FatalError:
            return QStringLiteral("the sound server failed");
        }
        return QStringLiteral("unknown error");
    }

    void end(const QString& reason)
    {
        if (m_source == nullptr) {
            return;
        }
        // Stop without reading: whatever the server still holds belongs to a device that is gone.
        m_source->disconnect(this);
        m_source->stop();
        delete m_source;
        m_source = nullptr;
        if (m_onEnded) {
            m_onEnded(reason);
        }
    }

    QAudioDevice m_device;
    std::shared_ptr<PulseAudioServer> m_server;
    BlockSink* m_sink;
    AudioCaptureStream::EndHandler m_onEnded;
    QAudioSource* m_source = nullptr;
};

} // namespace

QtAudioCaptureStream::QtAudioCaptureStream(const QAudioDevice& device, std::shared_ptr<PulseAudioServer> server)
    : m_device(device)
    , m_server(std::move(server))
{
}

QtAudioCaptureStream::~QtAudioCaptureStream()
{
    stop();
}

AudioStreamFormat QtAudioCaptureStream::toStreamFormat(const QAudioFormat& format)
{
    AudioStreamFormat result;
    if (!format.isValid()) {
        return result;
    }
    result.sampleRate = format.sampleRate();
    result.channelCount = format.channelCount();
    switch (format.sampleFormat()) {
    case QAudioFormat::UInt8:
        result.sampleType = AudioSampleType::UInt8;
        break;
    case QAudioFormat::Int16:
        result.sampleType = AudioSampleType::Int16;
        break;
    case QAudioFormat::Int32:
        result.sampleType = AudioSampleType::Int32;
        break;
    case QAudioFormat::Float:
        result.sampleType = AudioSampleType::Float32;
        break;
    default:
        result.channelCount = 0;
        break;
    }
    return result;
}

AudioStreamFormat QtAudioCaptureStream::format() const
{
    return toStreamFormat(m_device.preferredFormat());
}

void QtAudioCaptureStream::start(BlockHandler onBlock, EndHandler onEnded)
{
    stop();
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("AudioCapture"));
    auto* worker = new CaptureWorker(m_device, m_server, std::move(onBlock), std::move(onEnded));
    worker->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
    m_worker = worker;

    QString failure;
    QMetaObject::invokeMethod(worker, [worker, &failure] { failure = worker->open(); }, Qt::BlockingQueuedConnection);
    if (!failure.isEmpty()) {
        stop();
        throw AudioEngineError(QStringLiteral("Unable to start the microphone: %1.").arg(failure));
    }

    // The Qt backend does not notice a source that disappears; the server's own events do.
    QPointer<QObject> target = worker;
    m_listenerId = m_server->addListener([target, worker] {
        if (!target.isNull()) {
            QMetaObject::invokeMethod(target.data(), [worker] { worker->checkDeviceStillPresent(); },
                Qt::QueuedConnection);
        }
    });
}

void QtAudioCaptureStream::stop()
{
    if (m_listenerId != 0) {
        m_server->removeListener(m_listenerId);
        m_listenerId = 0;
    }
    if (!m_thread) {
        return;
    }
    auto* worker = static_cast<CaptureWorker*>(m_worker);
    if (m_thread->isRunning()) {
        QMetaObject::invokeMethod(worker, [worker] { worker->close(); }, Qt::BlockingQueuedConnection);
    }
    m_thread->quit();
    if (!m_thread->wait(QDeadlineTimer(threadStopTimeout.count()))) {
        qCWarning(lcAudioCapture) << "The capture thread did not stop within" << threadStopTimeout.count()
                                  << "ms; leaving it behind";
        (void)m_thread.release();
    } else {
        m_thread.reset();
    }
    m_worker = nullptr;
}

} // namespace tessvale
