// Splitting scripts into statements: the migration scripts as they are
// shipped, and the corners of terminators, comments, quotes and kinds.
#include "A.h"
#include "IBScript.h"
#include "TestServer.h"

#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using K = TIBParseKind;

namespace {

struct Event {
    bool error = false;
    K kind = K::stmtUNK;
    QString text; // statement text, or the error's statement text
    QString message;
    int32_t line = 0;
    QStringList tokens;
};

// A parser whose events are recorded; errors pause it unless told not to.
struct Recorder {
    TIBSQLParser parser;
    std::vector<Event> events;
    bool pauseOnError = true;

    Recorder()
    {
        parser.SetOnParse([this](QObject *, K kind, const QString &text) {
            events.push_back({false, kind, text, {}, parser.CurrentLine(), parser.CurrentTokens()});
        });
        parser.SetOnError([this](QObject *, const QString &message, const QString &text, int32_t line) {
            events.push_back({true, K::stmtERR, text, message, line, parser.CurrentTokens()});
            if (pauseOnError)
                parser.SetPaused(true);
        });
    }

    std::vector<Event> &Run(const QStringList &lines)
    {
        parser.SetScript(lines);
        parser.Parse();
        return events;
    }
};

QStringList Lines(const char *text)
{
    return QString::fromUtf8(text).split(u'\n');
}

} // namespace

TEST(IBSQLParser, MigrationScriptsKeepTheirExactTexts)
{
    const QStringList v2 = TextoScriptVersao(2);
    ASSERT_EQ(v2.size(), 49);
    EXPECT_EQ(v2[22], "      SELECT CREDITO_DEBITO ");
    EXPECT_EQ(TextoScriptVersao(3).size(), 6);
    ASSERT_EQ(TextoScriptVersao(4).size(), 12);
    EXPECT_EQ(TextoScriptVersao(4)[2], "UPDATE HISTORICO ");
    const QStringList v5 = TextoScriptVersao(5);
    ASSERT_EQ(v5.size(), 100);
    EXPECT_EQ(v5[95], "");
    EXPECT_EQ(v5[96], "");
    EXPECT_TRUE(TextoScriptVersao(1).isEmpty());
}

TEST(IBSQLParser, Version2ScriptSwitchesTerminatorAroundTheTriggerBody)
{
    Recorder r;
    const QStringList script = TextoScriptVersao(2);
    const auto &e = r.Run(script);
    ASSERT_EQ(e.size(), 4u);

    EXPECT_EQ(e[0].kind, K::stmtTERM);
    EXPECT_EQ(e[0].text, "^");
    EXPECT_EQ(e[0].line, 1);

    EXPECT_EQ(e[1].kind, K::stmtDDL);
    EXPECT_EQ(e[1].line, 3);
    // Lines 3 to 42 exactly, joined by CR LF, and the line break before "^".
    EXPECT_EQ(e[1].text, script.mid(2, 40).join("\r\n") + "\r\n");
    EXPECT_TRUE(e[1].text.contains("      SELECT CREDITO_DEBITO \r\n"));
    EXPECT_TRUE(e[1].text.contains("  INTO :C_EXPURGO;\r\n\r\n  IF"));
    EXPECT_FALSE(e[1].text.contains('^'));

    EXPECT_EQ(e[2].kind, K::stmtTERM);
    EXPECT_EQ(e[2].text, ";");
    EXPECT_EQ(e[2].line, 45);

    EXPECT_EQ(e[3].kind, K::stmtDML);
    EXPECT_EQ(e[3].line, 47);
    EXPECT_EQ(e[3].text, "UPDATE CONFIGURAR\r\nSET VERSAO_BANCO_DADOS = 2\r\nWHERE ID = 1");
    EXPECT_EQ(r.parser.Terminator(), ";");
}

