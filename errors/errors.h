// The error registry: every fault, alarm and warning is an error number 0..27 with a
// record (box colour, title, detail, what raising it asks for), and the reset key's
// handling with the amplifier's protection recovery.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "errors/errors_state.h"

namespace corvid {

struct Works;

// Fills the records with the error table (the detail of 25 is the SerPort setting).
void initErrorTable(Works& works);
void setErrorDetail(Works& works, int number, std::string_view detail);
ErrorInfo errorInfo(const Works& works, int number);
// The listed numbers, oldest first.
std::vector<int> listedErrors(const Works& works);

void AddErrore(Works& works, int number);
void DeleteErrore(Works& works, int number);
int ExistError(const Works& works, int number);
int ExistAnError(const Works& works);  // the oldest listed number, or -1
int newestError(const Works& works);   // the newest listed number, or -1

void VerifyWarningTemporanei(Works& works);
void VerifyWarningTemporaneiDopoResetBias(Works& works);
int VerifyError(const Works& works);

// The reset key: 1 when it handled errors.
int GPIO_Errori(Works& works);
void GestErrore(Works& works);
void GestErroreRemote(Works& works);
void ResetBiasCmd(Works& works);
void VerificaEsistonoErrori(Works& works);
void GestErroreSerial(Works& works);
void ClearDisplayError(Works& works);

}  // namespace corvid
