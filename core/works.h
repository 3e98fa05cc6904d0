// works: the one shared state record. Each subsystem declares its own part in its own
// header; a field read by one thread and written by another is atomic or a guarded copy.
#pragma once

#include "amp/amp_state.h"
#include "atu/atu_state.h"
#include "bands/bands_state.h"
#include "core/core_state.h"
#include "core/settings_state.h"
#include "errors/errors_state.h"
#include "gfx/gfx_state.h"
#include "remote/remote_state.h"
#include "scope/scope_state.h"
#include "system/system_state.h"
#include "trx/trx_state.h"
#include "ui/ui_state.h"

namespace corvid {

struct Works {
  CoreState core;
  Settings set;
  AmpState amp;
  AtuState atu;
  BandsState bands;
  ErrorsState errors;
  GfxState gfx;
  UiState ui;
  SpectrumState spectrum;
  TrxState trx;
  RemoteState remote;
  SystemState system;
};

// Run-time defaults of works, numeric settings included.
void InitGlobalVar(Works& works);

}  // namespace corvid