TEST(IBSQLParser, Version3And4ScriptsEndAlterTriggerWithoutTheSemicolon)
{
    Recorder r3;
    const auto &e = r3.Run(TextoScriptVersao(3));
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].kind, K::stmtDDL);
    EXPECT_EQ(e[0].text, "ALTER TRIGGER TR_HISTORICO_UPDATE_DELETE INACTIVE");
    EXPECT_EQ(e[0].line, 1);
    EXPECT_EQ(e[0].tokens, (QStringList{"ALTER", "TRIGGER", "TR_HISTORICO_UPDATE_DELETE", "INACTIVE", ";"}));
    EXPECT_EQ(e[1].text, "ALTER TRIGGER TR_CREDITO_DEBITO_UPDATE INACTIVE");
    EXPECT_EQ(e[1].line, 2);
    EXPECT_EQ(e[2].kind, K::stmtDML);
    EXPECT_EQ(e[2].line, 4);
    EXPECT_EQ(e[2].text, "UPDATE CONFIGURAR\r\nSET EXPURGO = 'S', VERSAO_BANCO_DADOS = 3\r\nWHERE ID = 1");

    Recorder r4;
    const auto &f = r4.Run(TextoScriptVersao(4));
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(f[0].kind, K::stmtDML);
    EXPECT_EQ(f[0].text, "DELETE FROM MOVIMENTO WHERE HISTORICO_ID = 11");
    EXPECT_EQ(f[1].text, "UPDATE HISTORICO \r\nSET CREDITO_DEBITO = 'C'\r\nWHERE ID = 11");
    EXPECT_EQ(f[1].line, 3);
    EXPECT_EQ(f[2].text, "ALTER TRIGGER TR_HISTORICO_UPDATE_DELETE ACTIVE");
    EXPECT_EQ(f[2].line, 7);
    EXPECT_EQ(f[3].text, "ALTER TRIGGER TR_CREDITO_DEBITO_UPDATE ACTIVE");
    EXPECT_EQ(f[4].line, 10);
}

TEST(IBSQLParser, Version5ScriptIsDdlThenOneUpdate)
{
    Recorder r;
    const auto &e = r.Run(TextoScriptVersao(5));
    ASSERT_EQ(e.size(), 49u);
    for (size_t i = 0; i < 48; ++i)
        EXPECT_EQ(e[i].kind, K::stmtDDL) << i;
    EXPECT_EQ(e[3].text, "CREATE INDEX IN_EDICAO_CODIGO_BARRAS ON EDICAO(CODIGO_BARRAS)");
    EXPECT_EQ(e[3].tokens.last(), "EDICAO(CODIGO_BARRAS)");
    EXPECT_EQ(e[47].text, "ALTER TABLE CONFIGURAR ALTER COLUMN VERSAO_BANCO_DADOS POSITION 44");
    EXPECT_EQ(e[47].line, 95);
    EXPECT_EQ(e[48].kind, K::stmtDML);
    EXPECT_EQ(e[48].line, 98);
    EXPECT_EQ(e[48].text, "UPDATE CONFIGURAR\r\nSET VERSAO_BANCO_DADOS = 5\r\nWHERE ID = 1");
}

// Long statements and long lines of many statements: the work buffer drops
// what was read now and then, and must never drop the statement being read
// nor the one whose text and tokens the caller is looking at.
TEST(IBSQLParser, LongStatementsKeepTheirTextAndTokensAsTheBufferIsReused)
{
    QStringList script;
    QString body = QStringLiteral("CREATE PROCEDURE P AS\r\nBEGIN");
    script << "CREATE PROCEDURE P AS" << "BEGIN";
    for (int i = 0; i < 3000; ++i) {
        const QString line = QStringLiteral("  X = X + %1; /* ; */ Y = 'a;b';").arg(i);
        script << line;
        body += QStringLiteral("\r\n") + line;
    }
    script << "END; SELECT 1 FROM T;  SELECT 'x' FROM U;";
    body += QStringLiteral("\r\nEND");
    QString many;
    for (int i = 0; i < 2000; ++i)
        many += QStringLiteral("INSERT INTO T VALUES (%1, 'v;%1') returning id;  ").arg(i);
    script << many << "  ";
    Recorder r;
    const auto &e = r.Run(script);
    ASSERT_EQ(e.size(), 2003u);
    EXPECT_EQ(e[0].kind, K::stmtDDL);
    EXPECT_EQ(e[0].text, body);
    EXPECT_EQ(e[0].tokens.size(), 5 + 3000 * 10 + 2);
    EXPECT_EQ(e[0].tokens.mid(0, 4), QStringList({"CREATE", "PROCEDURE", "P", "AS"}));
    EXPECT_EQ(e[0].tokens.mid(e[0].tokens.size() - 2), QStringList({"END", ";"}));
    EXPECT_EQ(e[1].text, "SELECT 1 FROM T");
    EXPECT_EQ(e[2].text, "SELECT 'x' FROM U");
    EXPECT_EQ(e[2].tokens, QStringList({"SELECT", "'x'", "FROM", "U"}));
    for (int i = 0; i < 2000; ++i) {
        const Event &s = e[size_t(3 + i)];
        ASSERT_EQ(s.text, QStringLiteral("INSERT INTO T VALUES (%1, 'v;%1') returning id").arg(i)) << i;
        ASSERT_EQ(s.tokens.mid(5), QStringList({QStringLiteral("'v;%1'").arg(i), ")", "returning", "ID"})) << i;
        ASSERT_EQ(s.line, 3004) << i;
    }
}

