#include "archive/Archive.h"

#include "store/Database.h"
#include "store/FileModes.h"
#include "store/SearchIndex.h"
#include "store/Statements.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrl>

#include <random>

namespace store {

const QString kFirstOperator = QStringLiteral("管理员");
const QString kFirstOperatorLevel = QStringLiteral("超级权限");

namespace {

void prepareFolder(const QString &path)
{
    if (isServerAddress(path))
        return;
    const QString dir = QFileInfo(path).absolutePath();
    if (!makeProtectedFolders(dir))
        throw StoreError(QStringLiteral("无法建立文件夹“%1”。").arg(dir));
}

const char *const kTypeNames[] = {"内科", "外科", "儿科", "妇产科", "眼科", "耳鼻喉科",
                                  "口腔科", "皮肤科", "骨科", "神经内科", "心血管内科", "肿瘤科"};
const char *const kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                 "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗",
                                 "郑", "梁", "谢", "宋", "唐", "许", "韩", "冯", "邓", "曹"};
const char *const kGiven[] = {"伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊", "军",
                              "洋", "勇", "艳", "杰", "娟", "涛", "明", "超", "秀兰", "霞",
                              "平", "刚", "桂英", "建华", "志强", "玉兰", "海燕", "国庆", "文博", "子涵"};
const char *const kDiagnoses[] = {"急性阑尾炎", "社区获得性肺炎", "2型糖尿病", "原发性高血压", "胆囊结石",
                                  "腰椎间盘突出症", "白内障", "慢性鼻窦炎", "龋齿", "带状疱疹",
                                  "桡骨远端骨折", "脑梗死", "冠状动脉粥样硬化性心脏病", "甲状腺结节",
                                  "支气管哮喘", "腹股沟疝", "急性胃肠炎", "缺铁性贫血", "肾结石", "乳腺纤维腺瘤"};
const char *const kComplaints[] = {"反复发作三月余", "突发疼痛一天", "体检发现异常", "症状加重一周",
                                   "门诊随访复查", "外伤后入院"};

struct DemoPicture {
    const char *file;
    int width;
    int height;
    const char *format;
};
const DemoPicture kPictures[] = {
    {"照片_小_320x240.bmp", 320, 240, "BMP"},
    {"照片_640x480.jpg", 640, 480, "JPG"},
    {"照片_竖_600x900.jpg", 600, 900, "JPG"},
    {"照片_1024x768.png", 1024, 768, "PNG"},
    {"照片_宽_3200x900.jpg", 3200, 900, "JPG"},
    {"照片_大_4000x3000.jpg", 4000, 3000, "JPG"},
};

const char *const kAttachments[] = {"病历摘要_01.txt", "检查报告_02.html", "出院小结_03.txt",
                                    "化验单_04.csv", "手术记录_05.txt", "影像报告_06.html"};

void drawPicture(const QString &path, const DemoPicture &p, int index)
{
    QImage img(p.width, p.height, QImage::Format_RGB32);
    QLinearGradient g(0, 0, p.width, p.height);
    const QColor tones[] = {QColor(37, 148, 160), QColor(52, 73, 94), QColor(120, 144, 156),
                            QColor(41, 128, 185), QColor(22, 160, 133), QColor(142, 68, 173)};
    g.setColorAt(0, tones[index % 6].lighter(150));
    g.setColorAt(1, tones[index % 6].darker(130));
    QPainter painter(&img);
    painter.fillRect(img.rect(), g);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, qMax(2, p.width / 300)));
    painter.setBrush(Qt::NoBrush);
    // A grid, so that scrolling a large photo shows where one is.
    const int step = qMax(40, qMin(p.width, p.height) / 8);
    painter.setOpacity(0.35);
    for (int x = 0; x < p.width; x += step)
        painter.drawLine(x, 0, x, p.height);
    for (int y = 0; y < p.height; y += step)
        painter.drawLine(0, y, p.width, y);
    painter.setOpacity(1);
    painter.drawRect(QRect(0, 0, p.width - 1, p.height - 1).adjusted(4, 4, -4, -4));
    QFont f;
    f.setPixelSize(qMax(14, qMin(p.width, p.height) / 10));
    painter.setFont(f);
    painter.drawText(img.rect(), Qt::AlignCenter,
                     QStringLiteral("示例照片 %1\n%2 × %3").arg(index + 1).arg(p.width).arg(p.height));
    painter.end();
    if (!img.save(path, p.format, 85))
        throw StoreError(QStringLiteral("无法写入照片“%1”。").arg(path));
}

void writeAttachment(const QString &path, int index)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw StoreError(QStringLiteral("无法写入文件“%1”。").arg(path));
    QTextStream out(&f);
    if (path.endsWith(QLatin1String(".html")))
        out << "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>示例报告</title></head>"
               "<body><h1>示例报告 " << index + 1 << "</h1><p>此文件由演示档案生成，仅供试用。</p></body></html>\n";
    else if (path.endsWith(QLatin1String(".csv")))
        out << "项目,结果,参考范围\n白细胞,6.2,4-10\n血红蛋白,132,120-160\n血小板,210,100-300\n";
    else
        out << "示例病案附件 " << index + 1 << "\n此文件由演示档案生成，仅供试用。\n";
}

QString typeName(int i)
{
    if (i < int(std::size(kTypeNames)))
        return QString::fromUtf8(kTypeNames[i]);
    return QStringLiteral("专科病区%1").arg(i + 1, 3, 10, QLatin1Char('0'));
}

} // namespace

