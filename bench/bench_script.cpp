// Script execution: 20,000 statements (INSERTs and UPDATEs with accented
// text, every hundredth a CREATE PROCEDURE inside SET TERM) in one
// transaction, through TIBScript and through isql-fb -i, each on a fresh
// copy of the same database on the same server. Prints both times and the
// ratio ours/isql.
//
//   bench_script SERVER PASSWORD FOLDER [STATEMENTS] [RUNS]
// FOLDER is a folder the server writes, where the databases are made.
#include "IBScript.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString Server, Password, Folder;

bool Isql(const QStringList &Args, const QByteArray &Input = {})
{
    return Program("isql-fb", QStringList{"-q", "-b", "-ch", "UTF8", "-user", "SYSDBA", "-password", Password} + Args,
                   Input);
}

QString FreshDatabase(const QString &Name)
{
    const QString path = Folder + "/" + Name + ".fdb";
    QFile::remove(path);
    Isql({}, QStringLiteral("CREATE DATABASE '%1:%2' DEFAULT CHARACTER SET WIN1252;"
                            "CREATE TABLE BS (ID INTEGER NOT NULL PRIMARY KEY, NOME VARCHAR(60), VALOR NUMERIC(15,2));"
                            "COMMIT;")
                 .arg(Server, path)
                 .toUtf8());
    return path;
}

QStringList Script(int Statements)
{
    QStringList lines;
    for (int i = 1; i <= Statements; ++i) {
        if (i % 100 == 0) {
            lines << "SET TERM ^ ;"
                  << QStringLiteral("CREATE PROCEDURE P_%1 (X INTEGER) RETURNS (Y INTEGER)").arg(i) << "AS"
                  << "BEGIN" << "  Y = X * 2; /* preço */" << "  SUSPEND;" << "END^" << "SET TERM ; ^";
        } else if (i % 3 == 0) {
            lines << QStringLiteral("UPDATE BS SET NOME = 'Atualização nº %1', VALOR = VALOR + 1 WHERE ID = %2;")
                         .arg(i)
                         .arg(i - 1);
        } else {
            lines << QStringLiteral("INSERT INTO BS (ID, NOME, VALOR) VALUES (%1, 'Conceição São João %1', %1.5);")
                         .arg(i);
        }
    }
    return lines;
}

double RunOurs(const QStringList &Lines)
{
    const QString path = FreshDatabase("script_ours");
    TIBDatabase db;
    db.SetLoginPrompt(false);
    db.SetParams({"user_name=SYSDBA", "password=" + Password, "lc_ctype=WIN1252"});
    db.SetDatabaseName(Server + ":" + path);
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    tr.SetParams({"read_committed", "rec_version", "nowait"});
    TIBScript script;
    script.SetDatabase(&db);
    script.SetTransaction(&tr);
    script.SetAutoDDL(false);
    script.SetScript(Lines);
    QElapsedTimer t;
    t.start();
    db.Open();
    tr.StartTransaction();
    script.ExecuteScript();
    tr.Commit();
    db.Close();
    return double(t.nsecsElapsed()) / 1e9;
}

double RunIsql(const QStringList &Lines)
{
    const QString path = FreshDatabase("script_isql");
    QTemporaryFile file;
    file.open();
    file.write("SET AUTODDL OFF;\n");
    file.write(Lines.join('\n').toUtf8());
    file.write("\nCOMMIT;\n");
    file.flush();
    QElapsedTimer t;
    t.start();
    if (!Isql({"-i", file.fileName(), Server + ":" + path}))
        std::exit(1);
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_script SERVER PASSWORD FOLDER [STATEMENTS] [RUNS]\n");
        return 2;
    }
    Server = argv[1];
    Password = argv[2];
    Folder = argv[3];
    const int statements = argc > 4 ? atoi(argv[4]) : 20000;
    const int runs = argc > 5 ? std::max(1, atoi(argv[5])) : 3;
    const QStringList lines = Script(statements);
    std::vector<double> ours, isql;
    for (int r = 0; r < runs; ++r) {
        ours.push_back(RunOurs(lines));
        isql.push_back(RunIsql(lines));
    }
    const double a = Median(ours), b = Median(isql);
    std::printf("script: %d statements, TIBScript %.2f s, isql-fb %.2f s\n", statements, a, b);
    std::printf("script: ours %.2f s, peer %.2f s, ratio %.2f\n", a, b, a / b);
    QFile::remove(Folder + "/script_ours.fdb");
    QFile::remove(Folder + "/script_isql.fdb");
    return 0;
}