TEST(IBSQLParser, EmptyStatementsAndTails)
{
    Recorder r;
    const auto &e = r.Run(Lines("  ;;\n\nSELECT 1 FROM A;;  ;\n\n   \nSELECT 2\n  FROM B  \n\n"));
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].text, "SELECT 1 FROM A");
    EXPECT_EQ(e[0].line, 3);
    // The last statement has no terminator and keeps the blanks of its lines.
    EXPECT_EQ(e[1].kind, K::stmtDML);
    EXPECT_EQ(e[1].text, "SELECT 2\r\n  FROM B  \r\n\r\n");
    EXPECT_EQ(e[1].line, 6);

    Recorder blank;
    EXPECT_TRUE(blank.Run({"", "  ", "\t"}).empty());
    Recorder none;
    EXPECT_TRUE(none.Run({}).empty());
}

TEST(IBSQLParser, SetTermForms)
{
    Recorder r;
    const auto &e = r.Run(Lines("SET TERM ^ ;\nSELECT 1 FROM A; SELECT 2 FROM B^\nSET TERM ; ^\nSET TERM ^;"));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[1].kind, K::stmtDML);
    EXPECT_EQ(e[1].text, "SELECT 1 FROM A; SELECT 2 FROM B");
    EXPECT_EQ(e[2].kind, K::stmtTERM);
    EXPECT_EQ(e[2].text, ";");
    // "SET TERM ^;" under ";" is fine...
    EXPECT_EQ(e[3].kind, K::stmtTERM);
    EXPECT_EQ(e[3].text, "^");
    EXPECT_EQ(r.parser.Terminator(), "^");

    // ...but under "^" it ends at the "^" with two tokens.
    Recorder again;
    again.parser.SetTerminator("^");
    const auto &f = again.Run({"SET TERM ^;"});
    ASSERT_EQ(f.size(), 1u);
    EXPECT_TRUE(f[0].error);
    EXPECT_EQ(f[0].message, QStringLiteral("Declaração inválida"));
    EXPECT_EQ(f[0].text, "SET TERM ");

    // A terminator of several characters, compared case-sensitively.
    Recorder multi;
    const auto &g = multi.Run(Lines("SET TERM !! ;\nSELECT 'a' FROM B go SELECT 2 FROM C!!\nSELECT 3 FROM D!"));
    ASSERT_EQ(g.size(), 3u);
    EXPECT_EQ(g[1].text, "SELECT 'a' FROM B go SELECT 2 FROM C");
    EXPECT_EQ(g[2].text, "SELECT 3 FROM D!");
}

