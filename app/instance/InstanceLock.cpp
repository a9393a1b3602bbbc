#include "instance/InstanceLock.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include "base/Logging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessvale {

namespace {

// Each round ends when someone else changed the path under us; a few are plenty for honest races.
constexpr int attempts = 4;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

using FileStatus = struct stat;

bool sameFile(const FileStatus& a, const FileStatus& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes a descriptor when it goes, unless released.
class Descriptor
{
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace

InstanceLock::InstanceLock(QString path)
    : m_path(std::move(path))
{
}

InstanceLock::~InstanceLock()
{
    // The file stays: removing it would let a start that opened it just before lock a name nobody
    // else can find. The next holder overwrites it.
    if (m_fd >= 0)
        ::close(m_fd);
}

InstanceLock::Outcome InstanceLock::tryLock()
{
    if (m_fd >= 0)
        return Outcome::held;
    const QByteArray path = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // The descriptor must not reach the programs we start, or they would hold the lock after us.
        Descriptor fd(::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
        if (fd.get() < 0) {
            const int error = errno;
            // A symlink, a directory or a socket stands where the file belongs.
            if (error != ELOOP && error != EISDIR && error != ENXIO) {
                m_failure = QStringLiteral("%1 cannot be opened: %2").arg(m_path, errorText(error));
                return Outcome::unusable;
            }
            if (!removePlanted())
                return Outcome::unusable;
            continue;
        }
        FileStatus opened {};
        if (::fstat(fd.get(), &opened) != 0) {
            m_failure = QStringLiteral("%1 cannot be examined: %2").arg(m_path, errorText(errno));
            return Outcome::unusable;
        }
        if (!S_ISREG(opened.st_mode)) {
            if (!removePlanted())
                return Outcome::unusable;
            continue;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK)
                return Outcome::heldElsewhere;
            m_failure = QStringLiteral("%1 cannot be locked: %2").arg(m_path, errorText(error));
            return Outcome::unusable;
        }
        // Someone may have removed or replaced the file between our open and our lock (an older
        // version removing what it took for a stale lock): then ours is a lock nobody else sees.
        FileStatus named {};
        if (::lstat(path.constData(), &named) != 0 || !sameFile(opened, named))
            continue;
        // The holder's pid, name and host, as Qt's lock files have them, for an older version to read.
        const QByteArray contents = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
            + QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8() + '\n'
            + QSysInfo::machineHostName().toUtf8() + '\n';
        if (::ftruncate(fd.get(), 0) != 0
            || ::pwrite(fd.get(), contents.constData(), size_t(contents.size()), 0) != contents.size())
            qCWarning(lcApp) << "Holding the single-instance lock without writing its holder into" << m_path;
        m_fd = fd.release();
        m_failure.clear();
        return Outcome::held;
    }
    // The path kept changing: whoever changes it is alive, so try again later.
    return Outcome::heldElsewhere;
}

// Removes what is not a regular file at the path (a symlink, a directory, a pipe). The folder's own
// flock keeps two starts from removing each other's fresh lock file.
bool InstanceLock::removePlanted()
{
    const QFileInfo info(m_path);
    const QByteArray folder = QFile::encodeName(info.path());
    const QByteArray name = QFile::encodeName(info.fileName());
    Descriptor directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) {
        m_failure = QStringLiteral("%1 cannot be opened: %2").arg(info.path(), errorText(errno));
        return false;
    }
    if (::flock(directory.get(), LOCK_EX | LOCK_NB) != 0) {
        // Another start holds it: that start is replacing the file right now.
        if (errno == EWOULDBLOCK)
            return true;
        m_failure = QStringLiteral("%1 cannot be locked: %2").arg(info.path(), errorText(errno));
        return false;
    }
    FileStatus planted {};
    if (::fstatat(directory.get(), name.constData(), &planted, AT_SYMLINK_NOFOLLOW) != 0 || S_ISREG(planted.st_mode))
        return true;
    const int flags = S_ISDIR(planted.st_mode) ? AT_REMOVEDIR : 0;
    if (::unlinkat(directory.get(), name.constData(), flags) != 0 && errno != ENOENT) {
        m_failure = QStringLiteral("%1 is not a file and cannot be removed: %2").arg(m_path, errorText(errno));
        return false;
    }
    return true;
}

} // namespace tessvale
