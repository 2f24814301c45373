// The installer's rollback record of a registration or unregistration: the
// state of every key the module owns (registrar/owned_keys.def) before the
// action touched it, kept in the registry beneath
// HKEY_LOCAL_MACHINE\Software\Pellagor Rollback, one key per product code.
// The custom action takes it before it writes or removes anything, the
// rollback action puts it back, and the commit action (or the end of the
// rollback) deletes it.
//
// Inside a record key:
//   "Complete"      REG_DWORD 1, written last: a record without it was never
//                   finished, and restores nothing
//   Keys\           one REG_DWORD value per owned key and each of its
//                   parents, named by its full path: 1 it existed, 0 not
//   Content\<row>   for an owned subtree that existed, a copy of it (values
//                   with their types and bytes, subkeys); for the one owned
//                   value, that value alone, when it existed
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/registry_value_enumerator.h"

namespace plg {

// The key beneath HKEY_LOCAL_MACHINE that holds the records. Whoever can
// write it chooses what the installer's account writes on rollback: the
// custom action creates it with a DACL of SYSTEM and Administrators only.
inline constexpr char kRollbackRecordsKey[] = "Software\\Pellagor Rollback";

// Whether `text` is a GUID in braces ("{XXXXXXXX-XXXX-XXXX-XXXX-
// XXXXXXXXXXXX}", hex digits), as product codes are.
bool IsProductCode(const std::string& text);

// The record key of `product_code` beneath HKEY_LOCAL_MACHINE, or an empty
// text when `product_code` is not a GUID in braces ("{XXXXXXXX-XXXX-XXXX-
// XXXX-XXXXXXXXXXXX}", hex digits), which could name some other key.
std::string RollbackRecordPath(const std::string& product_code);

// Replaces any record at `record` (a path beneath HKEY_LOCAL_MACHINE) with
// the current state of the owned keys, read through `registry`, which must
// be `platform.registry`. kSuccess once the record is complete; otherwise the
// first failure's status, and the record is deleted again.
[[nodiscard]] RegStatus TakeRollbackRecord(Platform& platform, RegistryValueEnumerator& registry,
                                           const std::string& record);

// Puts a complete record back: each owned subtree that existed as it was,
// each one that did not deleted, the owned value as it was, and the keys
// created since that did not exist and are empty now deleted. Does nothing
// for an incomplete or missing record. kSuccess, or the first failure's
// status (every other key is still put back).
[[nodiscard]] RegStatus RestoreRollbackRecord(Platform& platform, RegistryValueEnumerator& registry,
                                              const std::string& record);

// Deletes the record and, once it holds none, kRollbackRecordsKey.
void DeleteRollbackRecord(Platform& platform, const std::string& record);

}  // namespace plg
