#include "IBParamBlock.h"

#include "IB.h"
#include "SysUtils.h"

#include <array>

namespace {

// Database parameter names; a name's position is its tag byte.
const std::array<const char *, 86> DPBConstantNames = {
    "",
    "cdd_pathname", "allocation", "journal", "page_size", "num_buffers", "buffer_length", "debug",
    "garbage_collect", "verify", "sweep", "enable_journal", "disable_journal", "dbkey_scope",
    "number_of_users", "trace", "no_garbage_collect", "damaged", "", "sys_user_name", "encrypt_key",
    "activate_shadow", "sweep_interval", "delete_shadow", "force_write", "begin_log", "quit_log",
    "no_reserve", "user_name", "password", "password_enc", "sys_user_name_enc", "interp", "online_dump",
    "old_file_size", "old_num_files", "old_file_name", "old_start_page", "old_start_seqno",
    "old_start_file", "drop_walfile", "old_dump_id", "wal_backup_dir", "wal_chkptlen", "wal_numbufs",
    "wal_bufsize", "wal_grp_cmt_wait", "lc_messages", "lc_ctype", "cache_manager", "shutdown", "online",
    "shutdown_delay", "reserved", "overwrite", "sec_attach", "disable_wal", "connect_timeout",
    "dummy_packet_interval", "gbak_attach", "sql_role_name", "set_page_buffers", "working_directory",
    "sql_dialect", "set_db_readonly", "set_db_sql_dialect", "gfix_attach", "gstat_attach",
    "gbak_ods_version", "gbak_ods_minor_version", "set_group_commit", "gbak_validate",
    "client_interbase_var", "admin_option", "flush_interval", "instance_name", "old_overwrite",
    "archive_database", "archive_journals", "archive_sweep", "archive_dumps", "archive_recover",
    "recover_until", "force", "preallocate", "sys_encrypt_password",
};

// Transaction parameter names; a name's position is its tag byte.
const std::array<const char *, 22> TPBConstantNames = {
    "",         "consistency",  "concurrency", "shared",         "protected",   "exclusive",
    "wait",     "nowait",       "read",        "write",          "lock_read",   "lock_write",
    "verb_time", "commit_time", "ignore_limbo", "read_committed", "autocommit",  "rec_version",
    "no_rec_version", "restart_requests", "no_auto_undo", "no_savepoint",
};

enum class TSPBKind { Str, Int, Refused };

struct TSPBName {
    const char *Name;
    uint8_t Tag;
    TSPBKind Kind;
};

// Service parameter names, by the index a service's parameter lookup uses
// (from 1).
const std::array<TSPBName, 15> SPBNames = {{
    {"user_name", isc_spb_user_name, TSPBKind::Str},
    {"sys_user_name", isc_spb_sys_user_name, TSPBKind::Refused},
    {"sys_user_name_enc", isc_spb_sys_user_name_enc, TSPBKind::Refused},
    {"password", isc_spb_password, TSPBKind::Str},
    {"password_enc", isc_spb_password_enc, TSPBKind::Str},
    {"command_line", isc_spb_command_line, TSPBKind::Refused},
    {"db_name", isc_spb_dbname, TSPBKind::Refused},
    {"verbose", isc_spb_verbose, TSPBKind::Refused},
    {"options", isc_spb_options, TSPBKind::Refused},
    {"connect_timeout", isc_spb_connect_timeout, TSPBKind::Int},
    {"dummy_packet_interval", isc_spb_dummy_packet_interval, TSPBKind::Int},
    {"sql_role_name", isc_spb_sql_role_name, TSPBKind::Str},
    {"instance_name", IB_spb_instance_name, TSPBKind::Str},
    {"user_dbname", IB_spb_user_dbname, TSPBKind::Refused},
    {"auth_dbname", IB_spb_user_dbname, TSPBKind::Refused},
}};

// Longest block the attach calls take (their length is a signed short).
constexpr qsizetype MaxAttachBlock = 32767;
// Longest counted string: its length travels in one byte.
constexpr qsizetype MaxCountedString = 255;

template <size_t N>
int TagOf(const std::array<const char *, N> &Names, const QByteArray &Key)
{
    for (size_t i = 1; i < N; ++i)
        if (Names[i][0] != '\0' && Key == Names[i])
            return int(i);
    return 0;
}

// Appends a counted string; its length must fit the one length byte.
void AppendCounted(QByteArray &Block, char Tag, const QByteArray &Value)
{
    if (Value.size() > MaxCountedString)
        RaiseClientError(ibxeStringTooLarge, {Value.size(), MaxCountedString});
    Block += Tag;
    Block += char(Value.size());
    Block += Value;
}

void AppendByteItem(QByteArray &Block, int Tag, int Value)
{
    Block += char(Tag);
    Block += char(1);
    Block += char(Value & 0xFF);
}

// Splits a "name=value" line of an attach block; false for a line without a
// name, which the block skips.
bool SplitParamLine(const QString &Line, QString &Name, QString &Value)
{
    const qsizetype eq = Line.indexOf(QLatin1Char('='));
    Name = eq < 0 ? QString() : Line.left(eq);
    if (TrimBlanks(Name).isEmpty())
        return false;
    Value = Line.mid(eq + 1);
    return true;
}

void CheckAttachBlockSize(const QByteArray &Block)
{
    if (Block.size() > MaxAttachBlock)
        RaiseClientError(ibxeStringTooLarge, {Block.size(), MaxAttachBlock});
}

} // namespace

void AppendInt32(QByteArray &Block, int32_t Value)
{
    const uint32_t v = uint32_t(Value);
    for (int i = 0; i < 4; ++i)
        Block += char((v >> (8 * i)) & 0xFF);
}

