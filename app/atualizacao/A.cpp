#include "A.h"

#include "Exceptions.h"
#include "IBDatabase.h"
#include "IBQuery.h"
#include "IBScript.h"

// The migration scripts, line by line as the data module holds them; blank
// lines and trailing blanks are part of the texts.

namespace {

const char *const Versao2[] = {
    "SET TERM ^ ;",
    "",
    "ALTER TRIGGER TR_CLIENTE_SALDO_DELETE",
    "AS",
    "DECLARE VARIABLE C_EXPURGO CHAR(1);",
    "DECLARE VARIABLE C_CREDITO_DEBITO CHAR(1);",
    "BEGIN",
    "  SELECT EXPURGO",
    "  FROM CONFIGURAR",
    "  WHERE ID = 1",
    "  INTO :C_EXPURGO;",
    "",
    "  IF (C_EXPURGO = 'N') THEN",
    "  BEGIN",
    "    IF ((OLD.HISTORICO_ID < 8) AND (OLD.EDICAO_ID IS NULL)) THEN",
    "    BEGIN",
    "      UPDATE CLIENTE",
    "      SET SALDO = SALDO - OLD.VALOR * OLD.QUANTIDADE",
    "      WHERE ID = OLD.CLIENTE_ID;",
    "    END",
    "    ELSE IF (OLD.HISTORICO_ID > 7) THEN",
    "    BEGIN",
    "      SELECT CREDITO_DEBITO ",
    "      FROM HISTORICO",
    "      WHERE ID = OLD.HISTORICO_ID",
    "      INTO :C_CREDITO_DEBITO;",
    "",
    "      IF (C_CREDITO_DEBITO = 'C') THEN",
    "      BEGIN",
    "        UPDATE CLIENTE",
    "        SET SALDO = SALDO - OLD.VALOR * OLD.QUANTIDADE",
    "        WHERE ID = OLD.CLIENTE_ID;",
    "      END",
    "      ELSE",
    "      BEGIN",
    "        UPDATE CLIENTE",
    "        SET SALDO = SALDO + OLD.VALOR * OLD.QUANTIDADE",
    "        WHERE ID = OLD.CLIENTE_ID;",
    "      END",
    "    END",
    "  END",
    "END",
    "^",
    "",
    "SET TERM ; ^",
    "",
    "UPDATE CONFIGURAR",
    "SET VERSAO_BANCO_DADOS = 2",
    "WHERE ID = 1;",
};

const char *const Versao3[] = {
    "ALTER TRIGGER TR_HISTORICO_UPDATE_DELETE INACTIVE;",
    "ALTER TRIGGER TR_CREDITO_DEBITO_UPDATE INACTIVE;",
    "",
    "UPDATE CONFIGURAR",
    "SET EXPURGO = 'S', VERSAO_BANCO_DADOS = 3",
    "WHERE ID = 1;",
};

const char *const Versao4[] = {
    "DELETE FROM MOVIMENTO WHERE HISTORICO_ID = 11;",
    "",
    "UPDATE HISTORICO ",
    "SET CREDITO_DEBITO = 'C'",
    "WHERE ID = 11;",
    "",
    "ALTER TRIGGER TR_HISTORICO_UPDATE_DELETE ACTIVE;",
    "ALTER TRIGGER TR_CREDITO_DEBITO_UPDATE ACTIVE;",
    "",
    "UPDATE CONFIGURAR",
    "SET EXPURGO = 'N', VERSAO_BANCO_DADOS = 4",
    "WHERE ID = 1;",
};

const char *const Versao5[] = {
    "CREATE DOMAIN DM_CHAR_01 AS CHAR;",
    "",
    "ALTER TABLE CONFIGURAR ADD PORTA DM_INTEGER_MAIOR_IGUAL_ZERO;",
    "",
    "ALTER TABLE CONFIGURAR ADD SSL DM_CHAR_01;",
    "",
    "CREATE INDEX IN_EDICAO_CODIGO_BARRAS ON EDICAO(CODIGO_BARRAS);",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ID POSITION 1;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN CODIGO POSITION 2;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN LICENCA POSITION 3;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN NOME_BANCA POSITION 4;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN CONTATO POSITION 5;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ENDERECO POSITION 6;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN NUMERO POSITION 7;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN COMPLEMENTO POSITION 8;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN BAIRRO POSITION 9;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN CIDADE POSITION 10;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN UF POSITION 11;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN CEP POSITION 12;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN FONE1 POSITION 13;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN FONE2 POSITION 14;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN FONE3 POSITION 15;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN CNPJ POSITION 16;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN IE POSITION 17;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN EMAIL POSITION 18;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN SITE POSITION 19;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN SERVIDOR_SMTP POSITION 20;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN LOGIN POSITION 21;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN SENHA POSITION 22;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN PORTA POSITION 23;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN SSL POSITION 24;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN MENSAGEM1 POSITION 25;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN MENSAGEM2 POSITION 26;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN MENSAGEM3 POSITION 27;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN MENSAGEM4 POSITION 28;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN PASTA_BACKUP POSITION 29;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN PASTA_DOCUMENTOS POSITION 30;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN PASTA_CAPA POSITION 31;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN FECHAR_NOTA POSITION 32;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN FECHAR_CE POSITION 33;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN DICAS POSITION 34;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN EXPURGO POSITION 35;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_MARGEM_ESQUERDA POSITION 36;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_MARGEM_DIREITA POSITION 37;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_MARGEM_SUPERIOR POSITION 38;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_MARGEM_INFERIOR POSITION 39;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_LARGURA POSITION 40;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_ALTURA POSITION 41;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_ESPACO POSITION 42;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN ETIQUETA_FONTE POSITION 43;",
    "",
    "ALTER TABLE CONFIGURAR ALTER COLUMN VERSAO_BANCO_DADOS POSITION 44;",
    "",
    "",
    "UPDATE CONFIGURAR",
    "SET VERSAO_BANCO_DADOS = 5",
    "WHERE ID = 1;",
};

template <size_t N>
QStringList Linhas(const char *const (&Texto)[N])
{
    QStringList lines;
    lines.reserve(qsizetype(N));
    for (const char *line : Texto)
        lines << QString::fromUtf8(line);
    return lines;
}

} // namespace

