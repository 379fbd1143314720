#include "platform/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

namespace tessolin {

SingleInstance::SingleInstance(const QString& name, const QString& dir) {
    QString base =
        dir.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) : dir;
    if (base.isEmpty()) base = QDir::tempPath();
    lock_ = std::make_unique<QLockFile>(QDir(base).filePath(name + QStringLiteral(".lock")));
    lock_->setStaleLockTime(0);  // only a lock whose process is gone counts as stale
}

SingleInstance::~SingleInstance() {
    Release();
}

bool SingleInstance::TryAcquire() {
    if (!held_) held_ = lock_->tryLock(0);
    return held_;
}

void SingleInstance::Release() {
    if (held_) lock_->unlock();
    held_ = false;
}

}  // namespace tessolin
