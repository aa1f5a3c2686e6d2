// Fetch throughput: the same rows read through
//   (a) TIBSQL with Next,
//   (b) TIBQuery,
//   (c) a plain loop over the client library written here,
//   (d) Qt's own Firebird driver (QIBASE, forward-only),
// each reading every column as text and as its own type. Prints rows/s for
// each and the ratios a/c, b/c, a/d, and the memory the query's row cache
// took.
//
//   bench_fetch SERVER PASSWORD DATABASE [ROWS] [RUNS]
// SERVER is host/port; DATABASE a file on that server, made here when it
// does not hold the BENCH table yet.
#include "IBQuery.h"
#include "IBSQL.h"
#include "SysUtils.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace {

QString Server, Password, Database;

// Keeps the compiler from dropping conversions whose results go unused.
volatile size_t Sink;

void Use(const QString &S)
{
    Sink = Sink + size_t(S.size());
}
template <typename T>
void Use(const T &V)
{
    Sink = Sink + sizeof(V);
}

bool Isql(const QString &Sql)
{
    return Program("isql-fb", {"-q", "-b", "-user", "SYSDBA", "-password", Password, Server + ":" + Database},
                   Sql.toUtf8());
}

void MakeTable(int Rows)
{
    QProcess count;
    count.start("isql-fb", {"-q", "-user", "SYSDBA", "-password", Password, Server + ":" + Database});
    count.waitForStarted();
    count.write("SET HEADING OFF; SELECT COUNT(*) FROM BENCH;");
    count.closeWriteChannel();
    count.waitForFinished(-1);
    if (count.readAllStandardOutput().trimmed() == QByteArray::number(Rows))
        return;
    if (!QFile::exists(Database)) {
        QProcess p;
        p.start("isql-fb", {"-q", "-b"});
        p.waitForStarted();
        p.write(QStringLiteral("CREATE DATABASE '%1:%2' USER 'SYSDBA' PASSWORD '%3' DEFAULT CHARACTER SET WIN1252;")
                    .arg(Server, Database, Password)
                    .toUtf8());
        p.closeWriteChannel();
        p.waitForFinished(-1);
    }
    Isql("DROP TABLE BENCH; COMMIT;");
    const bool ok = Isql(QStringLiteral(
        "CREATE TABLE BENCH (ID INTEGER NOT NULL, NOME VARCHAR(40), VALOR NUMERIC(15,2), MOMENTO TIMESTAMP, "
        "OPCIONAL INTEGER); COMMIT;"
        "SET TERM ^ ; EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < %1) DO BEGIN I = I + 1; "
        "INSERT INTO BENCH VALUES (:I, 'Cliente nº ' || :I || ' São João', :I * 1.25, "
        "DATEADD(:I SECOND TO TIMESTAMP '2020-01-01 00:00:00'), IIF(MOD(:I, 3) = 0, NULL, :I)); END END^ "
        "SET TERM ; ^ COMMIT;")
                             .arg(Rows));
    if (!ok)
        std::exit(1);
}

const char *Select = "SELECT ID, NOME, VALOR, MOMENTO, OPCIONAL FROM BENCH";

struct Connection {
    TIBDatabase Db;
    TIBTransaction Tr;
    Connection()
    {
        Db.SetLoginPrompt(false);
        Db.SetParams({"user_name=SYSDBA", "password=" + Password, "lc_ctype=WIN1252"});
        Db.SetDatabaseName(Server + ":" + Database);
        Tr.SetDefaultDatabase(&Db);
        Tr.SetParams({"read_committed", "rec_version", "nowait"});
        Db.Open();
        Tr.StartTransaction();
    }
};

