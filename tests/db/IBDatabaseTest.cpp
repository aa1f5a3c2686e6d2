// Connections and transactions against the real server: parameter blocks,
// attach and detach, the ends of transactions and what they leave behind.
#include "IBDatabase.h"
#include "DbTestSupport.h"
#include "IBFirebird4.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

QStringList ToolParams()
{
    return {"user_name=SYSDBA", "password=vintemoro", "lc_ctype=WIN1252"};
}

// The connection as the update workflow sets it up.
void Preparar(TIBDatabase &Db, const ServerInfo &Server, const QString &Database, const QString &User = "SYSDBA")
{
    Db.SetServerType("IBServer");
    Db.SetLoginPrompt(false);
    Db.SetParams(ToolParams());
    Db.SetDatabaseName(Server.connection(Database));
    Db.Params().SetValues("User_Name", User);
    Db.Params().SetValues("Password", Server.password);
}

void Executar(TIBDatabase &Db, TIBTransaction &Tr, const char *Sql)
{
    IGDSLibrary &lib = Db.GDSLibrary();
    Tr.Call(lib.isc_dsql_execute_immediate(ThreadStatusVector(), Db.HandlePtr(), Tr.HandlePtr(), 0, Sql, 3, nullptr),
            true);
}

} // namespace

TEST(StringList, ValuesReplaceInPlaceAppendAndDelete)
{
    TStringList list(ToolParams());
    int changes = 0;
    list.SetOnChange([&] { ++changes; });
    list.SetValues("User_Name", "admin");
    list.SetValues("PASSWORD", "segredo");
    EXPECT_EQ(list.Lines(), (QStringList{"User_Name=admin", "PASSWORD=segredo", "lc_ctype=WIN1252"}));
    EXPECT_EQ(list.Values("LC_CTYPE"), "WIN1252");
    list.SetValues("role", "x=y");
    EXPECT_EQ(list[3], "role=x=y");
    EXPECT_EQ(list.Values("role"), "x=y");
    list.SetValues("password", "");
    EXPECT_EQ(list.Count(), 3);
    list.SetValues("nada", "");
    EXPECT_EQ(changes, 4);
    // A refusal before the change leaves the list as it was.
    list.SetOnChanging([] { throw std::runtime_error("no"); });
    EXPECT_THROW(list.Add("x"), std::runtime_error);
    EXPECT_EQ(list.Count(), 3);
}

TEST(IBDatabaseParams, DatabaseParameterBlock)
{
    TIBDatabase db;
    TStringList lines({"User_Name=SYSDBA", "Password=vintemoro", "lc_ctype=WIN1252"});
    EXPECT_EQ(db.BuildDPB(lines), QByteArray("\x01\x1c\x06SYSDBA\x1d\x09vintemoro\x30\x07WIN1252", 29));
    EXPECT_EQ(db.CharacterSet(), "WIN1252");
    EXPECT_EQ(db.CharacterSetCodePage(), 1252);

    EXPECT_EQ(db.BuildDPB(TStringList({"lc_ctype=win1252"})), QByteArray("\x01\x30\x07win1252", 10));
    EXPECT_EQ(db.CharacterSetCodePage(), CP_ACP);
    EXPECT_EQ(db.BuildDPB(TStringList({"USER_NAME=a", "isc_dpb_user_name=b", "sem igual", "=x", " =y"})),
              QByteArray("\x01\x1c\x01" "a\x1c\x01" "b", 7));
    EXPECT_EQ(db.BuildDPB(TStringList({"sql_dialect=3"})), Bytes({1, 63, 1, 3}));
    EXPECT_EQ(db.BuildDPB(TStringList({"sweep_interval=20000"})), Bytes({1, 22, 4, 32, 78, 0, 0}));
    EXPECT_EQ(db.BuildDPB(TStringList({"num_buffers=300", "sweep=qualquer", "no_reserve=1"})),
              Bytes({1, 5, 1, 44, 10, 1, 2, 27, 1, 1}));

    try {
        db.BuildDPB(TStringList({"user_name =SYSDBA"}));
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 114);
        EXPECT_EQ(e.Message(), "Constante DPB (user_name ) é desconhecida");
    }
    try {
        db.BuildDPB(TStringList({"page_size=8192"}));
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 11);
        EXPECT_EQ(e.Message(), "Constante DPB (isc_dpb_page_size) não é suportada");
    }
    EXPECT_THROW(db.BuildDPB(TStringList({"num_buffers=muitos"})), EConvertError);
    // Values that no block can carry are refused instead of corrupting it.
    EXPECT_EQ(ClientErrorOf([&] { db.BuildDPB(TStringList({"password=" + QString(256, 'x')})); }), 119);
    EXPECT_EQ(db.BuildDPB(TStringList({"password=" + QString(255, 'x')})).size(), 258);
    EXPECT_EQ(ClientErrorOf([&] { db.BuildDPB(TStringList({"sql_dialect="})); }), 87);
}