QString demoFilesFolder(const QString &archivePath)
{
    if (isServerAddress(archivePath)) {
        // Beside a database there is no folder: the current one, named after the database.
        QString name = QUrl(archivePath).path().section(QLatin1Char('/'), -1);
        name.remove(QRegularExpression(QStringLiteral("[^\\w-]")));
        return QDir::current().absoluteFilePath((name.isEmpty() ? QStringLiteral("casearchive") : name)
                                                + QStringLiteral("_files"));
    }
    const QFileInfo fi(archivePath);
    return fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName() + QStringLiteral("_files");
}

namespace {
// A half-made archive is worse than none: remove the file when making it failed. On a
// server the archive gets a database of its own, empty until then; the tables are made in
// the transaction that fills them, so a failure leaves the database empty again.
template <typename Fill>
void createArchiveFile(const QString &path, Fill fill)
{
    if (isServerAddress(path)) {
        Connection c = Connection::createNew(path);
        const QStringList present = tableNames(c);
        if (!present.isEmpty())
            throw StoreError(QStringLiteral("服务器上的数据库“%1”中已经有数据表（%2），不能在其中建立新的病案数据库。"
                                            "请为病案数据库另建一个空的数据库。")
                                 .arg(path, present.join(QStringLiteral("、"))));
        fill(c);
        return;
    }
    if (QFileInfo::exists(path))
        throw StoreError(QStringLiteral("文件“%1”已经存在。").arg(path));
    try {
        Connection c = Connection::createNew(path);
        fill(c);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}
} // namespace

void initArchive(const QString &path)
{
    prepareFolder(path);
    createArchiveFile(path, [](Connection &c) {
    Transaction t(c);
    createSchema(c);
    insertOperator(c, kFirstOperator, QString(), kFirstOperatorLevel);
    t.commit();
    });
}

void makeDemoArchive(const QString &path, const DemoOptions &options)
{
    if (options.records < 0 || options.types < 1)
        throw StoreError(QStringLiteral("演示档案的记录数或类型数不正确。"));
    prepareFolder(path);
    if (!isServerAddress(path) && QFileInfo::exists(path))
        throw StoreError(QStringLiteral("文件“%1”已经存在。").arg(path));

    // The demonstration's made-up patients are kept like real ones: the files' folder is
    // the owner's alone.
    const QString folder = options.filesFolder.isEmpty() ? demoFilesFolder(path)
                                                         : QFileInfo(options.filesFolder).absoluteFilePath();
    if (!makeProtectedFolders(folder) || !protect(folder, ownerOnly()).isEmpty())
        throw StoreError(QStringLiteral("无法建立文件夹“%1”。").arg(folder));
    QStringList pictures;
    for (int i = 0; i < int(std::size(kPictures)); ++i) {
        const QString p = folder + QLatin1Char('/') + QString::fromUtf8(kPictures[i].file);
        if (!QFileInfo::exists(p))
            drawPicture(p, kPictures[i], i);
        pictures << QDir::toNativeSeparators(p);
    }
    QStringList attachments;
    for (int i = 0; i < int(std::size(kAttachments)); ++i) {
        const QString p = folder + QLatin1Char('/') + QString::fromUtf8(kAttachments[i]);
        writeAttachment(p, i);
        attachments << QDir::toNativeSeparators(p);
    }
    protectTree(folder, ownerOnly());

    createArchiveFile(path, [&](Connection &c) {
    Transaction t(c);
    createSchema(c);
    suspendSearchIndex(c); // built once the records are in
    insertOperator(c, kFirstOperator, QString(), kFirstOperatorLevel);
    for (int i = 0; i < options.types; ++i)
        insertType(c, typeName(i));

    std::mt19937 rng(options.variant);
    auto pick = [&rng](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    QDateTime when(QDate(2009, 3, 2), QTime(8, 0, 0));
    RecordRow row;
    for (int i = 0; i < options.records; ++i) {
        // Numbers are entry times; entries are minutes apart, so every number is unique.
        when = when.addSecs(60 + pick(900));
        row.typeName = typeName(pick(options.types));
        row.number = when.toString(QStringLiteral("yyMMddHHmmss"));
        const QString patient = QString::fromUtf8(kSurnames[pick(int(std::size(kSurnames)))])
            + QString::fromUtf8(kGiven[pick(int(std::size(kGiven)))]);
        const QString diagnosis = QString::fromUtf8(kDiagnoses[pick(int(std::size(kDiagnoses)))]);
        row.name = patient + QLatin1Char(' ') + diagnosis;
        row.path = pick(10) == 0 ? QString() : attachments[pick(int(attachments.size()))];
        row.description = QStringLiteral("患者：%1\r\n入院日期：%2\r\n主诉：%3\r\n诊断：%4")
                              .arg(patient, when.date().toString(QStringLiteral("yyyy-MM-dd")),
                                   QString::fromUtf8(kComplaints[pick(int(std::size(kComplaints)))]),
                                   diagnosis);
        insertRecord(c, row);
        const int photos = pick(5);
        for (int k = 0; k < photos; ++k)
            insertPhoto(c, row.number, pictures[pick(int(pictures.size()))]);
    }
    buildSearchIndex(c);
    t.commit();
    });
}

} // namespace store
