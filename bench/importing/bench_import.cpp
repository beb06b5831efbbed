// The import of the earlier system's Jet archive against the plainest read of the same
// file: mdb-export of its four tables, in the same run. The Jet file is the tests' writer's
// (tests/support/Jet3Writer.cpp), in code page 936: 100,000 records with 300,000 photos by
// default (--records N), their Windows paths mapped onto a shared folder here whose
// subfolders are there but hold none of the files: every path is looked for on the disk,
// as spelled and then with letter case ignored, the dearest way a path can go.
//
//   bench_import [--records N] [--runs N]
// Each run is an mdb-export, then an import into a new file; the medians are compared, and
// the processor time of each (the children's included) is shown beside its clock time, as
// the machine may be busy with other work. BENCH_IMPORT_STAGES=1 prints when each stage
// began; BENCH_IMPORT_NO_PATHS=1 leaves the paths unmapped (no lookups on the disk), to
// tell their cost from the rest.
#include "Jet3Writer.h"

#include "importing/JetImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

using namespace importing;

namespace {

// Processor time of this process and of the children it has waited for (the helper, mdb-export).
double cpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage u {};
        getrusage(who, &u);
        total += u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

struct Timing {
    double wall = 0;
    double cpu = 0;
};

Timing exportTables(const QString &jet)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuSeconds();
    for (const char *table : {"Catalog", "Detail", "photo", "User"}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MDB_JET3_CHARSET"), QStringLiteral("CP936"));
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral("mdb-export"), {jet, QString::fromLatin1(table)});
        if (!p.waitForFinished(-1) || p.exitCode() != 0)
            std::printf("  (mdb-export failed on %s)\n", table);
    }
    return {clock.elapsed() / 1000.0, cpuSeconds() - cpu};
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int records = 100000;
    int runs = 3;
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1].toInt();
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
    }
    QTemporaryDir dir;
    const QString jet = dir.filePath(QStringLiteral("file.dat"));

    using C = testing::JetColumnSpec;
    QVector<testing::JetTableSpec> t(4);
    t[0] = {QStringLiteral("Catalog"), {C{QStringLiteral("Name")}}, {}};
    t[1] = {QStringLiteral("Detail"),
            {C{QStringLiteral("type_Name")}, C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("文件名")},
             C{QStringLiteral("路径名")}, C{QStringLiteral("文件说明"), true, 0}},
            {}};
    t[2] = {QStringLiteral("photo"), {C{QStringLiteral("病案号"), false, 50}, C{QStringLiteral("照片")}}, {}};
    t[3] = {QStringLiteral("User"), {C{QStringLiteral("UID"), false, 50}, C{QStringLiteral("PWD"), false, 50}, C{QStringLiteral("权限"), false, 50}}, {}};
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < 100; ++k)
        t[0].rows << testing::jetRow({QStringLiteral("病案类型%1").arg(k)});
    for (int i = 0; i < records; ++i) {
        const QString number = QStringLiteral("%1").arg(100000000000ll + i);
        t[1].rows << testing::jetRow({QStringLiteral("病案类型%1").arg(i % 100), number, QStringLiteral("病人姓名%1").arg(i),
                                      QStringLiteral("D:\\病案\\%1\\%2.doc").arg(i / 1000).arg(number),
                                      QStringLiteral("入院记录\r\n出院小结 %1").arg(i)});
        for (int k = 0; k < 3; ++k)
            t[2].rows << testing::jetRow({number, QStringLiteral("D:\\病案\\%1\\%2_%3.jpg").arg(i / 1000).arg(number).arg(k)});
    }
    for (int k = 0; k < 12; ++k)
        t[3].rows << testing::jetRow({QStringLiteral("操作员%1").arg(k), QStringLiteral("^_`"), QStringLiteral("可以修改")});
    testing::writeJet3(jet, t);
    std::printf("import benchmark: a Jet 3 file of %d records, %d photos (%.1f MB), made in %.1f s\n", records, 3 * records,
                QFileInfo(jet).size() / 1e6, clock.elapsed() / 1000.0);

    for (int f = 0; f <= (records - 1) / 1000; ++f)
        QDir().mkpath(dir.filePath(QStringLiteral("files/%1").arg(f)));
    PathPrefix p;
    parsePathPrefix(QStringLiteral("D:\\病案=%1").arg(dir.filePath(QStringLiteral("files"))), p, nullptr);
    const bool stages = qEnvironmentVariableIsSet("BENCH_IMPORT_STAGES");
    // Turn about, so that a spell of load on the machine falls on both.
    QVector<double> exportWall, exportCpu, importWall, importCpu;
    for (int run = 0; run < runs; ++run) {
        const Timing e = exportTables(jet);
        exportWall << e.wall;
        exportCpu << e.cpu;
        ImportOptions o;
        o.source = jet;
        o.target = dir.filePath(QStringLiteral("new%1.dat").arg(run));
        if (!qEnvironmentVariableIsSet("BENCH_IMPORT_NO_PATHS"))
            o.paths << p;
        clock.restart();
        const double cpu = cpuSeconds();
        const ImportResult r = importEarlierArchive(o, [&](const QString &line) {
            if (stages && !line.startsWith(QLatin1String("  ")))
                std::printf("    %6.2f s  cpu %6.2f s  %s\n", clock.elapsed() / 1000.0, cpuSeconds() - cpu, qPrintable(line.left(40)));
        });
        importWall << clock.elapsed() / 1000.0;
        importCpu << cpuSeconds() - cpu;
        QFile::remove(o.target);
        if (!r.verified) {
            std::printf("  import failed: %s\n", qPrintable(r.error));
            return 1;
        }
    }
    const double baseline = median(exportWall), import = median(importWall);
    std::printf("  runs: %d, medians\n", runs);
    std::printf("  mdb-export of the four tables                        %7.2f s  (processor %5.2f s)\n", baseline,
                median(exportCpu));
    std::printf("  import: read, write, read again, compare every cell  %7.2f s  (processor %5.2f s)  = %.2f x mdb-export\n",
                import, median(importCpu), baseline > 0 ? import / baseline : 0.0);
    return 0;
}