TEST(IBDatabaseParams, TransactionParameterBlock)
{
    EXPECT_EQ(TIBTransaction::BuildTPB(TStringList({"read_committed", "rec_version", "nowait"})),
              Bytes({3, 15, 17, 7}));
    EXPECT_EQ(TIBTransaction::BuildTPB(TStringList()), QByteArray());
    EXPECT_EQ(TIBTransaction::BuildTPB(TStringList({"isc_tpb_concurrency", "  ", "lock_write=TABELA", "WAIT"})),
              QByteArray("\x03\x02\x0b\x06TABELA\x06", 11));
    try {
        TIBTransaction::BuildTPB(TStringList({"verb_time"}));
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 13);
        EXPECT_EQ(e.Message(), "Constante TPB (isc_tpb_verb_time) não é suportada");
    }
    try {
        TIBTransaction::BuildTPB(TStringList({" nowait"}));
        ADD_FAILURE();
    } catch (const EIBClientError &e) {
        EXPECT_EQ(e.SQLCode(), 115);
        EXPECT_EQ(e.Message(), "Constante TPB ( nowait) é desconhecida");
    }
    EXPECT_EQ(ClientErrorOf([] { TIBTransaction::BuildTPB(TStringList({"lock_read=" + QString(300, 'T')})); }), 119);
}

TEST(IBDatabase, ConnectsWithTheToolsSettings)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    TIBDatabase db;
    Preparar(db, s, f.path());
    int events = 0;
    db.SetBeforeConnect([&](QObject *) { ++events; });
    db.SetAfterDisconnect([&](QObject *) { ++events; });
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(db.Params().Lines(), (QStringList{"User_Name=SYSDBA", "Password=vintemoro", "lc_ctype=WIN1252"}));
    // With Firebird 3's client library, what has a Firebird 4 server send its
    // new types as text.
    EXPECT_EQ(db.DPB(), QByteArray("\x01\x1c\x06SYSDBA\x1d\x09vintemoro\x30\x07WIN1252", 29) +
                            IBFirebird4::TextBinding(db.GDSLibrary().FirebirdVersion()));
    EXPECT_EQ(IBFirebird4::TextBinding(db.GDSLibrary().FirebirdVersion()).isEmpty(),
              db.GDSLibrary().FirebirdVersion() >= 4);
    EXPECT_EQ(db.CharacterSet(), "WIN1252");
    EXPECT_EQ(db.CharacterSetCodePage(), 1252);
    EXPECT_EQ(db.DBSQLDialect(), 3);
    db.Open();
    EXPECT_EQ(events, 1) << "Open on an open connection does nothing";

    EXPECT_EQ(ClientErrorOf([&] { db.Params().Add("num_buffers=10"); }), 16);
    EXPECT_EQ(db.Params().Count(), 3);
    EXPECT_EQ(ClientErrorOf([&] { db.SetDatabaseName("outro"); }), 16);
    EXPECT_THROW(db.SetServerType("Fake"), Exception);
    EXPECT_EQ(ClientErrorOf([&] { db.SetSQLDialect(0); }), 87);

    db.Close();
    db.Close();
    EXPECT_EQ(events, 2);
    EXPECT_FALSE(db.Connected());
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(ClientErrorOf([&] { db.CheckActive(); }), 15);

    // Reopening sends the same block again.
    db.Open();
    EXPECT_TRUE(db.Connected());
}