QString DPBConstantName(int Tag)
{
    if (Tag < 1 || Tag >= int(DPBConstantNames.size()))
        return QString();
    return QString::fromLatin1(DPBConstantNames[size_t(Tag)]);
}

QByteArray BuildDatabaseParamBlock(const TStringList &Lines, QString &CharacterSet)
{
    QByteArray dpb;
    dpb += char(isc_dpb_version1);
    for (int i = 0; i < Lines.Count(); ++i) {
        QString name;
        QString text;
        if (!SplitParamLine(Lines[i], name, text))
            continue;
        QByteArray key = LowerAscii(name).toLocal8Bit();
        QByteArray value = text.toLocal8Bit();
        if (key.startsWith("isc_dpb_"))
            key.remove(0, 8);
        const int tag = TagOf(DPBConstantNames, key);
        switch (tag) {
        case isc_dpb_sys_user_name: case isc_dpb_encrypt_key: case isc_dpb_user_name: case isc_dpb_password:
        case isc_dpb_password_enc: case isc_dpb_old_file: case isc_dpb_lc_messages: case isc_dpb_lc_ctype:
        case isc_dpb_sql_role_name: case isc_dpb_sql_dialect: case IB_dpb_instance_name:
        case IB_dpb_sys_encrypt_password:
            if (tag == isc_dpb_sql_dialect) {
                // "3" travels as the byte 3.
                if (value.isEmpty())
                    RaiseClientError(ibxeSQLDialectInvalid);
                value[0] = char(value[0] - '0');
            }
            if (tag == isc_dpb_lc_ctype)
                CharacterSet = QString::fromLocal8Bit(value);
            AppendCounted(dpb, char(tag), value);
            break;
        case isc_dpb_num_buffers: case isc_dpb_verify: case isc_dpb_dbkey_scope: case isc_dpb_damaged:
        case isc_dpb_force_write: case isc_dpb_no_reserve: case isc_dpb_online_dump: case isc_dpb_old_file_size:
        case isc_dpb_overwrite: case IB_dpb_old_overwrite:
            AppendByteItem(dpb, tag, StrToInt(QString::fromLocal8Bit(value)));
            break;
        case isc_dpb_sweep:
            AppendByteItem(dpb, tag, isc_dpb_records);
            break;
        case isc_dpb_activate_shadow: case isc_dpb_delete_shadow: case isc_dpb_begin_log: case isc_dpb_quit_log:
            AppendByteItem(dpb, tag, 0);
            break;
        case isc_dpb_sweep_interval:
            dpb += char(tag);
            dpb += char(sizeof(int32_t));
            AppendInt32(dpb, StrToInt(QString::fromLocal8Bit(value)));
            break;
        case 0:
            RaiseClientError(ibxeDPBConstantUnknownEx, {name});
        default:
            RaiseClientError(ibxeDPBConstantNotSupported, {DPBConstantName(tag)});
        }
    }
    CheckAttachBlockSize(dpb);
    return dpb;
}

QByteArray BuildTransactionParamBlock(const TStringList &Lines)
{
    QByteArray tpb;
    if (Lines.Count() == 0)
        return tpb;
    tpb += char(isc_tpb_version3);
    for (int i = 0; i < Lines.Count(); ++i) {
        const QString &line = Lines[i];
        if (TrimBlanks(line).isEmpty())
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? line : line.left(eq);
        QByteArray key = LowerAscii(name).toLocal8Bit();
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1).toLocal8Bit();
        if (key.startsWith("isc_tpb_"))
            key.remove(0, 8);
        const int tag = TagOf(TPBConstantNames, key);
        switch (tag) {
        case 0:
            RaiseClientError(ibxeTPBConstantUnknownEx, {name});
        case isc_tpb_lock_read:
        case isc_tpb_lock_write:
            AppendCounted(tpb, char(tag), value);
            break;
        case isc_tpb_verb_time:
        case isc_tpb_commit_time:
        case isc_tpb_autocommit:
            RaiseClientError(ibxeTPBConstantNotSupported, {QString::fromLatin1(TPBConstantNames[size_t(tag)])});
        default:
            tpb += char(tag);
            break;
        }
    }
    return tpb;
}

QString SPBConstantName(int Index)
{
    if (Index < 1 || Index > int(SPBNames.size()))
        return QString();
    return QLatin1String(SPBNames[size_t(Index - 1)].Name);
}

QByteArray BuildServiceParamBlock(const TStringList &Lines)
{
    QByteArray spb;
    spb += char(isc_spb_version);
    spb += char(isc_spb_current_version);
    for (int i = 0; i < Lines.Count(); ++i) {
        QString name;
        QString value;
        if (!SplitParamLine(Lines[i], name, value))
            continue;
        QString key = name.toLower();
        if (key.startsWith(QLatin1String("isc_spb_")))
            key.remove(0, 8);
        const TSPBName *entry = nullptr;
        for (const TSPBName &n : SPBNames)
            if (key == QLatin1String(n.Name)) {
                entry = &n;
                break;
            }
        if (!entry)
            RaiseClientError(ibxeSPBConstantUnknown);
        switch (entry->Kind) {
        case TSPBKind::Refused:
            RaiseClientError(ibxeSPBConstantNotSupported);
        case TSPBKind::Str:
            AppendCounted(spb, char(entry->Tag), value.toLocal8Bit());
            break;
        case TSPBKind::Int:
            spb += char(entry->Tag);
            spb += char(sizeof(int32_t));
            AppendInt32(spb, StrToInt(value));
            break;
        }
    }
    CheckAttachBlockSize(spb);
    return spb;
}