long long RunIBSQL()
{
    Connection c;
    TIBSQL q;
    q.SetDatabase(&c.Db);
    q.SetTransaction(&c.Tr);
    q.SQL().SetText(Select);
    q.ExecQuery();
    long long rows = 0;
    TIBXSQLDA &r = q.Current();
    TIBXSQLVAR &id = r.Vars(0), &nome = r.Vars(1), &valor = r.Vars(2), &momento = r.Vars(3), &opcional = r.Vars(4);
    while (!q.Eof()) {
        Use(id.AsString());
        Use(id.AsInteger());
        Use(nome.AsString());
        Use(valor.AsString());
        Use(valor.AsCurrency());
        Use(momento.AsString());
        Use(momento.AsDateTime());
        Use(opcional.AsString());
        Use(opcional.AsInteger());
        ++rows;
        q.Next();
    }
    return rows;
}

qint64 QueryCache;

long long RunIBQuery()
{
    Connection c;
    TIBQuery q;
    q.SetDatabase(&c.Db);
    q.SetTransaction(&c.Tr);
    q.SetBufferChunks(1000);
    q.SQL().Add(Select);
    q.Open();
    TField &id = q.FieldByName("ID"), &nome = q.FieldByName("NOME"), &valor = q.FieldByName("VALOR"),
           &momento = q.FieldByName("MOMENTO"), &opcional = q.FieldByName("OPCIONAL");
    long long rows = 0;
    while (!q.Eof()) {
        Use(id.AsString());
        Use(id.AsInteger());
        Use(nome.AsString());
        Use(valor.AsString());
        Use(valor.AsCurrency());
        Use(momento.AsString());
        Use(momento.AsDateTime());
        Use(opcional.AsString());
        Use(opcional.AsInteger());
        ++rows;
        q.Next();
    }
    QueryCache = q.CacheSize();
    return rows;
}

// The client library called directly, with the same conversions.
long long RunPlain()
{
    Connection c;
    IGDSLibrary &lib = c.Db.GDSLibrary();
    ISC_STATUS_ARRAY status;
    isc_stmt_handle stmt = 0;
    lib.isc_dsql_alloc_statement2(status, c.Db.HandlePtr(), &stmt);
    std::vector<char> area(XSQLDA_LENGTH(5));
    auto *da = reinterpret_cast<XSQLDA *>(area.data());
    da->version = SQLDA_VERSION1;
    da->sqln = 5;
    if (lib.isc_dsql_prepare(status, c.Tr.HandlePtr(), &stmt, 0, Select, 3, da))
        return -1;
    std::vector<std::vector<char>> buffers(5);
    std::vector<short> nulls(5);
    for (int i = 0; i < 5; ++i) {
        XSQLVAR &v = da->sqlvar[i];
        buffers[size_t(i)].resize(size_t(v.sqllen) + 2);
        v.sqldata = buffers[size_t(i)].data();
        v.sqlind = &nulls[size_t(i)];
    }
    lib.isc_dsql_execute(status, c.Tr.HandlePtr(), &stmt, 3, nullptr);
    const TCodePage &page = TCodePage::Get(1252);
    long long rows = 0;
    while (lib.isc_dsql_fetch(status, &stmt, 3, da) == 0) {
        int32_t id;
        std::memcpy(&id, da->sqlvar[0].sqldata, 4);
        Use(QString::number(id));
        Use(id);
        uint16_t n;
        std::memcpy(&n, da->sqlvar[1].sqldata, 2);
        Use(page.Decode(da->sqlvar[1].sqldata + 2, n));
        int64_t valor;
        std::memcpy(&valor, da->sqlvar[2].sqldata, 8);
        Use(CurrToStr(valor * 100));
        Use(valor * 100);
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, da->sqlvar[3].sqldata, sizeof ts);
        struct tm t {};
        lib.isc_decode_timestamp(&ts, &t);
        const QDateTime dt(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                           QTime(t.tm_hour, t.tm_min, t.tm_sec, int(ts.timestamp_time % 10000 / 10)));
        Use(DateTimeToStr(dt));
        Use(dt);
        if (nulls[4] == -1) {
            Use(QString());
            Use(0);
        } else {
            int32_t o;
            std::memcpy(&o, da->sqlvar[4].sqldata, 4);
            Use(QString::number(o));
            Use(o);
        }
        ++rows;
    }
    lib.isc_dsql_free_statement(status, &stmt, DSQL_drop);
    return rows;
}