TEST(IBDatabase, AttachFailuresCarryTheServersText)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    struct Case {
        const char *what;
        QString name;
        QString password;
    };
    const QList<Case> cases{
        {"wrong password", s.connection(f.path()), "errada"},
        {"unknown database", s.connection(s.dataDir + "/nao_existe.fdb"), s.password},
        {"unreachable server", QStringLiteral("127.0.0.1/%1:%2").arg(FreePort()).arg(f.path()), s.password},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TIBDatabase db;
        Preparar(db, s, f.path());
        db.SetDatabaseName(c.name);
        db.Params().SetValues("Password", c.password);
        try {
            db.Open();
            ADD_FAILURE() << "connected";
        } catch (const EIBInterBaseError &e) {
            EXPECT_FALSE(e.Message().isEmpty());
            EXPECT_FALSE(e.Message().endsWith('.')) << e.Message().toStdString();
            EXPECT_LT(e.SQLCode(), 0);
            EXPECT_GT(e.IBErrorCode(), 335544000);
            if (QString(c.what) != "wrong password") {
                EXPECT_TRUE(e.Message().contains("\r\n")) << e.Message().toStdString();
            }
        }
        EXPECT_FALSE(db.Connected());
    }

    TIBDatabase unnamed;
    unnamed.SetLoginPrompt(false);
    EXPECT_EQ(ClientErrorOf([&] { unnamed.Open(); }), 17);
    TIBDatabase prompting;
    prompting.SetDatabaseName(s.connection(f.path()));
    try {
        prompting.Open();
        ADD_FAILURE();
    } catch (const EIBError &e) {
        EXPECT_STREQ(e.ClassName(), "EIBError");
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Não foi encontrado o prompt de login padrão.")));
    }
}

TEST(IBDatabase, LoginHandlerSuppliesThePassword)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    TIBDatabase db;
    db.SetDatabaseName(s.connection(f.path()));
    db.SetParams({"user_name=SYSDBA", "lc_ctype=WIN1252"});
    db.SetOnLogin([&](TIBDatabase *, TStringList &p) { p.SetValues("password", s.password); });
    db.Open();
    EXPECT_TRUE(db.Connected());
    // The password is held apart, never left in the lines.
    EXPECT_EQ(db.Params().Values("password"), "");
}

TEST(IBTransaction, StartEndAndTheirErrors)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    TIBDatabase db;
    Preparar(db, s, f.path());
    TIBTransaction tr;
    EXPECT_EQ(ClientErrorOf([&] { tr.StartTransaction(); }), 21);
    tr.SetDefaultDatabase(&db);
    tr.SetParams({"read_committed", "rec_version", "nowait"});
    EXPECT_EQ(ClientErrorOf([&] { tr.StartTransaction(); }), 15);
    db.Open();
    EXPECT_EQ(db.FindDefaultTransaction(), &tr);
    tr.StartTransaction();
    EXPECT_EQ(tr.TPB(), Bytes({3, 15, 17, 7}));
    EXPECT_GT(tr.TransactionID(), 0);
    EXPECT_EQ(ClientErrorOf([&] { tr.StartTransaction(); }), 19);
    EXPECT_EQ(ClientErrorOf([&] { tr.Params().Add("wait"); }), 19);
    EXPECT_EQ(tr.Params().Count(), 3);

    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 10 WHERE ID = 1");
    const isc_tr_handle handle = tr.Handle();
    tr.CommitRetaining();
    EXPECT_EQ(tr.Handle(), handle);
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "10");
    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 11 WHERE ID = 1");
    tr.RollbackRetaining();
    EXPECT_TRUE(tr.Active());
    tr.Commit();
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "10");
    EXPECT_EQ(ClientErrorOf([&] { tr.Commit(); }), 18);
    EXPECT_EQ(ClientErrorOf([&] { tr.Rollback(); }), 18);

    // Active false rolls back.
    tr.SetActive(true);
    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 12 WHERE ID = 1");
    tr.SetActive(false);
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "10");

    // A statement error leaves the transaction active for a rollback.
    tr.StartTransaction();
    try {
        Executar(db, tr, "UPDATE TABELA_QUE_NAO_EXISTE SET X = 1");
        ADD_FAILURE();
    } catch (const EIBInterBaseError &e) {
        EXPECT_EQ(e.SQLCode(), -204);
        EXPECT_TRUE(e.Message().contains("TABELA_QUE_NAO_EXISTE")) << e.Message().toStdString();
    }
    EXPECT_TRUE(tr.Active());
    tr.Rollback();
}

