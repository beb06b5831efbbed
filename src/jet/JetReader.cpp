#include "jet/JetReader.h"

#include "jet/JetStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace jet {

namespace {

constexpr int kPollMs = 50;
constexpr qint64 kMaxRecord = 64ll << 20; // no memo of the earlier system comes near

QString &helperOverride()
{
    static QString program;
    return program;
}

// One record's payload, read with every length checked against what is left.
class Payload {
public:
    explicit Payload(QByteArrayView bytes) : m_bytes(bytes) {}
    bool u8(quint32 &v) { return take(1, v); }
    bool u16(quint32 &v) { return take(2, v); }
    bool u32(quint32 &v) { return take(4, v); }
    bool bytes(QByteArray &out)
    {
        quint32 n = 0;
        if (!u32(n) || qint64(n) > m_bytes.size() - m_at)
            return false;
        // Into the room `out` already has, when its bytes are its own; else into new room,
        // without copying bytes that are written over next.
        if (out.isDetached())
            out.resize(qsizetype(n));
        else
            out = QByteArray(qsizetype(n), Qt::Uninitialized);
        if (n > 0)
            std::memcpy(out.data(), m_bytes.data() + m_at, n);
        m_at += n;
        return true;
    }
    bool done() const { return m_at == m_bytes.size(); }

private:
    bool take(int n, quint32 &v)
    {
        if (m_bytes.size() - m_at < n)
            return false;
        v = 0;
        for (int i = 0; i < n; ++i)
            v |= quint32(static_cast<unsigned char>(m_bytes[m_at + i])) << (8 * i);
        m_at += n;
        return true;
    }
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

struct Nonsense {};

// Runs the helper once and hands each record to `record`, which returns false to stop.
class HelperRun {
public:
    HelperRun(const QString &file, const JetLimits &limits, const QString &what) : m_what(what)
    {
        const qint64 size = QFileInfo(file).size();
        // Room for every byte of the file several times over (UTF-16, framing), never more.
        m_maxOutput = 8 * size + (16ll << 20);
        m_cpu = limits.cpuSeconds > 0 ? limits.cpuSeconds : int(60 + size / (1 << 20));
        m_limits = limits;
    }

