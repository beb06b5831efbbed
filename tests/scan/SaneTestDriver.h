// SANE's own "test" driver for the scan window's tests: enabled for this test program only,
// through a SANE configuration folder of its own, with every test scanning into a folder of
// its own.
#pragma once

#include "TempArchive.h"

#include "scan/Scanner.h"
#include "store/Settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace testing {

class SaneTestDriver {
public:
    // Once per test program, before SANE first starts: it reads the variable only then.
    bool useOwnConfiguration()
    {
        if (!m_config.isValid())
            return false;
        qputenv("SANE_CONFIG_DIR", m_config.path().toLocal8Bit());
        return true;
    }

    // Before each test: its own settings and scan folder, and SANE rather than a fake.
    void freshTest()
    {
        isolateSettings();
        m_pages = std::make_unique<QTemporaryDir>();
        settings::write(QStringLiteral("Scan"), QStringLiteral("Folder"), m_pages->path());
        pictures::setScannerSystemFactory({});
    }

    // The driver's settings for the next window (read when SANE starts); without the
    // driver, SANE finds no scanner at all.
    bool configure(const QByteArray &testConf, bool withTestDriver = true)
    {
        return write(QStringLiteral("dll.conf"), withTestDriver ? QByteArray("test\n") : QByteArray())
            && write(QStringLiteral("test.conf"), testConf);
    }

    QString pagesFolder() const { return m_pages->path(); }

private:
    bool write(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_config.filePath(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_pages;
};

} // namespace testing
