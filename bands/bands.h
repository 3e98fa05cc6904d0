// Band tables and memory banks, and the receive filters.
#pragma once

#include <cstdint>
#include <string>

#include "bands/bands_state.h"

namespace corvid {

struct Works;

// The interface names, by FreqInterface.
inline constexpr const char* MODEwork[kFreqInterfaces] = {"Generic", "QTRPEX", " FT-817"};

// Reads the band table of a bank; returns the interface its "!" line names (ExtIo when
// the file is missing or names none).
FreqInterface LoadTabConfig(Works& works, int bank);
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
// The files of a bank: its band table and the tune memory of each antenna (0-based);
// bank 0 is the one without the "_b" suffix.
std::string bandTablePath(int bank);
std::string tuneMemoryPath(int bank, int antenna);
// The first four characters of the name of the band whose range holds freq, for the
// status text; false when no band holds it.
bool bandNameFor(const Works& works, uint32_t freq, char name[5]);

void LoadTabFiltri(Works& works);
void SaveTabFiltri(Works& works);
void SetFilterFromfreq(Works& works);

}  // namespace corvid