QStringList TextoScriptVersao(int Versao)
{
    switch (Versao) {
    case 2:
        return Linhas(Versao2);
    case 3:
        return Linhas(Versao3);
    case 4:
        return Linhas(Versao4);
    case 5:
        return Linhas(Versao5);
    default:
        return {};
    }
}

TdmA *dmA = nullptr;

namespace {

// A stored setting that fails while the module is being made is reported
// as the component and the setting that failed.
template <typename F>
void Ler(const char *Componente, const char *Propriedade, F &&Aplicar)
{
    try {
        Aplicar();
    } catch (const Exception &E) {
        throw EReadError(QStringLiteral("Error reading %1%2%3: %4")
                             .arg(QLatin1String(Componente), QStringLiteral("."), QLatin1String(Propriedade),
                                  E.Message()));
    }
}

TIBScript *Script(TdmA *Modulo, const char *Nome, int Versao)
{
    auto *s = new TIBScript(Modulo);
    s->setObjectName(QLatin1String(Nome));
    s->SetDatabase(Modulo->dbAtualizar);
    s->SetTransaction(Modulo->tAtualizar);
    s->SetAutoDDL(false);
    s->SetTerminator(QStringLiteral(";"));
    s->SetScript(TextoScriptVersao(Versao));
    return s;
}

} // namespace

TdmA::TdmA(QObject *AOwner) : QObject(AOwner)
{
    setObjectName(QStringLiteral("dmA"));

    dbAtualizar = new TIBDatabase(this);
    dbAtualizar->setObjectName(QStringLiteral("dbAtualizar"));
    dbAtualizar->SetDatabaseName(QStringLiteral("127.0.0.1:zorvi"));
    dbAtualizar->SetParams({QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=vintemoro"),
                            QStringLiteral("lc_ctype=WIN1252")});
    dbAtualizar->SetLoginPrompt(false);
    Ler("dbAtualizar", "ServerType", [this] { dbAtualizar->SetServerType(QStringLiteral("IBServer")); });

    tAtualizar = new TIBTransaction(this);
    tAtualizar->setObjectName(QStringLiteral("tAtualizar"));
    tAtualizar->SetDefaultDatabase(dbAtualizar);
    tAtualizar->SetParams(
        {QStringLiteral("read_committed"), QStringLiteral("rec_version"), QStringLiteral("nowait")});

    qAtualizar = new TIBQuery(this);
    qAtualizar->setObjectName(QStringLiteral("qAtualizar"));
    qAtualizar->SetDatabase(dbAtualizar);
    qAtualizar->SetTransaction(tAtualizar);
    qAtualizar->SetBufferChunks(1000);
    qAtualizar->SetCachedUpdates(false);
    qAtualizar->SetParamCheck(true);

    sVersao2 = Script(this, "sVersao2", 2);
    sVersao3 = Script(this, "sVersao3", 3);
    sVersao4 = Script(this, "sVersao4", 4);
    sVersao5 = Script(this, "sVersao5", 5);
}

TdmA::~TdmA()
{
    // The connection goes first: closing it closes the query and ends the
    // transaction by its default action, commit.
    delete dbAtualizar;
    dbAtualizar = nullptr;
}
