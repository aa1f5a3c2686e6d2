#include "IB.h"

#include <array>

namespace {

// The client error catalog. Every code keeps its position.
const std::array<const char *, 124> Catalog = {
    /*   0 */ "Erro desconhecido",
    /*   1 */ "InterBase library %s not found in the path. Please install InterBase to use this functionality",
    /*   2 */ "A instalação do InterBase não foi encontrada",
    /*   3 */ "%s é uma função do InterBase 6. Favor atualizar InterBase 6 para usar esta funcionalidade",
    /*   4 */ "Característica não suportada",
    /*   5 */ "Não permitido",
    /*   6 */ "Erro de acesso ao arquivo",
    /*   7 */ "Tempo de conexão esgotado",
    /*   8 */ "Não é possível definir o banco de dados",
    /*   9 */ "Não é possível definir a transação",
    /*  10 */ "Operação cancelada em requisição do usuário",
    /*  11 */ "Constante DPB (isc_dpb_%s) não é suportada",
    /*  12 */ "Constante DPB (isc_dpb_%d) é desconhecida",
    /*  13 */ "Constante TPB (isc_tpb_%s) não é suportada",
    /*  14 */ "Constante TPB (isc_tpb_%d) é desconhecida",
    /*  15 */ "Não é possível executar operação -- DB não está aberto",
    /*  16 */ "Não é possível executar operação -- DB está atualmente aberto",
    /*  17 */ "Faltando nome do Banco de Dados",
    /*  18 */ "Transação não está ativa",
    /*  19 */ "Transação está ativa",
    /*  20 */ "Valor de Timeout não pode ser negativo",
    /*  21 */ "Nenhum banco de dados está listado no componente da transação",
    /*  22 */ "Atualizando banco de dados errado",
    /*  23 */ "Atualizando transação errada. Transação única esperada no ajuste",
    /*  24 */ "Banco de dados não atribuído",
    /*  25 */ "Transação não atribuída",
    /*  26 */ "Índice XSQLDA fora da faixa",
    /*  27 */ "Nome XSQLDA não existe (%s)",
    /*  28 */ "Não é possível executar operação -- fim do arquivo",
    /*  29 */ "Não é possível executar operação -- início do arquivo",
    /*  30 */ "Indicação de handle inválida",
    /*  31 */ "IBSQL Aberto",
    /*  32 */ "IBSQL Fechado",
    /*  33 */ "Dataset aberto",
    /*  34 */ "Dataset fechado",
    /*  35 */ "Tipo de Dados SQL desconhecido (%d)",
    /*  36 */ "Índice de coluna inválido (%d)",
    /*  37 */ "Índice de coluna de parâmetro inválido (%d)",
    /*  38 */ "Conversão de dados inválida",
    /*  39 */ "A coluna não aceita nulos (%d)",
    /*  40 */ "Blob stream não pôde ser lido",
    /*  41 */ "Blob stream não pôde ser escrito",
    /*  42 */ "Query vazia",
    /*  43 */ "Não é possível abrir uma query que não seja um select",
    /*  44 */ "Sem acesso ao campo \"%s\"",
    /*  45 */ "Campo \"%s\" somente leitura",
    /*  46 */ "Campo \"%s\" não encontrado",
    /*  47 */ "Não em modo de edição",
    /*  48 */ "Não é possível inserir dentro do dataset. (Nenhuma Query de insert)",
    /*  49 */ "Não é possível gravar",
    /*  50 */ "Não é possível atualizar. (Nenhuma Query de update)",
    /*  51 */ "Não é possível apagar do dataset. (Nenhuma Query de delete)",
    /*  52 */ "Não é possível atualizar linha. (Nenhuma Query de refresh)",
    /*  53 */ "Buffer não ajustado",
    /*  54 */ "Referências circulares não permitidas",
    /*  55 */ "Erro na análise do SQL:\r\n\r\n%s",
    /*  56 */ "Usuário cancelou",
    /*  57 */ "Dataset é unidirecional",
    /*  58 */ "Não é possível criar o recurso compartilhado",
    /*  59 */ "Erro do sistema operacional",
    /*  60 */ "As listas de colunas não combinam",
    /*  61 */ "Os tipos das colunas não combinam",
    /*  62 */ "Não pode terminar uma transação compartilhada a menos que for forçada e igual para a "
              "TimeoutAction da transação",
    /*  63 */ "Tipo de campo não suportado (%d)",
    /*  64 */ "Ligação de dados circular",
    /*  65 */ "Indicação do SQL vazia",
    /*  66 */ "use Open para uma Select Statement",
    /*  67 */ "Valor do Parâmetro Requerido não ajustado",
    /*  68 */ "Nenhum nome de procedimento armazenado atribuído",
    /*  69 */ "use Execute para um procedimento armazenado",
    /*  70 */ "A atualização falhou",
    /*  71 */ "CachedUpdates não habilitados",
    /*  72 */ "Não é uma requisição viva",
    /*  73 */ "Nenhum provedor",
    /*  74 */ "Nenhum Registro Afetado",
    /*  75 */ "Nenhum Nome de Tabela atribuído",
    /*  76 */ "Não é possível criar o índice primário",
    /*  77 */ "Não é possível apagar um índice do sistema",
    /*  78 */ "O nome da tabela não combina",
    /*  79 */ "Campo do índice faltando",
    /*  80 */ "Cancelamento de eventos inválido",
    /*  81 */ "Evento inválido",
    /*  82 */ "Número máximo de eventos excedido",
    /*  83 */ "Nenhum evento registrado",
    /*  84 */ "Enfileiramento de eventos inválido",
    /*  85 */ "Registro de eventos inválido",
    /*  86 */ "Movimentação em lote inválida",
    /*  87 */ "SQL Dialect Inválido",
    /*  88 */ "Constante SPB não suportada",
    /*  89 */ "Constante SPB Desconhecida",
    /*  90 */ "Não é possível executar operação -- serviço não está anexado",
    /*  91 */ "Não é possível executar operação -- serviço está anexado",
    /*  92 */ "Faltando Nome do Servidor",
    /*  93 */ "Parâmetros da Query faltando ou incorreto",
    /*  94 */ "Início de Parâmetros faltando ou incorreto",
    /*  95 */ "Valor de Output buffer não esperado",
    /*  96 */ "Use os procedimentos específicos para esta tarefa",
    /*  97 */ "Já existe um monitor de SQL",
    /*  98 */ "Não é possível imprimir o valor",
    /*  99 */ "Fim do arquivo alcançado",
    /* 100 */ "Fim do comentário detectado",
    /* 101 */ "Fim da string detectada",
    /* 102 */ "Nome do parâmetro esperado",
    /* 103 */ "Sucesso",
    /* 104 */ "Exceção da aplicação",
    /* 105 */ "Nenhuma opção escolhida",
    /* 106 */ "Nenhuma pasta de destino",
    /* 107 */ "Nenhuma pasta de origem",
    /* 108 */ "Nenhum arquivo de desinstalação",
    /* 109 */ "A opção precisa do cliente",
    /* 110 */ "A opção precisa do servidor",
    /* 111 */ "Opção inválida",
    /* 112 */ "Resultado inválido do tratamento de erro",
    /* 113 */ "Resultado inválido do tratamento de situação",
    /* 114 */ "Constante DPB (%s) é desconhecida",
    /* 115 */ "Constante TPB (%s) é desconhecida",
    /* 116 */ "Erro Desconhecido - Não é possível recuperar o mapeamento",
    /* 117 */ "Tamanho Não Combina - Tamanho do Campo %s é muito pequeno para o dado",
    /* 118 */ "Evento já registrado",
    /* 119 */ "Tentando armazenar uma string de comprimento %d dentro de uma campo que pode somente conter %d",
    /* 120 */ "Biblioteca do cliente não encontrada",
    /* 121 */ "Função do cliente não encontrada",
    /* 122 */ "Versão do cliente não suportada",
    /* 123 */ "Invalid library type assigned.  Valid strings are %s",
};

thread_local ISC_STATUS_ARRAY StatusVector;

} // namespace