TEST(IBTransaction, ClosingTheConnectionEndsTransactionsByTheirDefaultAction)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    TIBDatabase db;
    Preparar(db, s, f.path());
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.StartTransaction();
    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 77 WHERE ID = 1");
    int before = 0;
    int after = 0;
    TIBBase link(nullptr);
    link.SetDatabase(&db);
    EXPECT_EQ(link.Transaction(), &tr);
    link.BeforeTransactionEnd = [&](TIBBase *) { ++before; };
    link.AfterTransactionEnd = [&](TIBBase *) { ++after; };
    db.Close();
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "77");

    tr.SetDefaultAction(TIBTransactionAction::TARollback);
    db.Open();
    tr.StartTransaction();
    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 78 WHERE ID = 1");
    db.Close();
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "77");

    // Destroying the connection first leaves the transaction and the link
    // without it, and nothing dangling.
    tr.SetDefaultAction(TIBTransactionAction::TACommit);
    auto *other = new TIBDatabase;
    Preparar(*other, s, f.path());
    tr.SetDefaultDatabase(other);
    link.SetDatabase(other);
    other->Open();
    tr.StartTransaction();
    Executar(*other, tr, "UPDATE CONFIGURAR SET CODIGO = 79 WHERE ID = 1");
    delete other;
    EXPECT_EQ(tr.DefaultDatabase(), nullptr);
    EXPECT_EQ(tr.DatabaseCount(), 0);
    EXPECT_EQ(link.Database(), nullptr);
    EXPECT_FALSE(tr.Active());
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "79");
}

TEST(IBDatabase, DialectOneDatabaseDowngradesTheConnection)
{
    const ServerInfo &s = SharedServer();
    const QString path = UniquePath(s, "dialeto1");
    const ProcessResult r = RunProgram("isql-fb", {"-q", "-b"},
                                QStringLiteral("SET SQL DIALECT 1; CREATE DATABASE '%1' USER 'SYSDBA' PASSWORD '%2';")
                                    .arg(s.connection(path), s.password)
                                    .toUtf8());
    ASSERT_TRUE(r.ok()) << r.err.toStdString();
    TIBDatabase db;
    Preparar(db, s, path);
    int warnings = 0;
    db.SetOnDialectDowngradeWarning([&](QObject *) { ++warnings; });
    db.Open();
    EXPECT_EQ(db.DBSQLDialect(), 1);
    EXPECT_EQ(db.SQLDialect(), 1);
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(ClientErrorOf([&] { db.SetSQLDialect(3); }), 87);
    db.Close();
    EXPECT_EQ(db.SQLDialect(), 1);
    QFile::remove(path);
}

TEST(IBDatabase, LostConnectionIsReportedAndForceCloses)
{
    PrivateServer server;
    FixtureDb f(server.info());
    TIBDatabase db;
    Preparar(db, server.info(), f.path());
    TIBTransaction tr;
    tr.SetDefaultDatabase(&db);
    db.Open();
    tr.StartTransaction();
    Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 5 WHERE ID = 1");
    server.Kill();

    try {
        Executar(db, tr, "UPDATE CONFIGURAR SET CODIGO = 6 WHERE ID = 1");
        ADD_FAILURE() << "ran on a dead server";
    } catch (const EIBInterBaseError &e) {
        EXPECT_EQ(e.SQLCode(), -902);
        EXPECT_FALSE(e.Message().isEmpty());
    }
    // The connection closed itself; the transaction ended with it.
    EXPECT_EQ(ClientErrorOf([&] { tr.Commit(); }), 18);
    EXPECT_FALSE(db.Connected());
    EXPECT_FALSE(tr.Active());
    EXPECT_NO_THROW(db.Close());

    server.Start();
    EXPECT_EQ(IsqlValue(server.info(), f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "1");
    db.Open();
    EXPECT_TRUE(db.Connected());
}
