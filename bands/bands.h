// Band tables and memory banks, and the receive filters.
#pragma once

#include <cstdint>
#include <string>

#include "bands/bands_state.h"

namespace corvid {

struct Works;

inline constexpr const char* MODEwork[3] = {"Generic", "QTRPEX", " FT-817"};

int LoadTabConfig(Works& works, int bank);
void SaveTabConfig(Works& works, int bank);
void InitTabAntenna(Works& works, int keepChoices);
void LoadAllBankTable(Works& works, int bank);
void SaveToBank(Works& works, int bank, int antenna);
void SaveToBankDebug(Works& works, int bank, int att);
void ChangeBanco(Works& works);
void ChangeInterfaceBanco(Works& works);
void SetModeWorkIDX(Works& works);
int SearchBandaIdx(const Works& works);
int bandIndexFor(const Works& works, uint32_t freq);
double LoadOffsetBanda(const Works& works);
void DeleteFileConf(Works& works, int bank, int kind);
std::string bandTablePath(int bank);

void LoadTabFiltri(Works& works);
void SaveTabFiltri(Works& works);
void SetFilterFromfreq(Works& works);

// Lets the core and the amplifier link reach the band table.
void wireBands(Works& works);

}  // namespace corvid