    void run(const QStringList &arguments, const std::function<bool(char, QByteArrayView)> &record)
    {
        QProcess child;
        child.setProgram(JetReader::helperProgram());
        child.setArguments(arguments);
        child.setStandardInputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        child.setWorkingDirectory(QDir::tempPath());
        const qint64 memory = m_limits.memoryBytes;
        const int cpu = m_cpu;
        child.setChildProcessModifier([memory, cpu] {
            auto cap = [](int resource, rlim_t value) {
                struct rlimit r;
                r.rlim_cur = value;
                r.rlim_max = value;
                setrlimit(resource, &r);
            };
            cap(RLIMIT_AS, rlim_t(memory));
            cap(RLIMIT_CPU, rlim_t(cpu));
            cap(RLIMIT_FSIZE, 0); // it writes no file
            cap(RLIMIT_CORE, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
        });
        child.start();
        if (!child.waitForStarted())
            throw JetError{QStringLiteral("无法启动读取 Jet 文件的程序 %1：%2").arg(JetReader::helperProgram(), child.errorString())};

        QByteArray pending;
        qsizetype at = 0;
        qint64 total = 0;
        bool magic = false;
        bool stopped = false;
        QElapsedTimer quiet;
        quiet.start();
        auto end = [&child] {
            child.kill();
            child.waitForFinished(-1);
        };
        try {
            for (;;) {
                const bool finished = !child.waitForReadyRead(kPollMs) && child.state() == QProcess::NotRunning;
                // Read onto the end of `pending`, whose room is kept from read to read: a new
                // buffer at every read made the allocator tidy its small blocks each time.
                const qint64 available = child.bytesAvailable();
                if (available > 0) {
                    quiet.restart();
                    total += available;
                    if (total > m_maxOutput) {
                        end();
                        throw JetError{QStringLiteral("读取%1时，读取程序给出的数据远多于文件所能容纳的，已终止（文件损坏？）").arg(m_what)};
                    }
                    const qsizetype had = pending.size();
                    pending.resize(had + available);
                    const qint64 got = child.read(pending.data() + had, available);
                    pending.resize(had + qMax<qint64>(got, 0));
                }
                if (!magic && pending.size() - at >= stream::kMagicSize) {
                    if (pending.mid(at, stream::kMagicSize) != QByteArray(stream::kMagic, stream::kMagicSize))
                        throw Nonsense{};
                    at += stream::kMagicSize;
                    magic = true;
                }
                while (magic && pending.size() - at >= 5) {
                    quint32 length = 0;
                    for (int i = 0; i < 4; ++i)
                        length |= quint32(static_cast<unsigned char>(pending.at(at + 1 + i))) << (8 * i);
                    if (length > kMaxRecord)
                        throw Nonsense{};
                    if (pending.size() - at - 5 < qint64(length))
                        break;
                    const char tag = pending.at(at);
                    // A view of `pending`, which does not change while the record is read.
                    const QByteArrayView payload(pending.constData() + at + 5, qsizetype(length));
                    at += 5 + length;
                    if (!record(tag, payload)) {
                        stopped = true;
                        break;
                    }
                }
                if (at > (4 << 20)) {
                    pending.remove(0, at);
                    at = 0;
                }
                if (stopped) {
                    end();
                    return;
                }
                if (finished)
                    break;
                if (quiet.elapsed() > m_limits.stallMs) {
                    end();
                    throw JetError{QStringLiteral("读取%1时，读取程序超过 %2 秒没有进展，已终止（文件损坏？）")
                                       .arg(m_what)
                                       .arg(m_limits.stallMs / 1000)};
                }
            }
        } catch (const Nonsense &) {
            end();
            throw JetError{QStringLiteral("读取%1时，读取程序给出了无法理解的数据，已终止（文件损坏？）").arg(m_what)};
        } catch (...) {
            end(); // the reader's caller stopped the read
            throw;
        }
        if (child.exitStatus() == QProcess::CrashExit)
            throw JetError{QStringLiteral("读取%1时，读取程序异常结束（文件损坏，或超出了时间或内存的限制）").arg(m_what)};
        if (pending.size() != at)
            throw JetError{QStringLiteral("读取%1时，读取程序的数据不完整，已终止（文件损坏？）").arg(m_what)};
        m_exitCode = child.exitCode();
    }
    int exitCode() const { return m_exitCode; }

private:
    QString m_what;
    JetLimits m_limits;
    qint64 m_maxOutput = 0;
    int m_cpu = 60;
    int m_exitCode = 0;
};

QString failureText(QByteArrayView payload)
{
    Payload p(payload);
    QByteArray why;
    if (!p.bytes(why))
        return QString();
    QString s = QString::fromLatin1(why.left(200));
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            c = QLatin1Char('?');
    return s;
}

} // namespace

bool JetColumn::holdsText() const { return type == stream::kTextType || type == stream::kMemoType; }

QString JetColumn::typeName() const
{
    switch (type) {
    case 0x01:
        return QStringLiteral("是/否");
    case 0x02:
        return QStringLiteral("字节");
    case 0x03:
        return QStringLiteral("整型");
    case 0x04:
        return QStringLiteral("长整型");
    case 0x05:
        return QStringLiteral("货币");
    case 0x06:
        return QStringLiteral("单精度");
    case 0x07:
        return QStringLiteral("双精度");
    case 0x08:
        return QStringLiteral("日期/时间");
    case 0x09:
        return QStringLiteral("二进制");
    case 0x0a:
        return QStringLiteral("文本");
    case 0x0b:
        return QStringLiteral("OLE 对象");
    case 0x0c:
        return QStringLiteral("备注");
    default:
        return QStringLiteral("类型 %1").arg(type);
    }
}

JetReader::JetReader(const QString &file, const JetLimits &limits) : m_file(file), m_limits(limits) {}

QString JetReader::helperProgram()
{
    if (!helperOverride().isEmpty())
        return helperOverride();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("casearchive-jet"));
}

void JetReader::setHelperForTests(const QString &program) { helperOverride() = program; }

JetListing JetReader::list()
{
    JetListing listing;
    bool haveFormat = false;
    QString failure;
    HelperRun run(m_file, m_limits, QStringLiteral("文件的表目录"));
    run.run({QStringLiteral("list"), m_file}, [&](char tag, QByteArrayView payload) {
        Payload p(payload);
        quint32 a = 0, b = 0, c = 0;
        if (tag == stream::Format) {
            if (!p.u8(a) || !p.u16(b) || !p.done() || a > 1)
                throw Nonsense{};
            listing.version = a == 0 ? 3 : 4;
            listing.codePage = int(b);
            haveFormat = true;
        } else if (tag == stream::Table) {
            JetTable t;
            quint32 columns = 0;
            quint32 stated = 0;
            if (!haveFormat || !p.u32(a) || !p.u32(b) || !p.u8(c) || !p.u32(stated) || !p.bytes(t.name) || !p.u16(columns))
                throw Nonsense{};
            t.statedRows = stated;
            t.index = int(a);
            t.flags = b;
            t.readable = c != 0;
            for (quint32 i = 0; i < columns; ++i) {
                JetColumn col;
                quint32 type = 0, size = 0;
                if (!p.u8(type) || !p.u16(size) || !p.bytes(col.name))
                    throw Nonsense{};
                col.type = int(type);
                col.size = int(size);
                t.columns << col;
            }
            if (!p.done() || listing.tables.size() > 100000)
                throw Nonsense{};
            listing.tables << t;
        } else if (tag == stream::Failure) {
            failure = failureText(payload);
        } else {
            throw Nonsense{};
        }
        return true;
    });
    if (!failure.isEmpty() || !haveFormat || run.exitCode() != 0)
        throw JetError{QStringLiteral("无法读取文件的表目录：它不是完好的 Jet 数据库（%1）。")
                           .arg(failure.isEmpty() ? QStringLiteral("读取程序退出码 %1").arg(run.exitCode()) : failure)};
    return listing;
}

qint64 JetReader::readRows(const JetTable &table, const QString &tableName,
                           const std::function<bool(const QVector<JetCell> &)> &visit, qint64 limit)
{
    const QString what = QStringLiteral("表 %1 ").arg(tableName);
    qint64 rows = 0;
    qint64 stated = -1;
    bool begun = false;
    bool early = false;
    QString failure;
    QVector<JetCell> cells;
    HelperRun run(m_file, m_limits, what);
    QStringList arguments{QStringLiteral("dump"), m_file, QString::number(table.index)};
    if (limit >= 0)
        arguments << QString::number(limit);
    run.run(arguments, [&](char tag, QByteArrayView payload) {
        Payload p(payload);
        if (tag == stream::Begin) {
            quint32 index = 0;
            if (begun || !p.u32(index) || !p.done() || int(index) != table.index)
                throw Nonsense{};
            begun = true;
        } else if (tag == stream::Row) {
            quint32 n = 0;
            if (!begun || stated >= 0 || !p.u16(n) || int(n) != table.columns.size())
                throw Nonsense{};
            cells.resize(int(n));
            for (JetCell &cell : cells) {
                quint32 kind = 0;
                if (!p.u8(kind) || kind > stream::Omitted || !p.bytes(cell.bytes))
                    throw Nonsense{};
                cell.kind = JetCell::Kind(kind);
            }
            if (!p.done())
                throw Nonsense{};
            ++rows;
            if (!visit(cells)) {
                early = true;
                return false;
            }
        } else if (tag == stream::End) {
            quint32 low = 0, high = 0;
            if (!begun || !p.u32(low) || !p.u32(high) || !p.done())
                throw Nonsense{};
            stated = qint64(low) | (qint64(high) << 32);
        } else if (tag == stream::Failure) {
            failure = failureText(payload);
        } else if (tag != stream::Format) {
            throw Nonsense{};
        }
        return true;
    });
    if (early)
        return rows;
    if (!failure.isEmpty())
        throw JetError{QStringLiteral("读取%1时出错，第 %2 行之后无法继续：%3（文件损坏？）").arg(what).arg(rows).arg(failure)};
    if (run.exitCode() != 0 || stated != rows)
        throw JetError{QStringLiteral("读取%1时，读取程序没有读完（第 %2 行之后），文件可能已损坏。").arg(what).arg(rows)};
    return rows;
}

} // namespace jet
