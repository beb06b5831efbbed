#pragma once
// A metafile converter that never ends, standing in for one that takes long. While the
// object lives, WMF pictures are read through it and no picture is waited for: a window
// shows what is ready and goes on. The converter writes its process number into pidFile()
// as it starts. The object going restores the real converter and the waiting.
#include "pictures/Metafile.h"
#include "pictures/PictureFetch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace testing {

class SlowConverter {
public:
    // The converter and its process number are kept in the folder.
    explicit SlowConverter(const QString &folder)
        : m_pidFile(QDir(folder).filePath(QStringLiteral("converter.pid")))
    {
        QFile::remove(m_pidFile);
        const QString converter = QDir(folder).filePath(QStringLiteral("never-ends.sh"));
        QFile script(converter);
        if (!script.open(QIODevice::WriteOnly))
            QTest::qFail("the converter could not be written", __FILE__, __LINE__);
        script.write("#!/bin/sh\necho $$ > '" + QFile::encodeName(m_pidFile) + "'\nexec sleep 600\n");
        script.close();
        QFile::setPermissions(converter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, converter);
        pictures::setPatienceForTests(0);
    }

    ~SlowConverter()
    {
        pictures::setPatienceForTests(-1);
        pictures::setConverterForTests(pictures::MetafileKind::Wmf, QString());
    }

    SlowConverter(const SlowConverter &) = delete;
    SlowConverter &operator=(const SlowConverter &) = delete;

    QString pidFile() const { return m_pidFile; }

private:
    QString m_pidFile;
};

} // namespace testing
