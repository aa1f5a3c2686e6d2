// Verbose backups through the service manager: TIBBackupService reading
// every output line against gbak -b -v -se, on the same server, of
//   (a) a database of about 100 MB in one large table (few lines) and
//   (b) a database of 3,000 small tables (tens of thousands of lines).
// Prints both times and the ratio ours/gbak for each.
//
//   bench_backup SERVER PASSWORD FOLDER [RUNS]
// FOLDER is a folder the server writes; the databases are made there once.
#include "IBServices.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QString Server, Password, Folder;

bool Isql(const QString &Database, const QByteArray &Sql, bool Create = false)
{
    QStringList args{"-q", "-b", "-user", "SYSDBA", "-password", Password};
    if (!Create)
        args << Server + ":" + Database;
    return Program("isql-fb", args, Sql);
}

QString Make(const QString &Name, const std::function<QByteArray()> &Content)
{
    const QString path = Folder + "/" + Name + ".fdb";
    if (QFile::exists(path))
        return path;
    Isql(path, QStringLiteral("CREATE DATABASE '%1:%2' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;")
                   .arg(Server, path)
                   .toUtf8(),
         true);
    if (!Isql(path, Content())) {
        QFile::remove(path);
        std::exit(1);
    }
    return path;
}

QByteArray Big()
{
    return "CREATE TABLE GRANDE (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(60), TEXTO VARCHAR(40), "
           "VALOR NUMERIC(15,2)); COMMIT;"
           "SET TERM ^ ; EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 900000) DO BEGIN I = I + 1; "
           "INSERT INTO GRANDE VALUES (:I, 'Cliente número ' || :I || ' da banca', "
           "LPAD(:I, 40, 'x'), :I * 1.5); END END^ SET TERM ; ^ COMMIT;";
}

QByteArray Many()
{
    QByteArray sql;
    for (int i = 1; i <= 3000; ++i)
        sql += "CREATE TABLE T" + QByteArray::number(i) + " (ID INTEGER NOT NULL PRIMARY KEY, A VARCHAR(20));\n";
    sql += "COMMIT;\n";
    return sql;
}

double Ours(const QString &Database, int &Lines)
{
    const QString file = Folder + "/bench_ours.fbk";
    QFile::remove(file);
    QElapsedTimer t;
    t.start();
    TIBBackupService b;
    b.SetServerName(Server);
    b.SetProtocol(TProtocol::TCP);
    b.SetLoginPrompt(false);
    b.Params().Add("user_name=SYSDBA");
    b.Params().Add("password=" + Password);
    b.SetActive(true);
    b.SetVerbose(true);
    b.SetDatabaseName(Database);
    b.SetBackupFile({file});
    b.ServiceStart();
    Lines = 0;
    while (!b.Eof()) {
        b.GetNextLine();
        ++Lines;
    }
    b.SetActive(false);
    const double s = double(t.nsecsElapsed()) / 1e9;
    QFile::remove(file);
    return s;
}

double Gbak(const QString &Database, int &Lines)
{
    const QString file = Folder + "/bench_gbak.fbk";
    QFile::remove(file);
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start("gbak", {"-b", "-v", "-se", Server + ":service_mgr", "-user", "SYSDBA", "-password", Password, Database,
                     file});
    p.waitForFinished(-1);
    const QByteArray out = p.readAllStandardOutput() + p.readAllStandardError();
    const double s = double(t.nsecsElapsed()) / 1e9;
    Lines = int(out.count('\n'));
    if (p.exitCode() != 0)
        std::fprintf(stderr, "gbak: %s\n", out.right(400).constData());
    QFile::remove(file);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_backup SERVER PASSWORD FOLDER [RUNS]\n");
        return 2;
    }
    Server = argv[1];
    Password = argv[2];
    Folder = argv[3];
    const int runs = argc > 4 ? std::max(1, atoi(argv[4])) : 3;
    const struct {
        const char *name;
        QString path;
    } cases[] = {{"backup-big", Make("bench_grande", Big)}, {"backup-lines", Make("bench_tabelas", Many)}};
    QStringList summary;
    for (const auto &c : cases) {
        std::vector<double> ours, gbak;
        int oursLines = 0, gbakLines = 0;
        for (int r = 0; r < runs; ++r) {
            ours.push_back(Ours(c.path, oursLines));
            gbak.push_back(Gbak(c.path, gbakLines));
        }
        const double a = Median(ours), b = Median(gbak);
        std::printf("%s: TIBBackupService %.2f s (%d lines), gbak %.2f s (%d lines)\n", c.name, a, oursLines, b,
                    gbakLines);
        summary << QStringLiteral("%1: ours %2 s, peer %3 s, ratio %4")
                       .arg(c.name)
                       .arg(a, 0, 'f', 2)
                       .arg(b, 0, 'f', 2)
                       .arg(a / b, 0, 'f', 2);
    }
    for (const QString &line : summary)
        std::printf("%s\n", qPrintable(line));
    return 0;
}