TEST(IBSQLParser, TokensAndKinds)
{
    const auto kindOf = [](const char *text) {
        Recorder r;
        r.pauseOnError = false;
        const auto &e = r.Run({QString::fromUtf8(text)});
        return e.empty() ? K::stmtEMPTY : e[0].kind;
    };
    // A tab does not separate tokens.
    Recorder tab;
    const auto &t = tab.Run({"UPDATE\tX SET A = 1;"});
    ASSERT_EQ(t.size(), 1u);
    EXPECT_TRUE(t[0].error);
    EXPECT_EQ(t[0].tokens.first(), "UPDATE\tX");

    EXPECT_EQ(kindOf("commit work;"), K::stmtCOMMIT);
    EXPECT_EQ(kindOf("commit work ;"), K::stmtERR);
    EXPECT_EQ(kindOf("commit;"), K::stmtCOMMIT);
    EXPECT_EQ(kindOf("COMMIT RETAINING;"), K::stmtCOMMITRetaining);
    EXPECT_EQ(kindOf("ROLLBACK TO SAVEPOINT S1;"), K::stmtRollbackSavePoint);
    EXPECT_EQ(kindOf("ROLLBACK WORK TO SAVEPOINT S1;"), K::stmtRollbackSavePoint);
    EXPECT_EQ(kindOf("ROLLBACK WORK;"), K::stmtERR);
    EXPECT_EQ(kindOf("BATCH START;"), K::stmtBatchStart);
    EXPECT_EQ(kindOf("create database 'x.fdb';"), K::stmtCREATE);
    EXPECT_EQ(kindOf("DROP DATABASE;"), K::stmtDrop);
    EXPECT_EQ(kindOf("SET STATISTICS INDEX I;"), K::stmtDDL);
    EXPECT_EQ(kindOf("SET STATISTICS ON;"), K::stmtSET);
    EXPECT_EQ(kindOf("SET SQL DIALECT 3;"), K::stmtSET);
    EXPECT_EQ(kindOf("SET SQL DIALECT;"), K::stmtERR);
    EXPECT_EQ(kindOf("SET NAMES;"), K::stmtERR);
    EXPECT_EQ(kindOf("SET HEADING OFF;"), K::stmtERR);
    EXPECT_EQ(kindOf("SELECT;"), K::stmtERR);

    Recorder set;
    const auto &s = set.Run({"set   sql dialect    3 ;"});
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].kind, K::stmtSET);
    EXPECT_EQ(s[0].text, "sql dialect 3");
}

TEST(IBSQLParser, QuotesAndComments)
{
    Recorder r;
    const auto &e = r.Run(Lines("INSERT INTO T VALUES ('a;b', 'it''s', \"X;Y\");\n"
                                "SELECT /* a ; comment */ 1 FROM T;\n"
                                "/* leading\n comment */ /*/ UPDATE T SET A = 1;\n"
                                "/*/ DELETE FROM T;"));
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].text, "INSERT INTO T VALUES ('a;b', 'it''s', \"X;Y\")");
    EXPECT_TRUE(e[0].tokens.contains("'it'"));
    EXPECT_TRUE(e[0].tokens.contains("\"X;Y\""));
    EXPECT_EQ(e[1].text, "SELECT /* a ; comment */ 1 FROM T");
    // Leading comments are dropped; the line is where the comment began.
    EXPECT_EQ(e[2].text, "UPDATE T SET A = 1");
    EXPECT_EQ(e[2].line, 3);
    EXPECT_EQ(e[3].text, "DELETE FROM T");

    // A comment ends at its first "*/", even when an asterisk follows.
    Recorder star;
    const auto &st = star.Run(Lines("SELECT /* x */* FROM T;\nUPDATE T SET A = 1;"));
    ASSERT_EQ(st.size(), 2u);
    EXPECT_EQ(st[0].kind, K::stmtDML);
    EXPECT_EQ(st[0].text, "SELECT /* x */* FROM T");
    EXPECT_EQ(st[1].text, "UPDATE T SET A = 1");

    // "--" means nothing: its apostrophe opens a string that runs on.
    Recorder dash;
    const auto &d = dash.Run(Lines("-- it's here\nSELECT 1 FROM A;\nSELECT 'x' FROM B;"));
    ASSERT_EQ(d.size(), 1u);
    EXPECT_TRUE(d[0].error);
    // The string closes before x and the next quote reopens it to the end.
    EXPECT_EQ(d[0].text, "-- it's here\r\nSELECT 1 FROM A;\r\nSELECT 'x' FROM B;");
}

TEST(IBSQLParser, UnclosedLeadingCommentFailsOnceLinesRunOut)
{
    for (bool pause : {true, false}) {
        Recorder r;
        r.pauseOnError = pause;
        const auto &e = r.Run(Lines("SELECT 1 FROM A;\n/* never\nclosed; SELECT 2 FROM B;"));
        ASSERT_EQ(e.size(), 2u);
        EXPECT_EQ(e[0].kind, K::stmtDML);
        EXPECT_TRUE(e[1].error);
        EXPECT_EQ(e[1].message, QStringLiteral("Comentário inválido"));
        EXPECT_EQ(e[1].text, "");
        EXPECT_EQ(e[1].line, 2);
    }
}

