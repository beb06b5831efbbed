#pragma once
// Keeps one running copy of the program per user: a lock file says a copy runs,
// a local socket lets a second start ask that copy to come to the front.
#include <QObject>
#include <QString>
#include <memory>

class QLockFile;
class QLocalServer;

namespace platform {

class InstanceGuard : public QObject {
    Q_OBJECT
public:
    // name: one per program and user; the lock and the socket are made from it.
    explicit InstanceGuard(const QString &name, QObject *parent = nullptr);
    ~InstanceGuard() override;

    // True when no other copy runs; this copy then holds the lock and listens.
    bool claim();
    // Asks the running copy to show itself. Returns false when it could not be reached.
    bool askRunningToActivate(int timeoutMs = 2000);

    QString lockPath() const;
    QString serverName() const { return m_name; }

signals:
    void activationRequested();

private:
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};

} // namespace platform
