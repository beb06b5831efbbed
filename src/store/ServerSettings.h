#pragma once
// What a workstation hands libpq for a server address (store/Dialect.h).
#include <QString>

namespace store {

// The settings libpq opens a server address with (key='value' ...): the address's own,
// and where it names none, the waits that keep a workstation from hanging on a server
// that does not answer (connect_timeout 10 s) or has gone away mid-read (keepalives,
// about a minute), and the wait for a lock. Throws StoreError for an address that
// cannot be used, one with a password among them.
QString serverSettings(const QString &address);

} // namespace store