TEST(IBSQLParser, ProcedureBodiesWithSemicolonTerminator)
{
    Recorder r;
    const auto &e = r.Run(Lines("CREATE PROCEDURE P AS\nBEGIN\n  SUSPEND;\nEND; SELECT 1 FROM T;\n"
                                "create trigger TR for T before insert as begin new.A = 1; end;"));
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].kind, K::stmtDDL);
    EXPECT_EQ(e[0].text, "CREATE PROCEDURE P AS\r\nBEGIN\r\n  SUSPEND;\r\nEND");
    EXPECT_EQ(e[1].kind, K::stmtDML);
    EXPECT_EQ(e[1].text, "SELECT 1 FROM T");
    EXPECT_EQ(e[1].line, 4);
    // A body that ends the script ends without its semicolon too.
    EXPECT_EQ(e[2].kind, K::stmtDDL);
    EXPECT_EQ(e[2].text, "create trigger TR for T before insert as begin new.A = 1; end");
    EXPECT_EQ(e[2].tokens.last(), ";");
}

TEST(IBSQLParser, PauseAndResume)
{
    Recorder r;
    int seen = 0;
    r.parser.SetOnParse([&](QObject *, K, const QString &text) {
        r.events.push_back({false, K::stmtDML, text, {}, r.parser.CurrentLine(), {}});
        if (++seen == 2)
            r.parser.SetPaused(true);
    });
    r.Run(Lines("SELECT 1 FROM A; SELECT 2 FROM B;\nSELECT 3 FROM C;\nSELECT 4 FROM D;"));
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_TRUE(r.parser.Paused());
    r.parser.SetPaused(false);
    ASSERT_EQ(r.events.size(), 4u);
    EXPECT_EQ(r.events[2].text, "SELECT 3 FROM C");
    EXPECT_EQ(r.events[3].line, 3);

    // An exception from a handler leaves the loop; the rest of the line
    // stays in the buffer and is parsed first by the next run, which then
    // starts the script again.
    TIBSQLParser p;
    QStringList texts;
    p.SetOnParse([&](QObject *, K, const QString &text) {
        texts << text;
        if (texts.size() == 1)
            throw std::runtime_error("stop");
    });
    p.SetScript({"SELECT 1 FROM A; SELECT 2 FROM B;"});
    EXPECT_THROW(p.Parse(), std::runtime_error);
    p.Parse();
    EXPECT_EQ(texts, (QStringList{"SELECT 1 FROM A", "SELECT 2 FROM B", "SELECT 1 FROM A", "SELECT 2 FROM B"}));
}

TEST(IBSQLParser, InputFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("parte.sql");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("\xEF\xBB\xBFINSERT INTO T VALUES ('ação');\r\n\r\nDELETE FROM T;\r\n");
    }
    Recorder r;
    const auto &e = r.Run({"SELECT 1 FROM A;", "INPUT '" + path + "';", "SELECT 2 FROM B;"});
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[1].text, QStringLiteral("INSERT INTO T VALUES ('ação')"));
    EXPECT_EQ(e[1].line, 2) << "lines of an input file keep the script's line";
    EXPECT_EQ(e[2].text, "DELETE FROM T");
    EXPECT_EQ(e[3].text, "SELECT 2 FROM B");
    EXPECT_EQ(e[3].line, 3);

    Recorder missing;
    const auto &m = missing.Run({"INPUT '/nao/existe.sql';", "SELECT 2 FROM B;"});
    ASSERT_GE(m.size(), 1u);
    EXPECT_TRUE(m[0].error);
    EXPECT_TRUE(m[0].message.contains("/nao/existe.sql"));
    EXPECT_EQ(m[0].text, "INPUT '/nao/existe.sql'");
}

TEST(IBSQLParser, StateCarriesOverBetweenRuns)
{
    Recorder r;
    r.Run({"SET TERM ^ ;", "SELECT 1 FROM A^"});
    EXPECT_EQ(r.parser.Terminator(), "^");
    r.events.clear();
    r.Run({"SELECT 2 FROM B; SELECT 3 FROM C^"});
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].text, "SELECT 2 FROM B; SELECT 3 FROM C");
}