long long RunQt()
{
    long long rows = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QIBASE", "bench");
        db.setDatabaseName(Server + ":" + Database);
        db.setUserName("SYSDBA");
        db.setPassword(Password);
        db.setConnectOptions("ISC_DPB_LC_CTYPE=WIN1252");
        if (!db.open()) {
            std::fprintf(stderr, "QIBASE: %s\n", qPrintable(db.lastError().text()));
            return -1;
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(Select);
        while (q.next()) {
            for (int i = 0; i < 5; ++i) {
                const QVariant v = q.value(i);
                Use(v.toString());
                Use(v);
            }
            ++rows;
        }
    }
    QSqlDatabase::removeDatabase("bench");
    return rows;
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

long long VmRSSKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Local time without asking the file system at every conversion; the
    // same for every way measured.
    qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_fetch SERVER PASSWORD DATABASE [ROWS] [RUNS]\n");
        return 2;
    }
    Server = argv[1];
    Password = argv[2];
    Database = argv[3];
    const int rows = argc > 4 ? atoi(argv[4]) : 1000000;
    const int runs = argc > 5 ? std::max(1, atoi(argv[5])) : 3;
    MakeTable(rows);

    struct Way {
        const char *name;
        std::function<long long()> run;
        std::vector<double> rates;
        std::vector<double> cpu; // this process's CPU seconds per row
    };
    std::vector<Way> ways{{"ibsql", RunIBSQL, {}}, {"ibquery", RunIBQuery, {}}, {"plain", RunPlain, {}}, {"qt", RunQt, {}}};
    long long cacheRss = 0;
    for (int r = 0; r < runs; ++r) {
        for (Way &w : ways) {
            const long long before = VmRSSKiB();
            const double cpu0 = CpuSeconds();
            QElapsedTimer t;
            t.start();
            const long long n = w.run();
            const double s = double(t.nsecsElapsed()) / 1e9;
            w.cpu.push_back((CpuSeconds() - cpu0) / double(std::max(1LL, n)));
            if (n != rows) {
                std::fprintf(stderr, "%s read %lld rows of %d\n", w.name, n, rows);
                return 1;
            }
            w.rates.push_back(double(n) / s);
            if (std::string(w.name) == "ibquery")
                cacheRss = std::max(cacheRss, VmRSSKiB() - before);
        }
    }
    const double a = Median(ways[0].rates), b = Median(ways[1].rates), c = Median(ways[2].rates),
                 d = Median(ways[3].rates);
    std::printf("fetch rows/s: ibsql %.0f, ibquery %.0f, plain loop %.0f, qt driver %.0f\n", a, b, c, d);
    // The server shares the machine: wall-clock rates move with its load,
    // while the client's own CPU per row is what this code decides.
    std::printf("fetch client CPU per row: ibsql %.2f us, ibquery %.2f us, plain loop %.2f us, qt driver %.2f us\n",
                Median(ways[0].cpu) * 1e6, Median(ways[1].cpu) * 1e6, Median(ways[2].cpu) * 1e6,
                Median(ways[3].cpu) * 1e6);
    std::printf("ibquery row cache: %.1f MB (%lld rows)\n", double(QueryCache) / 1e6, (long long)rows);
    std::printf("fetch-raw: ours %.0f rows/s, peer %.0f rows/s, ratio %.2f\n", a, c, c / a);
    std::printf("fetch-qt: ours %.0f rows/s, peer %.0f rows/s, ratio %.2f\n", a, d, d / a);
    std::printf("fetch-query: ours %.0f rows/s, peer %.0f rows/s, ratio %.2f\n", b, c, c / b);
    (void)cacheRss;
    return 0;
}
