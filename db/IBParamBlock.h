#pragma once

// Parameter blocks built from "name=value" lines: the database, transaction
// and service attach blocks, and the names their tags go by.

#include "Classes.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Tags that only InterBase servers know: Firebird's header has no name for
// them, and Firebird reads the same bytes as something else.
constexpr int IB_dpb_instance_name = 75;
constexpr int IB_dpb_old_overwrite = 76;
constexpr int IB_dpb_sys_encrypt_password = 85;
constexpr int IB_spb_instance_name = 75;
constexpr int IB_spb_user_dbname = 109;
constexpr uint8_t IB_spb_res_eua_user_name = 17;
constexpr uint8_t IB_spb_res_eua_password = 18;

// Appends a 32-bit integer, least significant byte first.
void AppendInt32(QByteArray &Block, int32_t Value);

// The database parameter name of a tag (1 to 85); empty for any other.
QString DPBConstantName(int Tag);
// The database parameter block. CharacterSet takes the lc_ctype value when
// the lines name one (as soon as it is read).
QByteArray BuildDatabaseParamBlock(const TStringList &Lines, QString &CharacterSet);

// The transaction parameter block; empty for no lines.
QByteArray BuildTransactionParamBlock(const TStringList &Lines);

// The service parameter name at Index (from 1); empty for any other.
QString SPBConstantName(int Index);
// The service attach block.
QByteArray BuildServiceParamBlock(const TStringList &Lines);
