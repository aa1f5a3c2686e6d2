// The service manager client: parameter and start blocks, the attachment
// count, backups and restores on the real server, and replies crafted to
// break the readers.
#include "DbTestSupport.h"
#include "IBServices.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace abdtest;

namespace {

// Opens the start blocks for inspection.
class Backup : public TIBBackupService {
public:
    QByteArray Block()
    {
        FStartParams.clear();
        BuildStartParams();
        return FStartParams;
    }
};

class Restore : public TIBRestoreService {
public:
    QByteArray Block()
    {
        FStartParams.clear();
        BuildStartParams();
        return FStartParams;
    }
};

QByteArray Counted(const QByteArray &Text)
{
    return Bytes({int(Text.size() & 0xFF), int(Text.size() >> 8)}) + Text;
}

template <typename S>
void Login(S &Service, const ServerInfo &Server, const QString &User = "SYSDBA")
{
    Service.SetServerName(Server.server());
    Service.SetProtocol(TProtocol::TCP);
    Service.SetLoginPrompt(false);
    Service.Params().Add("user_name=" + User);
    Service.Params().Add("password=" + Server.password);
}

// A verbose backup of Database into File, logged in and not yet started.
void VerboseBackup(TIBBackupService &Backup, const ServerInfo &Server, const QString &Database, const QString &File)
{
    Login(Backup, Server);
    Backup.SetActive(true);
    Backup.SetVerbose(true);
    Backup.SetDatabaseName(Database);
    Backup.BackupFile().Add(File);
}

QStringList ReadAll(TIBControlAndQueryService &Service)
{
    QStringList lines;
    while (!Service.Eof())
        lines << Service.GetNextLine();
    return lines;
}

} // namespace

TEST(IBServiceBlocks, ParameterBlockAndManagerNames)
{
    TIBServerProperties s;
    EXPECT_EQ(s.Protocol(), TProtocol::Local);
    s.SetServerName("srv");
    EXPECT_EQ(s.Protocol(), TProtocol::TCP);
    EXPECT_EQ(s.ServiceManagerName(), "srv:service_mgr");
    s.SetProtocol(TProtocol::SPX);
    EXPECT_EQ(s.ServiceManagerName(), "srv@service_mgr");
    s.SetProtocol(TProtocol::NamedPipe);
    EXPECT_EQ(s.ServiceManagerName(), "\\\\srv\\service_mgr");
    s.SetServerName("");
    EXPECT_EQ(s.Protocol(), TProtocol::Local);
    s.SetServerName("srv");
    s.SetProtocol(TProtocol::Local);
    EXPECT_EQ(s.ServerName(), "");
    EXPECT_EQ(s.ServiceManagerName(), "service_mgr");

    s.SetParams({"user_name=SYSDBA", "password=a=b", "sem igual", "ISC_SPB_CONNECT_TIMEOUT=5"});
    EXPECT_EQ(s.BuildSPB(), Bytes({2, 2, 28, 6}) + "SYSDBA" + Bytes({29, 3}) + "a=b" + Bytes({57, 4, 5, 0, 0, 0}));
    s.SetParams({" user_name=x"});
    EXPECT_EQ(ClientErrorOf([&] { s.BuildSPB(); }), ibxeSPBConstantUnknown);
    s.SetParams({"verbose=1"});
    EXPECT_EQ(ClientErrorOf([&] { s.BuildSPB(); }), ibxeSPBConstantNotSupported);
    s.SetParams({"password=" + QString(256, 'x')});
    EXPECT_EQ(ClientErrorOf([&] { s.BuildSPB(); }), ibxeStringTooLarge);
    s.SetParams({"connect_timeout=cinco"});
    EXPECT_THROW(s.BuildSPB(), EConvertError);
    s.SetParams({"user_name=SYSDBA"});
    s.SetServiceParamBySPB(4, "segredo");
    EXPECT_EQ(s.ServiceParamBySPB(4), "segredo");
    EXPECT_EQ(s.ServiceParamBySPB(1), "SYSDBA");
    s.SetServiceParamBySPB(4, "");
    EXPECT_EQ(s.Params().Count(), 1);
}

