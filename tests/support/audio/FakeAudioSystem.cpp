#include "FakeAudioSystem.h"

#include <QtEndian>

namespace tessvale::testing {

class FakeCaptureStream : public AudioCaptureStream
{
public:
    FakeCaptureStream(
        std::shared_ptr<FakeAudioSystem> system, AudioStreamFormat format, std::optional<QString> failure, QString name)
        : m_system(std::move(system))
        , m_format(format)
        , m_failure(std::move(failure))
        , m_name(std::move(name))
    {
    }
    ~FakeCaptureStream() override { stop(); }

    AudioStreamFormat format() const override { return m_format; }
    QString deviceName() const override { return m_name; }

    void start(BlockHandler onBlock, EndHandler onEnded) override
    {
        if (m_failure) {
            throw AudioEngineError(*m_failure);
        }
        {
            std::lock_guard lock(m_mutex);
            m_onBlock = std::move(onBlock);
            m_onEnded = std::move(onEnded);
            m_running = true;
        }
        m_system->attach(this);
    }

    void stop() override
    {
        m_system->detach(this);
        std::lock_guard lock(m_mutex);
        m_running = false;
    }

    bool deliver(const QByteArray& block)
    {
        std::lock_guard lock(m_mutex);
        if (!m_running) {
            return false;
        }
        m_onBlock(block.constData(), block.size());
        return true;
    }

    void end(const QString& reason)
    {
        std::lock_guard lock(m_mutex);
        if (!m_running) {
            return;
        }
        m_running = false;
        if (m_onEnded) {
            m_onEnded(reason);
        }
    }

private:
    std::shared_ptr<FakeAudioSystem> m_system;
    AudioStreamFormat m_format;
    std::optional<QString> m_failure;
    QString m_name;
    std::mutex m_mutex;
    BlockHandler m_onBlock;
    EndHandler m_onEnded;
    bool m_running = false;
};

namespace {

class FakeSubscription : public AudioChangeSubscription
{
public:
    explicit FakeSubscription(std::function<void()> release)
        : m_release(std::move(release))
    {
    }
    ~FakeSubscription() override { m_release(); }

private:
    std::function<void()> m_release;
};

} // namespace

QList<AudioSystemDevice> FakeAudioSystem::devices()
{
    return deviceList;
}

std::optional<QString> FakeAudioSystem::defaultInputUID()
{
    return defaultUID;
}

std::unique_ptr<AudioCaptureStream> FakeAudioSystem::openCaptureStream(const QString& uid)
{
    {
        std::lock_guard lock(m_mutex);
        m_openedUIDs.append(uid);
    }
    if (failDeviceSelection) {
        return nullptr;
    }
    QString name = uid;
    for (const AudioSystemDevice& device : deviceList) {
        if (device.uid == uid) {
            name = device.name;
        }
    }
    return std::make_unique<FakeCaptureStream>(shared_from_this(), streamFormat, engineStartError, name);
}

std::unique_ptr<AudioChangeSubscription> FakeAudioSystem::subscribeToChanges(std::function<void()> onChange)
{
    std::lock_guard lock(m_mutex);
    const int id = m_nextSubscriber++;
    m_subscribers.emplace(id, std::move(onChange));
    std::weak_ptr<FakeAudioSystem> weak = weak_from_this();
    return std::make_unique<FakeSubscription>([weak, id] {
        if (auto self = weak.lock()) {
            std::lock_guard subscribersLock(self->m_mutex);
            self->m_subscribers.erase(id);
        }
    });
}

void FakeAudioSystem::notifyChanged()
{
    std::map<int, std::function<void()>> subscribers;
    {
        std::lock_guard lock(m_mutex);
        subscribers = m_subscribers;
    }
    for (const auto& [id, subscriber] : subscribers) {
        subscriber();
    }
}

int FakeAudioSystem::subscriberCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_subscribers.size());
}

QStringList FakeAudioSystem::openedUIDs() const
{
    std::lock_guard lock(m_mutex);
    return m_openedUIDs;
}

bool FakeAudioSystem::isCapturing() const
{
    std::lock_guard lock(m_mutex);
    return m_active != nullptr;
}

bool FakeAudioSystem::deliver(const QByteArray& block)
{
    FakeCaptureStream* stream = nullptr;
    {
        std::lock_guard lock(m_mutex);
        stream = m_active;
    }
    return stream != nullptr && stream->deliver(block);
}

void FakeAudioSystem::removeActiveDevice(const QString& reason)
{
    FakeCaptureStream* stream = nullptr;
    {
        std::lock_guard lock(m_mutex);
        stream = m_active;
        m_active = nullptr;
    }
    if (stream != nullptr) {
        stream->end(reason);
    }
}

void FakeAudioSystem::attach(FakeCaptureStream* stream)
{
    std::lock_guard lock(m_mutex);
    m_active = stream;
}

void FakeAudioSystem::detach(FakeCaptureStream* stream)
{
    std::lock_guard lock(m_mutex);
    if (m_active == stream) {
        m_active = nullptr;
    }
}

QByteArray constantPcm16(qsizetype sampleCount, qint16 value)
{
    QByteArray pcm(sampleCount * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < sampleCount; ++i) {
        qToLittleEndian<qint16>(value, pcm.data() + i * 2);
    }
    return pcm;
}

} // namespace tessvale::testing