QString IBClientErrorMessage(int32_t Code)
{
    if (Code < 0 || Code >= int32_t(Catalog.size()))
        return QString();
    return QString::fromUtf8(Catalog[size_t(Code)]);
}

QString FormatMessage(const QString &Format, std::initializer_list<QVariant> Args)
{
    QString out;
    out.reserve(Format.size());
    auto arg = Args.begin();
    for (qsizetype i = 0; i < Format.size(); ++i) {
        const QChar c = Format[i];
        if (c == u'%' && i + 1 < Format.size()) {
            const QChar f = Format[i + 1];
            if (f == u'%') {
                out += u'%';
                ++i;
                continue;
            }
            if (f == u's' || f == u'd') {
                if (arg != Args.end()) {
                    out += f == u'd' ? QString::number(arg->toLongLong()) : arg->toString();
                    ++arg;
                }
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

ISC_STATUS *ThreadStatusVector()
{
    return StatusVector;
}

void RaiseClientError(int32_t Code, std::initializer_list<QVariant> Args)
{
    throw EIBClientError(Code, FormatMessage(IBClientErrorMessage(Code), Args));
}

bool StatusVectorContains(const ISC_STATUS *Vector, std::initializer_list<ISC_STATUS> Codes)
{
    // Every cluster lies inside the 20 words of the vector; a vector without
    // its end tag stops at its last word.
    const int n = ISC_STATUS_LENGTH;
    int i = 0;
    while (i < n && Vector[i] != isc_arg_end) {
        const ISC_STATUS tag = Vector[i];
        if (tag == isc_arg_gds || tag == isc_arg_number) {
            ++i;
            if (i >= n)
                break;
            for (ISC_STATUS code : Codes)
                if (Vector[i] == code)
                    return true;
            ++i;
        } else if (tag == isc_arg_cstring) {
            i += 3;
        } else {
            i += 2;
        }
    }
    return false;
}

QList<int32_t> StatusErrorCodes(const ISC_STATUS *Vector)
{
    // Walked as StatusVectorContains walks it; arguments are not codes.
    QList<int32_t> codes;
    const int n = ISC_STATUS_LENGTH;
    int i = 0;
    while (i < n && Vector[i] != isc_arg_end) {
        const ISC_STATUS tag = Vector[i];
        if (tag == isc_arg_gds && i + 1 < n)
            codes << int32_t(Vector[i + 1]);
        i += tag == isc_arg_cstring ? 3 : 2;
    }
    return codes;
}

bool StatusVectorContains(std::initializer_list<ISC_STATUS> Codes)
{
    return StatusVectorContains(ThreadStatusVector(), Codes);
}

int32_t StrToInt(const QString &Text)
{
    // Leading blanks, a sign, then decimal digits, or "$"/"0x" and hex digits.
    QStringView s = QStringView(Text);
    while (!s.isEmpty() && s.front() == u' ')
        s = s.mid(1);
    bool negative = false;
    if (!s.isEmpty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s = s.mid(1);
    }
    int base = 10;
    if (s.startsWith(u'$')) {
        base = 16;
        s = s.mid(1);
    } else if (s.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        s = s.mid(2);
    }
    // ASCII digits only: the text may hold any character, and the C
    // library's classes are not defined beyond an unsigned char.
    const auto digit = [base](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9') ||
               (base == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')));
    };
    bool ok = !s.isEmpty();
    for (QChar c : s)
        if (!digit(c))
            ok = false;
    qint64 value = 0;
    if (ok) {
        value = s.toLongLong(&ok, base);
        if (negative)
            value = -value;
        ok = ok && value >= INT32_MIN && value <= INT32_MAX;
    }
    if (!ok)
        throw EConvertError(QStringLiteral("''%1'' is not a valid integer value").arg(Text));
    return int32_t(value);
}