TEST(IBServiceBlocks, StartBlocksOfBackupAndRestore)
{
    Backup b;
    EXPECT_EQ(ClientErrorOf([&] { b.Block(); }), ibxeStartParamsError);
    b.SetDatabaseName("/d/zorvi.fdb");
    b.SetVerbose(true);
    b.BackupFile().Add("/b/zorvi.fbk");
    EXPECT_EQ(b.Block(), Bytes({1, 106}) + Counted("/d/zorvi.fdb") + Bytes({108, 0, 0, 0, 0, 107, 5}) +
                             Counted("/b/zorvi.fbk"));
    b.SetOptions({TBackupOption::NoGarbageCollection});
    EXPECT_EQ(b.Block().mid(16, 5), Bytes({108, 8, 0, 0, 0}));
    b.SetOptions({TBackupOption::IgnoreChecksums, TBackupOption::IgnoreLimbo, TBackupOption::MetadataOnly,
                  TBackupOption::NoGarbageCollection, TBackupOption::OldMetadataDesc,
                  TBackupOption::NonTransportable, TBackupOption::ConvertExtTables});
    EXPECT_EQ(b.Block().mid(16, 5), Bytes({108, 0x7F, 0, 0, 0}));
    b.SetOptions({});
    b.SetVerbose(false);
    b.SetBackupFile({"  ", "/b/parte1.fbk=123456", "/b/parte2.fbk"});
    EXPECT_EQ(b.Block(), Bytes({1, 106}) + Counted("/d/zorvi.fdb") + Bytes({108, 0, 0, 0, 0, 5}) +
                             Counted("/b/parte1.fbk") + Bytes({7, 0x40, 0xE2, 0x01, 0}) + Bytes({5}) +
                             Counted("/b/parte2.fbk"));
    b.SetBackupFile({"/b/x.fbk=muito"});
    EXPECT_THROW(b.Block(), EConvertError);

    Restore r;
    r.BackupFile().Add("/b/zorvi.fbk");
    r.DatabaseName().Add("/d/zorvi.fdb");
    EXPECT_EQ(r.Block(), Bytes({2, 108, 0, 0x20, 0, 0, 10, 0, 0x10, 0, 0, 5}) + Counted("/b/zorvi.fbk") +
                             Bytes({106}) + Counted("/d/zorvi.fdb"));
    r.SetOptions({TRestoreOption::Replace});
    r.SetPageSize(-1);
    r.SetPageBuffers(-1);
    r.SetVerbose(true);
    r.DatabaseName().Add("");
    EXPECT_EQ(r.Block(), Bytes({2, 108, 0, 0x10, 0, 0, 107, 5}) + Counted("/b/zorvi.fbk") + Bytes({106}) +
                             Counted("/d/zorvi.fdb"));
}

TEST(IBServices, AttachmentCountIsTheServersOwn)
{
    PrivateServer server;
    FixtureDb f(server.info());
    TIBServerProperties p;
    Login(p, server.info());
    p.SetActive(true);
    p.SetOptions({TPropertyOption::Database});
    p.FetchDatabaseInfo();
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 0);
    EXPECT_EQ(p.DatabaseInfo().NoOfDatabases, 0);
    EXPECT_TRUE(p.DatabaseInfo().DbName.isEmpty());

    Conexao one(server.info(), f.path());
    p.FetchDatabaseInfo();
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 1);
    EXPECT_EQ(p.DatabaseInfo().NoOfDatabases, 1);
    EXPECT_EQ(p.DatabaseInfo().DbName, QStringList{f.path()});

    Conexao two(server.info(), f.path());
    p.Fetch();
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 2);
    p.SetActive(false);
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 2) << "the facts stay after detaching";

    p.SetOptions({TPropertyOption::Version});
    p.SetActive(true);
    p.Fetch();
    EXPECT_TRUE(p.VersionInfo().ServerVersion.contains(SharedServer().versionName()))
        << p.VersionInfo().ServerVersion.toStdString();
    EXPECT_FALSE(p.VersionInfo().IsMinimumVersion("7.5.1.80"));
    EXPECT_TRUE(p.VersionInfo().IsMinimumVersion("3.0"));
    p.SetActive(false);
    p.SetServerName("outro");
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 0) << "facts of one server are not read as another's";
}

