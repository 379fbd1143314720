// One running program per user: a lock file in the per-user runtime directory. A lock left by a
// process that died is taken over; a lock held by a live process (this one included) is not.
#ifndef TESSOLIN_SINGLE_INSTANCE_H
#define TESSOLIN_SINGLE_INSTANCE_H

#include <QLockFile>
#include <QString>
#include <memory>

namespace tessolin {

class SingleInstance {
public:
    // name: the lock's base name ("Tessolin" for the program). dir: the directory of the lock
    // file; empty means the per-user runtime directory.
    explicit SingleInstance(const QString& name, const QString& dir = QString());
    ~SingleInstance();  // releases the lock when held
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock without waiting. True when this object holds it (also when it already did).
    bool TryAcquire();
    void Release();

private:
    std::unique_ptr<QLockFile> lock_;
    bool held_ = false;
};

}  // namespace tessolin

#endif  // TESSOLIN_SINGLE_INSTANCE_H
