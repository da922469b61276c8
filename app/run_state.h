#pragma once
// Everything one run keeps for its whole length. Nothing survives from one
// run to the next.
#include <memory>

#include "app/step_runner.h"
#include "config/modul.h"
#include "config/reg_edit.h"
#include "hostdata/client_list.h"
#include "hostdata/shared_file.h"
#include "hostdata/tbdef_model.h"
#include "platform/database.h"

namespace kw {

struct RunState {
  KwandorModul modul;
  RegEditState reg;
  ClientList clients;
  TbDefState defs;
  FileTable files;
  // The run's database and record-set handles: at most one of each. Opening
  // the next database releases (and so closes) the one held before.
  std::unique_ptr<Database> db;
  std::unique_ptr<Recordset> rs;
};

}  // namespace kw