TEST(IBServices, VerboseBackupThenRestores)
{
    const ServerInfo &s = SharedServer();
    FixtureDb f(s);
    const QString fbk = UniquePath(s, "servico", ".fbk");
    TIBBackupService b;
    VerboseBackup(b, s, f.path(), fbk);
    EXPECT_EQ(ClientErrorOf([&] { b.GetNextLine(); }), ibxeQueryParamsError);
    b.ServiceStart();
    EXPECT_FALSE(b.Eof());
    const QStringList lines = ReadAll(b);
    ASSERT_GT(lines.size(), 10);
    EXPECT_EQ(lines.last(), "");
    EXPECT_TRUE(lines.join('\n').contains("gbak:closing file, committing, and finishing")) << lines.join('\n').toStdString();
    EXPECT_EQ(b.GetNextLine(), "") << "after the end no query is made";
    EXPECT_TRUE(QFile::exists(fbk));

    // The same object backs up again.
    b.SetOptions({TBackupOption::NoGarbageCollection});
    b.ServiceStart();
    EXPECT_FALSE(b.Eof());
    EXPECT_EQ(ReadAll(b).last(), "");
    b.SetActive(false);

    const ProcessResult g = RunProgram("gbak", {"-c", "-se", s.serviceManager(), "-user", "SYSDBA", "-password", s.password,
                                         fbk, UniquePath(s, "gbak_restaurado")});
    EXPECT_TRUE(g.ok()) << g.err.toStdString();

    TIBRestoreService r;
    Login(r, s);
    r.SetActive(true);
    r.SetVerbose(true);
    r.SetOptions({TRestoreOption::Replace});
    r.SetPageSize(-1);
    r.SetPageBuffers(-1);
    r.BackupFile().Add(fbk);
    r.DatabaseName().Add(f.path());
    ASSERT_TRUE(Isql(s, f.path(), "UPDATE CONFIGURAR SET CODIGO = 123; COMMIT;").ok());
    r.ServiceStart();
    EXPECT_EQ(ReadAll(r).last(), "");
    EXPECT_EQ(IsqlValue(s, f.path(), "SELECT CODIGO FROM CONFIGURAR WHERE ID = 1"), "1") << "replaced by the backup";

    const QString fresh = UniquePath(s, "novo");
    r.SetOptions({TRestoreOption::CreateNewDB});
    r.SetPageSize(8192);
    r.SetDatabaseName({fresh});
    r.ServiceStart();
    ReadAll(r);
    EXPECT_EQ(IsqlValue(s, fresh, "SELECT NOME_BANCA FROM CONFIGURAR WHERE ID = 1"), QStringLiteral("Banca São João"));
    EXPECT_EQ(IsqlValue(s, fresh, "SELECT MON$PAGE_SIZE FROM MON$DATABASE"), "8192");
    QFile::remove(fbk);
    QFile::remove(fresh);
}

// The output read in blocks is the output read line by line, line for line,
// from a backup and from a restore of a database with many tables' worth of
// lines.
TEST(IBServices, OutputInBlocksIsTheSameLinesAsOneLinePerQuery)
{
    const ServerInfo &s = SharedServer();
    FixtureOptions o;
    o.customers = 3000;
    o.movements = 30000;
    FixtureDb f(s, o);
    const QString fbk = UniquePath(s, "blocos", ".fbk");
    const auto ler = [&](TIBControlAndQueryService &Servico, bool Blocos, int &Consultas) {
        QStringList lines;
        Consultas = 0;
        while (!Servico.Eof()) {
            ++Consultas;
            if (Blocos)
                lines << Servico.GetNextLines();
            else
                lines << Servico.GetNextLine();
        }
        return lines;
    };
    QStringList saidas[2];
    int consultas[2] = {0, 0};
    for (bool blocos : {false, true}) {
        TIBBackupService b;
        VerboseBackup(b, s, f.path(), fbk);
        b.ServiceStart();
        saidas[blocos] = ler(b, blocos, consultas[blocos]);
    }
    ASSERT_GT(saidas[0].size(), 100);
    EXPECT_EQ(saidas[1], saidas[0]);
    EXPECT_LT(consultas[1] * 10, consultas[0]) << consultas[1] << " queries against " << consultas[0];

    const QString alvo = UniquePath(s, "blocos_restaurado");
    for (bool blocos : {false, true}) {
        TIBRestoreService r;
        Login(r, s);
        r.SetActive(true);
        r.SetVerbose(true);
        r.SetOptions({TRestoreOption::Replace});
        r.BackupFile().Add(fbk);
        r.DatabaseName().Add(alvo);
        r.ServiceStart();
        saidas[blocos] = ler(r, blocos, consultas[blocos]);
    }
    ASSERT_GT(saidas[0].size(), 100);
    EXPECT_EQ(saidas[1], saidas[0]);
    EXPECT_GT(saidas[1].filter("restoring data for table").size(), 2) << saidas[1].join("\n").toStdString();
    QFile::remove(alvo);
    QFile::remove(fbk);
}

