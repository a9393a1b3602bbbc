#pragma once

#include <QString>

namespace tessvale {

// The lock that makes one process the instance: an flock on a regular file, which the kernel drops
// with its holder, so whatever a dead holder left in the file (nothing, junk, another host's name,
// a pid now someone else's) never keeps a later start out. Qt's lock files take the same flock, so
// an instance of an older version is still seen to hold it. A symlink or anything else planted in
// the file's place is removed, never followed.
class InstanceLock
{
public:
    enum class Outcome {
        held,
        // A live process holds it.
        heldElsewhere,
        // No lock can be taken at this path; failure() says why.
        unusable,
    };

    explicit InstanceLock(QString path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Never waits.
    Outcome tryLock();
    bool isHeld() const { return m_fd >= 0; }
    QString failure() const { return m_failure; }

private:
    bool removePlanted();

    QString m_path;
    int m_fd = -1;
    QString m_failure;
};

} // namespace tessvale
