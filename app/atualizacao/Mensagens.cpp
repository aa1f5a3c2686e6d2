#include "Mensagens.h"

#include "IB.h"

namespace {

enum class TCaso { Nenhum, Login, SemServidor, ConexaoCaiu, BancoNaoAbre, ArquivoNaoCria, Desligado, EmUso, Backup, Permissao };

// The case of one error code; isc_io_error is decided by the code after it,
// which says which operation failed.
TCaso CasoDoCodigo(int32_t Codigo)
{
    switch (Codigo) {
    case isc_login:
        return TCaso::Login;
    case isc_network_error:
    case isc_net_connect_err:
    case isc_net_lookup_err:
    case isc_connect_reject:
    case isc_unavailable:
        return TCaso::SemServidor;
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_conn_lost:
    case isc_lost_db_connection:
        return TCaso::ConexaoCaiu;
    case isc_io_open_err:
        return TCaso::BancoNaoAbre;
    case isc_io_create_err:
        return TCaso::ArquivoNaoCria;
    case isc_shutdown:
    case isc_shutinprog:
        return TCaso::Desligado;
    case isc_gbak_db_in_use:
    case isc_obj_in_use:
    case isc_lock_conflict:
    case isc_lock_timeout:
        return TCaso::EmUso;
    case isc_gbak_open_bkup_error:
        return TCaso::Backup;
    case isc_no_priv:
    case isc_adm_task_denied:
    case isc_gbak_not_ownr:
        return TCaso::Permissao;
    default:
        return TCaso::Nenhum;
    }
}

TCaso CasoDoErro(const QList<int32_t> &Codigos)
{
    // The first code that names a case decides: Firebird puts the general
    // failure first and its details after it.
    for (qsizetype i = 0; i < Codigos.size(); ++i) {
        if (Codigos[i] == isc_io_error) {
            // Only an open or a create: a failed read or write of a file
            // that was there is something else.
            const TCaso seguinte = i + 1 < Codigos.size() ? CasoDoCodigo(Codigos[i + 1]) : TCaso::Nenhum;
            if (seguinte == TCaso::BancoNaoAbre || seguinte == TCaso::ArquivoNaoCria)
                return seguinte;
            return TCaso::Nenhum;
        }
        const TCaso caso = CasoDoCodigo(Codigos[i]);
        if (caso != TCaso::Nenhum && caso != TCaso::BancoNaoAbre && caso != TCaso::ArquivoNaoCria)
            return caso;
    }
    return TCaso::Nenhum;
}

} // namespace

QString Explicacao(const std::exception &E)
{
    const auto *e = dynamic_cast<const EIBError *>(&E);
    if (!e)
        return QString();
    switch (CasoDoErro(e->ErrorCodes())) {
    case TCaso::Login:
        return QStringLiteral("Usuário ou senha incorretos: confira os dois e tente de novo.");
    case TCaso::SemServidor:
        return QStringLiteral("Não foi possível conectar ao servidor: confira o nome ou endereço do servidor "
                              "(e a porta, se houver) e se o Firebird está em execução nele.");
    case TCaso::ConexaoCaiu:
        return QStringLiteral("A conexão com o servidor caiu: confira se o Firebird continua em execução no "
                              "servidor e se a rede está funcionando.");
    case TCaso::BancoNaoAbre:
        return QStringLiteral("O servidor não encontrou ou não conseguiu abrir o arquivo do banco de dados: "
                              "confira o nome ou o apelido do banco de dados.");
    case TCaso::ArquivoNaoCria:
        return QStringLiteral("O servidor não conseguiu criar o arquivo do banco de dados: confira se a pasta "
                              "existe no servidor e se o Firebird tem permissão para gravar nela.");
    case TCaso::Desligado:
        return QStringLiteral("O banco de dados está desligado para manutenção (shutdown): coloque-o de novo "
                              "em uso normal (online) e tente outra vez.");
    case TCaso::EmUso:
        return QStringLiteral("O banco de dados está em uso por outra conexão: todos os usuários devem sair do "
                              "Zorvi.");
    case TCaso::Backup:
        return QStringLiteral("O servidor não conseguiu abrir o arquivo de backup: confira se a pasta de backup "
                              "existe no servidor e se o Firebird tem permissão para ler e gravar nela.");
    case TCaso::Permissao:
        return QStringLiteral("O usuário não tem permissão para esta operação: entre com o usuário SYSDBA ou "
                              "com o dono do banco de dados.");
    case TCaso::Nenhum:
        break;
    }
    return QString();
}

QString TextoAmigavel(const std::exception &E)
{
    const QString explicacao = Explicacao(E);
    const QString mensagem = MensagemDoErro(E);
    if (explicacao.isEmpty())
        return mensagem;
    return explicacao + QStringLiteral("\r\n") + mensagem;
}

QString TextoDoErro(const QString &Mensagem)
{
    if (!Mensagem.isEmpty() && Mensagem.back().unicode() > u'.')
        return Mensagem + QLatin1Char('.');
    return Mensagem;
}