TEST(IBServices, RefusalsAndMisuse)
{
    const ServerInfo &s = SharedServer();
    TIBServerProperties p;
    Login(p, s);
    p.Params().SetValues("password", "errada");
    try {
        p.SetActive(true);
        ADD_FAILURE();
    } catch (const EIBInterBaseError &e) {
        EXPECT_FALSE(e.Message().isEmpty());
        EXPECT_FALSE(e.Message().endsWith('.'));
    }
    EXPECT_FALSE(p.Active());

    // Failures of the action reach the query that reads its output.
    TIBBackupService b;
    Login(b, s);
    b.SetActive(true);
    EXPECT_EQ(ClientErrorOf([&] { b.Params().Add("x=1"); }), ibxeServiceInActive);
    EXPECT_EQ(ClientErrorOf([&] { b.SetServerName("outro"); }), ibxeServiceInActive);
    b.SetVerbose(true);
    b.SetDatabaseName(s.dataDir + "/nao_existe.fdb");
    b.BackupFile().Add(UniquePath(s, "nunca", ".fbk"));
    // Firebird reports it through the query that reads the output, or, when
    // the action fails fast enough, already through the start.
    try {
        b.ServiceStart();
        ReadAll(b);
        ADD_FAILURE() << "no error";
    } catch (const EIBInterBaseError &e) {
        EXPECT_TRUE(e.Message().contains("nao_existe.fdb")) << e.Message().toStdString();
    }
    EXPECT_FALSE(b.Active());
    EXPECT_NO_THROW(b.SetActive(false));
    EXPECT_EQ(ClientErrorOf([&] { b.ServiceStart(); }), ibxeServiceActive);
    EXPECT_EQ(ClientErrorOf([&] { b.Detach(); }), ibxeServiceActive);

    FixtureDb f(s);
    b.SetActive(true);
    b.SetDatabaseName(f.path());
    b.SetBackupFile({"/root/nao/pode/escrever.fbk"});
    try {
        b.ServiceStart();
        ReadAll(b);
        ADD_FAILURE() << "no error";
    } catch (const EIBInterBaseError &e) {
        EXPECT_TRUE(e.Message().contains("escrever.fbk")) << e.Message().toStdString();
    }
    EXPECT_FALSE(b.Active());

    TIBServerProperties unnamed;
    unnamed.SetServerName("x");
    unnamed.SetServerName("");
    unnamed.SetProtocol(TProtocol::TCP);
    EXPECT_EQ(ClientErrorOf([&] { unnamed.Attach(); }), ibxeServerNameMissing);
    TIBServerProperties prompting;
    prompting.SetServerName(s.server());
    EXPECT_EQ(ClientErrorOf([&] { prompting.Attach(); }), ibxeOperationCancelled);
}

TEST(IBServiceReplies, CraftedRepliesNeverReadPastTheBuffer)
{
    const QString type = FakeServerType();
    auto reply = reinterpret_cast<void (*)(const char *, int)>(FakeFunction("fake_set_service_reply"));
    ASSERT_NE(reply, nullptr);
    const auto set = [&](const QByteArray &b) { reply(b.constData(), int(b.size())); };

    TIBServerProperties p;
    p.SetServerType(type);
    p.SetServerName("fake");
    p.SetLoginPrompt(false);
    p.SetActive(true);
    const auto fetch = [&](const QByteArray &b) {
        set(b);
        return ClientErrorOf([&] { p.FetchDatabaseInfo(); });
    };
    const QByteArray header = Bytes({50, 5, 3, 0, 0, 0, 6});
    EXPECT_EQ(fetch(header + Bytes({2, 0, 0, 0, 106, 2, 0}) + "ab" + Bytes({106, 1, 0}) + "c" + Bytes({127})), -1);
    EXPECT_EQ(p.DatabaseInfo().NoOfAttachments, 3);
    EXPECT_EQ(p.DatabaseInfo().DbName, (QStringList{"ab", "c"}));
    EXPECT_EQ(fetch(header + Bytes({0, 0, 0, 0, 127})), -1);
    EXPECT_TRUE(p.DatabaseInfo().DbName.isEmpty());
    // More names than the count: read past, not stored.
    EXPECT_EQ(fetch(header + Bytes({1, 0, 0, 0, 106, 1, 0}) + "a" + Bytes({106, 1, 0}) + "b" + Bytes({127})), -1);
    EXPECT_EQ(p.DatabaseInfo().DbName, QStringList{"a"});
    EXPECT_EQ(fetch(Bytes({51})), ibxeOutputParsingError);
    // A reply cut short reads the buffer's zeros and stops at the wrong byte.
    EXPECT_EQ(fetch(Bytes({50, 5, 1, 0})), ibxeOutputParsingError);
    EXPECT_EQ(fetch(header + Bytes({1, 0, 0, 0, 106, 0xFF, 0x7F}) + "x"), ibxeOutputParsingError);
    EXPECT_EQ(fetch(header + Bytes({0x7F, 0x7F, 0x7F, 0x7F, 106, 1, 0}) + "x"), ibxeOutputParsingError);

    // Lines: the end item must follow the line inside the buffer.
    Backup b;
    b.SetServerType(type);
    b.SetServerName("fake");
    b.SetLoginPrompt(false);
    b.SetDatabaseName("d");
    b.SetActive(true);
    b.ServiceStart();
    const auto line = [&](const QByteArray &r) {
        set(r);
        return ClientErrorOf([&] { b.GetNextLine(); });
    };
    EXPECT_EQ(line(Bytes({62, 3, 0}) + "abc" + Bytes({1})), -1);
    EXPECT_EQ(line(Bytes({62, 3, 0}) + "abc" + Bytes({2})), ibxeOutputParsingError);
    EXPECT_EQ(line(Bytes({63})), ibxeOutputParsingError);
    b.SetBufferSize(16);
    EXPECT_EQ(line(Bytes({62, 13, 0}) + QByteArray(13, 'x')), ibxeOutputParsingError) << "a line as long as the buffer";
    EXPECT_EQ(line(Bytes({62, 0xFF, 0xFF})), ibxeOutputParsingError);
    EXPECT_EQ(line(Bytes({62, 0, 0, 1})), -1);
    EXPECT_TRUE(b.Eof());

    // Blocks: what follows the text says whether more is to come.
    Backup k;
    k.SetServerType(type);
    k.SetServerName("fake");
    k.SetLoginPrompt(false);
    k.SetDatabaseName("d");
    k.SetActive(true);
    k.ServiceStart();
    const auto bloco = [&](const QByteArray &Texto, std::initializer_list<int> Depois) {
        set(Bytes({63}) + Counted(Texto) + Bytes(Depois));
        return k.GetNextLines();
    };
    // A block that ends in the middle of a line, then of a character: é is
    // two bytes in UTF-8.
    EXPECT_EQ(bloco("gbak:um\ngbak:do", {2, 1}), QStringList{"gbak:um "});
    EXPECT_EQ(bloco("is\ngbak:caf\xC3", {2, 1}), QStringList{"gbak:dois "});
    // Nothing ready within the wait, while the server works.
    EXPECT_EQ(bloco("", {64, 1}), QStringList{});
    EXPECT_EQ(bloco("", {4, 1}), QStringList{});
    EXPECT_EQ(bloco(QByteArray("\xA9") + QByteArray(40, 'x'), {2, 1}), QStringList{});
    EXPECT_EQ(bloco(QByteArray(40, 'y') + "\n\n", {64, 1}),
              (QStringList{QStringLiteral("gbak:café") + QString(40, 'x') + QString(40, 'y') + " ", " "}))
        << "a line longer than a block, whole, and an empty line";
    EXPECT_FALSE(k.Eof());
    // Text without a flag: a finished service may hold more, so one more
    // query; only an empty reply without a flag ends the output, with the
    // last line without its line feed and the empty line that ends it.
    EXPECT_EQ(bloco("gbak: ERROR:sem", {1}), QStringList{});
    EXPECT_EQ(bloco(" espaço", {1}), QStringList{});
    EXPECT_FALSE(k.Eof());
    EXPECT_EQ(bloco("", {1}), (QStringList{"gbak: ERROR:sem espaço", ""}));
    EXPECT_TRUE(k.Eof());
    EXPECT_EQ(k.GetNextLines(), QStringList{}) << "after the end no query is made";
    k.ServiceStart();
    EXPECT_EQ(bloco("a\n", {1}), QStringList{"a "});
    EXPECT_EQ(bloco("", {1}), QStringList{""});
    k.ServiceStart();
    set(Bytes({63}) + Counted("a") + Bytes({99, 1}));
    EXPECT_EQ(ClientErrorOf([&] { k.GetNextLines(); }), ibxeOutputParsingError) << "an item nobody knows";
    set(Bytes({62}) + Counted("a") + Bytes({1}));
    EXPECT_EQ(ClientErrorOf([&] { k.GetNextLines(); }), ibxeOutputParsingError) << "the wrong item";
    set(Bytes({63, 0xFF, 0x7F}));
    EXPECT_EQ(ClientErrorOf([&] { k.GetNextLines(); }), ibxeOutputParsingError) << "longer than the buffer";

    set(Bytes({67, 1, 0, 0, 0}));
    EXPECT_TRUE(b.IsServiceRunning());
    set(Bytes({67, 1}));
    b.SetBufferSize(2);
    EXPECT_EQ(ClientErrorOf([&] { b.IsServiceRunning(); }), ibxeOutputParsingError);
}
